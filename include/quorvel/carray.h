// `CArray`: the library's zero-based, growable list of Values.
#ifndef QUORVEL_CARRAY_H_
#define QUORVEL_CARRAY_H_

#include <cstdint>
#include <new>
#include <span>
#include <string_view>

#include "quorvel/bulk_memory.h"
#include "quorvel/callbacks.h"
#include "quorvel/dispatch.h"
#include "quorvel/object.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

namespace quorvel {

// A zero-based list of Values with list-style operations, searching, sorting
// and text forms. Elements follow the store rule: an object element is the
// very object that was stored, anything else a private copy (an Array is
// copied on the way in and out).
//
// Indices may be negative, counting from the end (-1 is the last element);
// an index outside the list raises 9 with source "CArray" and a description
// naming the index as the caller passed it. Capacity is 0 or 20 times a power
// of two (a list given exact room by ReserveExact keeps it until it grows,
// and grows onto that series); growth past 1,342,177,280 slots raises
// 6. A member that raises
// leaves the list as it found it, except where its comment says otherwise;
// the sorts leave a permutation of the elements (nothing lost or doubled).
//
// Thread-compatible: one caller at a time. Members that call out (client
// callbacks, default members of object elements) tolerate the list being
// changed from inside the call: elements that disappeared are not visited
// again, or the member raises 9.
class CArray final : public Object {
 public:
  static Ref<CArray> Create();
  const ClassInfo& Class() const override;
  ~CArray() override;
  // The object and its storage are nodes (bulk_memory.h), so a list a
  // reader builds lives in the reader's blocks.
  static void* operator new(size_t bytes) {
    return internal::AllocateNode(bytes);
  }
  static void operator delete(void* p) noexcept { internal::FreeNode(p); }

  // --- Storage and element access ---

  // Appends `vValue` by the store rule.
  void Add(const Value& vValue) {
    if (count_ == capacity_) return AddGrowing(Value(vValue));
    new (items_ + count_) Value(vValue);
    ++count_;
  }
  void Add(Value&& vValue) {
    if (count_ == capacity_) return AddGrowing(std::move(vValue));
    new (items_ + count_) Value(std::move(vValue));
    ++count_;
  }
  // Appends each Value in order, reserving room for all of them at once.
  void AddMultiple(std::span<const Value> values);
  // Appends the elements of an array of Values from its lower bound to its
  // upper bound. Raises 13 for anything but a one-dimensional array of
  // Values.
  void AddMultipleFromArray(const Value& Values);
  // Gives this empty list room for exactly `count` elements, for a reader
  // that knows how many will follow, so that a tree's short lists do not
  // each keep room for 20. Raises 7 when memory runs out.
  void ReserveExact(int32_t count);
  // Releases every element and the storage; capacity returns to 0.
  void Clear();
  int32_t Count() const { return count_; }
  int32_t capacity() const { return capacity_; }

  // Returns the element at `Index` without copying it. The reference lives
  // until the list next changes.
  const Value& Item(int32_t Index) const {
    return items_[NormalizeIndex(Index, false)];
  }
  // Stores a copy of `NewValue`; an object is replaced by its default value
  // first (raising 450 for the library's own containers, 91 for Nothing).
  void LetItem(int32_t Index, const Value& NewValue);
  // Stores the object reference `NewValue` (Nothing included); raises 424
  // for a Value that holds no object.
  void SetItem(int32_t Index, const Value& NewValue);
  // Puts `vValue` before the element at `Index`; `Index` may be `Count`.
  void Insert(int32_t Index, const Value& vValue);
  // Removes and returns the element at `Index`.
  Value Remove(int32_t Index);
  // Removes and returns the last element; raises 9 "Pop from empty list".
  Value Pop();

  // --- Sequence operations ---

  // Appends the elements of a "CArray" (read by name through `Count` and
  // `Item`, the count read once) or of an array. Raises 5 for anything else;
  // elements added before a failure stay.
  void Extend(const Value& Source);
  // Returns the elements from `Start` to `Finish`, both inclusive, every
  // `Step`th; Empty or Missing bounds mean the ends. Raises 9 for a bound
  // outside the list and 5 for a zero step.
  Ref<CArray> Slice(const Value& Start = Value::Missing(),
                    const Value& Finish = Value::Missing(), int32_t Step = 1);
  // Returns `length` elements from `StartIndex` (-1: to the end).
  Ref<CArray> Subset(int32_t StartIndex, int32_t length = -1);
  void Reverse();
  Ref<CArray> Copy() const { return Clone(); }
  Ref<CArray> Clone() const;
  // Returns an `Enumerator` over a snapshot of the elements.
  Value NewEnum() const;
  // Returns a zero-based array of Values (upper bound -1 when empty).
  Value ToArray() const;
  // Returns a zero-based array of String holding each element's text.
  Value ToStringArray() const;
  // Returns what `Callback.Apply` gives for each element, in order.
  Ref<CArray> Map(const Ref<ISortCallback>& Callback) const;
  // Returns the elements for which `Callback.Test` is True, in order.
  Ref<CArray> Filter(const Ref<IFilterCallback>& Callback) const;
  // Returns the index of the first element from `Start` on that matches
  // `value`, or 0. The default start is 1, so element 0 is not examined
  // and a list of fewer than two elements raises 9.
  int32_t IndexOf(const Value& value, int32_t Start = 1) const;
  // Returns whether `IndexOf(value, 1)` finds a match.
  bool Contains(const Value& value) const;
  int32_t CountOf(const Value& value) const;
  // Returns the index of the first match from index 0, or 0.
  int32_t Search(const Value& value) const;

