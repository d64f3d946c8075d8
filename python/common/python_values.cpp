// The rules of python_values.h.
#include "python_values.h"
// The datetime C API builds on what Python.h brings in.
#include <datetime.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace quorvel::python {

namespace {

constexpr int64_t kDaysTo1970 = 25569;
constexpr int64_t kMillisecondsPerDay = 86400000;
constexpr double kMicrosecondsPerDay = 86400000000.0;
// The day number of 31 December 9999, the last Date.
constexpr int64_t kLastDay = 2958465;
constexpr unsigned __int128 kDecimalLimit = static_cast<unsigned __int128>(1)
                                            << 96;
constexpr int kMaxDecimalScale = 28;

PyObject* decimal_type = nullptr;

std::u16string Widen(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

std::u16string Digits(int64_t n) { return Widen(std::to_string(n)); }

// Returns str(value) as UTF-16; empty (and no exception) when it fails.
std::u16string TextOf(PyObject* value) {
  PyObject* text = PyObject_Str(value);
  std::u16string units;
  if (text != nullptr) {
    units = Utf16Of(text);
    Py_DECREF(text);
  }
  PyErr_Clear();
  return units;
}

// The ISO form of a date or datetime, as Python prints it.
std::u16string IsoText(PyObject* value) {
  PyObject* text = PyObject_CallMethod(value, "isoformat", nullptr);
  std::u16string units;
  if (text != nullptr && PyUnicode_Check(text)) units = Utf16Of(text);
  Py_XDECREF(text);
  PyErr_Clear();
  return units;
}

// "the integer 12345" or, for one too long to print, "an integer of 900
// bits".
std::u16string IntSubject(PyObject* value) {
  const size_t bits = _PyLong_NumBits(value);
  if (bits > 256) return u"an integer of " + Digits(int64_t(bits)) + u" bits";
  return u"the integer " + TextOf(value);
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

bool IsIdentifier(std::u16string_view key) {
  if (key.empty()) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    const char16_t c = key[i];
    const bool letter =
        (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
    if (!letter && !(c >= u'0' && c <= u'9' && i > 0)) return false;
  }
  return true;
}

// A key as a JSON string: control characters and lone surrogates as
// \uXXXX, as the library's own paths write them.
std::u16string QuotedKey(std::u16string_view key) {
  std::u16string out = u"[\"";
  for (size_t i = 0; i < key.size(); ++i) {
    const char16_t c = key[i];
    const bool paired =
        (IsHighSurrogate(c) && i + 1 < key.size() &&
         IsLowSurrogate(key[i + 1])) ||
        (IsLowSurrogate(c) && i > 0 && IsHighSurrogate(key[i - 1]));
    if (c == u'"' || c == u'\\') {
      out += u'\\';
      out += c;
    } else if (c < 0x20 ||
               ((IsHighSurrogate(c) || IsLowSurrogate(c)) && !paired)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", unsigned{c});
      out += Widen(escape);
    } else {
      out += c;
    }
  }
  return out + u"\"]";
}

// The classes of quorvel/__init__.py, looked up once the package is there.
struct Package {
  PyObject* error = nullptr;
  PyObject* classes = nullptr;
  PyObject* inexact = nullptr;
  PyObject* inexact_text = nullptr;
};

const Package* GetPackage() {
  static Package package;
  if (package.error != nullptr) return &package;
  PyObject* module = PyImport_ImportModule("quorvel");
  if (module == nullptr) return nullptr;
  Package found;
  found.error = PyObject_GetAttrString(module, "Error");
  found.classes = PyObject_GetAttrString(module, "_ERROR_CLASSES");
  found.inexact = PyObject_GetAttrString(module, "InexactError");
  found.inexact_text = PyObject_GetAttrString(module, "InexactTextError");
  Py_DECREF(module);
  if (found.error == nullptr || found.classes == nullptr ||
      found.inexact == nullptr || found.inexact_text == nullptr) {
    Py_XDECREF(found.error);
    Py_XDECREF(found.classes);
    Py_XDECREF(found.inexact);
    Py_XDECREF(found.inexact_text);
    return nullptr;
  }
  package = found;  // kept for the life of the process
  return &package;
}

// Raises an instance of `type` made from `args` (a new reference, stolen).
PyObject* RaiseInstance(PyObject* type, PyObject* args) {
  if (args == nullptr) return nullptr;
  PyObject* error = PyObject_CallObject(type, args);
  Py_DECREF(args);
  if (error != nullptr) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error)), error);
    Py_DECREF(error);
  }
  return nullptr;
}

