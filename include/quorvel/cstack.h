// `CStack`: the public last-in, first-out stack of Values.
#ifndef QUORVEL_CSTACK_H_
#define QUORVEL_CSTACK_H_

#include <cstdint>
#include <vector>

#include "quorvel/dispatch.h"
#include "quorvel/object.h"
#include "quorvel/value.h"

namespace quorvel {

// A stack of Values with positions numbered from 1: position 1 is the bottom
// (the oldest element), position `Count` the top. Elements are stored by the
// store rule (an object stays the same reference, an Array is copied) but
// handed back by value assignment, so reading an object element raises what
// `LetValue` raises (450 or 438 for the library's classes) and changes
// nothing. A position outside 1 to `Count` raises 9 and changes nothing.
// The class has no default member. Thread-compatible.
class CStack final : public Object {
 public:
  static Ref<CStack> Create();
  const ClassInfo& Class() const override;

  // Puts `value` on top. O(1) amortised.
  void Push(const Value& value) { items_.push_back(value); }
  // Takes the top element off and returns it; a zero-length String when
  // the stack is empty.
  Value Pop();
  // Puts `value` at position `Index` (1 to Count), moving the elements from
  // there up by one.
  void Insert(const Value& value, int32_t Index);
  // Removes the element at position `Index`.
  void Remove(int32_t Index);
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Returns the element at position `Index`.
  Value Item(int32_t Index) const;
  bool IsEmpty() const { return items_.empty(); }

 private:
  CStack() = default;
  // Returns the 0-based slot of position `Index`; raises 9 outside 1..Count.
  size_t Slot(int32_t Index) const;

  std::vector<Value> items_;  // bottom first
};

}  // namespace quorvel

#endif  // QUORVEL_CSTACK_H_
