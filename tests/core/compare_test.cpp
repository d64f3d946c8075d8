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

std::string Describe(const Value& v) {
  std::string text = U8(TypeName(v));
  if (v.IsEmpty() || v.IsString() || v.IsNumericKind())
    text += " " + U8(ToText(v));
  return text;
}

Value Dec(std::u16string_view text) {
  return Value::Decimal(Decimal::Parse(text).value());
}
Value Cur(int64_t scaled) { return Value::Currency(scaled); }
Value Day(double day) { return Value::Date(day); }

// Numbers below any text, text by code unit, Empty as 0 or "", Currency
// and Decimal exactly (0.0001 is not an exact Double), NaN first; each row
// holds both ways round.
TEST(CompareTest, DecidesByKind) {
  using enum Comparison;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    Value a, b;
    Comparison expected;
  } rows[] =
      {{Value(), Value(), Equal},       {Value(nan), Value(-inf), Less},
       {Day(1), Value(1), Equal},       {Dec(u"1.00"), Dec(u"1"), Equal},
       {Value(), Value(0), Equal},      {Cur(3), Value(0.0003), Greater},
       {Value(5), Value(u""), Less},    {Dec(u"2.5"), Cur(25000), Equal},
       {Value(), Value(u""), Equal},    {Value(u"B"), Value(u"a"), Less},
       {Value(), Value(u"a"), Less},    {Dec(u"0.1"), Value(0.1), Equal},
       {Cur(0), Value(-0.0), Equal},    {Value(u"10"), Value(u"9"), Less},
       {Cur(1), Value(1e300), Less},    {Value(u"a"), Value(u"ab"), Less},
       {Value(), Value(-1), Greater},   {Dec(u"3"), Value(true), Greater},
       {Cur(1), Value(0.0001), Less},   {Value(false), Value(0.0), Equal},
       {Day(1.5), Cur(15000), Equal},   {Dec(u"-0.0001"), Cur(-1), Equal},
       {Value(), Value(0.0001), Less},  {Value(0.1f), Value(0.1), Greater},
       {Cur(20001), Value(2), Greater}, {Cur(1), Value(4.9e-324), Greater},
       {Value(nan), Value(nan), Equal}},
    wide_rows[] = {{Value(nan), Cur(INT64_MIN), Less},
                   {Value(INT32_MAX), Value(2147483648.0f), Less},
                   {Cur(INT64_MIN), Value(-inf), Greater},
                   {Value(u"\uFFFF"), Value(u"\U00010400"), Greater},
                   {Dec(u"2.50001"), Cur(25000), Greater},
                   {Cur(INT64_MAX), Value(922337203685477.5807), Less},
                   {Cur(-20001), Value(int16_t{-2}), Less},
                   {Cur(INT64_MIN), Value(-922337203685477.5808), Greater}};
  auto check = [](const auto& row) {
    const Comparison reversed = row.expected == Less      ? Greater
                                : row.expected == Greater ? Less
                                                          : row.expected;
    EXPECT_EQ(Compare(row.a, row.b), row.expected)
        << Describe(row.a) << " vs " << Describe(row.b);
    EXPECT_EQ(Compare(row.b, row.a), reversed)
        << Describe(row.b) << " vs " << Describe(row.a);
  };
  for (const auto& row : rows) check(row);
  for (const auto& row : wide_rows) check(row);

  // Null before anything is looked at; then arrays, Missing and errors
  // raise 13, and objects are read for their default value.
  const Value dict = CreateObject(u"Scripting.Dictionary");
  for (const Value& v :
       {Value::Null(), Value(1), Value(u"a"), Value(), MakeArray({}),
        Value::Missing(), Value::Nothing(), dict}) {
    EXPECT_EQ(Compare(Value::Null(), v), Null) << Describe(v);
    EXPECT_EQ(Compare(v, Value::Null()), Null) << Describe(v);
    EXPECT_FALSE(ValueLess(v, Value::Null()));
    EXPECT_FALSE(ValueEqual(v, Value::Null()));
    EXPECT_FALSE(ValueGreater(v, Value::Null()));
  }
  for (const Value& v :
       {MakeArray({Value(1)}), Value::Missing(), Value::ErrorCode(5)}) {
    for (const Value& other : {Value(1), Value(u"a"), Value(), v}) {
      ExpectRaisesStandard(Compare(v, other), kErrTypeMismatch);
      ExpectRaisesStandard(Compare(other, v), kErrTypeMismatch);
    }
  }
  ExpectRaisesStandard(Compare(dict, Value(1)), kErrWrongArgumentCount);
  ExpectRaisesStandard(Compare(Value(u"a"), Value::Nothing()),
                       kErrObjectNotSet);
}

