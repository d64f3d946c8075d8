// Creating objects, calling their members by name, counting their handles
// and enumerating them.
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "c_api/guard.h"
#include "c_api/handles.h"
#include "c_api/variants.h"
#include "quorvel/dispatch.h"
#include "quorvel/enumerator.h"
#include "quorvel/error.h"
#include "quorvel/quorvel_c.h"
#include "quorvel/storable.h"

namespace quorvel::c_api {

namespace {

// Member names are short ASCII; they are widened on the stack.
class MemberName {
 public:
  MemberName(const char* name, std::u16string_view what) {
    if (name == nullptr) RaiseBadArgument(std::u16string(what) + u" is NULL");
    size_t n = 0;
    while (name[n] != 0 && n < kInline && static_cast<uint8_t>(name[n]) < 0x80)
      ++n;
    if (name[n] == 0) {
      for (size_t i = 0; i < n; ++i) inline_[i] = name[i];
      view_ = std::u16string_view(inline_, n);
    } else {
      text_ = DecodeUtf8(name, what);
      view_ = text_.view();
    }
  }
  std::u16string_view view() const { return view_; }

 private:
  static constexpr size_t kInline = 64;
  char16_t inline_[kInline];
  String text_;
  std::u16string_view view_;
};

// A block for short text arguments, kept from one call to the next: when a
// call returns, the block of a text the member did not keep is held by
// nobody else and takes the next text of its length, which saves an
// allocation, a free and a count per call of a binding that passes keys.
struct KeptText {
  static constexpr size_t kMost = 32;
  internal::StringRep* rep = nullptr;
  ~KeptText() { internal::ReleaseString(rep); }
};
__attribute__((tls_model("initial-exec"))) thread_local KeptText t_kept;

// Returns the text of a UTF-16 variant of 1 to KeptText::kMost units in the
// kept block when it has that length, else in a new one; null for others.
internal::StringRep* ShortText(const quorvel_variant& v) {
  if (v.type != QUORVEL_STRING || (v.flags & QUORVEL_UTF16) == 0)
    return nullptr;
  const size_t n = v.as.utf16.size;
  if (n == 0 || n > KeptText::kMost || v.as.utf16.data == nullptr)
    return nullptr;
  internal::StringRep* rep = t_kept.rep;
  if (rep != nullptr && rep->length == n) {
    t_kept.rep = nullptr;
  } else {
    rep = internal::AllocateString(n);
  }
  std::memcpy(rep->units(), v.as.utf16.data, n * sizeof(char16_t));
  return rep;
}

// The arguments of one call as Values; a handful live on the stack, and
// only as many are made as were given.
class Arguments {
 public:
  Arguments(const quorvel_variant* args, size_t count) {
    if (count != 0 && args == nullptr) RaiseBadArgument(u"args is NULL");
    if (count > kInline) {
      heap_.reserve(count);
      for (size_t i = 0; i < count; ++i) heap_.push_back(FromVariant(args[i]));
      data_ = heap_.data();
      return;
    }
    data_ = reinterpret_cast<Value*>(inline_);
    for (; made_ < count; ++made_) {
      if (internal::StringRep* rep = ShortText(args[made_])) {
        new (data_ + made_) Value(String::Adopt(rep));
      } else {
        new (data_ + made_) Value(FromVariant(args[made_]));
      }
    }
  }
  ~Arguments() {
    if (!heap_.empty()) return;
    for (size_t i = 0; i < made_; ++i) {
      Value& v = data_[i];
      internal::StringRep* rep = v.IsString() ? v.string_rep() : nullptr;
      // Held by this Value alone: its block is kept rather than freed (the
      // Value's storage is this object's, so it may end without its
      // destructor).
      if (rep != nullptr && rep->length <= KeptText::kMost &&
          rep->refs.load(std::memory_order_acquire) == 1) {
        internal::ReleaseString(t_kept.rep);
        t_kept.rep = rep;
      } else {
        v.~Value();
      }
    }
  }
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;
  std::span<const Value> span() const {
    return {data_, heap_.empty() ? made_ : heap_.size()};
  }

