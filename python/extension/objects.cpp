// quorvel.Object: a library object seen from Python. Attributes call
// members by name; subscripts, len, in, iteration and dir map onto the
// default member, Count, Exists, the class's walk and the member list. A
// map (Exists and Keys) answers Python's mapping names in lower case; a
// database file (quorvel.Database) is a context manager that closes it.
#include <cstring>

#include "wrapper.h"

namespace quorvel_python {

namespace {

PyTypeObject ObjectType = {PyVarObject_HEAD_INIT(nullptr, 0)};
PyTypeObject DatabaseType = {PyVarObject_HEAD_INIT(nullptr, 0)};

bool IsWrapperType(PyTypeObject* type) {
  return type == &ObjectType || type == &DatabaseType;
}

ClassCache* ClassOf(PyObject* self) { return AsWrapper(self)->cls; }

// The library's text for error 32811, which a map raises for an absent key
// (Dictionary.Remove says the same).
PyObject* RaiseKeyNotFound(PyObject* self, MemberEntry* entry) {
  CallSite site;
  site.class_name = ClassOf(self)->name();
  site.member = entry != nullptr ? entry->name.c_str() : nullptr;
  return RaiseWithTexts(kErrElementNotFound, PyUnicode_FromString("KxQuorvel"),
                        PyUnicode_FromString("Element not found"), &site);
}

// Returns 1 when the map holds `key`, 0 when not, -1 with an exception.
int HasKey(PyObject* self, PyObject* key) {
  PyObject* found =
      CallEntry(self, ClassOf(self)->exists(), QUORVEL_METHOD, {key});
  if (found == nullptr) return -1;
  const int truth = PyObject_IsTrue(found);
  Py_DECREF(found);
  return truth;
}

// Reads the value of a key the map holds.
PyObject* ValueOf(PyObject* self, PyObject* key) {
  return CallEntry(self, ClassOf(self)->default_entry(), QUORVEL_GET, {key});
}

// ---- Python's mapping names, on maps ----

PyObject* MapKeys(PyObject* self, PyObject*) {
  PyObject* keys = CallEntry(self, ClassOf(self)->Find("keys"), QUORVEL_METHOD);
  if (keys == nullptr || PyList_CheckExact(keys)) return keys;
  PyObject* list = PySequence_List(keys);
  Py_DECREF(keys);
  return list;
}

// Returns the values in the order of `keys`: all at once where the class
// gives them (Items), otherwise key by key.
PyObject* ValuesFor(PyObject* self, PyObject* keys) {
  if (MemberEntry* items = ClassOf(self)->values()) {
    PyObject* values = CallEntry(self, items, QUORVEL_METHOD);
    if (values == nullptr || PyList_CheckExact(values)) return values;
    PyObject* list = PySequence_List(values);
    Py_DECREF(values);
    return list;
  }
  const Py_ssize_t n = PyList_GET_SIZE(keys);
  PyObject* values = PyList_New(n);
  for (Py_ssize_t i = 0; values != nullptr && i < n; ++i) {
    PyObject* value = ValueOf(self, PyList_GET_ITEM(keys, i));
    if (value == nullptr) {
      Py_CLEAR(values);
    } else {
      PyList_SET_ITEM(values, i, value);
    }
  }
  return values;
}

PyObject* MapValues(PyObject* self, PyObject*) {
  PyObject* keys = MapKeys(self, nullptr);
  if (keys == nullptr) return nullptr;
  PyObject* values = ValuesFor(self, keys);
  Py_DECREF(keys);
  return values;
}

PyObject* MapItems(PyObject* self, PyObject*) {
  PyObject* keys = MapKeys(self, nullptr);
  PyObject* values = keys == nullptr ? nullptr : ValuesFor(self, keys);
  PyObject* items = nullptr;
  if (values != nullptr && PyList_GET_SIZE(values) != PyList_GET_SIZE(keys)) {
    PyErr_SetString(PyExc_RuntimeError, "the map changed while it was read");
  } else if (values != nullptr) {
    const Py_ssize_t n = PyList_GET_SIZE(keys);
    items = PyList_New(n);
    for (Py_ssize_t i = 0; items != nullptr && i < n; ++i) {
      PyObject* pair =
          PyTuple_Pack(2, PyList_GET_ITEM(keys, i), PyList_GET_ITEM(values, i));
      if (pair == nullptr) {
        Py_CLEAR(items);
      } else {
        PyList_SET_ITEM(items, i, pair);
      }
    }
  }
  Py_XDECREF(keys);
  Py_XDECREF(values);
  return items;
}

// Checks that a method of one or two arguments got them.
bool OneOrTwo(const char* name, Py_ssize_t nargs) {
  if (nargs == 1 || nargs == 2) return true;
  PyErr_Format(PyExc_TypeError, "%s() takes 1 or 2 arguments (%zd given)", name,
               nargs);
  return false;
}

PyObject* MapGet(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (!OneOrTwo("get", nargs)) return nullptr;
  const int has = HasKey(self, args[0]);
  if (has < 0) return nullptr;
  if (has) return ValueOf(self, args[0]);
  return Py_NewRef(nargs == 2 ? args[1] : Py_None);
}

PyObject* MapPop(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (!OneOrTwo("pop", nargs)) return nullptr;
  MemberEntry* remove = ClassOf(self)->remove();
  if (remove == nullptr) {
    return PyErr_Format(PyExc_AttributeError, "a %s has no Remove, so no pop()",
                        ClassOf(self)->name());
  }
  const int has = HasKey(self, args[0]);
  if (has < 0) return nullptr;
  if (!has) {
    if (nargs == 2) return Py_NewRef(args[1]);
    return RaiseKeyNotFound(self, remove);
  }
  PyObject* value = ValueOf(self, args[0]);
  if (value == nullptr) return nullptr;
  PyObject* removed = CallEntry(self, remove, QUORVEL_METHOD, {args[0]});
  if (removed == nullptr) Py_CLEAR(value);
  Py_XDECREF(removed);
  return value;
}

PyMethodDef kMapMethods[] = {
    {"keys", MapKeys, METH_NOARGS, "Returns the keys, in the map's order."},
    {"values", MapValues, METH_NOARGS,
     "Returns the values, in the order of the keys."},
    {"items", MapItems, METH_NOARGS,
     "Returns the (key, value) pairs, in the map's order."},
    {"get", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(MapGet)),
     METH_FASTCALL,
     "get(key, default=None): the value of `key`, or `default` when the map "
     "has no such key (which is not added)."},
    {"pop", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(MapPop)),
     METH_FASTCALL,
     "pop(key[, default]): removes `key` and returns its value; `default`, "
     "or KeyError, when the map has no such key."},
    {nullptr, nullptr, 0, nullptr}};

