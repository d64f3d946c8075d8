#include "quorvel/cstack.h"

#include <utility>

#include "quorvel/error.h"

namespace quorvel {

Ref<CStack> CStack::Create() { return Ref<CStack>(new CStack); }

const ClassInfo& CStack::Class() const {
  static const ClassInfo info =
      ClassBuilder<CStack>(u"CStack")
          .Method<&CStack::Push>(u"Push", {u"Value"})
          .Method<&CStack::Pop>(u"Pop")
          .Method<&CStack::Insert>(u"Insert", {u"Value", u"Index"})
          .Method<&CStack::Remove>(u"Remove", {u"Index"})
          .Get<&CStack::Count>(u"Count")
          .Get<&CStack::Item>(u"Item", {u"Index"})
          .Get<&CStack::IsEmpty>(u"IsEmpty")
          .Build();
  return info;
}

size_t CStack::Slot(int32_t Index) const {
  if (Index < 1 || Index > Count()) RaiseStandard(kErrSubscript);
  return static_cast<size_t>(Index - 1);
}

Value CStack::Pop() {
  if (items_.empty()) return Value(u"");
  Value& top = items_.back();
  // Value assignment of an object raises before anything is removed.
  Value result = top.IsObject() ? LetValue(top) : std::move(top);
  items_.pop_back();
  return result;
}

void CStack::Insert(const Value& value, int32_t Index) {
  const size_t at = Slot(Index);
  items_.insert(items_.begin() + static_cast<ptrdiff_t>(at), value);
}

void CStack::Remove(int32_t Index) {
  const size_t at = Slot(Index);
  // Released only once the stack is consistent again.
  Value gone = std::move(items_[at]);
  items_.erase(items_.begin() + static_cast<ptrdiff_t>(at));
}

Value CStack::Item(int32_t Index) const {
  return LetValue(items_[Slot(Index)]);
}

}  // namespace quorvel
