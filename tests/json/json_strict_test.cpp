// The strict JSON reader and the standard writer.
#include "quorvel/json_strict.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <utility>

#include "quorvel/collection.h"
#include "quorvel/json_standard.h"
#include "quorvel/kxdocrec.h"
#include "test_util.h"
#include "testing/paths.h"

namespace quorvel {
namespace {

using JSON::StandardStyle;
using JSON::WriteStandard;
using testing::U8;

// The compact text of a strict read, whole and one unit at a time alike.
std::string Read(std::u16string_view text) {
  const std::string whole = U8(JSON::WriteJSON(JSON::ParseStrict(text)));
  JSON::TextPieces one_by_one(text, 1);
  JSON::StrictReader reader(one_by_one);
  JSON::TreeBuilder builder;
  reader.Read(builder);
  EXPECT_EQ(U8(JSON::WriteJSON(builder.Take())), whole) << U8(text);
  return whole;
}

Value Dict(std::initializer_list<std::pair<const char16_t*, Value>> members) {
  Ref<Dictionary> d = Dictionary::Create();
  for (const auto& [key, value] : members) d->Add(String(key), value);
  return Value(Ref<Object>(d));
}
Value List(std::initializer_list<Value> items) {
  Ref<CArray> a = CArray::Create();
  for (const Value& v : items) a->Add(v);
  return Value(Ref<Object>(a));
}

TEST(JSONStrictTest, ReadsEveryKindOfValueAtTheTop) {
  const struct {
    std::u16string_view text;
    const char* written;  // by the compact writer
  } cases[] = {
      {u"{\"a\": [1, 2.5, \"x\", true, null]}",
       R"({"a":[1,2.5,"x",true,null]})"},
      {u" \t\r\n[]\n", "[]"},
      {u"\"str\"", R"("str")"},
      {u"123", "123"},
      {u"false", "false"},
      {u"null", "null"},
      {u"[[[]], {\"\": {}}]", R"([[[]],{"":{}}])"},
      {u"\"\\u00e9\\/\\\"\\\\\\b\\f\\n\\r\\t\"", R"("\u00E9/\"\\\b\f\n\r\t")"},
      {u"\"\\ud83d\\ude00 \\uDEAD\"", R"("\uD83D\uDE00 \uDEAD")"},
      {u"[1E2, 1e-2, 20e1, 0e+1, 123.456]", "[100,0.01,200,0,123.456]"},
      // A repeated name: the first place, the last value.
      {u"{\"a\":1, \"b\":2, \"a\":3}", R"({"a":3,"b":2})"},
  };
  for (const auto& c : cases) EXPECT_EQ(Read(c.text), c.written) << U8(c.text);
  // Zeros keep their sign for the standard writer.
  for (std::u16string_view text : {u"-0", u"-0.000E-3", u"0", u"0e-7"}) {
    const Value v = JSON::ParseStrict(text);
    ASSERT_EQ(v.kind(), Kind::Decimal) << U8(text);
    EXPECT_EQ(WriteStandard(v), text[0] == u'-' ? "-0" : "0");
    EXPECT_EQ(U8(ToText(v)), "0");
  }
}

TEST(JSONStrictTest, NumbersAreDecimalWhereExactElseDouble) {
  const struct {
    std::u16string_view text;
    Kind kind;
    const char* shown;  // ToText
  } cases[] = {
      {u"79228162514264337593543950335", Kind::Decimal,
       "79228162514264337593543950335"},
      {u"79228162514264337593543950336", Kind::Double, "7.92281625142643E+28"},
      {u"9.9999999999999999999999999999", Kind::Double, "10"},
      {u"0.1234567890123456789012345678", Kind::Decimal,
       "0.1234567890123456789012345678"},
      {u"0.12345678901234567890123456789", Kind::Double, "0.123456789012346"},
      {u"1e-28", Kind::Decimal, "0.0000000000000000000000000001"},
      {u"1e-29", Kind::Double, "1E-29"},
      {u"1e29", Kind::Double, "1E+29"},
      {u"1e28", Kind::Decimal, "10000000000000000000000000000"},
      {u"1.000000000000000000000000000000000000", Kind::Decimal, "1"},
      {u"0.1000000000000000000000000000001", Kind::Double, "0.1"},
      {u"2.5e-324", Kind::Double, "4.94065645841247E-324"},
  };
  for (const auto& c : cases) {
    const Value v = JSON::ParseStrict(c.text);
    EXPECT_EQ(v.kind(), c.kind) << U8(c.text);
    EXPECT_EQ(U8(ToText(v)), c.shown) << U8(c.text);
  }
  // The exact Double, not a rounded Decimal.
  EXPECT_EQ(ToDouble(JSON::ParseStrict(u"-15.00e-31")), -1.5e-30);
}

// Takes string values in pieces, checking each as it comes.
class PieceTaker : public JSON::TreeBuilder {
 public:
  bool TakesTextInPieces() const override { return true; }
  void Text(std::u16string_view) override { ADD_FAILURE() << "whole text"; }
  void TextPiece(std::u16string_view piece, bool last) override {
    EXPECT_LE(piece.size(), JSON::kMaxTextPiece);
    // No piece but the last is empty or ends inside a surrogate pair.
    EXPECT_TRUE(last || !(piece.empty() ||
                          (piece.back() >= 0xD800 && piece.back() < 0xDC00)));
    largest = std::max(largest, piece.size());
    ++pieces;
    text_ += piece;
    if (last) TreeBuilder::Text(std::exchange(text_, std::u16string()));
  }
  size_t largest = 0, pieces = 0;

