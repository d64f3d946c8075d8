#include "quorvel/decimal.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string>

#include "core/number_text.h"
#include "quorvel/error.h"

namespace quorvel {
namespace {

// __extension__ keeps -Wpedantic quiet about the compiler's 128-bit type.
__extension__ typedef unsigned __int128 Uint128;

constexpr Uint128 kMaxMagnitude = (Uint128{1} << 96) - 1;
constexpr Uint128 kUint128Max = ~Uint128{0};
// A magnitude of more digits than this is beyond 96 bits.
constexpr int kMaxDigits = 29;

constexpr std::array<Uint128, 39> MakePowersOfTen() {
  std::array<Uint128, 39> powers{};
  Uint128 p = 1;
  for (auto& power : powers) {
    power = p;
    p *= 10;
  }
  return powers;
}
constexpr std::array<Uint128, 39> kPow10 = MakePowersOfTen();

Uint128 Magnitude(const Decimal& d) { return (Uint128{d.hi()} << 64) | d.lo(); }

Decimal Make(Uint128 magnitude, int scale, bool negative) {
  return Decimal(static_cast<uint32_t>(magnitude >> 64),
                 static_cast<uint64_t>(magnitude), static_cast<uint8_t>(scale),
                 negative && magnitude != 0);
}

// Drops trailing zeros after the point, keeping the value.
Decimal Normalized(Uint128 magnitude, int scale, bool negative) {
  if (magnitude == 0) return Decimal();
  while (scale > 0 && magnitude % 10 == 0) {
    magnitude /= 10;
    --scale;
  }
  return Make(magnitude, scale, negative);
}

// Divides by 10^digits, rounding half to even.
Uint128 DivideRounded(Uint128 magnitude, int digits) {
  if (digits == 0) return magnitude;
  if (digits >= static_cast<int>(kPow10.size())) return 0;
  Uint128 divisor = kPow10[digits];
  Uint128 quotient = magnitude / divisor;
  Uint128 remainder = magnitude % divisor;
  Uint128 half = divisor / 2;
  if (remainder > half || (remainder == half && (quotient & 1) != 0))
    ++quotient;
  return quotient;
}

// The significant digits of a number, read left to right; positions past the
// last written digit read as zeros.
class DigitSequence {
 public:
  DigitSequence(std::u16string_view int_digits, std::u16string_view frac_digits)
      : first_(int_digits), second_(frac_digits) {}

  size_t size() const { return first_.size() + second_.size(); }
  int operator[](size_t i) const {
    if (i < first_.size()) return first_[i] - u'0';
    i -= first_.size();
    return i < second_.size() ? second_[i] - u'0' : 0;
  }
  // Drops leading zeros; returns how many were dropped.
  size_t SkipLeadingZeros() {
    size_t skipped = 0;
    while (!first_.empty() && first_.front() == u'0') {
      first_.remove_prefix(1);
      ++skipped;
    }
    if (first_.empty()) {
      while (!second_.empty() && second_.front() == u'0') {
        second_.remove_prefix(1);
        ++skipped;
      }
    }
    return skipped;
  }
  bool AnyNonZeroFrom(size_t i) const {
    for (size_t j = i; j < size(); ++j) {
      if ((*this)[j] != 0) return true;
    }
    return false;
  }

