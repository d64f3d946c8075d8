// `CQueue`: the public first-in, first-out queue of Values.
#ifndef QUORVEL_CQUEUE_H_
#define QUORVEL_CQUEUE_H_

#include <cstdint>
#include <deque>

#include "quorvel/dispatch.h"
#include "quorvel/object.h"
#include "quorvel/value.h"

namespace quorvel {

// A queue of Values with positions numbered from 1: position 1 is the front
// (the next to leave), position `Count` the back. Elements are stored by the
// store rule (an object stays the same reference, an Array is copied) but
// handed back by value assignment, so reading an object element raises what
// `LetValue` raises (450 or 438 for the library's classes) and changes
// nothing. A position outside 1 to `Count` raises 9 and changes nothing.
// The class has no default member.
//
// The elements live in a double-ended queue of fixed-size blocks: `Push` and
// `Pop` are O(1) and reuse the blocks freed at the other end, so a long-lived
// queue never reallocates its whole content; `Insert` and `Remove` move the
// elements on the shorter side of the position. Thread-compatible.
class CQueue final : public Object {
 public:
  static Ref<CQueue> Create();
  const ClassInfo& Class() const override;

  // Puts `value` at the back.
  void Push(const Value& value);
  // Takes the front element off and returns it; a zero-length String when
  // the queue is empty.
  Value Pop();
  // Puts `value` at position `Index` (1 to Count), moving the elements from
  // there back by one.
  void Insert(const Value& value, int32_t Index);
  // Removes the element at position `Index`.
  void Remove(int32_t Index);
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Returns the element at position `Index`.
  Value Item(int32_t Index) const;
  bool IsEmpty() const { return items_.empty(); }

 private:
  CQueue() = default;
  // Returns the 0-based offset from the front of position `Index`; raises 9
  // outside 1..Count.
  size_t Offset(int32_t Index) const;

  std::deque<Value> items_;  // front first
};

}  // namespace quorvel

#endif  // QUORVEL_CQUEUE_H_
