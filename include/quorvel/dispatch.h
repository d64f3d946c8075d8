// Late binding: creating classes by name and calling members by name, and
// the member tables that make a class callable that way.
//
// Each class declares its members once, in one table beside the class:
//
//   const ClassInfo& CDict::Class() const {
//     static const ClassInfo info =
//         ClassBuilder<CDict>(u"CDict")
//             .Get<&CDict::Count>(u"Count")
//             .Method<&CDict::Exists>(u"Exists", {u"Key"})
//             .Get<&CDict::Item>(u"Item", {u"Key"})
//             .Let<&CDict::LetItem>(u"Item", {u"Key", u"NewValue"})
//             .Default(u"Item")
//             .Build();
//     return info;
//   }
//
// The binder takes the parameter types from the member function: a Long
// parameter (`int32_t`) receives any Value that converts to Long, a
// `const Value&` receives the argument as it is, a `std::span<const Value>`
// last parameter collects a variable argument list.
#ifndef QUORVEL_DISPATCH_H_
#define QUORVEL_DISPATCH_H_

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "quorvel/convert.h"
#include "quorvel/error.h"
#include "quorvel/object.h"
#include "quorvel/value.h"

namespace quorvel {

enum class CallType { Method = 1, Get = 2, Let = 4, Set = 8 };

// Creates a public class by name, in any letter case, with or without the
// "KxQuorvel." prefix ("Scripting.Dictionary" gives the platform dictionary).
// Raises 429 for a name that names no class.
Value CreateObject(std::u16string_view class_name);

// Returns the function that makes the class `CreateObject` would make for
// `class_name`, or null for a name that names no class: for code that makes
// many objects of a class it knows only by name.
using ObjectMaker = Ref<Object> (*)();
ObjectMaker FindObjectMaker(std::u16string_view class_name);

// Calls the member `proc_name` (any letter case; empty for the default member)
// of `object`. `Value::Missing()` in a position omits that argument; trailing
// optional arguments may be left off; for Let and Set the new value is the
// last argument. Get and Method both read: a property or a function. Raises
// 91 for Nothing, 424 for a Value that holds no object, 438 for a member the
// class does not have, 450 for a wrong number of arguments, 449 for Missing
// in a required position, and what converting an argument raises (13 for an
// argument of the wrong kind). Arguments are never changed.
Value CallByName(const Value& object, std::u16string_view proc_name,
                 CallType call_type, std::span<Value> args);
Value CallByName(const Value& object, std::u16string_view proc_name,
                 CallType call_type, std::initializer_list<Value> args = {});
// The same for arguments the caller cannot hand out as mutable.
Value InvokeByName(const Value& object, std::u16string_view proc_name,
                   CallType call_type, std::span<const Value> args);
// The same for an object the caller holds a reference to (null for
// Nothing), without a Value around it.
Value InvokeByName(Object* object, std::u16string_view proc_name,
                   CallType call_type, std::span<const Value> args);

struct MemberInfo;
// Returns the member `proc_name` (any letter case; empty for the default
// member) of the object's class that answers `call_type`, to be called many
// times without looking it up again. Raises 91 for null and 438 for a
// member the class does not have.
const MemberInfo& FindMember(const Object* object,
                             std::u16string_view proc_name, CallType call_type);
// Calls `member`, which FindMember gave for the class of `object`, as
// InvokeByName would call it by name, for a binding that turns every error
// into a status: what the call raises (438 when `member` is not in the
// table of the object's class) comes back in `error` (the standard library's
// exceptions as InvokeByName raises them), caught beside the member, because
// unwinding through a binding's own frames costs several times the call. The
// caller holds a reference to `object` for the length of the call (the member
// may drop every other). Returns false when the call raised.
bool TryInvokeMember(Object* object, const MemberInfo& member,
                     std::span<const Value> args, Value& result,
                     std::optional<Error>& error) noexcept;

// A parameter as a member table declares it. A plain name is required;
// `Opt(name)` is optional (an omitted Value parameter receives Missing, an
// omitted typed one the zero of its type); `Opt(name, default)` is optional
// with a declared default.
struct Param {
  Param(const char16_t* param_name) : name(param_name) {}      // NOLINT
  Param(std::u16string_view param_name) : name(param_name) {}  // NOLINT
  std::u16string_view name;
  bool optional = false;
  bool has_default = false;
  Value default_value;
};
inline Param Opt(std::u16string_view name) {
  Param p(name);
  p.optional = true;
  return p;
}
inline Param Opt(std::u16string_view name, Value default_value) {
  Param p = Opt(name);
  p.has_default = true;
  p.default_value = std::move(default_value);
  return p;
}

enum class MemberKind : uint8_t { Method, Get, Let, Set };

// One parameter of a member, complete.
struct ParamInfo {
  std::u16string name;
  bool optional = false;
  bool has_default = false;
  bool is_value = false;        // declared as Value: may receive Missing
  bool is_param_array = false;  // the variable argument list, always last
  Value default_value;
};

// Calls the member on `self` with its arguments complete: one per declared
// parameter, then the rest of a variable argument list.
using Invoker = Value (*)(Object& self, const Value* args, size_t count);
// Calls the member as an Invoker does, for a binding that turns errors into
// a status: what the member raises comes back in `error` and the call
// returns false. The handler lies in the frame that calls the member, so an
// error's unwinding crosses no frame of the binder's (each frame costs the
// unwinder about as much again as the throw).
using TryInvoker = bool (*)(Object& self, const Value* args, size_t count,
                            Value& result,
                            std::optional<Error>& error) noexcept;

struct MemberInfo {
  std::u16string name;
  MemberKind kind;
  std::vector<ParamInfo> params;
  Invoker invoke;
  TryInvoker try_invoke;
  int32_t next_same_name = -1;  // chain of the members sharing this name
};

// A class's member table: its name, its members, its default member.
// Immutable once built; shared by every object of the class.
class ClassInfo {
 public:
  ClassInfo() = default;
  ClassInfo(std::u16string name, std::vector<MemberInfo> members,
            std::u16string default_member);

