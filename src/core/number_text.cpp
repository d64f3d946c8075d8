// Numbers read from text and written as text, in the library's fixed locale:
// '.' as the decimal separator, no grouping, and the platform's general form
// (C's %G) for floating point.

#include "core/number_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <system_error>

#include "quorvel/convert.h"
#include "quorvel/error.h"

namespace quorvel {
namespace internal {

std::u16string_view TrimBlanks(std::u16string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

size_t CountDigits(std::u16string_view text, size_t pos) {
  size_t end = pos;
  while (end < text.size() && IsDigit(text[end])) ++end;
  return end - pos;
}

}  // namespace

bool LexDecimal(std::u16string_view text, DecimalParts* parts) {
  text = TrimBlanks(text);
  if (text.empty()) return false;
  *parts = DecimalParts();
  bool signed_already = false;
  if (text.front() == u'+' || text.front() == u'-') {
    parts->negative = text.front() == u'-';
    signed_already = true;
    text.remove_prefix(1);
  } else if (text.back() == u'+' || text.back() == u'-') {
    parts->negative = text.back() == u'-';
    signed_already = true;
    text.remove_suffix(1);
  }
  if (signed_already && text.empty()) return false;

  size_t pos = 0;
  size_t n = CountDigits(text, pos);
  parts->int_digits = text.substr(pos, n);
  pos += n;
  if (pos < text.size() && text[pos] == u'.') {
    ++pos;
    n = CountDigits(text, pos);
    parts->frac_digits = text.substr(pos, n);
    pos += n;
  }
  if (parts->int_digits.empty() && parts->frac_digits.empty()) return false;

  if (pos < text.size() && (text[pos] == u'e' || text[pos] == u'E')) {
    ++pos;
    bool exponent_negative = false;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
      exponent_negative = text[pos] == u'-';
      ++pos;
    }
    n = CountDigits(text, pos);
    if (n == 0) return false;
    int64_t exponent = 0;
    for (size_t i = pos; i < pos + n; ++i) {
      exponent = exponent * 10 + (text[i] - u'0');
      if (exponent > kMaxExponent) exponent = kMaxExponent;
    }
    parts->exponent = exponent_negative ? -exponent : exponent;
    pos += n;
  }
  return pos == text.size();
}

}  // namespace internal

namespace {

String AsciiString(std::string_view text) {
  return String::Build(text.size(), [&](char16_t* out) {
    for (char c : text) *out++ = static_cast<char16_t>(c);
  });
}

// Sets `*out` to the double nearest to the parts' value and returns 0, or
// returns 6 when it is beyond the double range. A value below the smallest
// subnormal becomes zero.
int32_t PartsToDouble(const internal::DecimalParts& parts, double* out) {
  std::string buffer;
  buffer.reserve(parts.int_digits.size() + parts.frac_digits.size() + 16);
  if (parts.int_digits.empty()) buffer.push_back('0');
  for (char16_t c : parts.int_digits) buffer.push_back(static_cast<char>(c));
  if (!parts.frac_digits.empty()) {
    buffer.push_back('.');
    for (char16_t c : parts.frac_digits) buffer.push_back(static_cast<char>(c));
  }
  buffer.push_back('e');
  buffer += std::to_string(parts.exponent);

  double value = 0;
  const char* end = buffer.data() + buffer.size();
  auto [ptr, ec] =
      std::from_chars(buffer.data(), end, value, std::chars_format::general);
  if (ptr != end) return kErrTypeMismatch;  // the lexer rules it out
  if (ec == std::errc::result_out_of_range || std::isinf(value)) {
    // Out of range either way; the position of the first significant digit
    // tells too large from too small.
    int64_t magnitude = 0;
    size_t lead = parts.int_digits.find_first_not_of(u'0');
    if (lead != std::u16string_view::npos) {
      magnitude = static_cast<int64_t>(parts.int_digits.size() - lead);
    } else {
      lead = parts.frac_digits.find_first_not_of(u'0');
      magnitude = -static_cast<int64_t>(lead);
    }
    if (magnitude + parts.exponent > 0) return kErrOverflow;
    value = 0;
  }
  *out = parts.negative ? -value : value;
  return 0;
}

int DigitValue(char16_t c, int base) {
  int d = -1;
  if (c >= u'0' && c <= u'9') {
    d = c - u'0';
  } else if (c >= u'a' && c <= u'f') {
    d = c - u'a' + 10;
  } else if (c >= u'A' && c <= u'F') {
    d = c - u'A' + 10;
  }
  return d < base ? d : -1;
}

// Reads the "&H" and "&O" forms: the bits as written, 16 or fewer giving an
// Integer, up to 32 a Long, each wrapping into the sign bit.
int32_t ParseRadixInteger(std::u16string_view text, Value* out) {
  int base = 0;
  if (text[1] == u'H' || text[1] == u'h') {
    base = 16;
  } else if (text[1] == u'O' || text[1] == u'o') {
    base = 8;
  } else {
    return kErrTypeMismatch;
  }
  std::u16string_view digits = text.substr(2);
  if (digits.empty()) return kErrTypeMismatch;
  uint64_t value = 0;
  bool too_large = false;
  for (char16_t c : digits) {
    int d = DigitValue(c, base);
    if (d < 0) return kErrTypeMismatch;
    if (!too_large) {
      value = value * base + d;
      too_large = value > 0xFFFFFFFFu;
    }
  }
  if (too_large) return kErrOverflow;
  if (value <= 0xFFFFu) {
    *out = Value(static_cast<int16_t>(static_cast<uint16_t>(value)));
  } else {
    *out = Value(static_cast<int32_t>(static_cast<uint32_t>(value)));
  }
  return 0;
}

// Formats `v` as C's "%.<precision>G" does, without depending on the C
// locale: `precision` significant digits, trailing zeros dropped, exponent
// form (at least two exponent digits) when the exponent is below -4 or not
// below the precision.
String FormatGeneral(double v, int precision) {
  if (std::isnan(v)) return std::signbit(v) ? u"-NAN" : u"NAN";
  if (std::isinf(v)) return v < 0 ? u"-INF" : u"INF";
  if (v == 0) return u"0";  // negative zero included

  char sci[48];
  auto result = std::to_chars(sci, sci + sizeof(sci), v,
                              std::chars_format::scientific, precision - 1);
  // sci holds [-]d[.ddd]e(+|-)XX.
  const char* p = sci;
  bool negative = *p == '-';
  if (negative) ++p;
  char digits[24];
  int count = 0;
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits[count++] = *p;
  }
  ++p;
  int exponent = 0;
  std::from_chars(*p == '+' ? p + 1 : p, result.ptr, exponent);
  while (count > 1 && digits[count - 1] == '0') --count;

