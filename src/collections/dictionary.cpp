#include "quorvel/dictionary.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <utility>

#include "core/std_exceptions.h"
#include "quorvel/collection.h"
#include "quorvel/enumerator.h"
#include "quorvel/error.h"

namespace quorvel {

namespace {

constexpr uint64_t kP0 = 0xa0761d6478bd642full;
constexpr uint64_t kP1 = 0xe7037ed1a0b428dbull;
constexpr uint64_t kP2 = 0x8ebc6af09c88c6e3ull;

__extension__ typedef unsigned __int128 Wide;

inline uint64_t Mix(uint64_t a, uint64_t b) {
  Wide r = static_cast<Wide>(a) * b;
  return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}

inline uint64_t Read64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

inline uint64_t ReadShort(const uint8_t* p, size_t n) {
  uint64_t v = 0;
  std::memcpy(&v, p, n);
  return v;
}

// A multiply-fold hash over the bytes of the code units: 16 bytes a step.
uint32_t HashUnits(std::u16string_view key) {
  const auto* p = reinterpret_cast<const uint8_t*>(key.data());
  size_t len = key.size() * sizeof(char16_t);
  uint64_t h = kP0 ^ Mix(len, kP1);
  while (len > 16) {
    h = Mix(Read64(p) ^ kP1, Read64(p + 8) ^ h);
    p += 16;
    len -= 16;
  }
  uint64_t a = 0;
  uint64_t b = 0;
  if (len > 8) {
    a = Read64(p);
    b = ReadShort(p + 8, len - 8);
  } else {
    a = ReadShort(p, len);
  }
  h = Mix(a ^ kP1, b ^ h);
  return static_cast<uint32_t>(Mix(h, kP2));
}

// The text-mode hash folds each code point first, so keys that compare
// equal ignoring case hash alike.
uint32_t HashFolded(std::u16string_view key) {
  uint64_t h = kP0;
  for (size_t i = 0; i < key.size(); ++i) {
    char32_t c = key[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < key.size() &&
        key[i + 1] >= 0xDC00 && key[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (key[i + 1] - 0xDC00);
      ++i;
    }
    h = Mix(h ^ FoldCase(c), kP1);
  }
  return static_cast<uint32_t>(Mix(h, kP2));
}

constexpr uint32_t kEmptySlot = 0;
constexpr uint32_t kRemovedSlot = 1;
constexpr uint32_t kFirstEntry = 2;

}  // namespace

Ref<Dictionary> Dictionary::Create() { return FirstRef(new Dictionary); }

Dictionary::~Dictionary() { internal::FreeNode(slots_); }

const ClassInfo& Dictionary::Class() const {
  static const ClassInfo info =
      ClassBuilder<Dictionary>(u"Dictionary")
          .Method<&Dictionary::Add>(u"Add", {u"Key", u"Item"})
          .Method<&Dictionary::Exists>(u"Exists", {u"Key"})
          .Get<&Dictionary::Item>(u"Item", {u"Key"})
          .Let<&Dictionary::LetItem>(u"Item", {u"Key", u"NewItem"})
          .Set<&Dictionary::SetItem>(u"Item", {u"Key", u"NewItem"})
          .Get<&Dictionary::Count>(u"Count")
          .Method<&Dictionary::Keys>(u"Keys")
          .Method<&Dictionary::Items>(u"Items")
          .Method<&Dictionary::Remove>(u"Remove", {u"Key"})
          .Method<&Dictionary::RemoveAll>(u"RemoveAll")
          .Let<&Dictionary::LetKey>(u"Key", {u"Key", u"NewKey"})
          .Get<&Dictionary::CompareMode>(u"CompareMode")
          .Let<&Dictionary::LetCompareMode>(u"CompareMode", {u"NewMode"})
          .Get<&Dictionary::NewEnum>(u"_NewEnum")
          .Default(u"Item")
          .Build();
  return info;
}

uint32_t Dictionary::Hash(std::u16string_view key) const {
  return !text_keys_ ? HashUnits(key) : HashFolded(key);
}

bool Dictionary::KeysMatch(std::u16string_view a, std::u16string_view b) const {
  if (!text_keys_) return internal::SameUnits(a, b);
  return CompareText(a, b, quorvel::CompareMode::Text) == 0;
}

int64_t Dictionary::Lookup(std::u16string_view key, uint32_t hash) const {
  if (!Indexed()) {
    // Another thread is indexing the map: the keys are compared without
    // the table it is writing.
    for (size_t i = 0; i < entries_.size(); ++i) {
      const Stored& e = entries_[i];
      if (e.live() && KeysMatch(e.key, key)) return static_cast<int64_t>(i);
    }
    return -1;
  }
  if (slots_ == nullptr) {
    // A small dictionary has no table: its few entries are scanned.
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (KeysMatch(entries_[i].key, key)) return static_cast<int64_t>(i);
    }
    return -1;
  }
  const size_t mask = SlotCount() - 1;
  for (size_t s = hash & mask;; s = (s + 1) & mask) {
    const Slot_& slot = slots_[s];
    if (slot.entry == kEmptySlot) return -1;
    if (slot.entry >= kFirstEntry && slot.hash == hash) {
      const Stored& e = entries_[slot.entry - kFirstEntry];
      if (KeysMatch(e.key, key)) return slot.entry - kFirstEntry;
    }
  }
}

bool Dictionary::BuildIndex() const {
  uint8_t state = kUnindexed;
  if (!index_.compare_exchange_strong(state, kBuilding,
                                      std::memory_order_acquire)) {
    return state == kIndexed;
  }
  if (entries_.size() > kLinearMax) {
    size_t size = 16;
    while (size_t{live_} * 2 > size) size *= 2;
    try {
      Rehash(size, true);
    } catch (const std::bad_alloc&) {
      // Without room for a table the map stays unindexed and is scanned.
      index_.store(kUnindexed, std::memory_order_release);
      return false;
    }
  }
  index_.store(kIndexed, std::memory_order_release);
  return true;
}

void Dictionary::RequireIndex() {
  // One thread changes the map, so only a failed build says false here.
  if (!Indexed()) RaiseStandard(kErrOutOfMemory);
}

void Dictionary::Rehash(size_t slot_count, bool from_keys) const {
  auto* slots =
      static_cast<Slot_*>(internal::AllocateNode(slot_count * sizeof(Slot_)));
  std::fill_n(slots, slot_count, Slot_{kEmptySlot, 0});
  const size_t mask = slot_count - 1;
  const auto place = [&](Slot_ slot) {
    size_t s = slot.hash & mask;
    while (slots[s].entry != kEmptySlot) s = (s + 1) & mask;
    slots[s] = slot;
  };
  if (slots_ != nullptr && !from_keys) {
    for (size_t k = 0, n = SlotCount(); k < n; ++k)
      if (slots_[k].entry >= kFirstEntry) place(slots_[k]);
  } else {
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].live())
        place(Slot_{static_cast<uint32_t>(i + kFirstEntry),
                    Hash(entries_[i].key)});
    }
  }
  internal::FreeNode(std::exchange(slots_, slots));
  slot_shift_ = static_cast<uint8_t>(std::countr_zero(slot_count));
  used_slots_ = live_;
}

