#include "quorvel/decimal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "quorvel/error.h"
#include "test_util.h"

namespace quorvel {
namespace {

using ::quorvel::testing::U8;

constexpr std::u16string_view kMax = u"79228162514264337593543950335";

Decimal MustParse(std::u16string_view text) {
  std::optional<Decimal> d = Decimal::Parse(text);
  if (!d) ADD_FAILURE() << "not a number: " << U8(text);
  return d.value_or(Decimal());
}

TEST(DecimalTest, ParsesAndPrintsExactly) {
  struct Row {
    std::u16string_view text;
    std::u16string_view expected;
  };
  const Row rows[] = {
      {u"0", u"0"},
      {u"-0", u"0"},
      {u"000.000", u"0"},
      {u"1.500", u"1.5"},
      {u"  -12.34 \t", u"-12.34"},
      {u"12.34-", u"-12.34"},
      {u"+.5", u"0.5"},
      {u"5.", u"5"},
      {u"100", u"100"},
      {u"1e3", u"1000"},
      {u"1.5E-3", u"0.0015"},
      {u"1e28", u"10000000000000000000000000000"},
      {kMax, kMax},
      {u"-79228162514264337593543950335", u"-79228162514264337593543950335"},
      {u"79228162514264337593543950335.4", kMax},
      {u"0.0000000000000000000000000001", u"0.0000000000000000000000000001"},
      // Beyond scale 28 the digits are rounded half to even.
      {u"0.00000000000000000000000000005", u"0"},
      {u"0.00000000000000000000000000015", u"0.0000000000000000000000000002"},
      {u"0.00000000000000000000000000025", u"0.0000000000000000000000000002"},
      {u"0.000000000000000000000000000250000001",
       u"0.0000000000000000000000000003"},
      {u"1e-1000000000000000000000", u"0"},
      // 29 significant digits fit; the 30th is rounded away.
      {u"1.2345678901234567890123456789", u"1.2345678901234567890123456789"},
      {u"1.23456789012345678901234567895", u"1.234567890123456789012345679"},
      {u"1.23456789012345678901234567885", u"1.2345678901234567890123456788"},
      // At 29 digits the magnitude may still pass 96 bits: one place less.
      {u"7.9228162514264337593543950335", u"7.9228162514264337593543950335"},
      {u"7.9228162514264337593543950336", u"7.922816251426433759354395034"},
      {u"123456789012345678901234567890e-5", u"1234567890123456789012345.6789"},
  };
  for (const Row& row : rows) {
    Decimal d = MustParse(row.text);
    EXPECT_EQ(U8(d.ToText()), U8(row.expected)) << U8(row.text);
    EXPECT_FALSE(d.IsZero() && d.negative()) << U8(row.text);
    // The text form reads back as the same number.
    EXPECT_EQ(MustParse(d.ToText()), d) << U8(row.text);
  }
  EXPECT_EQ(MustParse(u"1.500").scale(), 3);
  EXPECT_EQ(MustParse(u"0.0000000000000000000000000001").scale(), 28);
  Decimal max = MustParse(kMax);
  EXPECT_EQ(max.hi(), 0xFFFFFFFFu);
  EXPECT_EQ(max.lo(), 0xFFFFFFFFFFFFFFFFu);
  EXPECT_EQ(max.scale(), 0);
}

TEST(DecimalTest, RejectsTextThatIsNotANumber) {
  const std::u16string_view bad[] = {
      u"",      u"  ",  u"abc", u"1..2", u"1e",     u"1e+", u"--1",
      u"-1-",   u"+-1", u"1 2", u".",    u"-",      u"e5",  u"&H10",
      u"1,000", u"1d5", u"0x1", u"- 1",  u"\u00A01"};
  for (std::u16string_view text : bad)
    EXPECT_FALSE(Decimal::Parse(text).has_value()) << U8(text);
}

TEST(DecimalTest, RaisesOverflowBeyondNinetySixBits) {
  const std::u16string_view too_large[] = {u"79228162514264337593543950336",
                                           u"-79228162514264337593543950336",
                                           u"79228162514264337593543950335.5",
                                           u"1e29",
                                           u"1e1000000",
                                           u"100000000000000000000000000000.0"};
  for (std::u16string_view text : too_large)
    ExpectRaises(Decimal::Parse(text), 6, u"KxQuorvel", u"Overflow");
}

TEST(DecimalTest, RoundsHalfToEven) {
  struct Row {
    std::u16string_view text;
    int64_t whole;
  };
  const Row rows[] = {
      {u"0.5", 0},
      {u"1.5", 2},
      {u"2.5", 2},
      {u"-2.5", -2},
      {u"-3.5", -4},
      {u"2.4999999999999999999999999999", 2},
      {u"2.5000000000000000000000000001", 3},
      {u"9223372036854775807.4", INT64_MAX},
      {u"-9223372036854775808.5", INT64_MIN},
  };
  for (const Row& row : rows)
    EXPECT_EQ(MustParse(row.text).RoundToInt64(), row.whole) << U8(row.text);
  ExpectRaises(MustParse(u"9223372036854775807.5").RoundToInt64(), 6,
               u"KxQuorvel", u"Overflow");
  ExpectRaises(MustParse(u"-9223372036854775808.51").RoundToInt64(), 6,
               u"KxQuorvel", u"Overflow");
  ExpectRaises(MustParse(kMax).RoundToInt64(), 6, u"KxQuorvel", u"Overflow");
}

TEST(DecimalTest, ConvertsToCurrencyAtFourPlaces) {
  struct Row {
    std::u16string_view text;
    int64_t scaled;
  };
  const Row rows[] = {
      {u"1.23455", 12346},
      {u"1.23445", 12344},
      {u"1.234450000000000000001", 12345},
      {u"-0.00005", 0},
      {u"-0.00015", -2},
      {u"7", 70000},
      {u"922337203685477.5807", INT64_MAX},
      {u"-922337203685477.5808", INT64_MIN},
      {u"-922337203685477.58085", INT64_MIN},
  };
  for (const Row& row : rows)
    EXPECT_EQ(MustParse(row.text).ToCurrency(), row.scaled) << U8(row.text);
  ExpectRaises(MustParse(u"922337203685477.58075").ToCurrency(), 6,
               u"KxQuorvel", u"Overflow");
  ExpectRaises(MustParse(kMax).ToCurrency(), 6, u"KxQuorvel", u"Overflow");
}

TEST(DecimalTest, ComparesExactlyAcrossScales) {
  struct Row {
    std::u16string_view a;
    std::u16string_view b;
    int expected;
  };
  const Row rows[] = {
      {u"1.0", u"1", 0},
      {u"-0", u"0", 0},
      {u"0.1", u"0.1000000000000000000000000001", -1},
      // Scaling the left side by 10^28 passes 128 bits.
      {kMax, u"0.0000000000000000000000000001", 1},
      {u"-79228162514264337593543950335", u"-0.0000000000000000000000000001",
       -1},
      {kMax, u"7.9228162514264337593543950335", 1},
      {u"7.9228162514264337593543950335", u"7.9228162514264337593543950334", 1},
      {u"2", u"-3", 1},
      {u"-2", u"-3", 1},
      {u"0", u"-0.0000000000000000000000000001", 1},
      {u"12.5", u"12.50000", 0},
  };
  for (const Row& row : rows) {
    Decimal a = MustParse(row.a);
    Decimal b = MustParse(row.b);
    EXPECT_EQ(Decimal::Compare(a, b), row.expected)
        << U8(row.a) << " vs " << U8(row.b);
    EXPECT_EQ(Decimal::Compare(b, a), -row.expected)
        << U8(row.b) << " vs " << U8(row.a);
  }
}

TEST(DecimalTest, ConvertsFromBinaryAtThePlatformsDigits) {
  struct Row {
    double value;
    std::u16string_view expected;
  };
  const Row rows[] = {
      {0.1, u"0.1"},
      {1.0 / 3, u"0.333333333333333"},
      {2.0 / 3, u"0.666666666666667"},
      {-1.5, u"-1.5"},
      {123456789012345678.0, u"123456789012346000"},
      {-1.5e-20, u"-0.000000000000000000015"},
      {1e-30, u"0"},
      {-0.0, u"0"},
      {7.9e28, u"79000000000000000000000000000"},
  };
  for (const Row& row : rows) {
    Decimal d = Decimal::FromDouble(row.value);
    EXPECT_EQ(U8(d.ToText()), U8(row.expected)) << row.value;
  }
  // Trailing zeros of the 15 digits are not kept as scale.
  EXPECT_EQ(Decimal::FromDouble(1.0).scale(), 0);
  EXPECT_EQ(Decimal::FromDouble(2.5).scale(), 1);
  EXPECT_EQ(U8(Decimal::FromSingle(0.1f).ToText()), "0.1");
  EXPECT_EQ(U8(Decimal::FromSingle(1.0f / 3).ToText()), "0.3333333");
  for (double bad : {8e28, -8e28, std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()})
    ExpectRaises(Decimal::FromDouble(bad), 6, u"KxQuorvel", u"Overflow");
  ExpectRaises(Decimal::FromSingle(std::numeric_limits<float>::max()), 6,
               u"KxQuorvel", u"Overflow");
}

TEST(DecimalTest, ConvertsFromIntegersAndCurrency) {
  EXPECT_EQ(U8(Decimal::FromInt64(INT64_MIN).ToText()), "-9223372036854775808");
  EXPECT_EQ(U8(Decimal::FromInt64(0).ToText()), "0");
  Decimal amount = Decimal::FromCurrency(15000);
  EXPECT_EQ(U8(amount.ToText()), "1.5");
  EXPECT_EQ(amount.scale(), 1);
  EXPECT_EQ(Decimal::FromCurrency(20000).scale(), 0);
  EXPECT_EQ(U8(Decimal::FromCurrency(INT64_MIN).ToText()),
            "-922337203685477.5808");
  EXPECT_EQ(U8(Decimal::FromCurrency(-1).ToText()), "-0.0001");
  EXPECT_EQ(Decimal::FromCurrency(INT64_MIN).ToCurrency(), INT64_MIN);
}

TEST(DecimalTest, ConvertsToTheNearestDouble) {
  struct Row {
    std::u16string_view text;
    double expected;
  };
  const Row rows[] = {
      {u"0.1", 0.1},
      {u"-123.456", -123.456},
      {u"0.0000000000000000000000000001", 1e-28},
      {kMax, 0x1p96},
      {u"9007199254740993", 9007199254740992.0},  // tie, to even
      {u"9007199254740995", 9007199254740996.0},
      {u"7.9228162514264337593543950335", 7.9228162514264337593543950335},
      // Either side of the midpoint between 0.3 and the next double.
      {u"0.3000000000000000166533453693", 0.3},
      {u"0.3000000000000000166533453694", 0.30000000000000004},
      {u"0", 0.0},
  };
  for (const Row& row : rows)
    EXPECT_EQ(MustParse(row.text).ToDouble(), row.expected) << U8(row.text);
  EXPECT_TRUE(std::signbit(MustParse(u"-0.5").ToDouble()));
}

}  // namespace
}  // namespace quorvel
