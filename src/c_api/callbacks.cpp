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

// The client's side of a callback object: its function, its context and
// how to let go of the context, which happens when the object goes.
class Client {
 public:
  Client(void (*function)(void), void* context, quorvel_release_fn release,
         bool utf16)
      : function_(function),
        context_(context),
        release_(release),
        utf16_(utf16) {}
  ~Client() {
    if (release_ != nullptr) release_(context_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  void (*function() const)(void) { return function_; }
  void* context() const { return context_; }

  // Hands `value` to `call` as a variant; raises what the call reports.
  template <class Call>
  void Run(const Value& value, Call&& call) const {
    CallbackDepth depth;
    ScopedVariant in;
    ToVariant(value, utf16_, &in.v);
    const int32_t status = call(&in.v);
    if (status != 0) RaiseReported(status);
  }

 private:
  void (*function_)(void);
  void* context_;
  quorvel_release_fn release_;
  bool utf16_;
};

class CSortCallback final : public ISortCallback {
 public:
  CSortCallback(quorvel_apply_fn apply, void* context,
                quorvel_release_fn release, bool utf16)
      : apply_(apply),
        client_(reinterpret_cast<void (*)(void)>(apply), context, release,
                utf16) {}
  const Client& client() const { return client_; }

  Value Apply(const Value& value) override {
    ScopedVariant out;
    client_.Run(value, [&](const quorvel_variant* in) {
      return apply_(client_.context(), in, &out.v);
    });
    return FromVariant(out.v);
  }

 private:
  quorvel_apply_fn apply_;
  Client client_;
};

class CFilterCallback final : public IFilterCallback {
 public:
  CFilterCallback(quorvel_test_fn test, void* context,
                  quorvel_release_fn release, bool utf16)
      : test_(test),
        client_(reinterpret_cast<void (*)(void)>(test), context, release,
                utf16) {}
  const Client& client() const { return client_; }

  bool Test(const Value& value) override {
    int32_t keep = 0;
    client_.Run(value, [&](const quorvel_variant* in) {
      return test_(client_.context(), in, &keep);
    });
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
    Ref<Callback> callback = MakeRef<Callback>(function, context, release,
                                               (flags & QUORVEL_UTF16) != 0);
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
    if (target == nullptr) quorvel::RaiseStandard(quorvel::kErrObjectNotSet);
    const quorvel::c_api::Client* client = nullptr;
    if (auto* sort = dynamic_cast<quorvel::c_api::CSortCallback*>(target)) {
      client = &sort->client();
    } else if (auto* filter =
                   dynamic_cast<quorvel::c_api::CFilterCallback*>(target)) {
      client = &filter->client();
    } else {
      quorvel::RaiseStandard(quorvel::kErrTypeMismatch);
    }
    *context = client->context();
    *function = client->function();
  });
}

}  // extern "C"
