// `Dictionary`: the map type of the whole library, the platform dictionary
// (type name "Dictionary", creatable as "Scripting.Dictionary").
#ifndef QUORVEL_DICTIONARY_H_
#define QUORVEL_DICTIONARY_H_

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "quorvel/bulk_memory.h"
#include "quorvel/compare.h"
#include "quorvel/dispatch.h"
#include "quorvel/node_vector.h"
#include "quorvel/object.h"
#include "quorvel/value.h"

namespace quorvel {

// A hash map from String keys to Values that keeps its keys in the order
// they were first inserted. Keys match exactly, code unit for code unit
// (unless the comparison mode is set to text before the first entry).
// Replacing a value keeps its key's place; a removed key inserted again goes
// to the end. Lookups stay O(1) however many keys were removed.
//
// A map filled from empty through `AppendDistinct` (as the readers fill the
// maps of a tree) hashes nothing while it fills: its index is built by the
// first keyed access. Several threads may make that first access at once
// through the const members: one builds, the others scan meanwhile.
//
// Values follow the store rule: an object is held as a shared reference,
// anything else as a private copy, and handed back the same way. A member
// that raises changes nothing. Thread-compatible.
class Dictionary final : public Object {
 public:
  static Ref<Dictionary> Create();
  ~Dictionary() override;
  const ClassInfo& Class() const override;
  // The object and its storage are nodes (bulk_memory.h), so a map a
  // reader builds lives in the reader's blocks.
  static void* operator new(size_t bytes) {
    return internal::AllocateNode(bytes);
  }
  static void operator delete(void* p) noexcept { internal::FreeNode(p); }

  // Appends an entry; raises 457 when the key is present.
  void Add(const String& Key, const Value& Item);
  bool Exists(std::u16string_view Key) const;
  // Returns the value of `Key`; an absent key is inserted with Empty first.
  Value Item(const String& Key);
  // Replace the value of a present key in place or append a new entry.
  // SetItem raises 424 when `NewItem` holds no object.
  void LetItem(const String& Key, const Value& NewItem);
  void SetItem(const String& Key, const Value& NewItem);
  int32_t Count() const { return static_cast<int32_t>(live_); }
  // Return zero-based arrays of the keys and of the values, in key order.
  Value Keys() const;
  Value Items() const;
  // Removes an entry; raises 32811 "Element not found" for an absent key.
  void Remove(std::u16string_view Key);
  void RemoveAll();
  // Renames a key in place; raises 32811 when `Key` is absent and 457 when
  // `NewKey` is present.
  void LetKey(std::u16string_view Key, const String& NewKey);
  // 0 binary (the default), 1 text, 2 database (which compares as text
  // here). Raises 5 for another mode or when the dictionary is not empty.
  int32_t CompareMode() const { return text_keys_ ? 1 : 0; }
  void LetCompareMode(int32_t mode);
  // Returns an enumerator over a snapshot of the keys.
  Value NewEnum() const;

  // C++ access without the store rule's copies.
  const Value* Find(std::u16string_view key) const;
  Value* Find(std::u16string_view key);
  // Returns the value slot of `key`, appending an Empty entry when absent.
  Value& Slot(const String& key, bool* inserted = nullptr);
  // Appends an entry for a key the caller knows is absent, looking nothing
  // up, and returns its value slot. Keys appended this way to an empty map
  // are hashed and indexed at the first keyed access, not one by one.
  Value& AppendDistinct(String key, Value value);
  // AppendDistinct with an Empty value, for a reader filling a map whose
  // room it reserved: the entry is placed with no further checks.
  Value& AppendDistinctEmpty(String key) {
    if (index_.load(std::memory_order_relaxed) != kUnindexed ||
        !entries_.has_room())
      return AppendDistinct(std::move(key), Value());
    ++live_;
    return entries_.emplace_back_in_room(std::move(key)).value;
  }
  // Makes room for `count` entries.
  void Reserve(size_t count);

  // One key and its value, as walks see them.
  struct Entry {
    String key;
    Value value;
  };
  // Moves `count` entries whose keys the caller knows are distinct and
  // absent to the end of the map, as AppendDistinct would one by one; an
  // empty map takes room for exactly them. Raises 7 when memory runs out,
  // with nothing moved.
  void TakeDistinct(Entry* entries, size_t count);

 private:
  // The key of a removed entry: a block no client's String holds, so that
  // a removed entry is told by its key's address. Constant-initialized, so
  // that it is there before any map; its count starts high and every
  // removed entry holds one, so it never drops to zero.
  static constinit inline internal::StringRep removed_key_ = {{1u << 30}, 0};

  // An entry as stored: removed ones stay in place, their key the removed
  // key, until the map compacts, so that removing keeps the order of the
  // rest. The hashes live in the slot table alone: a tree holds its maps'
  // entries by the million.
  struct Stored : Entry {
    Stored(String&& k, Value&& v = Value()) noexcept
        : Entry{std::move(k), std::move(v)} {}
    bool live() const noexcept { return key.rep() != &removed_key_; }
  };

