// Feeds arbitrary text to the lenient Base64 reader, as 8-bit characters
// and as UTF-16 code units, and checks that both readings agree (a unit past
// 255 is never an alphabet character), that only errors 5, 6 and 9 escape,
// and that the bytes round-trip through the writer.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/base64.h"
#include "quorvel/error.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

template <class Text>
std::optional<std::vector<uint8_t>> Decode(const Text& text, int* error) {
  try {
    return quorvel::mBase64::DecodeBytes(text);
  } catch (const quorvel::Error& e) {
    *error = e.number();
    Check(e.number() == 5 || e.number() == 6 || e.number() == 9);
    return std::nullopt;
  }
}

std::optional<std::vector<uint8_t>> DecodeNarrow(std::string_view text,
                                                 int* error) {
  try {
    return quorvel::mBase64::DecodeNarrow(text);
  } catch (const quorvel::Error& e) {
    *error = e.number();
    return std::nullopt;
  }
}

void RoundTrip(const std::vector<uint8_t>& bytes) {
  std::string narrow = quorvel::mBase64::EncodeNarrow(bytes);
  quorvel::String wide = quorvel::mBase64::EncodeBytes(bytes);
  Check(wide.size() == narrow.size());
  for (size_t i = 0; i < narrow.size(); ++i)
    Check(wide[i] == static_cast<unsigned char>(narrow[i]));
  if (bytes.empty()) return;
  Check(quorvel::mBase64::DecodeNarrow(narrow) == bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view narrow(reinterpret_cast<const char*>(data), size);
  // The same characters widened, so both readers must agree exactly.
  std::u16string widened(narrow.begin(), narrow.end());
  for (char16_t& c : widened) c = static_cast<unsigned char>(c);
  int narrow_error = 0, wide_error = 0;
  auto a = DecodeNarrow(narrow, &narrow_error);
  auto b = Decode(std::u16string_view(widened), &wide_error);
  Check(a == b && narrow_error == wide_error);
  if (a) RoundTrip(*a);
  RoundTrip(std::vector<uint8_t>(data, data + size));

  // Pairs of bytes as UTF-16 units: units past 255 read as outsiders.
  std::u16string units(size / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  int unit_error = 0;
  auto c = Decode(std::u16string_view(units), &unit_error);
  std::string mapped;
  for (char16_t u : units) mapped += static_cast<char>(u > 0xFF ? 0xFF : u);
  int mapped_error = 0;
  auto d = DecodeNarrow(mapped, &mapped_error);
  Check(c == d && unit_error == mapped_error);
  return 0;
}
