// `Decimal`: the 96-bit scaled decimal number of a Value.
#ifndef QUORVEL_DECIMAL_H_
#define QUORVEL_DECIMAL_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// A 96-bit unsigned magnitude, a sign and a power-of-ten scale 0 to 28: the
// value is (-1)^negative * magnitude / 10^scale. Negative zero compares equal
// to zero. A plain value type.
class Decimal {
 public:
  static constexpr uint8_t kMaxScale = 28;

  constexpr Decimal() = default;
  // Builds the value from its fields; `scale` above 28 is clamped to 28.
  constexpr Decimal(uint32_t hi, uint64_t lo, uint8_t scale, bool negative)
      : lo_(lo),
        hi_(hi),
        scale_(scale > kMaxScale ? kMaxScale : scale),
        negative_(negative) {}

  static Decimal FromInt64(int64_t value);
  // Returns the Currency amount (scaled by 10,000) as a Decimal of scale 4
  // with trailing zeros dropped.
  static Decimal FromCurrency(int64_t scaled);
  // Converts as the platform does: the double rounded to 15 significant
  // digits. Raises 6 for a value outside the Decimal range, NaN or infinity.
  static Decimal FromDouble(double value);
  // As FromDouble with 7 significant digits.
  static Decimal FromSingle(float value);
  // Reads decimal text: blanks around, one leading or trailing sign, digits
  // with at most one '.', an optional exponent. Digits beyond what 96 bits
  // and scale 28 can hold are rounded half to even. Returns nullopt when the
  // text is not a number and raises 6 when it is too large.
  static std::optional<Decimal> Parse(std::u16string_view text);

  uint32_t hi() const { return hi_; }
  uint64_t lo() const { return lo_; }
  uint8_t scale() const { return scale_; }
  bool negative() const { return negative_; }
  bool IsZero() const { return hi_ == 0 && lo_ == 0; }

  // Returns the exact text: plain digits, '.', no exponent, trailing zeros
  // after the point dropped, "-" for negatives, "0" for zero.
  std::u16string ToText() const;
  double ToDouble() const;
  // Rounds half to even to a whole number; raises 6 outside int64.
  int64_t RoundToInt64() const;
  // Rounds half to even to 4 places; raises 6 outside the Currency range.
  int64_t ToCurrency() const;

  // Returns -1, 0 or 1.
  static int Compare(const Decimal& a, const Decimal& b);
  friend bool operator==(const Decimal& a, const Decimal& b) {
    return Compare(a, b) == 0;
  }
  friend bool operator<(const Decimal& a, const Decimal& b) {
    return Compare(a, b) < 0;
  }

 private:
  uint64_t lo_ = 0;
  uint32_t hi_ = 0;
  uint8_t scale_ = 0;
  bool negative_ = false;
};

}  // namespace quorvel

#endif  // QUORVEL_DECIMAL_H_
