// Python values to variants and back.
#include "binding.h"
// Python.h, which binding.h brings in, comes before the standard headers.
#include <cstring>
#include <string>

namespace quorvel_python {

namespace {

using quorvel::python::Fault;
using quorvel::python::Number;

bool ConvertValue(PyObject* value, quorvel_variant* out, bool exact,
                  Fault* fault);

void SetNumber(const Number& number, quorvel_variant* out) {
  switch (number.kind) {
    case Number::Kind::kLong:
      out->type = QUORVEL_LONG;
      out->as.long_value = number.long_value;
      break;
    case Number::Kind::kDecimal:
      out->type = QUORVEL_DECIMAL;
      out->as.decimal.lo = number.lo;
      out->as.decimal.hi = number.hi;
      out->as.decimal.scale = number.scale;
      out->as.decimal.negative = number.negative;
      break;
    case Number::Kind::kDouble:
      out->type = QUORVEL_DOUBLE;
      out->as.double_value = number.real;
      break;
    case Number::Kind::kDate:
      out->type = QUORVEL_DATE;
      out->as.date = number.real;
      break;
  }
}

// Converts an int, a decimal.Decimal or a date by the rules both
// extensions share.
template <class Rule>
bool NumberToVariant(Rule rule, PyObject* value, bool exact,
                     quorvel_variant* out, Fault* fault) {
  Number number;
  if (!rule(value, exact, &number, fault)) return false;
  SetNumber(number, out);
  return true;
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
               size_t dim, size_t flat, bool exact, Fault* fault) {
  PyObject* items = PySequence_Fast(value, "a quorvel.Array holds lists");
  if (items == nullptr) return fault->Set(Fault::Kind::kPython, {});
  bool ok = PySequence_Fast_GET_SIZE(items) == shape.bounds[dim].count;
  if (!ok) {
    PyErr_SetString(PyExc_ValueError,
                    "a quorvel.Array's lists do not match its bounds");
    fault->Set(Fault::Kind::kPython, {});
  }
  for (Py_ssize_t i = 0; ok && i < shape.bounds[dim].count; ++i) {
    PyObject* item = PySequence_Fast_GET_ITEM(items, i);
    const size_t at = flat + static_cast<size_t>(i) * shape.strides[dim];
    if (dim + 1 < shape.bounds.size()) {
      ok = FillArray(item, array, shape, dim + 1, at, exact, fault);
    } else {
      quorvel_variant element;
      quorvel_variant_init(&element);
      ok = ConvertValue(item, &element, exact, fault);
      if (ok) {
        const int32_t status = quorvel_array_put(array, at, &element);
        if (status != 0) {
          RaiseStatus(status);
          ok = fault->Set(Fault::Kind::kPython, {});
        }
      }
      quorvel_variant_clear(&element);
    }
    if (!ok) fault->PrependIndex(i);
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
bool SequenceToVariant(PyObject* value, quorvel_variant* out, bool exact,
                       Fault* fault) {
  Shape shape;
  if (PyObject_TypeCheck(value,
                         reinterpret_cast<PyTypeObject*>(Types().array))) {
    if (!DeclaredShape(value, &shape))
      return fault->Set(Fault::Kind::kPython, {});
  } else {
    shape.bounds.push_back({0, static_cast<int32_t>(PySequence_Size(value))});
  }
  shape.ComputeStrides();
  quorvel_array* array = nullptr;
  const int32_t status = quorvel_array_create(
      QUORVEL_VARIANT, static_cast<int32_t>(shape.bounds.size()),
      shape.bounds.data(), &array);
  if (status != 0) {
    RaiseStatus(status);
    return fault->Set(Fault::Kind::kPython, {});
  }
  out->type = QUORVEL_ARRAY + QUORVEL_VARIANT;
  out->flags = QUORVEL_OWNED;
  out->as.array = array;
  // A list that holds itself would never end.
  if (Py_EnterRecursiveCall(" while converting a list to an array"))
    return fault->Set(Fault::Kind::kPython, {});
  const bool ok = FillArray(value, array, shape, 0, 0, exact, fault);
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

bool InitConversions() { return quorvel::python::InitPythonValues(); }

namespace {

// Converts as ToVariant does; on failure the fault says why, or is kPython
// with the Python exception set.
bool ConvertValue(PyObject* value, quorvel_variant* out, bool exact,
                  Fault* fault) {
  namespace rules = quorvel::python;
  auto python_failed = [&](bool ok) {
    return ok || fault->Set(Fault::Kind::kPython, {});
  };
  PyTypeObject* type = Py_TYPE(value);
  if (type == &PyUnicode_Type) return python_failed(TextToVariant(value, out));
  if (type == &PyLong_Type)
    return NumberToVariant(rules::NumberFromInt, value, exact, out, fault);
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
    if (code == nullptr) return python_failed(false);
    out->type = QUORVEL_ERROR;
    out->as.error_code = static_cast<int32_t>(PyLong_AsUnsignedLongMask(code));
    Py_DECREF(code);
    return python_failed(!PyErr_Occurred());
  }
  if (PyBytes_Check(value)) {
    return python_failed(
        BytesToVariant(PyBytes_AS_STRING(value), PyBytes_GET_SIZE(value), out));
  }
  if (PyByteArray_Check(value)) {
    return python_failed(BytesToVariant(PyByteArray_AS_STRING(value),
                                        PyByteArray_GET_SIZE(value), out));
  }
  if (PyList_Check(value) || PyTuple_Check(value))
    return SequenceToVariant(value, out, exact, fault);
  if (PyUnicode_Check(value)) return python_failed(TextToVariant(value, out));
  if (PyLong_Check(value))
    return NumberToVariant(rules::NumberFromInt, value, exact, out, fault);
  if (PyFloat_Check(value)) {
    out->type = QUORVEL_DOUBLE;
    out->as.double_value = PyFloat_AsDouble(value);
    return true;
  }
  if (rules::IsDecimal(value))
    return NumberToVariant(rules::NumberFromDecimal, value, exact, out, fault);
  if (rules::IsDate(value))
    return NumberToVariant(rules::NumberFromDate, value, exact, out, fault);
  const int sort = PyObject_IsInstance(value, types.sort_callback);
  if (sort < 0) return python_failed(false);
  if (sort)
    return python_failed(MakeCallback(value, CallbackKind::kSortCallback, out));
  const int filter = PyObject_IsInstance(value, types.filter_callback);
  if (filter < 0) return python_failed(false);
  if (filter)
    return python_failed(
        MakeCallback(value, CallbackKind::kFilterCallback, out));
  return fault->Set(Fault::Kind::kType,
                    std::u16string(type->tp_name,
                                   type->tp_name + std::strlen(type->tp_name)));
}

}  // namespace

bool ToVariant(PyObject* value, quorvel_variant* out, bool exact) {
  Fault fault;
  if (ConvertValue(value, out, exact, &fault)) return true;
  quorvel::python::RaiseFault(fault);
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
      result = quorvel::python::DecimalFromParts(c < 0, magnitude, 4);
      break;
    }
    case QUORVEL_DECIMAL: {
      const quorvel_decimal& d = v->as.decimal;
      result = quorvel::python::DecimalFromParts(
          d.negative != 0, (static_cast<unsigned __int128>(d.hi) << 64) | d.lo,
          d.scale);
      break;
    }
    case QUORVEL_DATE:
      result = quorvel::python::DateFromDayNumber(v->as.date);
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
