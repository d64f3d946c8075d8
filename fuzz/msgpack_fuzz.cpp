// Feeds arbitrary bytes to the MessagePack decoder. Whatever decodes must
// encode, and the encoding must be stable: decoding it and encoding again
// gives the same bytes. Failures may only be the decoder's own errors and
// the conversions it relies on for keys and dates.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "quorvel/error.h"
#include "quorvel/msgpack.h"
#include "quorvel/value.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Expected(int32_t number) {
  switch (number) {
    case quorvel::kErrInvalidCall:         // unsupported type byte or sub-type
    case quorvel::kErrOverflow:            // a date outside the date range
    case quorvel::kErrSubscript:           // a read past the end
    case quorvel::kErrTypeMismatch:        // a key that is not text
    case quorvel::kErrOutOfStack:          // nesting too deep
    case quorvel::kErrInvalidUseOfNull:    // a Null key
    case quorvel::kErrWrongArgumentCount:  // a container as a key
    case quorvel::kErrKeyExists:           // a repeated key
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> in(data, size);
  quorvel::Value decoded;
  size_t used = 0;
  try {
    decoded = quorvel::mMsgPack::DecodeAt(in, used);
  } catch (const quorvel::Error& e) {
    Check(Expected(e.number()));
    return 0;
  }
  Check(used >= 1 && used <= size);
  const std::vector<uint8_t> once = quorvel::mMsgPack::EncodeBytes(decoded);
  // Only keys can change form (a non-text key comes back as text), so the
  // first encoding need not match the input, but it must be a fixed point.
  Check(!once.empty());
  const quorvel::Value again = quorvel::mMsgPack::DecodeBytes(once);
  Check(quorvel::mMsgPack::EncodeBytes(again) == once);
  return 0;
}
