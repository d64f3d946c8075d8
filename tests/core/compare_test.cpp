#include "quorvel/compare.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "quorvel/convert.h"
#include "quorvel/dispatch.h"
#include "quorvel/error.h"
#include "test_util.h"

namespace quorvel {
namespace {

using ::quorvel::testing::U8;

constexpr Comparison kLess = Comparison::Less;
constexpr Comparison kEqual = Comparison::Equal;
constexpr Comparison kGreater = Comparison::Greater;
constexpr Comparison kNull = Comparison::Null;

Comparison Reversed(Comparison c) {
  if (c == kLess) return kGreater;
  if (c == kGreater) return kLess;
  return c;
}

std::string Describe(const Value& v) {
  std::string text = U8(TypeName(v));
  if (v.IsEmpty() || v.IsString() || v.IsNumericKind())
    text += " " + U8(ToText(v));
  return text;
}

Value Dec(std::u16string_view text) {
  return Value::Decimal(Decimal::Parse(text).value());
}

TEST(CompareTest, DecidesByKind) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Row {
    Value a;
    Value b;
    Comparison expected;
  };
  const Row rows[] = {
      {Value(int16_t{2}), Value(2.0), kEqual},
      {Value(10), Value(u"9"), kLess},  // a number is less than any text
      {Value(100), Value(u"5"), kLess},
      {Value(5), Value(u"abc"), kLess},
      {Value(5), Value(u""), kLess},
      {Value(u"10"), Value(u"9"), kLess},
      {Value(u"B"), Value(u"a"), kLess},
      {Value(u"a"), Value(u"ab"), kLess},
      {Value(u"abc"), Value(u"abc"), kEqual},
      {Value(u"\uFFFF"), Value(u"\U00010400"), kGreater},  // by code unit
      {Value(), Value(0), kEqual},
      {Value(), Value(u""), kEqual},
      {Value(), Value(), kEqual},
      {Value(), Value(u"a"), kLess},
      {Value(), Value(-1), kGreater},
      {Value(), Value(0.0001), kLess},
      {Value::Currency(15000), Value(1.5), kEqual},
      // 0.0001 and 0.0003 are not exact doubles; Currency compares exactly.
      {Value::Currency(1), Value(0.0001), kLess},
      {Value::Currency(3), Value(0.0003), kGreater},
      {Value::Currency(INT64_MAX), Value(922337203685477.5807), kLess},
      {Value::Currency(INT64_MIN), Value(-922337203685477.5808), kGreater},
      {Value::Currency(20000), Value(2), kEqual},
      {Value::Currency(20001), Value(2), kGreater},
      {Value::Currency(-20001), Value(int16_t{-2}), kLess},
      {Value::Currency(0), Value(-0.0), kEqual},
      {Value::Currency(1), Value(1e300), kLess},
      {Value::Currency(INT64_MIN), Value(-inf), kGreater},
      {Value::Currency(1), Value(4.9e-324), kGreater},
      {Dec(u"0.1"), Value(0.1), kEqual},
      {Dec(u"79228162514264337593543950335"), Value(INT32_MAX), kGreater},
      {Dec(u"2.5"), Value::Currency(25000), kEqual},
      {Dec(u"2.50001"), Value::Currency(25000), kGreater},
      {Dec(u"-0.0001"), Value::Currency(-1), kEqual},
      {Dec(u"1.00"), Dec(u"1"), kEqual},
      {Dec(u"3"), Value(true), kGreater},
      {Value(true), Value(int16_t{-1}), kEqual},
      {Value(false), Value(0.0), kEqual},
      {Value::Date(1), Value(1), kEqual},
      {Value::Date(1.5), Value::Currency(15000), kEqual},
      {Value::Byte(255), Value(int16_t{255}), kEqual},
      {Value(0.1f), Value(0.1), kGreater},
      {Value(INT32_MAX), Value(2147483648.0f), kLess},
      {Value(nan), Value(-inf), kLess},  // NaN sorts first
      {Value(nan), Value(nan), kEqual},
      {Value(nan), Value::Currency(INT64_MIN), kLess},
      {Value(nan), Dec(u"-1"), kLess},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Compare(row.a, row.b), row.expected)
        << Describe(row.a) << " vs " << Describe(row.b);
    EXPECT_EQ(Compare(row.b, row.a), Reversed(row.expected))
        << Describe(row.b) << " vs " << Describe(row.a);
  }
}

TEST(CompareTest, NullComesFirstThenArraysAndMissingRaise) {
  const Value anything[] = {Value::Null(),   Value(1),      Value(u"a"),
                            Value(),         MakeArray({}), Value::Missing(),
                            Value::Nothing()};
  for (const Value& v : anything) {
    EXPECT_EQ(Compare(Value::Null(), v), kNull) << Describe(v);
    EXPECT_EQ(Compare(v, Value::Null()), kNull) << Describe(v);
    EXPECT_FALSE(ValueLess(v, Value::Null()));
    EXPECT_FALSE(ValueEqual(v, Value::Null()));
    EXPECT_FALSE(ValueGreater(v, Value::Null()));
  }
  const Value bad[] = {MakeArray({Value(1)}), Value::Missing(),
                       Value::ErrorCode(5)};
  for (const Value& v : bad) {
    for (const Value& other : {Value(1), Value(u"a"), Value(), v}) {
      ExpectRaises(Compare(v, other), 13, u"KxQuorvel", u"Type mismatch");
      ExpectRaises(Compare(other, v), 13, u"KxQuorvel", u"Type mismatch");
    }
  }
}

