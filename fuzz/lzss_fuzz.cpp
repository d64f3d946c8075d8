// Feeds arbitrary bytes to the LZSS decoder, and compresses them to check
// that they come back. The decoder may only fail with error 9; when it
// succeeds, what it restored must survive its own round trip too.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "quorvel/error.h"
#include "quorvel/lzss.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void RoundTrip(std::span<const uint8_t> data) {
  if (data.empty()) return;
  std::vector<uint8_t> packed = quorvel::mLZSS::Compress(data);
  Check(packed.size() <= data.size() + data.size() / 8 + 1);
  std::vector<uint8_t> back = quorvel::mLZSS::Decompress(packed);
  Check(back.size() == data.size() &&
        std::equal(back.begin(), back.end(), data.begin()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> in(data, size);
  try {
    std::vector<uint8_t> restored = quorvel::mLZSS::Decompress(in);
    RoundTrip(restored);
  } catch (const quorvel::Error& e) {
    Check(e.number() == quorvel::kErrSubscript);
  }
  RoundTrip(in);
  return 0;
}
