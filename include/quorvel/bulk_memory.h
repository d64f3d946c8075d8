// Where the nodes of a tree (String blocks, containers and their storage)
// come from: the heap, or the large blocks of a bulk scope that a reader
// opens while it builds a tree (see src/core/bulk_scope.h).
#ifndef QUORVEL_BULK_MEMORY_H_
#define QUORVEL_BULK_MEMORY_H_

#include <cstddef>
#include <cstdint>
#include <new>

namespace quorvel::internal {

// Returns room for `bytes`, aligned to 8: taken from the blocks of the bulk
// scope running on this thread when there is one and the room is small,
// otherwise from the heap. Throws std::bad_alloc when memory runs out.
void* AllocateNode(size_t bytes);
// Gives back room from AllocateNode, on any thread; null is ignored. Room
// from a block goes back with the block, when the last node in it is gone.
void FreeNode(void* node) noexcept;

// Returns the bytes of the chunks that large trees' blocks are cut from
// and that are mapped now (the heap's own figures do not count them), for
// reports of the memory a tree takes.
size_t MappedBulkBytes() noexcept;
// Tells room from a bulk block (placed at 8 modulo 16) from heap room (at 0
// modulo 16, the heap's own alignment) without reading it.
inline bool IsBulkNode(const void* node) noexcept {
  return (reinterpret_cast<uintptr_t>(node) & 8) != 0;
}

// The allocator of the containers' storage, so that a tree a reader builds
// keeps its storage in the reader's blocks too.
template <class T>
struct NodeAllocator {
  static_assert(alignof(T) <= 8, "nodes are aligned to 8");
  using value_type = T;
  NodeAllocator() noexcept = default;
  template <class U>
  NodeAllocator(const NodeAllocator<U>&) noexcept {}  // NOLINT: rebinding
  T* allocate(size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(AllocateNode(n * sizeof(T)));
  }
  void deallocate(T* p, size_t) noexcept { FreeNode(p); }
  friend bool operator==(NodeAllocator, NodeAllocator) noexcept { return true; }
};

}  // namespace quorvel::internal

#endif  // QUORVEL_BULK_MEMORY_H_
