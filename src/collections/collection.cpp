#include "quorvel/collection.h"

#include "quorvel/compare.h"
#include "quorvel/convert.h"
#include "quorvel/enumerator.h"
#include "quorvel/error.h"

namespace quorvel {

Ref<Collection> Collection::Create() { return Ref<Collection>(new Collection); }

const ClassInfo& Collection::Class() const {
  static const ClassInfo info =
      ClassBuilder<Collection>(u"Collection")
          .Method<&Collection::Add>(
              u"Add", {u"Item", Opt(u"Key"), Opt(u"Before"), Opt(u"After")})
          .Get<&Collection::Count>(u"Count")
          .Method<&Collection::Item>(u"Item", {u"Index"})
          .Method<&Collection::Remove>(u"Remove", {u"Index"})
          .Get<&Collection::NewEnum>(u"_NewEnum")
          .Default(u"Item")
          .Build();
  return info;
}

int64_t Collection::FindKey(std::u16string_view key) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    const Element& e = items_[i];
    if (e.has_key && CompareText(e.key, key, CompareMode::Text) == 0)
      return static_cast<int64_t>(i);
  }
  return -1;
}

size_t Collection::Resolve(const Value& index) const {
  if (index.IsString()) {
    int64_t at = FindKey(index.string_view());
    if (at < 0) RaiseStandard(kErrInvalidCall);
    return static_cast<size_t>(at);
  }
  if (!index.IsNumericKind() && !index.IsEmpty() && !index.IsObject())
    RaiseStandard(index.IsNull() ? kErrInvalidUseOfNull : kErrTypeMismatch);
  const int32_t position = ToLong(index);
  if (position < 1 || position > Count()) RaiseStandard(kErrSubscript);
  return static_cast<size_t>(position - 1);
}

void Collection::Add(const Value& Item, const Value& Key, const Value& Before,
                     const Value& After) {
  Element e{Item, String(), false};
  if (!Key.IsMissing()) {
    if (!Key.IsString()) RaiseStandard(kErrTypeMismatch);
    if (FindKey(Key.string_view()) >= 0) RaiseStandard(kErrKeyExists);
    e.key = Key.string();
    e.has_key = true;
  }
  if (!Before.IsMissing() && !After.IsMissing()) RaiseStandard(kErrInvalidCall);
  if (!Before.IsMissing()) {
    const size_t at = Resolve(Before);
    items_.insert(items_.begin() + static_cast<ptrdiff_t>(at), std::move(e));
  } else if (!After.IsMissing()) {
    const size_t at = Resolve(After);
    items_.insert(items_.begin() + static_cast<ptrdiff_t>(at + 1),
                  std::move(e));
  } else {
    items_.push_back(std::move(e));
  }
}

Value Collection::Item(const Value& Index) const {
  return items_[Resolve(Index)].value;
}

void Collection::Remove(const Value& Index) {
  const size_t at = Resolve(Index);
  // Keep the element alive until the collection is consistent again.
  Element gone = std::move(items_[at]);
  items_.erase(items_.begin() + static_cast<ptrdiff_t>(at));
}

Value Collection::NewEnum() {
  return Value(Enumerator::Over(Ref<Collection>(this)));
}

const Value& Collection::At(int32_t position) const {
  if (position < 1 || position > Count()) RaiseStandard(kErrSubscript);
  return items_[static_cast<size_t>(position - 1)].value;
}

void Collection::RemoveAt(int32_t position) {
  if (position < 1 || position > Count()) RaiseStandard(kErrSubscript);
  Element gone = std::move(items_[static_cast<size_t>(position - 1)]);
  items_.erase(items_.begin() + (position - 1));
}

}  // namespace quorvel
