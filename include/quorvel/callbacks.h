// `ISortCallback` and `IFilterCallback`: the interfaces through which a client
// hands its own code to `CArray` (`SortByKey`, `Map`, `Filter`).
#ifndef QUORVEL_CALLBACKS_H_
#define QUORVEL_CALLBACKS_H_

#include "quorvel/dispatch.h"
#include "quorvel/object.h"
#include "quorvel/value.h"

namespace quorvel {

// A key selector and mapper. Created by name it does nothing useful: `Apply`
// returns Empty whatever it is given. A C++ client derives from it and
// overrides `Apply`; `CArray` calls through this interface, so an object of
// any other class is refused with 13 (type mismatch). An override must give
// the same key for the same element every time: `SortByKey` recomputes keys
// instead of storing them. Thread-compatible.
class ISortCallback : public Object {
 public:
  static Ref<ISortCallback> Create();
  const ClassInfo& Class() const override;

  // Returns the key or mapped value of `value` (late binding: `Value`).
  virtual Value Apply(const Value& value);

 protected:
  ISortCallback() = default;
};

// A predicate. Created by name, `Test` returns False whatever it is given; a
// C++ client derives from it and overrides `Test`. Thread-compatible.
class IFilterCallback : public Object {
 public:
  static Ref<IFilterCallback> Create();
  const ClassInfo& Class() const override;

  // Returns whether `value` is kept (late binding: `Value`).
  virtual bool Test(const Value& value);

 protected:
  IFilterCallback() = default;
};

}  // namespace quorvel

#endif  // QUORVEL_CALLBACKS_H_
