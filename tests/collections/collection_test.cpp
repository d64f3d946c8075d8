#include "quorvel/collection.h"

#include <gtest/gtest.h>

#include "quorvel/enumerator.h"
#include "test_util.h"

namespace quorvel {
namespace {

std::u16string Joined(const Value& c) {
  std::u16string out;
  ForEachElement(c, [&](const Value& v) { out += ToText(v).view(); });
  return out;
}

TEST(CollectionTest, PositionsFromOneAndError9Outside) {
  Value c = CreateObject(u"Collection");
  auto add = [&](std::initializer_list<Value> args) {
    CallByName(c, u"Add", CallType::Method, args);
  };
  add({Value(u"b")});
  add({Value(u"d")});
  add({Value(u"a"), Value::Missing(), Value(1)});  // before position 1
  add({Value(u"c"), Value::Missing(), Value::Missing(), Value(2)});  // after 2
  EXPECT_EQ(Joined(c), u"abcd");
  EXPECT_EQ(ToLong(CallByName(c, u"Count", CallType::Get)), 4);
  EXPECT_EQ(CallByName(c, u"Item", CallType::Method, {Value(4)}).string_view(),
            u"d");
  EXPECT_EQ(CallByName(c, u"", CallType::Get, {Value(1.0)}).string_view(),
            u"a");
  for (int bad : {0, 5, -1}) {
    ExpectRaises(CallByName(c, u"Item", CallType::Method, {Value(bad)}), 9,
                 u"KxQuorvel", u"Subscript out of range");
    ExpectRaisesStandard(
        CallByName(c, u"Remove", CallType::Method, {Value(bad)}),
        kErrSubscript);
    ExpectRaisesStandard(add({Value(u"x"), Value::Missing(), Value(bad)}),
                         kErrSubscript);
  }
  EXPECT_EQ(Joined(c), u"abcd");  // nothing changed by the failures
  ExpectRaisesStandard(add({Value(u"x"), Value::Missing(), Value(1), Value(1)}),
                       kErrInvalidCall);
  CallByName(c, u"Remove", CallType::Method, {Value(1)});
  CallByName(c, u"Remove", CallType::Method, {Value(3)});
  EXPECT_EQ(Joined(c), u"bc");
}

TEST(CollectionTest, KeysIgnoreCase) {
  Value c = CreateObject(u"Collection");
  CallByName(c, u"Add", CallType::Method, {Value(1), Value(u"One")});
  CallByName(c, u"Add", CallType::Method, {Value(3), Value(u"three")});
  CallByName(c, u"Add", CallType::Method,
             {Value(2), Value(u"two"), Value(u"THREE")});
  EXPECT_EQ(Joined(c), u"123");
  EXPECT_EQ(ToLong(CallByName(c, u"Item", CallType::Method, {Value(u"ONE")})),
            1);
  ExpectRaisesStandard(
      CallByName(c, u"Add", CallType::Method, {Value(4), Value(u"one")}),
      kErrKeyExists);
  ExpectRaisesStandard(
      CallByName(c, u"Item", CallType::Method, {Value(u"four")}),
      kErrInvalidCall);
  ExpectRaisesStandard(
      CallByName(c, u"Add", CallType::Method, {Value(4), Value(4)}),
      kErrTypeMismatch);
  CallByName(c, u"Remove", CallType::Method, {Value(u"two")});
  EXPECT_EQ(Joined(c), u"13");
}

TEST(CollectionTest, StoresObjectsAsReferencesAndArraysAsCopies) {
  Ref<Collection> c = Collection::Create();
  Value obj = CreateObject(u"CDict");
  Value arr = MakeArray({Value(1)});
  c->Append(obj);
  c->Append(arr);
  arr.array().Put(0, Value(2));
  EXPECT_EQ(c->At(1).object(), obj.object());
  EXPECT_EQ(ToLong(ArrayItem(c->At(2), 0)), 1);
  ExpectRaisesStandard(LetValue(Value(c)), kErrWrongArgumentCount);
  int n = 0;
  for (const Value& v : *c) n += v.IsObject() ? 1 : 10;
  EXPECT_EQ(n, 11);
}

TEST(EnumeratorTest, WalksByNameAndByCpp) {
  Value c = CreateObject(u"Collection");
  for (int i = 1; i <= 3; ++i)
    CallByName(c, u"Add", CallType::Method, {Value(i)});
  Value e = CallByName(c, u"_NewEnum", CallType::Get);
  EXPECT_EQ(TypeName(e), u"Enumerator");
  ExpectRaisesStandard(CallByName(e, u"Current", CallType::Get),
                       kErrInvalidCall);
  EXPECT_TRUE(ToBoolean(CallByName(e, u"MoveNext", CallType::Method)));
  EXPECT_EQ(ToLong(CallByName(e, u"Current", CallType::Get)), 1);
  Value clone = CallByName(e, u"Clone", CallType::Method);
  EXPECT_TRUE(ToBoolean(CallByName(e, u"Skip", CallType::Method, {Value(2)})));
  EXPECT_FALSE(ToBoolean(CallByName(e, u"MoveNext", CallType::Method)));
  EXPECT_FALSE(ToBoolean(CallByName(e, u"MoveNext", CallType::Method)));
  ExpectRaisesStandard(CallByName(e, u"Current", CallType::Get),
                       kErrInvalidCall);
  EXPECT_TRUE(ToBoolean(CallByName(clone, u"MoveNext", CallType::Method)));
  EXPECT_EQ(ToLong(CallByName(clone, u"Current", CallType::Get)), 2);
  CallByName(e, u"Reset", CallType::Method);
  EXPECT_FALSE(ToBoolean(CallByName(e, u"Skip", CallType::Method, {Value(4)})));
  EXPECT_EQ(Joined(CreateObject(u"Collection")), u"");
}

}  // namespace
}  // namespace quorvel
