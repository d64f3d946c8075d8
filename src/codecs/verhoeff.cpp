#include "quorvel/verhoeff.h"

#include "quorvel/convert.h"
#include "quorvel/error.h"
#include "quorvel/value.h"

namespace quorvel::mVerhoeff {

namespace {

constexpr size_t kMaxLength = 32767;  // the digit count is a 16-bit integer

// Folds the digits of `text`, rightmost first, starting the permutation
// rows at `shift`. Raises 9 at the first character that is not a digit.
uint8_t Fold(std::u16string_view text, size_t shift) {
  if (text.size() > kMaxLength) RaiseStandard(kErrOverflow);
  uint8_t c = 0;
  for (size_t k = 0; k < text.size(); ++k) {
    const uint32_t digit = static_cast<uint32_t>(text[text.size() - 1 - k]) -
                           static_cast<uint32_t>(u'0');
    if (digit > 9) RaiseStandard(kErrSubscript);
    c = kD[c][kP[(k + shift) % 8][digit]];
  }
  return c;
}

}  // namespace

std::vector<int16_t> Digits(std::u16string_view text) {
  if (text.size() > kMaxLength) RaiseStandard(kErrOverflow);
  std::vector<int16_t> digits(text.size());
  for (size_t k = 0; k < text.size(); ++k) {
    digits[k] = static_cast<int16_t>(
        static_cast<int32_t>(text[text.size() - 1 - k]) - int32_t{u'0'});
  }
  return digits;
}

bool Validate(std::u16string_view text) {
  if (!IsNumeric(Value(text))) return false;
  return Fold(text, 0) == 0;
}

int16_t Generate(std::u16string_view text) {
  // No digits leave nothing to size the digit array by.
  if (text.empty()) RaiseStandard(kErrSubscript);
  return kInv[Fold(text, 1)];
}

}  // namespace quorvel::mVerhoeff