  // C++ iteration over the live elements (invalidated by any change).
  const Value* begin() const { return items_; }
  const Value* end() const { return items_ + count_; }

  // --- Sorting and searching ---

  // Sorts in place: quicksort with a middle pivot and a 256-entry stack of
  // pending ranges; raises 9 when the stack would overflow. Not stable.
  void Sort(bool Descending = false);
  // Sorts in place by the keys `Callback.Apply` computes, recomputing them
  // on every comparison. Not stable.
  void SortByKey(const Ref<ISortCallback>& Callback, bool Descending = false);
  // Returns the index of an element matching `value` in a sorted list, or 0.
  int32_t BinarySearch(const Value& value, bool Descending = false) const;

  // --- Text forms ---

  // "[1, "a", [Object]]": Strings in quotes, objects as [Object].
  String ToString(std::u16string_view sep = u", ") const;
  // The element texts joined, nothing quoted.
  String JoinValues(std::u16string_view Delimiter = u",") const;
  // One CSV record, fields quoted when they hold a comma, a quote or CR LF.
  String ToCSV(std::u16string_view Separator = u",") const;
  // Replaces the elements with the String fields of every CR LF separated
  // line of `CSVText`; quotes do not protect a separator.
  void FromCSV(std::u16string_view CSVText,
               std::u16string_view Separator = u",");
  // A JSON array in which every element is written as a JSON string.
  String ToJSON() const;

  // --- Operations the members share ---

  // Grows the storage to hold at least `required` elements: 20, then
  // doubling. Raises 6 past the largest capacity, 7 when memory runs out;
  // either leaves the list unchanged.
  void EnsureCapacity(int32_t required);
  // Returns the storage index of `Index` (negative counts from the end), up
  // to `Count` itself when `allowEnd`; raises 9 otherwise.
  int32_t NormalizeIndex(int32_t Index, bool allowEnd) const {
    int32_t highest = allowEnd ? count_ : count_ - 1;
    int32_t candidate = Index < 0 ? Index + count_ : Index;
    // Thrown here rather than by a function that raises, so that the
    // unwinder has one frame less to cross on the way to a handler in the
    // member's invoker.
    if (candidate < 0 || candidate > highest) throw IndexError(Index, highest);
    return candidate;
  }
  // The element order of searching and sorting: -1, 0 or 1. Null comes
  // first, numbers compare by value and before any String, Strings compare
  // ignoring case, objects compare by the text of their default value.
  static int32_t CompareValues(const Value& a, const Value& b) {
    if (a.kind() == Kind::Long && b.kind() == Kind::Long) {
      return (a.long_value() > b.long_value()) -
             (a.long_value() < b.long_value());
    }
    return CompareGeneral(a, b);
  }

 private:
  CArray() = default;

  [[gnu::cold, gnu::noinline]] static Error IndexError(int32_t index,
                                                       int32_t highest);
  static int32_t CompareGeneral(const Value& a, const Value& b);
  void AddGrowing(Value&& v);
  // Return the slot at `k`, raising 9 when a call-out shrank the list.
  Value& Slot(int32_t k) {
    if (k >= count_) RaiseStandard(kErrSubscript);
    return items_[k];
  }
  const Value& Slot(int32_t k) const {
    if (k >= count_) RaiseStandard(kErrSubscript);
    return items_[k];
  }
  void SortRange(ISortCallback& callback, int32_t lo, int32_t hi,
                 bool descending);
  int32_t Partition(ISortCallback& callback, int32_t lo, int32_t hi,
                    bool descending);

  Value* items_ = nullptr;  // capacity_ slots; the first count_ hold elements
  int32_t count_ = 0;
  int32_t capacity_ = 0;
};

}  // namespace quorvel

#endif  // QUORVEL_CARRAY_H_
