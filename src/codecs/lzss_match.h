// The LZSS encoder's match finder: hash chains over the input, searched for
// the longest earlier match at each position the parse stops at.
#ifndef QUORVEL_CODECS_LZSS_MATCH_H_
#define QUORVEL_CODECS_LZSS_MATCH_H_

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "quorvel/lzss.h"

namespace quorvel::mLZSS {

// The longest match found at a position: `length` below kMinMatch means
// none (the position is written as a literal).
struct Match {
  int length;
  int32_t distance;
};

// Positions count from the start of the bytes handed to the parse; the
// stream form moves them back as it drops input out of reach (`Shift`).
//
// Every position that starts three bytes joins its hash chain, whether the
// parse emits it as a literal, starts a reference there or passes over it
// inside one. So a position's link (the nearest earlier position with its
// hash) depends on the input alone, and the links are made a block ahead of
// the parse in one tight pass, away from its branches. The chain of a
// searched position starts at its own link.
//
// The search never follows a position more than kMaxDistance back. While
// the parse is in a block, links exist up to the block's end, so the ring
// holds a block plus a window: a link read within reach is never one that a
// later position has overwritten.
//
// Besides each position's predecessor on its chain, a link keeps the
// predecessor's predecessor, so that the search fetches two candidates at
// once and waits for memory once per two. It reads the second only after
// finding the first within reach, and then it was exact when stored. Empty
// entries hold a position so far back that the distance test ends the
// search.
class MatchFinder {
 public:
  static constexpr int32_t kNone = INT32_MIN / 2;
  static constexpr int32_t kBlock = 4096;
  static constexpr int32_t kRing = 8192;
  static constexpr int kHashSize = 4096;
  static_assert(kRing >= kBlock + kMaxDistance &&
                std::has_single_bit(unsigned{kRing}));

  MatchFinder() {
    std::fill(std::begin(head_), std::end(head_), kNone);
    std::fill(std::begin(links_), std::end(links_), Link{kNone, kNone});
  }

  // Positions below this have their links.
  int32_t linked() const { return linked_; }

  // Links the next block of positions, up to `link_end` (the first
  // position without two bytes after it in `d`); returns the new `linked`.
  int32_t LinkNextBlock(const uint8_t* d, int32_t link_end) {
    const int32_t from = linked_;
    const int32_t stop = static_cast<int32_t>(
        std::min<int64_t>(int64_t{from} + kBlock, link_end));
    if (stop <= from) return from;
    uint16_t hashes[kBlock];
    HashRun(d + from, stop - from, hashes);
    for (int32_t q = from; q < stop; ++q) {
      const uint32_t h = hashes[q - from];
      const int32_t before = head_[h];
      Link& link = links_[q & (kRing - 1)];
      link.first = before;
      link.second = links_[before & (kRing - 1)].first;
      head_[h] = q;
    }
    linked_ = stop;
    return stop;
  }

  // Returns the longest match for position `p` of the `avail` bytes at `d`,
  // the nearest of equally long ones. `p` must have its link and two more
  // bytes after it; a match never runs past `avail`.
  [[gnu::always_inline]] Match Find(const uint8_t* d, int32_t p,
                                    int32_t avail) const;

  // Moves every position back by `shift` (see `Parser::Shift`). Positions
  // that fall below 0 were out of reach already; they become empty
  // entries, which end a search exactly as they did.
  void Shift(int32_t shift) {
    const auto move = [shift](int32_t& v) {
      v = v >= shift ? v - shift : kNone;
    };
    for (int32_t& h : head_) move(h);
    for (Link& link : links_) {
      move(link.first);
      move(link.second);
    }
    linked_ -= shift;
  }

 private:
  struct Link {
    int32_t first;
    int32_t second;
  };

  // The chain hash of the three bytes from each of `count` positions at
  // `from` (two more bytes must be readable), written to `out`. The loop
  // has no dependence between positions, so the compiler vectorises it.
  static void HashRun(const uint8_t* from, int32_t count, uint16_t* out) {
    for (int32_t i = 0; i < count; ++i) {
      const uint32_t first = from[i];
      const uint32_t second = from[i + 1];
      out[i] = static_cast<uint16_t>(
          (((second * 17) ^ (first * 257)) & (kHashSize - 1)) ^ from[i + 2]);
    }
  }

  int32_t head_[kHashSize];
  Link links_[kRing];
  int32_t linked_ = 0;  // positions below this have their links
};

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

[[gnu::always_inline]] inline Match MatchFinder::Find(const uint8_t* d,
                                                      int32_t p,
                                                      int32_t avail) const {
  const int limit = std::min<int32_t>(kMaxMatch, avail - p);
  const uint8_t* here = d + p;
  const int32_t nearest_allowed = p - kMaxDistance;
  // Candidates come nearest first and only a strictly longer match replaces
  // the best. Matches shorter than kMinMatch are never used, so the search
  // starts as if one of kMinMatch - 1 were in hand: the first candidate
  // must agree in three bytes, and one that beats a match of `best` must
  // agree at index `best`, checked with the three bytes before it in one
  // four-byte comparison. Both filters only pass over candidates that could
  // not win, so the choice is unchanged.
  Match best{kMinMatch - 1, 0};
  const uint8_t* at = d;  // d + best - 3 once a match is in hand
  // Loads are in the machine's byte order, so the three-byte mask and value
  // are laid out in memory, not built from shifts.
  uint32_t mask = 0;
  std::memset(&mask, 0xFF, 3);
  uint32_t want = 0;
  std::memcpy(&want, here, 3);
  // Returns true when the search may stop: `c` is out of reach, or gave
  // the longest match there can be.
  const auto done_after = [&](int32_t c) {
    if (c < nearest_allowed) return true;
    if ((Load32(at + c) & mask) != want) return false;
    const int len = MatchLength(d + c, here, limit);
    if (len <= best.length) return false;
    best = {len, p - c};
    if (len == limit) return true;
    at = d + len - 3;
    mask = 0xFFFFFFFF;
    want = Load32(here + len - 3);
    return false;
  };
  // The nearest two candidates are tried apart from the rest: the nearest
  // usually wins and later ones usually do not, and separate branches let
  // the processor learn both habits.
  const Link nearest = links_[p & (kRing - 1)];
  if (!done_after(nearest.first) && !done_after(nearest.second)) {
    for (int32_t c = nearest.second;;) {
      const Link link = links_[c & (kRing - 1)];
      if (done_after(link.first) || done_after(link.second)) break;
      c = link.second;
    }
  }
  return best;
}

}  // namespace quorvel::mLZSS

#endif  // QUORVEL_CODECS_LZSS_MATCH_H_
