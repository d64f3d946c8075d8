// quorvel.kv and quorvel.docs: what the two store types of `quorvel._native`
// share. Each Python object owns one database object of the library and the
// file it has open; the file work runs without the interpreter lock, so
// that other threads go on meanwhile, and a mutex per store keeps two
// threads from using one database object at once (the library's classes
// are thread-compatible, not thread-safe).
//
// The lock order never inverts: the mutex is either taken without waiting
// while the interpreter lock is held, or waited for only after the
// interpreter lock was given up, and nothing run under the mutex calls
// into Python.
#ifndef QUORVEL_PYTHON_NATIVE_STORES_H_
#define QUORVEL_PYTHON_NATIVE_STORES_H_

#include "convert.h"
// Python.h, which convert.h brings in, comes before the rest.
#include <quorvel/error.h>
#include <quorvel/open_options.h>
#include <quorvel/safearray.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

namespace quorvel::python {

// One database object, its file and how it was opened. `db` is touched only
// with `mutex` held.
template <class Db>
struct StoreCore {
  Ref<Db> db;
  std::mutex mutex;
  std::u16string path;
  std::u16string_view source;  // what the library's errors of `Db` name
  bool exact = true;
  // Written with `mutex` held; read without it by `closed`.
  std::atomic<bool> open = false;
};

// The Python object: the core lives as long as the object.
template <class Db>
struct StoreObject {
  PyObject ob_base;  // what PyObject_HEAD declares
  StoreCore<Db>* core;
};

template <class Db>
StoreCore<Db>& CoreOf(PyObject* self) {
  return *reinterpret_cast<StoreObject<Db>*>(self)->core;
}

// The arguments of both `open` functions: (path, *, readonly=False,
// create=True, errors="strict"). False with a Python exception set.
struct OpenRequest {
  std::u16string path;
  OpenOptions options;
  bool exact = true;
};
bool ParseOpen(PyObject* args, PyObject* kwargs, OpenRequest* out);

// Raises a library error of a store: the class `quorvel._stores` binds to
// its number when there is one (a missing file is also a
// FileNotFoundError), the package's class for it otherwise. `path` is the
// store's file. Returns null.
PyObject* RaiseStoreError(const Error& error, std::u16string_view path);

// Runs `body` (library code only: it must touch no Python object) on the
// store with its mutex held. Work that reaches the file runs without the
// interpreter lock; `quick` work (the index and cache in memory) runs with
// it when the mutex is free, since giving the lock up costs more than such
// work. A closed store raises "DB is not open" unless `needs_open` is
// false. Returns false with the package's exception set when it raised.
template <class Db, class F>
bool OnStore(StoreCore<Db>& core, bool quick, F&& body,
             bool needs_open = true) {
  Caught caught;
  const auto run = [&] {
    if (needs_open && !core.open)
      ErrorRaise(kErrGeneralFailure, core.source, u"DB is not open");
    body();
  };
  if (quick && core.mutex.try_lock()) {
    std::lock_guard<std::mutex> guard(core.mutex, std::adopt_lock);
    caught.Run(run);
  } else {
    Py_BEGIN_ALLOW_THREADS;
    {
      std::lock_guard<std::mutex> guard(core.mutex);
      caught.Run(run);
    }
    Py_END_ALLOW_THREADS;
  }
  return caught.Finish(
      [&](const Error& error) { return RaiseStoreError(error, core.path); });
}

// Creates a store object of `type` and opens its file as `args` ask.
template <class Db>
PyObject* NewStore(PyTypeObject* type, PyObject* args, PyObject* kwargs,
                   std::u16string_view source) {
  OpenRequest request;
  if (!ParseOpen(args, kwargs, &request)) return nullptr;
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  auto* core = new (std::nothrow) StoreCore<Db>;
  reinterpret_cast<StoreObject<Db>*>(self)->core = core;
  if (core == nullptr) {
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  core->path = std::move(request.path);
  core->source = source;
  core->exact = request.exact;
  core->open = true;  // for the body below; false again if it fails
  const bool opened = OnStore(*core, false, [&] {
    core->db = Db::Create();
    core->db->OpenDB(String(core->path), request.options);
  });
  if (!opened) {
    core->open = false;
    Py_DECREF(self);
    return nullptr;
  }
  return self;
}

// The database closes its file when it goes.
template <class Db>
void DeallocStore(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  delete reinterpret_cast<StoreObject<Db>*>(self)->core;
  type->tp_free(self);
  Py_DECREF(type);
}

// close(): closes the file; nothing when closed already.
template <class Db>
PyObject* CloseStore(PyObject* self, PyObject*) {
  StoreCore<Db>& core = CoreOf<Db>(self);
  const bool closed = OnStore(
      core, false,
      [&] {
        if (!core.open) return;
        core.db->CloseDB();
        core.db = Ref<Db>();  // its index and cache go too
        core.open = false;
      },
      false);
  if (!closed) return nullptr;
  Py_RETURN_NONE;
}

// compact(): rewrites the file with only what it holds now.
template <class Db>
PyObject* CompactStore(PyObject* self, PyObject*) {
  StoreCore<Db>& core = CoreOf<Db>(self);
  if (!OnStore(core, false, [&] { core.db->Compact(false); })) return nullptr;
  Py_RETURN_NONE;
}

// _begin_batch() and _commit_batch(): the file's lock held across many
// writes, for Closing.batch().
template <class Db>
PyObject* BeginBatch(PyObject* self, PyObject*) {
  StoreCore<Db>& core = CoreOf<Db>(self);
  if (!OnStore(core, false, [&] { core.db->BeginBatch(); })) return nullptr;
  Py_RETURN_NONE;
}

template <class Db>
PyObject* CommitBatch(PyObject* self, PyObject*) {
  StoreCore<Db>& core = CoreOf<Db>(self);
  if (!OnStore(core, false, [&] { core.db->CommitBatch(); })) return nullptr;
  Py_RETURN_NONE;
}

template <class Db>
PyObject* StoreClosed(PyObject* self, void*) {
  return PyBool_FromLong(!CoreOf<Db>(self).open);
}

template <class Db>
PyObject* StorePath(PyObject* self, void*) {
  return TextOf(CoreOf<Db>(self).path);
}

template <class Db>
Py_ssize_t StoreLength(PyObject* self) {
  StoreCore<Db>& core = CoreOf<Db>(self);
  int32_t count = 0;
  if (!OnStore(core, true, [&] { count = core.db->Count(); })) return -1;
  return count;
}

// `key in store`: a key that is not a str is absent.
template <class Db, bool (Db::*kHas)(std::u16string_view) const>
int StoreContains(PyObject* self, PyObject* key) {
  if (!PyUnicode_Check(key)) return 0;
  StoreCore<Db>& core = CoreOf<Db>(self);
  const String k = StringOf(key);
  bool found = false;
  if (!OnStore(core, true, [&] { found = (*core.db.*kHas)(k); })) return -1;
  return found ? 1 : 0;
}

// Returns a list of the str of each String of `strings` (a store's keys);
// null with a Python exception.
PyObject* ListOfTexts(std::span<const Value> strings);

// Iterates over the keys as they were when iteration began, in file order.
template <class Db>
PyObject* IterStore(PyObject* self) {
  StoreCore<Db>& core = CoreOf<Db>(self);
  Value keys;
  if (!OnStore(core, true, [&] { keys = core.db->Keys(); })) return nullptr;
  PyObject* list = ListOfTexts(keys.array().values());
  if (list == nullptr) return nullptr;
  PyObject* iterator = PyObject_GetIter(list);
  Py_DECREF(list);
  return iterator;
}

// What one store type has beside what every store has.
struct StoreTypeSpec {
  const char* name;  // "quorvel._native.KvStore", for good
  const char* doc;
  const char* compact_doc;
  newfunc new_store;  // NewStore<Db> with the type's source
  std::initializer_list<PyMethodDef> methods;  // its own
  binaryfunc get_item;
  objobjargproc set_item;  // and del
  objobjproc contains;     // StoreContains
};

// Adds a store type to the module under the last part of its name: a
// mapping of `pieces`'s pieces, with len (Db::Count), iteration over
// Db::Keys(), compact, close, `closed` and `path`. False with a Python
// exception set.
template <class Db>
bool AddStoreType(PyObject* module, const StoreTypeSpec& pieces) {
  // The type keeps pointers into its tables for good.
  static PyMethodDef* const methods = [&] {
    auto* table = new PyMethodDef[pieces.methods.size() + 5];
    PyMethodDef* end =
        std::copy(pieces.methods.begin(), pieces.methods.end(), table);
    *end++ = {"compact", CompactStore<Db>, METH_NOARGS, pieces.compact_doc};
    *end++ = {"_begin_batch", BeginBatch<Db>, METH_NOARGS, nullptr};
    *end++ = {"_commit_batch", CommitBatch<Db>, METH_NOARGS, nullptr};
    *end++ = {"close", CloseStore<Db>, METH_NOARGS,
              "close($self, /)\n--\n\n"
              "Closes the file; nothing when it is closed already. Everything "
              "but close and closed raises once it is."};
    *end = {nullptr, nullptr, 0, nullptr};
    return table;
  }();
  static PyGetSetDef getset[] = {
      {"closed", StoreClosed<Db>, nullptr, "Whether close() was called.",
       nullptr},
      {"path", StorePath<Db>, nullptr, "The file's path, as given.", nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(pieces.new_store)},
      {Py_tp_dealloc, reinterpret_cast<void*>(DeallocStore<Db>)},
      {Py_tp_iter, reinterpret_cast<void*>(IterStore<Db>)},
      {Py_mp_length, reinterpret_cast<void*>(StoreLength<Db>)},
      {Py_mp_subscript, reinterpret_cast<void*>(pieces.get_item)},
      {Py_mp_ass_subscript, reinterpret_cast<void*>(pieces.set_item)},
      {Py_sq_contains, reinterpret_cast<void*>(pieces.contains)},
      {Py_tp_methods, methods},
      {Py_tp_getset, getset},
      {Py_tp_doc, const_cast<char*>(pieces.doc)},
      {0, nullptr},
  };
  PyType_Spec type_spec = {pieces.name, sizeof(StoreObject<Db>), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, slots};
  PyObject* type = PyType_FromSpec(&type_spec);
  if (type == nullptr) return false;
  const bool added = PyModule_AddObjectRef(
                         module, std::strrchr(pieces.name, '.') + 1, type) == 0;
  Py_DECREF(type);
  return added;
}

// Returns whether `text` (held by the str `object`) comes back exactly
// from `target`; otherwise raises quorvel.InexactTextError naming the
// character (quorvel.InexactError for text too long), the description
// calling the text `name` and the place `where`, and returns false.
bool RequireText(PyObject* object, std::u16string_view text,
                 StorableTarget target, std::u16string_view source,
                 std::u16string_view name, std::u16string_view where = {});

// Takes the arguments of a METH_FASTCALL | METH_KEYWORDS call: `names` in
// order, positionally or by keyword, the first `required` of them
// required. Fills `out` with borrowed references (null for an optional one
// left out). False with a TypeError.
bool TakeArguments(const char* function, PyObject* const* args,
                   Py_ssize_t nargs, PyObject* kwnames,
                   std::initializer_list<const char*> names, size_t required,
                   PyObject** out);

// Raises TypeError: `what` must be a str, not the type of `object`;
// returns null.
PyObject* RaiseNotText(const char* what, PyObject* object);

// The module's store parts.
bool AddStores(PyObject* module);
bool AddKv(PyObject* module);
bool AddDocs(PyObject* module);

}  // namespace quorvel::python

#endif  // QUORVEL_PYTHON_NATIVE_STORES_H_
