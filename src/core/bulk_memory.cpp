// Heap nodes and bulk blocks. A block starts with its count of living
// nodes; its nodes follow at 8 modulo 16, so that a node's block is found by
// masking its address and a node is told from heap room by one bit.
#include <atomic>
#include <cstdlib>
#include <new>

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
    DropFromBlock(BlockOf(node), 1);
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