 public:
  // Iterates the entries in key order. Any change to the map invalidates
  // it; a walk that calls out to client code uses `NextEntry` instead.
  class const_iterator {
   public:
    const_iterator(const Stored* at, const Stored* end) : at_(at), end_(end) {
      Skip();
    }
    const Entry& operator*() const { return *at_; }
    const Entry* operator->() const { return at_; }
    const_iterator& operator++() {
      ++at_;
      Skip();
      return *this;
    }
    bool operator==(const const_iterator& o) const { return at_ == o.at_; }

   private:
    void Skip() {
      while (at_ != end_ && !at_->live()) ++at_;
    }
    const Stored* at_;
    const Stored* end_;
  };
  const_iterator begin() const {
    return {entries_.data(), entries_.data() + entries_.size()};
  }
  const_iterator end() const {
    return {entries_.data() + entries_.size(),
            entries_.data() + entries_.size()};
  }

  // Returns the first entry at or after `position` in key order and moves
  // `position` past it, or returns null at the end. A position is a plain
  // number, so a walk that calls out to client code between two steps
  // holds nothing that a change to the map could leave dangling. Entries
  // added meanwhile are met further on; after removals (which may compact
  // the map) the walk may pass over or meet again some entries, never a
  // destroyed one. The returned entry is valid until the map changes.
  const Entry* NextEntry(size_t& position) const {
    while (position < entries_.size()) {
      const Stored& e = entries_[position++];
      if (e.live()) return &e;
    }
    return nullptr;
  }

  // Asks the memory system for up to `most_bytes` of the entry storage, for
  // a walk that will read the first entries soon. Reads nothing.
  void PrefetchEntries(size_t most_bytes) const {
    const auto* at = reinterpret_cast<const unsigned char*>(entries_.data());
    const size_t bytes = std::min(most_bytes, sizeof(Stored) * entries_.size());
    for (size_t k = 0; k < bytes; k += 64) __builtin_prefetch(at + k);
  }

 private:
  Dictionary() = default;

  uint32_t Hash(std::u16string_view key) const;
  bool KeysMatch(std::u16string_view a, std::u16string_view b) const;
  // Returns the entry index of `key` or -1.
  int64_t Lookup(std::u16string_view key, uint32_t hash) const;
  // Appends an entry for a key known to be absent.
  Value& Append(const String& key, uint32_t hash, const Value& value);
  // Returns whether, past kLinearMax entries, the table maps them, building
  // it on first use. False only to a const caller that met another thread
  // building it.
  bool Indexed() const {
    return index_.load(std::memory_order_acquire) == kIndexed || BuildIndex();
  }
  bool BuildIndex() const;
  // Indexes the map before a change; raises 7 when that fails.
  void RequireIndex();
  // Builds a table of `slot_count` slots: from the hashes of the table
  // there is, or from the keys (`from_keys`: after the entries moved; also
  // when there is no table).
  void Rehash(size_t slot_count, bool from_keys = false) const;
  void Compact();

  // Up to this many entries (removed ones included) live without a table.
  static constexpr size_t kLinearMax = 8;

  struct Slot_ {
    uint32_t entry;  // 0 empty, 1 removed, else entry index + 2
    uint32_t hash;
  };
  size_t SlotCount() const {
    return slots_ == nullptr ? 0 : size_t{1} << slot_shift_;
  }

  // The fields are ordered and sized so that the object takes 48 bytes: a
  // tree holds a map for every JSON object.
  uint32_t live_ = 0;
  using Entries = internal::NodeVector<Stored>;
  Entries entries_;  // in key order, removed ones marked dead
  // Open addressing, 1 << slot_shift_ slots; built lazily, hence mutable.
  mutable Slot_* slots_ = nullptr;
  mutable uint32_t used_slots_ = 0;  // live plus removed markers
  mutable uint8_t slot_shift_ = 0;
  bool text_keys_ = false;  // CompareMode Text: keys compare ignoring case
  // kUnindexed: filled by AppendDistinct only, no hashes, no table.
  enum : uint8_t { kIndexed, kUnindexed, kBuilding };
  mutable std::atomic<uint8_t> index_{kIndexed};
};

// Implemented by an object whose content is a Dictionary of named fields
// (a document record), so that the library's serializers read the fields
// directly, as they read a Dictionary, without depending on the object's
// class. The fields may be replaced by another Dictionary at any time
// (a `Clear`); a walk holds the one it reads.
class FieldMap {
 public:
  virtual Dictionary& fields() = 0;
  virtual const Dictionary& fields() const = 0;

 protected:
  virtual ~FieldMap() = default;
};

}  // namespace quorvel

#endif  // QUORVEL_DICTIONARY_H_