  char out[48];
  int n = 0;
  if (negative) out[n++] = '-';
  if (exponent < -4 || exponent >= precision) {
    out[n++] = digits[0];
    if (count > 1) {
      out[n++] = '.';
      for (int i = 1; i < count; ++i) out[n++] = digits[i];
    }
    out[n++] = 'E';
    out[n++] = exponent < 0 ? '-' : '+';
    int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) out[n++] = '0';
    n = static_cast<int>(
        std::to_chars(out + n, out + sizeof(out), magnitude).ptr - out);
  } else if (exponent >= 0) {
    for (int i = 0; i <= exponent; ++i) out[n++] = i < count ? digits[i] : '0';
    if (count > exponent + 1) {
      out[n++] = '.';
      for (int i = exponent + 1; i < count; ++i) out[n++] = digits[i];
    }
  } else {
    out[n++] = '0';
    out[n++] = '.';
    for (int i = -1; i > exponent; --i) out[n++] = '0';
    for (int i = 0; i < count; ++i) out[n++] = digits[i];
  }
  return AsciiString(std::string_view(out, n));
}

}  // namespace

namespace internal {

int32_t TryParseNumber(std::u16string_view text, Value* out) {
  std::u16string_view trimmed = TrimBlanks(text);
  if (trimmed.size() >= 2 && trimmed[0] == u'&')
    return ParseRadixInteger(trimmed, out);
  DecimalParts parts;
  if (!LexDecimal(trimmed, &parts)) return kErrTypeMismatch;
  double value = 0;
  int32_t error = PartsToDouble(parts, &value);
  if (error == 0) *out = Value(value);
  return error;
}

}  // namespace internal

Value ParseNumber(std::u16string_view text) {
  Value number;
  if (int32_t error = internal::TryParseNumber(text, &number))
    RaiseStandard(error);
  return number;
}

String DoubleToText(double v) { return FormatGeneral(v, 15); }

String SingleToText(float v) { return FormatGeneral(v, 7); }

String CurrencyToText(int64_t scaled_by_10000) {
  bool negative = scaled_by_10000 < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaled_by_10000)
                                : static_cast<uint64_t>(scaled_by_10000);
  char out[32];
  char* p = out;
  if (negative) *p++ = '-';
  p = std::to_chars(p, out + sizeof(out), magnitude / 10000).ptr;
  uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    *p++ = '.';
    for (uint64_t unit = 1000; fraction != 0; unit /= 10) {
      *p++ = static_cast<char>('0' + fraction / unit);
      fraction %= unit;
    }
  }
  return AsciiString(std::string_view(out, p - out));
}

}  // namespace quorvel
