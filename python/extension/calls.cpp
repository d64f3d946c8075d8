// Calling a member: the exactness the call asks for, the interpreter lock
// let go while the library works, and errors that name what was called.
#include "class_cache.h"

namespace quorvel_python {

namespace {

// Whether the interpreter runs a thread besides this one: only then is
// there anyone to give the lock to, and giving it up and taking it back
// costs a third of a quick call. A thread state is in the interpreter's
// list of them; alone, it has no neighbours. A thread that registers itself
// from outside Python while this one looks waits for the next call.
bool OtherThreads() {
  const PyThreadState* self = PyThreadState_Get();
  return self->prev != nullptr || self->next != nullptr;
}

// Whether the call asks the library to refuse rather than lose. Unsaid, it
// does, but on a database file and its records, which keep what their
// open chose: there only OpenDB asks.
bool AsksExact(const ClassCache* cls, const MemberEntry* entry, Errors errors) {
  if (errors != Errors::kDefault) return errors == Errors::kStrict;
  return cls == nullptr || !cls->keeps_open_choice() ||
         (entry != nullptr && entry == cls->open());
}

// Returns the library's member that answers the call, looked up once per
// class; null when there is none (the call by name then says why).
const quorvel_member* MemberFor(quorvel_object* handle, MemberEntry* entry,
                                int32_t call_type) {
  const bool known = call_type == QUORVEL_METHOD || call_type == QUORVEL_GET ||
                     call_type == QUORVEL_LET || call_type == QUORVEL_SET;
  if (entry == nullptr || !known) return nullptr;
  const int slot = call_type == QUORVEL_LET   ? 1
                   : call_type == QUORVEL_SET ? 2
                                              : 0;
  if (!entry->looked[slot]) {
    const quorvel_member* found = nullptr;
    const int32_t status =
        quorvel_find_member(handle, entry->name.c_str(), call_type, &found);
    // Anything but an answer about the class (a released handle) is asked
    // again next time.
    if (status != 0 && status != kErrNoSuchMember) return nullptr;
    entry->found[slot] = found;
    entry->looked[slot] = true;
  }
  return entry->found[slot];
}

int32_t CallLibrary(quorvel_object* handle, MemberEntry* entry,
                    const char* name, int32_t flags, Arguments& args,
                    quorvel_variant* result) {
  const quorvel_member* member =
      MemberFor(handle, entry, flags & ~(QUORVEL_UTF16 | QUORVEL_EXACT));
  const bool unlocked = OtherThreads();
  int32_t status;
  PyThreadState* saved = unlocked ? PyEval_SaveThread() : nullptr;
  if (member != nullptr) {
    status = quorvel_call_member(handle, member, flags, args.data(),
                                 args.size(), result);
  } else {
    status = quorvel_call_by_name(handle, name, flags, args.data(), args.size(),
                                  result);
  }
  if (unlocked) PyEval_RestoreThread(saved);
  return status;
}

CallSite SiteOf(const ClassCache* cls, const char* member) {
  CallSite site;
  if (cls != nullptr) site.class_name = cls->name();
  site.member = member;
  return site;
}

// The texts of error 438, learnt from the library the first time it says
// them, so that an unknown name needs no call afterwards.
PyObject* no_member_source = nullptr;
PyObject* no_member_description = nullptr;

}  // namespace

PyObject* Call(quorvel_object* handle, ClassCache* cls, MemberEntry* entry,
               const char* name, int32_t call_type, Arguments& args) {
  const char* member = entry != nullptr ? entry->name.c_str() : name;
  int32_t flags = call_type | QUORVEL_UTF16;
  if (AsksExact(cls, entry, args.errors())) flags |= QUORVEL_EXACT;
  quorvel_variant result;
  const int32_t status =
      CallLibrary(handle, entry, member, flags, args, &result);
  if (status == 0) {
    DropPending();
    return FromVariant(&result);
  }
  CallSite site = SiteOf(cls, member);
  if (status == kErrWrongArgumentCount && entry != nullptr) {
    const bool writes = call_type == QUORVEL_LET || call_type == QUORVEL_SET;
    const Arity& arity = writes ? entry->writing : entry->reading;
    if (arity.declared) {
      site.expected = arity.Text();
      site.given = static_cast<Py_ssize_t>(args.size());
    }
  }
  return RaiseStatus(status, &site);
}

PyObject* RaiseNoMember(quorvel_object* handle, ClassCache* cls, PyObject* name,
                        int32_t call_type) {
  const char* text = PyUnicode_AsUTF8(name);
  if (text == nullptr) return nullptr;
  const CallSite site = SiteOf(cls, text);
  if (no_member_description == nullptr) {
    quorvel_variant result;
    const int32_t status = quorvel_call_by_name(
        handle, text, call_type | QUORVEL_UTF16, nullptr, 0, &result);
    if (status == 0) return FromVariant(&result);
    if (status != kErrNoSuchMember) return RaiseStatus(status, &site);
    size_t size = 0;
    const uint16_t* units = quorvel_last_error_source_utf16(&size);
    no_member_source = TextFromUtf16(units, size);
    units = quorvel_last_error_description_utf16(&size);
    no_member_description = TextFromUtf16(units, size);
    if (no_member_source == nullptr || no_member_description == nullptr) {
      Py_CLEAR(no_member_source);
      Py_CLEAR(no_member_description);
      return nullptr;
    }
  }
  return RaiseWithTexts(kErrNoSuchMember, Py_NewRef(no_member_source),
                        Py_NewRef(no_member_description), &site);
}

quorvel_object* Enumerate(quorvel_object* handle) {
  quorvel_object* enumerator = nullptr;
  int32_t status;
  if (OtherThreads()) {
    Py_BEGIN_ALLOW_THREADS status = quorvel_enumerate(handle, &enumerator);
    Py_END_ALLOW_THREADS
  } else {
    status = quorvel_enumerate(handle, &enumerator);
  }
  if (status != 0) {
    RaiseStatus(status);
    return nullptr;
  }
  DropPending();
  return enumerator;
}

}  // namespace quorvel_python
