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

// The encoder's parse with its hash chains, over input that may arrive in
// pieces. Positions count from the start of the bytes handed to `Run`; the
// stream form moves them back as it drops input out of reach (`Shift`).
//
// Every position that starts three bytes joins its hash chain, whether the
// parse emits it as a literal, starts a reference there or passes over it
// inside one. So a position's link (the nearest earlier position with its
// hash) depends on the input alone, and the links are made a block ahead of
// the parse in one tight pass, away from its branches. The chain of a
// searched position starts at its own link.
//
// The walk never follows a position more than kMaxDistance back. While the
// parse is in a block, links exist up to the block's end, so the ring holds
// a block plus a window: a link read within reach is never one that a later
// position has overwritten.
//
// Besides each position's predecessor on its chain, a link keeps the
// predecessor's predecessor, so that the walk fetches two candidates at once
// and waits for memory once per two. It reads the second only after finding
// the first within reach, and then it was exact when stored. Empty entries
// hold a position so far back that the distance test ends the walk.
class Parser {
 public:
  static constexpr int32_t kNone = INT32_MIN / 2;
  static constexpr int32_t kBlock = 4096;
  static constexpr int32_t kRing = 8192;
  static_assert(kRing >= kBlock + kMaxDistance &&
                std::has_single_bit(unsigned{kRing}));

  Parser() {
    std::fill(std::begin(head_), std::end(head_), kNone);
    std::fill(std::begin(links_), std::end(links_), Link{kNone, kNone});
  }

  // Parses from the current position while it is below `parse_end`,
  // writing items to `o` (the flag byte of an unfinished group stays where
  // `Rebase` or an earlier call put it); returns the end of what it wrote.
  // `d` holds `avail` input bytes, every one from kMaxDistance before the
  // position on. A match is searched only where two more bytes follow, and
  // is never longer than the bytes available: so that a piece boundary
  // changes nothing, the stream form parses only up to kMaxMatch - 1 bytes
  // before the end of what it holds, and the whole of it at the end.
  uint8_t* Run(const uint8_t* d, int32_t avail, int32_t parse_end, uint8_t* o);

  // Stores the flag byte of an unfinished group.
  void EndGroup() {
    if (item_ > 0) *flag_at_ = static_cast<uint8_t>(flags_);
  }
  // The start of the unfinished group's bytes (its flag byte), or null when
  // every group so far is finished.
  uint8_t* group_start() const { return item_ > 0 ? flag_at_ : nullptr; }
  // Says that the unfinished group's bytes now start at `flag_at`.
  void Rebase(uint8_t* flag_at) { flag_at_ = flag_at; }

  int32_t position() const { return p_; }
  // Moves every position back by `shift`, a multiple of kRing no larger
  // than the position less kMaxDistance, so that ring slots stay put.
  // Positions that fall below 0 were out of reach already; they become
  // empty entries, which end a walk exactly as they did.
  void Shift(int32_t shift) {
    const auto move = [shift](int32_t& v) {
      v = v >= shift ? v - shift : kNone;
    };
    for (int32_t& h : head_) move(h);
    for (Link& link : links_) {
      move(link.first);
      move(link.second);
    }
    p_ -= shift;
    linked_ -= shift;
  }

 private:
  struct Link {
    int32_t first;
    int32_t second;
  };

  int32_t head_[kHashSize];
  Link links_[kRing];
  int32_t p_ = 0;
  int32_t linked_ = 0;  // positions below this have their links
  unsigned flags_ = 0;
  int item_ = 0;
  uint8_t* flag_at_ = nullptr;
};

