// `Collection`: the platform's ordered collection (type name "Collection").
#ifndef QUORVEL_COLLECTION_H_
#define QUORVEL_COLLECTION_H_

#include <cstdint>
#include <deque>

#include "quorvel/dispatch.h"
#include "quorvel/object.h"
#include "quorvel/value.h"

namespace quorvel {

// An ordered list of Values with positions numbered from 1, each element
// optionally named by a key (matched ignoring case). Elements are stored
// unchanged by the store rule: an object stays the same reference, an array
// is copied. Appending and removing at either end are O(1); a position
// outside 1 to `Count` raises 9 and changes nothing. Thread-compatible.
class Collection final : public Object {
 public:
  static Ref<Collection> Create();
  const ClassInfo& Class() const override;

  // Appends `Item`, or puts it before or after the element that `Before` or
  // `After` names (a position or a key). Raises 457 for a key already
  // present, 5 when both Before and After are given or a key names nothing,
  // 9 for a position outside 1 to `Count`, 13 for a non-text key.
  void Add(const Value& Item, const Value& Key, const Value& Before,
           const Value& After);
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Returns the element at a position or with a key (raising 9 or 5).
  Value Item(const Value& Index) const;
  void Remove(const Value& Index);
  // Returns an enumerator over the elements in position order.
  Value NewEnum();

  // C++ access by position (1-based) without the Value round trip.
  void Append(Value item) { items_.push_back({std::move(item), {}, false}); }
  const Value& At(int32_t position) const;
  void RemoveAt(int32_t position);

  struct Element {
    Value value;
    String key;
    bool has_key;
  };
  class const_iterator {
   public:
    explicit const_iterator(const std::deque<Element>::const_iterator& at)
        : at_(at) {}
    const Value& operator*() const { return at_->value; }
    const Value* operator->() const { return &at_->value; }
    const_iterator& operator++() {
      ++at_;
      return *this;
    }
    bool operator==(const const_iterator& o) const { return at_ == o.at_; }

   private:
    std::deque<Element>::const_iterator at_;
  };
  const_iterator begin() const { return const_iterator(items_.begin()); }
  const_iterator end() const { return const_iterator(items_.end()); }

 private:
  Collection() = default;

  // Returns the 0-based index that `index` names: a position 1..Count or a
  // key. Raises 9, 5 or 13.
  size_t Resolve(const Value& index) const;
  int64_t FindKey(std::u16string_view key) const;

  std::deque<Element> items_;
};

}  // namespace quorvel

#endif  // QUORVEL_COLLECTION_H_