// Returns Python's mapping method `name` spells, or null.
PyMethodDef* MapMethod(PyObject* name) {
  // Member names start with a capital; these names do not.
  const Py_ssize_t length = PyUnicode_GET_LENGTH(name);
  if (length < 3 || length > 6) return nullptr;
  switch (PyUnicode_READ_CHAR(name, 0)) {
    case 'g':
    case 'i':
    case 'k':
    case 'p':
    case 'v':
      break;
    default:
      return nullptr;
  }
  for (PyMethodDef* def = kMapMethods; def->ml_name != nullptr; ++def)
    if (PyUnicode_CompareWithASCIIString(name, def->ml_name) == 0) return def;
  return nullptr;
}

// ---- Objects ----

bool IsDunder(PyObject* name) {
  return PyUnicode_GET_LENGTH(name) >= 2 &&
         PyUnicode_READ_CHAR(name, 0) == '_' &&
         PyUnicode_READ_CHAR(name, 1) == '_';
}

PyObject* ObjectGetAttr(PyObject* self, PyObject* name) {
  // Python's own attributes (__class__, __dir__, ...) are no member names.
  if (!PyUnicode_Check(name) || IsDunder(name))
    return PyObject_GenericGetAttr(self, name);
  ClassCache* cls = ClassOf(self);
  if (cls->is_mapping()) {
    if (PyMethodDef* def = MapMethod(name))
      return PyCFunction_NewEx(def, self, nullptr);
  }
  MemberEntry* entry = cls->Find(name);
  if (entry == nullptr)
    return RaiseNoMember(AsWrapper(self)->handle, cls, name, QUORVEL_GET);
  if (entry->read_at_once) return CallEntry(self, entry, QUORVEL_GET);
  return NewMember(self, entry);
}

int ObjectSetAttr(PyObject* self, PyObject* name, PyObject* value) {
  if (value == nullptr) {
    PyErr_SetString(PyExc_TypeError,
                    "members of quorvel objects cannot be deleted");
    return -1;
  }
  if (!PyUnicode_Check(name)) return PyObject_GenericSetAttr(self, name, value);
  ClassCache* cls = ClassOf(self);
  MemberEntry* entry = cls->Find(name);
  if (entry == nullptr) {
    RaiseNoMember(AsWrapper(self)->handle, cls, name, QUORVEL_LET);
    return -1;
  }
  Arguments args;
  if (!args.Add(value)) return -1;
  const int32_t call_type =
      args[0].type == QUORVEL_OBJECT ? QUORVEL_SET : QUORVEL_LET;
  PyObject* result =
      Call(AsWrapper(self)->handle, cls, entry, nullptr, call_type, args);
  Py_XDECREF(result);
  return result == nullptr ? -1 : 0;
}

