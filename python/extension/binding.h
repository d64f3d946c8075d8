// The extension module `quorvel._quorvel`: Python over the C interface.
// What its files share: the package's Python classes, the conversions
// between Python values and variants, and calling a member.
//
// Threads: a call into the library gives the interpreter lock up while the
// interpreter runs other threads (with one thread there is nobody to give
// it to); callbacks take it back for their Python code.
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
using quorvel::kErrElementNotFound;
using quorvel::kErrNoSuchMember;
using quorvel::kErrObjectRequired;
using quorvel::kErrOverflow;
using quorvel::kErrWrongArgumentCount;

// The classes quorvel/__init__.py defines in Python and hands over at
// import.
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
  // describe_member(class, member, params, kind, writable) ->
  // (inspect.Signature, docstring).
  PyObject* describe_member = nullptr;
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

// ---- Arguments (arguments.cpp) ----

// What a Python object becomes when the library takes a callback.
enum class CallbackKind {
  kSortCallback,    // a SortCallback: its Apply is called
  kFilterCallback,  // a FilterCallback: its Test is called
  kSortFunction,    // any callable, called with the value for the key
  kFilterFunction,  // any callable, whose result's truth keeps the value
};

// What a call asks of files and codecs, from its `errors=` keyword.
enum class Errors {
  kDefault,  // not said: exact, but a database keeps the choice of its open
  kStrict,   // errors="strict": refuse what would not come back equal
  kReplace,  // errors="replace": the library's lossy default
};

// Reads an `errors=` value ("strict", "replace", or None for not said);
// false with a ValueError for anything else.
bool ParseErrors(PyObject* value, Errors* out);

// The variants of one call and what the call asks for. The variants are
// cleared when the list goes.
class Arguments {
 public:
  Arguments() = default;
  explicit Arguments(Errors errors) : errors_(errors) {}
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;
  ~Arguments();

  // Appends a converted value; false with a Python exception set. At the
  // callback position, a plain Python callable becomes a callback object
  // of the kind set there.
  bool Add(PyObject* value);
  // Appends each element of a tuple (a subscript with several indices) or
  // the value itself.
  bool AddIndex(PyObject* key);
  // Appends Missing, for an argument left out.
  void AddMissing();
  quorvel_variant& operator[](size_t i) { return data()[i]; }
  quorvel_variant* data() { return heap_.empty() ? inline_ : heap_.data(); }
  size_t size() const { return count_; }

  Errors errors() const { return errors_; }
  void set_errors(Errors errors) { errors_ = errors; }
  // Whether conversions must refuse what they would lose.
  bool exact() const { return errors_ != Errors::kReplace; }
  // Makes the argument at `index` a callback of `kind` when it is a plain
  // callable.
  void set_callback_at(size_t index, CallbackKind kind) {
    callback_at_ = index;
    callback_kind_ = kind;
  }

 private:
  quorvel_variant* Next();
  // Passes short ASCII text as UTF-16 from room of its own, which the
  // library copies without a UTF-8 check; false when there is no room.
  bool WidenShortText(PyObject* text, quorvel_variant* slot);

  static constexpr size_t kInline = 6;
  static constexpr size_t kShortText = 64;
  quorvel_variant inline_[kInline];
  char16_t text_[kShortText];
  size_t text_used_ = 0;
  std::vector<quorvel_variant> heap_;
  size_t count_ = 0;
  Errors errors_ = Errors::kDefault;
  size_t callback_at_ = SIZE_MAX;
  CallbackKind callback_kind_ = CallbackKind::kSortFunction;
};

// ---- Errors (errors.cpp) ----

// Where a failed call was made, for the error's message: the class, the
// member as called and, for a wrong argument count, what the member takes
// and how many it was given.
struct CallSite {
  const char* class_name = nullptr;
  const char* member = nullptr;
  std::string expected;
  Py_ssize_t given = -1;
};

// Sets the Python exception for a failed call of the C interface: the
// Python exception a callback raised, when that is what failed, or the
// quorvel.Error subclass of the number, told `site` when given. Returns
// null.
PyObject* RaiseStatus(int32_t status, const CallSite* site = nullptr);
// Raises the error of `number` with the texts given, told `site`.
PyObject* RaiseWithTexts(int32_t number, PyObject* source,
                         PyObject* description, const CallSite* site);
// Raises quorvel.Error with a number and description of the library's own.
PyObject* RaiseError(int32_t number, const char* description);
// Takes the current Python exception as the failure of a callback: keeps it
// to be raised again where the library call returns, records it as the last
// error (its own number for quorvel.Error, else 440) and returns the number.
int32_t ReportPythonError();
// Forgets a kept exception that the library caught and did not pass on.
void DropPending();

// ---- Objects (objects.cpp, members.cpp, iteration.cpp, calls.cpp) ----

class ClassCache;
struct MemberEntry;

// Prepares the types and adds Object and Database to the module.
bool InitObjects(PyObject* module);
bool InitMembers();
bool InitIteration();
// Returns the wrapper of a handle, taking over its one count (released on
// failure); a Python callback's own object comes back as itself.
PyObject* WrapObject(quorvel_object* handle);
// Returns the handle an Object wrapper holds, or null for anything else.
quorvel_object* HandleOf(PyObject* value);
// Returns the callable bound member `entry` of the wrapper `owner`.
PyObject* NewMember(PyObject* owner, MemberEntry* entry);
// Returns the Python iterator over an object, as its class walks.
PyObject* IterateObject(PyObject* self);

// Calls a member of `handle` (of class `cls`, null when unknown): `entry`
// when the class has it, else `name`. Asks for exactness as `args` says,
// lets the interpreter lock go while it runs, and returns its result; null
// with a Python exception that names the class and member.
PyObject* Call(quorvel_object* handle, ClassCache* cls, MemberEntry* entry,
               const char* name, int32_t call_type, Arguments& args);
// Raises 438 for a name the class does not have, as the library does,
// without calling it.
PyObject* RaiseNoMember(quorvel_object* handle, ClassCache* cls, PyObject* name,
                        int32_t call_type);
// Starts the library's enumeration of `handle`; null with an exception.
quorvel_object* Enumerate(quorvel_object* handle);

// ---- Callbacks (callbacks.cpp) ----

// Fills `out` with a new callback object that calls `callback` as `kind`
// says.
bool MakeCallback(PyObject* callback, CallbackKind kind, quorvel_variant* out);
// Returns the Python object behind a callback object made here, borrowed,
// or null.
PyObject* CallbackOwner(quorvel_object* handle);

}  // namespace quorvel_python

#endif  // QUORVEL_PYTHON_BINDING_H_
