// quorvel.docs: a KxDocsDB file as a mapping from id to dict.
#include "stores.h"
// Python.h, which stores.h brings in, comes before the rest.
#include <quorvel/carray.h>
#include <quorvel/compare.h>
#include <quorvel/convert.h>
#include <quorvel/dictionary.h>
#include <quorvel/kxdocrec.h>
#include <quorvel/kxdocsdb.h>
#include <quorvel/msgpack.h>
#include <quorvel/safearray.h>
#include <quorvel/storable.h>

#include <vector>

namespace quorvel::python {

namespace {

using Core = StoreCore<KxDocsDB>;
constexpr std::u16string_view kSource = u"KxDocsDB";
constexpr std::u16string_view kIdName = u"the document id";

// Returns quorvel.InexactError (borrowed), which `find` takes for "nothing
// can match"; null with a Python exception. Looked up on first use, since
// the package may still be importing when this module loads.
PyObject* InexactErrorClass() {
  static PyObject* inexact_error = nullptr;
  if (inexact_error == nullptr) {
    PyObject* package = PyImport_ImportModule("quorvel");
    if (package == nullptr) return nullptr;
    inexact_error = PyObject_GetAttrString(package, "InexactError");
    Py_DECREF(package);
  }
  return inexact_error;
}

Core& CoreOf(PyObject* self) { return quorvel::python::CoreOf<KxDocsDB>(self); }

PyObject* New(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return NewStore<KxDocsDB>(type, args, kwargs, kSource);
}

// Gives each Decimal in `value` the kind the file gives back for it, a
// Currency (an int past 32 bits is a Decimal until then). The record a
// store saves stays in its memory and answers later reads and searches, so
// it must hold what the file holds. Raises 6 for a Decimal past the
// Currency range, as the encoder would.
void ToStoredKinds(const Value& value) {
  if (auto* dict = value.object_as<Dictionary>()) {
    for (const Dictionary::Entry& entry : *dict) {
      if (entry.value.kind() == Kind::Decimal) {
        *dict->Find(entry.key.view()) =
            Value::Currency(ToCurrency(entry.value));
      } else {
        ToStoredKinds(entry.value);
      }
    }
  } else if (auto* list = value.object_as<CArray>()) {
    for (int32_t i = 0; i < list->Count(); ++i) {
      const Value& item = list->Item(i);
      if (item.kind() == Kind::Decimal) {
        list->LetItem(i, Value::Currency(ToCurrency(item)));
      } else {
        ToStoredKinds(item);
      }
    }
  }
}

// Converts a document, a dict, into `out` (a Dictionary) as the store
// takes it: exact, and checked against the file, unless it takes losses;
// each value of the kind the file gives back.
bool DocumentOf(const Core& core, PyObject* doc, Value* out) {
  if (!PyDict_Check(doc)) {
    PyErr_Format(PyExc_TypeError, "a document must be a dict, not '%s'",
                 Py_TYPE(doc)->tp_name);
    return false;
  }
  if (!ToValue(doc, ConvertOptions{.exact = core.exact}, out)) return false;
  std::optional<StorableFault> fault;
  if (!Run([&] {
        if (core.exact) fault = CheckStorable(*out, StorableTarget::kDocument);
        if (!fault) ToStoredKinds(*out);
      }))
    return false;
  if (fault) RaiseStorableFault(*out, *fault, kSource);
  return !fault;
}

// Copies the fields of a Dictionary into a record.
void Fill(KxDocRec& rec, const Value& fields) {
  Dictionary& into = rec.fields();
  for (const Dictionary::Entry& entry : *fields.object_as<Dictionary>())
    into.LetItem(entry.key, entry.value);
}

// Whether a stored field value equals `wanted` (already in the form the
// file gives back): dicts by their names and values in any order, lists
// element by element, scalars as FindIds compares them (the same kind and
// value; Null only Null).
bool SameStored(const Value& stored, const Value& wanted) {
  if (const auto* w = wanted.object_as<Dictionary>()) {
    const auto* s = stored.object_as<Dictionary>();
    if (s == nullptr || s->Count() != w->Count()) return false;
    for (const Dictionary::Entry& entry : *w) {
      const Value* v = s->Find(entry.key.view());
      if (v == nullptr || !SameStored(*v, entry.value)) return false;
    }
    return true;
  }
  if (const auto* w = wanted.object_as<CArray>()) {
    const auto* s = stored.object_as<CArray>();
    if (s == nullptr || s->Count() != w->Count()) return false;
    for (int32_t i = 0; i < w->Count(); ++i)
      if (!SameStored(s->begin()[i], w->begin()[i])) return false;
    return true;
  }
  if (stored.IsNull() || wanted.IsNull())
    return stored.IsNull() && wanted.IsNull();
  if (stored.IsObject() || VarType(stored) != VarType(wanted)) return false;
  return Compare(stored, wanted) == Comparison::Equal;
}

// Reads the document `id` (a str) into `rec`, null when absent. False with
// a Python exception set.
bool Read(PyObject* self, PyObject* id, Ref<KxDocRec>* rec) {
  Core& core = CoreOf(self);
  const String key = StringOf(id);
  return OnStore(core, false, [&] { *rec = core.db->GetDoc(key); });
}

PyObject* GetItem(PyObject* self, PyObject* id) {
  if (!PyUnicode_Check(id)) return RaiseNotText("a document id", id);
  Ref<KxDocRec> rec;
  if (!Read(self, id, &rec)) return nullptr;
  if (!rec) {
    PyErr_SetObject(PyExc_KeyError, id);
    return nullptr;
  }
  // Nothing changes a record once saved or read, so it is read here
  // without the store's mutex.
  return FromValue(Value(rec));
}

// get(id, default=None): an id that is not a str is absent, as for `in`.
PyObject* Get(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs < 1 || nargs > 2) {
    return PyErr_Format(PyExc_TypeError,
                        "get expected 1 or 2 arguments, got %zd", nargs);
  }
  Ref<KxDocRec> rec;
  if (PyUnicode_Check(args[0]) && !Read(self, args[0], &rec)) return nullptr;
  if (rec) return FromValue(Value(rec));
  return Py_NewRef(nargs == 2 ? args[1] : Py_None);
}

// Saves `fields` as the whole document `id`, exactly that id.
bool Store(Core& core, const String& id, const Value& fields) {
  return OnStore(core, false, [&] {
    Ref<KxDocRec> rec = KxDocRec::Create();
    rec->LetDocID(id);
    Fill(*rec, fields);
    core.db->SaveDoc(*rec);
  });
}

// self[id] = doc and del self[id].
int SetItem(PyObject* self, PyObject* id, PyObject* doc) {
  if (!PyUnicode_Check(id)) return RaiseNotText("a document id", id), -1;
  Core& core = CoreOf(self);
  const String key = StringOf(id);
  if (doc == nullptr) {
    bool found = false;
    if (!OnStore(core, false, [&] {
          found = core.db->HasDoc(key);
          if (found) core.db->Delete(key);
        }))
      return -1;
    if (!found) PyErr_SetObject(PyExc_KeyError, id);
    return found ? 0 : -1;
  }
  Value fields;
  if (!DocumentOf(core, doc, &fields)) return -1;
  if (core.exact &&
      !RequireText(id, key, StorableTarget::kText, kSource, kIdName))
    return -1;
  return Store(core, key, fields) ? 0 : -1;
}

// add(doc, id=None) -> str
PyObject* Add(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
              PyObject* kwnames) {
  PyObject* given[2];
  if (!TakeArguments("add", args, nargs, kwnames, {"doc", "id"}, 1, given))
    return nullptr;
  PyObject* doc = given[0];
  PyObject* id = given[1] == nullptr ? Py_None : given[1];
  if (id != Py_None && !PyUnicode_Check(id))
    return RaiseNotText("a document id", id);
  Core& core = CoreOf(self);
  Value fields;
  if (!DocumentOf(core, doc, &fields)) return nullptr;
  const String wanted = id == Py_None ? String() : StringOf(id);
  String stored;
  bool refused = false;
  const bool added = OnStore(core, false, [&] {
    Ref<KxDocRec> rec = core.db->AddDoc(wanted);
    stored = rec->DocID();
    // What must fit is the id as stored: trimmed and in capitals.
    refused =
        core.exact && CheckStorableText(stored, StorableTarget::kText, kIdName);
    if (refused) return;
    Fill(*rec, fields);
    rec->Save();
  });
  if (!added) return nullptr;
  PyObject* result = TextOf(stored.view());
  if (result != nullptr && refused) {
    RequireText(result, stored, StorableTarget::kText, kSource, kIdName);
    Py_CLEAR(result);
  }
  return result;
}

// update(id, fields=None, /, **more): the named fields set, the others
// kept.
PyObject* Update(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* id;
  PyObject* fields = Py_None;
  if (!PyArg_ParseTuple(args, "O|O:update", &id, &fields)) return nullptr;
  if (!PyUnicode_Check(id)) return RaiseNotText("a document id", id);
  PyObject* changes = PyDict_New();
  if (changes == nullptr) return nullptr;
  if ((fields != Py_None && PyDict_Merge(changes, fields, 1) != 0) ||
      (kwargs != nullptr && PyDict_Merge(changes, kwargs, 1) != 0)) {
    Py_DECREF(changes);
    return nullptr;
  }
  Core& core = CoreOf(self);
  Value values;
  const bool converted = DocumentOf(core, changes, &values);
  Py_DECREF(changes);
  if (!converted) return nullptr;
  const String key = StringOf(id);
  bool found = false;
  // Read, changed and saved under the file's lock: another process's
  // update of other fields stays, and a deleted document stays gone.
  if (!OnStore(core, false, [&] {
        found =
            core.db->UpdateDoc(key, [&](KxDocRec& rec) { Fill(rec, values); });
      }))
    return nullptr;
  if (!found) {
    PyErr_SetObject(PyExc_KeyError, id);
    return nullptr;
  }
  Py_RETURN_NONE;
}

// find(field, value) -> list of ids
PyObject* Find(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 2) {
    return PyErr_Format(PyExc_TypeError, "find expected 2 arguments, got %zd",
                        nargs);
  }
  if (!PyUnicode_Check(args[0])) return RaiseNotText("a field name", args[0]);
  Core& core = CoreOf(self);
  // A value the file cannot hold exactly is in no document of an exact
  // store.
  Value wanted;
  if (!ToValue(args[1], ConvertOptions{.exact = core.exact}, &wanted)) {
    if (!core.exact) return nullptr;
    PyObject* type;
    PyObject* error;
    PyObject* traceback;
    PyErr_Fetch(&type, &error, &traceback);
    PyObject* inexact = InexactErrorClass();
    const bool none =
        inexact != nullptr && PyErr_GivenExceptionMatches(type, inexact);
    if (!none) {
      if (inexact == nullptr) PyErr_Clear();  // the error raised first counts
      PyErr_Restore(type, error, traceback);
      return nullptr;
    }
    Py_XDECREF(type);
    Py_XDECREF(error);
    Py_XDECREF(traceback);
    return PyList_New(0);
  }
  std::optional<StorableFault> fault;
  if (core.exact &&
      !Run([&] { fault = CheckStorable(wanted, StorableTarget::kMsgPack); }))
    return nullptr;
  if (fault) return PyList_New(0);
  const String field = StringOf(args[0]);
  Value ids;
  std::vector<Value> matches;
  if (!OnStore(core, false, [&] {
        // What the file would give back for it: Decimal as Currency, an int
        // as a Long, and so on, since a match needs the same kind.
        const Value stored = mMsgPack::DecodeBytes(
            mMsgPack::EncodeBytes(wanted, mMsgPack::EncodeOptions{}));
        if (!stored.IsObject()) {
          ids = core.db->FindIds(field, stored);
          return;
        }
        // FindIds compares objects by identity; these go by structure.
        const Value all = core.db->Keys();
        for (const Value& id : all.array().values()) {
          const Ref<KxDocRec> rec = core.db->GetDoc(id.string());
          const Value* at = rec ? rec->fields().Find(field.view()) : nullptr;
          if (at != nullptr && SameStored(*at, stored)) matches.push_back(id);
        }
      }))
    return nullptr;
  return ListOfTexts(ids.IsArray() ? ids.array().values() : matches);
}

}  // namespace

