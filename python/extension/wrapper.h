// quorvel.Object's instance layout and what its files share.
#ifndef QUORVEL_PYTHON_WRAPPER_H_
#define QUORVEL_PYTHON_WRAPPER_H_

#include <initializer_list>

#include "class_cache.h"

namespace quorvel_python {

// A Python object holding one count of a library object's handle.
struct ObjectWrapper {
  PyObject_HEAD quorvel_object* handle;
  ClassCache* cls;
  PyObject* weakrefs;
};

inline ObjectWrapper* AsWrapper(PyObject* self) {
  return reinterpret_cast<ObjectWrapper*>(self);
}

// Calls `entry` of the object with the values given; null with a Python
// exception.
PyObject* CallEntry(PyObject* self, MemberEntry* entry, int32_t call_type,
                    std::initializer_list<PyObject*> values = {});

}  // namespace quorvel_python

#endif  // QUORVEL_PYTHON_WRAPPER_H_
