// The output buffer of the MessagePack encoder.
#ifndef QUORVEL_CODECS_MSGPACK_WRITER_H_
#define QUORVEL_CODECS_MSGPACK_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace quorvel::mMsgPack {

// Collects the encoding in a chain of buffers and hands it to the output
// vector in one exact-size step at the end. Sizing the output up front would
// take a second walk over the whole tree, which costs more than writing it
// (a large tree does not fit in the caches), and growing the vector by
// doubling copies it over and over and may ask for more memory than the
// allocator keeps at hand. Small encodings stay in the buffer built in.
// Nothing reaches the vector unless the encoding is committed.
class Writer {
 public:
  explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Returns room for `n` bytes, which the caller must fill.
  uint8_t* Take(size_t n) {
    if (static_cast<size_t>(end_ - at_) < n) NextChunk(n);
    uint8_t* taken = at_;
    at_ += n;
    return taken;
  }
  void Byte(uint8_t b) { *Take(1) = b; }

  // Appends everything written to the output vector. Reserving and then
  // appending, rather than resizing and then copying, spares zero-filling
  // bytes that are overwritten at once.
  void Commit();

 private:
  static constexpr size_t kInline = 2048;
  static constexpr size_t kFirstChunk = 16 << 10;
  // Larger buffers would come straight from the system, fresh pages and
  // all, on every call.
  static constexpr size_t kLargestChunk = 64 << 10;

  struct Chunk {
    const uint8_t* data;
    size_t used;
  };

  // Starts a new chunk with room for at least `n` bytes.
  void NextChunk(size_t n);

  std::vector<uint8_t>& out_;
  uint8_t inline_[kInline];
  uint8_t* chunk_start_ = inline_;
  uint8_t* at_ = inline_;
  uint8_t* end_ = inline_ + kInline;
  size_t next_size_ = kFirstChunk;
  std::vector<Chunk> full_;  // in order, before the one being written
  std::vector<std::unique_ptr<uint8_t[]>> owned_;
};

}  // namespace quorvel::mMsgPack

#endif  // QUORVEL_CODECS_MSGPACK_WRITER_H_