void Dictionary::Compact() {
  size_t out = 0;
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (!entries_[i].live()) continue;
    if (out != i) entries_[out] = std::move(entries_[i]);
    ++out;
  }
  entries_.truncate(out);
  // The entries moved, so the table's places are rebuilt from the keys.
  Rehash(SlotCount(), true);
}

void Dictionary::Reserve(size_t count) {
  internal::TranslateStdExceptions([&] {
    entries_.reserve(count);
    // Only a table already there grows: a map without one builds it when a
    // keyed access needs it, at the size its keys need then.
    if ((slots_ == nullptr) || count <= kLinearMax) return;
    size_t want = 16;
    while (want * 3 < count * 4 + 4) want *= 2;
    if (want > SlotCount()) Rehash(want);
  });
}

Value& Dictionary::Append(const String& key, uint32_t hash,
                          const Value& value) {
  if (live_ >= static_cast<size_t>(INT32_MAX)) RaiseStandard(kErrOutOfMemory);
  // Copy first: `value` may live inside this dictionary and move when the
  // entries grow.
  Value copy(value);
  const bool linear = internal::TranslateStdExceptions([&] {
    if ((slots_ == nullptr) && entries_.size() < kLinearMax) {
      entries_.push_back(Stored(String(key), std::move(copy)));
      return true;
    }
    if ((size_t{used_slots_} + 1) * 4 > size_t{SlotCount()} * 3) {
      // Removed markers count as used; a table full of them is rebuilt at
      // the same size, one full of live keys grows.
      size_t size = (slots_ == nullptr) ? 16 : SlotCount();
      while ((size_t{live_} + 1) * 2 > size) size *= 2;
      Rehash(size);
    }
    entries_.push_back(Stored(String(key), std::move(copy)));
    return false;
  });
  if (linear) {
    ++live_;
    return entries_.back().value;
  }
  const size_t mask = SlotCount() - 1;
  size_t s = hash & mask;
  while (slots_[s].entry >= kFirstEntry) s = (s + 1) & mask;
  if (slots_[s].entry == kEmptySlot) ++used_slots_;
  slots_[s] =
      Slot_{static_cast<uint32_t>(entries_.size() - 1 + kFirstEntry), hash};
  ++live_;
  return entries_.back().value;
}