  std::u16string_view name() const { return name_; }
  std::span<const MemberInfo> members() const { return members_; }
  std::u16string_view default_member() const { return default_member_; }
  // Returns the member named `name` (any letter case) that answers
  // `call_type`; null when there is none.
  const MemberInfo* Find(std::u16string_view name, CallType call_type) const;

 private:
  int32_t FirstNamed(std::u16string_view name) const;

  std::u16string name_;
  std::vector<MemberInfo> members_;
  std::u16string default_member_;
  std::vector<int32_t> slots_;  // open addressing over folded names
};

namespace internal {

[[noreturn]] void BadMemberTable(std::u16string_view class_name,
                                 std::u16string_view member);

// How an argument reaches a parameter of type T.
template <class T, class = void>
struct ArgConv;

template <>
struct ArgConv<Value> {
  using Held = const Value&;
  static const Value& From(const Value* a, size_t, size_t i) { return a[i]; }
};
template <>
struct ArgConv<int32_t> {
  using Held = int32_t;
  static int32_t From(const Value* a, size_t, size_t i) { return ToLong(a[i]); }
};
template <>
struct ArgConv<int16_t> {
  using Held = int16_t;
  static int16_t From(const Value* a, size_t, size_t i) {
    return ToInteger(a[i]);
  }
};
template <>
struct ArgConv<uint8_t> {
  using Held = uint8_t;
  static uint8_t From(const Value* a, size_t, size_t i) { return ToByte(a[i]); }
};
template <>
struct ArgConv<double> {
  using Held = double;
  static double From(const Value* a, size_t, size_t i) {
    return ToDouble(a[i]);
  }
};
template <>
struct ArgConv<float> {
  using Held = float;
  static float From(const Value* a, size_t, size_t i) { return ToSingle(a[i]); }
};
template <>
struct ArgConv<bool> {
  using Held = bool;
  static bool From(const Value* a, size_t, size_t i) { return ToBoolean(a[i]); }
};
template <>
struct ArgConv<Decimal> {
  using Held = Decimal;
  static Decimal From(const Value* a, size_t, size_t i) {
    return ToDecimal(a[i]);
  }
};
// A text argument: the caller's own text when the argument is a String,
// lent for the call without taking a count, else the text it converts to.
class TextArgument {
 public:
  explicit TextArgument(const Value& v)
      : text_(v.IsString() ? String::Adopt(v.string_rep()) : ToText(v)),
        lent_(v.IsString()) {}
  ~TextArgument() {
    if (lent_) text_.Release();
  }
  TextArgument(const TextArgument&) = delete;
  TextArgument& operator=(const TextArgument&) = delete;
  operator const String&() const { return text_; }               // NOLINT
  operator std::u16string_view() const { return text_.view(); }  // NOLINT

