#include "c_api/handles.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "c_api/guard.h"

namespace quorvel::c_api {

namespace {

// Slots live in chunks that never move, so naming a handle needs no lock;
// making and dropping handles take one.
constexpr uint32_t kChunkBits = 12;
constexpr uint32_t kChunkSize = 1u << kChunkBits;
constexpr uint32_t kMaxChunks = 1u << 14;  // 64M handles

struct Slot {
  std::atomic<uint32_t> generation{1};
  std::atomic<int32_t> count{0};
  std::atomic<Object*> object{nullptr};
  uint32_t next_free = 0;  // 1 + the next free slot, 0 for none
};

class HandleTable {
 public:
  quorvel_object* Intern(Object* object) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = slot_of_.find(object);
    if (found != slot_of_.end()) {
      Slot& slot = At(found->second);
      slot.count.fetch_add(1, std::memory_order_relaxed);
      return Encode(found->second, slot);
    }
    uint32_t index = TakeFreeSlot();
    Slot& slot = At(index);
    object->AddRef();
    slot.object.store(object, std::memory_order_relaxed);
    slot.count.store(1, std::memory_order_relaxed);
    try {
      slot_of_.emplace(object, index);
    } catch (...) {
      slot.object.store(nullptr, std::memory_order_relaxed);
      slot.count.store(0, std::memory_order_relaxed);
      PutFreeSlot(index, slot);
      object->Release();
      throw;
    }
    return Encode(index, slot);
  }

  // Returns the live slot `handle` names; raises 5 for any other handle.
  Slot& Live(quorvel_object* handle, uint32_t* index_out) {
    const uint64_t bits = reinterpret_cast<uintptr_t>(handle);
    const uint32_t index = static_cast<uint32_t>(bits) - 1;
    const uint32_t generation = static_cast<uint32_t>(bits >> 32);
    if ((index >> kChunkBits) < kMaxChunks) {
      Slot* chunk =
          chunks_[index >> kChunkBits].load(std::memory_order_acquire);
      if (chunk != nullptr) {
        Slot& slot = chunk[index & (kChunkSize - 1)];
        if (slot.generation.load(std::memory_order_acquire) == generation &&
            slot.count.load(std::memory_order_relaxed) > 0) {
          *index_out = index;
          return slot;
        }
      }
    }
    RaiseBadArgument(u"the object handle was released or never made");
  }

  void Release(quorvel_object* handle) {
    uint32_t index;
    Slot& slot = Live(handle, &index);
    const uint32_t generation = slot.generation.load(std::memory_order_relaxed);
    if (slot.count.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    Object* dropped = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // Another thread may have handed the object out again meanwhile.
      if (slot.count.load(std::memory_order_acquire) != 0 ||
          slot.generation.load(std::memory_order_relaxed) != generation)
        return;
      dropped = slot.object.exchange(nullptr, std::memory_order_relaxed);
      slot_of_.erase(dropped);
      PutFreeSlot(index, slot);
    }
    // Outside the lock: destroying the object may run client code that
    // releases other handles.
    dropped->Release();
  }

 private:
  Slot& At(uint32_t index) {
    return chunks_[index >> kChunkBits].load(
        std::memory_order_relaxed)[index & (kChunkSize - 1)];
  }

  static quorvel_object* Encode(uint32_t index, const Slot& slot) {
    const uint64_t bits =
        (static_cast<uint64_t>(slot.generation.load(std::memory_order_relaxed))
         << 32) |
        (index + 1);
    return reinterpret_cast<quorvel_object*>(static_cast<uintptr_t>(bits));
  }

  uint32_t TakeFreeSlot() {
    if (free_head_ != 0) {
      uint32_t index = free_head_ - 1;
      free_head_ = At(index).next_free;
      return index;
    }
    if (used_ == kChunkSize * kMaxChunks - 1) RaiseStandard(kErrOutOfMemory);
    const uint32_t index = used_;
    std::atomic<Slot*>& chunk = chunks_[index >> kChunkBits];
    if (chunk.load(std::memory_order_relaxed) == nullptr)
      chunk.store(new Slot[kChunkSize], std::memory_order_release);
    ++used_;
    return index;
  }

  void PutFreeSlot(uint32_t index, Slot& slot) {
    // A new generation makes every copy of the old handle stale.
    uint32_t next = slot.generation.load(std::memory_order_relaxed) + 1;
    slot.generation.store(next == 0 ? 1 : next, std::memory_order_release);
    slot.next_free = free_head_;
    free_head_ = index + 1;
  }

  std::atomic<Slot*> chunks_[kMaxChunks] = {};
  std::mutex mutex_;
  std::unordered_map<Object*, uint32_t> slot_of_;
  uint32_t used_ = 0;
  uint32_t free_head_ = 0;
};

// Never destroyed: handles may still be released while the process exits.
HandleTable& Table() {
  static HandleTable* table = new HandleTable;
  return *table;
}

}  // namespace

quorvel_object* HandleOf(Object* object) {
  return object == nullptr ? nullptr : Table().Intern(object);
}

Object* ObjectOf(quorvel_object* handle) {
  if (handle == nullptr) return nullptr;
  uint32_t index;
  return Table().Live(handle, &index).object.load(std::memory_order_relaxed);
}

void AddHandleRef(quorvel_object* handle) {
  if (handle == nullptr) RaiseBadArgument(u"object is NULL");
  uint32_t index;
  Table().Live(handle, &index).count.fetch_add(1, std::memory_order_relaxed);
}

void ReleaseHandle(quorvel_object* handle) {
  if (handle == nullptr) RaiseBadArgument(u"object is NULL");
  Table().Release(handle);
}

}  // namespace quorvel::c_api
