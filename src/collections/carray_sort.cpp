// CArray: sorting in place and searching a sorted list.
//
// Both sorts move elements only by swapping them, which copies bits and
// never touches a reference count; so an error raised by a comparison or a
// callback part-way leaves every element present exactly once.
#include <utility>

#include "quorvel/carray.h"
#include "quorvel/error.h"

namespace quorvel {

namespace {

// The pending ranges of `Sort`: 256 Long entries, two per range, and error 9
// for a push past the last, as an array of that size would give.
class RangeStack {
 public:
  void Push(int32_t lo, int32_t hi) {
    if (top_ + 2 > kEntries) RaiseStandard(kErrSubscript);
    entries_[top_++] = lo;
    entries_[top_++] = hi;
  }
  bool Pop(int32_t* lo, int32_t* hi) {
    if (top_ == 0) return false;
    *hi = entries_[--top_];
    *lo = entries_[--top_];
    return true;
  }

 private:
  static constexpr int kEntries = 256;
  int32_t entries_[kEntries];
  int top_ = 0;
};

// The pivot is held by value assignment: an object element is replaced by
// its default value, so it compares as that value from then on.
Value PivotOf(const Value& element) {
  return element.IsObject() ? LetValue(element) : element;
}

}  // namespace

void CArray::Sort(bool Descending) {
  if (count_ < 2) return;
  const int32_t sign = Descending ? -1 : 1;
  RangeStack stack;
  stack.Push(0, count_ - 1);
  int32_t lo = 0;
  int32_t hi = 0;
  while (stack.Pop(&lo, &hi)) {
    int32_t i = lo;
    int32_t j = hi;
    const Value pivot = PivotOf(Slot(lo + (hi - lo) / 2));
    while (i <= j) {
      // Slot() re-reads the storage after every comparison: a default
      // member called by one may have changed the list.
      while (i <= hi && sign * CompareValues(Slot(i), pivot) < 0) ++i;
      while (j >= lo && sign * CompareValues(pivot, Slot(j)) < 0) --j;
      if (i <= j) {
        Slot(i).swap(Slot(j));
        ++i;
        --j;
      }
    }
    if (lo < j) stack.Push(lo, j);
    if (i < hi) stack.Push(i, hi);
  }
}

int32_t CArray::Partition(ISortCallback& callback, int32_t lo, int32_t hi,
                          bool descending) {
  // Keys are handed copies of the elements, so a callback that changes the
  // list cannot pull an element out from under the call.
  Value pivot_key = PivotOf(callback.Apply(Value(Slot(hi))));
  int32_t s = lo;
  for (int32_t j = lo; j < hi; ++j) {
    Value key = callback.Apply(Value(Slot(j)));
    int32_t c = CompareValues(key, pivot_key);
    if (descending ? c >= 0 : c < 0) {
      Slot(s).swap(Slot(j));
      ++s;
    }
  }
  Slot(s).swap(Slot(hi));
  return s;
}

void CArray::SortRange(ISortCallback& callback, int32_t lo, int32_t hi,
                       bool descending) {
  // Recursing into the smaller side and looping on the larger bounds the
  // depth by log2 of the count, whatever order the keys come in.
  while (lo < hi) {
    int32_t p = Partition(callback, lo, hi, descending);
    if (p - lo < hi - p) {
      if (p - 1 > lo) SortRange(callback, lo, p - 1, descending);
      if (!(p + 1 < hi)) return;
      lo = p + 1;
    } else {
      if (p + 1 < hi) SortRange(callback, p + 1, hi, descending);
      if (!(p - 1 > lo)) return;
      hi = p - 1;
    }
  }
}

void CArray::SortByKey(const Ref<ISortCallback>& Callback, bool Descending) {
  if (count_ < 2) return;
  if (!Callback) RaiseStandard(kErrObjectNotSet);
  Ref<ISortCallback> keep = Callback;
  SortRange(*keep, 0, count_ - 1, Descending);
}

int32_t CArray::BinarySearch(const Value& value, bool Descending) const {
  if (count_ == 0) return 0;
  int32_t lo = 0;
  int32_t hi = count_ - 1;
  while (lo <= hi) {
    int32_t mid = lo + (hi - lo) / 2;
    int32_t c = CompareValues(Slot(mid), value);
    if (Descending) c = -c;
    if (c == 0) return mid;
    if (c > 0) {
      hi = mid - 1;
    } else {
      lo = mid + 1;
    }
  }
  return 0;
}

}  // namespace quorvel
