// Python values and the library's kinds: the rules both extensions follow
// (quorvel._quorvel over the C interface, quorvel._native over the C++
// library), kept in one place so that the two cannot drift apart.
//
//   bool                  Boolean
//   int                   Long within 32 bits, a Decimal of scale 0 within
//                         96; beyond, the nearest Double when losses are
//                         taken, refused when exact
//   decimal.Decimal       Decimal; more than 28 places rounded half to even,
//                         beyond 96 bits or not finite a Double, when
//                         losses are taken
//   datetime, date        Date, the wall-clock fields; a time zone is
//                         dropped and microseconds kept only as far as the
//                         millisecond comes back, when losses are taken;
//                         years before 100 have no Date at all
//   str                   String, every code point (lone surrogates too)
//
// Exactness is the default: a value that would not come back equal is
// refused with quorvel.InexactError naming the place. This file holds no
// code of the library itself, so that both extensions can link it.
#ifndef QUORVEL_PYTHON_VALUES_H_
#define QUORVEL_PYTHON_VALUES_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel::python {

// Prepares the datetime C API and decimal.Decimal for this extension;
// false with a Python exception on failure.
bool InitPythonValues();

// ---- Faults ----

// A value that cannot go as it is, met deep inside a walk. The walk records
// it and returns false; each level on the way back up prepends its key or
// index, so the success path pays nothing for places; the top raises it.
struct Fault {
  enum class Kind {
    kNone,
    kInexact,   // it would not come back equal: quorvel.InexactError
    kOverflow,  // it has no form at all: quorvel.NumberOverflowError
    kType,      // no Value form for its type: TypeError
    kPython,    // a Python exception is already set
  };
  Kind kind = Kind::kNone;
  // "address.city[2]", built on the way up (a leading '.' is dropped at
  // the top).
  std::u16string path;
  // "the number 0.1234", "the datetime 2024-01-01T00:00:00+01:00", or the
  // type's name for kType.
  std::u16string subject;
  // "would be rounded to 28 decimal places"
  std::u16string loss;

  // Records a fault; returns false for the walk to pass on.
  bool Set(Kind k, std::u16string s, std::u16string l = {}) {
    kind = k;
    subject = std::move(s);
    loss = std::move(l);
    return false;
  }
  // Prepends one step of the path: a dictionary key or a list index.
  void PrependKey(std::u16string_view key);
  void PrependIndex(Py_ssize_t index);
  // The place, without a leading '.'.
  std::u16string Where() const;
  // "the number 0.1234 at price would be rounded to 28 decimal places"
  std::u16string Description() const;
};

// Raises the fault as the package's exception; returns null.
PyObject* RaiseFault(const Fault& fault);

// ---- The package's exceptions ----
//
// Raise quorvel.Error, or the subclass quorvel._ERROR_CLASSES names for
// the number, looked up in the package on first use. Return null.
PyObject* RaiseLibraryError(int32_t number, std::u16string_view source,
                            std::u16string_view description);
// quorvel.InexactError: number 5, a value that would not come back equal.
PyObject* RaiseInexact(std::u16string_view source,
                       std::u16string_view description,
                       std::u16string_view where);
// quorvel.InexactTextError: `text` has a character without a byte at
// `start` (in Python characters) to `end`.
PyObject* RaiseInexactText(std::u16string_view source,
                           std::u16string_view description,
                           std::u16string_view where, PyObject* text,
                           Py_ssize_t start, Py_ssize_t end);

// ---- Text ----

// The number of UTF-16 code units of a str (pairs for code points past
// U+FFFF).
size_t Utf16Length(PyObject* text);
// Writes those code units to `out`; lone surrogates as they are.
void WriteUtf16(PyObject* text, char16_t* out);
std::u16string Utf16Of(PyObject* text);
// Returns a str of UTF-16 text: a pair is one code point, a lone surrogate
// stays as it is. Null with a Python exception on failure.
PyObject* TextFromUtf16(const char16_t* units, size_t size);
inline PyObject* TextFromUtf16(std::u16string_view text) {
  return TextFromUtf16(text.data(), text.size());
}

// ---- Numbers and dates ----

// What a Python number or date becomes.
struct Number {
  enum class Kind { kLong, kDecimal, kDouble, kDate };
  Kind kind = Kind::kLong;
  int32_t long_value = 0;
  double real = 0;  // kDouble; kDate's day number
  // kDecimal: (-1)^negative * (hi * 2^64 + lo) / 10^scale
  uint64_t lo = 0;
  uint32_t hi = 0;
  uint8_t scale = 0;
  bool negative = false;
};

// Whether `value` is a decimal.Decimal (or a subclass).
bool IsDecimal(PyObject* value);
// Whether `value` is a datetime.date (datetime.datetime included), or a
// datetime.time, which has no Value form.
bool IsDate(PyObject* value);
bool IsTime(PyObject* value);

// Convert by the rules above; `exact` refuses every loss. False with the
// fault recorded.
bool NumberFromInt(PyObject* value, bool exact, Number* out, Fault* fault);
bool NumberFromDecimal(PyObject* value, bool exact, Number* out, Fault* fault);
bool NumberFromDate(PyObject* value, bool exact, Number* out, Fault* fault);

// Day numbers count from 30 December 1899; the Dates lie strictly between
// these, 1 January 100 to 31 December 9999.
inline constexpr double kFirstDayNumber = -657435.0;
inline constexpr double kPastLastDayNumber = 2958466.0;

// Returns the naive datetime of a day number, rounded to the millisecond
// (the last millisecond of 9999 does not round into year 10000). Raises
// quorvel.NumberOverflowError for a day number outside the Dates.
PyObject* DateFromDayNumber(double day_number);
// Returns the decimal digits of (-1)^negative * magnitude ("-120").
std::string DigitsOf(bool negative, unsigned __int128 magnitude);
// Returns decimal.Decimal((-1)^negative * magnitude / 10^scale), the scale
// kept ("1.5000").
PyObject* DecimalFromParts(bool negative, unsigned __int128 magnitude,
                           int scale);

}  // namespace quorvel::python

#endif  // QUORVEL_PYTHON_VALUES_H_
