// The strict JSON reader. It walks the UTF-16 code units of each piece the
// source hands it, with a stack of open containers instead of recursion,
// and follows the place (line, and column in characters) only where it can
// change: a line feed in the blanks, a low surrogate in a string.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/bulk_scope.h"
#include "core/number_text.h"
#include "core/std_exceptions.h"
#include "json/plain_decimal.h"
#include "quorvel/decimal.h"
#include "quorvel/error.h"
#include "quorvel/json_strict.h"

namespace quorvel::JSON {

namespace {

bool IsDigit(int c) { return c >= u'0' && c <= u'9'; }

int HexDigit(int c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c < 0xE000; }
bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }

std::u16string Ascii(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

// A character for a message: itself between quotes when printable ASCII,
// else its code.
std::u16string Quoted(int c) {
  if (c == u'\'') return u"\"'\"";
  if (c >= 0x20 && c < 0x7F) return u"'" + std::u16string(1, c) + u"'";
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  return Ascii(code);
}

// The largest magnitude of a Decimal, as digits: 2^96 - 1.
constexpr std::u16string_view kMaxMagnitude = u"79228162514264337593543950335";

// Returns the Decimal of the number text when a Decimal holds it exactly.
std::optional<Decimal> ExactDecimal(std::u16string_view text) {
  if (std::optional<Decimal> plain = internal::ReadPlainDecimal(text))
    return plain;
  quorvel::internal::DecimalParts parts;
  if (!quorvel::internal::LexDecimal(text, &parts)) return std::nullopt;
  std::u16string digits(parts.int_digits);
  digits += parts.frac_digits;
  int64_t exponent =
      parts.exponent - static_cast<int64_t>(parts.frac_digits.size());
  const size_t first = digits.find_first_not_of(u'0');
  if (first == std::u16string::npos) return Decimal();
  const size_t last = digits.find_last_not_of(u'0');
  exponent += static_cast<int64_t>(digits.size() - 1 - last);
  digits = digits.substr(first, last + 1 - first);
  // Whole: the digits and the zeros the exponent adds; otherwise the digits
  // after a scale of at most 28.
  const int64_t length =
      static_cast<int64_t>(digits.size()) + std::max<int64_t>(exponent, 0);
  if (exponent < -Decimal::kMaxScale || length > 29) return std::nullopt;
  if (length == 29) {
    std::u16string magnitude = digits;
    if (exponent > 0) magnitude.append(static_cast<size_t>(exponent), u'0');
    if (magnitude > kMaxMagnitude) return std::nullopt;
  }
  return Decimal::Parse(text);
}

// A decimal number reduced to compare with another: its sign, its
// significant digits without leading or trailing zeros, and the power of ten
// of the last of them.
struct ReducedNumber {
  bool negative = false;
  std::string digits;
  int64_t exponent = 0;
  bool operator==(const ReducedNumber&) const = default;
};

// Reduces number text of the form -?digits(.digits)?([eE][+-]?digits)?,
// which both JSON and std::to_chars write.
template <class Char>
ReducedNumber Reduce(std::basic_string_view<Char> text) {
  ReducedNumber r;
  size_t i = 0;
  if (i < text.size() && text[i] == '-') {
    r.negative = true;
    ++i;
  }
  int64_t fraction_digits = 0;
  bool point = false;
  for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
    if (text[i] == '.') {
      point = true;
      continue;
    }
    if (point) ++fraction_digits;
    if (text[i] != '0' || !r.digits.empty())
      r.digits.push_back(static_cast<char>(text[i]));
  }
  int64_t exponent = 0;
  bool exponent_negative = false;
  if (i < text.size()) {
    ++i;
    if (text[i] == '+' || text[i] == '-') exponent_negative = text[i++] == '-';
    for (; i < text.size(); ++i) {
      exponent = std::min<int64_t>(exponent * 10 + (text[i] - '0'),
                                   quorvel::internal::kMaxExponent);
    }
  }
  r.exponent = (exponent_negative ? -exponent : exponent) - fraction_digits;
  while (!r.digits.empty() && r.digits.back() == '0') {
    r.digits.pop_back();
    ++r.exponent;
  }
  if (r.digits.empty()) r.exponent = 0;
  return r;
}

// Whether `d`, read from `text`, is the number the text denotes.
bool DoubleIsExact(double d, std::u16string_view text) {
  char shortest[32];
  const std::to_chars_result r =
      std::to_chars(shortest, shortest + sizeof shortest, d);
  return Reduce(std::string_view(
             shortest, static_cast<size_t>(r.ptr - shortest))) == Reduce(text);
}

}  // namespace

class StrictReader::Impl {
 public:
  explicit Impl(TextSource& source) : source_(source) {}

