#include "quorvel/dispatch.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_util.h"

namespace quorvel {
namespace {

// A class whose table exercises every shape of parameter the binder knows.
class Probe final : public Object {
 public:
  static Ref<Probe> Create() { return Ref<Probe>(new Probe); }
  const ClassInfo& Class() const override {
    static const ClassInfo info =
        ClassBuilder<Probe>(u"Probe")
            .Method<&Probe::Sum>(u"Sum", {u"A", Opt(u"B", Value(10))})
            .Method<&Probe::Kinds>(u"Kinds",
                                   {u"L", u"S", u"D", u"F", u"I", u"Y"})
            .Method<&Probe::Echo>(u"Echo", {Opt(u"V")})
            .Method<&Probe::Tail>(u"Tail", {u"First", u"Rest"})
            .Method<&Probe::Typed>(u"Typed", {Opt(u"N"), Opt(u"S")})
            .Method<&Probe::Take>(u"Take", {u"Other"})
            .Method<&Probe::Touch>(u"Touch")
            .Get<&Probe::Item>(u"Item", {u"Index"})
            .Let<&Probe::LetItem>(u"Item", {u"Index", u"NewValue"})
            .Set<&Probe::SetItem>(u"Item", {u"Index", u"NewValue"})
            .Get<&Probe::Count>(u"Count")
            .Default(u"Item")
            .Build();
    return info;
  }

  int32_t Sum(int32_t A, int32_t B) { return A + B; }
  String Kinds(int32_t L, const String& S, double D, bool F, int16_t I,
               uint8_t Y) {
    return String(ToText(Value(L)).str() + u"|" + S.str() + u"|" +
                  ToText(Value(D)).str() + u"|" + (F ? u"T" : u"F") + u"|" +
                  ToText(Value(I)).str() + u"|" + ToText(Value::Byte(Y)).str());
  }
  Value Echo(const Value& V) { return V; }
  int32_t Tail(const Value& First, std::span<const Value> Rest) {
    seen_first = First;
    return static_cast<int32_t>(Rest.size());
  }
  String Typed(int32_t N, std::u16string_view S) {
    return String(ToText(Value(N)).str() + u"/" + std::u16string(S));
  }
  bool Take(const Ref<Probe>& Other) { return Other.get() == this; }
  void Touch() { ++touched; }
  Value Item(int32_t Index) { return Value(Index * 2); }
  void LetItem(int32_t Index, const Value& NewValue) {
    last_let = Index;
    stored = NewValue;
  }
  void SetItem(int32_t Index, const Value& NewValue) {
    last_set = Index;
    stored = NewValue;
  }
  int32_t Count() const { return 42; }

