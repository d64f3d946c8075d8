// Heap nodes and bulk blocks. A block starts with its count of living
// nodes and its chunk; its nodes follow at 8 modulo 16, so that a node's block
// is found by masking its address and a node is told from heap room by one bit.
#include <sys/mman.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "core/bulk_scope.h"

namespace quorvel::internal {

namespace {

static_assert(alignof(std::max_align_t) >= 16,
              "heap room must lie at 0 modulo 16 to be told from bulk nodes");

// Blocks of a large tree's scope are cut from chunks of kChunkBytes mapped
// for them, which the kernel backs with huge pages where it can: a page
// fault per chunk instead of one per 4 KiB, and fewer address translations
// while the tree is read and released. A chunk counts its living blocks and
// is unmapped with the last of them; its header lies in its first block,
// after that block's own.
struct Chunk {
  std::atomic<int64_t> blocks;
  size_t bytes;  // mapped from the chunk's start; the unused tail is not
};
struct BlockHeader {
  std::atomic<int64_t> live;
  Chunk* chunk;  // null for a block from the heap
  uint64_t unused;
};
// The first node of a block lies at 8 modulo 16, like every bulk node.
static_assert(sizeof(BlockHeader) % 16 == 8);

// Held by the scope while it fills a block or cuts a chunk, so that what is
// dropped meanwhile cannot bring the count to zero; far more than either
// holds.
constexpr int64_t kFillingCharge = int64_t{1} << 40;

constexpr size_t kChunkBytes = size_t{2} << 20;
static_assert(kChunkBytes % BulkScope::kBlockBytes == 0);
static_assert(sizeof(Chunk) % 16 == 0, "the first block's nodes follow it");

// Asked on every node allocation: initial-exec keeps that a plain load in
// the shared libraries too.
__attribute__((
    tls_model("initial-exec"))) thread_local BulkScope* current_scope = nullptr;

BlockHeader* BlockOf(void* node) {
  return reinterpret_cast<BlockHeader*>(reinterpret_cast<uintptr_t>(node) &
                                        ~(BulkScope::kBlockBytes - 1));
}

std::atomic<size_t> mapped_bytes{0};

// Whole chunks whose blocks are all gone, kept for the next large read:
// their pages are given to the kernel lazily (MADV_FREE), so it takes them
// back when memory runs short and otherwise leaves them in place, and a
// read that reuses them neither faults nor waits for zeroed pages, which
// cost a large read a fifth of its time. A chunk the kernel did take back
// comes back as zeroed pages, which the blocks do not mind.
class ChunkCache {
 public:
  // Keeps a chunk; false when the cache is full.
  bool Keep(void* base) noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count_ == kMost) return false;
    madvise(base, kChunkBytes, MADV_FREE);
    kept_[count_++] = base;
    return true;
  }
  // Returns a kept chunk, or null.
  void* Take() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_ == 0 ? nullptr : kept_[--count_];
  }

 private:
  // 64 MiB: most of a tree read from 20 MB of JSON.
  static constexpr size_t kMost = 32;
  std::mutex mutex_;
  size_t count_ = 0;
  void* kept_[kMost] = {};
};

// Never destroyed: a tree may be released during the process's exit.
ChunkCache& Cache() {
  static ChunkCache* const cache = new ChunkCache;
  return *cache;
}

void DropFromChunk(Chunk* chunk, int64_t count) noexcept {
  if (chunk->blocks.fetch_sub(count, std::memory_order_acq_rel) == count) {
    // The header lies in the chunk, just after the first block's header.
    void* base = reinterpret_cast<char*>(chunk) - sizeof(BlockHeader);
    const size_t bytes = chunk->bytes;
    mapped_bytes.fetch_sub(bytes, std::memory_order_relaxed);
    if (bytes != kChunkBytes || !Cache().Keep(base)) munmap(base, bytes);
  }
}

void DropFromBlock(BlockHeader* block, int64_t count) noexcept {
  // acq_rel: every use of the block's nodes, on any thread, happens before
  // the block is freed.
  if (block->live.fetch_sub(count, std::memory_order_acq_rel) == count) {
    Chunk* chunk = block->chunk;
    block->~BlockHeader();
    if (chunk != nullptr) {
      DropFromChunk(chunk, 1);
    } else {
      std::free(block);
    }
  }
}

// Whether chunks pay: with huge pages turned off they would only trade the
// heap's reuse of freed room for fresh pages.
bool ChunksPay() {
  static const bool pay = [] {
    std::FILE* f =
        std::fopen("/sys/kernel/mm/transparent_hugepage/enabled", "r");
    if (f == nullptr) return false;
    char line[128] = {};
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    return read && std::strstr(line, "[never]") == nullptr;
  }();
  return pay;
}

