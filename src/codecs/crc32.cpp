// CRC-32 by carry-less multiplication where the processor has it, and by
// sixteen tables of 256 entries elsewhere and for the odd bytes. The tables
// alone manage under a gigabyte a second here, which the LZSS frame would
// pay on every byte it compresses; folding with PCLMULQDQ runs several times
// faster and so costs the frame next to nothing.
#include "codecs/crc32.h"

#include <array>
#include <cstddef>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUORVEL_CRC32_CLMUL 1
#endif

namespace quorvel::codecs_internal {

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

// kTables[0] is the byte-at-a-time table; kTables[s][b] is the CRC state
// after byte b followed by s zero bytes, so that sixteen bytes fold at once.
constexpr std::array<std::array<uint32_t, 256>, 16> kTables = [] {
  std::array<std::array<uint32_t, 256>, 16> t{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t c = b;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? kPolynomial ^ (c >> 1) : c >> 1;
    t[0][b] = c;
  }
  for (size_t s = 1; s < t.size(); ++s) {
    for (uint32_t b = 0; b < 256; ++b)
      t[s][b] = (t[s - 1][b] >> 8) ^ t[0][t[s - 1][b] & 0xFF];
  }
  return t;
}();

inline uint32_t Load32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
         uint32_t{p[3]} << 24;
}

// Advances the CRC register (without the inversions at either end) over
// `n` bytes.
uint32_t UpdateByTables(uint32_t crc, const uint8_t* p, size_t n) {
  const auto& t = kTables;
  for (; n >= 16; p += 16, n -= 16) {
    const uint32_t a = Load32(p) ^ crc;
    const uint32_t b = Load32(p + 4);
    const uint32_t c = Load32(p + 8);
    const uint32_t d = Load32(p + 12);
    crc = t[15][a & 0xFF] ^ t[14][a >> 8 & 0xFF] ^ t[13][a >> 16 & 0xFF] ^
          t[12][a >> 24] ^ t[11][b & 0xFF] ^ t[10][b >> 8 & 0xFF] ^
          t[9][b >> 16 & 0xFF] ^ t[8][b >> 24] ^ t[7][c & 0xFF] ^
          t[6][c >> 8 & 0xFF] ^ t[5][c >> 16 & 0xFF] ^ t[4][c >> 24] ^
          t[3][d & 0xFF] ^ t[2][d >> 8 & 0xFF] ^ t[1][d >> 16 & 0xFF] ^
          t[0][d >> 24];
  }
  for (; n > 0; --n) crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return crc;
}

#ifdef QUORVEL_CRC32_CLMUL

// The folding constants of the reflected polynomial: x^(4*128+32) and
// x^(4*128-32) mod P for folding four blocks at once, x^(128+32) and
// x^(128-32) for one block, x^64 for the last 64 bits, and P itself with
// its Barrett quotient floor(x^64 / P), each bit-reflected.
constexpr int64_t kFold4Low = 0x154442BD4, kFold4High = 0x1C6E41596;
constexpr int64_t kFold1Low = 0x1751997D0, kFold1High = 0xCCAA009E;
constexpr int64_t kFold64 = 0x163CD6124;
constexpr int64_t kPoly = 0x1DB710641, kBarrett = 0x1F7011641;

__attribute__((target("pclmul"))) inline __m128i Fold(__m128i x, __m128i k,
                                                      __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
  const __m128i high = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// Advances the CRC register over `n` bytes, n at least 64 and a multiple
// of 16: four 128-bit lanes fold forward 64 bytes at a time, then into one,
// which is reduced to 32 bits.
__attribute__((target("pclmul"))) uint32_t UpdateByFolding(uint32_t crc,
                                                           const uint8_t* p,
                                                           size_t n) {
  const auto load = [](const uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  };
  __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = load(p + 16);
  __m128i x3 = load(p + 32);
  __m128i x4 = load(p + 48);
  p += 64;
  n -= 64;
  const __m128i k4 = _mm_set_epi64x(kFold4High, kFold4Low);
  for (; n >= 64; p += 64, n -= 64) {
    x1 = Fold(x1, k4, load(p));
    x2 = Fold(x2, k4, load(p + 16));
    x3 = Fold(x3, k4, load(p + 32));
    x4 = Fold(x4, k4, load(p + 48));
  }
  const __m128i k1 = _mm_set_epi64x(kFold1High, kFold1Low);
  x1 = Fold(x1, k1, x2);
  x1 = Fold(x1, k1, x3);
  x1 = Fold(x1, k1, x4);
  for (; n >= 16; p += 16, n -= 16) x1 = Fold(x1, k1, load(p));
  // 128 bits to 64, appending the 32 zero bits a CRC implies.
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(k1, x1, 0x01));
  const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
  const __m128i fold64 = _mm_set_epi64x(0, kFold64);
  x1 = _mm_xor_si128(
      _mm_srli_si128(x1, 4),
      _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), fold64, 0x00));
  // Barrett reduction, 64 bits to 32.
  const __m128i poly = _mm_set_epi64x(kBarrett, kPoly);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
  x1 = _mm_xor_si128(x1, t);
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x1, 4)));
}

bool HasClmul() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") != 0;
  }();
  return has;
}

#endif  // QUORVEL_CRC32_CLMUL

}  // namespace

uint32_t Crc32(std::span<const uint8_t> data, uint32_t crc) {
  const uint8_t* p = data.data();
  size_t n = data.size();
  crc = ~crc;
#ifdef QUORVEL_CRC32_CLMUL
  if (n >= 64 && HasClmul()) {
    const size_t folded = n & ~size_t{15};
    crc = UpdateByFolding(crc, p, folded);
    p += folded;
    n -= folded;
  }
#endif
  return ~UpdateByTables(crc, p, n);
}

}  // namespace quorvel::codecs_internal
