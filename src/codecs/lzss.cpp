#include "quorvel/lzss.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#include "codecs/byte_input.h"
#include "quorvel/error.h"

namespace quorvel::mLZSS {

namespace {

constexpr int kHashSize = 4096;

// The chain hash of the three bytes from each of `count` positions at
// `from` (two more bytes must be readable), written to `out`. The loop has
// no dependence between positions, so the compiler vectorises it.
void HashRun(const uint8_t* from, int32_t count, uint16_t* out) {
  for (int32_t i = 0; i < count; ++i) {
    const uint32_t first = from[i];
    const uint32_t second = from[i + 1];
    out[i] = static_cast<uint16_t>(
        (((second * 17) ^ (first * 257)) & (kHashSize - 1)) ^ from[i + 2]);
  }
}

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
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
  // zero-filling the whole bound would cost more than the copy. A literal
  // also stores a spare byte after itself, hence one more byte of room.
  const std::unique_ptr<uint8_t[]> scratch(new uint8_t[n + n / 8 + 3]);
  uint8_t* o = scratch.get();

  // Every position that starts three bytes joins its hash chain, whether
  // the parse emits it as a literal, starts a reference there or passes
  // over it inside one. So a position's link (the nearest earlier position
  // with its hash) depends on the input alone, and the links are made a
  // block ahead of the parse in one tight pass, away from its branches. The
  // chain of a searched position starts at its own link.
  //
  // The walk never follows a position more than kMaxDistance back. While
  // the parse is in a block, links exist up to the block's end, so the ring
  // holds a block plus a window: a link read within reach is never one
  // that a later position has overwritten.
  //
  // Besides each position's predecessor on its chain, a link keeps the
  // predecessor's predecessor, so that the walk fetches two candidates at
  // once and waits for memory once per two. It reads the second only after
  // finding the first within reach, and then it was exact when stored.
  // Empty entries hold a position so far back that the distance test ends
  // the walk.
  constexpr int32_t kNone = INT32_MIN / 2;
  constexpr int32_t kBlock = 4096;
  constexpr int32_t kRing = 8192;
  static_assert(kRing >= kBlock + kMaxDistance &&
                std::has_single_bit(unsigned{kRing}));
  struct Link {
    int32_t first;
    int32_t second;
  };
  const std::unique_ptr<Link[]> links(new Link[kRing]);
  int32_t head[kHashSize];
  std::fill(std::begin(head), std::end(head), kNone);
  std::fill(links.get(), links.get() + kRing, Link{kNone, kNone});

  const int32_t last_hashed = static_cast<int32_t>(n) - 3;  // p + 2 < n
  const int32_t end = static_cast<int32_t>(n);
  int64_t linked = 0;  // positions below this have their links (int64_t:
                       // a block may end past INT32_MAX)
  int32_t p = 0;
  uint8_t* flag_at = o;
  unsigned flags = 0;
  int item = 0;
  while (p < end) {
    if (p >= linked) {
      const int32_t stop = static_cast<int32_t>(
          std::min<int64_t>(linked + kBlock, last_hashed + 1));
      const int32_t first = static_cast<int32_t>(linked);
      uint16_t hashes[kBlock];
      HashRun(d + first, stop - first, hashes);
      for (int32_t q = first; q < stop; ++q) {
        const uint32_t h = hashes[q - first];
        const int32_t before = head[h];
        Link& link = links[q & (kRing - 1)];
        link.first = before;
        link.second = links[before & (kRing - 1)].first;
        head[h] = q;
      }
      linked += kBlock;
    }
    if (item == 0) flag_at = o++;
    int best = 0;
    int32_t best_distance = 0;
    if (p <= last_hashed) {
      const int limit = std::min<int32_t>(kMaxMatch, end - p);
      const uint8_t* here = d + p;
      const int32_t nearest_allowed = p - kMaxDistance;
      // Candidates come nearest first and only a strictly longer match
      // replaces the best. Matches shorter than kMinMatch are never used,
      // so the walk starts as if one of kMinMatch - 1 were in hand: the
      // first candidate must agree in three bytes, and one that beats a
      // match of `best` must agree at index `best`, checked with the three
      // bytes before it in one four-byte comparison. Both filters only pass
      // over candidates that could not win, so the choice is unchanged.
      best = kMinMatch - 1;
      const uint8_t* at = d;  // d + best - 3 once a match is in hand
      // Loads are in the machine's byte order, so the three-byte mask and
      // value are laid out in memory, not built from shifts.
      uint32_t mask = 0;
      std::memset(&mask, 0xFF, 3);
      uint32_t want = 0;
      std::memcpy(&want, here, 3);
      // Returns true when the walk may stop: `c` is out of reach, or gave
      // the longest match there can be.
      const auto done_after = [&](int32_t c) {
        if (c < nearest_allowed) return true;
        if ((Load32(at + c) & mask) != want) return false;
        const int len = MatchLength(d + c, here, limit);
        if (len <= best) return false;
        best = len;
        best_distance = p - c;
        if (len == limit) return true;
        at = d + best - 3;
        mask = 0xFFFFFFFF;
        want = Load32(here + best - 3);
        return false;
      };
      // The nearest two candidates are tried apart from the rest: the
      // nearest usually wins and later ones usually do not, and separate
      // branches let the processor learn both habits.
      const Link nearest = links[p & (kRing - 1)];
      if (!done_after(nearest.first) && !done_after(nearest.second)) {
        for (int32_t c = nearest.second;;) {
          const Link link = links[c & (kRing - 1)];
          if (done_after(link.first) || done_after(link.second)) break;
          c = link.second;
        }
      }
    }
    // Literal or reference is close to a coin toss on text, so both forms
    // are written and the choice only moves the output and the input on: a
    // mispredicted branch here cost more than the spare byte store.
    const bool is_reference = best >= kMinMatch;
    o[0] = is_reference ? static_cast<uint8_t>(best_distance & 0xFF) : d[p];
    o[1] = static_cast<uint8_t>((static_cast<unsigned>(best - kMinMatch) << 4) |
                                ((best_distance >> 8) & 0x0F));
    o += is_reference ? 2 : 1;
    flags |= unsigned{!is_reference} << item;
    p += is_reference ? best : 1;
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
