// MessagePack decoding raises only its own errors; what decodes encodes to
// a fixed point (non-text keys come back as text).
#include "fuzz_util.h"
#include "quorvel/msgpack.h"
#include "quorvel/value.h"

using namespace quorvel;
using namespace quorvel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Value decoded;
  size_t used = 0;
  if (ErrorOf(
          [&] { decoded = mMsgPack::DecodeAt(std::span(data, size), used); },
          {kErrInvalidCall, kErrOverflow, kErrSubscript, kErrTypeMismatch,
           kErrOutOfStack, kErrInvalidUseOfNull, kErrWrongArgumentCount,
           kErrKeyExists}) != 0)
    return 0;
  Check(used >= 1 && used <= size);
  const std::vector<uint8_t> once = mMsgPack::EncodeBytes(decoded);
  Check(!once.empty() &&
        mMsgPack::EncodeBytes(mMsgPack::DecodeBytes(once)) == once);
  return 0;
}