PyObject* ObjectGetItem(PyObject* self, PyObject* key) {
  ClassCache* cls = ClassOf(self);
  if (cls->is_mapping()) {
    // Reading an absent key would add it, which no Python map does.
    const int has = HasKey(self, key);
    if (has < 0) return nullptr;
    if (!has) return RaiseKeyNotFound(self, cls->default_entry());
  }
  Arguments args;
  if (!args.AddIndex(key)) return nullptr;
  return Call(AsWrapper(self)->handle, cls, cls->default_entry(), "",
              QUORVEL_GET, args);
}

int ObjectSetItem(PyObject* self, PyObject* key, PyObject* value) {
  ClassCache* cls = ClassOf(self);
  Arguments args;
  if (!args.AddIndex(key)) return -1;
  MemberEntry* entry = cls->remove();
  const char* name = "Remove";
  int32_t call_type = QUORVEL_METHOD;
  if (value != nullptr) {
    if (!args.Add(value)) return -1;
    entry = cls->default_entry();
    name = "";
    call_type = args[args.size() - 1].type == QUORVEL_OBJECT ? QUORVEL_SET
                                                             : QUORVEL_LET;
  }
  PyObject* result =
      Call(AsWrapper(self)->handle, cls, entry, name, call_type, args);
  Py_XDECREF(result);
  return result == nullptr ? -1 : 0;
}

Py_ssize_t ObjectLength(PyObject* self) {
  ClassCache* cls = ClassOf(self);
  if (cls->count() == nullptr) {
    PyErr_Format(PyExc_TypeError, "a %s has no Count, so no len()",
                 cls->name());
    return -1;
  }
  PyObject* count = CallEntry(self, cls->count(), QUORVEL_GET);
  if (count == nullptr) return -1;
  const Py_ssize_t n = PyLong_AsSsize_t(count);
  Py_DECREF(count);
  return n;
}

int ObjectContains(PyObject* self, PyObject* value) {
  if (ClassOf(self)->exists() != nullptr) return HasKey(self, value);
  // No Exists: look through what walking the object yields.
  PyObject* it = PyObject_GetIter(self);
  if (it == nullptr) return -1;
  int found = 0;
  while (found == 0) {
    PyObject* item = PyIter_Next(it);
    if (item == nullptr) break;
    found = PyObject_RichCompareBool(item, value, Py_EQ);
    Py_DECREF(item);
  }
  Py_DECREF(it);
  return PyErr_Occurred() ? -1 : found;
}

int ObjectBool(PyObject* self) {
  if (ClassOf(self)->count() == nullptr) return 1;
  const Py_ssize_t n = ObjectLength(self);
  return n < 0 ? -1 : n != 0;
}

Py_hash_t ObjectHash(PyObject* self) {
  const auto bits = reinterpret_cast<uintptr_t>(AsWrapper(self)->handle);
  const auto hash = static_cast<Py_hash_t>(bits ^ (bits >> 32));
  return hash == -1 ? -2 : hash;
}

PyObject* ObjectCompare(PyObject* self, PyObject* other, int op) {
  if (!IsWrapperType(Py_TYPE(other)) || (op != Py_EQ && op != Py_NE))
    Py_RETURN_NOTIMPLEMENTED;
  const bool same = AsWrapper(self)->handle == AsWrapper(other)->handle;
  return PyBool_FromLong(op == Py_EQ ? same : !same);
}

PyObject* ObjectRepr(PyObject* self) {
  return PyUnicode_FromFormat("<quorvel %s object>", ClassOf(self)->name());
}

PyObject* ObjectDir(PyObject* self, PyObject*) {
  PyObject* names = ClassOf(self)->Names();
  if (names == nullptr || !ClassOf(self)->is_mapping()) return names;
  for (PyMethodDef* def = kMapMethods; def->ml_name != nullptr; ++def) {
    PyObject* name = PyUnicode_FromString(def->ml_name);
    const int added = name == nullptr ? -1 : PyList_Append(names, name);
    Py_XDECREF(name);
    if (added != 0) {
      Py_DECREF(names);
      return nullptr;
    }
  }
  return names;
}

void ObjectDealloc(PyObject* self) {
  ObjectWrapper* wrapper = AsWrapper(self);
  if (wrapper->weakrefs != nullptr) PyObject_ClearWeakRefs(self);
  quorvel_release(wrapper->handle);
  PyObject_Free(self);
}

PyObject* DatabaseEnter(PyObject* self, PyObject*) { return Py_NewRef(self); }

PyObject* DatabaseExit(PyObject* self, PyObject*) {
  PyObject* closed =
      CallEntry(self, ClassOf(self)->Find("closedb"), QUORVEL_METHOD);
  if (closed == nullptr) return nullptr;
  Py_DECREF(closed);
  Py_RETURN_FALSE;
}