// Days since 1 January 1970 of a date in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int* year, int* month, int* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yoe + era * 400 + (*month <= 2));
}

// Takes the nearest Double of a number that no Decimal holds, for the
// lossy conversion: `d` is float(value), null when Python could not make
// one. A fault when not even a Double holds it.
bool LossyDouble(PyObject* d, bool finite, const std::u16string& subject,
                 Number* out, Fault* fault) {
  if (d == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_OverflowError))
      return fault->Set(Fault::Kind::kPython, {});
    PyErr_Clear();
    return fault->Set(Fault::Kind::kOverflow, subject,
                      u"lies beyond the range of a Double");
  }
  out->kind = Number::Kind::kDouble;
  out->real = PyFloat_AsDouble(d);
  Py_DECREF(d);
  if (finite && std::isinf(out->real)) {
    return fault->Set(Fault::Kind::kOverflow, subject,
                      u"lies beyond the range of a Double");
  }
  return true;
}

// A decimal number as its text spells it: digits without leading zeros
// and a power of ten.
struct DecimalText {
  bool negative = false;
  bool finite = true;
  std::string digits;
  int64_t exponent = 0;
};

bool ParseDecimalText(std::string_view text, DecimalText* out) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+'))
    out->negative = text[i++] == '-';
  if (i >= text.size() ||
      !((text[i] >= '0' && text[i] <= '9') || text[i] == '.')) {
    out->finite = false;  // NaN, sNaN, Infinity
    return true;
  }
  int64_t fraction_digits = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.') {
      point = true;
    } else if (c >= '0' && c <= '9') {
      if (!out->digits.empty() || c != '0') out->digits += c;
      fraction_digits += point;
    } else {
      break;
    }
  }
  int64_t exponent = 0;
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
      negative = text[i++] == '-';
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      // decimal.Decimal keeps exponents far inside int64.
      exponent = exponent * 10 + (text[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  out->exponent = exponent - fraction_digits;
  return i == text.size();
}

// Returns digits as a number; false when it reaches 2^96.
bool DigitsValue(std::string_view digits, unsigned __int128* value) {
  if (digits.size() > 29) return false;
  unsigned __int128 v = 0;
  for (char c : digits) v = v * 10 + static_cast<unsigned>(c - '0');
  *value = v;
  return v < kDecimalLimit;
}

}  // namespace

bool InitPythonValues() {
  PyDateTime_IMPORT;
  if (PyDateTimeAPI == nullptr) return false;
  if (decimal_type == nullptr) {
    PyObject* module = PyImport_ImportModule("decimal");
    if (module == nullptr) return false;
    decimal_type = PyObject_GetAttrString(module, "Decimal");
    Py_DECREF(module);
  }
  return decimal_type != nullptr;
}

// ---- Faults ----

void Fault::PrependKey(std::u16string_view key) {
  path.insert(0,
              IsIdentifier(key) ? u"." + std::u16string(key) : QuotedKey(key));
}

void Fault::PrependIndex(Py_ssize_t index) {
  path.insert(0, u"[" + Digits(index) + u"]");
}

std::u16string Fault::Where() const {
  return !path.empty() && path[0] == u'.' ? path.substr(1) : path;
}

std::u16string Fault::Description() const {
  const std::u16string where = Where();
  if (kind == Kind::kType && loss.empty()) {
    return u"quorvel cannot pass a value of type '" + subject +
           u"' as a Value" + (where.empty() ? u"" : u" (at " + where + u")");
  }
  return subject + (where.empty() ? u"" : u" at " + where) + u" " + loss;
}

