// Base64 reading of 8-bit text and of the same text widened must agree,
// raise only 5, 6 or 9, and round-trip.
#include <type_traits>
#include <utility>

#include "fuzz_util.h"
#include "quorvel/base64.h"

using namespace quorvel;
using namespace quorvel::fuzz;

namespace {

// The bytes, or the number of the error.
template <class Text>
std::pair<std::vector<uint8_t>, int32_t> Decoded(Text text) {
  std::vector<uint8_t> bytes;
  const int32_t error = ErrorOf(
      [&] {
        if constexpr (std::is_same_v<Text, std::string_view>)
          bytes = mBase64::DecodeNarrow(text);
        else
          bytes = mBase64::DecodeBytes(text);
      },
      {kErrInvalidCall, kErrOverflow, kErrSubscript});
  return {bytes, error};
}

void RoundTrip(std::span<const uint8_t> bytes) {
  const std::string narrow = mBase64::EncodeNarrow(bytes);
  Check(mBase64::EncodeBytes(bytes).view() ==
        std::u16string(narrow.begin(), narrow.end()));
  if (!bytes.empty())
    Check(Decoded(std::string_view(narrow)).first ==
          std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string widened(data, data + size);
  const auto narrow = Decoded(Narrow(data, size));
  Check(narrow == Decoded(std::u16string_view(widened)));
  if (narrow.second == 0) RoundTrip(narrow.first);
  RoundTrip({data, size});
  return 0;
}
