// What both database files need to reach their bytes: little-endian fields,
// the write lock held for one operation, and a forward read window for
// scans.
#ifndef QUORVEL_SRC_STORES_STORE_IO_H_
#define QUORVEL_SRC_STORES_STORE_IO_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "quorvel/error.h"
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

// Adds one to a header counter. The counters are informational (nothing
// reads them back), so they wrap rather than fail: a damaged or very old
// header must not make a write that already reached the file raise.
inline void BumpCounter(uint8_t* p) {
  Put32(p, static_cast<int32_t>(static_cast<uint32_t>(Get32(p)) + 1u));
}

// Holds the exclusive whole-file lock for one write; a failure to take or
// release it is ignored, so a store on a file system without locks still
// works for a lone writer.
class FileLock {
 public:
  explicit FileLock(DbFile& file) : file_(file) {
    try {
      file_.LockExclusive();
    } catch (const Error&) {
    }
  }
  ~FileLock() {
    try {
      file_.Unlock();
    } catch (const Error&) {
    }
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  DbFile& file_;
};

// Serves a scan that visits records in increasing order from large reads
// instead of two small reads per record: one window sliding forward.
class ScanWindow {
 public:
  explicit ScanWindow(DbFile& file) : file_(file) {}
  // Returns `size` bytes at `offset`, or null when the file ends first.
  const uint8_t* Get(int64_t offset, size_t size) {
    if (offset < start_ || offset + static_cast<int64_t>(size) >
                               start_ + static_cast<int64_t>(buffer_.size())) {
      buffer_.resize(std::max(size, kChunk));
      start_ = offset;
      buffer_.resize(file_.ReadSome(offset, buffer_));
      if (buffer_.size() < size) return nullptr;
    }
    return buffer_.data() + (offset - start_);
  }

 private:
  static constexpr size_t kChunk = 64 * 1024;
  DbFile& file_;
  std::vector<uint8_t> buffer_;
  int64_t start_ = 0;
};

}  // namespace quorvel::internal

#endif  // QUORVEL_SRC_STORES_STORE_IO_H_
