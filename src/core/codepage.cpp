#include "quorvel/codepage.h"

#include <array>

namespace quorvel {

namespace {

// Bytes 0x80 to 0x9F of the code page. The five it leaves unassigned map to
// the code points of the same value, so every byte round-trips.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

uint8_t AnsiFromUnit(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
    return static_cast<uint8_t>(unit);
  for (size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == unit) return static_cast<uint8_t>(0x80 + i);
  }
  return '?';
}

char16_t UnitFromAnsi(uint8_t byte) {
  if (byte >= 0x80 && byte < 0xA0) return kHighControls[byte - 0x80];
  return byte;
}

void AppendAnsi(std::u16string_view text, std::vector<uint8_t>& out) {
  const size_t start = out.size();
  out.resize(start + text.size());
  uint8_t* dst = out.data() + start;
  for (char16_t unit : text) {
    *dst++ = unit < 0x80 ? static_cast<uint8_t>(unit) : AnsiFromUnit(unit);
  }
}

std::vector<uint8_t> ToAnsi(std::u16string_view text) {
  std::vector<uint8_t> out;
  AppendAnsi(text, out);
  return out;
}

String FromAnsi(std::span<const uint8_t> bytes) {
  return String::Build(bytes.size(), [&](char16_t* dst) {
    for (uint8_t b : bytes) *dst++ = UnitFromAnsi(b);
  });
}

}  // namespace quorvel
