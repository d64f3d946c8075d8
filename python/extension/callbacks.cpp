// Python callbacks as the library's callback objects: the library calls a
// SortCallback's Apply, a FilterCallback's Test, or any other callable
// itself, and an exception they raise travels out through the library
// call. The interpreter lock is taken around the Python code, which may run
// on the calling thread inside a call that let the lock go.
#include "binding.h"

namespace quorvel_python {

namespace {

// The value the library hands a callback, as a Python object.
PyObject* Argument(const quorvel_variant* value) {
  quorvel_variant copy;
  const int32_t status = quorvel_variant_copy(&copy, value);
  if (status != 0) return RaiseStatus(status);
  return FromVariant(&copy);
}

// Calls the Python callback with the value: its `method`, or the object
// itself when `method` is null. Null with a Python exception set.
PyObject* CallPython(void* context, const char* method,
                     const quorvel_variant* value) {
  PyObject* argument = Argument(value);
  if (argument == nullptr) return nullptr;
  PyObject* target = static_cast<PyObject*>(context);
  PyObject* result = method == nullptr
                         ? PyObject_CallOneArg(target, argument)
                         : PyObject_CallMethod(target, method, "O", argument);
  Py_DECREF(argument);
  return result;
}

int32_t ApplyWith(const char* method, void* context,
                  const quorvel_variant* value, quorvel_variant* result) {
  PyGILState_STATE gil = PyGILState_Ensure();
  int32_t status = 0;
  PyObject* key = CallPython(context, method, value);
  quorvel_variant made;
  quorvel_variant_init(&made);
  if (key == nullptr || !ToVariant(key, &made)) {
    status = ReportPythonError();
  } else {
    // `made` may borrow the text of `key`; the library gets its own copy.
    status = quorvel_variant_copy(result, &made);
  }
  quorvel_variant_clear(&made);
  Py_XDECREF(key);
  PyGILState_Release(gil);
  return status;
}

int32_t TestWith(const char* method, void* context,
                 const quorvel_variant* value, int32_t* keep) {
  PyGILState_STATE gil = PyGILState_Ensure();
  int32_t status = 0;
  PyObject* verdict = CallPython(context, method, value);
  const int truth = verdict == nullptr ? -1 : PyObject_IsTrue(verdict);
  if (truth < 0) {
    status = ReportPythonError();
  } else {
    *keep = truth;
  }
  Py_XDECREF(verdict);
  PyGILState_Release(gil);
  return status;
}

int32_t Apply(void* context, const quorvel_variant* value,
              quorvel_variant* result) {
  return ApplyWith("Apply", context, value, result);
}

int32_t ApplyFunction(void* context, const quorvel_variant* value,
                      quorvel_variant* result) {
  return ApplyWith(nullptr, context, value, result);
}

int32_t Test(void* context, const quorvel_variant* value, int32_t* keep) {
  return TestWith("Test", context, value, keep);
}

int32_t TestFunction(void* context, const quorvel_variant* value,
                     int32_t* keep) {
  return TestWith(nullptr, context, value, keep);
}

void Release(void* context) {
  // Past the interpreter's end there is nobody left to tell.
  if (!Py_IsInitialized()) return;
  PyGILState_STATE gil = PyGILState_Ensure();
  Py_DECREF(static_cast<PyObject*>(context));
  PyGILState_Release(gil);
}

}  // namespace

bool MakeCallback(PyObject* callback, CallbackKind kind, quorvel_variant* out) {
  quorvel_object* handle = nullptr;
  Py_INCREF(callback);  // the library's, released through Release
  int32_t status;
  switch (kind) {
    case CallbackKind::kSortCallback:
    case CallbackKind::kSortFunction:
      status = quorvel_create_sort_callback(
          kind == CallbackKind::kSortCallback ? Apply : ApplyFunction, callback,
          Release, QUORVEL_UTF16, &handle);
      break;
    default:
      status = quorvel_create_filter_callback(
          kind == CallbackKind::kFilterCallback ? Test : TestFunction, callback,
          Release, QUORVEL_UTF16, &handle);
      break;
  }
  if (status != 0) return RaiseStatus(status) != nullptr;
  out->type = QUORVEL_OBJECT;
  out->flags = QUORVEL_OWNED;
  out->as.object = handle;
  return true;
}

PyObject* CallbackOwner(quorvel_object* handle) {
  void* context = nullptr;
  void (*function)(void) = nullptr;
  if (quorvel_callback_context(handle, &context, &function) != 0)
    return nullptr;
  for (auto own : {reinterpret_cast<void (*)(void)>(Apply),
                   reinterpret_cast<void (*)(void)>(ApplyFunction),
                   reinterpret_cast<void (*)(void)>(Test),
                   reinterpret_cast<void (*)(void)>(TestFunction)}) {
    if (function == own) return static_cast<PyObject*>(context);
  }
  return nullptr;
}

}  // namespace quorvel_python