PyObject* RaiseFault(const Fault& fault) {
  switch (fault.kind) {
    case Fault::Kind::kInexact:
      return RaiseInexact(u"KxQuorvel", fault.Description(), fault.Where());
    case Fault::Kind::kOverflow:
      return RaiseLibraryError(6, u"KxQuorvel", fault.Description());
    case Fault::Kind::kType: {
      PyObject* text = TextFromUtf16(fault.Description());
      if (text != nullptr) {
        PyErr_SetObject(PyExc_TypeError, text);
        Py_DECREF(text);
      }
      return nullptr;
    }
    case Fault::Kind::kPython:
      if (PyErr_Occurred()) return nullptr;
      break;
    case Fault::Kind::kNone:
      break;
  }
  PyErr_SetString(PyExc_SystemError, "a conversion failed without a reason");
  return nullptr;
}

// ---- The package's exceptions ----

PyObject* RaiseLibraryError(int32_t number, std::u16string_view source,
                            std::u16string_view description) {
  const Package* package = GetPackage();
  if (package == nullptr) return nullptr;
  PyObject* key = PyLong_FromLong(number);
  if (key == nullptr) return nullptr;
  PyObject* type = PyDict_GetItemWithError(package->classes, key);
  Py_DECREF(key);
  if (type == nullptr && PyErr_Occurred()) return nullptr;
  return RaiseInstance(type != nullptr ? type : package->error,
                       Py_BuildValue("(iNN)", number, TextFromUtf16(source),
                                     TextFromUtf16(description)));
}

PyObject* RaiseInexact(std::u16string_view source,
                       std::u16string_view description,
                       std::u16string_view where) {
  const Package* package = GetPackage();
  if (package == nullptr) return nullptr;
  return RaiseInstance(
      package->inexact,
      Py_BuildValue("(iNNN)", 5, TextFromUtf16(source),
                    TextFromUtf16(description), TextFromUtf16(where)));
}

PyObject* RaiseInexactText(std::u16string_view source,
                           std::u16string_view description,
                           std::u16string_view where, PyObject* text,
                           Py_ssize_t start, Py_ssize_t end) {
  const Package* package = GetPackage();
  if (package == nullptr) return nullptr;
  // Made without its __init__: that runs Error's cooperative super() into
  // UnicodeEncodeError.__init__, which wants five arguments of its own. So
  // the attributes the class documents are set here, the same ones.
  auto* type = reinterpret_cast<PyTypeObject*>(package->inexact_text);
  PyObject* source_text = TextFromUtf16(source);
  PyObject* description_text = TextFromUtf16(description);
  PyObject* where_text = TextFromUtf16(where);
  PyObject* args =
      source_text == nullptr || description_text == nullptr
          ? nullptr
          : Py_BuildValue("(iOO)", 5, source_text, description_text);
  PyObject* error = args == nullptr || where_text == nullptr
                        ? nullptr
                        : type->tp_new(type, args, nullptr);
  PyObject* start_number = PyLong_FromSsize_t(start);
  PyObject* end_number = PyLong_FromSsize_t(end);
  PyObject* number = PyLong_FromLong(5);
  PyObject* encoding = PyUnicode_FromString("cp1252");
  const std::pair<const char*, PyObject*> attributes[] = {
      {"number", number},
      {"source", source_text},
      {"description", description_text},
      {"where", where_text},
      {"encoding", encoding},
      {"object", text},
      {"start", start_number},
      {"end", end_number},
      {"reason", description_text},
  };
  bool ok = error != nullptr;
  for (const auto& [name, value] : attributes)
    ok = ok && value != nullptr &&
         PyObject_SetAttrString(error, name, value) == 0;
  if (ok) PyErr_SetObject(reinterpret_cast<PyObject*>(type), error);
  Py_XDECREF(error);
  Py_XDECREF(args);
  for (PyObject* o : {source_text, description_text, where_text, start_number,
                      end_number, number, encoding})
    Py_XDECREF(o);
  return nullptr;
}

// ---- Text ----