Value& Dictionary::AppendDistinct(String key, Value value) {
  if (entries_.empty() && (slots_ == nullptr))
    index_.store(kUnindexed, std::memory_order_relaxed);
  if (index_.load(std::memory_order_relaxed) == kIndexed)
    return Append(key, Hash(key), value);
  if (live_ >= static_cast<size_t>(INT32_MAX)) RaiseStandard(kErrOutOfMemory);
  internal::TranslateStdExceptions(
      [&] { entries_.push_back(Stored(std::move(key), std::move(value))); });
  ++live_;
  return entries_.back().value;
}

void Dictionary::TakeDistinct(Entry* entries, size_t count) {
  if (count == 0) return;
  if (count > static_cast<size_t>(INT32_MAX) - live_)
    RaiseStandard(kErrOutOfMemory);
  internal::TranslateStdExceptions(
      [&] { entries_.reserve(entries_.size() + count); });
  if (entries_.empty() && (slots_ == nullptr))
    index_.store(kUnindexed, std::memory_order_relaxed);
  if (index_.load(std::memory_order_relaxed) == kIndexed) {
    for (size_t i = 0; i < count; ++i)
      AppendDistinct(std::move(entries[i].key), std::move(entries[i].value));
    return;
  }
  // The room is there, so nothing below can fail. AppendDistinct's own
  // checks, once per entry, would cost the JSON reader 7% of a parse.
  for (size_t i = 0; i < count; ++i) {
    entries_.emplace_back_in_room(std::move(entries[i].key),
                                  std::move(entries[i].value));
  }
  live_ += static_cast<uint32_t>(count);
}

const Value* Dictionary::Find(std::u16string_view key) const {
  int64_t at = Lookup(key, Hash(key));
  return at < 0 ? nullptr : &entries_[at].value;
}

Value* Dictionary::Find(std::u16string_view key) {
  int64_t at = Lookup(key, Hash(key));
  return at < 0 ? nullptr : &entries_[at].value;
}

Value& Dictionary::Slot(const String& key, bool* inserted) {
  RequireIndex();
  const uint32_t hash = Hash(key);
  int64_t at = Lookup(key, hash);
  if (inserted != nullptr) *inserted = at < 0;
  if (at >= 0) return entries_[at].value;
  return Append(key, hash, Value());
}

void Dictionary::Add(const String& Key, const Value& Item) {
  RequireIndex();
  const uint32_t hash = Hash(Key);
  if (Lookup(Key, hash) >= 0) RaiseStandard(kErrKeyExists);
  Append(Key, hash, Item);
}

bool Dictionary::Exists(std::u16string_view Key) const {
  return Lookup(Key, Hash(Key)) >= 0;
}

Value Dictionary::Item(const String& Key) { return Slot(Key); }

void Dictionary::LetItem(const String& Key, const Value& NewItem) {
  RequireIndex();
  const uint32_t hash = Hash(Key);
  int64_t at = Lookup(Key, hash);
  if (at >= 0) {
    entries_[at].value = NewItem;
  } else {
    Append(Key, hash, NewItem);
  }
}