 private:
  String text_;
  bool lent_;
};

template <>
struct ArgConv<String> {
  using Held = TextArgument;
  static const Value& From(const Value* a, size_t, size_t i) { return a[i]; }
};
template <>
struct ArgConv<std::u16string_view> : ArgConv<String> {};
template <>
struct ArgConv<std::span<const Value>> {
  using Held = std::span<const Value>;
  static std::span<const Value> From(const Value* a, size_t n, size_t i) {
    return {a + i, n - i};
  }
};

// An object parameter takes an object of its class, or Nothing; anything
// else is a type mismatch.
Object* ObjectArgument(const Value& v);
template <class T>
struct ArgConv<Ref<T>> {
  using Held = Ref<T>;
  static Ref<T> From(const Value* a, size_t, size_t i) {
    Object* o = ObjectArgument(a[i]);
    if (o == nullptr) return Ref<T>();
    T* t = dynamic_cast<T*>(o);
    if (t == nullptr) RaiseStandard(kErrTypeMismatch);
    return Ref<T>(t);
  }
};

inline Value ToResult(Value v) { return v; }
inline Value ToResult(int32_t v) { return Value(v); }
inline Value ToResult(int16_t v) { return Value(v); }
inline Value ToResult(uint8_t v) { return Value::Byte(v); }
inline Value ToResult(bool v) { return Value(v); }
inline Value ToResult(double v) { return Value(v); }
inline Value ToResult(float v) { return Value(v); }
inline Value ToResult(Decimal v) { return Value::Decimal(v); }
inline Value ToResult(String v) { return Value(std::move(v)); }
template <class T>
Value ToResult(Ref<T> v) {
  return Value(Ref<Object>(std::move(v)));
}

template <class F>
struct FnTraits;
template <class C, class R, class... A>
struct FnTraits<R (C::*)(A...)> {
  using Class = C;
  using Result = R;
  using Args = std::tuple<std::remove_cvref_t<A>...>;
};
template <class C, class R, class... A>
struct FnTraits<R (C::*)(A...) const> : FnTraits<R (C::*)(A...)> {};
template <class C, class R, class... A>
struct FnTraits<R (C::*)(A...) noexcept> : FnTraits<R (C::*)(A...)> {};
template <class C, class R, class... A>
struct FnTraits<R (C::*)(A...) const noexcept> : FnTraits<R (C::*)(A...)> {};

template <class Owner, auto Fn, class... A, size_t... I>
Value CallMember(Object& self, [[maybe_unused]] const Value* args,
                 [[maybe_unused]] size_t count, std::index_sequence<I...>) {
  using R = typename FnTraits<decltype(Fn)>::Result;
  auto& obj = static_cast<Owner&>(self);
  // Braces convert the arguments left to right, so the first bad one raises.
  std::tuple<typename ArgConv<A>::Held...> held{
      ArgConv<A>::From(args, count, I)...};
  (void)held;
  if constexpr (std::is_void_v<R>) {
    (obj.*Fn)(std::get<I>(held)...);
    return Value();
  } else {
    return ToResult((obj.*Fn)(std::get<I>(held)...));
  }
}

template <class... A>
constexpr bool LastIsParamArray() {
  if constexpr (sizeof...(A) == 0) {
    return false;
  } else {
    return std::is_same_v<
        std::tuple_element_t<sizeof...(A) - 1, std::tuple<A...>>,
        std::span<const Value>>;
  }
}

// Keeps the exception being handled in `error`: an Error as it is, the
// standard library's exceptions as InvokeByName raises them.
void KeepCurrentError(std::optional<Error>& error) noexcept;

template <class Owner, auto Fn, class Tuple>
struct Invoke;
template <class Owner, auto Fn, class... A>
struct Invoke<Owner, Fn, std::tuple<A...>> {
  static Value Call(Object& self, const Value* args, size_t count) {
    return CallMember<Owner, Fn, A...>(self, args, count,
                                       std::index_sequence_for<A...>{});
  }
  static bool TryCall(Object& self, const Value* args, size_t count,
                      Value& result, std::optional<Error>& error) noexcept {
    try {
      result = CallMember<Owner, Fn, A...>(self, args, count,
                                           std::index_sequence_for<A...>{});
      return true;
    } catch (Error& e) {
      error.emplace(std::move(e));
    } catch (...) {
      KeepCurrentError(error);
    }
    return false;
  }
  static constexpr bool kIsValue[] = {std::is_same_v<A, Value>..., false};
  static constexpr bool kLastIsParamArray = LastIsParamArray<A...>();
  static constexpr size_t kCount = sizeof...(A);
};

}  // namespace internal

// Builds the member table of class C.
template <class C>
class ClassBuilder {
 public:
  explicit ClassBuilder(std::u16string_view class_name) : name_(class_name) {}

