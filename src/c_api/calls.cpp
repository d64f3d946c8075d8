// Creating objects, calling their members by name, counting their handles
// and enumerating them.
#include <cstdint>
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

// The arguments of one call as Values; a handful live on the stack.
class Arguments {
 public:
  Arguments(const quorvel_variant* args, size_t count) : count_(count) {
    if (count != 0 && args == nullptr) RaiseBadArgument(u"args is NULL");
    Value* slots = inline_;
    if (count > kInline) {
      heap_.resize(count);
      slots = heap_.data();
    }
    for (size_t i = 0; i < count; ++i) slots[i] = FromVariant(args[i]);
    data_ = slots;
  }
  std::span<const Value> span() const { return {data_, count_}; }

 private:
  static constexpr size_t kInline = 8;
  Value inline_[kInline];
  std::vector<Value> heap_;
  const Value* data_ = nullptr;
  size_t count_;
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
  const int32_t status = Guard([&] {
    quorvel::c_api::MemberName member(name, u"name");
    const quorvel::CallType kind = quorvel::c_api::CallTypeOf(
        call_type & ~(QUORVEL_UTF16 | QUORVEL_EXACT));
    quorvel::c_api::Arguments values(args, nargs);
    std::optional<quorvel::ExactScope> exact;
    if ((call_type & QUORVEL_EXACT) != 0) exact.emplace();
    // The handle's count keeps the object alive; no other is taken.
    quorvel::Value r = quorvel::InvokeByName(
        quorvel::c_api::ObjectOf(object), member.view(), kind, values.span());
    if (result != nullptr)
      quorvel::c_api::ToVariant(std::move(r), (call_type & QUORVEL_UTF16) != 0,
                                result);
  });
  return quorvel::c_api::EmptyOnFailure(status, result);
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
