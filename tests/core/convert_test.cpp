#include "quorvel/convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "quorvel/dispatch.h"
#include "quorvel/error.h"
#include "test_util.h"

namespace quorvel {
namespace {

using ::quorvel::testing::U8;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Value Dec(std::u16string_view text) {
  return Value::Decimal(Decimal::Parse(text).value());
}

void ExpectTypeMismatch(const Value& v) {
  ExpectRaises(ToLong(v), 13, u"KxQuorvel", u"Type mismatch");
  ExpectRaises(ToDouble(v), 13, u"KxQuorvel", u"Type mismatch");
  ExpectRaises(ToCurrency(v), 13, u"KxQuorvel", u"Type mismatch");
  ExpectRaises(ToDecimal(v), 13, u"KxQuorvel", u"Type mismatch");
  ExpectRaises(ToBoolean(v), 13, u"KxQuorvel", u"Type mismatch");
  ExpectRaises(ToDate(v), 13, u"KxQuorvel", u"Type mismatch");
}

TEST(ConvertToLongTest, RoundsHalfToEven) {
  struct Row {
    Value v;
    int32_t expected;
  };
  const Row rows[] = {
      {Value(0.5), 0},
      {Value(1.5), 2},
      {Value(2.5), 2},
      {Value(-0.5), 0},
      {Value(-2.5), -2},
      {Value(2.4999999999999996), 2},
      {Value(2147483647.4), 2147483647},
      {Value(-2147483648.5), INT32_MIN},
      {Value(2.5f), 2},
      {Value::Date(1.5), 2},
      {Value::Currency(25000), 2},
      {Value::Currency(35000), 4},
      {Value::Currency(-25000), -2},
      {Value::Currency(15001), 2},
      {Value::Currency(-5001), -1},
      {Dec(u"2.5"), 2},
      {Dec(u"-3.5"), -4},
      {Value(true), -1},
      {Value(), 0},
      {Value::Byte(255), 255},
      {Value(int16_t{-7}), -7},
      {Value(u"12"), 12},
      {Value(u" 2.5 "), 2},
      {Value(u"5-"), -5},
      {Value(u"1e3"), 1000},
      {Value(u"&HFFFF"), -1},  // an Integer literal
      {Value(u"&H10000"), 65536},
      {Value(u"&HFFFFFFFF"), -1},
      {Value(u"&O17"), 15},
  };
  for (const Row& row : rows)
    EXPECT_EQ(ToLong(row.v), row.expected) << U8(TypeName(row.v));
}

TEST(ConvertToLongTest, RaisesOverflowNullAndTypeMismatch) {
  const Value overflows[] = {
      Value(2147483647.5),   Value(2147483648.0),
      Value(-2147483648.51), Value(kNaN),
      Value(kInf),           Value(-kInf),
      Value(3e9f),           Value::Currency(21474836475000),
      Dec(u"1e20"),          Value(u"2147483648"),
      Value(u"1e400"),       Value(u"&H100000000"),
      Value::Date(3e9)};
  for (const Value& v : overflows)
    ExpectRaises(ToLong(v), 6, u"KxQuorvel", u"Overflow");
  ExpectRaises(ToLong(Value::Null()), 94, u"KxQuorvel", u"Invalid use of Null");
  const Value mismatches[] = {Value(u"abc"),    Value(u""),
                              Value(u"1,5"),    MakeArray({Value(1)}),
                              Value::Missing(), Value::ErrorCode(5)};
  for (const Value& v : mismatches)
    ExpectRaises(ToLong(v), 13, u"KxQuorvel", u"Type mismatch");
}

TEST(ConvertToLongTest, IntegerAndByteRanges) {
  EXPECT_EQ(ToInteger(Value(32767.4)), 32767);
  EXPECT_EQ(ToInteger(Value(-32768.5)), -32768);
  EXPECT_EQ(ToInteger(Value(u"&HFFFF")), -1);
  EXPECT_EQ(ToInteger(Value(u"&H8000")), -32768);
  ExpectRaises(ToInteger(Value(32767.5)), 6, u"KxQuorvel", u"Overflow");
  ExpectRaises(ToInteger(Value(-32769)), 6, u"KxQuorvel", u"Overflow");
  ExpectRaises(ToInteger(Value(u"&H10000")), 6, u"KxQuorvel", u"Overflow");
  EXPECT_EQ(ToByte(Value(254.5)), 254);
  EXPECT_EQ(ToByte(Value(-0.5)), 0);
  EXPECT_EQ(ToByte(Value(u"&HFF")), 255);
  EXPECT_EQ(ToByte(Value()), 0);
  ExpectRaises(ToByte(Value(255.5)), 6, u"KxQuorvel", u"Overflow");
  ExpectRaises(ToByte(Value(-0.51)), 6, u"KxQuorvel", u"Overflow");
  ExpectRaises(ToByte(Value(true)), 6, u"KxQuorvel", u"Overflow");
  ExpectRaises(ToByte(Value(u"256")), 6, u"KxQuorvel", u"Overflow");
  ExpectRaises(ToByte(Value::Null()), 94, u"KxQuorvel", u"Invalid use of Null");
}

TEST(ConvertParseNumberTest, ReadsEveryForm) {
  struct Row {
    std::u16string_view text;
    Kind kind;
    double expected;
  };
  const Row rows[] = {
      {u"12", Kind::Double, 12},
      {u" \t12\r\n", Kind::Double, 12},
      {u"-12", Kind::Double, -12},
      {u"12-", Kind::Double, -12},
      {u"12+", Kind::Double, 12},
      {u".5", Kind::Double, 0.5},
      {u"5.", Kind::Double, 5},
      {u"1e3", Kind::Double, 1000},
      {u"1e-3", Kind::Double, 0.001},
      {u"1.5e2-", Kind::Double, -150},
      {u"0.1", Kind::Double, 0.1},
      {u"1e-400", Kind::Double, 0},
      {u"4.9e-324", Kind::Double, 4.9e-324},
      {u"1.7976931348623157e308", Kind::Double, 1.7976931348623157e308},
      {u"123456789012345678901234567890", Kind::Double,
       123456789012345678901234567890.0},
      {u"9007199254740993", Kind::Double, 9007199254740992.0},
      {u"&HFF", Kind::Integer, 255},
      {u"&h7fff", Kind::Integer, 32767},
      {u"&H8000", Kind::Integer, -32768},
      {u"&HFFFF", Kind::Integer, -1},
      {u" &H0000FFFF ", Kind::Integer, -1},
      {u"&H10000", Kind::Long, 65536},
      {u"&H7FFFFFFF", Kind::Long, 2147483647},
      {u"&H80000000", Kind::Long, -2147483648.0},
      {u"&HFFFFFFFF", Kind::Long, -1},
      {u"&O777", Kind::Integer, 511},
      {u"&o177777", Kind::Integer, -1},
      {u"&O37777777777", Kind::Long, -1},
  };
  for (const Row& row : rows) {
    Value v = ParseNumber(row.text);
    EXPECT_EQ(v.kind(), row.kind) << U8(row.text);
    EXPECT_EQ(ToDouble(v), row.expected) << U8(row.text);
    EXPECT_TRUE(IsNumeric(Value(row.text))) << U8(row.text);
  }
  EXPECT_TRUE(std::signbit(ParseNumber(u"-0").double_value()));
}

TEST(ConvertParseNumberTest, RejectsWhatIsNotANumber) {
  const std::u16string_view bad[] = {
      u"",     u"  ",  u"abc",  u"1,000",   u"1.2.3",  u"--1",   u"-1-",
      u"+-1",  u"1e",  u"1e+",  u"e5",      u".",      u"-",     u"&H",
      u"&HG",  u"&O8", u"&Z1",  u"&",       u"- 1",    u"1 2",   u"&H-1",
      u"-&H1", u"1d5", u"0x10", u"\u00A05", u"\u0661", u"1e5.5", u"1.e"};
  for (std::u16string_view text : bad) {
    ExpectRaises(ParseNumber(text), 13, u"KxQuorvel", u"Type mismatch");
    EXPECT_FALSE(IsNumeric(Value(text))) << U8(text);
  }
  const std::u16string_view too_large[] = {u"1e309", u"-1e309", u"&H100000000",
                                           u"&O40000000000",
                                           u"&H00000000100000000"};
  for (std::u16string_view text : too_large) {
    ExpectRaises(ParseNumber(text), 6, u"KxQuorvel", u"Overflow");
    EXPECT_FALSE(IsNumeric(Value(text))) << U8(text);
  }
  ExpectRaises(ParseNumber(u"1" + std::u16string(400, u'0')), 6, u"KxQuorvel",
               u"Overflow");
  EXPECT_EQ(
      ParseNumber(u"0." + std::u16string(400, u'0') + u"1e400").double_value(),
      0.1);
}

TEST(ConvertIsNumericTest, ByKind) {
  EXPECT_TRUE(IsNumeric(Value()));
  EXPECT_TRUE(IsNumeric(Value(true)));
  EXPECT_TRUE(IsNumeric(Value::Currency(1)));
  EXPECT_TRUE(IsNumeric(Dec(u"1")));
  EXPECT_TRUE(IsNumeric(Value::Byte(1)));
  EXPECT_TRUE(IsNumeric(Value(1.5f)));
  EXPECT_FALSE(IsNumeric(Value::Date(1)));
  EXPECT_FALSE(IsNumeric(Value::Null()));
  EXPECT_FALSE(IsNumeric(Value::Missing()));
  EXPECT_FALSE(IsNumeric(MakeArray({Value(1)})));
  EXPECT_FALSE(IsNumeric(Value::Nothing()));
}

TEST(ConvertToTextTest, DoubleAndSingleForms) {
  struct Row {
    double v;
    std::u16string_view expected;
  };
  const Row doubles[] = {
      {0.0, u"0"},
      {-0.0, u"0"},
      {-1.5, u"-1.5"},
      {0.1, u"0.1"},
      {0.1 + 0.2, u"0.3"},
      {1.0 / 3, u"0.333333333333333"},
      {2.0 / 3, u"0.666666666666667"},
      {123456.7, u"123456.7"},
      {1e14, u"100000000000000"},
      {123456789012345.0, u"123456789012345"},
      {1e15, u"1E+15"},
      {1234567890123456.0, u"1.23456789012346E+15"},
      // The exponent is the one after rounding to 15 digits.
      {999999999999999.5, u"1E+15"},
      {0.0001, u"0.0001"},
      {0.00015, u"0.00015"},
      {1e-5, u"1E-05"},
      {1.5e-7, u"1.5E-07"},
      {1.7976931348623157e308, u"1.79769313486232E+308"},
      {4.9406564584124654e-324, u"4.94065645841247E-324"},
      {kInf, u"INF"},
      {-kInf, u"-INF"},
  };
  for (const Row& row : doubles) {
    EXPECT_EQ(U8(DoubleToText(row.v)), U8(row.expected)) << row.v;
    EXPECT_EQ(U8(ToText(Value(row.v))), U8(row.expected)) << row.v;
  }
  struct SingleRow {
    float v;
    std::u16string_view expected;
  };
  const SingleRow singles[] = {
      {0.1f, u"0.1"},           {1.0f / 3, u"0.3333333"},
      {1234567.0f, u"1234567"}, {16777216.0f, u"1.677722E+07"},
      {1e7f, u"1E+07"},         {3.4028235e38f, u"3.402823E+38"},
      {1.5e-7f, u"1.5E-07"},    {-0.0f, u"0"},
  };
  for (const SingleRow& row : singles)
    EXPECT_EQ(U8(ToText(Value(row.v))), U8(row.expected)) << row.v;
}

TEST(ConvertToTextTest, OtherKinds) {
  struct Row {
    Value v;
    std::u16string_view expected;
  };
  const Row rows[] = {
      {Value(), u""},
      {Value(true), u"True"},
      {Value(false), u"False"},
      {Value(int16_t{-32768}), u"-32768"},
      {Value(INT32_MIN), u"-2147483648"},
      {Value::Byte(255), u"255"},
      {Value::Currency(15000), u"1.5"},
      {Value::Currency(-1), u"-0.0001"},
      {Value::Currency(50), u"0.005"},
      {Value::Currency(1230000), u"123"},
      {Value::Currency(INT64_MAX), u"922337203685477.5807"},
      {Value::Currency(INT64_MIN), u"-922337203685477.5808"},
      {Dec(u"-1.2500"), u"-1.25"},
      {Value(u"text"), u"text"},
      {Value::Date(36526.5), u"1/1/2000 12:00:00 PM"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(U8(ToText(row.v)), U8(row.expected)) << U8(TypeName(row.v));
  ExpectRaises(ToText(Value::Null()), 94, u"KxQuorvel", u"Invalid use of Null");
  ExpectRaises(ToText(MakeArray({})), 13, u"KxQuorvel", u"Type mismatch");
  ExpectRaises(ToText(Value::Missing()), 13, u"KxQuorvel", u"Type mismatch");
}

TEST(ConvertToTextTest, DateForms) {
  constexpr double kSecond = 1.0 / 86400;
  struct Row {
    double day;
    std::u16string_view expected;
  };
  const Row rows[] = {
      {0, u"12:00:00 AM"},
      {0.5, u"12:00:00 PM"},
      {-0.5, u"12:00:00 PM"},
      {0.75 + 59 * kSecond, u"6:00:59 PM"},
      {1, u"12/31/1899"},
      {-1, u"12/29/1899"},
      {-1.25, u"12/29/1899 6:00:00 AM"},
      {36526, u"1/1/2000"},
      {36526 + 30.0 / 1440, u"1/1/2000 12:30:00 AM"},
      {36526 + 13.0 / 24 + 5.0 / 1440 + 9 * kSecond, u"1/1/2000 1:05:09 PM"},
      {36585, u"2/29/2000"},
      {45000.75, u"3/15/2023 6:00:00 PM"},
      {36526 + 86399.4 * kSecond, u"1/1/2000 11:59:59 PM"},
      // Rounding to the second carries into the next day.
      {36526 + 86399.6 * kSecond, u"1/2/2000"},
      {1.99999999, u"1/1/1900"},
      {-1.99999999, u"12:00:00 AM"},
      {-657434, u"1/1/100"},
      {-657434.5, u"1/1/100 12:00:00 PM"},
      {-657434.99999999, u"1/2/100"},
      {2958465, u"12/31/9999"},
      {2958465.99999999, u"12/31/9999 11:59:59 PM"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(U8(DateToText(row.day)), U8(row.expected)) << row.day;
    EXPECT_EQ(U8(ToText(Value::Date(row.day))), U8(row.expected)) << row.day;
  }
  for (double day : {-657435.0, 2958466.0, kNaN, kInf, -1e300})
    ExpectRaises(DateToText(day), 6, u"KxQuorvel", u"Overflow");
}

TEST(ConvertToDateTest, ReadsDateText) {
  constexpr double kSecond = 1.0 / 86400;
  struct Row {
    std::u16string_view text;
    double expected;
  };
  const Row rows[] = {
      {u"1/1/2000", 36526},
      {u"  1/1/2000  ", 36526},
      {u"2000-01-01", 36526},
      {u"2000-1-1", 36526},
      {u"12/30/1899", 0},
      {u"12/29/1899 6:00 AM", -1.25},
      {u"1/1/2000 1:05:09 PM", 36526 + 46800 * kSecond + 309 * kSecond},
      {u"1/1/2000 13:05:09", 36526 + 47109 * kSecond},
      {u"2000-01-01T13:05:09", 36526 + 47109 * kSecond},
      {u"2000-01-01 13:05", 36526 + 47100 * kSecond},
      {u"13:05:09", 47109 * kSecond},
      {u"1:05 pm", 46800 * kSecond + 300 * kSecond},
      {u"12:00 AM", 0},
      {u"12:00:00 PM", 0.5},
      {u"23:59:59", 86399 * kSecond},
      {u"2/29/2000", 36585},
      {u"1/2/30", 10960},
      {u"1/2/29", 47120},
      {u"1/1/100", -657434},
      {u"1/1/100 12:00 PM", -657434.5},
      {u"12/31/9999 11:59:59 PM", 2958465 + 86399 * kSecond},
      {u"45000", 45000},
      {u"-1.5", -1.5},
  };
  for (const Row& row : rows) {
    EXPECT_DOUBLE_EQ(ToDate(Value(row.text)), row.expected) << U8(row.text);
    // The text form reads back as the same moment.
    double day = ToDate(Value(row.text));
    EXPECT_DOUBLE_EQ(ToDate(Value(DateToText(day))), day) << U8(row.text);
  }
  const std::u16string_view unreadable[] = {u"2/30/2000",
                                            u"2/29/1900",
                                            u"13/1/2000",
                                            u"0/1/2000",
                                            u"1/0/2000",
                                            u"1/1/2000 24:00",
                                            u"1/1/2000 12:60",
                                            u"1/1/2000 1:2:60",
                                            u"abc",
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
    ExpectRaises(ToDate(Value(text)), 13, u"KxQuorvel", u"Type mismatch");
  for (std::u16string_view text : {u"1/1/0099", u"1e7", u"-700000"})
    ExpectRaises(ToDate(Value(text)), 6, u"KxQuorvel", u"Overflow");
}

TEST(ConvertToDateTest, NumbersAreDayNumbers) {
  EXPECT_EQ(ToDate(Value(1.5)), 1.5);
  EXPECT_EQ(ToDate(Value(int32_t{2})), 2);
  EXPECT_EQ(ToDate(Value::Currency(15000)), 1.5);
  EXPECT_EQ(ToDate(Value()), 0);
  EXPECT_EQ(ToDate(Value(-657434.99)), -657434.99);
  for (double day : {-657435.0, 2958466.0, kNaN})
    ExpectRaises(ToDate(Value(day)), 6, u"KxQuorvel", u"Overflow");
  ExpectRaises(ToDate(Value::Null()), 94, u"KxQuorvel", u"Invalid use of Null");
  ExpectRaises(ToDate(MakeArray({})), 13, u"KxQuorvel", u"Type mismatch");
}

TEST(ConvertOtherTest, ToBoolean) {
  struct Row {
    Value v;
    bool expected;
  };
  const Row rows[] = {
      {Value(u"True"), true},  {Value(u" false "), false},
      {Value(u"TRUE"), true},  {Value(u"fAlSe"), false},
      {Value(u"0"), false},    {Value(u"-1"), true},
      {Value(u"0.0"), false},  {Value(u"0.001"), true},
      {Value(u"&H0"), false},  {Value(0.5), true},
      {Value(-0.0), false},    {Value(kNaN), true},
      {Dec(u"0.000"), false},  {Value::Currency(1), true},
      {Value(), false},        {Value::Byte(0), false},
      {Value::Date(0), false}, {Value(int16_t{2}), true},
  };
  for (const Row& row : rows)
    EXPECT_EQ(ToBoolean(row.v), row.expected) << U8(ToText(row.v));
  for (std::u16string_view text : {u"yes", u"", u"T", u"truth", u"true1"})
    ExpectRaises(ToBoolean(Value(text)), 13, u"KxQuorvel", u"Type mismatch");
  ExpectRaises(ToBoolean(Value::Null()), 94, u"KxQuorvel",
               u"Invalid use of Null");
}

TEST(ConvertOtherTest, ToCurrencyReadsTextExactly) {
  struct Row {
    Value v;
    int64_t expected;
  };
  const Row rows[] = {
      {Value(u"0.00005"), 0},
      {Value(u"0.00015"), 2},
      {Value(u"0.00025"), 2},
      {Value(u"-0.00015"), -2},
      {Value(u"922337203685477.5807"), INT64_MAX},
      {Value(u"-922337203685477.5808"), INT64_MIN},
      {Value(u"&HFF"), 2550000},
      {Value(u"1e3"), 10000000},
      {Value(2.5), 25000},
      {Value(-0.00025), -2},
      {Value(1.5f), 15000},
      {Value(int16_t{3}), 30000},
      {Value(true), -10000},
      {Value(INT32_MIN), int64_t{INT32_MIN} * 10000},
      {Dec(u"1.23455"), 12346},
      {Value::Date(0.5), 5000},
  };
  for (const Row& row : rows)
    EXPECT_EQ(ToCurrency(row.v), row.expected) << U8(ToText(row.v));
  for (const Value& v :
       {Value(u"922337203685477.5808"), Value(1e15), Value(-1e15), Value(kNaN),
        Value(kInf), Dec(u"79228162514264337593543950335")})
    ExpectRaises(ToCurrency(v), 6, u"KxQuorvel", u"Overflow");
  ExpectTypeMismatch(Value(u"abc"));
  ExpectTypeMismatch(Value::Missing());
  ExpectTypeMismatch(MakeArray({Value(1)}));
}

TEST(ConvertOtherTest, ToDoubleSingleAndDecimal) {
  // Currency beyond 2^53 ten-thousandths still converts to the nearest
  // double.
  EXPECT_EQ(ToDouble(Value::Currency(INT64_MAX)), 922337203685477.5807);
  EXPECT_EQ(ToDouble(Value::Currency(-3)), -0.0003);
  EXPECT_EQ(ToDouble(Dec(u"0.1")), 0.1);
  EXPECT_EQ(ToDouble(Value(u" 1.5e3 ")), 1500);
  EXPECT_EQ(ToDouble(Value(true)), -1);
  ExpectRaises(ToDouble(Value::Null()), 94, u"KxQuorvel",
               u"Invalid use of Null");

  EXPECT_EQ(ToSingle(Value(0x1.fffffefffffffp127)),
            std::numeric_limits<float>::max());
  EXPECT_TRUE(std::isinf(ToSingle(Value(kInf))));
  EXPECT_TRUE(std::isnan(ToSingle(Value(kNaN))));
  for (const Value& v : {Value(0x1.ffffffp127), Value(-3.5e38), Value(u"1e39")})
    ExpectRaises(ToSingle(v), 6, u"KxQuorvel", u"Overflow");
  EXPECT_EQ(ToSingle(Dec(u"1e28")), 1e28f);

  EXPECT_EQ(ToDecimal(Value(u"1.50")).scale(), 2);
  EXPECT_EQ(U8(ToDecimal(Value(0.1)).ToText()), "0.1");
  EXPECT_EQ(U8(ToDecimal(Value(0.1f)).ToText()), "0.1");
  EXPECT_EQ(U8(ToDecimal(Value::Currency(-15000)).ToText()), "-1.5");
  EXPECT_EQ(U8(ToDecimal(Value(u"&H10")).ToText()), "16");
  EXPECT_EQ(U8(ToDecimal(Value(true)).ToText()), "-1");
  ExpectRaises(ToDecimal(Value(u"1e29")), 6, u"KxQuorvel", u"Overflow");
  ExpectRaises(ToDecimal(Value(1e30)), 6, u"KxQuorvel", u"Overflow");
}

TEST(ConvertOtherTest, ChangeKind) {
  struct Row {
    Value v;
    Kind target;
    int32_t var_type;
    std::u16string_view text;
  };
  const Row rows[] = {
      {Value(2.5), Kind::Long, 3, u"2"},
      {Value(u"12"), Kind::Integer, 2, u"12"},
      {Value(1.0), Kind::String, 8, u"1"},
      {Value(true), Kind::String, 8, u"True"},
      {Value(u"true"), Kind::Boolean, 11, u"True"},
      {Value(3), Kind::Currency, 6, u"3"},
      {Value(u"1/1/2000"), Kind::Date, 7, u"1/1/2000"},
      {Value(u"0.1"), Kind::Decimal, 14, u"0.1"},
      {Value(200), Kind::Byte, 17, u"200"},
      {Value(1.5), Kind::Single, 4, u"1.5"},
      {Value(u"1.5"), Kind::Double, 5, u"1.5"},
      {Value(7), Kind::Empty, 0, u""},
      {Value(u"x"), Kind::Variant, 8, u"x"},
      {Value(u"x"), Kind::Object, 8, u"x"},
  };
  for (const Row& row : rows) {
    Value changed = ChangeKind(row.v, row.target);
    EXPECT_EQ(VarType(changed), row.var_type) << U8(row.text);
    EXPECT_EQ(U8(ToText(changed)), U8(row.text));
  }
  EXPECT_TRUE(ChangeKind(Value(7), Kind::Null).IsNull());
  ExpectRaises(ChangeKind(Value(300), Kind::Byte), 6, u"KxQuorvel",
               u"Overflow");
  ExpectRaises(ChangeKind(Value(u"x"), Kind::Long), 13, u"KxQuorvel",
               u"Type mismatch");
  ExpectRaises(ChangeKind(Value(1), Kind::Array), 13, u"KxQuorvel",
               u"Type mismatch");
}

TEST(ConvertOtherTest, ObjectsConvertThroughTheirDefaultValue) {
  // A dictionary's default member needs a key, so reading its value fails.
  Value dict = CreateObject(u"Scripting.Dictionary");
  ExpectRaises(ToLong(dict), 450, u"KxQuorvel",
               u"Wrong number of arguments or invalid property assignment");
  ExpectRaises(ToText(dict), 450, u"KxQuorvel",
               u"Wrong number of arguments or invalid property assignment");
  ExpectRaises(ToText(Value::Nothing()), 91, u"KxQuorvel",
               u"Object variable or With block variable not set");
  EXPECT_FALSE(IsNumeric(dict));
  // The kind conversions that keep objects leave them untouched.
  EXPECT_EQ(ChangeKind(dict, Kind::Object).object(), dict.object());
}

}  // namespace
}  // namespace quorvel
