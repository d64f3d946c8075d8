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

Value Dec(std::u16string_view text) {
  return Value::Decimal(Decimal::Parse(text).value());
}
Value Cur(int64_t scaled) { return Value::Currency(scaled); }
Value Day(double day) { return Value::Date(day); }

// The conversion to `to`, widened so that every result is exact: Currency in
// ten-thousandths, True as 1, Decimal as its nearest Double.
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

// Half to even everywhere; text read as a number (a sign on either side,
// exponents, &H and &O literals of 16 or 32 bits); the range of each target
// (6), Null (94), what is not a number (13) and an object's default value;
// Currency beyond 2^53 ten-thousandths to the nearest Double.
TEST(ConvertTest, NumbersByTarget) {
  using enum Kind;
  const std::tuple<Kind, Value, long double> converts[] = {
      {Long, Value(0.5), 0},        {Long, Value::Byte(255), 255},
      {Long, Value(1.5), 2},        {Long, Value(int16_t{-7}), -7},
      {Long, Value(2.5), 2},        {Long, Value(u"&H10000"), 65536},
      {Long, Value(-0.5), 0},       {Long, Value(u"&HFFFFFFFF"), -1},
      {Long, Value(-2.5), -2},      {Integer, Value(32767.4), 32767},
      {Long, Value(2.5f), 2},       {Integer, Value(-32768.5), -32768},
      {Long, Day(1.5), 2},          {Integer, Value(u"&HFFFF"), -1},
      {Long, Cur(25000), 2},        {Integer, Value(u"&H8000"), -32768},
      {Long, Cur(35000), 4},        {Currency, Value(u"0.00005"), 0},
      {Long, Cur(-25000), -2},      {Currency, Value(u"0.00015"), 2},
      {Long, Cur(15001), 2},        {Currency, Value(u"0.00025"), 2},
      {Long, Cur(-5001), -1},       {Currency, Value(u"-0.00015"), -2},
      {Long, Dec(u"2.5"), 2},       {Currency, Value(u"&HFF"), 2550000},
      {Long, Dec(u"-3.5"), -4},     {Currency, Value(u"1e3"), 1e7},
      {Long, Value(true), -1},      {Currency, Value(2.5), 25000},
      {Long, Value(), 0},           {Currency, Value(-0.00025), -2},
      {Long, Value(u"12"), 12},     {Currency, Value(1.5f), 15000},
      {Long, Value(u" 2.5 "), 2},   {Currency, Value(int16_t{3}), 30000},
      {Long, Value(u"5-"), -5},     {Currency, Value(true), -10000},
      {Long, Value(u"1e3"), 1000},  {Currency, Dec(u"1.23455"), 12346},
      {Long, Value(u"&HFFFF"), -1}, {Double, Value(u" 1.5e3 "), 1500},
      {Long, Value(u"&O17"), 15},   {Single, Dec(u"1e28"), 1e28f},
      {Byte, Value(254.5), 254},    {Decimal, Value(u"0.1"), 0.1},
      {Byte, Value(-0.5), 0},       {Date, Value(int32_t{2}), 2},
      {Byte, Value(u"&HFF"), 255},  {Date, Value(-657434.99), -657434.99},
      {Byte, Value(), 0},           {Boolean, Value(u"True"), true},
      {Currency, Day(0.5), 5000},   {Boolean, Value(u" false "), false},
      {Double, Cur(-3), -0.0003},   {Boolean, Value(u"TRUE"), true},
      {Double, Dec(u"0.1"), 0.1},   {Boolean, Value(u"fAlSe"), false},
      {Double, Value(true), -1},    {Boolean, Value(u"0"), false},
      {Single, Value(kInf), kInf},  {Boolean, Value(u"-1"), true},
      {Single, Value(kNaN), kNaN},  {Boolean, Value(u"0.0"), false},
      {Date, Value(1.5), 1.5},      {Boolean, Value(u"0.001"), true},
      {Date, Cur(15000), 1.5},      {Boolean, Value(u"&H0"), false},
      {Date, Value(), 0},           {Boolean, Value(-0.0), false},
      {Boolean, Value(0.5), true},  {Boolean, Value(kNaN), true},
      {Boolean, Cur(1), true},      {Boolean, Dec(u"0.000"), false},
      {Boolean, Value(), false},    {Boolean, Value::Byte(0), false},
      {Boolean, Day(0), false},     {Boolean, Value(int16_t{2}), true}};
  for (const auto& [to, v, expected] : converts) {
    const long double got = ConvertTo(to, v);
    EXPECT_TRUE(got == expected || (std::isnan(got) && std::isnan(expected)))
        << static_cast<int>(to) << " of " << U8(TypeName(v));
  }
  EXPECT_EQ(ToLong(Value(2147483647.4)), INT32_MAX);
  EXPECT_EQ(ToLong(Value(-2147483648.5)), INT32_MIN);
  EXPECT_EQ(ToLong(Value(2.4999999999999996)), 2);
  EXPECT_EQ(ToCurrency(Value(u"922337203685477.5807")), INT64_MAX);
  EXPECT_EQ(ToCurrency(Value(u"-922337203685477.5808")), INT64_MIN);
  EXPECT_EQ(ToCurrency(Value(INT32_MIN)), INT32_MIN * 10000LL);
  EXPECT_EQ(ToDouble(Cur(INT64_MAX)), 922337203685477.5807);
  EXPECT_EQ(ToSingle(Value(0x1.fffffefffffffp127)),
            std::numeric_limits<float>::max());

  const Value dict = CreateObject(u"Scripting.Dictionary");
  const std::tuple<Kind, Value, int> raises[] = {
      {Long, Value(kNaN), 6},     {Long, Value(2147483647.5), 6},
      {Long, Value(kInf), 6},     {Long, Value(2147483648.0), 6},
      {Long, Value(-kInf), 6},    {Long, Value(-2147483648.51), 6},
      {Long, Value(3e9f), 6},     {Long, Cur(21474836475000), 6},
      {Long, Dec(u"1e20"), 6},    {Long, Value(u"2147483648"), 6},
      {Long, Value(u"1e400"), 6}, {Long, Value(u"&H100000000"), 6},
      {Long, Day(3e9), 6},        {Long, Value::ErrorCode(5), 13},
      {Long, Value(u""), 13},     {Integer, Value(32767.5), 6},
      {Long, Value(u"1,5"), 13},  {Integer, Value(-32769), 6},
      {Byte, Value(255.5), 6},    {Integer, Value(u"&H10000"), 6},
      {Byte, Value(-0.51), 6},    {Currency, Value(-1e15), 6},
      {Byte, Value(true), 6},     {Single, Value(-3.5e38), 6},
      {Byte, Value(u"256"), 6},   {Single, Value(0x1.ffffffp127), 6},
      {Currency, Value(1e15), 6}, {Single, Value(u"1e39"), 6},
      {Currency, Value(kNaN), 6}, {Decimal, Value(u"1e29"), 6},
      {Currency, Value(kInf), 6}, {Date, Value(-657435.0), 6},
      {Decimal, Value(1e30), 6},  {Date, Value(2958466.0), 6},
      {Date, Value(kNaN), 6},     {Boolean, Value(u"yes"), 13},
      {Boolean, Value(u""), 13},  {Boolean, Value(u"truth"), 13},
      {Boolean, Value(u"T"), 13}, {Boolean, Value(u"true1"), 13},
      {Long, dict, 450},          {Long, Value::Nothing(), 91}};
  for (const auto& [to, v, error] : raises)
    ExpectRaisesStandard(ConvertTo(to, v), error);
  ExpectRaisesStandard(ToCurrency(Value(u"922337203685477.5808")),
                       kErrOverflow);
  ExpectRaisesStandard(ToCurrency(Dec(u"79228162514264337593543950335")),
                       kErrOverflow);
  for (Kind to :
       {Long, Integer, Byte, Double, Currency, Decimal, Boolean, Date}) {
    ExpectRaisesStandard(ConvertTo(to, Value::Null()), kErrInvalidUseOfNull);
    for (const Value& v :
         {Value(u"abc"), Value::Missing(), MakeArray({Value(1)})})
      ExpectRaisesStandard(ConvertTo(to, v), kErrTypeMismatch);
  }

  // Decimal keeps the digits of text, 15 of a Double and 7 of a Single.
  EXPECT_EQ(ToDecimal(Value(u"1.50")).scale(), 2);
  const std::pair<Value, const char*> decimals[] = {
      {Value(0.1), "0.1"},   {Value(0.1f), "0.1"}, {Value(u"&H10"), "16"},
      {Cur(-15000), "-1.5"}, {Value(true), "-1"},  {Value(u"-1.50"), "-1.5"}};
  for (const auto& [v, text] : decimals)
    EXPECT_EQ(U8(ToDecimal(v).ToText()), text);
}

