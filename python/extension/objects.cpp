// quorvel.Object: a library object seen from Python. Attributes call
// members by name; subscripts, len, in, iteration and dir map onto the
// default member, Count, Exists, _NewEnum and the member list.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding.h"

namespace quorvel_python {

namespace {

std::string Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return folded;
}

// What Python needs to know about one member name of a class.
struct MemberEntry {
  std::string name;           // as the class spells it
  bool read_at_once = false;  // a property read that needs no argument
  // Folded parameter names of the reading member, for keyword arguments.
  std::vector<std::string> params;
  bool param_array = false;
};

// A class's members, by every spelling Python has asked for. Built once per
// class and kept for the life of the process, as the class data are.
class ClassCache {
 public:
  explicit ClassCache(const quorvel_class_info* info) : info_(info) {
    for (int32_t i = 0; i < info->member_count; ++i) {
      const quorvel_member_info& m = info->members[i];
      const std::string folded = Folded(m.name);
      auto [at, added] = by_folded_.try_emplace(folded, entries_.size());
      if (added) {
        entries_.emplace_back();
        entries_.back().name = m.name;
      }
      MemberEntry& entry = entries_[at->second];
      if (m.call_type != QUORVEL_METHOD && m.call_type != QUORVEL_GET) continue;
      bool required = false;
      entry.params.clear();
      for (int32_t p = 0; p < m.param_count; ++p) {
        required |= (m.params[p].flags &
                     (QUORVEL_PARAM_OPTIONAL | QUORVEL_PARAM_ARRAY)) == 0;
        entry.params.push_back(Folded(m.params[p].name));
        entry.param_array = (m.params[p].flags & QUORVEL_PARAM_ARRAY) != 0;
      }
      if (m.call_type == QUORVEL_GET && !required) entry.read_at_once = true;
    }
    has_count_ = Find("count") != nullptr;
    has_exists_ = Find("exists") != nullptr;
    is_callback_ = std::strcmp(info->name, "ISortCallback") == 0 ||
                   std::strcmp(info->name, "IFilterCallback") == 0;
  }

  // Returns the member `name` (any letter case), or null.
  const MemberEntry* Find(std::string_view name) const {
    auto at = by_folded_.find(Folded(name));
    return at == by_folded_.end() ? nullptr : &entries_[at->second];
  }
  // The same for a Python str; each spelling is looked up once.
  const MemberEntry* Find(PyObject* name) {
    PyObject* known = PyDict_GetItemWithError(by_name_.get(), name);
    if (known != nullptr)
      return known == Py_None ? nullptr : &entries_[PyLong_AsSize_t(known)];
    if (PyErr_Occurred()) return nullptr;
    Py_ssize_t size;
    const char* text = PyUnicode_AsUTF8AndSize(name, &size);
    if (text == nullptr) {
      PyErr_Clear();
      return nullptr;
    }
    const MemberEntry* entry = Find(std::string_view(text, size));
    PyObject* index = entry == nullptr
                          ? Py_NewRef(Py_None)
                          : PyLong_FromSize_t(entry - entries_.data());
    if (index != nullptr) PyDict_SetItem(by_name_.get(), name, index);
    Py_XDECREF(index);
    PyErr_Clear();
    return entry;
  }

  // Returns the member names, each once, in the class's order.
  PyObject* Names() const {
    PyObject* names = PyList_New(0);
    for (const MemberEntry& e : entries_) {
      PyObject* name = PyUnicode_FromString(e.name.c_str());
      if (names == nullptr || name == nullptr ||
          PyList_Append(names, name) != 0) {
        Py_XDECREF(name);
        Py_XDECREF(names);
        return nullptr;
      }
      Py_DECREF(name);
    }
    return names;
  }

  const char* name() const { return info_->name; }
  bool has_count() const { return has_count_; }
  bool has_exists() const { return has_exists_; }
  bool is_callback() const { return is_callback_; }

 private:
  struct DictDeleter {
    void operator()(PyObject* o) const { Py_XDECREF(o); }
  };

