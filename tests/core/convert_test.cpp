#include "quorvel/convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <tuple>

#include "quorvel/dispatch.h"
#include "quorvel/error.h"
#include "test_util.h"

namespace quorvel {
namespace {

using ::quorvel::testing::U8;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kSecond = 1.0 / 86400;
constexpr float kFloatMax = std::numeric_limits<float>::max();

Value Dec(std::u16string_view text) {
  return Value::Decimal(Decimal::Parse(text).value());
}
Value Cur(int64_t scaled) { return Value::Currency(scaled); }
Value Day(double day) { return Value::Date(day); }
using V = Value;

// Widened so that every result is exact (Currency in ten-thousandths).
long double ConvertTo(Kind to, const Value& v) {
  if (to == Kind::Integer) return ToInteger(v);
  if (to == Kind::Long) return ToLong(v);
  if (to == Kind::Byte) return ToByte(v);
  if (to == Kind::Currency) return ToCurrency(v);
  if (to == Kind::Single) return ToSingle(v);
  if (to == Kind::Date) return ToDate(v);
  if (to == Kind::Boolean) return ToBoolean(v);
  if (to == Kind::Decimal) return ToDecimal(v).ToDouble();
  return ToDouble(v);
}

// Half to even everywhere; each target's range on both sides.
TEST(ConvertTest, NumbersByTarget) {
  using enum Kind;
  const std::tuple<Kind, Value, long double> converts[] = {
      {Long, V(2.5), 2},        {Currency, V(1.5f), 15000},
      {Long, V(-1.5), -2},      {Double, Cur(-3), -0.0003},
      {Byte, V(-0.5), 0},       {Currency, V(-0.00025), -2},
      {Long, V(true), -1},      {Integer, V(32767.4), 32767},
      {Long, Cur(25000), 2},    {Currency, V(u"0.00015"), 2},
      {Long, Cur(35000), 4},    {Currency, V(u"0.00025"), 2},
      {Byte, V(254.5), 254},    {Integer, V(-32768.5), -32768},
      {Long, Cur(-5001), -1},   {Boolean, V(u" fAlSe "), false},
      {Long, V(u" 2.5 "), 2},   {Currency, V(u"&HFF"), 2550000},
      {Single, V(kNaN), kNaN},  {Long, V(2.4999999999999996), 2},
      {Long, Dec(u"-3.5"), -4}, {Long, V(2147483647.4), INT32_MAX},
      {Boolean, V(kNaN), true}, {Boolean, V(-0.0), false}};
  for (const auto& [to, v, expected] : converts) {
    const long double got = ConvertTo(to, v);
    EXPECT_TRUE(got == expected || (std::isnan(got) && std::isnan(expected)))
        << static_cast<int>(to) << " of " << U8(TypeName(v));
  }

  EXPECT_EQ(ToSingle(V(0x1.fffffefffffffp127)), kFloatMax);
  EXPECT_EQ(ToDouble(Cur(INT64_MAX)), 922337203685477.5807);
  EXPECT_EQ(ToCurrency(V(u"922337203685477.5807")), INT64_MAX);
  ExpectRaisesStandard(ToCurrency(V(u"922337203685477.5808")), kErrOverflow);

  const Value dict = CreateObject(u"Scripting.Dictionary");
  const std::tuple<Kind, Value, int> raises[] = {
      {Long, dict, 450},       {Integer, V(32767.5), 6},
      {Long, V(kNaN), 6},      {Decimal, V(u"1e29"), 6},
      {Long, V(u""), 13},      {Long, V(2147483647.5), 6},
      {Byte, V(-0.51), 6},     {Long, Value::Nothing(), 91},
      {Currency, V(1e15), 6},  {Long, Cur(21474836475000), 6},
      {Date, V(2958466.0), 6}, {Single, V(0x1.ffffffp127), 6}};
  for (const auto& [to, v, error] : raises)
    ExpectRaisesStandard(ConvertTo(to, v), error);
  for (Kind to :
       {Long, Integer, Byte, Double, Currency, Decimal, Boolean, Date}) {
    ExpectRaisesStandard(ConvertTo(to, Value::Null()), kErrInvalidUseOfNull);
    for (const Value& v :
         {Value(u"abc"), Value::Missing(), MakeArray({Value(1)})})
      ExpectRaisesStandard(ConvertTo(to, v), kErrTypeMismatch);
  }

  // Decimal keeps the digits of text.
  EXPECT_EQ(ToDecimal(Value(u"1.50")).scale(), 2);
}

// &H and &O literals of 16 bits an Integer, of 32 a Long, else a Double.
TEST(ConvertTest, ParseNumberAndIsNumeric) {
  using enum Kind;
  const std::tuple<std::u16string_view, Kind, double> numbers[] = {
      {u".5", Double, 0.5},      {u"&o177777", Integer, -1},
      {u"1.5e2-", Double, -150}, {u"&O37777777777", Long, -1},
      {u"&HFFFF", Integer, -1},  {u"&H8000", Integer, -32768},
      {u"&H10000", Long, 65536}, {u"&H80000000", Long, -2147483648.0},
      {u" \t12\r\n", Double, 12}};
  for (const auto& [text, kind, expected] : numbers) {
    const Value v = ParseNumber(text);
    EXPECT_EQ(v.kind(), kind) << U8(text);
    EXPECT_EQ(ToDouble(v), expected) << U8(text);
    EXPECT_TRUE(IsNumeric(Value(text))) << U8(text);
  }
  EXPECT_EQ(ToDouble(ParseNumber(u"9007199254740993")), 9007199254740992.0);
  EXPECT_TRUE(std::signbit(ParseNumber(u"-0").double_value()));
  EXPECT_EQ(
      ParseNumber(u"0." + std::u16string(400, u'0') + u"1e400").double_value(),
      0.1);
  const std::u16string_view bad[] = {u"",    u"1 2",   u".",    u"1e+",
                                     u"&HG", u"-&H1",  u"0x10", u"&O8",
                                     u"--1", u"1e5.5", u"-1-",  u"\u0661"};
  for (std::u16string_view text : bad) {
    ExpectRaisesStandard(ParseNumber(text), kErrTypeMismatch);
    EXPECT_FALSE(IsNumeric(Value(text))) << U8(text);
  }
  for (std::u16string_view text :
       {u"1e309", u"&H100000000", u"&O40000000000"}) {
    ExpectRaisesStandard(ParseNumber(text), kErrOverflow);
    EXPECT_FALSE(IsNumeric(Value(text))) << U8(text);
  }
  for (const Value& v :
       {Value(), Value(true), Cur(1), Dec(u"1"), Value::Byte(1), Value(1.5f)})
    EXPECT_TRUE(IsNumeric(v)) << U8(TypeName(v));
  for (const Value& v :
       {Day(1), Value::Null(), Value::Missing(), MakeArray({Value(1)}),
        Value::Nothing(), CreateObject(u"Scripting.Dictionary")})
    EXPECT_FALSE(IsNumeric(v)) << U8(TypeName(v));
}

// 15 digits of a Double, 7 of a Single; dates rounded to the second.
TEST(ConvertTest, TextForms) {
  const std::pair<Value, std::u16string_view>
      texts[] = {{Value(-0.0), u"0"},   {Value(1e15), u"1E+15"},
                 {Cur(50), u"0.005"},   {Value(1e-5), u"1E-05"},
                 {Value(kInf), u"INF"}, {Value(0.0001), u"0.0001"},
                 {Cur(-1), u"-0.0001"}, {Dec(u"-1.2500"), u"-1.25"}},
      wide_texts[] = {{Value(999999999999999.5), u"1E+15"},
                      {Value(16777216.0f), u"1.677722E+07"},
                      {Value(1234567.0f), u"1234567"},
                      {Cur(INT64_MIN), u"-922337203685477.5808"},
                      {Value(1234567890123456.0), u"1.23456789012346E+15"}};
  auto check = [](const auto& row) {
    EXPECT_EQ(U8(ToText(row.first)), U8(row.second)) << U8(TypeName(row.first));
  };
  for (const auto& row : texts) check(row);
  for (const auto& row : wide_texts) check(row);
  EXPECT_EQ(U8(DoubleToText(1.7976931348623157e308)), "1.79769313486232E+308");
  EXPECT_EQ(U8(DoubleToText(4.9406564584124654e-324)), "4.94065645841247E-324");

  const std::pair<double, std::u16string_view> dates[] = {
      {1, u"12/31/1899"},        {-1.99999999, u"12:00:00 AM"},
      {0.5, u"12:00:00 PM"},     {-657434.99999999, u"1/2/100"},
      {-657434, u"1/1/100"},     {-1.25, u"12/29/1899 6:00:00 AM"},
      {1.99999999, u"1/1/1900"}, {2958465.99999999, u"12/31/9999 11:59:59 PM"}};
  for (const auto& [day, text] : dates) {
    EXPECT_EQ(U8(DateToText(day)), U8(text)) << day;
    EXPECT_EQ(U8(ToText(Day(day))), U8(text)) << day;
  }
  EXPECT_EQ(U8(DateToText(36526 + 47109 * kSecond)), "1/1/2000 1:05:09 PM");
  EXPECT_EQ(U8(DateToText(36526 + 86399.4 * kSecond)), "1/1/2000 11:59:59 PM");
  for (double bad : {-657435.0, 2958466.0, kNaN, kInf, -1e300}) {
    ExpectRaisesStandard(DateToText(bad), kErrOverflow);
    ExpectRaisesStandard(ToText(Day(bad)), kErrOverflow);
  }
  ExpectRaisesStandard(ToText(Value::Null()), kErrInvalidUseOfNull);
  ExpectRaisesStandard(ToText(MakeArray({})), kErrTypeMismatch);
  ExpectRaisesStandard(ToText(Value::Missing()), kErrTypeMismatch);
  ExpectRaisesStandard(ToText(CreateObject(u"Scripting.Dictionary")),
                       kErrWrongArgumentCount);
  ExpectRaisesStandard(ToText(Value::Nothing()), kErrObjectNotSet);
}

// Years of two digits are 1930 to 2029; each form reads back the same.
TEST(ConvertTest, DatesFromText) {
  const std::pair<std::u16string_view, double> readings[] = {
      {u"12:00 AM", 0},      {u"  1/1/2000  ", 36526},
      {u"1/2/30", 10960},    {u"1:05 pm", 47100 * kSecond},
      {u"1/2/29", 47120},    {u"1/1/100 12:00 PM", -657434.5},
      {u"12:00:00 PM", 0.5}, {u"1/1/2000 1:05:09 PM", 36526 + 47109 * kSecond},
      {u"-1.5", -1.5},       {u"2000-01-01T13:05:09", 36526 + 47109 * kSecond}};
  for (const auto& [text, day] : readings) {
    const double read = ToDate(Value(text));
    EXPECT_DOUBLE_EQ(read, day) << U8(text);
    EXPECT_DOUBLE_EQ(ToDate(Value(DateToText(read))), read) << U8(text);
  }
  EXPECT_DOUBLE_EQ(ToDate(Value(u"12/31/9999 11:59:59 PM")),
                   2958465 + 86399 * kSecond);
  const std::u16string_view unreadable[] = {
      u"",         u"2/29/1900", u"13/1/2000",      u"12:00 XM",
      u"13:00 PM", u"2000/1/1",  u"1/1/2000 24:00", u"1/1/2000T12:00"};
  for (std::u16string_view text : unreadable)
    ExpectRaisesStandard(ToDate(Value(text)), kErrTypeMismatch);
  for (std::u16string_view text : {u"1/1/0099", u"1e7", u"-700000"})
    ExpectRaisesStandard(ToDate(Value(text)), kErrOverflow);
}

// The number and text targets are the typed arrays' stores (ValueTest).
TEST(ConvertTest, ChangeKind) {
  using enum Kind;
  EXPECT_TRUE(ChangeKind(Value(7), Empty).IsEmpty());
  EXPECT_TRUE(ChangeKind(Value(7), Null).IsNull());
  EXPECT_EQ(VarType(ChangeKind(Value(u"0.1"), Decimal)), 14);
  EXPECT_EQ(VarType(ChangeKind(Value(u"1/1/2000"), Date)), 7);
  EXPECT_EQ(ChangeKind(Value(u"x"), Variant).string_view(), u"x");
  ExpectRaisesStandard(ChangeKind(Value(1), Array), kErrTypeMismatch);
  // The kind conversions that keep objects leave them untouched.
  const Value dict = CreateObject(u"Scripting.Dictionary");
  EXPECT_EQ(ChangeKind(dict, Object).object(), dict.object());
}

}  // namespace
}  // namespace quorvel