size_t Utf16Length(PyObject* text) {
  const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
  if (PyUnicode_KIND(text) != PyUnicode_4BYTE_KIND) return size_t(n);
  const Py_UCS4* data = PyUnicode_4BYTE_DATA(text);
  size_t units = size_t(n);
  for (Py_ssize_t i = 0; i < n; ++i) units += data[i] > 0xFFFF;
  return units;
}

void WriteUtf16(PyObject* text, char16_t* out) {
  const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
  switch (PyUnicode_KIND(text)) {
    case PyUnicode_1BYTE_KIND: {
      const Py_UCS1* data = PyUnicode_1BYTE_DATA(text);
      for (Py_ssize_t i = 0; i < n; ++i) out[i] = data[i];
      break;
    }
    case PyUnicode_2BYTE_KIND:
      std::memcpy(out, PyUnicode_2BYTE_DATA(text), size_t(n) * 2);
      break;
    default: {
      const Py_UCS4* data = PyUnicode_4BYTE_DATA(text);
      for (Py_ssize_t i = 0; i < n; ++i) {
        const Py_UCS4 c = data[i];
        if (c < 0x10000) {
          *out++ = static_cast<char16_t>(c);
        } else {
          *out++ = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
          *out++ = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
      }
      break;
    }
  }
}

std::u16string Utf16Of(PyObject* text) {
  std::u16string units(Utf16Length(text), u'\0');
  WriteUtf16(text, units.data());
  return units;
}

PyObject* TextFromUtf16(const char16_t* units, size_t size) {
  char16_t widest = 0;
  for (size_t i = 0; i < size; ++i) widest |= units[i];
  if (widest >= 0xD800) {
    bool surrogates = false;
    for (size_t i = 0; i < size && !surrogates; ++i)
      surrogates = units[i] >= 0xD800 && units[i] <= 0xDFFF;
    if (surrogates) {
      // Pairs become one code point; a lone surrogate stays as it is.
      int order = -1;
      return PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(units),
                                   Py_ssize_t(size * 2), "surrogatepass",
                                   &order);
    }
  }
  // `widest` is the or of all units: at least the largest, at most twice
  // it, which picks the same kind of str.
  PyObject* text = PyUnicode_New(Py_ssize_t(size), widest < 0x80    ? 0x7F
                                                   : widest < 0x100 ? 0xFF
                                                                    : 0xFFFF);
  if (text == nullptr) return nullptr;
  if (PyUnicode_KIND(text) == PyUnicode_2BYTE_KIND) {
    std::memcpy(PyUnicode_2BYTE_DATA(text), units, size * 2);
  } else {
    Py_UCS1* out = PyUnicode_1BYTE_DATA(text);
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<Py_UCS1>(units[i]);
  }
  return text;
}

// ---- Numbers and dates ----

bool IsDecimal(PyObject* value) {
  return PyObject_TypeCheck(value,
                            reinterpret_cast<PyTypeObject*>(decimal_type)) != 0;
}

bool IsDate(PyObject* value) { return PyDate_Check(value); }
bool IsTime(PyObject* value) { return PyTime_Check(value); }

bool NumberFromInt(PyObject* value, bool exact, Number* out, Fault* fault) {
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
  if (n == -1 && PyErr_Occurred()) return fault->Set(Fault::Kind::kPython, {});
  if (overflow == 0 && n >= INT32_MIN && n <= INT32_MAX) {
    out->kind = Number::Kind::kLong;
    out->long_value = static_cast<int32_t>(n);
    return true;
  }
  out->kind = Number::Kind::kDecimal;
  out->scale = 0;
  if (overflow == 0) {
    out->negative = n < 0;
    out->lo = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
    out->hi = 0;
    return true;
  }
  out->negative = overflow < 0;
  if (_PyLong_NumBits(value) <= 96) {
    PyObject* magnitude = PyNumber_Absolute(value);
    PyObject* shift = PyLong_FromLong(64);
    PyObject* high = magnitude != nullptr && shift != nullptr
                         ? PyNumber_Rshift(magnitude, shift)
                         : nullptr;
    if (high != nullptr) {
      out->lo = PyLong_AsUnsignedLongLongMask(magnitude);
      out->hi = static_cast<uint32_t>(PyLong_AsUnsignedLong(high));
    }
    Py_XDECREF(magnitude);
    Py_XDECREF(shift);
    Py_XDECREF(high);
    return PyErr_Occurred() ? fault->Set(Fault::Kind::kPython, {}) : true;
  }
  if (exact) {
    return fault->Set(Fault::Kind::kInexact, IntSubject(value),
                      u"has more than 96 bits and would be rounded to a "
                      u"Double");
  }
  return LossyDouble(PyNumber_Float(value), true, IntSubject(value), out,
                     fault);
}

