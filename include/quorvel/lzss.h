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

// Value forms. `data` is a Byte array; the bytes from index 0 to its upper
// bound are read. Return a new zero-based Byte array. Raise 9 for Empty (an
// array never allocated), a lower bound above 0, a multi-dimensional array
// or no bytes; 13 for anything that is not a Byte array; otherwise as above.
Value Encode(const Value& data);
Value Decode(const Value& data);

}  // namespace quorvel::mLZSS

#endif  // QUORVEL_LZSS_H_