 private:
  std::u16string_view first_;
  std::u16string_view second_;
};

// Returns the first `keep` digits of `digits` as a number (padding with zeros
// past its end), rounded half to even on the digits dropped. `keep` is at most
// kMaxDigits and may be zero or negative (everything dropped).
Uint128 RoundDigits(const DigitSequence& digits, int64_t keep) {
  if (keep < 0) return 0;  // the first dropped digit is an implied zero
  Uint128 value = 0;
  for (int64_t i = 0; i < keep; ++i) value = value * 10 + digits[i];
  size_t next = static_cast<size_t>(keep);
  if (next >= digits.size()) return value;
  int dropped = digits[next];
  if (dropped > 5 ||
      (dropped == 5 && (digits.AnyNonZeroFrom(next + 1) || (value & 1) != 0)))
    ++value;
  return value;
}

// Builds the Decimal nearest to the parsed parts at the largest scale (at
// most 28) whose magnitude fits 96 bits.
Decimal FromParts(const internal::DecimalParts& parts) {
  DigitSequence digits(parts.int_digits, parts.frac_digits);
  size_t all = digits.size();
  size_t leading = digits.SkipLeadingZeros();
  int64_t count = static_cast<int64_t>(all - leading);
  if (count == 0) return Decimal();
  // value = digits * 10^exponent, the digits now free of leading zeros.
  int64_t exponent =
      parts.exponent - static_cast<int64_t>(parts.frac_digits.size());
  int64_t int_digits = count + exponent;
  if (int_digits > kMaxDigits) RaiseStandard(kErrOverflow);

  int64_t scale = exponent >= 0 ? 0 : -exponent;
  if (scale > Decimal::kMaxScale) scale = Decimal::kMaxScale;
  if (int_digits + scale > kMaxDigits) scale = kMaxDigits - int_digits;
  for (;;) {
    Uint128 magnitude = RoundDigits(digits, int_digits + scale);
    if (magnitude <= kMaxMagnitude)
      return Make(magnitude, static_cast<int>(scale), parts.negative);
    // Rounding at this scale needs more than 96 bits; give up one place.
    if (scale == 0) RaiseStandard(kErrOverflow);
    --scale;
  }
}

// Parses ASCII produced by the formatting of this file.
Decimal ParseAscii(const char* begin, const char* end) {
  char16_t text[64];
  size_t n = 0;
  for (const char* p = begin; p != end && n < sizeof(text) / 2; ++p)
    text[n++] = static_cast<char16_t>(*p);
  internal::DecimalParts parts;
  internal::LexDecimal(std::u16string_view(text, n), &parts);
  return FromParts(parts);
}

Decimal FromBinary(double value, int significant_digits) {
  if (!std::isfinite(value)) RaiseStandard(kErrOverflow);
  if (value == 0) return Decimal();
  char buffer[48];
  auto result =
      std::to_chars(buffer, buffer + sizeof(buffer), value,
                    std::chars_format::scientific, significant_digits - 1);
  Decimal d = ParseAscii(buffer, result.ptr);
  return Normalized(Magnitude(d), d.scale(), d.negative());
}

}  // namespace

Decimal Decimal::FromInt64(int64_t value) {
  bool negative = value < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value)
                                : static_cast<uint64_t>(value);
  return Make(magnitude, 0, negative);
}

Decimal Decimal::FromCurrency(int64_t scaled) {
  bool negative = scaled < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaled)
                                : static_cast<uint64_t>(scaled);
  return Normalized(magnitude, 4, negative);
}

Decimal Decimal::FromDouble(double value) { return FromBinary(value, 15); }

Decimal Decimal::FromSingle(float value) { return FromBinary(value, 7); }

std::optional<Decimal> Decimal::Parse(std::u16string_view text) {
  internal::DecimalParts parts;
  if (!internal::LexDecimal(text, &parts)) return std::nullopt;
  return FromParts(parts);
}

std::u16string Decimal::ToText() const {
  Uint128 magnitude = Magnitude(*this);
  if (magnitude == 0) return u"0";
  char digits[40];
  int count = 0;
  for (; magnitude != 0; magnitude /= 10)
    digits[count++] = static_cast<char>('0' + magnitude % 10);
  // digits holds the number least significant first.
  int scale = scale_;
  int first_kept = 0;  // trailing zeros after the point are dropped
  while (first_kept < scale && digits[first_kept] == '0') ++first_kept;

  std::u16string text;
  text.reserve(count + 4);
  if (negative_) text.push_back(u'-');
  if (count <= scale) {
    text += u"0.";
    text.append(scale - count, u'0');
    for (int i = count - 1; i >= first_kept; --i) text.push_back(digits[i]);
    return text;
  }
  for (int i = count - 1; i >= scale; --i) text.push_back(digits[i]);
  if (first_kept < scale) {
    text.push_back(u'.');
    for (int i = scale - 1; i >= first_kept; --i) text.push_back(digits[i]);
  }
  return text;
}