bool NumberFromDecimal(PyObject* value, bool exact, Number* out, Fault* fault) {
  PyObject* text = PyObject_Str(value);
  if (text == nullptr) return fault->Set(Fault::Kind::kPython, {});
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
  DecimalText parsed;
  const bool read =
      utf8 != nullptr &&
      ParseDecimalText(std::string_view(utf8, size_t(size)), &parsed);
  const std::u16string subject =
      utf8 == nullptr ? u"" : u"the number " + Widen({utf8, size_t(size)});
  Py_DECREF(text);
  if (utf8 == nullptr) return fault->Set(Fault::Kind::kPython, {});
  if (!read) {
    PyErr_Format(PyExc_ValueError, "unexpected decimal text '%s'", utf8);
    return fault->Set(Fault::Kind::kPython, {});
  }
  out->kind = Number::Kind::kDecimal;
  out->negative = parsed.negative;
  out->hi = 0;
  out->lo = 0;
  out->scale = 0;
  if (!parsed.finite) {
    if (exact) {
      return fault->Set(Fault::Kind::kInexact, subject,
                        u"is not finite, which a Decimal cannot hold");
    }
    return LossyDouble(PyNumber_Float(value), false, subject, out, fault);
  }
  const std::string& digits = parsed.digits;
  if (digits.empty()) return true;  // zero, its sign kept
  unsigned __int128 magnitude = 0;
  int64_t scale = -parsed.exponent;
  bool lost = false;
  bool fits = false;
  if (scale <= 0) {
    // A whole number: its digits then -scale zeros.
    if (int64_t(digits.size()) - scale <= 29 &&
        DigitsValue(digits, &magnitude)) {
      for (int64_t k = 0; k < -scale && magnitude < kDecimalLimit; ++k)
        magnitude *= 10;
      fits = magnitude < kDecimalLimit;
    }
    scale = 0;
  } else {
    // Drop as few trailing digits as the scale limit and 96 bits need,
    // rounding half to even once.
    const int64_t n = int64_t(digits.size());
    int64_t drop = std::max<int64_t>(scale - kMaxDecimalScale, 0);
    drop = std::max<int64_t>(drop, n - 29);
    for (; drop <= scale; ++drop) {
      const int64_t kept_count = std::max<int64_t>(n - drop, 0);
      unsigned __int128 kept = 0;
      if (!DigitsValue(std::string_view(digits).substr(0, size_t(kept_count)),
                       &kept) &&
          kept_count > 0)
        continue;
      // The dropped part against one half: its first digit, then the rest.
      bool above_half = false, at_half = false, dropped_zero = true;
      if (drop > 0 && drop <= n) {
        const std::string_view rest =
            std::string_view(digits).substr(size_t(kept_count));
        const bool rest_zero =
            rest.find_first_not_of('0', 1) == std::string_view::npos;
        dropped_zero = rest[0] == '0' && rest_zero;
        above_half = rest[0] > '5' || (rest[0] == '5' && !rest_zero);
        at_half = rest[0] == '5' && rest_zero;
      } else if (drop > n) {
        dropped_zero = false;  // the digits all lie below one half
      }
      if (above_half || (at_half && (kept & 1) != 0)) ++kept;
      if (kept < kDecimalLimit) {
        magnitude = kept;
        scale -= drop;
        lost = !dropped_zero;
        fits = true;
        break;
      }
    }
  }
  if (!fits) {
    if (exact) {
      return fault->Set(Fault::Kind::kInexact, subject,
                        u"has more than 96 bits and would be rounded to a "
                        u"Double");
    }
    return LossyDouble(PyNumber_Float(value), true, subject, out, fault);
  }
  if (lost && exact) {
    return fault->Set(
        Fault::Kind::kInexact, subject,
        u"would be rounded to " + Digits(scale) + u" decimal places");
  }
  out->lo = static_cast<uint64_t>(magnitude);
  out->hi = static_cast<uint32_t>(magnitude >> 64);
  out->scale = static_cast<uint8_t>(scale);
  return true;
}

