// The module `quorvel._native`: native Python data and the library's Values,
// both ways in one pass, and the library's errors as the package's
// exceptions. What its files share.
//
// Python to Value (ToValue), beside the rules of python_values.h:
//
//   None                  Null
//   float                 Double (NaN and infinities too; a target without
//                         a form for them refuses them)
//   bytes, bytearray      a Byte array
//   list, tuple           CArray
//   dict                  Dictionary, keys in their order; every key a str
//   anything else         TypeError (datetime.time included)
//
// Value to Python (FromValue): Empty, Null and Nothing are None; Boolean
// bool; Integer, Long and Byte int; Single and Double float; Currency and
// Decimal int when whole and decimal.Decimal otherwise (trailing zeros
// dropped); Date a naive datetime, to the millisecond; String str; a Byte
// array bytes; other arrays, CArray and Collection list; Dictionary and a
// document record's fields dict. An Error value or any other object is a
// TypeError.
#ifndef QUORVEL_PYTHON_NATIVE_CONVERT_H_
#define QUORVEL_PYTHON_NATIVE_CONVERT_H_

#include "../common/python_values.h"
// Python.h, which python_values.h brings in, comes before the rest.
#include <quorvel/error.h>
#include <quorvel/storable.h>
#include <quorvel/string.h>
#include <quorvel/value.h>

#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quorvel::python {

// How to convert: exactly, or taking the library's losses.
struct ConvertOptions {
  // Refuses every value that would not come back equal (errors="strict");
  // false takes the lossy forms (errors="replace").
  bool exact = true;
};

// Reads an `errors` argument: null or "strict" is exact, "replace" takes
// losses. False with a ValueError for anything else.
bool ParseErrors(const char* errors, ConvertOptions* options);

// Fills `out` from native Python data. `where` names the value itself in
// errors ("name" makes a fault inside it "name.city[2]"). Returns false
// with a Python exception set: quorvel.InexactError for a loss refused,
// quorvel.NumberOverflowError for a number or date without any form,
// TypeError for a type without one, RecursionError for nesting Python
// refuses (a list that holds itself among them).
// `work`, when given, receives an estimate of the work the Value holds
// (members, and text and bytes by the eight), for RunReleased.
bool ToValue(PyObject* object, const ConvertOptions& options, Value* out,
             std::u16string_view where = {}, size_t* work = nullptr);

// Returns the Python value of `value` (a new reference); null with a
// Python exception set.
PyObject* FromValue(const Value& value);

// A String of a Python str and a str of library text.
String StringOf(PyObject* text);
inline PyObject* TextOf(std::u16string_view text) {
  return TextFromUtf16(text);
}

// Returns when `value` (converted from `original`) comes back exactly
// from `target`; otherwise raises quorvel.InexactTextError (a character
// without a byte, `object` the text it stands in) or quorvel.InexactError
// with the check's description, source `source` and the place, `where`
// prefixed, and returns false. `name` is what the description calls the
// value itself (see CheckStorable).
bool RequireStorable(const Value& value, StorableTarget target,
                     std::u16string_view source, std::u16string_view name = {},
                     std::u16string_view where = {});

// Raises what CheckStorable found in `value` as RequireStorable does;
// returns null.
PyObject* RaiseStorableFault(const Value& value, const StorableFault& fault,
                             std::u16string_view source);

// Raises a library error as the package's exception; returns null.
PyObject* RaiseError(const Error& error);

// Runs library code, turning what it raises into the package's exception
// (std::bad_alloc into MemoryError). Returns false when it raised.
template <class F>
bool Run(F&& body) {
  try {
    body();
    return true;
  } catch (const Error& error) {
    RaiseError(error);
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_SystemError, e.what());
  }
  return false;
}

// The same with the interpreter lock released, so that other threads run
// meanwhile: `body` must touch no Python object. Below `work` (bytes or
// members, the caller's estimate) of kReleaseAbove the lock stays held,
// since giving it up and waiting for it again costs more than small work,
// and a thread busy in Python can keep it for a whole switch interval.
inline constexpr size_t kReleaseAbove = 64 << 10;
template <class F>
bool RunReleased(size_t work, F&& body) {
  if (work < kReleaseAbove) return Run(std::forward<F>(body));
  std::optional<Error> error;
  bool no_memory = false;
  std::optional<std::string> other;
  Py_BEGIN_ALLOW_THREADS;
  try {
    body();
  } catch (const Error& e) {
    error.emplace(e);
  } catch (const std::bad_alloc&) {
    no_memory = true;
  } catch (const std::exception& e) {
    other.emplace(e.what());
  }
  Py_END_ALLOW_THREADS;
  if (error) return RaiseError(*error), false;
  if (no_memory) return PyErr_NoMemory(), false;
  if (other) return PyErr_SetString(PyExc_SystemError, other->c_str()), false;
  return true;
}

// ---- The module's parts: each adds its functions to the module ----

// A function taking keywords as a PyMethodDef holds it.
template <class F>
PyCFunction WithKeywords(F function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

bool AddMsgPack(PyObject* module);

}  // namespace quorvel::python

#endif  // QUORVEL_PYTHON_NATIVE_CONVERT_H_