// Maps kChunkBytes aligned to their size (so a huge page can back them), or
// returns null.
void* MapChunk() noexcept {
  if (void* kept = Cache().Take()) {
    mapped_bytes.fetch_add(kChunkBytes, std::memory_order_relaxed);
    return kept;
  }
  const size_t span = kChunkBytes * 2;
  void* mapped = mmap(nullptr, span, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t aligned = (start + kChunkBytes - 1) & ~(kChunkBytes - 1);
  if (aligned > start) munmap(mapped, aligned - start);
  const uintptr_t tail = aligned + kChunkBytes;
  if (tail < start + span)
    munmap(reinterpret_cast<void*>(tail), start + span - tail);
  void* chunk = reinterpret_cast<void*>(aligned);
  madvise(chunk, kChunkBytes, MADV_HUGEPAGE);  // a hint; failure is harmless
  mapped_bytes.fetch_add(kChunkBytes, std::memory_order_relaxed);
  return chunk;
}

// A thread's drops from one block, gathered while consecutive frees fall in
// it (a tree is released in about the order it was written, so most do) and
// given to the block in one atomic step when a free falls elsewhere. Until
// then the block is counted as if those nodes lived: freeing it waits, at
// most one block per thread, until the thread frees a node of another
// block or ends.
struct PendingDrops {
  BlockHeader* block;
  int64_t count;
};
__attribute__((tls_model("initial-exec"))) thread_local PendingDrops pending = {
    nullptr, 0};
// Whether this thread has made its flusher, or destroyed it already; a node
// freed after that (by a later thread-local's destructor) drops at once.
enum class Flusher : uint8_t { kNone, kMade, kGone };
__attribute__((tls_model("initial-exec"))) thread_local Flusher flusher_state =
    Flusher::kNone;

void FlushPending() noexcept {
  if (pending.block == nullptr) return;
  DropFromBlock(std::exchange(pending.block, nullptr),
                std::exchange(pending.count, 0));
}

struct PendingFlusher {
  ~PendingFlusher() {
    FlushPending();
    flusher_state = Flusher::kGone;
  }
};

void DropLater(BlockHeader* block) noexcept {
  if (block == pending.block) {
    ++pending.count;
    return;
  }
  FlushPending();
  if (flusher_state == Flusher::kGone) {
    DropFromBlock(block, 1);
    return;
  }
  if (flusher_state == Flusher::kNone) {
    static thread_local PendingFlusher flusher;
    (void)flusher;
    flusher_state = Flusher::kMade;
  }
  pending = {block, 1};
}

}  // namespace

void* AllocateNode(size_t bytes) {
  if (BulkScope* scope = current_scope;
      scope != nullptr && bytes <= BulkScope::kLargestNode)
    return scope->Take(bytes);
  // glibc's malloc places everything at 0 modulo 16; a heap that places a
  // small request otherwise is asked again, for an aligned one.
  void* node = std::malloc(bytes);
  if (node != nullptr && IsBulkNode(node)) {
    std::free(node);
    if (posix_memalign(&node, 16, bytes) != 0) node = nullptr;
  }
  if (node == nullptr) throw std::bad_alloc();
  return node;
}

void FreeNode(void* node) noexcept {
  if (IsBulkNode(node)) {
    DropLater(BlockOf(node));
  } else {
    std::free(node);
  }
}

size_t MappedBulkBytes() noexcept {
  return mapped_bytes.load(std::memory_order_relaxed);
}

BulkScope::BulkScope(size_t input_bytes) {
  if (current_scope != nullptr || input_bytes < kLeastInput) return;
  active_ = true;
  chunked_ = input_bytes >= kLeastChunkedInput && ChunksPay();
  current_scope = this;
}

BulkScope::~BulkScope() {
  if (!active_) return;
  Retire();
  RetireChunk();
  current_scope = nullptr;
}

BulkScope* BulkScope::Current() noexcept { return current_scope; }

void* BulkScope::NextChunkBlock() noexcept {
  if (chunk_ == nullptr || chunk_next_ == chunk_end_) {
    void* base = MapChunk();
    if (base == nullptr) return nullptr;
    RetireChunk();
    chunk_ = new (static_cast<char*>(base) + sizeof(BlockHeader))
        Chunk{{kFillingCharge}, kChunkBytes};
    chunk_next_ = static_cast<char*>(base);
    chunk_end_ = chunk_next_ + kChunkBytes;
    chunk_blocks_ = 0;
  }
  void* block = chunk_next_;
  chunk_next_ += kBlockBytes;
  ++chunk_blocks_;
  return block;
}

void BulkScope::RetireChunk() noexcept {
  if (chunk_ == nullptr) return;
  auto* chunk = static_cast<Chunk*>(chunk_);
  // Blocks never cut go back now; the rest of the chunk waits for its
  // blocks' nodes.
  if (chunk_next_ != chunk_end_) {
    chunk->bytes = static_cast<size_t>(
        chunk_next_ - (reinterpret_cast<char*>(chunk) - sizeof(BlockHeader)));
    const auto tail = static_cast<size_t>(chunk_end_ - chunk_next_);
    munmap(chunk_next_, tail);
    mapped_bytes.fetch_sub(tail, std::memory_order_relaxed);
  }
  DropFromChunk(chunk, kFillingCharge - chunk_blocks_);
  chunk_ = nullptr;
}

void BulkScope::Refill() {
  // A chunk that cannot be mapped leaves this scope's blocks to the heap.
  void* fresh = chunked_ ? NextChunkBlock() : nullptr;
  Chunk* chunk = fresh != nullptr ? static_cast<Chunk*>(chunk_) : nullptr;
  if (fresh == nullptr) {
    chunked_ = false;
    fresh = std::aligned_alloc(kBlockBytes, kBlockBytes);
    if (fresh == nullptr) throw std::bad_alloc();
  }
  char* first = static_cast<char*>(fresh) + sizeof(BlockHeader);
  if (first == reinterpret_cast<char*>(chunk)) first += sizeof(Chunk);
  Retire();
  new (fresh) BlockHeader{{kFillingCharge}, chunk, 0};
  block_ = fresh;
  next_ = first;
  // Nodes end at 8 modulo 16 as they start.
  end_ = static_cast<char*>(fresh) + kBlockBytes - 8;
  handed_ = 0;
}

void BulkScope::Retire() noexcept {
  if (block_ == nullptr) return;
  DropFromBlock(static_cast<BlockHeader*>(block_), kFillingCharge - handed_);
  block_ = nullptr;
  next_ = end_ = nullptr;
}

}  // namespace quorvel::internal
