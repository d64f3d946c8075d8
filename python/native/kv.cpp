// quorvel.kv: a KxKVDB file as a mapping from str to str.
#include "stores.h"
// Python.h, which stores.h brings in, comes before the rest.
#include <quorvel/kxkvdb.h>
#include <quorvel/storable.h>

namespace quorvel::python {

namespace {

using Core = StoreCore<KxKVDB>;
constexpr std::u16string_view kSource = u"CKVDB";

Core& CoreOf(PyObject* self) { return quorvel::python::CoreOf<KxKVDB>(self); }

PyObject* New(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return NewStore<KxKVDB>(type, args, kwargs, kSource);
}

// Reads the value of `key`, a str. Returns false with a Python exception
// set; `found` tells an absent key, which KxKVDB reads as "".
bool Read(PyObject* self, PyObject* key, bool* found, String* value) {
  Core& core = CoreOf(self);
  const String k = StringOf(key);
  // Item reads an absent key as "", so only an empty value asks again.
  return OnStore(core, true, [&] {
    *value = core.db->Item(k);
    *found = !value->empty() || core.db->HasKey(k);
  });
}

PyObject* GetItem(PyObject* self, PyObject* key) {
  if (!PyUnicode_Check(key)) return RaiseNotText("a key", key);
  bool found = false;
  String value;
  if (!Read(self, key, &found, &value)) return nullptr;
  if (!found) {
    PyErr_SetObject(PyExc_KeyError, key);
    return nullptr;
  }
  return TextOf(value.view());
}

// get(key, default=None): a key that is not a str is absent, as for `in`.
PyObject* Get(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs < 1 || nargs > 2) {
    return PyErr_Format(PyExc_TypeError,
                        "get expected 1 or 2 arguments, got %zd", nargs);
  }
  PyObject* fallback = nargs == 2 ? args[1] : Py_None;
  bool found = false;
  String value;
  if (PyUnicode_Check(args[0]) && !Read(self, args[0], &found, &value))
    return nullptr;
  return found ? TextOf(value.view()) : Py_NewRef(fallback);
}

int Delete(PyObject* self, PyObject* key) {
  Core& core = CoreOf(self);
  const String k = StringOf(key);
  bool found = false;
  if (!OnStore(core, false, [&] {
        found = core.db->HasKey(k);
        if (found) core.db->DeleteKey(k);
      }))
    return -1;
  if (found) return 0;
  PyErr_SetObject(PyExc_KeyError, key);
  return -1;
}

// self[key] = value and del self[key].
int SetItem(PyObject* self, PyObject* key, PyObject* value) {
  if (!PyUnicode_Check(key)) return RaiseNotText("a key", key), -1;
  if (value == nullptr) return Delete(self, key);
  if (!PyUnicode_Check(value)) return RaiseNotText("a value", value), -1;
  Core& core = CoreOf(self);
  const String k = StringOf(key);
  const String v = StringOf(value);
  if (core.exact) {
    // The value's place is its key, written as a path is.
    Fault place;
    place.PrependKey(k.view());
    if (!RequireText(key, k, StorableTarget::kKvKey, kSource, u"the key") ||
        !RequireText(value, v, StorableTarget::kKvValue, kSource, u"the value",
                     place.Where()))
      return -1;
  }
  return OnStore(core, false, [&] { core.db->PutValue(k, v); }) ? 0 : -1;
}

}  // namespace

bool AddKv(PyObject* module) {
  return AddStoreType<KxKVDB>(
      module,
      {.name = "quorvel._native.KvStore",
       .doc = "A KxKVDB file as a mapping of str to str; see quorvel.kv.",
       .compact_doc =
           "compact($self, /)\n--\n\n"
           "Rewrites the file with only the live pairs, in their order.",
       .new_store = New,
       .methods = {{"get", MethodOf(Get), METH_FASTCALL,
                    "get($self, key, default=None, /)\n--\n\n"
                    "Returns the value of key, or default when the file has "
                    "no such key."}},
       .get_item = GetItem,
       .set_item = SetItem,
       .contains = StoreContains<KxKVDB, &KxKVDB::HasKey>});
}

}  // namespace quorvel::python