uint8_t* Parser::Run(const uint8_t* d, int32_t avail, int32_t parse_end,
                     uint8_t* o) {
  const int32_t link_end = avail - 2;  // p + 2 < avail
  int32_t p = p_;
  int32_t linked = linked_;
  unsigned flags = flags_;
  int item = item_;
  uint8_t* flag_at = flag_at_;
  Link* const links = links_;
  int32_t* const head = head_;
  while (p < parse_end) {
    if (p >= linked) {
      const int32_t stop = static_cast<int32_t>(
          std::min<int64_t>(int64_t{linked} + kBlock, link_end));
      if (stop > linked) {
        uint16_t hashes[kBlock];
        HashRun(d + linked, stop - linked, hashes);
        for (int32_t q = linked; q < stop; ++q) {
          const uint32_t h = hashes[q - linked];
          const int32_t before = head[h];
          Link& link = links[q & (kRing - 1)];
          link.first = before;
          link.second = links[before & (kRing - 1)].first;
          head[h] = q;
        }
        linked = stop;
      }
    }
    if (item == 0) flag_at = o++;
    int best = 0;
    int32_t best_distance = 0;
    if (p < link_end) {
      const int limit = std::min<int32_t>(kMaxMatch, avail - p);
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
  p_ = p;
  linked_ = linked;
  flags_ = flags;
  item_ = item;
  flag_at_ = flag_at;
  return o;
}

// The most the parse writes for `count` input bytes: every eight items cost
// one flag byte and a reference is never longer than the bytes it stands
// for, so all-literal output is the largest; a literal also stores a spare
// byte after itself.
size_t MaxParsedSize(size_t count) { return count + count / 8 + 3; }

}  // namespace

std::vector<uint8_t> Compress(std::span<const uint8_t> data) {
  const size_t n = data.size();
  if (n == 0) RaiseStandard(kErrSubscript);
  if (n > static_cast<size_t>(INT32_MAX)) RaiseStandard(kErrOverflow);
  // The stream is built in a scratch buffer of the largest size, left
  // uninitialised, and copied out at its exact length: text shrinks to
  // about a third, so zero-filling the whole bound would cost more than
  // the copy.
  const std::unique_ptr<uint8_t[]> scratch(new uint8_t[MaxParsedSize(n)]);
  const auto parser = std::make_unique<Parser>();
  const int32_t end = static_cast<int32_t>(n);
  uint8_t* o = parser->Run(data.data(), end, end, scratch.get());
  parser->EndGroup();
  return std::vector<uint8_t>(scratch.get(), o);
}

struct Compressor::State {
  Parser parser;
  // Input from kMaxDistance before the parse position on (rounded down to
  // the ring), and what has not been parsed yet.
  std::vector<uint8_t> input;
  // Output not handed out yet: the unfinished group at the front.
  std::vector<uint8_t> output;
  size_t pending = 0;  // bytes of the unfinished group in `output`
  bool wrote = false;
};

Compressor::Compressor() : state_(std::make_unique<State>()) {}
Compressor::~Compressor() = default;
Compressor::Compressor(Compressor&&) noexcept = default;
Compressor& Compressor::operator=(Compressor&&) noexcept = default;

void Compressor::Parse(bool at_end, std::vector<uint8_t>& out) {
  State& s = *state_;
  Parser& parser = s.parser;
  const int32_t avail = static_cast<int32_t>(s.input.size());
  const int32_t parse_end = at_end ? avail : avail - (kMaxMatch - 1);
  const int32_t from = parser.position();
  if (parse_end > from || at_end) {
    s.output.resize(s.pending + MaxParsedSize(std::max(parse_end - from, 0)));
    if (s.pending > 0) parser.Rebase(s.output.data());
    uint8_t* o = parser.Run(s.input.data(), avail, parse_end,
                            s.output.data() + s.pending);
    if (at_end) parser.EndGroup();
    // Everything before the unfinished group is final.
    uint8_t* group = at_end ? nullptr : parser.group_start();
    uint8_t* done = group != nullptr ? group : o;
    out.insert(out.end(), s.output.data(), done);
    s.pending = static_cast<size_t>(o - done);
    std::memmove(s.output.data(), done, s.pending);
  }
  // Input more than kMaxDistance behind the parse is never read again.
  const int32_t shift =
      (parser.position() - kMaxDistance) / Parser::kRing * Parser::kRing;
  if (shift > 0) {
    parser.Shift(shift);
    s.input.erase(s.input.begin(), s.input.begin() + shift);
  }
}

void Compressor::Write(std::span<const uint8_t> data,
                       std::vector<uint8_t>& out) {
  State& s = *state_;
  // Pieces are parsed a slice at a time so that positions stay small.
  constexpr size_t kSlice = size_t{1} << 20;
  while (!data.empty()) {
    const size_t take = std::min(data.size(), kSlice);
    s.input.insert(s.input.end(), data.begin(), data.begin() + take);
    s.wrote = true;
    data = data.subspan(take);
    Parse(false, out);
  }
}

void Compressor::Finish(std::vector<uint8_t>& out) {
  State& s = *state_;
  if (s.wrote) Parse(true, out);
  state_ = std::make_unique<State>();
}

namespace {

// A group is whole for sure when a flag byte and eight two-byte items fit.
constexpr size_t kWholeGroup = 17;
// CopyMatch may write up to 8 bytes past a reference, a whole group up to
// 8 * 18 + 8.
constexpr size_t kGroupRoom = 8 * kMaxMatch + 8;

// Returns how many bytes the groups of `in` restore, counting the items up
// to the first one that runs past the end (where restoring stops with an
// error). Before the end of the stream (`at_end` false) it stops, as
// `Restore` does, at a group that may not be whole yet.
size_t RestoredSize(const uint8_t* in, size_t m, bool at_end) {
  size_t i = 0;
  size_t total = 0;
  while (i < m && (at_end || m - i >= kWholeGroup)) {
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

// Restores the groups of `in` to `base` from `pos` on, advancing `pos`;
// `base` holds the output before, as far back as a reference may reach,
// and room for RestoredSize bytes plus kGroupRoom. Returns how many input
// bytes it used; before the end of the stream it stops at a group that may
// not be whole yet. `group` follows the offset of the group being read, so
// that after a raise it names the one at fault.
size_t Restore(const uint8_t* in, size_t m, bool at_end, uint8_t* base,
               size_t& pos, size_t& group) {
  size_t i = 0;
  while (i < m && (at_end || m - i >= kWholeGroup)) {
    group = i;
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
  return i;
}

}  // namespace

std::vector<uint8_t> Decompress(std::span<const uint8_t> stream) {
  const size_t m = stream.size();
  if (m == 0) RaiseStandard(kErrSubscript);
  // Sizing the result exactly first costs less than growing it: a short
  // walk over the flags and lengths, and one allocation.
  std::vector<uint8_t> out(RestoredSize(stream.data(), m, true) + kGroupRoom);
  size_t pos = 0;
  size_t group = 0;
  Restore(stream.data(), m, true, out.data(), pos, group);
  out.resize(pos);
  return out;
}

struct Decompressor::State {
  // The stream bytes of a group that may not be whole yet.
  std::vector<uint8_t> carry;
  // The last kMaxDistance bytes restored, then room for the next ones.
  std::vector<uint8_t> window;
  size_t history = 0;
  uint64_t consumed = 0;  // stream bytes before `carry`
  uint64_t group = 0;
};

Decompressor::Decompressor() : state_(std::make_unique<State>()) {}
Decompressor::~Decompressor() = default;
Decompressor::Decompressor(Decompressor&&) noexcept = default;
Decompressor& Decompressor::operator=(Decompressor&&) noexcept = default;

uint64_t Decompressor::group_offset() const { return state_->group; }

void Decompressor::Restore(std::span<const uint8_t> stream, bool at_end,
                           std::vector<uint8_t>& out) {
  State& s = *state_;
  const uint8_t* in = stream.data();
  size_t m = stream.size();
  if (!s.carry.empty()) {
    s.carry.insert(s.carry.end(), stream.begin(), stream.end());
    in = s.carry.data();
    m = s.carry.size();
  }
  const size_t size = RestoredSize(in, m, at_end);
  s.window.resize(s.history + size + kGroupRoom);
  size_t pos = s.history;
  size_t group = 0;
  size_t used = 0;
  try {
    used = mLZSS::Restore(in, m, at_end, s.window.data(), pos, group);
  } catch (...) {
    s.group = s.consumed + group;
    throw;
  }
  s.group = s.consumed + group;
  out.insert(out.end(), s.window.begin() + s.history, s.window.begin() + pos);
  const size_t keep = std::min<size_t>(pos, kMaxDistance);
  std::memmove(s.window.data(), s.window.data() + pos - keep, keep);
  s.history = keep;
  s.consumed += used;
  if (in == s.carry.data()) {
    s.carry.erase(s.carry.begin(), s.carry.begin() + used);
  } else {
    s.carry.assign(in + used, in + m);
  }
}

void Decompressor::Write(std::span<const uint8_t> stream,
                         std::vector<uint8_t>& out) {
  if (!stream.empty()) Restore(stream, false, out);
}

void Decompressor::Finish(std::vector<uint8_t>& out) {
  if (!state_->carry.empty()) Restore({}, true, out);
  state_ = std::make_unique<State>();
}

Value Encode(const Value& data) {
  return MakeByteArray(Compress(codecs_internal::BytesFromIndexZero(data)));
}

Value Decode(const Value& data) {
  return MakeByteArray(Decompress(codecs_internal::BytesFromIndexZero(data)));
}

}  // namespace quorvel::mLZSS
