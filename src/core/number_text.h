// Reading decimal number text, shared by `ParseNumber` and `Decimal::Parse`
// so that the two accept exactly the same forms.
#ifndef QUORVEL_CORE_NUMBER_TEXT_H_
#define QUORVEL_CORE_NUMBER_TEXT_H_

#include <cstdint>
#include <string_view>

#include "quorvel/value.h"

namespace quorvel::internal {

// The blanks that may surround a number or a date: space, tab, CR, LF.
inline bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

std::u16string_view TrimBlanks(std::u16string_view text);

// Decimal number text split into its parts; the digit views point into the
// text that was read. The value is
// (-1)^negative * int_digits.frac_digits * 10^exponent.
struct DecimalParts {
  bool negative = false;
  std::u16string_view int_digits;
  std::u16string_view frac_digits;
  // Saturates at +-kMaxExponent, far beyond any representable value, so
  // that absurd exponents cannot overflow the arithmetic of the readers.
  int64_t exponent = 0;
};

inline constexpr int64_t kMaxExponent = 1000000000;

// Splits `text` (blanks around allowed) into its parts: one leading or
// trailing sign, digits with at most one '.', at least one digit, an
// optional exponent (e or E, an optional sign, at least one digit). Returns
// false when the text is not of that form.
bool LexDecimal(std::u16string_view text, DecimalParts* parts);

// `ParseNumber` without the raise: sets `*out` and returns 0, or returns the
// error number (13 or 6) that `ParseNumber` raises. For tests of text that
// must not cost an exception.
int32_t TryParseNumber(std::u16string_view text, Value* out);

}  // namespace quorvel::internal

#endif  // QUORVEL_CORE_NUMBER_TEXT_H_
