// The String handle, the code page and the error report (UTF-8 is in
// utf8_test.cpp).
#include <gtest/gtest.h>

#include "quorvel/codepage.h"
#include "quorvel/error.h"
#include "quorvel/string.h"
#include "test_util.h"

namespace quorvel {
namespace {

TEST(StringTest, SharesBlocksAndHoldsAnyUnit) {
  String empty;
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(empty.data()[0], 0);
  EXPECT_EQ(String(u"").rep(), nullptr);  // the empty string owns no block
  const char16_t raw[] = {u'a', 0, 0xD800, u'b'};
  String s(std::u16string_view(raw, 4));
  EXPECT_EQ(s.size(), 4u);
  EXPECT_EQ(s[2], 0xD800);
  EXPECT_EQ(s.data()[4], 0);  // terminated beyond its length
  String t = s;
  EXPECT_EQ(t.rep(), s.rep());
  EXPECT_EQ(s.rep()->refs.load(), 2u);
  String u = std::move(t);
  EXPECT_EQ(s.rep()->refs.load(), 2u);
  EXPECT_TRUE(t.empty());  // NOLINT: moved-from is empty
  EXPECT_EQ(u, s);
  String built = String::Build(3, [](char16_t* p) {
    p[0] = u'x';
    p[1] = u'y';
    p[2] = u'z';
  });
  EXPECT_EQ(built, std::u16string_view(u"xyz"));
}

TEST(CodePageTest, EveryByteRoundTripsAndUnknownUnitsBecomeQuestionMarks) {
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(AnsiFromUnit(UnitFromAnsi(static_cast<uint8_t>(b))), b) << b;
  }
  EXPECT_EQ(UnitFromAnsi(0x80), 0x20AC);
  EXPECT_EQ(UnitFromAnsi(0x9F), 0x0178);
  EXPECT_EQ(UnitFromAnsi(0x81), 0x0081);
  EXPECT_EQ(UnitFromAnsi(0xE9), 0x00E9);
  EXPECT_EQ(AnsiFromUnit(0x20AC), 0x80);
  EXPECT_EQ(AnsiFromUnit(0x0080), '?');  // a C1 control the page maps elsewhere
  EXPECT_EQ(AnsiFromUnit(0x0100), '?');
  EXPECT_EQ(AnsiFromUnit(0xD83D), '?');
  EXPECT_EQ(ToAnsi(u"a\u00e9\u20ac\u4e2d"),
            (std::vector<uint8_t>{'a', 0xE9, 0x80, '?'}));
  const uint8_t bytes[] = {0x41, 0x80, 0x8D, 0xFF};
  EXPECT_EQ(FromAnsi(bytes), std::u16string_view(u"A\u20ac\u008d\u00ff"));
  EXPECT_TRUE(FromAnsi({}).empty());
  // Whole texts go in wide steps: every length and place of a byte or
  // unit that needs the table gives what one at a time gives.
  const char16_t odd[] = {0x20AC, 0x0080, 0x00E9, 0x4E2D, 0x009F, 0x0178};
  for (size_t length = 0; length < 40; ++length) {
    for (size_t at = 0; at <= length; ++at) {
      std::u16string text(length, u'a');
      if (at < length) text[at] = odd[(length + at) % 6];
      std::vector<uint8_t> expected;
      for (char16_t unit : text) expected.push_back(AnsiFromUnit(unit));
      ASSERT_EQ(ToAnsi(text), expected) << length << " " << at;
      std::u16string back;
      for (uint8_t b : expected) back += UnitFromAnsi(b);
      ASSERT_EQ(FromAnsi(expected), std::u16string_view(back));
    }
  }
}

TEST(CodePageTest, ExactConversionNamesTheFirstCharacterWithoutAByte) {
  struct Case {
    std::u16string_view text;
    size_t index, position;
    char32_t character;
  };
  const Case cases[] = {
      {u"ab\u6771\u4eac", 2, 3, 0x6771},
      {u"\U0001F600x", 0, 1, 0x1F600},  // a pair counts as one character
      {u"\U0001F600\u0100", 0, 1, 0x1F600},
      {u"e\u00e9\u20ac\u0100", 3, 4, 0x100},  // é and € have bytes
      {u"\xD800z", 0, 1, 0xD800},             // a lone surrogate
      {u"a\xDC00", 1, 2, 0xDC00},
      {u"\u0080", 0, 1, 0x80},  // a C1 control the page puts elsewhere
  };
  for (const Case& c : cases) {
    const std::optional<Unmappable> bad = FindUnmappable(c.text);
    ASSERT_TRUE(bad.has_value()) << testing::U8(c.text);
    EXPECT_EQ(bad->index, c.index) << testing::U8(c.text);
    EXPECT_EQ(bad->position, c.position) << testing::U8(c.text);
    EXPECT_EQ(bad->character, c.character) << testing::U8(c.text);
  }
  // Every character that has a byte passes, '?' and the five unassigned
  // bytes' code points included, and converts as the lossy form does.
  std::u16string all;
  for (int b = 0; b < 256; ++b) all += UnitFromAnsi(static_cast<uint8_t>(b));
  EXPECT_FALSE(FindUnmappable(all).has_value());
  EXPECT_EQ(ToAnsiExact(all), ToAnsi(all));
  EXPECT_TRUE(ToAnsiExact(u"").empty());

  ExpectRaises(ToAnsiExact(u"ab\u6771\u4eac"), 5, u"KxQuorvel",
               u"Character U+6771 (\u6771) at position 3 has no Windows-1252 "
               u"byte");
  ExpectRaises(ToAnsiExact(u"\U0001F600"), 5, u"KxQuorvel",
               u"Character U+1F600 (\U0001F600) at position 1 has no "
               u"Windows-1252 byte");
  ExpectRaises(ToAnsiExact(u"x\xD800"), 5, u"KxQuorvel",
               u"Character U+D800 at position 2 has no Windows-1252 byte");
}

TEST(ErrorTest, RaiseCarriesNumberSourceAndDescription) {
  ExpectRaises(ErrorRaise(9, u"CArray", u"Index (0) is out of bounds (0 - -1)"),
               9, u"CArray", u"Index (0) is out of bounds (0 - -1)");
  ExpectRaises(ErrorRaise(kErrGeneralFailure, u"", u"DB is not open"),
               -2147220503, u"KxQuorvel", u"DB is not open");
  ExpectRaises(RaiseStandard(6), 6, u"KxQuorvel", u"Overflow");
  ExpectRaises(RaiseStandard(94), 94, u"KxQuorvel", u"Invalid use of Null");
  EXPECT_EQ(kErrRecordDetached, -2147220502);
  EXPECT_EQ(StandardDescription(12345),
            u"Application-defined or object-defined error");
  try {
    ErrorRaise(13, u"S\u00e9", u"d");
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "error 13 (S\xC3\xA9): d");
  }
}

}  // namespace
}  // namespace quorvel
