// quorvel.Error from the library's last error, and Python exceptions raised
// in callbacks carried through the library and raised again.
#include <string>
#include <utility>
#include <vector>

#include "binding.h"

namespace quorvel_python {

namespace {

// The exception a callback raised, waiting for the library call around the
// callback to return. One per thread; the GIL guards it.
struct Pending {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  int32_t number = 0;
};
thread_local Pending pending;
// How many threads keep one, so that a call that returns need not look at
// its thread's (which costs a lookup in a shared library) when none does.
// The GIL guards it: kept and dropped only while it is held.
int pending_threads = 0;

PyObject* Utf16Text(const uint16_t* (*read)(size_t*)) {
  size_t size = 0;
  const uint16_t* units = read(&size);
  return TextFromUtf16(units, size);
}

// Sets the attributes that place the error: class_name, member and, for a
// wrong argument count, expected and given. False with an exception.
bool Place(PyObject* error, const CallSite& site) {
  static PyObject* const names[] = {PyUnicode_InternFromString("class_name"),
                                    PyUnicode_InternFromString("member"),
                                    PyUnicode_InternFromString("expected"),
                                    PyUnicode_InternFromString("given")};
  PyObject* values[] = {
      site.class_name == nullptr ? nullptr
                                 : PyUnicode_FromString(site.class_name),
      site.member == nullptr ? nullptr : PyUnicode_FromString(site.member),
      site.expected.empty()
          ? nullptr
          : PyUnicode_FromStringAndSize(
                site.expected.data(),
                static_cast<Py_ssize_t>(site.expected.size())),
      site.given < 0 ? nullptr : PyLong_FromSsize_t(site.given)};
  bool placed = !PyErr_Occurred();
  for (size_t i = 0; i < 4; ++i) {
    if (placed && values[i] != nullptr)
      placed = names[i] != nullptr &&
               PyObject_SetAttr(error, names[i], values[i]) == 0;
    Py_XDECREF(values[i]);
  }
  return placed;
}

// Returns str(object) as UTF-16; empty when it has none.
std::u16string TextOf(PyObject* object) {
  std::u16string text;
  PyObject* str = object == nullptr ? nullptr : PyObject_Str(object);
  if (str != nullptr) {
    text = Utf16Of(str);
    Py_DECREF(str);
  }
  PyErr_Clear();
  return text;
}

std::u16string AttributeText(PyObject* object, const char* name) {
  PyObject* value = PyObject_GetAttrString(object, name);
  std::u16string text = TextOf(value);
  Py_XDECREF(value);
  return text;
}

// "ValueError: the message", or the type's name alone.
std::u16string Describe(PyObject* type, PyObject* value) {
  std::u16string text = AttributeText(type, "__name__");
  std::u16string message = TextOf(value);
  if (!message.empty()) text += u": " + message;
  return text;
}

// Whether `type` keeps Error's own __init__, which only sets `args` and the
// three attributes: such an error is made without running Python code,
// which costs more than the rest of raising it. Asked once per class.
bool PlainInit(PyObject* type) {
  static PyObject* const init = PyUnicode_InternFromString("__init__");
  static std::vector<std::pair<PyObject*, bool>> known;
  for (const auto& [seen, plain] : known)
    if (seen == type) return plain;
  PyObject* own = _PyType_Lookup(reinterpret_cast<PyTypeObject*>(type), init);
  PyObject* base =
      _PyType_Lookup(reinterpret_cast<PyTypeObject*>(Types().error), init);
  const bool plain = own != nullptr && own == base;
  known.emplace_back(Py_NewRef(type), plain);
  return plain;
}

// Makes an instance of `type` (Error or a subclass) as Error(number,
// source, description) would; steals both texts.
PyObject* MakeError(PyObject* type, int32_t number, PyObject* source,
                    PyObject* description) {
  if (!PyType_Check(type) || !PlainInit(type))
    return PyObject_CallFunction(type, "iNN", number, source, description);
  static PyObject* const names[] = {PyUnicode_InternFromString("number"),
                                    PyUnicode_InternFromString("source"),
                                    PyUnicode_InternFromString("description")};
  PyObject* values[] = {PyLong_FromLong(number), source, description};
  PyObject* args = values[0] == nullptr
                       ? nullptr
                       : PyTuple_Pack(3, values[0], source, description);
  auto* cls = reinterpret_cast<PyTypeObject*>(type);
  PyObject* error = args == nullptr ? nullptr : cls->tp_new(cls, args, nullptr);
  Py_XDECREF(args);
  for (size_t i = 0; i < 3; ++i) {
    if (error != nullptr && (names[i] == nullptr ||
                             PyObject_SetAttr(error, names[i], values[i]) != 0))
      Py_CLEAR(error);
    Py_XDECREF(values[i]);
  }
  return error;
}

}  // namespace

void DropPending() {
  if (pending_threads == 0 || pending.type == nullptr) return;
  --pending_threads;
  Py_CLEAR(pending.type);
  Py_CLEAR(pending.value);
  Py_CLEAR(pending.traceback);
}

PyObject* RaiseWithTexts(int32_t number, PyObject* source,
                         PyObject* description, const CallSite* site) {
  if (source == nullptr || description == nullptr) {
    Py_XDECREF(source);
    Py_XDECREF(description);
    return nullptr;
  }
  PyObject* number_object = PyLong_FromLong(number);
  PyObject* type = number_object == nullptr
                       ? nullptr
                       : PyDict_GetItem(Types().error_classes, number_object);
  Py_XDECREF(number_object);
  if (type == nullptr) type = Types().error;
  PyObject* error = MakeError(type, number, source, description);
  if (error != nullptr && (site == nullptr || Place(error, *site)))
    PyErr_SetObject(type, error);
  Py_XDECREF(error);
  return nullptr;
}

PyObject* RaiseStatus(int32_t status, const CallSite* site) {
  if (pending_threads != 0 && pending.type != nullptr &&
      pending.number == status) {
    --pending_threads;
    PyErr_Restore(pending.type, pending.value, pending.traceback);
    pending = Pending();
    return nullptr;
  }
  DropPending();
  return RaiseWithTexts(status, Utf16Text(quorvel_last_error_source_utf16),
                        Utf16Text(quorvel_last_error_description_utf16), site);
}

PyObject* RaiseError(int32_t number, const char* description) {
  return RaiseWithTexts(number, PyUnicode_FromString("KxQuorvel"),
                        PyUnicode_FromString(description), nullptr);
}

int32_t ReportPythonError() {
  if (!PyErr_Occurred())
    PyErr_SetString(PyExc_SystemError,
                    "a callback failed without an exception");
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr) PyException_SetTraceback(value, traceback);
  int32_t number = kErrAutomation;
  std::u16string source = u"Python";
  std::u16string description;
  if (PyObject_IsInstance(value, Types().error) == 1) {
    PyObject* n = PyObject_GetAttrString(value, "number");
    number =
        n == nullptr ? kErrAutomation : static_cast<int32_t>(PyLong_AsLong(n));
    Py_XDECREF(n);
    PyErr_Clear();
    source = AttributeText(value, "source");
    description = AttributeText(value, "description");
    if (number == 0) number = kErrAutomation;  // 0 would read as success
  } else {
    description = Describe(type, value);
  }
  DropPending();
  pending = Pending{type, value, traceback, number};
  ++pending_threads;
  return quorvel_set_error_utf16(
      number, reinterpret_cast<const uint16_t*>(source.data()), source.size(),
      reinterpret_cast<const uint16_t*>(description.data()),
      description.size());
}

}  // namespace quorvel_python
