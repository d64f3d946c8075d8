// `BulkScope`: the nodes of one tree, taken from large blocks that go back
// to the heap together.
#ifndef QUORVEL_CORE_BULK_SCOPE_H_
#define QUORVEL_CORE_BULK_SCOPE_H_

#include <cstddef>
#include <cstdint>

#include "quorvel/bulk_memory.h"

namespace quorvel::internal {

// While a scope runs, the small nodes its thread allocates (String blocks,
// Dictionary and CArray objects and their storage) are cut from blocks of
// kBlockBytes by moving a pointer, instead of one heap allocation each.
// Every block counts the nodes cut from it that are still alive (plus a
// large charge while the scope fills it), so a node is given back with one
// atomic decrement on whatever thread drops it, and the block returns to
// the heap when its last node does. A node stays valid whatever happens to
// the tree it was read into; what a surviving node costs is its whole block
// kept alive.
//
// Only the outermost scope of a thread takes effect; a scope opened for
// input too small to fill a block does nothing, so small reads (a record of
// a store) keep one allocation per node and pin nothing. Not copyable; one
// thread.
class BulkScope {
 public:
  static constexpr size_t kBlockBytes = size_t{32} << 10;
  // Input below this many bytes reads into heap nodes as before.
  static constexpr size_t kLeastInput = kBlockBytes / 4;
  // Larger nodes (big containers' storage, long texts) come from the heap.
  static constexpr size_t kLargestNode = 2048;
  // Input from this many bytes on takes its blocks from mapped chunks of
  // 2 MiB (see bulk_memory.cpp); what a surviving node costs is then its
  // chunk.
  static constexpr size_t kLeastChunkedInput = size_t{1} << 20;

  explicit BulkScope(size_t input_bytes);
  ~BulkScope();
  BulkScope(const BulkScope&) = delete;
  BulkScope& operator=(const BulkScope&) = delete;

  // Returns `bytes` (at most kLargestNode) of the current block, at 8
  // modulo 16, starting a block when it is full. Throws std::bad_alloc.
  void* Take(size_t bytes) {
    bytes = (bytes + 15) & ~size_t{15};
    if (bytes > static_cast<size_t>(end_ - next_)) Refill();
    char* node = next_;
    next_ += bytes;
    ++handed_;
    return node;
  }

  // Returns the scope running on this thread, or null.
  static BulkScope* Current() noexcept;

 private:
  void Refill();
  // Returns the next block of the chunk being cut, mapping a chunk when
  // there is none or it is used up; null when no chunk can be mapped.
  void* NextChunkBlock() noexcept;
  // Gives up the chunk being cut, as Retire does a block.
  void RetireChunk() noexcept;
  // Gives up the block being filled: drops its charge, keeping the count of
  // nodes handed out, and frees it when they are all gone already.
  void Retire() noexcept;

  bool active_ = false;
  bool chunked_ = false;
  void* chunk_ = nullptr;
  char* chunk_next_ = nullptr;
  char* chunk_end_ = nullptr;
  int64_t chunk_blocks_ = 0;
  char* next_ = nullptr;
  char* end_ = nullptr;
  void* block_ = nullptr;
  int64_t handed_ = 0;
};

}  // namespace quorvel::internal

#endif  // QUORVEL_CORE_BULK_SCOPE_H_
