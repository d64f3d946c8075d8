// `Dictionary`: the map type of the whole library, the platform dictionary
// (type name "Dictionary", creatable as "Scripting.Dictionary").
#ifndef QUORVEL_DICTIONARY_H_
#define QUORVEL_DICTIONARY_H_

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "quorvel/compare.h"
#include "quorvel/dispatch.h"
#include "quorvel/object.h"
#include "quorvel/value.h"

namespace quorvel {

// A hash map from String keys to Values that keeps its keys in the order
// they were first inserted. Keys match exactly, code unit for code unit
// (unless the comparison mode is set to text before the first entry).
// Replacing a value keeps its key's place; a removed key inserted again goes
// to the end. Lookups stay O(1) however many keys were removed.
//
// Values follow the store rule: an object is held as a shared reference,
// anything else as a private copy, and handed back the same way. A member
// that raises changes nothing. Thread-compatible.
class Dictionary final : public Object {
 public:
  static Ref<Dictionary> Create();
  const ClassInfo& Class() const override;

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
  int32_t CompareMode() const { return static_cast<int32_t>(mode_); }
  void LetCompareMode(int32_t mode);
  // Returns an enumerator over a snapshot of the keys.
  Value NewEnum() const;

  // C++ access without the store rule's copies.
  const Value* Find(std::u16string_view key) const;
  Value* Find(std::u16string_view key);
  // Returns the value slot of `key`, appending an Empty entry when absent.
  Value& Slot(const String& key, bool* inserted = nullptr);
  void Reserve(size_t count);

  struct Entry {
    String key;
    Value value;
    uint32_t hash = 0;
    bool live = false;
  };
  // Iterates the live entries in key order.
  class const_iterator {
   public:
    const_iterator(const Entry* at, const Entry* end) : at_(at), end_(end) {
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
      while (at_ != end_ && !at_->live) ++at_;
    }
    const Entry* at_;
    const Entry* end_;
  };
  // The entries in key order, removed ones included (`live` false). Any
  // change to the map may move them: a walk that calls out to client code
  // takes them afresh after each call.
  std::span<const Entry> entries() const { return entries_; }
  const_iterator begin() const {
    return {entries_.data(), entries_.data() + entries_.size()};
  }
  const_iterator end() const {
    return {entries_.data() + entries_.size(),
            entries_.data() + entries_.size()};
  }

 private:
  Dictionary() = default;

  uint32_t Hash(std::u16string_view key) const;
  bool KeysMatch(std::u16string_view a, std::u16string_view b) const;
  // Returns the entry index of `key` or -1.
  int64_t Lookup(std::u16string_view key, uint32_t hash) const;
  // Appends an entry for a key known to be absent.
  Value& Append(const String& key, uint32_t hash, const Value& value);
  void Rehash(size_t slot_count);
  void Compact();

  // Up to this many entries (removed ones included) live without a table.
  static constexpr size_t kLinearMax = 8;

  struct Slot_ {
    uint32_t entry;  // 0 empty, 1 removed, else entry index + 2
    uint32_t hash;
  };
  std::vector<Entry> entries_;  // in key order, removed ones marked dead
  std::vector<Slot_> slots_;    // open addressing, power-of-two size
  size_t live_ = 0;
  size_t used_slots_ = 0;  // live plus removed markers
  quorvel::CompareMode mode_ = quorvel::CompareMode::Binary;
};

}  // namespace quorvel

#endif  // QUORVEL_DICTIONARY_H_