  // A function or procedure.
  template <auto Fn>
  ClassBuilder& Method(std::u16string_view name,
                       std::initializer_list<Param> params = {}) {
    return Add<Fn>(name, MemberKind::Method, params);
  }
  // A property read.
  template <auto Fn>
  ClassBuilder& Get(std::u16string_view name,
                    std::initializer_list<Param> params = {}) {
    return Add<Fn>(name, MemberKind::Get, params);
  }
  // A property write by value; the last parameter is the new value.
  template <auto Fn>
  ClassBuilder& Let(std::u16string_view name,
                    std::initializer_list<Param> params) {
    return Add<Fn>(name, MemberKind::Let, params);
  }
  // A property write by reference; the last parameter is the new value.
  template <auto Fn>
  ClassBuilder& Set(std::u16string_view name,
                    std::initializer_list<Param> params) {
    return Add<Fn>(name, MemberKind::Set, params);
  }
  ClassBuilder& Default(std::u16string_view member_name) {
    default_member_ = member_name;
    return *this;
  }
  ClassInfo Build() {
    return ClassInfo(std::move(name_), std::move(members_),
                     std::move(default_member_));
  }

 private:
  template <auto Fn>
  ClassBuilder& Add(std::u16string_view name, MemberKind kind,
                    std::initializer_list<Param> params) {
    using Traits = internal::FnTraits<decltype(Fn)>;
    static_assert(std::is_base_of_v<typename Traits::Class, C>,
                  "the member belongs to another class");
    using Inv = internal::Invoke<C, Fn, typename Traits::Args>;
    if (params.size() != Inv::kCount) internal::BadMemberTable(name_, name);
    MemberInfo m;
    m.name = std::u16string(name);
    m.kind = kind;
    m.invoke = &Inv::Call;
    m.try_invoke = &Inv::TryCall;
    size_t i = 0;
    for (const Param& p : params) {
      ParamInfo info;
      info.name = std::u16string(p.name);
      info.optional = p.optional;
      info.has_default = p.has_default;
      info.default_value = p.default_value;
      info.is_value = Inv::kIsValue[i];
      info.is_param_array = Inv::kLastIsParamArray && i + 1 == Inv::kCount;
      m.params.push_back(std::move(info));
      ++i;
    }
    members_.push_back(std::move(m));
    return *this;
  }

  std::u16string name_;
  std::vector<MemberInfo> members_;
  std::u16string default_member_;
};

}  // namespace quorvel

#endif  // QUORVEL_DISPATCH_H_
