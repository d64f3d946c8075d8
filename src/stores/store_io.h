// What both database files need to reach their bytes: little-endian fields
// and a forward read window for walks over the records.
#ifndef QUORVEL_SRC_STORES_STORE_IO_H_
#define QUORVEL_SRC_STORES_STORE_IO_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include "stores/db_file.h"

namespace quorvel::internal {

// Every record of both files starts with this, little-endian; a writer that
// finds the end of a file by looking at its next byte relies on the first
// byte (0x5F) not being 0.
inline constexpr uint16_t kSignature = 2911;
// Positions in both files are signed 32-bit.
inline constexpr int64_t kMaxPosition = std::numeric_limits<int32_t>::max();

inline int32_t Get32(const uint8_t* p) {
  return static_cast<int32_t>(
      static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
      static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}
inline void Put32(uint8_t* p, int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  p[0] = static_cast<uint8_t>(u);
  p[1] = static_cast<uint8_t>(u >> 8);
  p[2] = static_cast<uint8_t>(u >> 16);
  p[3] = static_cast<uint8_t>(u >> 24);
}
inline uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// Serves a walk that visits records in increasing order from a few large
// reads instead of two small reads per record: one window sliding forward,
// growing from 4 KiB to 64 KiB as the walk goes on (a walk that meets one
// or two records reads little).
//
// Two ways out, so that nothing a caller parsed can change under it:
// `Copy` copies bytes into the caller's buffer (fixed-size record headers
// go this way, and their fields stay valid for good); `View` lends the
// window's own bytes, which a later call on the window may replace, so a
// caller uses them (decodes, converts) before it reads again.
class ScanWindow {
 public:
  // `first_read` sizes the first read: a reader of one record at random
  // asks for a typical record's size, a walk for the default.
  explicit ScanWindow(DbFile& file, size_t first_read = kFirstChunk)
      : file_(&file), chunk_(first_read / 2) {}
  ScanWindow(const ScanWindow&) = delete;
  ScanWindow& operator=(const ScanWindow&) = delete;

  // Copies out.size() bytes at `offset` into `out`; false when the file
  // ends first.
  bool Copy(int64_t offset, std::span<uint8_t> out) {
    const uint8_t* p = Fetch(offset, out.size());
    if (p == nullptr) return false;
    if (!out.empty()) std::memcpy(out.data(), p, out.size());
    return true;
  }
  // Starts over on `file`, forgetting every byte read so far but keeping
  // the room: a reader of records at random reuses one window and never
  // trusts what an earlier read saw.
  void Restart(DbFile& file, size_t first_read) {
    file_ = &file;
    // The room of one huge record is not kept for good.
    if (buffer_.capacity() > kMostChunk) buffer_ = std::vector<uint8_t>();
    buffer_.clear();
    start_ = 0;
    chunk_ = first_read / 2;
  }
  // Whether the bytes [offset, offset + size) are in the window now, so
  // that viewing them reads nothing.
  bool Holds(int64_t offset, int64_t size) const {
    return offset >= start_ &&
           offset + size <= start_ + static_cast<int64_t>(buffer_.size());
  }
  // Returns `size` bytes at `offset`, valid until the next call on this
  // window, or null when the file ends first.
  const uint8_t* View(int64_t offset, size_t size) {
    return Fetch(offset, size);
  }

 private:
  static constexpr size_t kFirstChunk = size_t{4} << 10;
  static constexpr size_t kMostChunk = size_t{64} << 10;

  const uint8_t* Fetch(int64_t offset, size_t size) {
    if (offset < start_ || offset + static_cast<int64_t>(size) >
                               start_ + static_cast<int64_t>(buffer_.size())) {
      chunk_ = std::min(chunk_ * 2, kMostChunk);
      buffer_.resize(std::max(size, chunk_));
      start_ = offset;
      buffer_.resize(file_->ReadSome(offset, buffer_));
      if (buffer_.size() < size) return nullptr;
    }
    return buffer_.data() + (offset - start_);
  }

  DbFile* file_;
  std::vector<uint8_t> buffer_;
  int64_t start_ = 0;
  size_t chunk_;
};

}  // namespace quorvel::internal

#endif  // QUORVEL_SRC_STORES_STORE_IO_H_