PyMethodDef kObjectMethods[] = {
    {"__dir__", ObjectDir, METH_NOARGS, "The names of the object's members."},
    // What attribute access does, for whoever asks for it by name.
    {"__getattr__", ObjectGetAttr, METH_O,
     "Reads a property or returns a member to call, by name (any case)."},
    {nullptr, nullptr, 0, nullptr}};

PyMethodDef kDatabaseMethods[] = {
    {"__enter__", DatabaseEnter, METH_NOARGS, "Returns the database itself."},
    {"__exit__", DatabaseExit, METH_VARARGS,
     "Closes the database file (CloseDB)."},
    {nullptr, nullptr, 0, nullptr}};

PyMappingMethods kObjectMapping = {ObjectLength, ObjectGetItem, ObjectSetItem};
PySequenceMethods kObjectSequence = {};
PyNumberMethods kObjectNumber = {};

}  // namespace

PyObject* CallEntry(PyObject* self, MemberEntry* entry, int32_t call_type,
                    std::initializer_list<PyObject*> values) {
  ObjectWrapper* wrapper = AsWrapper(self);
  if (entry == nullptr) {
    PyErr_Format(PyExc_SystemError, "a %s lacks a member it was taken to have",
                 wrapper->cls->name());
    return nullptr;
  }
  Arguments args;
  for (PyObject* value : values)
    if (!args.Add(value)) return nullptr;
  return Call(wrapper->handle, wrapper->cls, entry, nullptr, call_type, args);
}

bool InitObjects(PyObject* module) {
  ObjectType.tp_name = "quorvel.Object";
  ObjectType.tp_doc =
      "An object of the library. Attributes call its members by name; "
      "obj[k] uses its default member; len() reads Count; iteration walks "
      "its elements, keys or rows.";
  ObjectType.tp_basicsize = sizeof(ObjectWrapper);
  ObjectType.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
  ObjectType.tp_dealloc = ObjectDealloc;
  ObjectType.tp_getattro = ObjectGetAttr;
  ObjectType.tp_setattro = ObjectSetAttr;
  ObjectType.tp_as_mapping = &kObjectMapping;
  kObjectSequence.sq_contains = ObjectContains;
  ObjectType.tp_as_sequence = &kObjectSequence;
  kObjectNumber.nb_bool = ObjectBool;
  ObjectType.tp_as_number = &kObjectNumber;
  ObjectType.tp_iter = IterateObject;
  ObjectType.tp_hash = ObjectHash;
  ObjectType.tp_richcompare = ObjectCompare;
  ObjectType.tp_repr = ObjectRepr;
  ObjectType.tp_methods = kObjectMethods;
  ObjectType.tp_weaklistoffset = offsetof(ObjectWrapper, weakrefs);

  DatabaseType.tp_name = "quorvel.Database";
  DatabaseType.tp_doc =
      "A database file of the library (KxKVDB, KxDocsDB): an Object that is "
      "also a context manager, which closes the file (CloseDB) on leaving.";
  DatabaseType.tp_basicsize = sizeof(ObjectWrapper);
  DatabaseType.tp_flags = Py_TPFLAGS_DEFAULT;
  DatabaseType.tp_base = &ObjectType;
  DatabaseType.tp_methods = kDatabaseMethods;

  if (PyType_Ready(&ObjectType) < 0 || PyType_Ready(&DatabaseType) < 0 ||
      !InitMembers() || !InitIteration())
    return false;
  return PyModule_AddObjectRef(module, "Object",
                               reinterpret_cast<PyObject*>(&ObjectType)) == 0 &&
         PyModule_AddObjectRef(module, "Database",
                               reinterpret_cast<PyObject*>(&DatabaseType)) == 0;
}

PyObject* WrapObject(quorvel_object* handle) {
  ClassCache* cls = CacheFor(handle);
  if (cls == nullptr) {
    quorvel_release(handle);
    return nullptr;
  }
  if (cls->is_callback()) {
    if (PyObject* owner = CallbackOwner(handle)) {
      quorvel_release(handle);
      return Py_NewRef(owner);
    }
  }
  ObjectWrapper* wrapper = PyObject_New(
      ObjectWrapper, cls->is_database() ? &DatabaseType : &ObjectType);
  if (wrapper == nullptr) {
    quorvel_release(handle);
    return nullptr;
  }
  wrapper->handle = handle;
  wrapper->cls = cls;
  wrapper->weakrefs = nullptr;
  return reinterpret_cast<PyObject*>(wrapper);
}

quorvel_object* HandleOf(PyObject* value) {
  return IsWrapperType(Py_TYPE(value)) ? AsWrapper(value)->handle : nullptr;
}

}  // namespace quorvel_python
