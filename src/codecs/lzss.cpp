#include "quorvel/lzss.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

#include "codecs/byte_input.h"
#include "quorvel/error.h"

namespace quorvel::mLZSS {

namespace {

constexpr int kHashSize = 4096;
// The chain walk never follows a position more than kMaxDistance back, so
// the chain links of the last 4,096 positions are all it can reach: a ring
// of that size gives exactly the choices of one link per input position.
constexpr int kRingSize = 4096;

// The hash of the first two bytes, by their 16 bits as one little-endian
// load reads them: the encoder hashes every input position, and a table
// look-up is a fraction of the arithmetic.
constexpr auto kPairHash = [] {
  std::array<uint16_t, 65536> table{};
  for (uint32_t pair = 0; pair < 65536; ++pair) {
    const uint32_t first = pair & 0xFF;
    const uint32_t second = pair >> 8;
    table[pair] = static_cast<uint16_t>(((second * 17) ^ (first * 257)) &
                                        (kHashSize - 1));
  }
  return table;
}();

inline uint32_t Hash(const uint8_t* s) {
  uint16_t pair;
  std::memcpy(&pair, s, 2);
  if constexpr (std::endian::native != std::endian::little)
    pair = static_cast<uint16_t>(pair << 8 | pair >> 8);
  // The third byte is below 4,096, so the table's masking covers it too.
  return kPairHash[pair] ^ uint32_t { s[2] };
}

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Returns how many leading bytes of `a` and `b` agree, at most `limit`.
// `a` lies before `b`, so whatever can be read at `b` can be read at `a`.
inline int MatchLength(const uint8_t* a, const uint8_t* b, int limit) {
  if (limit == kMaxMatch) {
    uint64_t x = Load64(a) ^ Load64(b);
    if (x != 0) return __builtin_ctzll(x) >> 3;
    x = Load64(a + 8) ^ Load64(b + 8);
    if (x != 0) return 8 + (__builtin_ctzll(x) >> 3);
    if (a[16] != b[16]) return 16;
    return a[17] != b[17] ? 17 : 18;
  }
  int j = 0;
  while (j < limit && a[j] == b[j]) ++j;
  return j;
}

[[noreturn]] void BadStream() { RaiseStandard(kErrSubscript); }

// Copies a reference of `length` bytes from `distance` back. The caller has
// made room for kMaxMatch + 8 bytes at `dst`; bytes past `length` may be
// overwritten with anything.
inline void CopyMatch(uint8_t* dst, size_t distance, size_t length) {
  const uint8_t* src = dst - distance;
  if (distance >= 8) {
    // Each 8-byte step reads only bytes written before it, so overlapping
    // references at distance 8 or more copy correctly in steps.
    std::memcpy(dst, src, 8);
    std::memcpy(dst + 8, src + 8, 8);
    if (length > 16) std::memcpy(dst + 16, src + 16, 8);
  } else if (distance == 1) {
    std::memset(dst, *src, kMaxMatch);
  } else {
    for (size_t k = 0; k < length; ++k) dst[k] = src[k];
  }
}

}  // namespace

std::vector<uint8_t> Compress(std::span<const uint8_t> data) {
  const size_t n = data.size();
  if (n == 0) RaiseStandard(kErrSubscript);
  if (n > static_cast<size_t>(INT32_MAX)) RaiseStandard(kErrOverflow);
  const uint8_t* d = data.data();

  // Every eight items cost one flag byte; a reference is never longer than
  // the bytes it stands for, so all-literal output is the largest. The
  // stream is built in a scratch buffer of that size, left uninitialised,
  // and copied out at its exact length: text shrinks to about a third, so
  // zero-filling the whole bound would cost more than the copy.
  const std::unique_ptr<uint8_t[]> scratch(new uint8_t[n + n / 8 + 2]);
  uint8_t* o = scratch.get();

  // Empty entries hold a position so far back that the distance test ends
  // the walk, which then needs one comparison per candidate.
  //
  // Besides each position's predecessor on its chain, `prev2` keeps the
  // predecessor's predecessor, so that the walk fetches two links at once
  // and waits for memory once per two candidates. A link read from a
  // position more than 4,095 back may have been overwritten in the ring,
  // but the walk never follows one: it reads `prev2` of a position only
  // after finding `prev` of it within reach, and then both were exact when
  // stored.
  constexpr int32_t kNone = INT32_MIN / 2;
  int32_t head[kHashSize];
  int32_t prev[kRingSize];
  int32_t prev2[kRingSize];
  std::fill(std::begin(head), std::end(head), kNone);
  std::fill(std::begin(prev), std::end(prev), kNone);

  const int32_t last_hashed = static_cast<int32_t>(n) - 3;  // p + 2 < n
  auto insert = [&](int32_t pos, uint32_t h) {
    const int32_t before = head[h];
    prev[pos & (kRingSize - 1)] = before;
    prev2[pos & (kRingSize - 1)] = prev[before & (kRingSize - 1)];
    head[h] = pos;
  };

  int32_t p = 0;
  const int32_t end = static_cast<int32_t>(n);
  uint8_t* flag_at = o;
  unsigned flags = 0;
  int item = 0;
  while (p < end) {
    if (item == 0) flag_at = o++;
    int best = 0;
    int32_t best_distance = 0;
    uint32_t h = 0;
    if (p <= last_hashed) {
      h = Hash(d + p);
      const int limit = std::min<int32_t>(kMaxMatch, end - p);
      const uint8_t* here = d + p;
      const int32_t nearest_allowed = p - kMaxDistance;
      // Candidates come nearest first; only a strictly longer match
      // replaces the best, and a longer one must agree at index `best`.
      const uint8_t* at_best = d;  // d + best
      uint8_t want = here[0];
      // Returns true when the walk may stop: `c` is out of reach, or gave
      // the longest match there can be.
      const auto done_after = [&](int32_t c) {
        if (c < nearest_allowed) return true;
        if (at_best[c] != want) return false;
        const int len = MatchLength(d + c, here, limit);
        if (len <= best) return false;
        best = len;
        best_distance = p - c;
        if (len == limit) return true;
        at_best = d + best;
        want = here[best];
        return false;
      };
      int32_t c = head[h];
      if (!done_after(c)) {
        for (;;) {
          const int32_t c1 = prev[c & (kRingSize - 1)];
          const int32_t c2 = prev2[c & (kRingSize - 1)];
          if (done_after(c1) || done_after(c2)) break;
          c = c2;
        }
      }
    }
    if (best < kMinMatch) {
      flags |= 1u << item;
      *o++ = d[p];
      if (p <= last_hashed) insert(p, h);
      ++p;
    } else {
      *o++ = static_cast<uint8_t>(best_distance & 0xFF);
      *o++ = static_cast<uint8_t>(((best - kMinMatch) << 4) |
                                  ((best_distance >> 8) & 0x0F));
      insert(p, h);
      const int32_t stop = std::min(p + best, last_hashed + 1);
      for (int32_t q = p + 1; q < stop; ++q) insert(q, Hash(d + q));
      p += best;
    }
    if (++item == 8) {
      *flag_at = static_cast<uint8_t>(flags);
      flags = 0;
      item = 0;
    }
  }
  if (item > 0) *flag_at = static_cast<uint8_t>(flags);
  return std::vector<uint8_t>(scratch.get(), o);
}

namespace {

// Returns how many bytes the stream restores, counting the items up to the
// first one that runs past the end (where decoding stops with an error).
size_t RestoredSize(const uint8_t* in, size_t m) {
  size_t i = 0;
  size_t total = 0;
  while (i < m) {
    unsigned flags = in[i++];
    if (flags == 0xFF && m - i >= 8) {
      i += 8;
      total += 8;
      continue;
    }
    for (int item = 0; item < 8; ++item, flags >>= 1) {
      if (item > 0 && i >= m) break;
      if (flags & 1) {
        ++i;
        ++total;
      } else {
        if (i + 1 >= m) return total;
        total += (in[i + 1] >> 4) + kMinMatch;
        i += 2;
      }
    }
  }
  return total;
}

}  // namespace

std::vector<uint8_t> Decompress(std::span<const uint8_t> stream) {
  const size_t m = stream.size();
  if (m == 0) RaiseStandard(kErrSubscript);
  const uint8_t* in = stream.data();

  // Sizing the result exactly first costs less than growing it: a short
  // walk over the flags and lengths, and one allocation. CopyMatch may write
  // up to 8 bytes past a reference, a whole group up to 8 * 18 + 8.
  constexpr size_t kGroupRoom = 8 * kMaxMatch + 8;
  const size_t total = RestoredSize(in, m);
  std::vector<uint8_t> out(total + kGroupRoom);
  uint8_t* base = out.data();
  size_t pos = 0;

  size_t i = 0;
  while (i < m) {
    unsigned flags = in[i++];
    if (m - i >= 16) {
      // Eight items of at most two bytes each are all in the input.
      for (int item = 0; item < 8; ++item, flags >>= 1) {
        if (flags & 1) {
          base[pos++] = in[i++];
        } else {
          const size_t distance = (size_t{in[i + 1] & 0x0Fu} << 8) | in[i];
          const size_t length = (in[i + 1] >> 4) + kMinMatch;
          i += 2;
          if (distance == 0 || distance > pos) BadStream();
          CopyMatch(base + pos, distance, length);
          pos += length;
        }
      }
      continue;
    }
    // The end of the stream: the item right after a flag byte is always
    // read, later ones only while input remains.
    for (int item = 0; item < 8; ++item, flags >>= 1) {
      if (item > 0 && i >= m) break;
      if (flags & 1) {
        if (i >= m) BadStream();
        base[pos++] = in[i++];
      } else {
        if (i + 1 >= m) BadStream();
        const size_t distance = (size_t{in[i + 1] & 0x0Fu} << 8) | in[i];
        const size_t length = (in[i + 1] >> 4) + kMinMatch;
        i += 2;
        if (distance == 0 || distance > pos) BadStream();
        CopyMatch(base + pos, distance, length);
        pos += length;
      }
    }
  }
  out.resize(pos);
  return out;
}

Value Encode(const Value& data) {
  return MakeByteArray(Compress(codecs_internal::BytesFromIndexZero(data)));
}

Value Decode(const Value& data) {
  return MakeByteArray(Decompress(codecs_internal::BytesFromIndexZero(data)));
}

}  // namespace quorvel::mLZSS