 private:
  std::u16string text_;
};

TEST(JSONStrictTest, LongStringsComeInBoundedPieces) {
  // Escapes and pairs fall on every boundary of source and handler pieces.
  std::u16string big;
  std::u16string json = u"[\"\", \"short\", {\"k\": \"";
  for (int i = 0; big.size() < 700'000; ++i) {
    big += u"x\U0001F600\n\u00E9\U0001F600" + std::u16string(i % 5, u'y');
    json += u"x\U0001F600\\n\u00E9\\ud83d\\ude00" + std::u16string(i % 5, u'y');
  }
  json += u"\"}, \"\\u0041\"]";
  const std::string expected = U8(JSON::WriteJSON(JSON::ParseStrict(json)));
  for (size_t piece : {size_t{3}, size_t{65537}, json.size()}) {
    JSON::TextPieces source(json, piece);
    JSON::StrictReader reader(source);
    PieceTaker taker;
    reader.Read(taker);
    EXPECT_GE(taker.largest, JSON::kMaxTextPiece - 1) << piece;
    EXPECT_GE(taker.pieces, 4 + big.size() / JSON::kMaxTextPiece);
    const Value tree = taker.Take();
    EXPECT_EQ(U8(JSON::WriteJSON(tree)), expected) << piece;
    EXPECT_EQ(
        ToText(CallByName(CallByName(tree, u"Item", CallType::Get, {Value(2)}),
                          u"Item", CallType::Get, {Value(u"k")}))
            .view(),
        big);
  }
  // A handler that takes text whole refuses pieces.
  JSON::TreeBuilder whole;
  ExpectRaises(whole.TextPiece(u"a", true), kErrInvalidCall, u"JSON",
               u"this handler takes string values whole");
}

TEST(JSONStrictTest, FaultsNameTheirPlace) {
  const struct {
    std::u16string_view text;
    int64_t line, column;
    const char* fault;
  } cases[] = {
      {u"[1,2", 1, 5,
       "expected ',' or ']' after the element, found the end of the text"},
      {u"[1,,2]", 1, 4, "expected a value, found ','"},
      {u"{\"a\":1,}", 1, 8,
       "expected a member name in double quotes, found '}'"},
      {u"{\"a\" 1}", 1, 6, "expected ':' after the member name, found '1'"},
      {u"{'a':1}", 1, 2,
       "expected a member name in double quotes, found \"'\""},
      {u"{\"a\":1 \"b\":2}", 1, 8,
       "expected ',' or '}' after the member, found '\"'"},
      {u"", 1, 1, "expected a value, found the end of the text"},
      {u"  \n ", 2, 2, "expected a value, found the end of the text"},
      {u"[1] x", 1, 5,
       "expected the end of the text after the value, found 'x'"},
      {u"[01]", 1, 3, "a number starts with 0 followed by more digits"},
      {u"[1.]", 1, 4, "expected a digit after the decimal point, found ']'"},
      {u"[1e]", 1, 4, "expected a digit of the exponent, found ']'"},
      {u"[-]", 1, 3, "expected a digit, found ']'"},
      {u"[1e400]", 1, 2, "the number 1e400 is beyond the range of a Double"},
      {u"[1e-400]", 1, 2, "the number 1e-400 is beyond the range of a Double"},
      {u"[tru]", 1, 5, "expected a value, found ']'"},
      {u"\"abc", 1, 5, "the text ends inside a string"},
      {u"\"a\tb\"", 1, 3,
       "control character U+0009 in a string (write it as an escape)"},
      {u"\"\\x\"", 1, 3, "invalid escape \\x"},
      {u"\"\\u12g4\"", 1, 6,
       "expected a hexadecimal digit of a \\u escape, found 'g'"},
      {u"[\"\U0001F600\", x]", 1, 7, "expected a value, found 'x'"},
      {u"{\n  \"a\": [\n    1,\n    nul\n  ]\n}", 4, 8,
       "expected a value, found U+000A"},
      {u"\uFEFF{}", 1, 1, "expected a value, found U+FEFF"},
  };
  for (const auto& c : cases) {
    for (size_t piece : {size_t{1000}, size_t{1}}) {
      JSON::TextPieces source(c.text, piece);
      JSON::StrictReader reader(source);
      JSON::TreeBuilder builder;
      const std::string place = "Line " + std::to_string(c.line) + ", column " +
                                std::to_string(c.column) + ": ";
      ExpectRaises(reader.Read(builder), 9, u"JSON", FromUtf8(place + c.fault));
      EXPECT_EQ(U8(reader.fault()), c.fault) << U8(c.text);
      EXPECT_EQ(reader.line(), c.line) << U8(c.text);
      EXPECT_EQ(reader.column(), c.column) << U8(c.text);
    }
  }
  // Nesting stops at the stated depth, without recursion however deep.
  const std::u16string deep = std::u16string(JSON::kMaxDepth, u'[') +
                              std::u16string(JSON::kMaxDepth, u']');
  EXPECT_EQ(Read(deep).size(), 2u * JSON::kMaxDepth);
  const std::u16string kDeeper =
      u"Line 1, column 1001: containers nest deeper than 1000 levels";
  ExpectRaises(JSON::ParseStrict(u"[" + deep + u"]"), 9, u"JSON", kDeeper);
  ExpectRaises(JSON::ParseStrict(std::u16string(100000, u'[')), 9, u"JSON",
               kDeeper);
}

// y_ files read, n_ do not, i_ only fail with 9.
TEST(JSONStrictTest, TestSuiteFiles) {
  const std::filesystem::path dir =
      std::filesystem::path(testing::SharedDir()) / "jsontestsuite" /
      "test_parsing";
  if (!std::filesystem::is_directory(dir))
    GTEST_SKIP() << "no JSONTestSuite files at " << dir;
  int accepted = 0, refused = 0, files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)),
                            std::istreambuf_iterator<char>());
    const std::u16string text = FromUtf8(bytes);
    ++files;
    if (ToUtf8(text) != bytes) continue;  // not UTF-8
    bool read = true;
    try {
      JSON::ParseStrict(text);
    } catch (const Error& e) {
      read = false;
      EXPECT_EQ(e.number(), 9) << name;
    }
    if (name[0] == 'i') continue;
    EXPECT_EQ(read, name[0] == 'y') << name;
    ++(read ? accepted : refused);
  }
  EXPECT_GT(files, 300);
  EXPECT_GE(accepted, 95);
  EXPECT_GE(refused, 170);
}