  const quorvel_class_info* info_;
  std::vector<MemberEntry> entries_;
  std::unordered_map<std::string, size_t> by_folded_;
  std::unique_ptr<PyObject, DictDeleter> by_name_{PyDict_New()};
  bool has_count_ = false;
  bool has_exists_ = false;
  bool is_callback_ = false;
};

ClassCache* CacheFor(quorvel_object* handle) {
  static auto* caches = new std::unordered_map<const quorvel_class_info*,
                                               std::unique_ptr<ClassCache>>;
  const quorvel_class_info* info = nullptr;
  const int32_t status = quorvel_object_class(handle, &info);
  if (status != 0) {
    RaiseStatus(status);
    return nullptr;
  }
  std::unique_ptr<ClassCache>& cache = (*caches)[info];
  if (cache == nullptr) cache = std::make_unique<ClassCache>(info);
  return cache.get();
}

struct ObjectWrapper {
  PyObject_HEAD quorvel_object* handle;
  ClassCache* cls;
  PyObject* weakrefs;
};

struct MemberObject {
  PyObject_HEAD ObjectWrapper* owner;
  const MemberEntry* entry;
  vectorcallfunc vectorcall;
};

struct IteratorObject {
  PyObject_HEAD quorvel_object* enumerator;
};

PyTypeObject ObjectType = {PyVarObject_HEAD_INIT(nullptr, 0)};
PyTypeObject MemberType = {PyVarObject_HEAD_INIT(nullptr, 0)};
PyTypeObject IteratorType = {PyVarObject_HEAD_INIT(nullptr, 0)};

ObjectWrapper* AsWrapper(PyObject* self) {
  return reinterpret_cast<ObjectWrapper*>(self);
}

// Calls `name` with no arguments.
PyObject* CallNoArguments(PyObject* self, const char* name, int32_t call_type) {
  Arguments none;
  return Call(AsWrapper(self)->handle, name, call_type, none);
}

// ---- Members ----

// Places keyword arguments by parameter name (any letter case); the gaps
// before them are left out (Missing).
bool AddKeywords(Arguments& args, PyObject* const* values, size_t positional,
                 PyObject* names, const MemberEntry& entry) {
  const Py_ssize_t count = PyTuple_GET_SIZE(names);
  std::vector<PyObject*> slots;
  for (Py_ssize_t k = 0; k < count; ++k) {
    const char* name = PyUnicode_AsUTF8(PyTuple_GET_ITEM(names, k));
    if (name == nullptr) return false;
    auto at = std::find(entry.params.begin(), entry.params.end(), Folded(name));
    const size_t index = static_cast<size_t>(at - entry.params.begin());
    if (at == entry.params.end() ||
        (entry.param_array && index + 1 == entry.params.size())) {
      PyErr_Format(PyExc_TypeError, "%s() has no parameter '%s'",
                   entry.name.c_str(), name);
      return false;
    }
    if (index < positional || (index - positional < slots.size() &&
                               slots[index - positional] != nullptr)) {
      PyErr_Format(PyExc_TypeError, "%s() got '%s' twice", entry.name.c_str(),
                   name);
      return false;
    }
    if (slots.size() <= index - positional)
      slots.resize(index - positional + 1, nullptr);
    slots[index - positional] = values[positional + k];
  }
  for (PyObject* value : slots) {
    if (value == nullptr) {
      args.AddMissing();
    } else if (!args.Add(value)) {
      return false;
    }
  }
  return true;
}

PyObject* MemberCall(PyObject* self, PyObject* const* values, size_t nargsf,
                     PyObject* names) {
  auto* member = reinterpret_cast<MemberObject*>(self);
  const size_t positional = PyVectorcall_NARGS(nargsf);
  Arguments args;
  for (size_t i = 0; i < positional; ++i)
    if (!args.Add(values[i])) return nullptr;
  if (names != nullptr && PyTuple_GET_SIZE(names) != 0 &&
      !AddKeywords(args, values, positional, names, *member->entry))
    return nullptr;
  return Call(member->owner->handle, member->entry->name.c_str(),
              QUORVEL_METHOD, args);
}

PyObject* NewMember(PyObject* owner, const MemberEntry* entry) {
  MemberObject* member = PyObject_New(MemberObject, &MemberType);
  if (member == nullptr) return nullptr;
  member->owner = AsWrapper(Py_NewRef(owner));
  member->entry = entry;
  member->vectorcall = MemberCall;
  return reinterpret_cast<PyObject*>(member);
}

void MemberDealloc(PyObject* self) {
  Py_DECREF(reinterpret_cast<MemberObject*>(self)->owner);
  PyObject_Free(self);
}

PyObject* MemberRepr(PyObject* self) {
  auto* member = reinterpret_cast<MemberObject*>(self);
  return PyUnicode_FromFormat("<quorvel member %s.%s>",
                              member->owner->cls->name(),
                              member->entry->name.c_str());
}

// ---- Iteration ----

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

PyObject* ObjectIter(PyObject* self) {
  quorvel_object* enumerator = nullptr;
  const int32_t status =
      quorvel_enumerate(AsWrapper(self)->handle, &enumerator);
  if (status != 0) return RaiseStatus(status);
  DropPending();
  IteratorObject* it = PyObject_New(IteratorObject, &IteratorType);
  if (it == nullptr) {
    quorvel_release(enumerator);
    return nullptr;
  }
  it->enumerator = enumerator;
  return reinterpret_cast<PyObject*>(it);
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
  const MemberEntry* entry = AsWrapper(self)->cls->Find(name);
  if (entry == nullptr) {
    // Let the library say what it says of a name it does not know: 438.
    const char* text = PyUnicode_AsUTF8(name);
    return text == nullptr ? nullptr : CallNoArguments(self, text, QUORVEL_GET);
  }
  if (entry->read_at_once)
    return CallNoArguments(self, entry->name.c_str(), QUORVEL_GET);
  return NewMember(self, entry);
}

int ObjectSetAttr(PyObject* self, PyObject* name, PyObject* value) {
  if (value == nullptr) {
    PyErr_SetString(PyExc_TypeError,
                    "members of quorvel objects cannot be "
                    "deleted");
    return -1;
  }
  const MemberEntry* entry = AsWrapper(self)->cls->Find(name);
  const char* member =
      entry != nullptr ? entry->name.c_str() : PyUnicode_AsUTF8(name);
  if (member == nullptr) return -1;
  Arguments args;
  if (!args.Add(value)) return -1;
  const int32_t call_type =
      args[0].type == QUORVEL_OBJECT ? QUORVEL_SET : QUORVEL_LET;
  PyObject* result = Call(AsWrapper(self)->handle, member, call_type, args);
  Py_XDECREF(result);
  return result == nullptr ? -1 : 0;
}

PyObject* ObjectGetItem(PyObject* self, PyObject* key) {
  Arguments args;
  if (!args.AddIndex(key)) return nullptr;
  return Call(AsWrapper(self)->handle, "", QUORVEL_GET, args);
}

int ObjectSetItem(PyObject* self, PyObject* key, PyObject* value) {
  Arguments args;
  if (!args.AddIndex(key)) return -1;
  int32_t call_type = QUORVEL_METHOD;
  const char* member = "Remove";
  if (value != nullptr) {
    if (!args.Add(value)) return -1;
    member = "";
    call_type = args[args.size() - 1].type == QUORVEL_OBJECT ? QUORVEL_SET
                                                             : QUORVEL_LET;
  }
  PyObject* result = Call(AsWrapper(self)->handle, member, call_type, args);
  Py_XDECREF(result);
  return result == nullptr ? -1 : 0;
}

Py_ssize_t ObjectLength(PyObject* self) {
  if (!AsWrapper(self)->cls->has_count()) {
    PyErr_Format(PyExc_TypeError, "a %s has no Count, so no len()",
                 AsWrapper(self)->cls->name());
    return -1;
  }
  PyObject* count = CallNoArguments(self, "Count", QUORVEL_GET);
  if (count == nullptr) return -1;
  const Py_ssize_t n = PyLong_AsSsize_t(count);
  Py_DECREF(count);
  return n;
}

int ObjectContains(PyObject* self, PyObject* value) {
  if (AsWrapper(self)->cls->has_exists()) {
    Arguments args;
    if (!args.Add(value)) return -1;
    PyObject* found =
        Call(AsWrapper(self)->handle, "Exists", QUORVEL_METHOD, args);
    if (found == nullptr) return -1;
    const int truth = PyObject_IsTrue(found);
    Py_DECREF(found);
    return truth;
  }
  // No Exists: look through what enumerating the object yields.
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
  if (!AsWrapper(self)->cls->has_count()) return 1;
  const Py_ssize_t n = ObjectLength(self);
  return n < 0 ? -1 : n != 0;
}

Py_hash_t ObjectHash(PyObject* self) {
  const auto bits = reinterpret_cast<uintptr_t>(AsWrapper(self)->handle);
  const auto hash = static_cast<Py_hash_t>(bits ^ (bits >> 32));
  return hash == -1 ? -2 : hash;
}

PyObject* ObjectCompare(PyObject* self, PyObject* other, int op) {
  if (Py_TYPE(other) != &ObjectType || (op != Py_EQ && op != Py_NE))
    Py_RETURN_NOTIMPLEMENTED;
  const bool same = AsWrapper(self)->handle == AsWrapper(other)->handle;
  return PyBool_FromLong(op == Py_EQ ? same : !same);
}

PyObject* ObjectRepr(PyObject* self) {
  return PyUnicode_FromFormat("<quorvel %s object>",
                              AsWrapper(self)->cls->name());
}

PyObject* ObjectDir(PyObject* self, PyObject*) {
  return AsWrapper(self)->cls->Names();
}

void ObjectDealloc(PyObject* self) {
  ObjectWrapper* wrapper = AsWrapper(self);
  if (wrapper->weakrefs != nullptr) PyObject_ClearWeakRefs(self);
  quorvel_release(wrapper->handle);
  PyObject_Free(self);
}

PyMethodDef kObjectMethods[] = {
    {"__dir__", ObjectDir, METH_NOARGS, "The names of the object's members."},
    {nullptr, nullptr, 0, nullptr}};

PyMappingMethods kObjectMapping = {ObjectLength, ObjectGetItem, ObjectSetItem};
PySequenceMethods kObjectSequence = {};
PyNumberMethods kObjectNumber = {};

}  // namespace

