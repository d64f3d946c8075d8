#include "quorvel/verhoeff.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "test_util.h"

namespace quorvel {
namespace {

using mVerhoeff::kD;
using mVerhoeff::kInv;
using mVerhoeff::kP;
using testing::U8;

TEST(VerhoeffTest, TablesFormTheDihedralGroup) {
  for (int a = 0; a < 10; ++a) {
    EXPECT_EQ(kD[a][kInv[a]], 0) << a;
    EXPECT_EQ(kD[0][a], a);
    for (int b = 0; b < 10; ++b) {
      for (int c = 0; c < 10; ++c)
        EXPECT_EQ(kD[kD[a][b]][c], kD[a][kD[b][c]]) << a << b << c;
    }
  }
  // Each permutation row is the one before it, mapped once more by row 1.
  for (int r = 1; r < 8; ++r) {
    for (int j = 0; j < 10; ++j) EXPECT_EQ(kP[r][j], kP[1][kP[r - 1][j]]);
  }
}

TEST(VerhoeffTest, KnownDigitsSingleErrorsAndAdjacentSwaps) {
  EXPECT_EQ(mVerhoeff::Generate(u"236"), 3);
  EXPECT_EQ(mVerhoeff::Generate(u"12345"), 1);
  EXPECT_EQ(mVerhoeff::Generate(u"0"), 4);
  EXPECT_EQ(mVerhoeff::Generate(u"75872"), 2);
  for (std::u16string_view ok : {u"2363", u"123451", u"04", u"0", u"758722"})
    EXPECT_TRUE(mVerhoeff::Validate(ok)) << U8(ok);
  for (std::u16string_view no :
       {u"2364", u"123456", u"4", u"5", u"50", u"", u"abc", u"12a", u"3"})
    EXPECT_FALSE(mVerhoeff::Validate(no)) << U8(no);
  EXPECT_EQ(mVerhoeff::Digits(u"1a9"), (std::vector<int16_t>{9, 49, 1}));
  std::mt19937 rng(5);
  for (int round = 0; round < 300; ++round) {
    std::u16string full;
    for (size_t n = 1 + rng() % 20; n > 0; --n)
      full += static_cast<char16_t>(u'0' + rng() % 10);
    full += static_cast<char16_t>(u'0' + mVerhoeff::Generate(full));
    ASSERT_TRUE(mVerhoeff::Validate(full)) << U8(full);
    const size_t at = rng() % full.size();
    std::u16string changed = full;
    changed[at] = u'0' + (changed[at] - u'0' + 1 + rng() % 9) % 10;
    EXPECT_FALSE(mVerhoeff::Validate(changed)) << U8(changed);
    if (at + 1 < full.size() && full[at] != full[at + 1]) {
      std::swap(full[at], full[at + 1]);
      EXPECT_FALSE(mVerhoeff::Validate(full)) << U8(full);
    }
  }
}

TEST(VerhoeffTest, Errors) {
  // Numeric text that holds more than digits reaches the tables and fails.
  for (std::u16string_view t :
       {u"-12", u"+5", u"1.5", u"1E3", u" 12", u"12 ", u"&H1F"})
    ExpectRaisesStandard(mVerhoeff::Validate(t), 9);
  for (std::u16string_view t : {u"", u"12a", u"-1", u" 1", u"\u0661"})
    ExpectRaisesStandard(mVerhoeff::Generate(t), 9);
  const std::u16string longest(32767, u'1');
  EXPECT_NO_THROW(mVerhoeff::Generate(longest));
  ExpectRaisesStandard(mVerhoeff::Generate(longest + u"1"), 6);
  ExpectRaisesStandard(mVerhoeff::Digits(longest + u"1"), 6);
  // Validate reaches the length test only past its numeric test: 32,768
  // ones overflow the number reading, leading zeros do not.
  EXPECT_FALSE(mVerhoeff::Validate(longest + u"1"));
  ExpectRaisesStandard(mVerhoeff::Validate(std::u16string(32767, u'0') + u"1"),
                       6);
}

}  // namespace
}  // namespace quorvel
