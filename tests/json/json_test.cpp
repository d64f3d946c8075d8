// The lenient JSON reader and the compact writer.
#include "quorvel/json.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quorvel {
namespace {

std::string Written(const Value& v) {
  return testing::U8(JSON::WriteJSON(v).view());
}
// The compact text of a lenient read, or "Nothing".
std::string Parsed(std::u16string_view text) {
  const Value v = JSON::Parse(text);
  return v.IsNothing() ? "Nothing" : Written(v);
}
Value Item(const Value& v, const Value& at) {
  return CallByName(v, u"Item", CallType::Get, {at});
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

TEST(JSONReaderTest, LenientRules) {
  const struct {
    std::u16string_view text;
    const char* built;
  } cases[] = {
      {u"  {\"a\": [1, 2.5, \"x\", true, false, null, [], {}]}",
       R"({"a":[1,2.5,"x",true,false,null,[],{}]})"},
      {u"[1e3, -0.5, 0.000, 1.50, 12345678901234567890123]",
       "[1000,-0.5,0,1.5,12345678901234567890123]"},
      {u"42", "Nothing"},
      {u"", "Nothing"},
      {u"[1] trailing", "[1]"},
      // Filler: blanks, parentheses and comments; commas may be missing.
      {u"[1, /* two */ 2, // three\n3]", "[1,2,3]"},
      {u"( {\"a\":1} )", R"({"a":1})"},
      {u"[1 2 3]", "[1,2,3]"},
      // The '*' after a leaves pending set: the rest is comment.
      {u"[/* a*b */ 1]", "[]"},
      // A '/' inside a line comment ends it; b then fails as a number.
      {u"[1, // a/b\n2]", "[1]"},
      // "*/" outside a block starts a line comment.
      {u"[1,\r\n\t*/ 2\n3]", "[1,3]"},
      // Keys: quoted or bare, blanks dropped, no escapes, ':' optional.
      {u"{'a':'b'}", R"({"a":"b"})"},
      {u"{'first name': 1}", R"({"firstname":1})"},
      {u"{\"a:b\": 1}", R"({"a:b":1})"},
      {u"{\"a\\n\": 1}", R"({"a\n":1})"},
      {u"{\"a\" 1}", R"({"a":1})"},
      // \u takes any four characters; a string may run to the end.
      {u"[\"\\u41\"]", R"(["A"])"},
      {u"[\"\\u41\", 2]", R"(["A 2]"])"},
      {u"[\"\\u00e9\\/\\q\", 'say \"hi\"', \"\\u0041\", \"\\uD83D\\uDE00\", "
       u"\"\\\"\\\\\\b\\f\\n\\r\\t\", \"\\uzz12\", \"open",
       R"(["\u00E9/q","say \"hi\"","A","\uD83D\uDE00","\"\\\b\f\n\r\t",)"
       R"("\u0000","open"])"},
      // Malformed content ends its container; the enclosing one reads on.
      {u"[1, 2", R"([1,""])"},
      {u"{\"a\":1", R"({"a":""})"},
      {u"[1, tru, 2]", "[1]"},  // no progress: the array ends
      {u"{\"a\":tru}", R"({"a":false,"tru}":""})"},
      {u"[[1, x], 2]", "[[1]]"},  // x ends both
      // The object ends on the second a, leaving a '}' for the array.
      {u"[{\"a\":1,\"a\":2}, 3]", R"([{"a":1}])"},
      {u"[1e99999, 2]", "[]"},  // outside the Decimal range
      {u"[1,]", "[1]"},
      {u"[True]", "[]"},  // case matters
  };
  for (const auto& c : cases)
    EXPECT_EQ(Parsed(c.text), c.built) << testing::U8(c.text);
  EXPECT_TRUE(Item(JSON::Parse(u"[1, 2"), Value(1)).IsEmpty());
  // Numbers keep their scale; the fast and the general reading agree.
  const Value list =
      JSON::Parse(u"[1.50, 007, -0, 123456789012345678, 1234567890123456789]");
  const auto item = [&](int32_t i) { return Item(list, Value(i)).decimal(); };
  EXPECT_EQ(item(0).scale(), 2);
  EXPECT_EQ(item(0).lo(), 150u);
  EXPECT_FALSE(item(2).negative());
  EXPECT_EQ(item(3).lo(), 123456789012345678u);
  EXPECT_EQ(item(4).lo(), 1234567890123456789u);
}

