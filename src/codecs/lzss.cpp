// The LZSS decoder, whole or in pieces.
#include "quorvel/lzss.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "codecs/byte_input.h"
#include "quorvel/error.h"

namespace quorvel::mLZSS {

namespace {

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
