#include "quorvel/cqueue.h"

#include <utility>

#include "quorvel/error.h"

namespace quorvel {

Ref<CQueue> CQueue::Create() { return Ref<CQueue>(new CQueue); }

const ClassInfo& CQueue::Class() const {
  static const ClassInfo info =
      ClassBuilder<CQueue>(u"CQueue")
          .Method<&CQueue::Push>(u"Push", {u"Value"})
          .Method<&CQueue::Pop>(u"Pop")
          .Method<&CQueue::Insert>(u"Insert", {u"Value", u"Index"})
          .Method<&CQueue::Remove>(u"Remove", {u"Index"})
          .Get<&CQueue::Count>(u"Count")
          .Get<&CQueue::Item>(u"Item", {u"Index"})
          .Get<&CQueue::IsEmpty>(u"IsEmpty")
          .Build();
  return info;
}

size_t CQueue::Offset(int32_t Index) const {
  if (Index < 1 || Index > Count()) RaiseStandard(kErrSubscript);
  return static_cast<size_t>(Index - 1);
}

void CQueue::Push(const Value& value) { items_.push_back(value); }

Value CQueue::Pop() {
  if (items_.empty()) return Value(u"");
  Value& front = items_.front();
  // Value assignment of an object raises before anything is removed.
  Value result = front.IsObject() ? LetValue(front) : std::move(front);
  items_.pop_front();
  return result;
}

void CQueue::Insert(const Value& value, int32_t Index) {
  const size_t at = Offset(Index);
  items_.insert(items_.begin() + static_cast<ptrdiff_t>(at), value);
}

void CQueue::Remove(int32_t Index) {
  const size_t at = Offset(Index);
  // Released only once the queue is consistent again.
  Value gone = std::move(items_[at]);
  items_.erase(items_.begin() + static_cast<ptrdiff_t>(at));
}

Value CQueue::Item(int32_t Index) const {
  return LetValue(items_[Offset(Index)]);
}

}  // namespace quorvel