bool NumberFromDate(PyObject* value, bool exact, Number* out, Fault* fault) {
  const int year = PyDateTime_GET_YEAR(value);
  const bool has_time = PyDateTime_Check(value);
  const std::u16string kind = has_time ? u"the datetime " : u"the date ";
  if (year < 100) {
    return fault->Set(Fault::Kind::kOverflow, kind + IsoText(value),
                      u"lies before the year 100, where the Dates begin");
  }
  const int64_t days = DaysFromCivil(year, PyDateTime_GET_MONTH(value),
                                     PyDateTime_GET_DAY(value)) +
                       kDaysTo1970;
  int64_t microseconds = 0;
  if (has_time) {
    PyObject* zone = PyDateTime_DATE_GET_TZINFO(value);
    if (zone != Py_None && exact) {
      PyObject* offset = PyObject_CallMethod(value, "utcoffset", nullptr);
      if (offset == nullptr) return fault->Set(Fault::Kind::kPython, {});
      const bool aware = offset != Py_None;
      Py_DECREF(offset);
      if (aware) {
        return fault->Set(Fault::Kind::kInexact, kind + IsoText(value),
                          u"has a time zone, which a Date does not keep");
      }
    }
    const int us = PyDateTime_DATE_GET_MICROSECOND(value);
    if (us % 1000 != 0 && exact) {
      return fault->Set(Fault::Kind::kInexact, kind + IsoText(value),
                        u"has microseconds, which a Date keeps only to the "
                        u"millisecond");
    }
    microseconds = ((PyDateTime_DATE_GET_HOUR(value) * int64_t{60} +
                     PyDateTime_DATE_GET_MINUTE(value)) *
                        60 +
                    PyDateTime_DATE_GET_SECOND(value)) *
                       1000000 +
                   us;
  }
  // A day number's whole part is the day and its fraction the time of day,
  // also for days before 1899-12-30 (-1.25 is 29 December, 6:00).
  const double time = double(microseconds) / kMicrosecondsPerDay;
  out->kind = Number::Kind::kDate;
  out->real = days >= 0 ? double(days) + time : double(days) - time;
  return true;
}

PyObject* DateFromDayNumber(double day_number) {
  if (!(day_number > kFirstDayNumber && day_number < kPastLastDayNumber))
    return RaiseLibraryError(6, u"KxQuorvel", u"Overflow");
  double whole;
  const double fraction = std::fabs(std::modf(day_number, &whole));
  int64_t days = static_cast<int64_t>(whole);
  int64_t ms = std::llround(fraction * kMillisecondsPerDay);
  if (ms == kMillisecondsPerDay) {
    if (days == kLastDay) {
      ms -= 1;
    } else {
      ms = 0;
      ++days;
    }
  }
  int year, month, day;
  CivilFromDays(days - kDaysTo1970, &year, &month, &day);
  return PyDateTime_FromDateAndTime(
      year, month, day, static_cast<int>(ms / 3600000),
      static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
      static_cast<int>(ms % 1000) * 1000);
}

std::string DigitsOf(bool negative, unsigned __int128 magnitude) {
  char digits[48];
  char* p = digits + sizeof digits;
  do {
    *--p = static_cast<char>('0' + static_cast<int>(magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *--p = '-';
  return std::string(p, digits + sizeof digits);
}

PyObject* DecimalFromParts(bool negative, unsigned __int128 magnitude,
                           int scale) {
  const std::string text =
      DigitsOf(negative, magnitude) + "E-" + std::to_string(scale);
  return PyObject_CallFunction(decimal_type, "s", text.c_str());
}

}  // namespace quorvel::python