  void Read(StrictHandler& handler);

  int64_t line() const { return line_; }
  int64_t column() const {
    return fault_.empty() ? ColumnAt(Offset()) : fault_column_;
  }
  int64_t token_line() const { return token_line_; }
  int64_t token_column() const { return token_column_; }
  const std::u16string& fault() const { return fault_; }
  bool number_exact() const { return number_exact_; }
  std::u16string_view number_text() const { return number_; }

 private:
  // The absolute offset (in code units) of the position.
  int64_t Offset() const { return piece_offset_ + (p_ - piece_); }
  int64_t ColumnAt(int64_t offset) const {
    return offset - line_start_ - low_surrogates_ + 1;
  }

  // Moves to the next piece; false at the end of the text.
  bool Refill() {
    if (ended_) return false;
    piece_offset_ += end_ - piece_;
    const std::u16string_view next = source_.Next();
    piece_ = p_ = next.data();
    end_ = p_ + next.size();
    ended_ = next.empty();
    return !ended_;
  }

  // The character at the position, or -1 at the end of the text.
  int Peek() {
    if (p_ == end_ && !Refill()) return -1;
    return *p_;
  }

  [[noreturn]] void Fault(std::u16string_view what) { FaultAt(column(), what); }

  [[noreturn]] void FaultAt(int64_t column, std::u16string_view what) {
    fault_ = what;
    fault_column_ = column;
    std::u16string description = u"Line " + Ascii(std::to_string(line_)) +
                                 u", column " +
                                 Ascii(std::to_string(fault_column_)) + u": ";
    description += what;
    ErrorRaise(kErrSubscript, u"JSON", description);
  }

  // Names what was found where something else was expected.
  [[noreturn]] void Unexpected(std::u16string_view expected) {
    const int c = Peek();
    Fault(u"expected " + std::u16string(expected) + u", found " +
          (c < 0 ? std::u16string(u"the end of the text") : Quoted(c)));
  }

  void SkipBlanks() {
    for (;;) {
      while (p_ < end_) {
        const char16_t c = *p_;
        if (c == u' ' || c == u'\t' || c == u'\r') {
          ++p_;
        } else if (c == u'\n') {
          ++p_;
          ++line_;
          line_start_ = Offset();
          low_surrogates_ = 0;
        } else {
          return;
        }
      }
      if (!Refill()) return;
    }
  }

  void MarkToken() {
    token_line_ = line_;
    token_column_ = column();
  }

  // Reads a string, the position on its opening quote, and hands its text
  // to `take(text, last)`: in pieces of at most `most` units, never ending
  // between the halves of a surrogate pair, the last one marked; with
  // SIZE_MAX, whole in one call.
  template <class Take>
  void ReadString(size_t most, Take take) {
    MarkToken();
    ++p_;
    // Most strings lie whole in the piece and hold no escape: their text is
    // handed over where it lies.
    const char16_t* start = p_;
    const char16_t* limit =
        static_cast<size_t>(end_ - p_) > most ? p_ + most : end_;
    for (; p_ < limit; ++p_) {
      const char16_t c = *p_;
      if (c == u'"') {
        take(std::u16string_view(start, p_ - start), true);
        ++p_;
        return;
      }
      if (c == u'\\' || c < 0x20) break;
      if (IsLowSurrogate(c)) ++low_surrogates_;
    }
    text_.assign(start, p_ - start);
    for (;;) {
      if (text_.size() >= most) {
        size_t n = text_.size();
        if (IsHighSurrogate(text_[n - 1])) --n;
        take(std::u16string_view(text_.data(), n), false);
        text_.erase(0, n);
      }
      const int c = Peek();
      if (c < 0) Fault(u"the text ends inside a string");
      if (c == u'"') {
        ++p_;
        take(std::u16string_view(text_), true);
        return;
      }
      if (c < 0x20) {
        Fault(u"control character " + Quoted(c) +
              u" in a string (write it as an escape)");
      }
      if (c == u'\\') {
        ++p_;
        ReadEscape();
        continue;
      }
      start = p_;
      const size_t room = most - text_.size();
      limit = static_cast<size_t>(end_ - p_) > room ? p_ + room : end_;
      for (; p_ < limit; ++p_) {
        const char16_t d = *p_;
        if (d == u'"' || d == u'\\' || d < 0x20) break;
        if (IsLowSurrogate(d)) ++low_surrogates_;
      }
      text_.append(start, p_ - start);
    }
  }

