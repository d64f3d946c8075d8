// The one walk of native Python data that the writers of quorvel.json and
// quorvel.msgpack share: it hands each member straight to the library's
// writer, without a tree of Values in between.
#ifndef QUORVEL_PYTHON_NATIVE_PYTHON_WALK_H_
#define QUORVEL_PYTHON_NATIVE_PYTHON_WALK_H_

#include "convert.h"
// Python.h, which convert.h brings in, comes before the rest.

#include <string>

namespace quorvel::python {

// Tells the types of Python data apart, the exact built-in types first
// (nearly every object is one) and their subclasses after; enters each dict
// and list, held against client code run meanwhile and counted against
// the recursion limit; and on a fault's way back up prepends each key and
// index to its place. `Writer` derives from PythonWalk<Writer> and writes
// what the walk meets; those returning bool return false with `fault_`
// recorded, or with a flag of the writer's own set:
//
//   bool Text(PyObject* str);
//   bool Key(PyObject* str);  // of a dict
//   bool Int(PyObject* integer);
//   bool Float(double x, PyObject* object);
//   bool DecimalNumber(PyObject* decimal);
//   bool DateNumber(double day);  // what NumberFromDate made
//   bool Bytes(PyObject* bytes_or_bytearray);
//   void Literal(const Value& null_or_boolean);  // every format holds these
//   void BeginDict(Py_ssize_t size);  void EndDict();
//   void BeginList(Py_ssize_t size);  void EndList();
//
// Not thread-safe; one walk writes one value.
template <class Writer>
class PythonWalk {
 public:
  explicit PythonWalk(bool exact) : exact_(exact) {}

  // Writes `object`; false with the fault recorded (kPython with the
  // exception set), or with the writer's own flag.
  bool Write(PyObject* object) {
    Writer& writer = static_cast<Writer&>(*this);
    PyTypeObject* type = Py_TYPE(object);
    if (type == &PyUnicode_Type) return writer.Text(object);
    if (type == &PyDict_Type) return Dict(object);
    if (type == &PyLong_Type) return writer.Int(object);
    if (type == &PyFloat_Type)
      return writer.Float(PyFloat_AS_DOUBLE(object), object);
    if (type == &PyList_Type || type == &PyTuple_Type) return List(object);
    if (object == Py_None) {
      writer.Literal(Value::Null());
      return true;
    }
    if (type == &PyBool_Type) {
      writer.Literal(Value(object == Py_True));
      return true;
    }
    if (PyUnicode_Check(object)) return writer.Text(object);
    if (PyDict_Check(object)) return Dict(object);
    if (PyLong_Check(object)) return writer.Int(object);
    if (PyFloat_Check(object)) {
      const double x = PyFloat_AsDouble(object);
      if (x == -1.0 && PyErr_Occurred())
        return fault_.Set(Fault::Kind::kPython, {});
      return writer.Float(x, object);
    }
    if (PyList_Check(object) || PyTuple_Check(object)) return List(object);
    if (IsDecimal(object)) return writer.DecimalNumber(object);
    if (IsDate(object)) {
      Number date;
      return NumberFromDate(object, exact_, &date, &fault_) &&
             writer.DateNumber(date.real);
    }
    if (PyBytes_Check(object) || PyByteArray_Check(object))
      return writer.Bytes(object);
    return NoType(object);
  }

  const Fault& fault() const { return fault_; }

 protected:
  // Records the fault of a type the format has no form for.
  bool NoType(PyObject* object) {
    return fault_.Set(Fault::Kind::kType, TypeNameOf(object));
  }

  const bool exact_;
  Fault fault_;
  std::u16string scratch_;  // for BorrowUtf16

 private:
  bool Dict(PyObject* dict) {
    Held hold(dict);
    Nested nested;
    if (!nested.Enter()) return fault_.Set(Fault::Kind::kPython, {});
    Writer& writer = static_cast<Writer&>(*this);
    writer.BeginDict(PyDict_GET_SIZE(dict));
    Py_ssize_t position = 0;
    PyObject* key;
    PyObject* item;
    while (PyDict_Next(dict, &position, &key, &item)) {
      if (!PyUnicode_Check(key)) return KeyIsNoText(key, &fault_);
      Held hold_key(key);
      Held hold_item(item);
      if (!writer.Key(key)) return false;
      if (!Write(item)) {
        fault_.PrependKey(BorrowUtf16(key, scratch_));
        return false;
      }
    }
    writer.EndDict();
    return true;
  }

  bool List(PyObject* list) {
    Held hold(list);
    Nested nested;
    if (!nested.Enter()) return fault_.Set(Fault::Kind::kPython, {});
    Writer& writer = static_cast<Writer&>(*this);
    writer.BeginList(PySequence_Fast_GET_SIZE(list));
    // A list may change under client code run meanwhile; its length is read
    // again at each step.
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(list); ++i) {
      PyObject* item = PySequence_Fast_GET_ITEM(list, i);
      Held hold_item(item);
      if (!Write(item)) {
        fault_.PrependIndex(i);
        return false;
      }
    }
    writer.EndList();
    return true;
  }
};

}  // namespace quorvel::python

#endif  // QUORVEL_PYTHON_NATIVE_PYTHON_WALK_H_