  Value seen_first;
  Value stored;
  int32_t touched = 0;
  int32_t last_let = -1;
  int32_t last_set = -1;
};

TEST(DispatchTest, NamesMatchInAnyCaseAndGetAndMethodBothRead) {
  Ref<Probe> p = Probe::Create();
  Value obj(p);
  EXPECT_EQ(ToLong(CallByName(obj, u"count", CallType::Get)), 42);
  EXPECT_EQ(ToLong(CallByName(obj, u"COUNT", CallType::Method)), 42);
  EXPECT_EQ(
      ToLong(CallByName(obj, u"Sum", CallType::Get, {Value(1), Value(2)})), 3);
  EXPECT_EQ(ToLong(CallByName(obj, u"", CallType::Get, {Value(4)})), 8);
  CallByName(obj, u"touch", CallType::Method);
  EXPECT_EQ(p->touched, 1);
  EXPECT_TRUE(CallByName(obj, u"Touch", CallType::Method).IsEmpty());
}

TEST(DispatchTest, ArgumentsConvertToDeclaredTypes) {
  Value obj(Probe::Create());
  Value r = CallByName(obj, u"Kinds", CallType::Method,
                       {Value(u"2.5"), Value(7), Value(u"1.25"), Value(1),
                        Value(3.5), Value(u"255")});
  EXPECT_EQ(ToUtf8(ToText(r)), "2|7|1.25|T|4|255");
  ExpectRaisesStandard(
      CallByName(obj, u"Sum", CallType::Method, {Value(u"abc"), Value(1)}),
      kErrTypeMismatch);
  ExpectRaisesStandard(
      CallByName(obj, u"Sum", CallType::Method, {Value::Null(), Value(1)}),
      kErrInvalidUseOfNull);
  ExpectRaisesStandard(
      CallByName(obj, u"Sum", CallType::Method, {MakeArray({}), Value(1)}),
      kErrTypeMismatch);
  ExpectRaisesStandard(CallByName(obj, u"Kinds", CallType::Method,
                                  {Value(1), Value(u"s"), Value(1), Value(1),
                                   Value(40000), Value(1)}),
                       kErrOverflow);
  ExpectRaisesStandard(CallByName(obj, u"Kinds", CallType::Method,
                                  {Value(1), Value(u"s"), Value(1), Value(1),
                                   Value(1), Value(256)}),
                       kErrOverflow);
  // An object argument to a typed parameter is read for its default value.
  ExpectRaisesStandard(
      CallByName(obj, u"Sum", CallType::Method, {obj, Value(1)}),
      kErrWrongArgumentCount);
}

TEST(DispatchTest, OmittedArgumentsGetDefaultsOrMissing) {
  Value obj(Probe::Create());
  EXPECT_EQ(ToLong(CallByName(obj, u"Sum", CallType::Method, {Value(1)})), 11);
  EXPECT_EQ(ToLong(CallByName(obj, u"Sum", CallType::Method,
                              {Value(1), Value::Missing()})),
            11);
  EXPECT_TRUE(CallByName(obj, u"Echo", CallType::Method).IsMissing());
  EXPECT_TRUE(CallByName(obj, u"Echo", CallType::Method, {Value::Missing()})
                  .IsMissing());
  EXPECT_TRUE(CallByName(obj, u"Echo", CallType::Method, {Value()}).IsEmpty());
  // Typed optional parameters without a declared default get their zero.
  EXPECT_EQ(ToUtf8(ToText(CallByName(obj, u"Typed", CallType::Method))), "0/");
  EXPECT_EQ(ToUtf8(ToText(CallByName(obj, u"Typed", CallType::Method,
                                     {Value::Missing(), Value(u"x")}))),
            "0/x");
}

TEST(DispatchTest, ArgumentCountAndMissingRequiredArguments) {
  Value obj(Probe::Create());
  ExpectRaisesStandard(CallByName(obj, u"Sum", CallType::Method),
                       kErrWrongArgumentCount);
  ExpectRaisesStandard(
      CallByName(obj, u"Sum", CallType::Method, {Value(1), Value(2), Value(3)}),
      kErrWrongArgumentCount);
  ExpectRaisesStandard(CallByName(obj, u"Count", CallType::Get, {Value(1)}),
                       kErrWrongArgumentCount);
  ExpectRaisesStandard(
      CallByName(obj, u"Sum", CallType::Method, {Value::Missing(), Value(2)}),
      kErrArgumentNotOptional);
  // The default member needs an index: value assignment fails with 450.
  ExpectRaisesStandard(LetValue(obj), kErrWrongArgumentCount);
  ExpectRaisesStandard(CallByName(obj, u"Item", CallType::Let),
                       kErrWrongArgumentCount);
  ExpectRaisesStandard(CallByName(obj, u"Item", CallType::Let, {Value(1)}),
                       kErrWrongArgumentCount);
}

TEST(DispatchTest, VariableArgumentLists) {
  Ref<Probe> p = Probe::Create();
  Value obj(p);
  EXPECT_EQ(ToLong(CallByName(obj, u"Tail", CallType::Method, {Value(1)})), 0);
  EXPECT_EQ(ToLong(CallByName(obj, u"Tail", CallType::Method,
                              {Value(1), Value(2), Value(u"x"), Value()})),
            3);
  EXPECT_EQ(ToLong(p->seen_first), 1);
  std::vector<Value> many(40, Value(5));
  EXPECT_EQ(ToLong(CallByName(obj, u"Tail", CallType::Method,
                              std::span<Value>(many))),
            39);
}

TEST(DispatchTest, PropertyWritesTakeTheNewValueLast) {
  Ref<Probe> p = Probe::Create();
  Value obj(p);
  CallByName(obj, u"Item", CallType::Let, {Value(u"3"), Value(u"new")});
  EXPECT_EQ(p->last_let, 3);
  EXPECT_EQ(ToUtf8(ToText(p->stored)), "new");
  Value other(Probe::Create());
  CallByName(obj, u"item", CallType::Set, {Value(4), other});
  EXPECT_EQ(p->last_set, 4);
  EXPECT_EQ(p->stored.object(), other.object());
  // A read-only property has no write.
  ExpectRaisesStandard(CallByName(obj, u"Count", CallType::Let, {Value(1)}),
                       kErrNoSuchMember);
  ExpectRaisesStandard(CallByName(obj, u"Sum", CallType::Set, {Value(1)}),
                       kErrNoSuchMember);
}

TEST(DispatchTest, ArgumentsPassedByReferenceStayUnchanged) {
  Value obj(Probe::Create());
  std::vector<Value> args = {Value(u"7"), Value(2.5)};
  EXPECT_EQ(
      ToLong(CallByName(obj, u"Sum", CallType::Method, std::span<Value>(args))),
      9);
  EXPECT_TRUE(args[0].IsString());
  EXPECT_EQ(args[0].string_view(), u"7");
  EXPECT_EQ(args[1].kind(), Kind::Double);
  EXPECT_EQ(args[1].double_value(), 2.5);
}

TEST(DispatchTest, ObjectParameters) {
  Ref<Probe> p = Probe::Create();
  Value obj(p);
  EXPECT_TRUE(ToBoolean(CallByName(obj, u"Take", CallType::Method, {obj})));
  EXPECT_FALSE(ToBoolean(
      CallByName(obj, u"Take", CallType::Method, {Value::Nothing()})));
  ExpectRaisesStandard(CallByName(obj, u"Take", CallType::Method, {Value(1)}),
                       kErrTypeMismatch);
  ExpectRaisesStandard(
      CallByName(obj, u"Take", CallType::Method, {CreateObject(u"Collection")}),
      kErrTypeMismatch);
}

TEST(DispatchTest, CallsOnNothingOrNonObjectsAndUnknownMembers) {
  Value obj(Probe::Create());
  ExpectRaisesStandard(CallByName(Value::Nothing(), u"Count", CallType::Get),
                       kErrObjectNotSet);
  ExpectRaisesStandard(CallByName(Value(5), u"Count", CallType::Get),
                       kErrObjectRequired);
  ExpectRaises(CallByName(obj, u"Nope", CallType::Method), 438, u"KxQuorvel",
               u"Object doesn't support this property or method");
  ExpectRaisesStandard(CallByName(obj, u"Coun", CallType::Get),
                       kErrNoSuchMember);
}

TEST(DispatchTest, ValueAssignmentOfObjects) {
  ExpectRaisesStandard(LetValue(Value::Nothing()), kErrObjectNotSet);
  ExpectRaisesStandard(LetValue(CreateObject(u"CDict")),
                       kErrWrongArgumentCount);
  ExpectRaisesStandard(LetValue(CreateObject(u"Scripting.Dictionary")),
                       kErrWrongArgumentCount);
  ExpectRaisesStandard(LetValue(CreateObject(u"Collection")),
                       kErrWrongArgumentCount);
  // Conversions read the default value too, so they fail the same way.
  ExpectRaisesStandard(ToText(CreateObject(u"CDict")), kErrWrongArgumentCount);
  EXPECT_EQ(LetValue(Value(u"x")).string_view(), u"x");
}

TEST(DispatchTest, CreateObjectByName) {
  for (std::u16string_view name :
       {u"CDict", u"cdict", u"KxQuorvel.CDict", u"kxquorvel.CDICT"}) {
    Value v = CreateObject(name);
    EXPECT_EQ(TypeName(v), u"CDict") << ToUtf8(name);
  }
  EXPECT_EQ(TypeName(CreateObject(u"Scripting.Dictionary")), u"Dictionary");
  EXPECT_EQ(TypeName(CreateObject(u"scripting.dictionary")), u"Dictionary");
  EXPECT_EQ(TypeName(CreateObject(u"Collection")), u"Collection");
  for (std::u16string_view name :
       {u"", u"KxQuorvel.", u"NoSuchClass", u"KxQuorvel.Nope", u"CDictx"}) {
    ExpectRaises(CreateObject(name), 429, u"KxQuorvel",
                 u"ActiveX component can't create object");
    EXPECT_EQ(FindObjectMaker(name), nullptr) << ToUtf8(name);
  }
  // A maker found once makes what CreateObject makes, a new object each time.
  const ObjectMaker make = FindObjectMaker(u"kxquorvel.kxdocrec");
  ASSERT_NE(make, nullptr);
  const Ref<Object> made = make();
  EXPECT_EQ(made->TypeName(), u"KxDocRec");
  EXPECT_NE(make().get(), made.get());
  // Each creation is a new, empty object.
  Value a = CreateObject(u"CDict");
  Value b = CreateObject(u"CDict");
  EXPECT_NE(a.object(), b.object());
}

// A method whose variable list is followed by another parameter, which no
// ClassBuilder can declare.
void TableWithListBeforeLast() {
  ParamInfo list;
  list.name = u"Rest";
  list.is_param_array = true;
  ParamInfo last;
  last.name = u"Last";
  MemberInfo m{u"Gap", MemberKind::Method, {list, last}, nullptr};
  ClassInfo(u"Bad", {m}, u"");
}

// A table that breaks the binder's rules stops the process when it is built,
// before any call can read past its parameters: a write needs its new value
// as a required last parameter, and a variable list comes last.
TEST(DispatchDeathTest, MalformedMemberTablesAreRefused) {
  EXPECT_DEATH(
      ClassBuilder<Probe>(u"Bad").Let<&Probe::Touch>(u"Touch", {}).Build(),
      "member table of Bad is wrong at Touch");
  EXPECT_DEATH(
      ClassBuilder<Probe>(u"Bad").Set<&Probe::Touch>(u"Touch", {}).Build(),
      "member table of Bad is wrong at Touch");
  EXPECT_DEATH(ClassBuilder<Probe>(u"Bad")
                   .Let<&Probe::Echo>(u"Echo", {Opt(u"V")})
                   .Build(),
               "member table of Bad is wrong at Echo");
  EXPECT_DEATH(ClassBuilder<Probe>(u"Bad")
                   .Let<&Probe::Tail>(u"Tail", {u"First", u"Rest"})
                   .Build(),
               "member table of Bad is wrong at Tail");
  EXPECT_DEATH(TableWithListBeforeLast(),
               "member table of Bad is wrong at Gap");
  EXPECT_DEATH(ClassBuilder<Probe>(u"Bad")
                   .Method<&Probe::Touch>(u"Touch")
                   .Default(u"Item")
                   .Build(),
               "member table of Bad is wrong at Item");
}

TEST(DispatchTest, MemberMayDropTheCallersLastReference) {
  // The binder keeps the object alive across a member that drops the
  // caller's reference to it.
  Value dict = CreateObject(u"CDict");
  Value holder = CreateObject(u"CDict");
  CallByName(holder, u"Item", CallType::Set, {Value(u"self"), holder});
  Value inner = CallByName(holder, u"Item", CallType::Get, {Value(u"self")});
  EXPECT_EQ(inner.object(), holder.object());
  holder = Value();
  CallByName(inner, u"Clear", CallType::Method);
  EXPECT_EQ(inner.object()->RefCount(), 1);
}

}  // namespace
}  // namespace quorvel
