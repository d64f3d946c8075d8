// Python SortCallback and FilterCallback objects as the library's callback
// objects: the library calls their Apply and Test, and an exception they
// raise travels out through the library call.
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

// Calls `method` of the Python object with the value; null with a Python
// exception set.
PyObject* CallPython(void* context, const char* method,
                     const quorvel_variant* value) {
  PyObject* argument = Argument(value);
  if (argument == nullptr) return nullptr;
  PyObject* result = PyObject_CallMethod(static_cast<PyObject*>(context),
                                         method, "O", argument);
  Py_DECREF(argument);
  return result;
}

int32_t Apply(void* context, const quorvel_variant* value,
              quorvel_variant* result) {
  PyGILState_STATE gil = PyGILState_Ensure();
  int32_t status = 0;
  PyObject* key = CallPython(context, "Apply", value);
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

int32_t Test(void* context, const quorvel_variant* value, int32_t* keep) {
  PyGILState_STATE gil = PyGILState_Ensure();
  int32_t status = 0;
  PyObject* verdict = CallPython(context, "Test", value);
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

void Release(void* context) {
  // Past the interpreter's end there is nobody left to tell.
  if (!Py_IsInitialized()) return;
  PyGILState_STATE gil = PyGILState_Ensure();
  Py_DECREF(static_cast<PyObject*>(context));
  PyGILState_Release(gil);
}

}  // namespace

bool MakeCallback(PyObject* callback, bool sort, quorvel_variant* out) {
  quorvel_object* handle = nullptr;
  Py_INCREF(callback);  // the library's, released through Release
  const int32_t status =
      sort ? quorvel_create_sort_callback(Apply, callback, Release,
                                          QUORVEL_UTF16, &handle)
           : quorvel_create_filter_callback(Test, callback, Release,
                                            QUORVEL_UTF16, &handle);
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
  if (function != reinterpret_cast<void (*)(void)>(Apply) &&
      function != reinterpret_cast<void (*)(void)>(Test))
    return nullptr;
  return static_cast<PyObject*>(context);
}

}  // namespace quorvel_python
