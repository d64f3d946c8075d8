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
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// Returns the Value of a converted number or date.
Value ValueOf(const Number& number);

// Returns the name of an object's type, as Python spells it ("set").
std::u16string TypeNameOf(PyObject* object);

// Records the fault of a dict key that is not a str; returns false.
bool KeyIsNoText(PyObject* key, Fault* fault);

// A String of a Python str and a str of library text.
String StringOf(PyObject* text);
// The text of a str as UTF-16: Python's own two-byte form where it is one,
// otherwise widened into `scratch`. Valid while both live.
std::u16string_view BorrowUtf16(PyObject* text, std::u16string& scratch);
inline PyObject* TextOf(std::u16string_view text) {
  return TextFromUtf16(text);
}

// Returns true when `value` comes back exactly from `target`; otherwise
// raises quorvel.InexactTextError (a character without a byte: `object`
// the text it stands in, `start` its place there) or quorvel.InexactError,
// with the check's description and place (`where`) and source `source`,
// and returns false. `name` is what the description calls the value
// itself (see CheckStorable).
bool RequireStorable(const Value& value, StorableTarget target,
                     std::u16string_view source, std::u16string_view name = {});

// Raises what CheckStorable found in `value` as RequireStorable does;
// returns null.
PyObject* RaiseStorableFault(const Value& value, const StorableFault& fault,
                             std::u16string_view source);

// Raises a library error as the package's exception; returns null.
PyObject* RaiseError(const Error& error);

// What library code raised, kept until it can be raised as the package's
// exception (once the interpreter lock is back, where it ran without it).
class Caught {
 public:
  // Runs `body`, keeping what it raises.
  template <class F>
  void Run(F&& body) {
    try {
      body();
    } catch (const Error& e) {
      error_.emplace(e);
    } catch (const std::bad_alloc&) {
      no_memory_ = true;
    } catch (const std::exception& e) {
      other_.emplace(e.what());
    }
  }
  // Raises what `Run` kept: a library error through `raise` (RaiseError or
  // one of its kind), std::bad_alloc as MemoryError, anything else as
  // SystemError. Returns false when it raised.
  template <class R>
  bool Finish(R&& raise) const {
    if (error_) return raise(*error_), false;
    if (no_memory_) return PyErr_NoMemory(), false;
    if (other_)
      return PyErr_SetString(PyExc_SystemError, other_->c_str()), false;
    return true;
  }

 private:
  std::optional<Error> error_;
  bool no_memory_ = false;
  std::optional<std::string> other_;
};

// Runs library code, turning what it raises into the package's exception
// (std::bad_alloc into MemoryError). Returns false when it raised.
template <class F>
bool Run(F&& body) {
  Caught caught;
  caught.Run(std::forward<F>(body));
  return caught.Finish(RaiseError);
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
  Caught caught;
  Py_BEGIN_ALLOW_THREADS;
  caught.Run(std::forward<F>(body));
  Py_END_ALLOW_THREADS;
  return caught.Finish(RaiseError);
}

// Holds a reference to `object` for a scope, so that client code run
// meanwhile (a subclass's __str__ changing a dict) cannot free what is
// being walked, and a library error passing through releases it.
class Held {
 public:
  explicit Held(PyObject* object) : object_(Py_NewRef(object)) {}
  ~Held() { Py_DECREF(object_); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;

 private:
  PyObject* object_;
};

// One level of nesting counted against Python's recursion limit, which
// stops a list that holds itself.
class Nested {
 public:
  Nested() = default;
  Nested(const Nested&) = delete;
  Nested& operator=(const Nested&) = delete;
  ~Nested() {
    if (entered_) Py_LeaveRecursiveCall();
  }
  // False with RecursionError set.
  bool Enter() { return entered_ = Py_EnterRecursiveCall(" in quorvel") == 0; }

 private:
  bool entered_ = false;
};

// Short texts met again (the keys of a list of records, above all) come
// back as the same str, as Python's own JSON reader does with its keys:
// one object instead of many, its hash already known to the dicts.
class TextCache {
 public:
  TextCache();
  ~TextCache();
  TextCache(const TextCache&) = delete;
  TextCache& operator=(const TextCache&) = delete;

  // Returns the str of `units` (a new reference); null with a Python
  // exception.
  PyObject* Get(std::u16string_view units);

 private:
  static constexpr size_t kMaxUnits = 24;
  static constexpr size_t kSlots = 1024;
  struct Slot {
    PyObject* text = nullptr;
    size_t length = 0;
    char16_t units[kMaxUnits];
  };
  std::vector<Slot> slots_;
};

// Turns the collector off while many containers are built, which it would
// otherwise walk again and again for nothing: they hold no cycles.
class CollectorPaused {
 public:
  CollectorPaused() : was_enabled_(PyGC_Disable() == 1) {}
  ~CollectorPaused() {
    if (was_enabled_) PyGC_Enable();
  }
  CollectorPaused(const CollectorPaused&) = delete;
  CollectorPaused& operator=(const CollectorPaused&) = delete;

 private:
  bool was_enabled_;
};

// The bytes of a bytes-like object, held for a scope (a bytearray cannot
// be resized meanwhile, so the bytes may be read without the interpreter
// lock).
class Bytes {
 public:
  Bytes() = default;
  Bytes(const Bytes&) = delete;
  Bytes& operator=(const Bytes&) = delete;
  ~Bytes() {
    if (held_) PyBuffer_Release(&view_);
  }
  // False with a TypeError for an object that holds no bytes.
  bool Hold(PyObject* object) {
    held_ = PyObject_GetBuffer(object, &view_, PyBUF_SIMPLE) == 0;
    return held_;
  }
  std::span<const uint8_t> span() const {
    return {static_cast<const uint8_t*>(view_.buf), size_t(view_.len)};
  }

 private:
  Py_buffer view_;
  bool held_ = false;
};

// Returns new bytes holding `data`.
inline PyObject* BytesOf(std::span<const uint8_t> data) {
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data.data()),
                                   Py_ssize_t(data.size()));
}

// ---- The module's parts: each adds its functions to the module ----

// Returns a function of another calling convention (METH_KEYWORDS,
// METH_FASTCALL) as a PyMethodDef holds it.
template <class F>
PyCFunction MethodOf(F function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

bool AddCodecs(PyObject* module);
bool AddCsv(PyObject* module);
bool AddJson(PyObject* module);
bool AddMsgPack(PyObject* module);

}  // namespace quorvel::python

#endif  // QUORVEL_PYTHON_NATIVE_CONVERT_H_