  void ReadEscape() {
    const int letter = Peek();
    switch (letter) {
      case u'"':
      case u'\\':
      case u'/':
        text_ += static_cast<char16_t>(letter);
        break;
      case u'b':
        text_ += u'\b';
        break;
      case u'f':
        text_ += u'\f';
        break;
      case u'n':
        text_ += u'\n';
        break;
      case u'r':
        text_ += u'\r';
        break;
      case u't':
        text_ += u'\t';
        break;
      case u'u': {
        ++p_;
        uint32_t unit = 0;
        for (int k = 0; k < 4; ++k) {
          const int digit = HexDigit(Peek());
          if (digit < 0) Unexpected(u"a hexadecimal digit of a \\u escape");
          unit = unit * 16 + static_cast<uint32_t>(digit);
          ++p_;
        }
        text_ += static_cast<char16_t>(unit);
        return;
      }
      case -1:
        Fault(u"the text ends inside a string");
      default:
        Fault(u"invalid escape \\" + (letter >= 0x20 && letter < 0x7F
                                          ? std::u16string(1, letter)
                                          : Quoted(letter)));
    }
    ++p_;
  }

  // Appends the character at the position to the number text and moves on.
  void TakeDigit() {
    number_ += *p_;
    ++p_;
  }
  void TakeDigits() {
    while (IsDigit(Peek())) TakeDigit();
  }

  Value ReadNumber() {
    MarkToken();
    number_.clear();
    if (Peek() == u'-') TakeDigit();
    const int lead = Peek();
    if (!IsDigit(lead)) Unexpected(u"a digit");
    TakeDigit();
    if (lead == u'0' && IsDigit(Peek()))
      Fault(u"a number starts with 0 followed by more digits");
    if (lead != u'0') TakeDigits();
    if (Peek() == u'.') {
      TakeDigit();
      if (!IsDigit(Peek())) Unexpected(u"a digit after the decimal point");
      TakeDigits();
    }
    if (Peek() == u'e' || Peek() == u'E') {
      TakeDigit();
      if (Peek() == u'+' || Peek() == u'-') TakeDigit();
      if (!IsDigit(Peek())) Unexpected(u"a digit of the exponent");
      TakeDigits();
    }
    return NumberValue();
  }

  Value NumberValue() {
    number_exact_ = true;
    try {
      if (std::optional<Decimal> exact = ExactDecimal(number_)) {
        // A zero keeps its sign, which only the standard writer shows.
        if (exact->IsZero() && number_[0] == u'-')
          return Value::Decimal(Decimal(0, 0, 0, true));
        return Value::Decimal(*exact);
      }
    } catch (const Error&) {
      // Beyond the Decimal range after all: a Double, below.
    }
    const std::string ascii(number_.begin(), number_.end());
    double d = 0;
    const std::from_chars_result r =
        std::from_chars(ascii.data(), ascii.data() + ascii.size(), d);
    if (r.ec != std::errc() || r.ptr != ascii.data() + ascii.size()) {
      FaultAt(token_column_,
              u"the number " + number_ + u" is beyond the range of a Double");
    }
    number_exact_ = DoubleIsExact(d, number_);
    return Value(d);
  }

  void ReadLiteral(std::u16string_view word, const Value& value,
                   StrictHandler& handler) {
    MarkToken();
    for (char16_t c : word) {
      if (Peek() != c) Unexpected(u"a value");
      ++p_;
    }
    handler.Scalar(value);
  }

  // Reads the value that starts at the position. Containers are only
  // opened here (the result is then true); the read loop reads their
  // members.
  bool ReadValue(StrictHandler& handler) {
    const int c = Peek();
    switch (c) {
      case u'{':
      case u'[':
        if (open_.size() >= static_cast<size_t>(kMaxDepth)) {
          Fault(u"containers nest deeper than " +
                Ascii(std::to_string(kMaxDepth)) + u" levels");
        }
        MarkToken();
        ++p_;
        open_.push_back(static_cast<char16_t>(c));
        if (c == u'{') {
          handler.BeginObject();
        } else {
          handler.BeginArray();
        }
        return true;
      case u'"':
        if (pieces_) {
          ReadString(kMaxTextPiece, [&](std::u16string_view text, bool last) {
            handler.TextPiece(text, last);
          });
        } else {
          ReadString(SIZE_MAX, [&](std::u16string_view text, bool) {
            handler.Text(text);
          });
        }
        return false;
      case u't':
        ReadLiteral(u"true", Value(true), handler);
        return false;
      case u'f':
        ReadLiteral(u"false", Value(false), handler);
        return false;
      case u'n':
        ReadLiteral(u"null", Value::Null(), handler);
        return false;
      default:
        if (c == u'-' || IsDigit(c)) {
          handler.Scalar(ReadNumber());
          return false;
        }
        Unexpected(u"a value");
    }
  }

