// Python values to variants and back.
#include "binding.h"
// The datetime C API builds on what binding.h brings in.
#include <datetime.h>

#include <cmath>
#include <cstring>
#include <string>

namespace quorvel_python {

namespace {

// Day numbers count from 30 December 1899; valid dates lie strictly between
// these, 1 January 100 to 31 December 9999.
constexpr int64_t kDaysTo1970 = 25569;
constexpr double kFirstDay = -657435.0;
constexpr double kPastLastDay = 2958466.0;
constexpr int64_t kMillisecondsPerDay = 86400000;

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

// A day number's whole part is the day and its fraction the time of day,
// also for days before 1899-12-30 (-1.25 is 29 December, 6:00). A Date
// carries time to the millisecond.
PyObject* DateFromDayNumber(double day_number) {
  if (!(day_number > kFirstDay && day_number < kPastLastDay))
    return RaiseError(kErrOverflow, "Overflow");
  double whole;
  const double fraction = std::fabs(std::modf(day_number, &whole));
  int64_t days = static_cast<int64_t>(whole);
  int64_t ms = std::llround(fraction * kMillisecondsPerDay);
  if (ms == kMillisecondsPerDay) ms = 0, ++days;
  int year, month, day;
  CivilFromDays(days - kDaysTo1970, &year, &month, &day);
  return PyDateTime_FromDateAndTime(
      year, month, day, static_cast<int>(ms / 3600000),
      static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
      static_cast<int>(ms % 1000) * 1000);
}

bool DayNumberFromDate(PyObject* value, double* out) {
  const int year = PyDateTime_GET_YEAR(value);
  if (year < 100) {
    RaiseError(kErrOverflow, "Overflow");
    return false;
  }
  const int64_t days = DaysFromCivil(year, PyDateTime_GET_MONTH(value),
                                     PyDateTime_GET_DAY(value)) +
                       kDaysTo1970;
  double time = 0;
  if (PyDateTime_Check(value)) {
    time = (PyDateTime_DATE_GET_HOUR(value) * 3600.0 +
            PyDateTime_DATE_GET_MINUTE(value) * 60.0 +
            PyDateTime_DATE_GET_SECOND(value) +
            PyDateTime_DATE_GET_MICROSECOND(value) / 1e6) /
           86400.0;
  }
  *out = days >= 0 ? days + time : days - time;
  return true;
}

// Returns "[-]digitsE-scale" for decimal.Decimal, which reads it exactly.
PyObject* MakeDecimal(bool negative, unsigned __int128 magnitude, int scale) {
  char digits[48];
  char* p = digits + sizeof digits;
  *--p = 0;
  do {
    *--p = static_cast<char>('0' + static_cast<int>(magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *--p = '-';
  std::string text(p);
  text += "E-" + std::to_string(scale);
  return PyObject_CallFunction(Types().decimal, "s", text.c_str());
}

bool DecimalToVariant(PyObject* value, quorvel_variant* out) {
  PyObject* parts =
      PyObject_CallOneArg(Types().decimal_parts, value);  // (neg, mag, scale)
  if (parts == nullptr) return false;
  PyObject* magnitude = PyTuple_GET_ITEM(parts, 1);
  PyObject* shift = PyLong_FromLong(64);
  PyObject* high = PyNumber_Rshift(magnitude, shift);
  Py_DECREF(shift);
  bool ok = high != nullptr;
  if (ok) {
    out->type = QUORVEL_DECIMAL;
    out->as.decimal.negative = PyObject_IsTrue(PyTuple_GET_ITEM(parts, 0));
    out->as.decimal.lo = PyLong_AsUnsignedLongLongMask(magnitude);
    out->as.decimal.hi = static_cast<uint32_t>(PyLong_AsUnsignedLong(high));
    out->as.decimal.scale =
        static_cast<uint8_t>(PyLong_AsLong(PyTuple_GET_ITEM(parts, 2)));
  }
  Py_XDECREF(high);
  Py_DECREF(parts);
  return ok;
}

// A Python int is a Long when it fits 32 bits, a Decimal when it fits 96.
bool IntToVariant(PyObject* value, quorvel_variant* out) {
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
  if (n == -1 && PyErr_Occurred()) return false;
  if (overflow == 0 && n >= INT32_MIN && n <= INT32_MAX) {
    out->type = QUORVEL_LONG;
    out->as.long_value = static_cast<int32_t>(n);
    return true;
  }
  PyObject* magnitude = PyNumber_Absolute(value);
  if (magnitude == nullptr) return false;
  PyObject* shift = PyLong_FromLong(64);
  PyObject* high = PyNumber_Rshift(magnitude, shift);
  Py_DECREF(shift);
  bool ok = high != nullptr;
  if (ok) {
    int high_overflow = 0;
    const long long h = PyLong_AsLongLongAndOverflow(high, &high_overflow);
    if (high_overflow != 0 || h > UINT32_MAX) {
      RaiseError(kErrOverflow, "Overflow");
      ok = false;
    } else {
      out->type = QUORVEL_DECIMAL;
      out->as.decimal.lo = PyLong_AsUnsignedLongLongMask(magnitude);
      out->as.decimal.hi = static_cast<uint32_t>(h);
      out->as.decimal.scale = 0;
      out->as.decimal.negative = overflow < 0 || (overflow == 0 && n < 0);
    }
  }
  Py_XDECREF(high);
  Py_DECREF(magnitude);
  return ok;
}

// Text is borrowed when Python holds it in a form the library reads (ASCII
// as UTF-8, two-byte strings as UTF-16); otherwise it is widened to UTF-16.
bool TextToVariant(PyObject* value, quorvel_variant* out) {
  const Py_ssize_t n = PyUnicode_GET_LENGTH(value);
  out->type = QUORVEL_STRING;
  if (PyUnicode_IS_ASCII(value)) {
    out->as.utf8.data = static_cast<const char*>(PyUnicode_DATA(value));
    out->as.utf8.size = static_cast<size_t>(n);
    return true;
  }
  if (PyUnicode_KIND(value) == PyUnicode_2BYTE_KIND) {
    out->flags = QUORVEL_UTF16;
    out->as.utf16.data = static_cast<const uint16_t*>(PyUnicode_DATA(value));
    out->as.utf16.size = static_cast<size_t>(n);
    return true;
  }
  const std::u16string units = Utf16Of(value);
  if (quorvel_variant_set_utf16(out,
                                reinterpret_cast<const uint16_t*>(units.data()),
                                units.size()) != 0) {
    RaiseStatus(quorvel_last_error_number());
    return false;
  }
  return true;
}

bool BytesToVariant(const char* data, Py_ssize_t size, quorvel_variant* out) {
  const quorvel_bound bound = {0, static_cast<int32_t>(size)};
  if (size > INT32_MAX) {
    RaiseError(kErrOverflow, "Overflow");
    return false;
  }
  quorvel_array* array = nullptr;
  int32_t status = quorvel_array_create(QUORVEL_BYTE, 1, &bound, &array);
  if (status != 0) {
    RaiseStatus(status);
    return false;
  }
  uint8_t* bytes;
  size_t length;
  quorvel_array_bytes(array, &bytes, &length);
  if (size != 0) std::memcpy(bytes, data, static_cast<size_t>(size));
  out->type = QUORVEL_ARRAY + QUORVEL_BYTE;
  out->flags = QUORVEL_OWNED;
  out->as.array = array;
  return true;
}

// The shape of an array: its bounds and, for each dimension, how far apart
// its elements lie in flat order (the first dimension varies fastest).
struct Shape {
  std::vector<quorvel_bound> bounds;
  std::vector<size_t> strides;

  void ComputeStrides() {
    strides.assign(bounds.size(), 1);
    for (size_t d = 1; d < bounds.size(); ++d)
      strides[d] = strides[d - 1] * static_cast<size_t>(bounds[d - 1].count);
  }
};

// Puts the nested lists of `value` (dimension `dim` outermost) into `array`
// from element `flat` on.
bool FillArray(PyObject* value, quorvel_array* array, const Shape& shape,
               size_t dim, size_t flat) {
  PyObject* items = PySequence_Fast(value, "a quorvel.Array holds lists");
  if (items == nullptr) return false;
  bool ok = PySequence_Fast_GET_SIZE(items) == shape.bounds[dim].count;
  if (!ok)
    PyErr_SetString(PyExc_ValueError,
                    "a quorvel.Array's lists do not match its bounds");
  for (Py_ssize_t i = 0; ok && i < shape.bounds[dim].count; ++i) {
    PyObject* item = PySequence_Fast_GET_ITEM(items, i);
    const size_t at = flat + static_cast<size_t>(i) * shape.strides[dim];
    if (dim + 1 < shape.bounds.size()) {
      ok = FillArray(item, array, shape, dim + 1, at);
      continue;
    }
    quorvel_variant element;
    quorvel_variant_init(&element);
    ok = ToVariant(item, &element);
    if (ok) {
      const int32_t status = quorvel_array_put(array, at, &element);
      if (status != 0) ok = RaiseStatus(status) != nullptr;
    }
    quorvel_variant_clear(&element);
  }
  Py_DECREF(items);
  return ok;
}

// Reads the bounds of a quorvel.Array: ((lower, upper), ...).
bool DeclaredShape(PyObject* value, Shape* shape) {
  PyObject* bounds = PyObject_GetAttrString(value, "bounds");
  if (bounds == nullptr) return false;
  PyObject* pairs = PySequence_Fast(bounds, "quorvel.Array bounds");
  Py_DECREF(bounds);
  if (pairs == nullptr) return false;
  bool ok = true;
  for (Py_ssize_t d = 0; ok && d < PySequence_Fast_GET_SIZE(pairs); ++d) {
    long lower = 0, upper = 0;
    ok = PyArg_ParseTuple(PySequence_Fast_GET_ITEM(pairs, d), "ll", &lower,
                          &upper);
    shape->bounds.push_back(
        {static_cast<int32_t>(lower), static_cast<int32_t>(upper - lower + 1)});
  }
  Py_DECREF(pairs);
  return ok;
}

// A list or tuple is a one-dimensional array from 0; a quorvel.Array has
// the bounds it says.
bool SequenceToVariant(PyObject* value, quorvel_variant* out) {
  Shape shape;
  if (PyObject_TypeCheck(value,
                         reinterpret_cast<PyTypeObject*>(Types().array))) {
    if (!DeclaredShape(value, &shape)) return false;
  } else {
    shape.bounds.push_back({0, static_cast<int32_t>(PySequence_Size(value))});
  }
  shape.ComputeStrides();
  quorvel_array* array = nullptr;
  const int32_t status = quorvel_array_create(
      QUORVEL_VARIANT, static_cast<int32_t>(shape.bounds.size()),
      shape.bounds.data(), &array);
  if (status != 0) return RaiseStatus(status) != nullptr;
  out->type = QUORVEL_ARRAY + QUORVEL_VARIANT;
  out->flags = QUORVEL_OWNED;
  out->as.array = array;
  // A list that holds itself would never end.
  if (Py_EnterRecursiveCall(" while converting a list to an array"))
    return false;
  const bool ok = FillArray(value, array, shape, 0, 0);
  Py_LeaveRecursiveCall();
  return ok;
}

// Builds the nested lists of dimension `dim` from element `flat` on.
PyObject* ListFromArray(const quorvel_array* array, const Shape& shape,
                        size_t dim, size_t flat) {
  const Py_ssize_t count = shape.bounds[dim].count;
  PyObject* list = PyList_New(count);
  for (Py_ssize_t i = 0; list != nullptr && i < count; ++i) {
    const size_t at = flat + static_cast<size_t>(i) * shape.strides[dim];
    PyObject* item;
    if (dim + 1 < shape.bounds.size()) {
      item = ListFromArray(array, shape, dim + 1, at);
    } else {
      quorvel_variant element;
      const int32_t status =
          quorvel_array_get(array, at, QUORVEL_UTF16, &element);
      item = status != 0 ? RaiseStatus(status) : FromVariant(&element);
    }
    if (item == nullptr) {
      Py_CLEAR(list);
    } else {
      PyList_SET_ITEM(list, i, item);
    }
  }
  return list;
}

// A Byte array is bytes; an array from 0 of one dimension is a list; any
// other shape is a quorvel.Array.
PyObject* ArrayFromVariant(const quorvel_variant* v) {
  quorvel_array* array = v->as.array;
  int32_t kind = 0, dims = 0;
  size_t size = 0;
  int32_t status = quorvel_array_shape(array, &kind, &dims, &size);
  if (status != 0) return RaiseStatus(status);
  if (kind == QUORVEL_BYTE) {
    uint8_t* data;
    quorvel_array_bytes(array, &data, &size);
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data),
                                     static_cast<Py_ssize_t>(size));
  }
  Shape shape;
  shape.bounds.resize(static_cast<size_t>(dims));
  for (int32_t d = 0; d < dims; ++d)
    quorvel_array_bound(array, d + 1, &shape.bounds[static_cast<size_t>(d)]);
  shape.ComputeStrides();
  PyObject* items = ListFromArray(array, shape, 0, 0);
  if (items == nullptr || (dims == 1 && shape.bounds[0].lower == 0))
    return items;
  PyObject* bounds = PyTuple_New(dims);
  for (int32_t d = 0; bounds != nullptr && d < dims; ++d) {
    const quorvel_bound& b = shape.bounds[static_cast<size_t>(d)];
    PyTuple_SET_ITEM(bounds, d,
                     Py_BuildValue("(ii)", b.lower, b.lower + b.count - 1));
  }
  PyObject* result =
      bounds == nullptr
          ? nullptr
          : PyObject_CallFunctionObjArgs(Types().array, items, bounds, nullptr);
  Py_XDECREF(bounds);
  Py_DECREF(items);
  return result;
}

}  // namespace

bool InitConversions() {
  PyDateTime_IMPORT;
  return PyDateTimeAPI != nullptr;
}

std::u16string Utf16Of(PyObject* text) {
  const int kind = PyUnicode_KIND(text);
  const void* data = PyUnicode_DATA(text);
  const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
  std::u16string units;
  units.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    const Py_UCS4 c = PyUnicode_READ(kind, data, i);
    if (c < 0x10000) {
      units += static_cast<char16_t>(c);
    } else {
      units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return units;
}

PyObject* TextFromUtf16(const uint16_t* units, size_t size) {
  uint16_t widest = 0;
  bool surrogates = false;
  for (size_t i = 0; i < size; ++i) {
    if (units[i] > widest) widest = units[i];
    if (units[i] >= 0xD800 && units[i] <= 0xDFFF) surrogates = true;
  }
  if (surrogates) {
    // Pairs become one code point; a lone surrogate stays as it is.
    int order = -1;
    return PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(units),
                                 static_cast<Py_ssize_t>(size * 2),
                                 "surrogatepass", &order);
  }
  PyObject* text = PyUnicode_New(static_cast<Py_ssize_t>(size), widest);
  if (text == nullptr) return nullptr;
  const int kind = PyUnicode_KIND(text);
  void* data = PyUnicode_DATA(text);
  for (size_t i = 0; i < size; ++i)
    PyUnicode_WRITE(kind, data, static_cast<Py_ssize_t>(i), units[i]);
  return text;
}

bool ToVariant(PyObject* value, quorvel_variant* out) {
  PyTypeObject* type = Py_TYPE(value);
  if (type == &PyUnicode_Type) return TextToVariant(value, out);
  if (type == &PyLong_Type) return IntToVariant(value, out);
  if (type == &PyFloat_Type) {
    out->type = QUORVEL_DOUBLE;
    out->as.double_value = PyFloat_AS_DOUBLE(value);
    return true;
  }
  if (value == Py_None) return true;  // Empty
  if (type == &PyBool_Type) {
    out->type = QUORVEL_BOOLEAN;
    out->as.boolean = value == Py_True ? -1 : 0;
    return true;
  }
  if (quorvel_object* handle = HandleOf(value)) {
    out->type = QUORVEL_OBJECT;
    out->as.object = handle;
    return true;
  }
  const PackageTypes& types = Types();
  if (value == types.null) {
    out->type = QUORVEL_NULL;
    return true;
  }
  if (PyObject_TypeCheck(value,
                         reinterpret_cast<PyTypeObject*>(types.error_value))) {
    PyObject* code = PyObject_GetAttrString(value, "code");
    if (code == nullptr) return false;
    out->type = QUORVEL_ERROR;
    out->as.error_code = static_cast<int32_t>(PyLong_AsUnsignedLongMask(code));
    Py_DECREF(code);
    return !PyErr_Occurred();
  }
  if (PyBytes_Check(value))
    return BytesToVariant(PyBytes_AS_STRING(value), PyBytes_GET_SIZE(value),
                          out);
  if (PyByteArray_Check(value))
    return BytesToVariant(PyByteArray_AS_STRING(value),
                          PyByteArray_GET_SIZE(value), out);
  if (PyList_Check(value) || PyTuple_Check(value))
    return SequenceToVariant(value, out);
  if (PyUnicode_Check(value)) return TextToVariant(value, out);
  if (PyLong_Check(value)) return IntToVariant(value, out);
  if (PyFloat_Check(value)) {
    out->type = QUORVEL_DOUBLE;
    out->as.double_value = PyFloat_AsDouble(value);
    return true;
  }
  if (PyObject_TypeCheck(value, reinterpret_cast<PyTypeObject*>(types.decimal)))
    return DecimalToVariant(value, out);
  if (PyDate_Check(value)) {
    out->type = QUORVEL_DATE;
    return DayNumberFromDate(value, &out->as.date);
  }
  const int sort = PyObject_IsInstance(value, types.sort_callback);
  if (sort < 0) return false;
  if (sort) return MakeCallback(value, CallbackKind::kSortCallback, out);
  const int filter = PyObject_IsInstance(value, types.filter_callback);
  if (filter < 0) return false;
  if (filter) return MakeCallback(value, CallbackKind::kFilterCallback, out);
  PyErr_Format(PyExc_TypeError,
               "quorvel cannot pass a value of type '%s' as a Value",
               type->tp_name);
  return false;
}

PyObject* FromVariant(quorvel_variant* v) {
  PyObject* result = nullptr;
  switch (v->type) {
    case QUORVEL_EMPTY:
      result = Py_NewRef(Py_None);
      break;
    case QUORVEL_NULL:
      result = Py_NewRef(Types().null);
      break;
    case QUORVEL_INTEGER:
      result = PyLong_FromLong(v->as.integer);
      break;
    case QUORVEL_LONG:
      result = PyLong_FromLong(v->as.long_value);
      break;
    case QUORVEL_BYTE:
      result = PyLong_FromLong(v->as.byte);
      break;
    case QUORVEL_SINGLE:
      result = PyFloat_FromDouble(v->as.single);
      break;
    case QUORVEL_DOUBLE:
      result = PyFloat_FromDouble(v->as.double_value);
      break;
    case QUORVEL_BOOLEAN:
      result = PyBool_FromLong(v->as.boolean);
      break;
    case QUORVEL_CURRENCY: {
      const int64_t c = v->as.currency;
      const unsigned __int128 magnitude =
          c < 0 ? -static_cast<unsigned __int128>(c)
                : static_cast<unsigned __int128>(c);
      result = MakeDecimal(c < 0, magnitude, 4);
      break;
    }
    case QUORVEL_DECIMAL: {
      const quorvel_decimal& d = v->as.decimal;
      result = MakeDecimal(d.negative != 0,
                           (static_cast<unsigned __int128>(d.hi) << 64) | d.lo,
                           d.scale);
      break;
    }
    case QUORVEL_DATE:
      result = DateFromDayNumber(v->as.date);
      break;
    case QUORVEL_ERROR:
      result = v->as.error_code == QUORVEL_MISSING
                   ? Py_NewRef(Types().missing)
                   : PyObject_CallFunction(Types().error_value, "i",
                                           v->as.error_code);
      break;
    case QUORVEL_STRING:
      // Results are asked for in UTF-16.
      result = TextFromUtf16(v->as.utf16.data, v->as.utf16.size);
      break;
    case QUORVEL_OBJECT:
      if (v->as.object == nullptr) {
        result = Py_NewRef(Py_None);
      } else {
        result = WrapObject(v->as.object);
        v->flags = 0;  // the wrapper took the count
      }
      break;
    default:
      result = ArrayFromVariant(v);
      break;
  }
  quorvel_variant_clear(v);
  return result;
}

}  // namespace quorvel_python
