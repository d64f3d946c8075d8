// The code page and the error report.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/std_exceptions.h"
#include "quorvel/codepage.h"
#include "quorvel/error.h"
#include "test_util.h"

namespace quorvel {
namespace {

TEST(CodePageTest, EveryByteRoundTripsAndUnknownUnitsBecomeQuestionMarks) {
  for (int b = 0; b < 256; ++b)
    EXPECT_EQ(AnsiFromUnit(UnitFromAnsi(static_cast<uint8_t>(b))), b) << b;
  // A C1 control the page maps elsewhere, and units it has no byte for.
  for (char16_t unit : {0x0080, 0x0100, 0xD83D})
    EXPECT_EQ(AnsiFromUnit(unit), '?');
  EXPECT_EQ(ToAnsi(u"a\u00e9\u20ac\u4e2d"),
            (std::vector<uint8_t>{'a', 0xE9, 0x80, '?'}));
  const uint8_t bytes[] = {0x41, 0x80, 0x8D, 0x9F, 0xFF};
  EXPECT_EQ(FromAnsi(bytes), std::u16string_view(u"A\u20ac\u008d\u0178\u00ff"));
  // Whole texts go in wide steps: every length and place of an odd unit.
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

// A pair counts as one character, a lone surrogate as one.
TEST(CodePageTest, ExactConversionNamesTheFirstCharacterWithoutAByte) {
  const struct {
    std::u16string_view text;
    size_t index, position;
    char32_t character;
  } cases[] = {{u"\U0001F600\u0100", 0, 1, 0x1F600},
               {u"a\xDC00", 1, 2, 0xDC00},
               {u"e\u00e9\u20ac\u0100", 3, 4, 0x100}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::U8(c.text));
    const std::optional<Unmappable> bad = FindUnmappable(c.text);
    ASSERT_TRUE(bad.has_value());
    EXPECT_EQ(bad->index, c.index);
    EXPECT_EQ(bad->position, c.position);
    EXPECT_EQ(bad->character, c.character);
  }
  // Every character that has a byte passes, the five unassigned ones too.
  std::u16string all;
  for (int b = 0; b < 256; ++b) all += UnitFromAnsi(static_cast<uint8_t>(b));
  EXPECT_FALSE(FindUnmappable(all).has_value());
  EXPECT_EQ(ToAnsiExact(all), ToAnsi(all));
  ExpectRaises(ToAnsiExact(u"\U0001F600"), 5, u"KxQuorvel",
               u"Character U+1F600 (\U0001F600) at position 1 has no "
               u"Windows-1252 byte");
  ExpectRaises(ToAnsiExact(u"x\xD800"), 5, u"KxQuorvel",
               u"Character U+D800 at position 2 has no Windows-1252 byte");
}

// Every other test checks the standard texts through StandardDescription.
TEST(ErrorTest, RaiseCarriesNumberSourceAndDescription) {
  const std::pair<int32_t, std::u16string_view> texts[] = {
      {5, u"Invalid procedure call or argument"},
      {6, u"Overflow"},
      {7, u"Out of memory"},
      {9, u"Subscript out of range"},
      {13, u"Type mismatch"},
      {51, u"Internal error"},
      {91, u"Object variable or With block variable not set"},
      {94, u"Invalid use of Null"},
      {424, u"Object required"},
      {429, u"ActiveX component can't create object"},
      {438, u"Object doesn't support this property or method"},
      {449, u"Argument not optional"},
      {450, u"Wrong number of arguments or invalid property assignment"},
      {457,
       u"This key is already associated with an element of this collection"},
      {32811, u"Element not found"},
      {12345, u"Application-defined or object-defined error"}};
  for (const auto& [number, text] : texts) {
    EXPECT_EQ(testing::U8(StandardDescription(number)), testing::U8(text));
    ExpectRaises(RaiseStandard(number), number, u"KxQuorvel", text);
  }
  ExpectRaises(ErrorRaise(9, u"CArray", u"Index (0) is out of bounds (0 - -1)"),
               9, u"CArray", u"Index (0) is out of bounds (0 - -1)");
  ExpectRaises(ErrorRaise(kErrGeneralFailure, u"", u"DB is not open"),
               -2147220503, u"KxQuorvel", u"DB is not open");
  EXPECT_EQ(kErrRecordDetached, -2147220502);
  try {
    ErrorRaise(13, u"S\u00e9", u"d");
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "error 13 (S\xC3\xA9): d");
  }
}

// Memory running out (either name) leaves as 7, other std exceptions as 51.
TEST(ErrorTest, StdExceptionsTranslateAtTheBoundary) {
  using internal::TranslateStdExceptions;
  ExpectRaisesStandard(
      TranslateStdExceptions([]() -> int { throw std::bad_alloc(); }),
      kErrOutOfMemory);
  ExpectRaisesStandard(TranslateStdExceptions([] {
                         std::vector<int> v;
                         v.reserve(v.max_size() + 1);
                       }),
                       kErrOutOfMemory);
  ExpectRaisesStandard(
      TranslateStdExceptions([] { throw std::runtime_error("somewhere"); }),
      kErrInternal);
  ExpectRaises(TranslateStdExceptions(
                   [] { ErrorRaise(9, u"CArray", u"Index (3) is out"); }),
               9, u"CArray", u"Index (3) is out");
}

}  // namespace
}  // namespace quorvel