bool AddDocs(PyObject* module) {
  return AddStoreType<KxDocsDB>(
      module,
      {.name = "quorvel._native.DocsStore",
       .doc = "A KxDocsDB file as a mapping of id to dict; see quorvel.docs.",
       .compact_doc = "compact($self, /)\n--\n\n"
                      "Rewrites the file with only the current documents, in "
                      "their order.",
       .new_store = New,
       .methods =
           {{"get", MethodOf(Get), METH_FASTCALL,
             "get($self, id, default=None, /)\n--\n\n"
             "Returns the document id as a new dict, or default when there is "
             "none."},
            {"add", MethodOf(Add), METH_FASTCALL | METH_KEYWORDS,
             "add($self, /, doc, id=None)\n--\n\n"
             "Stores the dict doc as a new document and returns its id: id "
             "trimmed and in capitals, or the next one the file makes up "
             "(DOC000001, ...). Raises quorvel.Error when the file holds that "
             "id already."},
            {"update", MethodOf(Update), METH_VARARGS | METH_KEYWORDS,
             "update($self, id, fields=None, /, **more)\n--\n\n"
             "Sets the fields of the mapping fields and the keywords in "
             "document id and saves it; the other fields stay. KeyError when "
             "there is no such document."},
            {"find", MethodOf(Find), METH_FASTCALL,
             "find($self, field, value, /)\n--\n\n"
             "Returns the ids of the documents whose field equals value, in "
             "file order: a dict or list by its members, anything else of the "
             "same kind (1 finds neither 1.0 nor True)."}},
       .get_item = GetItem,
       .set_item = SetItem,
       .contains = StoreContains<KxDocsDB, &KxDocsDB::HasDoc>});
}

}  // namespace quorvel::python
