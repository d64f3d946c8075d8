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

Value Dec(std::u16string_view text) {
  return Value::Decimal(Decimal::Parse(text).value());
}
Value Cur(int64_t scaled) { return Value::Currency(scaled); }
Value Day(double day) { return Value::Date(day); }

// Currency and Decimal compare exactly: 0.0001 is not an exact Double.
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
       {Cur(1), Value(0.0001), Less},   {Dec(u"3"), Value(true), Greater},
       {Cur(20001), Value(2), Greater}, {Value(nan), Value(nan), Equal}},
    wide_rows[] = {{Value(nan), Cur(INT64_MIN), Less},
                   {Value(INT32_MAX), Value(2147483648.0f), Less},
                   {Value(u"\uFFFF"), Value(u"\U00010400"), Greater},
                   {Dec(u"2.50001"), Cur(25000), Greater},
                   {Dec(u"79228162514264337593543950335"),
                    Dec(u"0.0000000000000000000000000001"), Greater},
                   {Dec(u"7.9228162514264337593543950335"),
                    Dec(u"7.9228162514264337593543950334"), Greater},
                   {Cur(INT64_MAX), Value(922337203685477.5807), Less},
                   {Cur(INT64_MIN), Value(-922337203685477.5808), Greater}};
  auto check = [](const auto& row) {
    const Comparison reversed = row.expected == Less      ? Greater
                                : row.expected == Greater ? Less
                                                          : row.expected;
    EXPECT_EQ(Compare(row.a, row.b), row.expected)
        << U8(TypeName(row.a)) << " vs " << U8(TypeName(row.b));
    EXPECT_EQ(Compare(row.b, row.a), reversed)
        << U8(TypeName(row.b)) << " vs " << U8(TypeName(row.a));
  };
  for (const auto& row : rows) check(row);
  for (const auto& row : wide_rows) check(row);

  // Null wins before anything else is looked at.
  const Value dict = CreateObject(u"Scripting.Dictionary");
  for (const Value& v : {Value::Null(), Value(1), MakeArray({}),
                         Value::Missing(), Value::Nothing(), dict}) {
    EXPECT_EQ(Compare(Value::Null(), v), Null) << U8(TypeName(v));
    EXPECT_EQ(Compare(v, Value::Null()), Null) << U8(TypeName(v));
    EXPECT_FALSE(ValueLess(v, Value::Null()) || ValueEqual(v, Value::Null()) ||
                 ValueGreater(v, Value::Null()));
  }
  for (const Value& v :
       {MakeArray({Value(1)}), Value::Missing(), Value::ErrorCode(5)}) {
    ExpectRaisesStandard(Compare(v, Value(u"a")), kErrTypeMismatch);
    ExpectRaisesStandard(Compare(Value(1), v), kErrTypeMismatch);
  }
  ExpectRaisesStandard(Compare(dict, Value(1)), kErrWrongArgumentCount);
  ExpectRaisesStandard(Compare(Value(u"a"), Value::Nothing()),
                       kErrObjectNotSet);
}

// Text mode folds simply (no ß to "ss") and orders by code point.
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
               {u"", u"a", -1, -1},     {u"\u03C2", u"\u03C3", -1, 0},
               {u"\u0130", u"i", 1, 1}, {u"\uFFFF", u"\U00010400", 1, -1}},
    wide_texts[] = {{u"stra\u00DFe", u"STRASSE", 1, 1},
                    {u"a", std::u16string(u"A\0", 2), 1, -1},
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
      {U'Z', U'z'},         {0x1E9E, 0xDF},   {U'@', U'@'},
      {U'[', U'['},         {0x0345, 0x03B9}, {0xD800, 0xD800},
      {0x110000, 0x110000}, {0x2126, 0x03C9}};
  for (const auto& [c, folded] : folds)
    EXPECT_EQ(static_cast<uint32_t>(FoldCase(c)), static_cast<uint32_t>(folded))
        << std::hex << static_cast<uint32_t>(c);
}

}  // namespace
}  // namespace quorvel