 private:
  static constexpr size_t kInline = 8;
  alignas(Value) unsigned char inline_[kInline * sizeof(Value)];
  size_t made_ = 0;
  std::vector<Value> heap_;
  Value* data_ = nullptr;
};

CallType CallTypeOf(int32_t call_type) {
  switch (call_type) {
    case QUORVEL_METHOD:
    case QUORVEL_GET:
    case QUORVEL_LET:
    case QUORVEL_SET:
      return static_cast<CallType>(call_type);
  }
  RaiseBadArgument(u"call_type is not Method, Get, Let or Set");
}

// Takes over the result of a failed call: the caller finds it Empty.
int32_t EmptyOnFailure(int32_t status, quorvel_variant* out) {
  if (status != 0) quorvel_variant_init(out);
  return status;
}

const MemberInfo& MemberOf(const quorvel_member* member) {
  if (member == nullptr) RaiseBadArgument(u"member is NULL");
  return *reinterpret_cast<const MemberInfo*>(member);
}

// Calls a member found beforehand. What the member raises is caught beside
// it (TryInvokeMember), not unwound through this function's frames, and
// recorded here; the rest (a bad argument, a result that does not convert)
// is recorded by the guard.
int32_t CallMember(quorvel_object* object, const char* name,
                   const quorvel_member* handle, int32_t flags,
                   const quorvel_variant* args, size_t nargs,
                   quorvel_variant* result) {
  std::optional<Error> error;
  int32_t status = Guard([&] {
    Object* target = ObjectOf(object);
    const MemberInfo* member;
    if (name != nullptr) {
      member =
          &FindMember(target, MemberName(name, u"name").view(),
                      CallTypeOf(flags & ~(QUORVEL_UTF16 | QUORVEL_EXACT)));
    } else {
      member = &MemberOf(handle);
    }
    Arguments values(args, nargs);
    std::optional<ExactScope> exact;
    if ((flags & QUORVEL_EXACT) != 0) exact.emplace();
    // The handle's count keeps the object alive; no other is taken.
    Value r;
    if (!TryInvokeMember(target, *member, values.span(), r, error)) return;
    if (result != nullptr)
      ToVariant(std::move(r), (flags & QUORVEL_UTF16) != 0, result);
  });
  if (status == 0 && error)
    status =
        RecordError(error->number(), error->source(), error->description());
  return EmptyOnFailure(status, result);
}

}  // namespace

}  // namespace quorvel::c_api

using quorvel::c_api::Guard;
using quorvel::c_api::RaiseBadArgument;

extern "C" {

int32_t quorvel_create_object(const char* class_name, quorvel_object** out) {
  return Guard([&] {
    if (out == nullptr) RaiseBadArgument(u"out is NULL");
    *out = nullptr;
    quorvel::c_api::MemberName name(class_name, u"class_name");
    quorvel::Value object = quorvel::CreateObject(name.view());
    *out = quorvel::c_api::HandleOf(object.object());
  });
}

int32_t quorvel_call_by_name(quorvel_object* object, const char* name,
                             int32_t call_type, const quorvel_variant* args,
                             size_t nargs, quorvel_variant* result) {
  if (name == nullptr) {
    const int32_t status = Guard([] { RaiseBadArgument(u"name is NULL"); });
    return quorvel::c_api::EmptyOnFailure(status, result);
  }
  return quorvel::c_api::CallMember(object, name, nullptr, call_type, args,
                                    nargs, result);
}

int32_t quorvel_find_member(quorvel_object* object, const char* name,
                            int32_t call_type, const quorvel_member** out) {
  return Guard([&] {
    if (out == nullptr) RaiseBadArgument(u"out is NULL");
    *out = nullptr;
    const quorvel::MemberInfo* found =
        &quorvel::FindMember(quorvel::c_api::ObjectOf(object),
                             quorvel::c_api::MemberName(name, u"name").view(),
                             quorvel::c_api::CallTypeOf(call_type));
    *out = reinterpret_cast<const quorvel_member*>(found);
  });
}

int32_t quorvel_call_member(quorvel_object* object,
                            const quorvel_member* member, int32_t flags,
                            const quorvel_variant* args, size_t nargs,
                            quorvel_variant* result) {
  return quorvel::c_api::CallMember(object, nullptr, member, flags, args, nargs,
                                    result);
}

int32_t quorvel_add_ref(quorvel_object* object) {
  return Guard([&] { quorvel::c_api::AddHandleRef(object); });
}

int32_t quorvel_release(quorvel_object* object) {
  return Guard([&] { quorvel::c_api::ReleaseHandle(object); });
}

int32_t quorvel_enumerate(quorvel_object* object, quorvel_object** out) {
  return Guard([&] {
    if (out == nullptr) RaiseBadArgument(u"out is NULL");
    *out = nullptr;
    quorvel::Value e =
        quorvel::InvokeByName(quorvel::c_api::ObjectOf(object), u"_NewEnum",
                              quorvel::CallType::Get, {});
    if (!e.IsObject() || e.IsNothing())
      quorvel::RaiseStandard(quorvel::kErrTypeMismatch);
    *out = quorvel::c_api::HandleOf(e.object());
  });
}

int32_t quorvel_enum_next(quorvel_object* enumerator, uint32_t flags,
                          quorvel_variant* item, int32_t* fetched) {
  const int32_t status = Guard([&] {
    if (item == nullptr) RaiseBadArgument(u"item is NULL");
    if (fetched == nullptr) RaiseBadArgument(u"fetched is NULL");
    *fetched = 0;
    quorvel::Object* target = quorvel::c_api::ObjectOf(enumerator);
    quorvel::Value next;
    bool more;
    if (auto* walker = dynamic_cast<quorvel::Enumerator*>(target)) {
      more = walker->Next(next);
    } else {
      // Any other enumerator answers by name.
      more = quorvel::ToBoolean(quorvel::InvokeByName(
          target, u"MoveNext", quorvel::CallType::Method, {}));
      if (more)
        next = quorvel::InvokeByName(target, u"Current", quorvel::CallType::Get,
                                     {});
    }
    if (more) {
      quorvel::c_api::ToVariant(std::move(next), (flags & QUORVEL_UTF16) != 0,
                                item);
      *fetched = 1;
    } else {
      quorvel_variant_init(item);
    }
  });
  return quorvel::c_api::EmptyOnFailure(status, item);
}

}  // extern "C"
