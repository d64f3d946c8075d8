// quorvel.Member: a member of an object, to call. Positional arguments go
// in order, keyword arguments to the parameters of that name (any letter
// case), and `errors=` says what the call asks of files and codecs. Its
// docstring and __signature__ come from the member table.
#include <algorithm>
#include <vector>

#include "wrapper.h"

namespace quorvel_python {

namespace {

struct MemberObject {
  PyObject_HEAD ObjectWrapper* owner;
  MemberEntry* entry;
  vectorcallfunc vectorcall;
};

PyTypeObject MemberType = {PyVarObject_HEAD_INIT(nullptr, 0)};

MemberObject* AsMember(PyObject* self) {
  return reinterpret_cast<MemberObject*>(self);
}

bool IsErrorsKeyword(PyObject* name) {
  return PyUnicode_CompareWithASCIIString(name, "errors") == 0;
}

// Places keyword arguments by parameter name (any letter case); the gaps
// before them are left out (Missing). `errors` is the call's, not a
// parameter.
bool AddKeywords(Arguments& args, PyObject* const* values, size_t positional,
                 PyObject* names, const MemberEntry& entry) {
  const Py_ssize_t count = PyTuple_GET_SIZE(names);
  std::vector<PyObject*> slots;
  for (Py_ssize_t k = 0; k < count; ++k) {
    PyObject* keyword = PyTuple_GET_ITEM(names, k);
    if (IsErrorsKeyword(keyword)) continue;
    const char* name = PyUnicode_AsUTF8(keyword);
    if (name == nullptr) return false;
    const auto& params = entry.folded_params;
    auto at = std::find(params.begin(), params.end(), Folded(name));
    const size_t index = static_cast<size_t>(at - params.begin());
    if (at == params.end() ||
        (entry.param_array && index + 1 == params.size())) {
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
    slots[index - positional] = values[positional + static_cast<size_t>(k)];
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
  MemberObject* member = AsMember(self);
  const size_t positional = PyVectorcall_NARGS(nargsf);
  const Py_ssize_t keywords = names == nullptr ? 0 : PyTuple_GET_SIZE(names);
  Arguments args;
  const MemberEntry& entry = *member->entry;
  if (entry.callback_index >= 0)
    args.set_callback_at(static_cast<size_t>(entry.callback_index),
                         entry.callback_kind);
  // The request comes first: conversions follow it.
  for (Py_ssize_t k = 0; k < keywords; ++k) {
    if (!IsErrorsKeyword(PyTuple_GET_ITEM(names, k))) continue;
    Errors errors;
    if (!ParseErrors(values[positional + static_cast<size_t>(k)], &errors))
      return nullptr;
    args.set_errors(errors);
  }
  for (size_t i = 0; i < positional; ++i)
    if (!args.Add(values[i])) return nullptr;
  if (keywords != 0 && !AddKeywords(args, values, positional, names, entry))
    return nullptr;
  ObjectWrapper* owner = member->owner;
  return Call(owner->handle, owner->cls, member->entry, nullptr, QUORVEL_METHOD,
              args);
}

// A member object usually lives for one call (`d.Item(k)`), which makes it
// the commonest allocation of a call: a few freed ones are kept for the
// next. The interpreter lock guards the list.
constexpr int kKept = 8;
MemberObject* kept[kKept];
int kept_count = 0;

void MemberDealloc(PyObject* self) {
  Py_DECREF(AsMember(self)->owner);
  if (kept_count < kKept) {
    kept[kept_count++] = AsMember(self);
  } else {
    PyObject_Free(self);
  }
}

PyObject* MemberRepr(PyObject* self) {
  MemberObject* member = AsMember(self);
  return PyUnicode_FromFormat("<quorvel member %s.%s>",
                              member->owner->cls->name(),
                              member->entry->name.c_str());
}

PyObject* MemberGetDoc(PyObject* self, void*) {
  return MemberDoc(*AsMember(self)->owner->cls, *AsMember(self)->entry);
}

PyObject* MemberGetSignature(PyObject* self, void*) {
  return MemberSignature(*AsMember(self)->owner->cls, *AsMember(self)->entry);
}

PyObject* MemberGetName(PyObject* self, void*) {
  return PyUnicode_FromString(AsMember(self)->entry->name.c_str());
}

PyObject* MemberGetOwner(PyObject* self, void*) {
  return Py_NewRef(reinterpret_cast<PyObject*>(AsMember(self)->owner));
}

PyGetSetDef kMemberGetSet[] = {
    {"__doc__", MemberGetDoc, nullptr, nullptr, nullptr},
    {"__signature__", MemberGetSignature, nullptr, nullptr, nullptr},
    {"__name__", MemberGetName, nullptr, nullptr, nullptr},
    {"__self__", MemberGetOwner, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

}  // namespace

bool InitMembers() {
  MemberType.tp_name = "quorvel.Member";
  MemberType.tp_basicsize = sizeof(MemberObject);
  MemberType.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VECTORCALL;
  MemberType.tp_vectorcall_offset = offsetof(MemberObject, vectorcall);
  MemberType.tp_call = PyVectorcall_Call;
  MemberType.tp_dealloc = MemberDealloc;
  MemberType.tp_repr = MemberRepr;
  MemberType.tp_getset = kMemberGetSet;
  return PyType_Ready(&MemberType) == 0;
}

PyObject* NewMember(PyObject* owner, MemberEntry* entry) {
  MemberObject* member =
      kept_count > 0
          ? reinterpret_cast<MemberObject*>(PyObject_Init(
                reinterpret_cast<PyObject*>(kept[--kept_count]), &MemberType))
          : PyObject_New(MemberObject, &MemberType);
  if (member == nullptr) return nullptr;
  member->owner = AsWrapper(Py_NewRef(owner));
  member->entry = entry;
  member->vectorcall = MemberCall;
  return reinterpret_cast<PyObject*>(member);
}

}  // namespace quorvel_python