TEST(CompareTest, ObjectsCompareByTheirDefaultValue) {
  Value dict = CreateObject(u"Scripting.Dictionary");
  ExpectRaises(Compare(dict, Value(1)), 450, u"KxQuorvel",
               u"Wrong number of arguments or invalid property assignment");
  ExpectRaises(Compare(Value(u"a"), Value::Nothing()), 91, u"KxQuorvel",
               u"Object variable or With block variable not set");
  EXPECT_EQ(Compare(dict, Value::Null()), kNull);
}

TEST(CompareTest, TextInBinaryAndTextMode) {
  const std::u16string kHigh(1, char16_t{0xD800});
  const std::u16string kLow(1, char16_t{0xDC00});
  struct Row {
    std::u16string a;
    std::u16string b;
    int binary;
    int text;
  };
  const Row rows[] = {
      {u"a", u"B", 1, -1},
      {u"abc", u"ABC", 1, 0},
      {u"abc", u"abd", -1, -1},
      {u"", u"", 0, 0},
      {u"", u"a", -1, -1},
      {u"a", std::u16string(u"A\0", 2), 1, -1},
      {u"\u00C4", u"\u00E4", -1, 0},              // Ä ä
      {u"\u03A3", u"\u03C3", -1, 0},              // Σ σ
      {u"\u03C2", u"\u03C3", -1, 0},              // ς σ
      {u"\u03A3\u03C2", u"\u03C3\u03A3", -1, 0},  // Σς σΣ
      {u"\U00010400", u"\U00010428", -1, 0},      // Deseret pair
      {u"\U00010400x", u"\U00010428Y", -1, -1},
      {u"\u212A", u"k", 1, 0},             // Kelvin sign
      {u"\u01C4", u"\u01C5", -1, 0},       // DŽ Dž
      {u"\u13A0", u"\uAB70", -1, 0},       // Cherokee
      {u"stra\u00DFe", u"STRASSE", 1, 1},  // ß folds alone
      {u"\u0130", u"i", 1, 1},             // İ keeps its dot
      // Text mode orders by code point, so a pair sorts above U+FFFF.
      {u"\uFFFF", u"\U00010400", 1, -1},
      // A lone surrogate stands for itself.
      {kHigh, u"a", 1, 1},
      {kHigh, u"\U00010000", -1, -1},
      {kLow, kHigh, 1, 1},
      {kHigh + u"\uE000", kHigh + kLow, 1, -1},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(CompareText(row.a, row.b, CompareMode::Binary), row.binary)
        << U8(row.a) << " vs " << U8(row.b);
    EXPECT_EQ(CompareText(row.b, row.a, CompareMode::Binary), -row.binary)
        << U8(row.b) << " vs " << U8(row.a);
    EXPECT_EQ(CompareText(row.a, row.b, CompareMode::Text), row.text)
        << U8(row.a) << " vs " << U8(row.b);
    EXPECT_EQ(CompareText(row.b, row.a, CompareMode::Text), -row.text)
        << U8(row.b) << " vs " << U8(row.a);
  }
}

TEST(CompareTest, FoldCaseIsSimpleFolding) {
  struct Row {
    char32_t c;
    char32_t folded;
  };
  const Row rows[] = {
      {U'A', U'a'},       {U'Z', U'z'},         {U'a', U'a'},
      {U'@', U'@'},       {U'[', U'['},         {0, 0},
      {0xC4, 0xE4},       {0xD7, 0xD7},         {0xDF, 0xDF},
      {0x1E9E, 0xDF},     {0x0100, 0x0101},     {0x0101, 0x0101},
      {0x0130, 0x0130},   {0x0345, 0x03B9},     {0x03A3, 0x03C3},
      {0x03C2, 0x03C3},   {0x2126, 0x03C9},     {0x212A, U'k'},
      {0xFF21, 0xFF41},   {0xAB70, 0x13A0},     {0x13F8, 0x13F0},
      {0x10400, 0x10428}, {0x1E900, 0x1E922},   {0x1E921, 0x1E943},
      {0xD800, 0xD800},   {0x10FFFF, 0x10FFFF}, {0x110000, 0x110000},
  };
  for (const Row& row : rows)
    EXPECT_EQ(static_cast<uint32_t>(FoldCase(row.c)),
              static_cast<uint32_t>(row.folded))
        << std::hex << static_cast<uint32_t>(row.c);
}

}  // namespace
}  // namespace quorvel
