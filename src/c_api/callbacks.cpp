// C functions as the callback interfaces that CArray.Map, Filter and
// SortByKey call through.
#include "quorvel/callbacks.h"

#include <cstdint>

#include "c_api/guard.h"
#include "c_api/handles.h"
#include "c_api/variants.h"
#include "quorvel/error.h"
#include "quorvel/quorvel_c.h"

namespace quorvel::c_api {

namespace {

// Callbacks that call back into the library nest on the machine stack; past
// this depth the innermost raises 28 instead of running out of stack.
constexpr int kMaxCallbackDepth = 100;

class CallbackDepth {
 public:
  CallbackDepth() {
    if (depth_ == kMaxCallbackDepth) RaiseStandard(kErrOutOfStack);
    ++depth_;
  }
  ~CallbackDepth() { --depth_; }
  CallbackDepth(const CallbackDepth&) = delete;
  CallbackDepth& operator=(const CallbackDepth&) = delete;

 private:
  static thread_local int depth_;
};

thread_local int CallbackDepth::depth_ = 0;

// Clears a variant when it goes out of scope.
struct ScopedVariant {
  quorvel_variant v;
  ScopedVariant() { quorvel_variant_init(&v); }
  ~ScopedVariant() { quorvel_variant_clear(&v); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
};

// Raises what a callback reported: the error it recorded when the numbers
// agree, else the standard error of that number.
[[noreturn]] void RaiseReported(int32_t status) {
  if (LastErrorNumber() == status)
    ErrorRaise(status, LastErrorSource(), LastErrorDescription());
  RaiseStandard(status);
}

// What both callback classes keep: the function, its context and how to let
// go of the context.
struct Client {
  void (*function)(void);
  void* context;
  quorvel_release_fn release;
  bool utf16;
};

class CSortCallback final : public ISortCallback {
 public:
  CSortCallback(quorvel_apply_fn apply, const Client& client)
      : apply_(apply), client_(client) {}
  ~CSortCallback() override {
    if (client_.release != nullptr) client_.release(client_.context);
  }
  const Client& client() const { return client_; }

  Value Apply(const Value& value) override {
    CallbackDepth depth;
    ScopedVariant in, out;
    ToVariant(value, client_.utf16, &in.v);
    const int32_t status = apply_(client_.context, &in.v, &out.v);
    if (status != 0) RaiseReported(status);
    return FromVariant(out.v);
  }

 private:
  quorvel_apply_fn apply_;
  Client client_;
};

class CFilterCallback final : public IFilterCallback {
 public:
  CFilterCallback(quorvel_test_fn test, const Client& client)
      : test_(test), client_(client) {}
  ~CFilterCallback() override {
    if (client_.release != nullptr) client_.release(client_.context);
  }
  const Client& client() const { return client_; }

  bool Test(const Value& value) override {
    CallbackDepth depth;
    ScopedVariant in;
    ToVariant(value, client_.utf16, &in.v);
    int32_t keep = 0;
    const int32_t status = test_(client_.context, &in.v, &keep);
    if (status != 0) RaiseReported(status);
    return keep != 0;
  }

 private:
  quorvel_test_fn test_;
  Client client_;
};

template <class Callback, class Function>
int32_t Create(Function function, void* context, quorvel_release_fn release,
               uint32_t flags, quorvel_object** out) {
  bool made = false;  // from then on the object lets go of the context
  const int32_t status = Guard([&] {
    if (out == nullptr) RaiseBadArgument(u"out is NULL");
    *out = nullptr;
    if (function == nullptr) RaiseBadArgument(u"the callback function is NULL");
    const Client client{reinterpret_cast<void (*)(void)>(function), context,
                        release, (flags & QUORVEL_UTF16) != 0};
    Ref<Callback> callback = MakeRef<Callback>(function, client);
    made = true;
    *out = HandleOf(callback.get());
  });
  if (status != 0 && !made && release != nullptr) release(context);
  return status;
}

}  // namespace

}  // namespace quorvel::c_api

using quorvel::c_api::Guard;
using quorvel::c_api::RaiseBadArgument;

extern "C" {

int32_t quorvel_create_sort_callback(quorvel_apply_fn apply, void* context,
                                     quorvel_release_fn release, uint32_t flags,
                                     quorvel_object** out) {
  return quorvel::c_api::Create<quorvel::c_api::CSortCallback>(
      apply, context, release, flags, out);
}

int32_t quorvel_create_filter_callback(quorvel_test_fn test, void* context,
                                       quorvel_release_fn release,
                                       uint32_t flags, quorvel_object** out) {
  return quorvel::c_api::Create<quorvel::c_api::CFilterCallback>(
      test, context, release, flags, out);
}

int32_t quorvel_callback_context(quorvel_object* object, void** context,
                                 void (**function)(void)) {
  return Guard([&] {
    if (context == nullptr) RaiseBadArgument(u"context is NULL");
    if (function == nullptr) RaiseBadArgument(u"function is NULL");
    quorvel::Object* target = quorvel::c_api::ObjectOf(object);
    const quorvel::c_api::Client* client = nullptr;
    if (auto* sort = dynamic_cast<quorvel::c_api::CSortCallback*>(target)) {
      client = &sort->client();
    } else if (auto* filter =
                   dynamic_cast<quorvel::c_api::CFilterCallback*>(target)) {
      client = &filter->client();
    } else {
      quorvel::RaiseStandard(quorvel::kErrTypeMismatch);
    }
    *context = client->context;
    *function = client->function;
  });
}

}  // extern "C"
