// The extension module `quorvel._quorvel`: Python over the C interface.
// What its files share: the package's Python classes, the conversions
// between Python values and variants, and calling a member.
#ifndef QUORVEL_PYTHON_BINDING_H_
#define QUORVEL_PYTHON_BINDING_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <quorvel/error.h>
#include <quorvel/quorvel_c.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../common/python_values.h"

namespace quorvel_python {

// The error numbers the extension raises or tells apart itself.
using quorvel::kErrAutomation;
using quorvel::kErrNoSuchMember;
using quorvel::kErrObjectRequired;
using quorvel::kErrOverflow;

// The classes quorvel/__init__.py defines in Python and hands over at
// import, plus decimal.Decimal.
struct PackageTypes {
  PyObject* error = nullptr;
  // A dict from error number to the subclass of Error that number raises.
  PyObject* error_classes = nullptr;
  PyObject* null = nullptr;
  PyObject* error_value = nullptr;
  PyObject* missing = nullptr;
  PyObject* array = nullptr;
  PyObject* sort_callback = nullptr;
  PyObject* filter_callback = nullptr;
  PyObject* decimal_parts = nullptr;
  PyObject* decimal = nullptr;
};
PackageTypes& Types();

// ---- Conversions (convert.cpp) ----

// Prepares the datetime C API; false with a Python exception on failure.
bool InitConversions();

// Fills `out` from a Python value by the rules of python_values.h. Text is
// borrowed from the Python string where it can be; whatever had to be made
// is owned by `out` (QUORVEL_OWNED), so quorvel_variant_clear() frees it.
// `exact` refuses a value the conversion would change (quorvel.InexactError,
// naming the place: "[2]"); otherwise the loss is taken. Returns false with
// a Python exception set: also quorvel.NumberOverflowError for a number or
// date with no form at all, TypeError for a value with no Value form.
bool ToVariant(PyObject* value, quorvel_variant* out, bool exact = true);

// Returns the Python value of `v` and clears `v`; null with a Python
// exception on failure.
PyObject* FromVariant(quorvel_variant* v);

// Returns a Python str of UTF-16 text; lone surrogates are kept.
inline PyObject* TextFromUtf16(const uint16_t* units, size_t size) {
  return quorvel::python::TextFromUtf16(
      reinterpret_cast<const char16_t*>(units), size);
}
// Returns the UTF-16 code units of a Python str (pairs for code points past
// U+FFFF; lone surrogates as they are).
using quorvel::python::Utf16Of;

// The variants of one call. They are cleared when the list goes.
class Arguments {
 public:
  Arguments() = default;
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;
  ~Arguments();

  // Appends a converted value; false with a Python exception set.
  bool Add(PyObject* value);
  // Appends each element of a tuple (a subscript with several indices) or
  // the value itself.
  bool AddIndex(PyObject* key);
  // Appends Missing, for an argument left out.
  void AddMissing();
  quorvel_variant& operator[](size_t i) { return data()[i]; }
  quorvel_variant* data() { return heap_.empty() ? inline_ : heap_.data(); }
  size_t size() const { return count_; }

 private:
  quorvel_variant* Next();

  static constexpr size_t kInline = 6;
  quorvel_variant inline_[kInline];
  std::vector<quorvel_variant> heap_;
  size_t count_ = 0;
};

// ---- Errors (errors.cpp) ----

// Sets the Python exception for a failed call of the C interface: the
// Python exception a callback raised, when that is what failed, or
// quorvel.Error (quorvel.MemberError for 438). Returns null.
PyObject* RaiseStatus(int32_t status);
// Raises quorvel.Error with a number and description of the library's own.
PyObject* RaiseError(int32_t number, const char* description);
// Takes the current Python exception as the failure of a callback: keeps it
// to be raised again where the library call returns, records it as the last
// error (its own number for quorvel.Error, else 440) and returns the number.
int32_t ReportPythonError();
// Forgets a kept exception that the library caught and did not pass on.
void DropPending();

// ---- Objects (objects.cpp) ----

// Prepares the three types and adds Object to the module.
bool InitObjects(PyObject* module);
// Returns the wrapper of a handle, taking over its one count (released on
// failure); a Python callback's own object comes back as itself.
PyObject* WrapObject(quorvel_object* handle);
// Returns the handle an Object wrapper holds, or null for anything else.
quorvel_object* HandleOf(PyObject* value);
// Calls a member and returns its result; null with a Python exception.
PyObject* Call(quorvel_object* handle, const char* name, int32_t call_type,
               Arguments& args);

// ---- Callbacks (callbacks.cpp) ----

// Fills `out` with a new callback object that calls a SortCallback's
// `Apply` (or a FilterCallback's `Test`) of `callback`.
bool MakeCallback(PyObject* callback, bool sort, quorvel_variant* out);
// Returns the Python object behind a callback object made here, borrowed,
// or null.
PyObject* CallbackOwner(quorvel_object* handle);

}  // namespace quorvel_python

#endif  // QUORVEL_PYTHON_BINDING_H_