  void ReadKey(StrictHandler& handler) {
    SkipBlanks();
    if (Peek() != u'"') Unexpected(u"a member name in double quotes");
    ReadString(SIZE_MAX,
               [&](std::u16string_view name, bool) { handler.Key(name); });
    SkipBlanks();
    if (Peek() != u':') Unexpected(u"':' after the member name");
    ++p_;
  }

  TextSource& source_;
  const char16_t* piece_ = nullptr;
  const char16_t* p_ = nullptr;
  const char16_t* end_ = nullptr;
  int64_t piece_offset_ = 0;
  bool ended_ = false;

  int64_t line_ = 1;
  int64_t line_start_ = 0;      // offset of the line's first code unit
  int64_t low_surrogates_ = 0;  // on the line so far
  int64_t token_line_ = 1;
  int64_t token_column_ = 1;
  std::u16string fault_;
  int64_t fault_column_ = 0;

  std::u16string open_;    // '{' or '[' for each open container
  std::u16string text_;    // a string that needs assembling
  std::u16string number_;  // the text of a number
  bool number_exact_ = true;
  bool pieces_ = false;  // the handler takes string values in pieces
};

void StrictReader::Impl::Read(StrictHandler& handler) {
  pieces_ = handler.TakesTextInPieces();
  SkipBlanks();
  bool opened = ReadValue(handler);
  for (;;) {
    SkipBlanks();
    if (open_.empty()) {
      if (Peek() >= 0) Unexpected(u"the end of the text after the value");
      return;
    }
    const bool is_object = open_.back() == u'{';
    const int c = Peek();
    if (c == (is_object ? u'}' : u']')) {
      ++p_;
      open_.pop_back();
      if (is_object) {
        handler.EndObject();
      } else {
        handler.EndArray();
      }
      opened = false;
      continue;
    }
    // A comma before every member but the first. It is taken together with
    // the member after it, so a closer right after a comma finds no member.
    if (!opened) {
      if (c != u',') {
        Unexpected(is_object ? u"',' or '}' after the member"
                             : u"',' or ']' after the element");
      }
      ++p_;
    }
    if (is_object) ReadKey(handler);
    SkipBlanks();
    opened = ReadValue(handler);
  }
}

StrictReader::StrictReader(TextSource& source)
    : impl_(std::make_unique<Impl>(source)) {}
StrictReader::~StrictReader() = default;

void StrictReader::Read(StrictHandler& handler) { impl_->Read(handler); }
int64_t StrictReader::line() const { return impl_->line(); }
int64_t StrictReader::column() const { return impl_->column(); }
int64_t StrictReader::token_line() const { return impl_->token_line(); }
int64_t StrictReader::token_column() const { return impl_->token_column(); }
std::u16string_view StrictReader::fault() const { return impl_->fault(); }
bool StrictReader::number_exact() const { return impl_->number_exact(); }
std::u16string_view StrictReader::number_text() const {
  return impl_->number_text();
}

void StrictHandler::TextPiece(std::u16string_view, bool) {
  ErrorRaise(kErrInvalidCall, u"JSON",
             u"this handler takes string values whole");
}

void TreeBuilder::Put(Value value) {
  if (open_.empty()) {
    root_ = std::move(value);
  } else if (Open& top = open_.back(); top.dict) {
    top.dict->Slot(top.key) = std::move(value);
  } else {
    top.list->Add(std::move(value));
  }
}

void TreeBuilder::BeginObject() {
  Ref<Dictionary> dict = Dictionary::Create();
  Put(Value(Ref<Object>(dict)));
  open_.push_back({std::move(dict), nullptr, String()});
}

void TreeBuilder::Key(std::u16string_view name) { open_.back().key = name; }

void TreeBuilder::EndObject() { open_.pop_back(); }

void TreeBuilder::BeginArray() {
  Ref<CArray> list = CArray::Create();
  Put(Value(Ref<Object>(list)));
  open_.push_back({nullptr, std::move(list), String()});
}

void TreeBuilder::EndArray() { open_.pop_back(); }

void TreeBuilder::Text(std::u16string_view text) { Put(Value(text)); }

void TreeBuilder::Scalar(const Value& value) { Put(value); }

Value TreeBuilder::Take() {
  open_.clear();
  return std::exchange(root_, Value());
}

Value ParseStrict(std::u16string_view text) {
  TextPieces source(text);
  StrictReader reader(source);
  TreeBuilder builder;
  quorvel::internal::BulkScope bulk(text.size() * sizeof(char16_t));
  quorvel::internal::TranslateStdExceptions([&] { reader.Read(builder); });
  return builder.Take();
}

}  // namespace quorvel::JSON
