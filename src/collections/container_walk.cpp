#include "collections/container_walk.h"

#include <typeinfo>

#include "quorvel/convert.h"

namespace quorvel {

ContainerWalk::ContainerWalk(Object& object) : held_(&object) {
  // The two classes met most often are told apart by their type_info
  // names' addresses before anything slower; the full comparison covers a
  // type_info that is not unique.
  const std::type_info& type = typeid(object);
  if (type.name() == typeid(Dictionary).name() || type == typeid(Dictionary)) {
    fields_ = Ref<Dictionary>(static_cast<Dictionary*>(&object));
    type_name_ = u"Dictionary";
    shape_ = ContainerShape::kMap;
    return;
  }
  if (type.name() == typeid(CArray).name() || type == typeid(CArray)) {
    list_ = static_cast<const CArray*>(&object);
    type_name_ = u"CArray";
    shape_ = ContainerShape::kList;
    return;
  }
  type_name_ = object.TypeName();
  if (type_name_ == u"Dictionary" || type_name_ == u"KxDocRec") {
    shape_ = ContainerShape::kMap;
    if (auto* record = dynamic_cast<FieldMap*>(&object))
      fields_ = Ref<Dictionary>(&record->fields());
  } else if (type_name_ == u"CArray") {
    shape_ = ContainerShape::kList;
  } else if (type_name_ == u"Collection") {
    shape_ = ContainerShape::kCollection;
  }
}

int32_t ContainerWalk::Count() {
  if (fields_) return fields_->Count();
  if (list_ != nullptr) return list_->Count();
  if (!foreign_count_) {
    foreign_count_ =
        ToLong(InvokeByName(held_.get(), u"Count", CallType::Get, {}));
  }
  return *foreign_count_;
}

}  // namespace quorvel
