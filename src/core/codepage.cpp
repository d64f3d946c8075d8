#include "quorvel/codepage.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "quorvel/error.h"

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

// Runs of ASCII, by far the most common text, go eight (or four) units at
// a time; Windows-1252 agrees with Latin-1 outside 0x80..0x9F, so only
// those few characters need the table.
void NarrowToAnsi(std::u16string_view text, uint8_t* to) {
  const char16_t* from = text.data();
  const size_t n = text.size();
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 8 <= n; i += 8) {
    const __m128i units =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
    const __m128i high = _mm_and_si128(units, _mm_set1_epi16(-0x80));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) ==
        0xFFFF) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(to + i),
                       _mm_packus_epi16(units, units));
    } else {
      for (size_t k = i; k < i + 8; ++k) to[k] = AnsiFromUnit(from[k]);
    }
  }
#endif
  for (; i + 4 <= n; i += 4) {
    uint64_t units;
    std::memcpy(&units, from + i, 8);
    if ((units & 0xFF80FF80FF80FF80u) == 0) {
      for (size_t k = i; k < i + 4; ++k) to[k] = static_cast<uint8_t>(from[k]);
    } else {
      for (size_t k = i; k < i + 4; ++k) to[k] = AnsiFromUnit(from[k]);
    }
  }
  for (; i < n; ++i) to[i] = AnsiFromUnit(from[i]);
}

void AppendAnsi(std::u16string_view text, std::vector<uint8_t>& out) {
  const size_t start = out.size();
  out.resize(start + text.size());
  NarrowToAnsi(text, out.data() + start);
}

std::vector<uint8_t> ToAnsi(std::u16string_view text) {
  std::vector<uint8_t> out;
  AppendAnsi(text, out);
  return out;
}

String FromAnsi(std::span<const uint8_t> bytes) {
  return String::Build(bytes.size(), [&](char16_t* dst) {
    const uint8_t* from = bytes.data();
    const size_t n = bytes.size();
    size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time while none is in 0x80..0x9F: every other
    // byte is its own code point.
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
      const __m128i v =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
      const __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8(-0x80));
      const __m128i in_table =
          _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(0x1F)), shifted);
      if (_mm_movemask_epi8(in_table) != 0) {
        for (size_t k = i; k < i + 16; ++k) dst[k] = UnitFromAnsi(from[k]);
        continue;
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                       _mm_unpacklo_epi8(v, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 8),
                       _mm_unpackhi_epi8(v, zero));
    }
#endif
    for (; i < n; ++i) dst[i] = UnitFromAnsi(from[i]);
  });
}

std::optional<Unmappable> FindUnmappable(std::u16string_view text) {
  size_t position = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    ++position;
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) continue;
    // '?' is the lossy stand-in, so only a unit that is '?' itself maps
    // to it honestly.
    if (AnsiFromUnit(unit) != '?') continue;
    char32_t character = unit;
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      character = 0x10000 + ((char32_t{unit} - 0xD800) << 10) +
                  (char32_t{text[i + 1]} - 0xDC00);
    }
    return Unmappable{i, position, character};
  }
  return std::nullopt;
}

std::vector<uint8_t> ToAnsiExact(std::u16string_view text) {
  const std::optional<Unmappable> bad = FindUnmappable(text);
  if (!bad) return ToAnsi(text);
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X",
                static_cast<unsigned>(bad->character));
  std::u16string why = u"Character ";
  why.append(code, code + std::char_traits<char>::length(code));
  const bool surrogate = bad->character >= 0xD800 && bad->character < 0xE000;
  if (!surrogate) {
    why += u" (";
    why += text.substr(bad->index, bad->character > 0xFFFF ? 2 : 1);
    why += u")";
  }
  why += u" at position ";
  const std::string digits = std::to_string(bad->position);
  why.append(digits.begin(), digits.end());
  why += u" has no Windows-1252 byte";
  ErrorRaise(kErrInvalidCall, u"", why);
}

}  // namespace quorvel
