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

Value Dec(std::u16string_view text) {
  return Value::Decimal(*Decimal::Parse(text));
}

TEST(JSONWriterTest, EveryKindInItsCompactForm) {
  Value dict = CreateObject(u"Scripting.Dictionary");
  CallByName(dict, u"Add", CallType::Method, {Value(u"a"), Value(u"x")});
  CallByName(
      dict, u"Add", CallType::Method,
      {Value(u"b"), NewList({Value(int16_t{1}), Value(true), Value::Null()})});
  CallByName(dict, u"Add", CallType::Method, {Value(u"c"), Value()});
  Value collection = CreateObject(u"Collection");
  CallByName(collection, u"Add", CallType::Method, {Value(u"p")});
  // Keys go out unescaped, even when that is no longer valid JSON.
  CallByName(dict, u"Add", CallType::Method, {Value(u"k\"ey"), collection});
  SafeArray grid(Kind::Variant, std::vector<SafeArray::Bound>{{0, 2}, {0, 3}});
  for (int32_t r = 0; r < 2; ++r) {
    for (int32_t c = 0; c < 3; ++c) {
      std::vector<int32_t> at{r, c};
      grid.Put(grid.FlatIndex(at), Value(int16_t(r * 3 + c + 1)));
    }
  }
  const struct {
    Value value;
    const char* text;
  } cases[] = {
      {dict, R"({"a":"x","b":[1,true,null],"c":"","k"ey":["p"]})"},
      {CreateObject(u"Dictionary"), "{}"},
      {CreateObject(u"CArray"), "[]"},
      {Value::Nothing(), "null"},
      // 31 January 2024, 14:30: the day only; a date that rounds to the
      // next midnight is that next day.
      {NewList({Value::Date(45322.6041666667), Value::Date(45322.999999999)}),
       R"(["2024-01-31","2024-02-01"])"},
      {NewList({Dec(u"1.5"), Value(1234567), Value(2.5), Value(float{0.1f}),
                Value::Currency(12345), Value::Byte(255), Value(false),
                Dec(u"-0.050"), Dec(u"79228162514264337593543950335")}),
       "[1.5,1234567,2.5,0.1,1.2345,255,false,-0.05,"
       "79228162514264337593543950335]"},
      // A zero that kept a scale from its text is written as 0.
      {JSON::Parse(u"[1e-099, 0.000, -0.0]"), "[0,0,0]"},
      // The seven short escapes; everything else outside ASCII as \u and
      // upper-case hex, a pair as its two halves.
      {NewList({Value(u"\"\\\n\t\u00e9/\u007f\u0001\b\f\r~ \U0001F600")}),
       R"(["\"\\\n\t\u00E9/\u007F\u0001\b\f\r~ \uD83D\uDE00"])"},
      // Arrays of values: a failing element is left out, its comma kept.
      {NewList({MakeArray(
           {Value(int16_t{1}), Value(u"a"), CreateObject(u"CDict")})}),
       R"([[1,"a",]])"},
      {NewList({MakeArray({})}), "[[]]"},
      {NewList({Value(std::move(grid))}), "[[[1,2,3],[4,5,6]]]"},
  };
  for (const auto& c : cases) EXPECT_EQ(Written(c.value), c.text);
  // The reader takes the escapes back.
  const std::u16string text = u"\"\\\n\t\u00e9/\u007f\u0001\b\f\r~ \U0001F600";
  const Value back = JSON::Parse(JSON::WriteJSON(NewList({Value(text)})));
  EXPECT_EQ(ToText(CallByName(back, u"Item", CallType::Get, {Value(0)})).str(),
            text);
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
  ExpectRaisesStandard(
      JSON::WriteJSON(NewList({MakeByteArray(std::vector<uint8_t>{1, 2})})),
      13);
  Value self = CreateObject(u"CArray");
  CallByName(self, u"Add", CallType::Method, {self});
  ExpectRaisesStandard(JSON::WriteJSON(self), 28);
  CallByName(self, u"Clear", CallType::Method);  // break the cycle
}

}  // namespace
}  // namespace quorvel
