// CDataset's CSV and JSON text forms.
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/cdataset.h"
#include "quorvel/convert.h"
#include "quorvel/error.h"

namespace quorvel {

namespace {

// Removes leading and trailing spaces (U+0020 only; tabs stay).
std::u16string_view TrimSpaces(std::u16string_view s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && s[b] == u' ') ++b;
  while (e > b && s[e - 1] == u' ') --e;
  return s.substr(b, e - b);
}

// The text of a cell, Null as the empty text; a String is viewed, not
// copied. `holder` keeps a converted text alive.
std::u16string_view CellText(const Value& v, String& holder) {
  if (v.IsString()) return v.string_view();
  if (v.IsNull()) return {};
  holder = ToText(v);
  return holder.view();
}

// Grows the text of a CSV or JSON form; one buffer, reused to the end.
class TextOut {
 public:
  void Put(char16_t c) { text_.push_back(c); }
  void Put(std::u16string_view s) { text_.append(s); }
  String Take() const { return String(std::u16string_view(text_)); }
  size_t size() const { return text_.size(); }
  void Reserve(size_t n) { text_.reserve(n); }

 private:
  std::u16string text_;
};

bool NeedsQuotes(std::u16string_view t, std::u16string_view sep) {
  if (sep.size() == 1) {
    const char16_t s = sep[0];
    for (char16_t c : t) {
      if (c == s || c == u'"' || c == u'\r' || c == u'\n') return true;
    }
    return false;
  }
  for (char16_t c : t) {
    if (c == u'"' || c == u'\r' || c == u'\n') return true;
  }
  // An empty separator is found in any non-empty text, as a substring
  // search finds the empty string.
  if (sep.empty()) return !t.empty();
  return t.find(sep) != std::u16string_view::npos;
}

void CsvField(const Value& v, std::u16string_view sep, TextOut& out) {
  String holder;
  const std::u16string_view t = CellText(v, holder);
  if (!NeedsQuotes(t, sep)) {
    out.Put(t);
    return;
  }
  out.Put(u'"');
  for (char16_t c : t) {
    if (c == u'"') out.Put(u'"');
    out.Put(c);
  }
  out.Put(u'"');
}

// Trims a field and, when it is enclosed in double quotes, drops them and
// turns each pair of double quotes inside into one.
Value UnquoteCsvField(std::u16string_view raw) {
  std::u16string_view s = TrimSpaces(raw);
  if (s.size() < 2 || s.front() != u'"' || s.back() != u'"') return Value(s);
  s = s.substr(1, s.size() - 2);
  size_t pairs = 0;
  for (size_t k = 0; k + 1 < s.size(); ++k) {
    if (s[k] == u'"' && s[k + 1] == u'"') {
      ++pairs;
      ++k;
    }
  }
  if (pairs == 0) return Value(s);
  return Value(String::Build(s.size() - pairs, [&](char16_t* out) {
    for (size_t k = 0; k < s.size(); ++k) {
      *out++ = s[k];
      if (s[k] == u'"' && k + 1 < s.size() && s[k + 1] == u'"') ++k;
    }
  }));
}

// Splits one line at the separators outside double quotes. A double quote
// anywhere toggles quoting. The end of the line counts as one more
// separator character, which ends the last field unless a quote is still
// open; an open quote runs to the end of the line.
void ParseCsvLine(std::u16string_view line, std::u16string_view sep,
                  std::vector<Value>& fields) {
  fields.clear();
  const bool single = sep.size() == 1;
  const char16_t s = single ? sep[0] : 0;
  bool in_quotes = false;
  size_t start = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const char16_t c = line[i];
    if (c == u'"') {
      in_quotes = !in_quotes;
    } else if (single && c == s && !in_quotes) {
      fields.push_back(UnquoteCsvField(line.substr(start, i - start)));
      start = i + 1;
    }
  }
  // The position past the end holds the separator itself.
  if (sep == u"\"") {
    in_quotes = !in_quotes;
  } else if (!in_quotes) {
    fields.push_back(UnquoteCsvField(line.substr(start)));
    return;
  }
  if (in_quotes) fields.push_back(UnquoteCsvField(line.substr(start)));
}

void EscapeJsonText(std::u16string_view s, TextOut& out) {
  for (char16_t c : s) {
    switch (c) {
      case u'\\':
        out.Put(u"\\\\");
        break;
      case u'"':
        out.Put(u"\\\"");
        break;
      case u'\r':
        out.Put(u"\\r");
        break;
      case u'\n':
        out.Put(u"\\n");
        break;
      case u'\t':
        out.Put(u"\\t");
        break;
      default:
        out.Put(c);
    }
  }
}

std::u16string ColumnNumberName(size_t k) {
  std::u16string name = u"Col";
  const std::string digits = std::to_string(k);
  name.append(digits.begin(), digits.end());
  return name;
}

}  // namespace

String CDataset::ToCSV(const String& Separator) const {
  const std::u16string_view sep = Separator.view();
  TextOut out;
  for (int32_t c = 1; c <= column_count_; ++c) {
    if (c > 1) out.Put(sep);
    CsvField(Value(names_[c - 1]), sep, out);
  }
  out.Put(u"\r\n");
  for (int32_t r = 1; r <= row_count_; ++r) {
    const Value* cells = RowCells(r);
    for (int32_t c = 0; c < column_count_; ++c) {
      if (c > 0) out.Put(sep);
      CsvField(cells[c], sep, out);
    }
    out.Put(u"\r\n");
    // A first row shows how large the whole text will be.
    if (r == 1) out.Reserve(out.size() * (static_cast<size_t>(row_count_) + 1));
  }
  return out.Take();
}

void CDataset::FromCSV(const String& CSVText, bool HasHeader,
                       const String& Separator) {
  Clear();
  const std::u16string_view text = CSVText.view();
  if (TrimSpaces(text).empty()) return;
  const std::u16string_view sep = Separator.view();
  bool header_pending = HasHeader;
  std::vector<Value> fields;
  size_t pos = 0;
  while (pos <= text.size()) {
    // Lines end at CR LF only; quotes do not matter here.
    size_t end = pos;
    while (end < text.size() && !(text[end] == u'\r' && end + 1 < text.size() &&
                                  text[end + 1] == u'\n'))
      ++end;
    const std::u16string_view line = TrimSpaces(text.substr(pos, end - pos));
    pos = end + 2;
    if (line.empty()) continue;
    ParseCsvLine(line, sep, fields);
    if (header_pending) {
      header_pending = false;
      for (const Value& field : fields)
        AddColumn(String(TrimSpaces(field.string_view())));
      continue;
    }
    if (column_count_ == 0) {
      AddColumn(String(u"Col1"));
      for (size_t k = 2; k <= fields.size(); ++k)
        AddColumn(String(ColumnNumberName(k)));
    }
    AppendFields(fields);
  }
}

String CDataset::ToJSON() const {
  TextOut out;
  out.Put(u'[');
  String holder;
  for (int32_t r = 1; r <= row_count_; ++r) {
    if (r > 1) out.Put(u',');
    out.Put(u'{');
    const Value* cells = RowCells(r);
    for (int32_t c = 0; c < column_count_; ++c) {
      if (c > 0) out.Put(u',');
      out.Put(u'"');
      EscapeJsonText(names_[c].view(), out);
      out.Put(u"\":\"");
      EscapeJsonText(CellText(cells[c], holder), out);
      out.Put(u'"');
    }
    out.Put(u'}');
    if (r == 1) out.Reserve(out.size() * (static_cast<size_t>(row_count_) + 1));
  }
  out.Put(u']');
  return out.Take();
}

}  // namespace quorvel
