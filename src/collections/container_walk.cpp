#include "collections/container_walk.h"

#include "quorvel/convert.h"

namespace quorvel {

namespace container_walk_internal {

constinit thread_local ContainerWalk* t_innermost
    __attribute__((tls_model("initial-exec"))) = nullptr;

OwnClass OwnClassOf(const Object& object) {
  const char* name = typeid(object).name();
  if (name == typeid(Dictionary).name()) return OwnClass::kMap;
  if (name == typeid(CArray).name()) return OwnClass::kList;
  return OwnClass::kOther;
}

}  // namespace container_walk_internal

void ContainerWalk::HoldWalks() {
  for (ContainerWalk* walk = container_walk_internal::t_innermost;
       walk != nullptr && walk->held_ == nullptr; walk = walk->link_.outer()) {
    walk->held_ = Ref<Object>(walk->object_);
  }
}

void ContainerWalk::ClassifyOther(Object& object) {
  // What follows may run client code: a foreign type name, a record's
  // fields, the members called later.
  HoldWalks();
  // A type_info that is not unique (another binary's) still compares equal.
  if (typeid(object) == typeid(Dictionary)) {
    map_ = static_cast<const Dictionary*>(&object);
    type_name_ = kDictionaryName;
    shape_ = ContainerShape::kMap;
    return;
  }
  if (typeid(object) == typeid(CArray)) {
    list_ = static_cast<const CArray*>(&object);
    type_name_ = kListName;
    shape_ = ContainerShape::kList;
    return;
  }
  type_name_ = object.TypeName();
  if (type_name_ == kDictionaryName || type_name_ == kRecordName) {
    shape_ = ContainerShape::kMap;
    if (auto* record = dynamic_cast<FieldMap*>(&object)) {
      fields_ = Ref<Dictionary>(&record->fields());
      map_ = fields_.get();
    }
  } else if (type_name_ == kListName) {
    shape_ = ContainerShape::kList;
  } else if (type_name_ == kCollectionName) {
    shape_ = ContainerShape::kCollection;
  }
}

int32_t ContainerWalk::ForeignCount() {
  if (!foreign_count_) {
    foreign_count_ = ToLong(InvokeByName(object_, u"Count", CallType::Get, {}));
  }
  return *foreign_count_;
}

}  // namespace quorvel
