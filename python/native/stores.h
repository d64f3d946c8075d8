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

#include <atomic>
#include <initializer_list>
#include <mutex>
#include <optional>
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

// What a body run on a store raised, kept until the interpreter lock is
// back.
class StoreCall {
 public:
  // Runs `body`, first raising the library's "DB is not open" when the
  // store was closed and `needs_open`.
  template <class Db, class F>
  void Run(const StoreCore<Db>& core, bool needs_open, F&& body) {
    try {
      if (needs_open && !core.open)
        ErrorRaise(kErrGeneralFailure, core.source, u"DB is not open");
      body();
    } catch (const Error& e) {
      error_.emplace(e);
    } catch (const std::bad_alloc&) {
      no_memory_ = true;
    } catch (const std::exception& e) {
      other_.emplace(e.what());
    }
  }
  // Raises what `Run` caught; false when it did.
  bool Finish(std::u16string_view path);

 private:
  std::optional<Error> error_;
  bool no_memory_ = false;
  std::optional<std::string> other_;
};

// Runs `body` (library code only: it must touch no Python object) on the
// store with its mutex held. Work that reaches the file runs without the
// interpreter lock; `quick` work (the index and cache in memory) runs with
// it when the mutex is free, since giving the lock up costs more than such
// work. A closed store raises "DB is not open" unless `needs_open` is
// false. Returns false with the package's exception set when it raised.
template <class Db, class F>
bool OnStore(StoreCore<Db>& core, bool quick, F&& body,
             bool needs_open = true) {
  StoreCall call;
  if (quick && core.mutex.try_lock()) {
    std::lock_guard<std::mutex> guard(core.mutex, std::adopt_lock);
    call.Run(core, needs_open, body);
  } else {
    Py_BEGIN_ALLOW_THREADS;
    {
      std::lock_guard<std::mutex> guard(core.mutex);
      call.Run(core, needs_open, body);
    }
    Py_END_ALLOW_THREADS;
  }
  return call.Finish(core.path);
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

template <class Db>
PyObject* StoreClosed(PyObject* self, void*) {
  return PyBool_FromLong(!CoreOf<Db>(self).open);
}

template <class Db>
PyObject* StorePath(PyObject* self, void*) {
  return TextOf(CoreOf<Db>(self).path);
}

// Returns a list of the str of each String of an array of them (a store's
// keys); null with a Python exception.
PyObject* ListOfTexts(const Value& strings);

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