double Decimal::ToDouble() const {
  Uint128 magnitude = Magnitude(*this);
  if (magnitude == 0) return 0;
  if (magnitude <= (Uint128{1} << 53) && scale_ <= 22) {
    // Both operands are exact doubles, so the one division rounds correctly.
    double value =
        static_cast<double>(magnitude) / static_cast<double>(kPow10[scale_]);
    return negative_ ? -value : value;
  }
  // The decimal text read back is correctly rounded and needs no locale.
  char buffer[48];
  char* p = buffer;
  if (negative_) *p++ = '-';
  char digits[40];
  int count = 0;
  for (; magnitude != 0; magnitude /= 10)
    digits[count++] = static_cast<char>('0' + magnitude % 10);
  while (count > 0) *p++ = digits[--count];
  *p++ = 'e';
  *p++ = '-';
  p = std::to_chars(p, buffer + sizeof(buffer), static_cast<int>(scale_)).ptr;
  double value = 0;
  std::from_chars(buffer, p, value, std::chars_format::general);
  return value;
}

int64_t Decimal::RoundToInt64() const {
  Uint128 whole = DivideRounded(Magnitude(*this), scale_);
  if (negative_) {
    if (whole > (Uint128{1} << 63)) RaiseStandard(kErrOverflow);
    return static_cast<int64_t>(0 - static_cast<uint64_t>(whole));
  }
  if (whole > static_cast<Uint128>(INT64_MAX)) RaiseStandard(kErrOverflow);
  return static_cast<int64_t>(whole);
}

int64_t Decimal::ToCurrency() const {
  Uint128 magnitude = Magnitude(*this);
  // 96 bits times 10^4 still fits 128 bits.
  Uint128 scaled = scale_ <= 4 ? magnitude * kPow10[4 - scale_]
                               : DivideRounded(magnitude, scale_ - 4);
  if (negative_) {
    if (scaled > (Uint128{1} << 63)) RaiseStandard(kErrOverflow);
    return static_cast<int64_t>(0 - static_cast<uint64_t>(scaled));
  }
  if (scaled > static_cast<Uint128>(INT64_MAX)) RaiseStandard(kErrOverflow);
  return static_cast<int64_t>(scaled);
}

int Decimal::Compare(const Decimal& a, const Decimal& b) {
  int sign_a = a.IsZero() ? 0 : (a.negative_ ? -1 : 1);
  int sign_b = b.IsZero() ? 0 : (b.negative_ ? -1 : 1);
  if (sign_a != sign_b) return sign_a < sign_b ? -1 : 1;
  if (sign_a == 0) return 0;

  Uint128 ma = Magnitude(a);
  Uint128 mb = Magnitude(b);
  // Bring both to the larger scale. A side whose scaled magnitude would pass
  // 128 bits is the larger: the other side, unscaled, is below 2^96.
  int order = 0;
  if (a.scale_ < b.scale_) {
    Uint128 factor = kPow10[b.scale_ - a.scale_];
    if (ma > kUint128Max / factor) {
      order = 1;
    } else {
      ma *= factor;
    }
  } else if (b.scale_ < a.scale_) {
    Uint128 factor = kPow10[a.scale_ - b.scale_];
    if (mb > kUint128Max / factor) {
      order = -1;
    } else {
      mb *= factor;
    }
  }
  if (order == 0) order = ma < mb ? -1 : (ma > mb ? 1 : 0);
  return sign_a > 0 ? order : -order;
}

}  // namespace quorvel