TEST(JSONStandardTest, ScalarsInTheirStandardForms) {
  const double ms = 1.0 / 86400000;
  const struct {
    Value value;
    const char* text;
  } cases[] = {
      {Value(), "null"},
      {Value::Nothing(), "null"},
      {Value(false), "false"},
      {Value(int16_t{-32768}), "-32768"},
      {Value(std::numeric_limits<int32_t>::min()), "-2147483648"},
      {Value::Byte(255), "255"},
      {Value::Currency(12345), "1.2345"},
      {Value::Currency(std::numeric_limits<int64_t>::min()),
       "-922337203685477.5808"},
      {Value::Decimal(*Decimal::Parse(u"1.50")), "1.5"},
      {Value::Decimal(Decimal(0, 0, 0, true)), "-0"},
      {Value::Decimal(Decimal(0, 0, 5, false)), "0"},
      {Value::Decimal(Decimal(0, 5, 28, false)),
       "0.0000000000000000000000000005"},
      {Value::Decimal(Decimal(0xFFFFFFFF, ~uint64_t{0}, 1, true)),
       "-7922816251426433759354395033.5"},
      {Value::Decimal(Decimal(1, 0, 20, false)), "0.18446744073709551616"},
      {Value(0.1), "0.1"},
      {Value(-0.0), "-0"},
      {Value(1e300), "1e+300"},
      {Value(5e-324), "5e-324"},
      {Value(0.1f), "0.1"},
      {Value(std::numeric_limits<float>::max()), "3.4028235e+38"},
      {Value::Date(45000), "\"2023-03-15\""},
      {Value::Date(45000.5 + 123 * ms), "\"2023-03-15T12:00:00.123\""},
      {Value::Date(45000 + 7 * ms), "\"2023-03-15T00:00:00.007\""},
      {Value::Date(-1.25), "\"1899-12-29T06:00:00\""},
      {Value::Date(45000.9999999999), "\"2023-03-16\""},
      {Value::Date(2958465.99999999), "\"9999-12-31T23:59:59.999\""},
      {Value::Date(2958465.999999996), "\"9999-12-31T23:59:59.999\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WriteStandard(c.value), c.text) << c.text;
    EXPECT_EQ(WriteStandard(c.value, {4, false}), c.text) << c.text;
  }
}

TEST(JSONStandardTest, StringsEscapedInBothForms) {
  const struct {
    std::u16string text;
    const char* utf8;
    const char* ascii;
  } cases[] = {
      {u"\"\\/\b\f\n\r\t", R"("\"\\/\b\f\n\r\t")", R"("\"\\/\b\f\n\r\t")"},
      {std::u16string(u"\0\x01\x1F\x7F ~", 6),
       "\"\\u0000\\u0001\\u001f\\u007f ~\"", R"("\u0000\u0001\u001f\u007f ~")"},
      {u"\u00E9\u07FF\u0800\u20AC\uFFFF\U0001F600\U0010FFFF",
       "\"\xC3\xA9\xDF\xBF\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF\xF0\x9F\x98\x80"
       "\xF4\x8F\xBF\xBF\"",
       R"("\u00e9\u07ff\u0800\u20ac\uffff\ud83d\ude00\udbff\udfff")"},
      {std::u16string{u'a', 0xDC00, 0xD800, u'b'}, R"("a\udc00\ud800b")",
       R"("a\udc00\ud800b")"},
      {std::u16string{0xD83D, u'x', 0xDE00}, R"("\ud83dx\ude00")",
       R"("\ud83dx\ude00")"},
      // Past the eight-unit steps: a special in every lane.
      {u"abcdefg\"hijklmn\\opqrstu\nvwxyz01\u00E9",
       "\"abcdefg\\\"hijklmn\\\\opqrstu\\nvwxyz01\xC3\xA9\"",
       R"("abcdefg\"hijklmn\\opqrstu\nvwxyz01\u00e9")"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WriteStandard(Value(c.text)), c.utf8) << c.ascii;
    EXPECT_EQ(WriteStandard(Value(c.text), {0, true}), c.ascii);
  }
  // A pair split between pieces is one character; a lone half is escaped.
  JSON::StandardWriter writer;
  writer.BeginArray();
  writer.TextPiece(u"a\xD83D", false);
  writer.TextPiece(
      u"\xDE00"
      u"b",
      true);
  writer.TextPiece(u"\xD800", false);
  writer.TextPiece(u"x", false);
  writer.TextPiece(u"", true);
  writer.EndArray();
  EXPECT_EQ(writer.Take(),
            "[\"a\xF0\x9F\x98\x80"
            "b\",\"\\ud800x\"]");
  // A long string whose pair straddles the writer's steps of 4096 units.
  for (size_t before : {4094u, 4095u, 4096u, 8191u}) {
    const std::u16string text = std::u16string(before, u'a') + u"\U0001F600b";
    EXPECT_EQ(WriteStandard(Value(text)), "\"" + std::string(before, 'a') +
                                              "\xF0\x9F\x98\x80"
                                              "b\"")
        << before;
  }
}

TEST(JSONStandardTest, ContainersCompactAndIndented) {
  Ref<Collection> bag = Collection::Create();
  bag->Append(Value(1));
  bag->Append(Value(u"two"));
  Ref<KxDocRec> rec = KxDocRec::Create();
  rec->LetItem(String(u"n"), Value(2.5));
  const Value tree = Dict({
      {u"list", List({Value(1), List({}), Dict({})})},
      {u"bag", Value(Ref<Object>(bag))},
      {u"rec", Value(Ref<Object>(rec))},
      {u"array", MakeArray({Value(true), Value::Null()})},
      {u"k\"\u00E9", Value(u"v")},
  });
  EXPECT_EQ(WriteStandard(tree),
            "{\"list\":[1,[],{}],\"bag\":[1,\"two\"],\"rec\":{\"n\":2.5},"
            "\"array\":[true,null],\"k\\\"\xC3\xA9\":\"v\"}");
  EXPECT_EQ(WriteStandard(tree, {2, true}),
            "{\n"
            "  \"list\": [\n"
            "    1,\n"
            "    [],\n"
            "    {}\n"
            "  ],\n"
            "  \"bag\": [\n"
            "    1,\n"
            "    \"two\"\n"
            "  ],\n"
            "  \"rec\": {\n"
            "    \"n\": 2.5\n"
            "  },\n"
            "  \"array\": [\n"
            "    true,\n"
            "    null\n"
            "  ],\n"
            "  \"k\\\"\\u00e9\": \"v\"\n"
            "}");
  EXPECT_EQ(WriteStandard(List({List({Value(1)})}), {1, false}),
            "[\n [\n  1\n ]\n]");
  EXPECT_EQ(WriteStandard(MakeArray({}), {3, false}), "[]");
}

TEST(JSONStandardTest, RefusesWhatJsonCannotHold) {
  const char16_t kNotFinite[] = u"JSON has no form for NaN or an infinity";
  const double inf = std::numeric_limits<double>::infinity();
  for (const Value& v :
       {Value(std::nan("")), Value(-inf),
        Value(std::numeric_limits<float>::infinity()), List({Value(inf)})}) {
    ExpectRaises(WriteStandard(v), kErrInvalidCall, u"JSON", kNotFinite);
  }
  SafeArray square(Kind::Variant, {{0, 2}, {0, 2}});
  for (const Value& v :
       {Value::ErrorCode(5), Value::Missing(), Value(std::move(square)),
        Value(Ref<Object>(CDict::Create())),
        Dict({{u"a", Value::Missing()}})}) {
    ExpectRaisesStandard(WriteStandard(v), kErrTypeMismatch);
  }
  ExpectRaisesStandard(WriteStandard(Value::Date(2958466)), kErrOverflow);
  // A container that holds itself is stopped at the nesting limit.
  Ref<CArray> loop = CArray::Create();
  loop->Add(Value(Ref<Object>(loop)));
  ExpectRaisesStandard(WriteStandard(Value(Ref<Object>(loop))), kErrOutOfStack);
  loop->Clear();
  for (int indent : {-1, JSON::kMaxIndent + 1}) {
    const StandardStyle style{indent, false};
    ExpectRaises(JSON::StandardWriter writer(style), kErrInvalidCall, u"JSON",
                 u"the indent must be 0 to 16");
  }
}

}  // namespace
}  // namespace quorvel
