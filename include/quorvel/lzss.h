// `mLZSS`: the library's own LZSS byte-stream compression.
//
// The stream is a run of groups, each a flag byte followed by up to eight
// items. Flag bit i (least significant first) says whether item i is a
// literal byte (1) or a two-byte back reference (0): low byte of the
// distance, then (length - 3) in the high nibble and distance bits 8 to 11
// in the low nibble. Distances run from 1 to 4,095, lengths from 3 to 18, and
// a reference may overlap the bytes it produces. There is no header, no
// stored length and no checksum; the encoder's choices are fixed, so the same
// input always gives the same bytes.
//
// Stateless; every function may be called from any thread.
#ifndef QUORVEL_LZSS_H_
#define QUORVEL_LZSS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "quorvel/value.h"

namespace quorvel::mLZSS {

inline constexpr int kMinMatch = 3;
inline constexpr int kMaxMatch = 18;
inline constexpr int kMaxDistance = 4095;

// Returns the compressed stream of `data`. Raises 9 when `data` is empty.
std::vector<uint8_t> Compress(std::span<const uint8_t> data);

// Returns the bytes `stream` restores. Raises 9 when `stream` is empty, ends
// inside an item, or holds a reference to a byte before the first one
// produced (distance 0 included).
std::vector<uint8_t> Decompress(std::span<const uint8_t> stream);

// Compresses a stream that arrives in pieces, holding only what the format
// can still refer to: the bytes out are exactly those `Compress` gives for
// all the pieces together, since a reference reaches at most kMaxDistance
// back and kMaxMatch ahead and the stream has no header. Thread-compatible;
// movable, not copyable.
class Compressor {
 public:
  Compressor();
  ~Compressor();
  Compressor(Compressor&&) noexcept;
  Compressor& operator=(Compressor&&) noexcept;

  // Adds `data` to the stream and appends to `out` the compressed bytes that
  // later data can no longer change.
  void Write(std::span<const uint8_t> data, std::vector<uint8_t>& out);
  // Ends the stream and appends the rest of it to `out`; the compressor is
  // then ready for a new stream. A stream of no bytes gives no bytes (where
  // `Compress` raises 9).
  void Finish(std::vector<uint8_t>& out);

 private:
  struct State;
  void Parse(bool at_end, std::vector<uint8_t>& out);
  std::unique_ptr<State> state_;
};

// Restores a compressed stream that arrives in pieces, holding the last
// kMaxDistance bytes it restored and at most one unfinished group of the
// stream. Thread-compatible; movable, not copyable.
class Decompressor {
 public:
  Decompressor();
  ~Decompressor();
  Decompressor(Decompressor&&) noexcept;
  Decompressor& operator=(Decompressor&&) noexcept;

  // Adds `stream` bytes and appends the bytes they restore to `out` (up to
  // nine per stream byte). Raises 9 for a reference to a byte before the
  // first one restored; the stream is then damaged and the object of no
  // further use.
  void Write(std::span<const uint8_t> stream, std::vector<uint8_t>& out);
  // Ends the stream and appends the rest; raises 9 when it ends inside an
  // item. Ready for a new stream afterwards. No bytes at all restore to none
  // (where `Decompress` raises 9).
  void Finish(std::vector<uint8_t>& out);
  // The offset in the stream of the last group read: after a raise, the
  // group at fault.
  uint64_t group_offset() const;

 private:
  struct State;
  void Restore(std::span<const uint8_t> stream, bool at_end,
               std::vector<uint8_t>& out);
  std::unique_ptr<State> state_;
};

// Value forms. `data` is a Byte array; the bytes from index 0 to its upper
// bound are read. Return a new zero-based Byte array. Raise 9 for Empty (an
// array never allocated), a lower bound above 0, a multi-dimensional array
// or no bytes; 13 for anything that is not a Byte array; otherwise as above.
Value Encode(const Value& data);
Value Decode(const Value& data);

}  // namespace quorvel::mLZSS

#endif  // QUORVEL_LZSS_H_
