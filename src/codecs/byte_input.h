// Reading a Byte array argument the way the codecs take it.
#ifndef QUORVEL_CODECS_BYTE_INPUT_H_
#define QUORVEL_CODECS_BYTE_INPUT_H_

#include <cstdint>
#include <span>

#include "quorvel/error.h"
#include "quorvel/safearray.h"
#include "quorvel/value.h"

namespace quorvel::codecs_internal {

// Returns the bytes of `data` from index 0 to its upper bound, without a
// copy. Raises 9 for Empty (an array that was never allocated), a lower
// bound above 0 and an array of more than one dimension, and 13 for anything
// that is not a Byte array. A negative lower bound leaves out the elements
// below index 0, which the codecs never read.
inline std::span<const uint8_t> BytesFromIndexZero(const Value& data) {
  if (data.IsEmpty()) RaiseStandard(kErrSubscript);
  if (!data.IsArray() || data.array().element_kind() != Kind::Byte)
    RaiseStandard(kErrTypeMismatch);
  const SafeArray& a = data.array();
  if (a.dimensions() != 1) RaiseStandard(kErrSubscript);
  int64_t lower = a.LowerBound();
  int64_t upper = a.UpperBound();
  if (lower > 0) RaiseStandard(kErrSubscript);
  if (upper < 0) return {};
  return a.bytes().subspan(static_cast<size_t>(-lower),
                           static_cast<size_t>(upper + 1));
}

}  // namespace quorvel::codecs_internal

#endif  // QUORVEL_CODECS_BYTE_INPUT_H_
