// `mLZSS`: the library's own LZSS byte-stream compression.
//
// The stream is a run of groups, each a flag byte followed by up to eight
// items. Flag bit i (least significant first) says whether item i is a
// literal byte (1) or a two-byte back reference (0): low byte of the
// distance, then (length - 3) in the high nibble and distance bits 8 to 11
// in the low nibble. Distances run from 1 to 4,095, lengths from 3 to 18, and
// a reference may overlap the bytes it produces. There is no header, no
// stored length and no checksum; the encoder's choices are fixed, so the same
// input always gives the same bytes. A frame (below) adds a magic, the
// length and a CRC-32 around the same stream.
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

// ---------------------------------------------------------------- frames
//
// A frame wraps the stream with what the stream lacks, so that a cut or a
// changed byte is refused instead of restored into other bytes:
//
//   kFrameMagic | the stream | length | CRC-32
//
// `length` is the number of bytes the stream restores and `CRC-32` their
// CRC-32 (the one of zlib, gzip and PNG), both unsigned little-endian, 8 and
// 4 bytes (kFrameTrailerSize in all). The stream ends where the trailer
// begins, 12 bytes before the end of the frame; data of no bytes has a
// frame of 23.
//
// No stream can begin like the magic: a stream's first item is a literal,
// so its first byte is odd, and the magic's first byte is even. Nor does a
// change of the magic's first byte to any odd value leave a stream that
// restores: the next ten bytes then always hold a reference to a byte
// before the first one, wherever the flag bits put it.
inline constexpr uint8_t kFrameMagic[] = {0x8E, 'Q',  'L',  'Z',  'S', 'S',
                                          '1',  '\r', '\n', 0x1A, '\n'};
inline constexpr size_t kFrameMagicSize = sizeof kFrameMagic;
inline constexpr size_t kFrameTrailerSize = 12;

// Returns the frame of `data`; data of no bytes has one too.
std::vector<uint8_t> CompressFrame(std::span<const uint8_t> data);

// Returns the bytes `frame` restores. Raises 9, source "LZSS", with the
// offset in the frame and the reason, when it does not begin with the magic,
// ends before its trailer, holds a damaged stream, or restores a length or
// a CRC-32 other than its trailer's: no cut and no changed byte goes
// unnoticed but one that a CRC-32 misses (one in 2^32 of the changes that
// keep the length).
std::vector<uint8_t> DecompressFrame(std::span<const uint8_t> frame);

// Writes a frame that arrives in pieces, through a Compressor: the magic
// before the first piece's stream, the trailer at the end. Holds what the
// Compressor holds. Thread-compatible; movable, not copyable.
class FrameCompressor {
 public:
  FrameCompressor();
  ~FrameCompressor();
  FrameCompressor(FrameCompressor&&) noexcept;
  FrameCompressor& operator=(FrameCompressor&&) noexcept;

  // Adds `data` and appends to `out` what of the frame is final.
  void Write(std::span<const uint8_t> data, std::vector<uint8_t>& out);
  // Ends the frame and appends the rest of it; ready for a new frame
  // afterwards. A frame written with no bytes at all is still a frame.
  void Finish(std::vector<uint8_t>& out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Restores a frame that arrives in pieces, through a Decompressor, holding
// back the last kFrameTrailerSize bytes seen, which may be the trailer.
// Raises as DecompressFrame, as soon as the fault is known: a bad magic or
// a damaged stream in Write, the rest in Finish. What was appended to
// `out` before a raise is not to be trusted; after one the object is of no
// further use. Thread-compatible; movable, not copyable.
class FrameDecompressor {
 public:
  FrameDecompressor();
  ~FrameDecompressor();
  FrameDecompressor(FrameDecompressor&&) noexcept;
  FrameDecompressor& operator=(FrameDecompressor&&) noexcept;

  // Adds frame bytes and appends the bytes they restore to `out`.
  void Write(std::span<const uint8_t> frame, std::vector<uint8_t>& out);
  // Ends the frame, appends the rest and checks the trailer. Ready for a
  // new frame afterwards.
  void Finish(std::vector<uint8_t>& out);

 private:
  struct State;
  void Feed(std::span<const uint8_t> stream, bool at_end,
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
