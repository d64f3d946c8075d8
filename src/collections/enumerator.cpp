#include "quorvel/enumerator.h"

#include "quorvel/error.h"

namespace quorvel {

Ref<Enumerator> Enumerator::Over(Ref<Collection> source) {
  return Ref<Enumerator>(new Enumerator(std::move(source)));
}

const ClassInfo& Enumerator::Class() const {
  static const ClassInfo info =
      ClassBuilder<Enumerator>(u"Enumerator")
          .Method<&Enumerator::MoveNext>(u"MoveNext")
          .Get<&Enumerator::Current>(u"Current")
          .Method<&Enumerator::Skip>(u"Skip", {u"Count"})
          .Method<&Enumerator::Reset>(u"Reset")
          .Method<&Enumerator::Clone>(u"Clone")
          .Build();
  return info;
}

bool Enumerator::MoveNext() {
  if (position_ <= source_->Count()) ++position_;
  return position_ <= source_->Count();
}

Value Enumerator::Current() const {
  if (position_ < 1 || position_ > source_->Count())
    RaiseStandard(kErrInvalidCall);
  return source_->At(position_);
}

bool Enumerator::Skip(int32_t Count) {
  if (Count < 0) RaiseStandard(kErrInvalidCall);
  for (int32_t i = 0; i < Count; ++i) {
    if (!MoveNext()) return false;
  }
  return true;
}

Value Enumerator::Clone() const {
  Ref<Enumerator> copy = Over(source_);
  copy->position_ = position_;
  return Value(copy);
}

bool Enumerator::Next(Value& out) {
  if (!MoveNext()) return false;
  out = source_->At(position_);
  return true;
}

}  // namespace quorvel
