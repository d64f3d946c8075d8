#include "quorvel/json_strict.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "quorvel/json_standard.h"
#include "test_util.h"

namespace quorvel {
namespace {

using testing::U8;

// The compact text of what a strict read of `text` builds, read whole and
// read one code unit at a time, which must agree.
std::string Read(std::u16string_view text) {
  const std::string whole = U8(JSON::WriteJSON(JSON::ParseStrict(text)));
  JSON::TextPieces one_by_one(text, 1);
  JSON::StrictReader reader(one_by_one);
  JSON::TreeBuilder builder;
  reader.Read(builder);
  EXPECT_EQ(U8(JSON::WriteJSON(builder.Take())), whole) << U8(text);
  return whole;
}

TEST(JSONStrictTest, ReadsEveryKindOfValueAtTheTop) {
  const struct {
    std::u16string_view text;
    const char* written;  // by the compact writer
  } cases[] = {
      {u"{\"a\": [1, 2.5, \"x\", true, null]}",
       R"({"a":[1,2.5,"x",true,null]})"},
      {u" \t\r\n[]\n", "[]"},
      {u"{}", "{}"},
      {u"\"str\"", R"("str")"},
      {u"123", "123"},
      {u"-0", "0"},
      {u"true", "true"},
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
  for (std::u16string_view text :
       {u"-0", u"-0.0", u"-0e5", u"-0.000E-3", u"0", u"0.0", u"0e-7"}) {
    const Value v = JSON::ParseStrict(text);
    ASSERT_EQ(v.kind(), Kind::Decimal) << U8(text);
    EXPECT_EQ(JSON::WriteStandard(v), text[0] == u'-' ? "-0" : "0");
    EXPECT_EQ(U8(ToText(v)), "0");
  }
}

// Notes what the reader says of each number as it is handed over.
class NumberWatcher : public JSON::TreeBuilder {
 public:
  explicit NumberWatcher(const JSON::StrictReader& reader) : reader_(reader) {}
  void Scalar(const Value& value) override {
    exact = reader_.number_exact();
    text = reader_.number_text();
    TreeBuilder::Scalar(value);
  }
  bool exact = false;
  std::u16string text;

 private:
  const JSON::StrictReader& reader_;
};

TEST(JSONStrictTest, NumbersAreDecimalWhereExactElseDouble) {
  const struct {
    std::u16string_view text;
    Kind kind;
    const char* shown;  // ToText
    bool exact;         // the Value is the number written
  } cases[] = {
      {u"79228162514264337593543950335", Kind::Decimal,
       "79228162514264337593543950335", true},
      {u"79228162514264337593543950336", Kind::Double, "7.92281625142643E+28",
       false},
      {u"7.9228162514264337593543950335", Kind::Decimal,
       "7.9228162514264337593543950335", true},
      {u"9.9999999999999999999999999999", Kind::Double, "10", false},
      {u"0.1234567890123456789012345678", Kind::Decimal,
       "0.1234567890123456789012345678", true},
      {u"0.12345678901234567890123456789", Kind::Double, "0.123456789012346",
       false},
      {u"1e-28", Kind::Decimal, "0.0000000000000000000000000001", true},
      {u"1e-29", Kind::Double, "1E-29", true},
      {u"1e29", Kind::Double, "1E+29", true},
      {u"1e28", Kind::Decimal, "10000000000000000000000000000", true},
      {u"1.000000000000000000000000000000000000", Kind::Decimal, "1", true},
      {u"-0.0000000000000000000000000000000000000001", Kind::Double, "-1E-40",
       true},
      {u"1e300", Kind::Double, "1E+300", true},
      {u"-15.00e-31", Kind::Double, "-1.5E-30", true},
      {u"0.1000000000000000000000000000001", Kind::Double, "0.1", false},
      {u"2.5e-324", Kind::Double, "4.94065645841247E-324", false},
      {u"5e-324", Kind::Double, "4.94065645841247E-324", true},
      {u"4.9406564584124654e-324", Kind::Double, "4.94065645841247E-324",
       false},
      {u"-0", Kind::Decimal, "0", true},
  };
  for (const auto& c : cases) {
    JSON::TextPieces source(c.text);
    JSON::StrictReader reader(source);
    NumberWatcher watcher(reader);
    reader.Read(watcher);
    const Value v = watcher.Take();
    EXPECT_EQ(v.kind(), c.kind) << U8(c.text);
    EXPECT_EQ(U8(ToText(v)), c.shown) << U8(c.text);
    EXPECT_EQ(watcher.exact, c.exact) << U8(c.text);
    EXPECT_EQ(watcher.text, c.text);
  }
  // The exact Double, not a rounded Decimal.
  EXPECT_EQ(ToDouble(JSON::ParseStrict(u"1.5e-30")), 1.5e-30);
}

// Takes string values in pieces, checking each as it comes.
class PieceTaker : public JSON::TreeBuilder {
 public:
  bool TakesTextInPieces() const override { return true; }
  void Text(std::u16string_view) override { ADD_FAILURE() << "whole text"; }
  void TextPiece(std::u16string_view piece, bool last) override {
    EXPECT_LE(piece.size(), JSON::kMaxTextPiece);
    if (!last) {
      EXPECT_FALSE(piece.empty());
      EXPECT_FALSE(piece.back() >= 0xD800 && piece.back() < 0xDC00);
    }
    largest = std::max(largest, piece.size());
    ++pieces;
    text_ += piece;
    if (last) TreeBuilder::Text(std::exchange(text_, std::u16string()));
  }
  size_t largest = 0;
  size_t pieces = 0;

 private:
  std::u16string text_;
};

// Collects what the standard writer hands over, noting the largest piece.
class Collect : public JSON::ByteSink {
 public:
  void Write(std::string_view bytes) override {
    text += bytes;
    largest = std::max(largest, bytes.size());
  }
  std::string text;
  size_t largest = 0;
};

TEST(JSONStrictTest, LongStringsComeInBoundedPieces) {
  // Escapes and surrogate pairs, raw and escaped, fall on every boundary
  // of the source's pieces and of the handler's.
  std::u16string big;
  std::u16string json = u"[\"\", \"short\", {\"k\": \"";
  for (int i = 0; big.size() < 2'500'000; ++i) {
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
  // The standard writer takes the pieces and hands on its text in bounded
  // pieces too.
  JSON::TextPieces source(json, 65537);
  JSON::StrictReader reader(source);
  Collect sink;
  JSON::StandardWriter writer({}, &sink);
  reader.Read(writer);
  writer.Flush();
  EXPECT_LE(sink.largest, JSON::StandardWriter::kFlushBytes);
  EXPECT_EQ(sink.text, JSON::WriteStandard(JSON::ParseStrict(json)));
  EXPECT_EQ(writer.written(), sink.text.size());
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
      {u"[1,]", 1, 4, "expected a value, found ']'"},
      {u"{\"a\":1,}", 1, 8,
       "expected a member name in double quotes, found '}'"},
      {u"{\"a\" 1}", 1, 6, "expected ':' after the member name, found '1'"},
      {u"{'a':1}", 1, 2,
       "expected a member name in double quotes, found \"'\""},
      {u"[1 2]", 1, 4, "expected ',' or ']' after the element, found '2'"},
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
      {u"[+1]", 1, 2, "expected a value, found '+'"},
      {u"[1e400]", 1, 2, "the number 1e400 is beyond the range of a Double"},
      {u"[1e-400]", 1, 2, "the number 1e-400 is beyond the range of a Double"},
      {u"[tru]", 1, 5, "expected a value, found ']'"},
      {u"[True]", 1, 2, "expected a value, found 'T'"},
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
      {u"[\u00a0]", 1, 2, "expected a value, found U+00A0"},
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
  ExpectRaises(JSON::ParseStrict(std::u16string(100000, u'{')), 9, u"JSON",
               u"Line 1, column 2: expected a member name in double quotes, "
               u"found '{'");
}

TEST(JSONStrictTest, TokensKnowWhereTheyBegan) {
  // Stops at the third string and says where it began.
  class StopAtThirdString : public JSON::TreeBuilder {
   public:
    explicit StopAtThirdString(const JSON::StrictReader* reader)
        : reader_(reader) {}
    void Text(std::u16string_view text) override {
      if (++count_ == 3) {
        line_ = reader_->token_line();
        column_ = reader_->token_column();
        ErrorRaise(5, u"test", text);
      }
      TreeBuilder::Text(text);
    }
    const JSON::StrictReader* reader_;
    int count_ = 0;
    int64_t line_ = 0, column_ = 0;
  };
  const std::u16string text = u"[\"a\",\n \"\U0001F600\", \"\u6771\"]";
  JSON::TextPieces source(text, 3);
  JSON::StrictReader reader(source);
  StopAtThirdString handler(&reader);
  ExpectRaises(reader.Read(handler), 5, u"test", u"\u6771");
  EXPECT_EQ(handler.line_, 2);
  EXPECT_EQ(handler.column_, 7);
}

// The files of JSONTestSuite. Strictly: y_ must read, n_ must not, i_ may
// do either but only with error 9; those whose bytes are not UTF-8 cannot
// reach this reader as text (the tool's tests cover them). Leniently:
// nothing crashes or hangs, and every y_ file that begins with a bracket
// reads to a container that writes back.
TEST(JSONStrictTest, TestSuiteFiles) {
  const std::filesystem::path dir = std::filesystem::path(QUORVEL_SHARED_DIR) /
                                    "jsontestsuite" / "test_parsing";
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
    const Value lenient = JSON::Parse(text);
    if (name[0] == 'y') {
      const size_t first = text.find_first_not_of(u" \t\r\n");
      const bool bracketed = first != std::u16string::npos &&
                             (text[first] == u'[' || text[first] == u'{');
      EXPECT_EQ(!lenient.IsNothing(), bracketed) << name;
      if (bracketed) JSON::WriteJSON(lenient);
    }
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

}  // namespace
}  // namespace quorvel
