// CSV text as RFC 4180 defines it, read a piece at a time into a CDataset.
// A state machine over the code units carries a record across pieces; runs
// of ordinary characters are taken in one step.
#include <algorithm>
#include <string>
#include <utility>

#include "core/text_interner.h"
#include "quorvel/csvloader.h"
#include "quorvel/error.h"

namespace quorvel {

namespace {

bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

std::u16string Number(int64_t n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

bool AllSpaces(std::u16string_view s) {
  return s.find_first_not_of(u' ') == std::u16string_view::npos;
}

}  // namespace

CsvLoader::CsvLoader(CDataset& target, const CsvOptions& options)
    : CsvLoader(target, options, CsvDialect()) {}

CsvLoader::CsvLoader(CDataset& target, const CsvOptions& options,
                     const CsvDialect& dialect)
    : target_(target),
      separator_(options.separator),
      dialect_(dialect),
      header_pending_(options.has_header),
      interner_(std::make_unique<internal::TextInterner>()) {
  if (separator_ == u'"' || separator_ == u'\r' || separator_ == u'\n') {
    ErrorRaise(kErrInvalidCall, u"CSV",
               u"The separator cannot be a double quote, CR or LF");
  }
  const char16_t comment = dialect_.comment;
  if (comment == u'"' || comment == u'\r' || comment == u'\n' ||
      comment == separator_) {
    ErrorRaise(kErrInvalidCall, u"CSV",
               u"The comment character cannot be a double quote, CR, LF or "
               u"the separator");
  }
  // Without a header the columns come from the records; uneven ones wait
  // for the widest.
  dialect_.uneven = dialect_.uneven && !options.has_header;
  target_.Clear();
}

CsvLoader::~CsvLoader() = default;

void CsvLoader::Fault(int64_t line, int64_t column, std::u16string_view what) {
  line_ = line;
  column_ = column;
  fault_ = what;
  ErrorRaise(kErrSubscript, u"CSV",
             u"Line " + Number(line) + u", column " + Number(column) + u": " +
                 std::u16string(what));
}

void CsvLoader::NewLine(bool cr) {
  // The LF of a CR LF pair ends no second line.
  if (cr || !after_cr_) {
    ++line_;
    column_ = 1;
  }
  after_cr_ = cr;
}

void CsvLoader::EndField() {
  fields_.emplace_back(interner_->Intern(field_));
  field_.clear();
}

void CsvLoader::MakeColumns(size_t count) {
  for (size_t k = 1; k <= count; ++k)
    target_.AddColumn(String(u"Col" + Number(static_cast<int64_t>(k))));
}

void CsvLoader::EndRecord() {
  record_started_ = false;
  if (fields_.empty()) return;  // an empty line
  if (header_pending_) {
    header_pending_ = false;
    for (size_t k = 0; k < fields_.size(); ++k) {
      std::u16string name(fields_[k].string_view());
      if (AllSpaces(name)) name = u"Col" + Number(static_cast<int64_t>(k + 1));
      std::u16string unique = name;
      for (int64_t n = 2; target_.ResolveColumn(Value(unique)) != 0; ++n)
        unique = name + u"_" + Number(n);
      target_.AddColumn(String(unique));
    }
  } else if (dialect_.uneven) {
    widest_ = std::max(widest_, fields_.size());
    held_.push_back(std::move(fields_));
  } else {
    if (target_.ColumnCount() == 0) MakeColumns(fields_.size());
    const size_t columns = static_cast<size_t>(target_.ColumnCount());
    if (fields_.size() > columns) {
      const auto [line, column] = field_places_[columns];
      Fault(line, column,
            u"the record has " + Number(static_cast<int64_t>(fields_.size())) +
                u" fields, more than the " +
                Number(static_cast<int64_t>(columns)) + u" columns");
    }
    target_.AppendFields(fields_);  // moves them in, padded with Null
  }
  fields_.clear();
  field_places_.clear();
}

void CsvLoader::Feed(std::u16string_view text) {
  const char16_t* p = text.data();
  const char16_t* const end = p + text.size();
  if (at_start_ && p < end) {
    at_start_ = false;
    if (*p == 0xFEFF) ++p;
  }
  // Takes the run of characters from `p` up to the first one `stop` picks
  // (or the end of the piece) into the field.
  const auto take_run = [&](auto stop) {
    const char16_t* run = p;
    int64_t low_surrogates = 0;
    for (; p < end && !stop(*p); ++p) low_surrogates += IsLowSurrogate(*p);
    if (p == run) return;
    field_.append(run, p - run);
    column_ += (p - run) - low_surrogates;
    after_cr_ = false;
  };
  const char16_t sep = separator_;
  // Without quotes a double quote stops no run: the separator stands in.
  const char16_t quote = dialect_.quotes ? u'"' : sep;
  while (p < end) {
    const char16_t c = *p;
    switch (state_) {
      case State::kComment:
        take_run([](char16_t d) { return d == u'\r' || d == u'\n'; });
        field_.clear();
        if (p == end) continue;
        state_ = State::kFieldStart;
        NewLine(*p == u'\r');
        ++p;
        continue;
      case State::kFieldStart:
        if (!record_started_ && c == dialect_.comment && c != 0) {
          state_ = State::kComment;
          continue;
        }
        if (c == u'\r' || c == u'\n') {
          if (record_started_) {
            // The empty field after a separator.
            field_places_.emplace_back(line_, column_);
            EndField();
          }
          EndRecord();
          NewLine(c == u'\r');
          ++p;
          continue;
        }
        record_started_ = true;
        field_places_.emplace_back(line_, column_);
        if (c == u'"' && dialect_.quotes) {
          quote_line_ = line_;
          quote_column_ = column_;
          state_ = State::kQuoted;
          after_cr_ = false;
          ++column_;
          ++p;
          continue;
        }
        state_ = State::kUnquoted;
        continue;
      case State::kUnquoted:
        take_run([sep, quote](char16_t d) {
          return d == sep || d == quote || d == u'\r' || d == u'\n';
        });
        if (p == end) continue;
        if (*p == u'"' && dialect_.quotes) {
          Fault(line_, column_,
                u"a double quote inside a field that does not begin with one");
        }
        EndField();
        state_ = State::kFieldStart;
        if (*p == sep) {
          after_cr_ = false;
          ++column_;
        } else {
          EndRecord();
          NewLine(*p == u'\r');
        }
        ++p;
        continue;
      case State::kQuoted:
        take_run(
            [](char16_t d) { return d == u'"' || d == u'\r' || d == u'\n'; });
        if (p == end) continue;
        if (*p == u'"') {
          state_ = State::kQuoteInQuoted;
          after_cr_ = false;
          ++column_;
        } else {
          field_ += *p;
          NewLine(*p == u'\r');
        }
        ++p;
        continue;
      case State::kQuoteInQuoted:
        if (c == u'"') {
          field_ += u'"';
          state_ = State::kQuoted;
          ++column_;
          ++p;
          continue;
        }
        if (c != sep && c != u'\r' && c != u'\n')
          Fault(line_, column_, u"text after the closing quote of a field");
        EndField();
        state_ = State::kFieldStart;
        if (c == sep) {
          ++column_;
        } else {
          EndRecord();
          NewLine(c == u'\r');
        }
        ++p;
        continue;
    }
  }
}

void CsvLoader::Finish() {
  switch (state_) {
    case State::kComment:
      field_.clear();
      break;
    case State::kQuoted:
      Fault(quote_line_, quote_column_, u"a quoted field is not closed");
    case State::kUnquoted:
    case State::kQuoteInQuoted:
      EndField();
      break;
    case State::kFieldStart:
      if (record_started_) {
        field_places_.emplace_back(line_, column_);
        EndField();
      }
      break;
  }
  state_ = State::kFieldStart;
  EndRecord();
  if (!held_.empty()) {
    MakeColumns(widest_);
    for (std::vector<Value>& record : held_) target_.AppendFields(record);
    held_.clear();
  }
}

void CDataset::FromCSVStandard(std::u16string_view CSVText,
                               const CsvOptions& options) {
  CsvLoader loader(*this, options);
  loader.Feed(CSVText);
  loader.Finish();
}

}  // namespace quorvel
