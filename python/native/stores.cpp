// What quorvel.kv and quorvel.docs share: opening, the stores' errors as
// the package's exceptions, and exact text.
#include "stores.h"

#include <quorvel/safearray.h>
#include <quorvel/storable.h>

#include <cstring>

namespace quorvel::python {

namespace {

// The classes quorvel._stores binds to error numbers of the stores.
PyObject* store_error_classes = nullptr;

// stores_bind(classes): a dict from error number to class.
PyObject* Bind(PyObject*, PyObject* classes) {
  if (!PyDict_Check(classes)) {
    PyErr_SetString(PyExc_TypeError, "stores_bind takes a dict");
    return nullptr;
  }
  Py_XSETREF(store_error_classes, Py_NewRef(classes));
  Py_RETURN_NONE;
}

PyMethodDef methods[] = {
    {"stores_bind", Bind, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool ParseOpen(PyObject* args, PyObject* kwargs, OpenRequest* out) {
  static const char* keywords[] = {"path", "readonly", "create", "errors",
                                   nullptr};
  PyObject* path = nullptr;
  int readonly = 0;
  int create = 1;
  const char* errors = nullptr;
  if (!PyArg_ParseTupleAndKeywords(
          args, kwargs, "O&|$ppz:open", const_cast<char**>(keywords),
          PyUnicode_FSDecoder, &path, &readonly, &create, &errors))
    return false;
  out->path = Utf16Of(path);
  Py_DECREF(path);
  ConvertOptions options;
  if (!ParseErrors(errors, &options)) return false;
  out->exact = options.exact;
  out->options.read_only = readonly != 0;
  out->options.create_if_missing = create != 0;
  // The checks run here, where the faults can name their place; the
  // library's own would only repeat them.
  out->options.exact = false;
  return true;
}

PyObject* RaiseStoreError(const Error& error, std::u16string_view path) {
  PyObject* type = nullptr;
  if (store_error_classes != nullptr) {
    PyObject* number = PyLong_FromLong(error.number());
    if (number == nullptr) return nullptr;
    type = PyDict_GetItemWithError(store_error_classes, number);
    Py_DECREF(number);
    if (type == nullptr && PyErr_Occurred()) return nullptr;
  }
  if (type == nullptr) return RaiseError(error);
  PyObject* instance = PyObject_CallFunction(
      type, "iNNN", error.number(), TextOf(error.source()),
      TextOf(error.description()), TextOf(path));
  if (instance != nullptr) {
    PyErr_SetObject(type, instance);
    Py_DECREF(instance);
  }
  return nullptr;
}

PyObject* ListOfTexts(std::span<const Value> strings) {
  PyObject* list = PyList_New(Py_ssize_t(strings.size()));
  for (size_t i = 0; list != nullptr && i < strings.size(); ++i) {
    PyObject* text = TextOf(strings[i].string_view());
    if (text == nullptr)
      Py_CLEAR(list);
    else
      PyList_SET_ITEM(list, Py_ssize_t(i), text);
  }
  return list;
}

bool RequireText(PyObject* object, std::u16string_view text,
                 StorableTarget target, std::u16string_view source,
                 std::u16string_view name, std::u16string_view where) {
  std::optional<StorableFault> fault;
  if (!Run([&] { fault = CheckStorableText(text, target, name); }))
    return false;
  if (!fault) return true;
  if (fault->reason == StorableReason::kCharacter) {
    RaiseInexactText(source, fault->description, where, object,
                     Py_ssize_t(fault->position) - 1,
                     Py_ssize_t(fault->position));
  } else {
    RaiseInexact(source, fault->description, where);
  }
  return false;
}

bool TakeArguments(const char* function, PyObject* const* args,
                   Py_ssize_t nargs, PyObject* kwnames,
                   std::initializer_list<const char*> names, size_t required,
                   PyObject** out) {
  const size_t count = names.size();
  if (size_t(nargs) > count) {
    PyErr_Format(PyExc_TypeError,
                 "%s() takes at most %zu arguments (%zd given)", function,
                 count, nargs);
    return false;
  }
  for (size_t i = 0; i < count; ++i)
    out[i] = i < size_t(nargs) ? args[i] : nullptr;
  const Py_ssize_t keywords =
      kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < keywords; ++k) {
    PyObject* name = PyTuple_GET_ITEM(kwnames, k);
    size_t i = 0;
    for (const char* known : names) {
      if (PyUnicode_CompareWithASCIIString(name, known) == 0) break;
      ++i;
    }
    if (i == count) {
      PyErr_Format(PyExc_TypeError,
                   "%s() got an unexpected keyword argument '%U'", function,
                   name);
      return false;
    }
    if (out[i] != nullptr) {
      PyErr_Format(PyExc_TypeError,
                   "%s() got multiple values for argument '%U'", function,
                   name);
      return false;
    }
    out[i] = args[nargs + k];
  }
  for (size_t i = 0; i < required; ++i) {
    if (out[i] == nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s'",
                   function, names.begin()[i]);
      return false;
    }
  }
  return true;
}

PyObject* RaiseNotText(const char* what, PyObject* object) {
  return PyErr_Format(PyExc_TypeError, "%s must be a str, not '%s'", what,
                      Py_TYPE(object)->tp_name);
}

bool AddStores(PyObject* module) {
  return PyModule_AddFunctions(module, methods) == 0 && AddKv(module) &&
         AddDocs(module);
}

}  // namespace quorvel::python
