#include <gtest/gtest.h>

#include "quorvel/json.h"
#include "test_util.h"

namespace quorvel {
namespace {

std::string Written(const Value& v) {
  return testing::U8(JSON::WriteJSON(v).view());
}

Value NewList(std::initializer_list<Value> items) {
  Value list = CreateObject(u"CArray");
  for (const Value& item : items)
    CallByName(list, u"Add", CallType::Method, {item});
  return list;
}

TEST(JSONWriterTest, ContainersAndScalars) {
  Value dict = CreateObject(u"Scripting.Dictionary");
  CallByName(dict, u"Add", CallType::Method, {Value(u"a"), Value(u"x")});
  CallByName(
      dict, u"Add", CallType::Method,
      {Value(u"b"), NewList({Value(int16_t{1}), Value(true), Value::Null()})});
  CallByName(dict, u"Add", CallType::Method, {Value(u"c"), Value()});
  EXPECT_EQ(Written(dict), R"({"a":"x","b":[1,true,null],"c":""})");
  EXPECT_EQ(Written(CreateObject(u"Dictionary")), "{}");
  EXPECT_EQ(Written(CreateObject(u"CArray")), "[]");
  EXPECT_EQ(Written(Value::Nothing()), "null");

  // 31 January 2024, 14:30: the day only.
  Value scalars = NewList(
      {Value::Date(45322.6041666667), Value::Decimal(*Decimal::Parse(u"1.5")),
       Value(1234567), Value(2.5), Value(float{0.1f}), Value::Currency(12345),
       Value::Byte(255), Value(false),
       Value::Decimal(*Decimal::Parse(u"-0.050")),
       Value::Decimal(*Decimal::Parse(u"79228162514264337593543950335"))});
  EXPECT_EQ(Written(scalars),
            R"(["2024-01-31",1.5,1234567,2.5,0.1,1.2345,255,false,-0.05,)"
            R"(79228162514264337593543950335])");
  // A zero that kept a scale from its text is written as 0.
  EXPECT_EQ(Written(JSON::Parse(u"[1e-099, 0.000, -0.0]")), "[0,0,0]");
  // A date that rounds to the next midnight is that next day.
  EXPECT_EQ(Written(NewList({Value::Date(45322.999999999)})),
            R"(["2024-02-01"])");

  Value collection = CreateObject(u"Collection");
  CallByName(collection, u"Add", CallType::Method, {Value(u"p")});
  CallByName(collection, u"Add", CallType::Method, {Value(7)});
  Value outer = CreateObject(u"Dictionary");
  CallByName(outer, u"Add", CallType::Method, {Value(u"k\"ey"), collection});
  // Keys go out unescaped, even when that is no longer valid JSON.
  EXPECT_EQ(Written(outer), R"({"k"ey":["p",7]})");
}

TEST(JSONWriterTest, EscapesWithTheSevenShortFormsAndUpperCaseHex) {
  std::u16string text = u"\"\\\n\t\u00e9/\u007f\u0001\b\f\r~ \U0001F600";
  EXPECT_EQ(Written(NewList({Value(text)})),
            R"(["\"\\\n\t\u00E9/\u007F\u0001\b\f\r~ \uD83D\uDE00"])");
  // Round trip through the reader.
  Value back = JSON::Parse(JSON::WriteJSON(NewList({Value(text)})));
  EXPECT_EQ(ToText(CallByName(back, u"Item", CallType::Get, {Value(0)})).str(),
            text);
}

TEST(JSONWriterTest, ContainersChangedByClientCodeMidWayStaySound) {
  Ref<Dictionary> root = testing::RootWithAChangingList();
  const std::string text = Written(Value(root));
  // The list as it was read, then the live entries from where the walk
  // stood in the map as it is now; the text stays well formed.
  EXPECT_EQ(text.substr(0, 16), "{\"list\":[[7],1],");
  EXPECT_EQ(root->Count(), 201);
  Value back = JSON::Parse(FromUtf8(text));
  ASSERT_NE(back.object_as<Dictionary>(), nullptr);
  EXPECT_GE(back.object_as<Dictionary>()->Count(), 2);
}

TEST(JSONWriterTest, UnsupportedObjectsAndCycles) {
  const std::u16string kCDict =
      u"Object Type 'CDict' not supported for json convesion";
  ExpectRaises(JSON::WriteJSON(CreateObject(u"CDict")), -2147220503,
               u"KxQuorvel", kCDict);
  Value dict = CreateObject(u"Dictionary");
  CallByName(dict, u"Add", CallType::Method,
             {Value(u"x"), NewList({CreateObject(u"CDict")})});
  ExpectRaises(JSON::WriteJSON(dict), -2147220503, u"KxQuorvel", kCDict);
  ExpectRaises(JSON::WriteJSON(CreateObject(u"CStack")), -2147220503,
               u"KxQuorvel",
               u"Object Type 'CStack' not supported for json convesion");

  Value self = CreateObject(u"CArray");
  CallByName(self, u"Add", CallType::Method, {self});
  ExpectRaisesStandard(JSON::WriteJSON(self), 28);
  CallByName(self, u"Clear", CallType::Method);  // break the cycle
}

TEST(JSONWriterTest, ArraysOfValuesSwallowFailingElements) {
  Value list = CreateObject(u"CArray");
  CallByName(
      list, u"Add", CallType::Method,
      {MakeArray({Value(int16_t{1}), Value(u"a"), CreateObject(u"CDict")})});
  EXPECT_EQ(Written(list), R"([[1,"a",]])");
  CallByName(list, u"Item", CallType::Let, {Value(0), MakeArray({})});
  EXPECT_EQ(Written(list), "[[]]");

  SafeArray grid(Kind::Variant, std::vector<SafeArray::Bound>{{0, 2}, {0, 3}});
  for (int32_t r = 0; r < 2; ++r)
    for (int32_t c = 0; c < 3; ++c) {
      std::vector<int32_t> at{r, c};
      grid.Put(grid.FlatIndex(at), Value(int16_t(r * 3 + c + 1)));
    }
  CallByName(list, u"Item", CallType::Let, {Value(0), Value(std::move(grid))});
  EXPECT_EQ(Written(list), "[[[1,2,3],[4,5,6]]]");

  CallByName(list, u"Item", CallType::Let,
             {Value(0), MakeByteArray(std::vector<uint8_t>{1, 2})});
  ExpectRaisesStandard(JSON::WriteJSON(list), 13);
}

}  // namespace
}  // namespace quorvel
