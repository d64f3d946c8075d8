// LZSS decoding fails with 9 alone; compression round-trips within its
// worst-case growth.
#include "fuzz_util.h"
#include "quorvel/lzss.h"

using namespace quorvel;
using namespace quorvel::fuzz;

namespace {

void RoundTrip(std::span<const uint8_t> data) {
  if (data.empty()) return;
  const std::vector<uint8_t> packed = mLZSS::Compress(data);
  Check(packed.size() <= data.size() + data.size() / 8 + 1);
  const std::vector<uint8_t> back = mLZSS::Decompress(packed);
  Check(std::equal(back.begin(), back.end(), data.begin(), data.end()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> in(data, size);
  ErrorOf([&] { RoundTrip(mLZSS::Decompress(in)); }, {kErrSubscript});
  RoundTrip(in);
  return 0;
}
