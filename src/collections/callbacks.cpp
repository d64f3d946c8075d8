// The two callback interfaces as classes of their own: creatable by name,
// with bodies that do nothing, for a client to derive from.
#include "quorvel/callbacks.h"

namespace quorvel {

Ref<ISortCallback> ISortCallback::Create() {
  return Ref<ISortCallback>(new ISortCallback);
}

const ClassInfo& ISortCallback::Class() const {
  static const ClassInfo info =
      ClassBuilder<ISortCallback>(u"ISortCallback")
          .Method<&ISortCallback::Apply>(u"Apply", {u"Value"})
          .Build();
  return info;
}

Value ISortCallback::Apply(const Value&) { return Value(); }

Ref<IFilterCallback> IFilterCallback::Create() {
  return Ref<IFilterCallback>(new IFilterCallback);
}

const ClassInfo& IFilterCallback::Class() const {
  static const ClassInfo info =
      ClassBuilder<IFilterCallback>(u"IFilterCallback")
          .Method<&IFilterCallback::Test>(u"Test", {u"Value"})
          .Build();
  return info;
}

bool IFilterCallback::Test(const Value&) { return false; }

}  // namespace quorvel