bool InitObjects(PyObject* module) {
  ObjectType.tp_name = "quorvel.Object";
  ObjectType.tp_doc =
      "An object of the library. Attributes call its members by name; "
      "obj[k] uses its default member; len() reads Count; iteration walks "
      "_NewEnum.";
  ObjectType.tp_basicsize = sizeof(ObjectWrapper);
  ObjectType.tp_flags = Py_TPFLAGS_DEFAULT;
  ObjectType.tp_dealloc = ObjectDealloc;
  ObjectType.tp_getattro = ObjectGetAttr;
  ObjectType.tp_setattro = ObjectSetAttr;
  ObjectType.tp_as_mapping = &kObjectMapping;
  kObjectSequence.sq_contains = ObjectContains;
  ObjectType.tp_as_sequence = &kObjectSequence;
  kObjectNumber.nb_bool = ObjectBool;
  ObjectType.tp_as_number = &kObjectNumber;
  ObjectType.tp_iter = ObjectIter;
  ObjectType.tp_hash = ObjectHash;
  ObjectType.tp_richcompare = ObjectCompare;
  ObjectType.tp_repr = ObjectRepr;
  ObjectType.tp_methods = kObjectMethods;
  ObjectType.tp_weaklistoffset = offsetof(ObjectWrapper, weakrefs);

  MemberType.tp_name = "quorvel.Member";
  MemberType.tp_doc = "A member of a quorvel object, to call.";
  MemberType.tp_basicsize = sizeof(MemberObject);
  MemberType.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VECTORCALL;
  MemberType.tp_vectorcall_offset = offsetof(MemberObject, vectorcall);
  MemberType.tp_call = PyVectorcall_Call;
  MemberType.tp_dealloc = MemberDealloc;
  MemberType.tp_repr = MemberRepr;

  IteratorType.tp_name = "quorvel.Iterator";
  IteratorType.tp_basicsize = sizeof(IteratorObject);
  IteratorType.tp_flags = Py_TPFLAGS_DEFAULT;
  IteratorType.tp_dealloc = IteratorDealloc;
  IteratorType.tp_iter = PyObject_SelfIter;
  IteratorType.tp_iternext = IteratorNext;

  if (PyType_Ready(&ObjectType) < 0 || PyType_Ready(&MemberType) < 0 ||
      PyType_Ready(&IteratorType) < 0)
    return false;
  return PyModule_AddObjectRef(module, "Object",
                               reinterpret_cast<PyObject*>(&ObjectType)) == 0;
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
  ObjectWrapper* wrapper = PyObject_New(ObjectWrapper, &ObjectType);
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
  return Py_TYPE(value) == &ObjectType ? AsWrapper(value)->handle : nullptr;
}

PyObject* Call(quorvel_object* handle, const char* name, int32_t call_type,
               Arguments& args) {
  quorvel_variant result;
  const int32_t status =
      quorvel_call_by_name(handle, name, call_type | QUORVEL_UTF16, args.data(),
                           args.size(), &result);
  if (status != 0) return RaiseStatus(status);
  DropPending();
  return FromVariant(&result);
}

}  // namespace quorvel_python
