// `Enumerator`: what `NewEnum` members return.
#ifndef QUORVEL_ENUMERATOR_H_
#define QUORVEL_ENUMERATOR_H_

#include <cstdint>

#include "quorvel/collection.h"
#include "quorvel/dispatch.h"
#include "quorvel/object.h"
#include "quorvel/value.h"

namespace quorvel {

// Walks a collection in position order, handing each element out by the
// store rule. It holds the collection, so the elements stay alive while it
// does; elements added to the collection behind the position still show.
// Thread-compatible.
class Enumerator final : public Object {
 public:
  static Ref<Enumerator> Over(Ref<Collection> source);
  const ClassInfo& Class() const override;

  // Steps to the next element; returns False past the last one.
  bool MoveNext();
  // Returns the element stepped to; raises 5 before the first `MoveNext`
  // and after the last.
  Value Current() const;
  // Skips up to `Count` elements; returns whether that many were there.
  bool Skip(int32_t Count);
  void Reset() { position_ = 0; }
  Value Clone() const;

  // Copies the next element into `out`; returns false at the end.
  bool Next(Value& out);

 private:
  explicit Enumerator(Ref<Collection> source) : source_(std::move(source)) {}

  Ref<Collection> source_;
  int32_t position_ = 0;  // the element last stepped to, 1-based; 0 before
};

// Calls `visit(element)` for each element that enumerating `object` (by its
// `_NewEnum` member, called by name) yields.
template <class Visit>
void ForEachElement(const Value& object, Visit&& visit) {
  Value e = CallByName(object, u"_NewEnum", CallType::Get);
  auto* walker = e.object_as<Enumerator>();
  if (walker == nullptr) RaiseStandard(kErrTypeMismatch);
  Value item;
  while (walker->Next(item)) visit(item);
}

}  // namespace quorvel

#endif  // QUORVEL_ENUMERATOR_H_
