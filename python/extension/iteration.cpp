// Walking an object with `for`: the library's enumerator where the class
// has _NewEnum; otherwise what the class is made of, read once when the
// walk starts, as an enumerator takes its snapshot: the keys (Keys), the
// rows of a table (each a list of its cells), or Item(1) to Item(Count).
#include "wrapper.h"

namespace quorvel_python {

namespace {

struct IteratorObject {
  PyObject_HEAD quorvel_object* enumerator;
};

PyTypeObject IteratorType = {PyVarObject_HEAD_INIT(nullptr, 0)};

PyObject* IteratorNext(PyObject* self) {
  quorvel_variant item;
  int32_t fetched = 0;
  const int32_t status =
      quorvel_enum_next(reinterpret_cast<IteratorObject*>(self)->enumerator,
                        QUORVEL_UTF16, &item, &fetched);
  if (status != 0) return RaiseStatus(status);
  return fetched ? FromVariant(&item) : nullptr;
}

void IteratorDealloc(PyObject* self) {
  quorvel_release(reinterpret_cast<IteratorObject*>(self)->enumerator);
  PyObject_Free(self);
}

// Reads a property that holds a count.
Py_ssize_t ReadCount(PyObject* self, const char* name) {
  PyObject* value =
      CallEntry(self, AsWrapper(self)->cls->Find(name), QUORVEL_GET);
  if (value == nullptr) return -1;
  const Py_ssize_t n = PyLong_AsSsize_t(value);
  Py_DECREF(value);
  return n;
}

// Reads Item at the 1-based positions given.
PyObject* ReadAt(PyObject* self, Py_ssize_t first, PyObject* second) {
  PyObject* index = PyLong_FromSsize_t(first);
  if (index == nullptr) return nullptr;
  MemberEntry* item = AsWrapper(self)->cls->item();
  PyObject* value = second == nullptr
                        ? CallEntry(self, item, QUORVEL_GET, {index})
                        : CallEntry(self, item, QUORVEL_GET, {index, second});
  Py_DECREF(index);
  return value;
}

PyObject* Items(PyObject* self) {
  const Py_ssize_t n = ReadCount(self, "count");
  if (n < 0) return nullptr;
  PyObject* items = PyList_New(n);
  for (Py_ssize_t i = 0; items != nullptr && i < n; ++i) {
    PyObject* item = ReadAt(self, i + 1, nullptr);
    if (item == nullptr) {
      Py_CLEAR(items);
    } else {
      PyList_SET_ITEM(items, i, item);
    }
  }
  return items;
}

PyObject* Row(PyObject* self, Py_ssize_t row, Py_ssize_t columns) {
  PyObject* cells = PyList_New(columns);
  for (Py_ssize_t c = 0; cells != nullptr && c < columns; ++c) {
    PyObject* column = PyLong_FromSsize_t(c + 1);
    PyObject* cell = column == nullptr ? nullptr : ReadAt(self, row, column);
    Py_XDECREF(column);
    if (cell == nullptr) {
      Py_CLEAR(cells);
    } else {
      PyList_SET_ITEM(cells, c, cell);
    }
  }
  return cells;
}

PyObject* Rows(PyObject* self) {
  const Py_ssize_t rows = ReadCount(self, "rowcount");
  const Py_ssize_t columns = rows < 0 ? -1 : ReadCount(self, "columncount");
  if (columns < 0) return nullptr;
  PyObject* list = PyList_New(rows);
  for (Py_ssize_t r = 0; list != nullptr && r < rows; ++r) {
    PyObject* row = Row(self, r + 1, columns);
    if (row == nullptr) {
      Py_CLEAR(list);
    } else {
      PyList_SET_ITEM(list, r, row);
    }
  }
  return list;
}

PyObject* Keys(PyObject* self) {
  return CallEntry(self, AsWrapper(self)->cls->Find("keys"), QUORVEL_GET);
}

PyObject* Enumerator(PyObject* self) {
  quorvel_object* enumerator = Enumerate(AsWrapper(self)->handle);
  if (enumerator == nullptr) return nullptr;
  IteratorObject* it = PyObject_New(IteratorObject, &IteratorType);
  if (it == nullptr) {
    quorvel_release(enumerator);
    return nullptr;
  }
  it->enumerator = enumerator;
  return reinterpret_cast<PyObject*>(it);
}

}  // namespace

bool InitIteration() {
  IteratorType.tp_name = "quorvel.Iterator";
  IteratorType.tp_basicsize = sizeof(IteratorObject);
  IteratorType.tp_flags = Py_TPFLAGS_DEFAULT;
  IteratorType.tp_dealloc = IteratorDealloc;
  IteratorType.tp_iter = PyObject_SelfIter;
  IteratorType.tp_iternext = IteratorNext;
  return PyType_Ready(&IteratorType) == 0;
}

PyObject* IterateObject(PyObject* self) {
  PyObject* snapshot;
  switch (AsWrapper(self)->cls->walk()) {
    case Walk::kNewEnum:
      return Enumerator(self);
    case Walk::kKeys:
      snapshot = Keys(self);
      break;
    case Walk::kRows:
      snapshot = Rows(self);
      break;
    case Walk::kItems:
      snapshot = Items(self);
      break;
    default:
      return PyErr_Format(PyExc_TypeError, "a %s cannot be walked",
                          AsWrapper(self)->cls->name());
  }
  if (snapshot == nullptr) return nullptr;
  PyObject* it = PyObject_GetIter(snapshot);
  Py_DECREF(snapshot);
  return it;
}

}  // namespace quorvel_python
