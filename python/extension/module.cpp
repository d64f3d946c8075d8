// The module `quorvel._quorvel`: its functions and the hand-over of the
// package's Python classes.
#include <pybind11/pybind11.h>

#include "class_cache.h"

namespace py = pybind11;

namespace quorvel_python {

PackageTypes& Types() {
  static PackageTypes types;
  return types;
}

namespace {

PyObject* Check(PyObject* result) {
  if (result == nullptr) throw py::error_already_set();
  return result;
}

py::object CreateObject(const std::string& class_name) {
  quorvel_object* handle = nullptr;
  const int32_t status = quorvel_create_object(class_name.c_str(), &handle);
  if (status != 0) {
    CallSite site;
    site.class_name = class_name.c_str();
    Check(RaiseStatus(status, &site));
  }
  DropPending();
  return py::reinterpret_steal<py::object>(Check(WrapObject(handle)));
}

// call_by_name(obj, name, call_type, *args, errors=None)
py::object CallByName(py::handle object, const std::string& name,
                      int32_t call_type, const py::args& args,
                      const py::kwargs& kwargs) {
  quorvel_object* handle = HandleOf(object.ptr());
  if (handle == nullptr && !object.is_none()) {
    // As the library says of a Value that holds no object.
    Check(RaiseError(kErrObjectRequired, "Object required"));
  }
  Arguments values;
  for (auto [key, value] : kwargs) {
    if (py::str(key).cast<std::string>() != "errors")
      throw py::type_error("call_by_name() takes no keyword argument '" +
                           py::str(key).cast<std::string>() + "'");
    Errors errors;
    if (!ParseErrors(value.ptr(), &errors)) throw py::error_already_set();
    values.set_errors(errors);
  }
  ClassCache* cls = nullptr;
  MemberEntry* entry = nullptr;
  if (handle != nullptr) {
    cls = CacheFor(handle);
    if (cls == nullptr) throw py::error_already_set();
    entry = cls->Find(name);
    if (entry != nullptr && entry->callback_index >= 0)
      values.set_callback_at(static_cast<size_t>(entry->callback_index),
                             entry->callback_kind);
  }
  for (py::handle arg : args)
    if (!values.Add(arg.ptr())) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(
      Check(Call(handle, cls, entry, name.c_str(), call_type, values)));
}

// member(obj, name): the member itself, also a property that an attribute
// would read at once, for its docstring and signature.
py::object Member(py::handle object, py::str name) {
  quorvel_object* handle = HandleOf(object.ptr());
  if (handle == nullptr)
    throw py::type_error("member() takes a quorvel.Object");
  ClassCache* cls = CacheFor(handle);
  if (cls == nullptr) throw py::error_already_set();
  MemberEntry* entry = cls->Find(name.ptr());
  PyObject* made = entry != nullptr
                       ? NewMember(object.ptr(), entry)
                       : RaiseNoMember(handle, cls, name.ptr(), QUORVEL_GET);
  return py::reinterpret_steal<py::object>(Check(made));
}

void Bind(py::kwargs classes) {
  PackageTypes& types = Types();
  auto take = [&](const char* key) {
    return py::object(classes[key]).release().ptr();
  };
  types.error = take("Error");
  types.error_classes = take("error_classes");
  types.null = take("Null");
  types.error_value = take("ErrorValue");
  types.missing = take("Missing");
  types.array = take("Array");
  types.sort_callback = take("SortCallback");
  types.filter_callback = take("FilterCallback");
  types.describe_member = take("describe_member");
}

}  // namespace

}  // namespace quorvel_python

PYBIND11_MODULE(_quorvel, m) {
  m.doc() = "The compiled part of the quorvel package; use `quorvel` itself.";
  if (!quorvel_python::InitConversions() ||
      !quorvel_python::InitObjects(m.ptr()))
    throw py::error_already_set();
  m.def("create_object", &quorvel_python::CreateObject, py::arg("class_name"));
  m.def("call_by_name", &quorvel_python::CallByName);
  m.def("member", &quorvel_python::Member, py::arg("obj"), py::arg("name"));
  m.def("_bind", &quorvel_python::Bind);
}
