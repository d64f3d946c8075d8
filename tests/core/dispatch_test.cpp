#include "quorvel/dispatch.h"

#include <gtest/gtest.h>

#include <string>
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
            .Method<&Probe::Narrow>(u"Narrow", {u"I", u"Y"})
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
  int32_t Narrow(int16_t I, uint8_t Y) { return I * 1000 + Y; }
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
    last_write = u"let " + ToText(Value(Index)).str();
    stored = NewValue;
  }
  void SetItem(int32_t Index, const Value& NewValue) {
    last_write = u"set " + ToText(Value(Index)).str();
    stored = NewValue;
  }
  int32_t Count() const { return 42; }

  Value seen_first;
  Value stored;
  int32_t touched = 0;
  std::u16string last_write;
};

// What a call gave: Empty, Missing and objects by name, else the text.
std::string Described(const Value& v) {
  if (v.IsEmpty()) return "(Empty)";
  if (v.IsMissing()) return "(Missing)";
  return ToUtf8(ToText(v));
}

// "#N": the call raises N.
TEST(DispatchTest, CallsBindTheirArguments) {
  const Ref<Probe> p = Probe::Create();
  const Value obj(p);
  const Value m = Value::Missing(), coll = CreateObject(u"Collection");
  const Value none = Value::Nothing(), null = Value::Null();
  const std::vector<Value> no, forty(40, Value(5));
  using enum CallType;
  using V = Value;
  const struct {
    std::u16string_view name;
    CallType type;
    std::vector<Value> args;
    std::string result;
  } calls[] = {
      {u"", Get, {V(40)}, "80"},        {u"Take", Method, {V(1)}, "#13"},
      {u"count", Get, no, "42"},        {u"Sum", Get, {V(1), V(2)}, "3"},
      {u"Coun", Get, no, "#438"},       {u"Take", Method, {obj}, "True"},
      {u"Typed", Method, no, "0/"},     {u"touch", Method, no, "(Empty)"},
      {u"Sum", Method, no, "#450"},     {u"Echo", Method, no, "(Missing)"},
      {u"Sum", Set, {V(1)}, "#438"},    {u"Take", Method, {none}, "False"},
      {u"Sum", Method, {V(1)}, "11"},   {u"Sum", Method, {V(1), m}, "11"},
      {u"Item", Let, {V(1)}, "#450"},   {u"Sum", Method, {m, V(2)}, "#449"},
      {u"Tail", Method, {V(1)}, "0"},   {u"Sum", Method, {m, m, m}, "#450"},
      {u"Tail", Method, forty, "39"},   {u"Typed", Method, {m, V(1)}, "0/1"},
      {u"Take", Method, {coll}, "#13"}, {u"Sum", Method, {null, V(1)}, "#94"}};
  for (const auto& c : calls) {
    SCOPED_TRACE(ToUtf8(c.name) + " " + c.result);
    std::vector<Value> args = c.args;
    if (c.result[0] == '#') {
      ExpectRaisesStandard(CallByName(obj, c.name, c.type, std::span(args)),
                           std::stoi(c.result.substr(1)));
    } else {
      EXPECT_EQ(Described(CallByName(obj, c.name, c.type, std::span(args))),
                c.result);
    }
  }
  EXPECT_EQ(p->touched, 1);
  EXPECT_EQ(ToLong(CallByName(obj, u"Tail", Method, {V(1), V(2), V(3)})), 2);
  EXPECT_EQ(ToLong(p->seen_first), 1);
  // Types that no library member takes, converted with their own ranges.
  EXPECT_EQ(ToLong(CallByName(obj, u"Narrow", Method, {V(3.5), V(u"255")})),
            4255);
  ExpectRaisesStandard(CallByName(obj, u"Narrow", Method, {V(40000), V(1)}),
                       kErrOverflow);
  ExpectRaisesStandard(CallByName(obj, u"Narrow", Method, {V(1), V(256)}),
                       kErrOverflow);

  // Arguments passed by reference are left as they were.
  std::vector<Value> args = {V(u"7"), V(2.5)};
  EXPECT_EQ(ToLong(CallByName(obj, u"Sum", Method, std::span(args))), 9);
  EXPECT_EQ(args[0].string_view(), u"7");
  EXPECT_EQ(args[1].kind(), Kind::Double);
  EXPECT_EQ(args[1].double_value(), 2.5);

  // Property writes take the new value last.
  CallByName(obj, u"Item", Let, {V(u"3"), V(u"new")});
  EXPECT_EQ(p->last_write, u"let 3");
  EXPECT_EQ(ToUtf8(ToText(p->stored)), "new");
  const Value other(Probe::Create());
  CallByName(obj, u"item", Set, {V(4), other});
  EXPECT_EQ(p->last_write, u"set 4");
  EXPECT_EQ(p->stored.object(), other.object());

  ExpectRaisesStandard(CallByName(Value::Nothing(), u"Count", Get),
                       kErrObjectNotSet);
  ExpectRaisesStandard(CallByName(V(5), u"Count", Get), kErrObjectRequired);
}

// Value assignment reads the default member, which needs an index here.
TEST(DispatchTest, ValueAssignmentOfObjects) {
  ExpectRaisesStandard(LetValue(Value::Nothing()), kErrObjectNotSet);
  ExpectRaisesStandard(LetValue(Value(Probe::Create())),
                       kErrWrongArgumentCount);
  EXPECT_EQ(LetValue(Value(u"x")).string_view(), u"x");

  // The binder keeps alive an object whose member drops the last reference.
  Value holder = CreateObject(u"CDict");
  CallByName(holder, u"Item", CallType::Set, {Value(u"self"), holder});
  Value inner = CallByName(holder, u"Item", CallType::Get, {Value(u"self")});
  EXPECT_EQ(inner.object(), holder.object());
  holder = Value();
  CallByName(inner, u"Clear", CallType::Method);
  EXPECT_EQ(inner.object()->RefCount(), 1);
}

TEST(DispatchTest, CreateObjectByName) {
  EXPECT_EQ(TypeName(CreateObject(u"kxquorvel.CDICT")), u"CDict");
  EXPECT_EQ(TypeName(CreateObject(u"scripting.dictionary")), u"Dictionary");
  for (std::u16string_view name : {u"", u"KxQuorvel.", u"CDictx"}) {
    ExpectRaisesStandard(CreateObject(name), kErrCantCreateObject);
  }
  // A maker found once makes what CreateObject makes, a new object each time.
  const ObjectMaker make = FindObjectMaker(u"kxquorvel.kxdocrec");
  ASSERT_NE(make, nullptr);
  const Ref<Object> made = make();
  EXPECT_EQ(made->TypeName(), u"KxDocRec");
  EXPECT_NE(make().get(), made.get());
}

// A table that breaks the binder's rules stops the process when built.
TEST(DispatchDeathTest, MalformedMemberTablesAreRefused) {
  EXPECT_DEATH(
      ClassBuilder<Probe>(u"Bad").Let<&Probe::Touch>(u"Touch", {}).Build(),
      "member table of Bad is wrong at Touch");
  EXPECT_DEATH(ClassBuilder<Probe>(u"Bad")
                   .Method<&Probe::Touch>(u"Touch")
                   .Default(u"Item")
                   .Build(),
               "member table of Bad is wrong at Item");
}

}  // namespace
}  // namespace quorvel