// An Integer for &H and &O literals of 16 bits, a Long for 32, else a
// Double; IsNumeric for what ParseNumber reads and every numeric kind but
// Date.
TEST(ConvertTest, ParseNumberAndIsNumeric) {
  using enum Kind;
  const std::tuple<std::u16string_view, Kind, double> numbers[] = {
      {u"12", Double, 12},      {u"&H80000000", Long, -2147483648.0},
      {u"-12", Double, -12},    {u"&H7FFFFFFF", Long, 2147483647},
      {u"12-", Double, -12},    {u"1.5e2-", Double, -150},
      {u"12+", Double, 12},     {u"4.9e-324", Double, 4.9e-324},
      {u".5", Double, 0.5},     {u"&H8000", Integer, -32768},
      {u"5.", Double, 5},       {u" &H0000FFFF ", Integer, -1},
      {u"1e3", Double, 1000},   {u"&h7fff", Integer, 32767},
      {u"1e-3", Double, 0.001}, {u"&H10000", Long, 65536},
      {u"&HFFFF", Integer, -1}, {u"&HFFFFFFFF", Long, -1},
      {u"0.1", Double, 0.1},    {u"&o177777", Integer, -1},
      {u"1e-400", Double, 0},   {u"&O37777777777", Long, -1},
      {u"&HFF", Integer, 255},  {u" \t12\r\n", Double, 12},
      {u"&O777", Integer, 511}};
  for (const auto& [text, kind, expected] : numbers) {
    const Value v = ParseNumber(text);
    EXPECT_EQ(v.kind(), kind) << U8(text);
    EXPECT_EQ(ToDouble(v), expected) << U8(text);
    EXPECT_TRUE(IsNumeric(Value(text))) << U8(text);
  }
  EXPECT_EQ(ToDouble(ParseNumber(u"123456789012345678901234567890")),
            123456789012345678901234567890.0);
  EXPECT_EQ(ToDouble(ParseNumber(u"1.7976931348623157e308")),
            1.7976931348623157e308);
  EXPECT_EQ(ToDouble(ParseNumber(u"9007199254740993")), 9007199254740992.0);
  EXPECT_TRUE(std::signbit(ParseNumber(u"-0").double_value()));
  EXPECT_EQ(
      ParseNumber(u"0." + std::u16string(400, u'0') + u"1e400").double_value(),
      0.1);
  const std::u16string_view bad[] = {
      u"",      u"abc",  u"&O8",    u"1,000", u"  ",   u"--1",     u"&Z1",
      u"1.2.3", u"1e",   u"-1-",    u"- 1",   u"-&H1", u"e5",      u"+-1",
      u"1 2",   u"0x10", u".",      u"1e+",   u"&H-1", u"\u00A05", u"-",
      u"&H",    u"1d5",  u"\u0661", u"&",     u"&HG",  u"1.e",     u"1e5.5"};
  for (std::u16string_view text : bad) {
    ExpectRaisesStandard(ParseNumber(text), kErrTypeMismatch);
    EXPECT_FALSE(IsNumeric(Value(text))) << U8(text);
  }
  for (const std::u16string& text :
       {std::u16string(u"1e309"), std::u16string(u"-1e309"),
        std::u16string(u"&H100000000"), std::u16string(u"&O40000000000"),
        std::u16string(u"&H00000000100000000"),
        u"1" + std::u16string(400, u'0')}) {
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

// Doubles at 15 digits and Singles at 7, the exponent form from 1E+15 and
// below 1E-04 after rounding; dates as M/d/yyyy h:mm:ss AM, the time left out
// at midnight and the date on day 0, rounded to the second (which may carry
// into the next day).
TEST(ConvertTest, TextForms) {
  const std::pair<Value, std::u16string_view> texts[] = {
      {Value(), u""},           {Value(u"text"), u"text"},
      {Value(0.0), u"0"},       {Value(0.1 + 0.2), u"0.3"},
      {Value(-0.0), u"0"},      {Value(0.0001), u"0.0001"},
      {Cur(50), u"0.005"},      {Value::Byte(255), u"255"},
      {Value(0.1), u"0.1"},     {Value(1.5e-7), u"1.5E-07"},
      {Value(-0.0f), u"0"},     {Dec(u"-1.2500"), u"-1.25"},
      {Cur(15000), u"1.5"},     {Value(0.00015), u"0.00015"},
      {Value(kInf), u"INF"},    {Value(1.5e-7f), u"1.5E-07"},
      {Value(0.1f), u"0.1"},    {Value(123456.7), u"123456.7"},
      {Cur(-1), u"-0.0001"},    {Value(1.0f / 3), u"0.3333333"},
      {Value(-1.5), u"-1.5"},   {Value(1234567.0f), u"1234567"},
      {Value(true), u"True"},   {Value(1e14), u"100000000000000"},
      {Cur(1230000), u"123"},   {Value(INT32_MIN), u"-2147483648"},
      {Value(1e15), u"1E+15"},  {Value(int16_t{-32768}), u"-32768"},
      {Value(1e-5), u"1E-05"},  {Value(999999999999999.5), u"1E+15"},
      {Value(-kInf), u"-INF"},  {Value(16777216.0f), u"1.677722E+07"},
      {Value(1e7f), u"1E+07"},  {Value(1.0 / 3), u"0.333333333333333"},
      {Value(false), u"False"}, {Value(2.0 / 3), u"0.666666666666667"}};
  for (const auto& [v, text] : texts) {
    EXPECT_EQ(U8(ToText(v)), U8(text)) << U8(TypeName(v));
    if (v.kind() == Kind::Double) {
      EXPECT_EQ(U8(DoubleToText(v.double_value())), U8(text));
    }
  }
  EXPECT_EQ(U8(ToText(Value(123456789012345.0))), "123456789012345");
  EXPECT_EQ(U8(ToText(Value(1234567890123456.0))), "1.23456789012346E+15");
  EXPECT_EQ(U8(ToText(Value(3.4028235e38f))), "3.402823E+38");
  EXPECT_EQ(U8(ToText(Cur(INT64_MAX))), "922337203685477.5807");
  EXPECT_EQ(U8(ToText(Cur(INT64_MIN))), "-922337203685477.5808");
  EXPECT_EQ(U8(DoubleToText(1.7976931348623157e308)), "1.79769313486232E+308");
  EXPECT_EQ(U8(DoubleToText(4.9406564584124654e-324)), "4.94065645841247E-324");

  const std::pair<double, std::u16string_view> dates[] = {
      {1, u"12/31/1899"},        {-1.99999999, u"12:00:00 AM"},
      {1.99999999, u"1/1/1900"}, {-657434.99999999, u"1/2/100"},
      {0, u"12:00:00 AM"},       {-1.25, u"12/29/1899 6:00:00 AM"},
      {-1, u"12/29/1899"},       {45000.75, u"3/15/2023 6:00:00 PM"},
      {36526, u"1/1/2000"},      {-657434.5, u"1/1/100 12:00:00 PM"},
      {0.5, u"12:00:00 PM"},     {0.75 + 59 * kSecond, u"6:00:59 PM"},
      {36585, u"2/29/2000"},     {36526 + 86399.6 * kSecond, u"1/2/2000"},
      {-657434, u"1/1/100"},     {2958465.99999999, u"12/31/9999 11:59:59 PM"},
      {-0.5, u"12:00:00 PM"},    {36526.5, u"1/1/2000 12:00:00 PM"},
      {2958465, u"12/31/9999"}};
  for (const auto& [day, text] : dates) {
    EXPECT_EQ(U8(DateToText(day)), U8(text)) << day;
    EXPECT_EQ(U8(ToText(Day(day))), U8(text)) << day;
  }
  EXPECT_EQ(U8(DateToText(36526 + 30.0 / 1440)), "1/1/2000 12:30:00 AM");
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

// M/d/yyyy or yyyy-MM-dd, a time of 12 or 24 hours, or a time alone; years of
// two digits are 1930 to 2029. Each form reads back as the same moment.
TEST(ConvertTest, DatesFromText) {
  const std::pair<std::u16string_view, double> readings[] = {
      {u"1/1/2000", 36526},  {u"13:05:09", 47109 * kSecond},
      {u"2000-1-1", 36526},  {u"1:05 pm", 47100 * kSecond},
      {u"45000", 45000},     {u"23:59:59", 86399 * kSecond},
      {u"-1.5", -1.5},       {u"1/1/100 12:00 PM", -657434.5},
      {u"12:00 AM", 0},      {u"12/29/1899 6:00 AM", -1.25},
      {u"1/2/30", 10960},    {u"1/1/2000 13:05:09", 36526 + 47109 * kSecond},
      {u"1/2/29", 47120},    {u"1/1/2000 1:05:09 PM", 36526 + 47109 * kSecond},
      {u"1/1/100", -657434}, {u"2000-01-01 13:05", 36526 + 47100 * kSecond},
      {u"12/30/1899", 0},    {u"2000-01-01T13:05:09", 36526 + 47109 * kSecond},
      {u"2/29/2000", 36585}, {u"2000-01-01", 36526},
      {u"12:00:00 PM", 0.5}, {u"  1/1/2000  ", 36526}};
  for (const auto& [text, day] : readings) {
    const double read = ToDate(Value(text));
    EXPECT_DOUBLE_EQ(read, day) << U8(text);
    EXPECT_DOUBLE_EQ(ToDate(Value(DateToText(read))), read) << U8(text);
  }
  EXPECT_DOUBLE_EQ(ToDate(Value(u"12/31/9999 11:59:59 PM")),
                   2958465 + 86399 * kSecond);
  const std::u16string_view unreadable[] = {u"2/30/2000",
                                            u"2/29/1900",
                                            u"13/1/2000",
                                            u"0/1/2000",
                                            u"1/0/2000",
                                            u"1/1/2000 24:00",
                                            u"1/1/2000 12:60",
                                            u"abc",
                                            u"1/1/2000 1:2:60",
                                            u"",
                                            u"1/1/2000T12:00",
                                            u"2000-1-1x",
                                            u"12:00 XM",
                                            u"13:00 PM",
                                            u"1/1/12345",
                                            u"1/1",
                                            u"2000/1/1",
                                            u"1/1/2000 12",
                                            u"12:",
                                            u"1-1-2000"};
  for (std::u16string_view text : unreadable)
    ExpectRaisesStandard(ToDate(Value(text)), kErrTypeMismatch);
  for (std::u16string_view text : {u"1/1/0099", u"1e7", u"-700000"})
    ExpectRaisesStandard(ToDate(Value(text)), kErrOverflow);
}

TEST(ConvertTest, ChangeKind) {
  using enum Kind;
  const std::tuple<Value, Kind, int32_t, std::u16string_view> changes[] = {
      {Value(2.5), Long, 3, u"2"},     {Value(u"12"), Integer, 2, u"12"},
      {Value(1.0), String, 8, u"1"},   {Value(true), String, 8, u"True"},
      {Value(3), Currency, 6, u"3"},   {Value(u"true"), Boolean, 11, u"True"},
      {Value(200), Byte, 17, u"200"},  {Value(u"0.1"), Decimal, 14, u"0.1"},
      {Value(1.5), Single, 4, u"1.5"}, {Value(u"1.5"), Double, 5, u"1.5"},
      {Value(7), Empty, 0, u""},       {Value(u"x"), Variant, 8, u"x"},
      {Value(u"x"), Object, 8, u"x"}};
  for (const auto& [v, target, var_type, text] : changes) {
    const Value changed = ChangeKind(v, target);
    EXPECT_EQ(VarType(changed), var_type) << U8(text);
    EXPECT_EQ(U8(ToText(changed)), U8(text));
  }
  EXPECT_EQ(VarType(ChangeKind(Value(u"1/1/2000"), Date)), 7);
  EXPECT_TRUE(ChangeKind(Value(7), Null).IsNull());
  ExpectRaisesStandard(ChangeKind(Value(300), Byte), kErrOverflow);
  ExpectRaisesStandard(ChangeKind(Value(u"x"), Long), kErrTypeMismatch);
  ExpectRaisesStandard(ChangeKind(Value(1), Array), kErrTypeMismatch);
  // The kind conversions that keep objects leave them untouched.
  const Value dict = CreateObject(u"Scripting.Dictionary");
  EXPECT_EQ(ChangeKind(dict, Object).object(), dict.object());
}

}  // namespace
}  // namespace quorvel