TEST(JSONReaderTest, RepeatedKeysAndRecordShapes) {
  // A repeated key ends its object, before or after its dictionary is made.
  for (int repeat_at : {10, 20}) {
    std::string text = "{", built = "{";
    for (int i = 0; i < repeat_at; ++i) {
      const std::string n = std::to_string(i);
      text += "\"k" + n + "\":" + n + ",";
      built += "\"k" + n + "\":" + n + ",";
    }
    built.back() = '}';
    EXPECT_EQ(Parsed(FromUtf8(text + "\"k3\":9,\"z\":1}")), built);
  }
  // Where each place expects its last key: keys one unit off, prefixes.
  std::vector<std::u16string> records;
  std::u16string all = u"[";
  for (int j = 0; j < 60; ++j) {
    std::u16string first = j % 5 == 1 ? u"namf" : j % 9 == 2 ? u"nam" : u"name";
    std::u16string second = j % 7 == 2 ? u"\"ci ty\":" : u"\"city\":";
    std::u16string third = j % 11 == 3 ? u"\"id\" :" : u"\"id\":";
    records.push_back(u"{\"" + first + u"\":" + FromUtf8(std::to_string(j)) +
                      u"," + second + u"\"x\"," + third + u"[1]}");
    all += records.back() + u",";
  }
  const Value list = JSON::Parse(all + u"{\"city\":1,\"city\":2}]");
  for (int32_t j = 0; j < 60; ++j)
    EXPECT_EQ(Written(Item(list, Value(j))), Parsed(records[j])) << j;
  EXPECT_EQ(Written(Item(list, Value(60))), R"({"city":1})");
}

TEST(JSONReaderTest, TypedEntryPointsAndDepth) {
  EXPECT_TRUE(JSON::ParseArray(u"").IsNothing());
  EXPECT_TRUE(JSON::ParseDict(u"").IsNothing());
  EXPECT_EQ(TypeName(JSON::ParseArray(u" [1]")), u"CArray");
  EXPECT_EQ(TypeName(JSON::ParseDict(u"/**/{}")), u"Dictionary");
  // The text is quoted whole up to 24 characters, else its first 20.
  const struct {
    std::u16string_view text, description;
  } faults[] = {
      {u"   ", u"Can't parse array. Invalid JSON :    "},
      {u"{\"k\": 12345678901234567}",
       u"Can't parse array. Invalid JSON : {\"k\": 12345678901234567}"},
      {u"{\"k\": 123456789012345678}",
       u"Can't parse array. Invalid JSON : {\"k\": 12345678901234 ..."},
  };
  for (const auto& f : faults)
    ExpectRaises(JSON::ParseArray(f.text), 9, u"JSON", f.description);
  ExpectRaises(JSON::ParseDict(u"[1]"), 9, u"JSON",
               u"Can't parse dictionary. Invalid JSON : [1]");
  // Deeper brackets are left unread; open containers end unterminated.
  Value v = JSON::Parse(std::u16string(200000, u'['));
  int depth = 0;
  for (; ToLong(CallByName(v, u"Count", CallType::Get)) > 0; ++depth)
    v = Item(v, Value(0));
  EXPECT_EQ(depth, JSON::kMaxDepth - 1);
  std::u16string objects;
  for (int i = 0; i < 100000; ++i) objects += u"{\"a\":";
  EXPECT_EQ(TypeName(JSON::Parse(objects)), u"Dictionary");
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
  for (int32_t i = 0; i < 6; ++i) {
    std::vector<int32_t> at{i / 3, i % 3};
    grid.Put(grid.FlatIndex(at), Value(int16_t(i + 1)));
  }
  const struct {
    Value value;
    const char* text;
  } cases[] = {
      {dict, R"({"a":"x","b":[1,true,null],"c":"","k"ey":["p"]})"},
      {CreateObject(u"Dictionary"), "{}"},
      {Value::Nothing(), "null"},
      // The day only; rounding to the next midnight gives the next day.
      {NewList({Value::Date(45322.6041666667), Value::Date(45322.999999999)}),
       R"(["2024-01-31","2024-02-01"])"},
      {NewList({Dec(u"1.5"), Value(1234567), Value(float{0.1f}),
                Value::Currency(12345), Value::Byte(255), Value(false),
                Dec(u"-0.050"), Dec(u"79228162514264337593543950335")}),
       "[1.5,1234567,0.1,1.2345,255,false,-0.05,"
       "79228162514264337593543950335]"},
      // A zero that kept a scale from its text is written as 0.
      {JSON::Parse(u"[1e-099, 0.000, -0.0]"), "[0,0,0]"},
      // The seven short escapes, else outside ASCII \u and upper-case hex.
      {NewList({Value(u"\"\\\n\t\u00e9/\u007f\u0001\b\f\r~ \U0001F600")}),
       R"(["\"\\\n\t\u00E9/\u007F\u0001\b\f\r~ \uD83D\uDE00"])"},
      // Arrays of values: a failing element is left out, its comma kept.
      {NewList({MakeArray(
           {Value(int16_t{1}), Value(u"a"), CreateObject(u"CDict")})}),
       R"([[1,"a",]])"},
      {NewList({Value(std::move(grid))}), "[[[1,2,3],[4,5,6]]]"},
  };
  for (const auto& c : cases) EXPECT_EQ(Written(c.value), c.text);
}

TEST(JSONWriterTest, UnsupportedObjectsAndCycles) {
  Value dict = CreateObject(u"Dictionary");
  CallByName(dict, u"Add", CallType::Method,
             {Value(u"x"), NewList({CreateObject(u"CDict")})});
  ExpectRaises(JSON::WriteJSON(dict), -2147220503, u"KxQuorvel",
               u"Object Type 'CDict' not supported for json convesion");
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
