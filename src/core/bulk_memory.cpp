// Heap nodes and bulk blocks. A block starts with its count of living
// nodes; its nodes follow at 8 modulo 16, so that a node's block is found by
// masking its address and a node is told from heap room by one bit.
#include <atomic>
#include <cstdlib>
#include <new>
#include <utility>

#include "core/bulk_scope.h"

namespace quorvel::internal {

namespace {

static_assert(alignof(std::max_align_t) >= 16,
              "heap room must lie at 0 modulo 16 to be told from bulk nodes");

struct BlockHeader {
  std::atomic<int64_t> live;
};
static_assert(sizeof(BlockHeader) == 8);

// Held by the scope while it fills a block, so that nodes dropped meanwhile
// cannot bring the count to zero; far more than a block holds.
constexpr int64_t kFillingCharge = int64_t{1} << 40;

// Asked on every node allocation: initial-exec keeps that a plain load in
// the shared libraries too.
__attribute__((
    tls_model("initial-exec"))) thread_local BulkScope* current_scope = nullptr;

BlockHeader* BlockOf(void* node) {
  return reinterpret_cast<BlockHeader*>(reinterpret_cast<uintptr_t>(node) &
                                        ~(BulkScope::kBlockBytes - 1));
}

void DropFromBlock(BlockHeader* block, int64_t count) noexcept {
  // acq_rel: every use of the block's nodes, on any thread, happens before
  // the block is freed.
  if (block->live.fetch_sub(count, std::memory_order_acq_rel) == count) {
    block->~BlockHeader();
    std::free(block);
  }
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

BulkScope::BulkScope(size_t input_bytes) {
  if (current_scope != nullptr || input_bytes < kLeastInput) return;
  active_ = true;
  current_scope = this;
}

BulkScope::~BulkScope() {
  if (!active_) return;
  Retire();
  current_scope = nullptr;
}

BulkScope* BulkScope::Current() noexcept { return current_scope; }

void BulkScope::Refill() {
  void* fresh = std::aligned_alloc(kBlockBytes, kBlockBytes);
  if (fresh == nullptr) throw std::bad_alloc();
  Retire();
  auto* header = new (fresh) BlockHeader;
  header->live.store(kFillingCharge, std::memory_order_relaxed);
  block_ = fresh;
  next_ = static_cast<char*>(fresh) + sizeof(BlockHeader);
  end_ = static_cast<char*>(fresh) + kBlockBytes - sizeof(BlockHeader);
  handed_ = 0;
}

void BulkScope::Retire() noexcept {
  if (block_ == nullptr) return;
  DropFromBlock(static_cast<BlockHeader*>(block_), kFillingCharge - handed_);
  block_ = nullptr;
  next_ = end_ = nullptr;
}

}  // namespace quorvel::internal
