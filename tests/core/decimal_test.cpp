#include "quorvel/decimal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>

#include "quorvel/error.h"
#include "test_util.h"

namespace quorvel {
namespace {

using ::quorvel::testing::U8;

constexpr std::u16string_view kMax = u"79228162514264337593543950335";
constexpr std::u16string_view kTiny = u"0.0000000000000000000000000001";

Decimal MustParse(std::u16string_view text) {
  std::optional<Decimal> d = Decimal::Parse(text);
  if (!d) ADD_FAILURE() << "not a number: " << U8(text);
  return d.value_or(Decimal());
}

// Digits past scale 28 or past 96 bits round half to even; no -0.
TEST(DecimalTest, ParsesAndPrintsExactly) {
  const struct {
    std::u16string_view text, expected;
  } parsed[] = {{u"+.5", u"0.5"}, {u"1.500", u"1.5"},
                {kMax, kMax},     {u"1.5E-3", u"0.0015"},
                {u"-0", u"0"},    {u"12.34-", u"-12.34"},
                {kTiny, kTiny},   {u"  -12.34 \t", u"-12.34"}},
    wide_parsed[] = {
        {u"0.00000000000000000000000000005", u"0"},
        {u"79228162514264337593543950335.4", kMax},
        {u"7.9228162514264337593543950336", u"7.922816251426433759354395034"},
        {u"1.23456789012345678901234567885", u"1.2345678901234567890123456788"},
        {u"123456789012345678901234567890e-5",
         u"1234567890123456789012345.6789"},
        {u"0.000000000000000000000000000250000001",
         u"0.0000000000000000000000000003"},
        {u"0.00000000000000000000000000025",
         u"0.0000000000000000000000000002"}};
  auto check = [](const auto& row) {
    Decimal d = MustParse(row.text);
    EXPECT_EQ(U8(d.ToText()), U8(row.expected)) << U8(row.text);
    EXPECT_FALSE(d.IsZero() && d.negative()) << U8(row.text);
    EXPECT_EQ(MustParse(d.ToText()), d) << U8(row.text);
  };
  for (const auto& row : parsed) check(row);
  for (const auto& row : wide_parsed) check(row);
  EXPECT_EQ(MustParse(u"1.500").scale(), 3);
  EXPECT_EQ(MustParse(kTiny).scale(), 28);
  Decimal max = MustParse(kMax);
  EXPECT_EQ(max.hi(), 0xFFFFFFFFu);
  EXPECT_EQ(max.lo(), 0xFFFFFFFFFFFFFFFFu);
  EXPECT_EQ(max.scale(), 0);

  for (std::u16string_view text : {u"", u"1..2", u"1e+", u"-1-", u"+-1", u"1 2",
                                   u".", u"&H10", u"1,000", u"\u00A01"})
    EXPECT_FALSE(Decimal::Parse(text).has_value()) << U8(text);
  for (std::u16string_view text :
       {u"79228162514264337593543950336", u"79228162514264337593543950335.5",
        u"1e1000000"})
    ExpectRaisesStandard(Decimal::Parse(text), kErrOverflow);
}

// {} marks an overflow (6).
TEST(DecimalTest, RoundsHalfToEven) {
  using Rounded = std::pair<std::u16string_view, std::optional<int64_t>>;
  const Rounded whole[] = {
      {u"9223372036854775807.5", {}},         {kMax, {}},
      {u"-9223372036854775808.51", {}},       {u"0.5", 0},
      {u"9223372036854775807.4", INT64_MAX},  {u"2.5", 2},
      {u"2.4999999999999999999999999999", 2}, {u"-2.5", -2},
      {u"2.5000000000000000000000000001", 3}, {u"-3.5", -4},
      {u"-9223372036854775808.5", INT64_MIN}};
  const Rounded currency[] = {
      {kMax, {}},          {u"922337203685477.58075", {}},
      {u"7", 70000},       {u"1.234450000000000000001", 12345},
      {u"-0.00005", 0},    {u"922337203685477.5807", INT64_MAX},
      {u"-0.00015", -2},   {u"-922337203685477.5808", INT64_MIN},
      {u"1.23445", 12344}, {u"-922337203685477.58085", INT64_MIN}};
  for (bool in_currency : {false, true}) {
    for (const auto& [text, expected] : in_currency
                                            ? std::span<const Rounded>(currency)
                                            : std::span<const Rounded>(whole)) {
      const Decimal d = MustParse(text);
      SCOPED_TRACE(U8(text));
      if (!expected) {
        ExpectRaisesStandard(in_currency ? d.ToCurrency() : d.RoundToInt64(),
                             kErrOverflow);
      } else {
        EXPECT_EQ(in_currency ? d.ToCurrency() : d.RoundToInt64(), *expected);
      }
    }
  }
}

// From binary at 15 digits (Single 7); to the nearest Double, ties to even.
TEST(DecimalTest, ConvertsToAndFromOtherKinds) {
  const auto dbl = Decimal::FromDouble;
  const auto sgl = Decimal::FromSingle;
  const auto i64 = Decimal::FromInt64;
  const auto cur = Decimal::FromCurrency;
  const struct {
    Decimal d;
    std::u16string_view text;
    int scale;
  } made[] =
      {{dbl(-0.0), u"0", 0},    {cur(-1), u"-0.0001", 4},
       {dbl(0.1), u"0.1", 1},   {sgl(1.0f / 3), u"0.3333333", 7},
       {dbl(1e-30), u"0", 0},   {dbl(2.0 / 3), u"0.666666666666667", 15},
       {dbl(-1.5), u"-1.5", 1}, {i64(INT64_MIN), u"-9223372036854775808", 0},
       {cur(15000), u"1.5", 1}, {cur(INT64_MIN), u"-922337203685477.5808", 4}},
    wide_made[] = {{dbl(123456789012345678.0), u"123456789012346000", 0},
                   {dbl(-1.5e-20), u"-0.000000000000000000015", 21},
                   {dbl(7.9e28), u"79000000000000000000000000000", 0}};
  auto check = [](const auto& m) {
    EXPECT_EQ(U8(m.d.ToText()), U8(m.text));
    EXPECT_EQ(m.d.scale(), m.scale) << U8(m.text);
  };
  for (const auto& m : made) check(m);
  for (const auto& m : wide_made) check(m);
  EXPECT_EQ(cur(INT64_MIN).ToCurrency(), INT64_MIN);
  for (double bad : {8e28, -8e28, std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()})
    ExpectRaisesStandard(dbl(bad), kErrOverflow);
  ExpectRaisesStandard(sgl(std::numeric_limits<float>::max()), kErrOverflow);

  const struct {
    std::u16string_view text;
    double expected;
  } doubles[] = {{u"0.1", 0.1},  {u"0.3000000000000000166533453693", 0.3},
                 {kTiny, 1e-28}, {u"9007199254740993", 9007199254740992.0},
                 {kMax, 0x1p96}, {u"9007199254740995", 9007199254740996.0}},
    wide_doubles[] = {
        {u"7.9228162514264337593543950335", 7.9228162514264337593543950335},
        {u"0.3000000000000000166533453694", 0.30000000000000004}};
  for (const auto& row : doubles)
    EXPECT_EQ(MustParse(row.text).ToDouble(), row.expected) << U8(row.text);
  for (const auto& row : wide_doubles)
    EXPECT_EQ(MustParse(row.text).ToDouble(), row.expected) << U8(row.text);
  EXPECT_TRUE(std::signbit(MustParse(u"-0.5").ToDouble()));
}

}  // namespace
}  // namespace quorvel