void Dictionary::SetItem(const String& Key, const Value& NewItem) {
  if (!NewItem.IsObject()) RaiseStandard(kErrObjectRequired);
  LetItem(Key, NewItem);
}

Value Dictionary::Keys() const {
  std::vector<Value> keys;
  keys.reserve(live_);
  for (const Entry& e : *this) keys.emplace_back(e.key);
  return MakeArray(std::move(keys));
}

Value Dictionary::Items() const {
  std::vector<Value> items;
  items.reserve(live_);
  for (const Entry& e : *this) items.push_back(e.value);
  return MakeArray(std::move(items));
}

void Dictionary::Remove(std::u16string_view Key) {
  RequireIndex();
  const uint32_t hash = Hash(Key);
  if (slots_ == nullptr) {
    int64_t at = Lookup(Key, hash);
    if (at < 0) RaiseStandard(kErrElementNotFound);
    Stored gone = std::move(entries_[at]);
    entries_.erase(entries_.begin() + at);
    --live_;
    return;
  }
  const size_t mask = SlotCount() - 1;
  for (size_t s = hash & mask;; s = (s + 1) & mask) {
    Slot_& slot = slots_[s];
    if (slot.entry == kEmptySlot) RaiseStandard(kErrElementNotFound);
    if (slot.entry < kFirstEntry || slot.hash != hash) continue;
    Stored& e = entries_[slot.entry - kFirstEntry];
    if (!KeysMatch(e.key, Key)) continue;
    // Release the entry last: its value may hold the caller's only path to
    // something that calls back in.
    Stored gone = std::move(e);
    internal::RetainString(&removed_key_);
    // The moved-from entry's key is written, not read.
    e.key = String::Adopt(&removed_key_);  // NOLINT(bugprone-use-after-move)
    slot.entry = kRemovedSlot;
    --live_;
    if (entries_.size() > 32 && entries_.size() - live_ > live_) Compact();
    return;
  }
}

void Dictionary::RemoveAll() {
  Entries gone;
  gone.swap(entries_);
  internal::FreeNode(std::exchange(slots_, nullptr));
  live_ = 0;
  used_slots_ = 0;
  index_.store(kIndexed, std::memory_order_relaxed);
}

void Dictionary::LetKey(std::u16string_view Key, const String& NewKey) {
  RequireIndex();
  const uint32_t old_hash = Hash(Key);
  int64_t at = Lookup(Key, old_hash);
  if (at < 0) RaiseStandard(kErrElementNotFound);
  const uint32_t new_hash = Hash(NewKey);
  int64_t clash = Lookup(NewKey, new_hash);
  if (clash >= 0 && clash != at) RaiseStandard(kErrKeyExists);
  // Re-key the entry in place so that it keeps its position.
  if (slots_ == nullptr) {
    entries_[at].key = NewKey;
    return;
  }
  const size_t mask = SlotCount() - 1;
  for (size_t s = old_hash & mask;; s = (s + 1) & mask) {
    if (slots_[s].entry == static_cast<uint32_t>(at + kFirstEntry)) {
      slots_[s].entry = kRemovedSlot;
      break;
    }
  }
  Stored& e = entries_[at];
  e.key = NewKey;
  size_t s = new_hash & mask;
  while (slots_[s].entry >= kFirstEntry) s = (s + 1) & mask;
  if (slots_[s].entry == kEmptySlot) ++used_slots_;
  slots_[s] = Slot_{static_cast<uint32_t>(at + kFirstEntry), new_hash};
  if (size_t{used_slots_} * 4 > size_t{SlotCount()} * 3) Rehash(SlotCount());
}

void Dictionary::LetCompareMode(int32_t mode) {
  if (mode < 0 || mode > 2 || live_ != 0) RaiseStandard(kErrInvalidCall);
  RemoveAll();
  // Database comparison has no meaning here; it compares as text.
  text_keys_ = mode != 0;
}

Value Dictionary::NewEnum() const {
  Ref<Collection> keys = Collection::Create();
  for (const Entry& e : *this) keys->Append(Value(e.key));
  return Value(Enumerator::Over(std::move(keys)));
}

}  // namespace quorvel