// Binary compares code units; text folds case simply (no ß to "ss", İ keeps
// its dot) and orders by code point, a lone surrogate standing for itself.
TEST(CompareTest, TextInBinaryAndTextMode) {
  const std::u16string high(1, char16_t{0xD800});
  const std::u16string low(1, char16_t{0xDC00});
  const struct {
    std::u16string a, b;
    int binary, text;
  } texts[] = {{u"", u"", 0, 0},        {u"\u212A", u"k", 1, 0},
               {low, high, 1, 1},       {u"\u01C4", u"\u01C5", -1, 0},
               {high, u"a", 1, 1},      {u"\u13A0", u"\uAB70", -1, 0},
               {u"a", u"B", 1, -1},     {high, u"\U00010000", -1, -1},
               {u"", u"a", -1, -1},     {u"\u03A3", u"\u03C3", -1, 0},
               {u"abc", u"ABC", 1, 0},  {u"\u03C2", u"\u03C3", -1, 0},
               {u"\u0130", u"i", 1, 1}, {u"\uFFFF", u"\U00010400", 1, -1}},
    wide_texts[] = {{u"stra\u00DFe", u"STRASSE", 1, 1},
                    {u"a", std::u16string(u"A\0", 2), 1, -1},
                    {u"\U00010400", u"\U00010428", -1, 0},
                    {u"\U00010400x", u"\U00010428Y", -1, -1},
                    {high + u"\uE000", high + low, 1, -1}};
  auto check = [](const auto& row) {
    SCOPED_TRACE(U8(row.a) + " vs " + U8(row.b));
    EXPECT_EQ(CompareText(row.a, row.b, CompareMode::Binary), row.binary);
    EXPECT_EQ(CompareText(row.b, row.a, CompareMode::Binary), -row.binary);
    EXPECT_EQ(CompareText(row.a, row.b, CompareMode::Text), row.text);
    EXPECT_EQ(CompareText(row.b, row.a, CompareMode::Text), -row.text);
  };
  for (const auto& row : texts) check(row);
  for (const auto& row : wide_texts) check(row);
  const std::pair<char32_t, char32_t> folds[] = {
      {U'Z', U'z'},    {0x1E9E, 0xDF},   {0xFF21, 0xFF41},
      {U'A', U'a'},    {0x0130, 0x0130}, {0x0100, 0x0101},
      {U'@', U'@'},    {0x13F8, 0x13F0}, {0xAB70, 0x13A0},
      {U'[', U'['},    {0x0345, 0x03B9}, {0x10400, 0x10428},
      {0xC4, 0xE4},    {0xD800, 0xD800}, {0x1E900, 0x1E922},
      {0xD7, 0xD7},    {0x03A3, 0x03C3}, {0x110000, 0x110000},
      {0xDF, 0xDF},    {0x03C2, 0x03C3}, {0x212A, U'k'},
      {0x2126, 0x03C9}};
  for (const auto& [c, folded] : folds)
    EXPECT_EQ(static_cast<uint32_t>(FoldCase(c)), static_cast<uint32_t>(folded))
        << std::hex << static_cast<uint32_t>(c);
}

}  // namespace
}  // namespace quorvel
