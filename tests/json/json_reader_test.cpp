#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "quorvel/json.h"
#include "test_util.h"

namespace quorvel {
namespace {

// A compact, kind-revealing picture of what the reader built: objects as
// {k=v;...}, arrays as [v,...], Decimals as d1.5, Strings as "s", and
// E (Empty), N (Null), T / F (Booleans), Nothing.
std::u16string Shape(const Value& v) {
  switch (v.kind()) {
    case Kind::Empty:
      return u"E";
    case Kind::Null:
      return u"N";
    case Kind::Boolean:
      return ToBoolean(v) ? u"T" : u"F";
    case Kind::Decimal:
      return u"d" + ToText(v).str();
    case Kind::String:
      return u"\"" + ToText(v).str() + u"\"";
    case Kind::Object: {
      if (v.IsNothing()) return u"Nothing";
      std::u16string out;
      if (TypeName(v) == u"Dictionary") {
        out = u"{";
        Value keys = CallByName(v, u"Keys", CallType::Get);
        for (int32_t i = 0; i <= UBound(keys); ++i) {
          Value key = ArrayItem(keys, i);
          out += ToText(key).str() + u"=" +
                 Shape(CallByName(v, u"Item", CallType::Get, {key})) + u";";
        }
        return out + u"}";
      }
      EXPECT_EQ(TypeName(v), u"CArray");
      out = u"[";
      int32_t n = ToLong(CallByName(v, u"Count", CallType::Get));
      for (int32_t i = 0; i < n; ++i)
        out += (i ? u"," : u"") +
               Shape(CallByName(v, u"Item", CallType::Get, {Value(i)}));
      return out + u"]";
    }
    default:
      return u"?" + TypeName(v);
  }
}

std::string Parsed(std::u16string_view text) {
  return testing::U8(Shape(JSON::Parse(text)));
}

TEST(JSONReaderTest, BuildsDictionariesArraysAndScalars) {
  EXPECT_EQ(Parsed(u"  {\"a\": [1, 2.5, \"x\", true, null]}"),
            "{a=[d1,d2.5,\"x\",T,N];}");
  EXPECT_EQ(Parsed(u"[1e3, -0.5, 0.000, 1.50, 12345678901234567890123]"),
            "[d1000,d-0.5,d0,d1.5,d12345678901234567890123]");
  EXPECT_EQ(Parsed(u"[false,[],{}]"), "[F,[],{}]");
  EXPECT_EQ(Parsed(u"42"), "Nothing");
  EXPECT_EQ(Parsed(u"\"lone\""), "Nothing");
  EXPECT_EQ(Parsed(u""), "Nothing");
  EXPECT_EQ(Parsed(u"[1] trailing"), "[d1]");
  // Numbers keep their scale; the fast and the general reading agree.
  Value list =
      JSON::Parse(u"[1.50, 007, -0, 123456789012345678, 1234567890123456789]");
  auto item = [&](int32_t i) {
    return CallByName(list, u"Item", CallType::Get, {Value(i)}).decimal();
  };
  EXPECT_EQ(item(0).scale(), 2);
  EXPECT_EQ(item(0).lo(), 150u);
  EXPECT_FALSE(item(2).negative());
  EXPECT_EQ(item(3).lo(), 123456789012345678u);
  EXPECT_EQ(item(4).lo(), 1234567890123456789u);
}

TEST(JSONReaderTest, FillerCommentsAndMissingCommas) {
  EXPECT_EQ(Parsed(u"[1, /* two */ 2, // three\n3]"), "[d1,d2,d3]");
  EXPECT_EQ(Parsed(u"( {\"a\":1} )"), "{a=d1;}");
  EXPECT_EQ(Parsed(u"[1 2 3]"), "[d1,d2,d3]");
  // The '*' after a leaves pending set, so the block restarts and the rest
  // of the text is comment: the array is unterminated and empty.
  EXPECT_EQ(Parsed(u"[/* a*b */ 1]"), "[]");
  // A '/' inside a line comment ends it; b then fails as a number.
  EXPECT_EQ(Parsed(u"[1, // a/b\n2]"), "[d1]");
  // "*/" outside a block: '*' sets pending and '/' then starts a line
  // comment, which swallows the rest.
  EXPECT_EQ(Parsed(u"[1,\r\n\t*/ 2]"), "[d1,E]");
  EXPECT_EQ(Parsed(u"[1,\r\n\t*/ 2\n3]"), "[d1,d3]");
}

TEST(JSONReaderTest, KeysAndStrings) {
  EXPECT_EQ(Parsed(u"{'a':'b'}"), "{a=\"b\";}");
  EXPECT_EQ(Parsed(u"{a: 'b'}"), "{a=\"b\";}");
  EXPECT_EQ(Parsed(u"{'first name': 1}"), "{firstname=d1;}");
  EXPECT_EQ(Parsed(u"{\"a:b\": 1}"), "{a:b=d1;}");
  EXPECT_EQ(Parsed(u"{\"a\\n\": 1}"), "{a\\n=d1;}");  // no escapes in keys
  EXPECT_EQ(Parsed(u"{\"a\":1,\"a\":2}"), "{a=d1;}");
  // So in an object of many members, whether the repeat comes before or
  // after its dictionary is made.
  for (int repeat_at : {10, 20}) {
    std::u16string text = u"{";
    std::string shape = "{";
    for (int i = 0; i < repeat_at; ++i) {
      const std::string n = std::to_string(i);
      text += FromUtf8("\"k" + n + "\":" + n + ",");
      shape += "k" + n + "=d" + n + ";";
    }
    EXPECT_EQ(Parsed(text + u"\"k3\":9,\"z\":1}"), shape + "}");
  }
  // Records of one shape and near misses of it, read in one list (where
  // each place of an object expects the key it held last time) and alone:
  // keys one unit off, a prefix, blanks, a blank before ':', and last a
  // repeated key (which ends its object and, with what follows, the list).
  std::vector<std::u16string> records;
  for (int j = 0; j < 60; ++j) {
    std::u16string first = j % 5 == 1 ? u"namf" : j % 9 == 2 ? u"nam" : u"name";
    std::u16string second = j % 7 == 2 ? u"\"ci ty\":" : u"\"city\":";
    std::u16string third = j % 11 == 3 ? u"\"id\" :" : u"\"id\":";
    records.push_back(u"{\"" + first + u"\":" + FromUtf8(std::to_string(j)) +
                      u"," + second + u"\"x\"," + third + u"[1]}");
  }
  std::u16string all = u"[";
  for (const std::u16string& r : records) all += r + u",";
  Value list = JSON::Parse(all + u"{\"city\":1,\"city\":2}]");
  for (int32_t j = 0; j < 60; ++j) {
    EXPECT_EQ(testing::U8(
                  Shape(CallByName(list, u"Item", CallType::Get, {Value(j)}))),
              Parsed(records[j]))
        << j;
  }
  EXPECT_EQ(
      testing::U8(Shape(CallByName(list, u"Item", CallType::Get, {Value(60)}))),
      "{city=d1;}");
  EXPECT_EQ(Parsed(u"{\"a\" 1}"), "{a=d1;}");  // a quoted key needs no ':'
  // \u takes the four characters after it, whatever they are.
  EXPECT_EQ(Parsed(u"[\"\\u41\"]"), "[\"A\"]");
  EXPECT_EQ(Parsed(u"[\"\\u41\", 2]"), "[\"A 2]\"]");
  Value s = JSON::Parse(
      u"[\"\\u00e9\\/\\q\", 'say \"hi\"', \"\\u0041\", "
      u"\"\\uD83D\\uDE00\", \"\\\"\\\\\\b\\f\\n\\r\\t\", "
      u"\"\\uzz12\", \"open");
  auto text = [&](int32_t i) {
    return ToText(CallByName(s, u"Item", CallType::Get, {Value(i)})).str();
  };
  EXPECT_EQ(text(0), u"\u00e9/q");
  EXPECT_EQ(text(1), u"say \"hi\"");
  EXPECT_EQ(text(2), u"A");
  EXPECT_EQ(text(3), u"\U0001F600");
  EXPECT_EQ(text(4), u"\"\\\b\f\n\r\t");
  EXPECT_EQ(text(5), std::u16string(1, u'\0'));  // zz12: no leading digit
  EXPECT_EQ(text(6), u"open");                   // unterminated
}

TEST(JSONReaderTest, MalformedContentEndsItsContainerQuietly) {
  EXPECT_EQ(Parsed(u"[1, x]"), "[d1]");
  EXPECT_EQ(Parsed(u"[1, 2"), "[d1,E]");
  EXPECT_EQ(Parsed(u"{\"a\":1"), "{a=E;}");
  EXPECT_EQ(Parsed(u"[1, tru, 2]"), "[d1]");  // no progress: the array ends
  EXPECT_EQ(Parsed(u"[nul]"), "[]");
  EXPECT_EQ(Parsed(u"{\"a\":tru}"), "{a=F;tru}=E;}");
  EXPECT_EQ(Parsed(u"[[1, x], 2]"), "[[d1]]");  // x ends both
  // The object ends on the second a, leaving the position on its '}',
  // which the array cannot read either.
  EXPECT_EQ(Parsed(u"[{\"a\":1,\"a\":2}, 3]"), "[{a=d1;}]");
  EXPECT_EQ(Parsed(u"[1e99999, 2]"), "[]");  // outside the Decimal range
  EXPECT_EQ(Parsed(u"[1,]"), "[d1]");
  EXPECT_EQ(Parsed(u"[True]"), "[]");  // case matters
}

TEST(JSONReaderTest, TypedEntryPointsAndTheirErrors) {
  EXPECT_TRUE(JSON::ParseArray(u"").IsNothing());
  EXPECT_TRUE(JSON::ParseDict(u"").IsNothing());
  EXPECT_EQ(TypeName(JSON::ParseArray(u" [1]")), u"CArray");
  EXPECT_EQ(TypeName(JSON::ParseDict(u"/**/{}")), u"Dictionary");
  ExpectRaises(JSON::ParseArray(u"   "), 9, u"JSON",
               u"Can't parse array. Invalid JSON :    ");
  ExpectRaises(JSON::ParseDict(u"[1]"), 9, u"JSON",
               u"Can't parse dictionary. Invalid JSON : [1]");
  ExpectRaises(JSON::ParseArray(u"{\"k\": 12345678901234567}"), 9, u"JSON",
               u"Can't parse array. Invalid JSON : {\"k\": 12345678901234567}");
  ExpectRaises(JSON::ParseArray(u"{\"k\": 123456789012345678}"), 9, u"JSON",
               u"Can't parse array. Invalid JSON : {\"k\": 12345678901234 ...");
  ExpectRaises(JSON::ParseArray(u"abcdefghijklmnopqrstuvwxyz0123"), 9, u"JSON",
               u"Can't parse array. Invalid JSON : abcdefghijklmnopqrst ...");
}

TEST(JSONReaderTest, DeepNestingStopsWithoutExhaustingTheStack) {
  std::u16string deep(200000, u'[');
  Value v = JSON::Parse(deep);
  int depth = 0;
  while (v.IsObject() && !v.IsNothing() &&
         ToLong(CallByName(v, u"Count", CallType::Get)) > 0) {
    v = CallByName(v, u"Item", CallType::Get, {Value(0)});
    ++depth;
  }
  EXPECT_EQ(depth, JSON::kMaxDepth - 1);
  std::u16string fine = std::u16string(500, u'[') + std::u16string(500, u']');
  EXPECT_EQ(TypeName(JSON::Parse(fine)), u"CArray");
  std::u16string objects;
  for (int i = 0; i < 100000; ++i) objects += u"{\"a\":";
  EXPECT_EQ(TypeName(JSON::Parse(objects)), u"Dictionary");
}

// Every file of the JSONTestSuite: nothing crashes or hangs, and every file
// that must be accepted and begins with a bracket reads to a container.
TEST(JSONReaderTest, JSONTestSuiteFiles) {
  std::filesystem::path dir =
      std::filesystem::path(QUORVEL_SHARED_DIR) / "jsontestsuite/test_parsing";
  if (!std::filesystem::exists(dir))
    GTEST_SKIP() << "no JSONTestSuite files at " << dir;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::u16string text = FromUtf8(bytes.str());
    Value v = JSON::Parse(text);
    std::string name = entry.path().filename().string();
    if (name.starts_with("y_")) {
      size_t first = text.find_first_not_of(u" \t\r\n");
      bool bracketed = first != std::u16string::npos &&
                       (text[first] == u'[' || text[first] == u'{');
      EXPECT_EQ(!v.IsNothing(), bracketed) << name;
      if (bracketed) JSON::WriteJSON(v);  // and writes back without raising
    }
    ++files;
  }
  EXPECT_GT(files, 300);
}

}  // namespace
}  // namespace quorvel
