// The module `quorvel._quorvel`: its functions and the hand-over of the
// package's Python classes.
#include <pybind11/pybind11.h>

#include "binding.h"

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
  if (status != 0) Check(RaiseStatus(status));
  DropPending();
  return py::reinterpret_steal<py::object>(Check(WrapObject(handle)));
}

// call_by_name(obj, name, call_type, *args)
py::object CallByName(py::handle object, const std::string& name,
                      int32_t call_type, py::args args) {
  quorvel_object* handle = HandleOf(object.ptr());
  if (handle == nullptr && !object.is_none()) {
    // As the library says of a Value that holds no object.
    Check(RaiseError(kErrObjectRequired, "Object required"));
  }
  Arguments values;
  for (py::handle arg : args)
    if (!values.Add(arg.ptr())) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(
      Check(Call(handle, name.c_str(), call_type, values)));
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
  types.decimal_parts = take("decimal_parts");
  types.decimal = py::object(py::module_::import("decimal").attr("Decimal"))
                      .release()
                      .ptr();
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
  m.def("_bind", &quorvel_python::Bind);
}
