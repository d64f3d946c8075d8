// The String handle, the code page and the error report.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/std_exceptions.h"
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
}

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

// A pair counts as one character, a lone surrogate as one, é and € have
// bytes, a C1 control the page puts elsewhere has none.
TEST(CodePageTest, ExactConversionNamesTheFirstCharacterWithoutAByte) {
  const struct {
    std::u16string_view text;
    size_t index, position;
    char32_t character;
  } cases[] = {
      {u"\U0001F600x", 0, 1, 0x1F600}, {u"ab\u6771\u4eac", 2, 3, 0x6771},
      {u"\xD800z", 0, 1, 0xD800},      {u"\U0001F600\u0100", 0, 1, 0x1F600},
      {u"a\xDC00", 1, 2, 0xDC00},      {u"e\u00e9\u20ac\u0100", 3, 4, 0x100},
      {u"\u0080", 0, 1, 0x80}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::U8(c.text));
    const std::optional<Unmappable> bad = FindUnmappable(c.text);
    ASSERT_TRUE(bad.has_value());
    EXPECT_EQ(bad->index, c.index);
    EXPECT_EQ(bad->position, c.position);
    EXPECT_EQ(bad->character, c.character);
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

// Memory running out (either name) leaves as 7, other std exceptions as 51;
// an Error and a result pass unchanged.
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
      TranslateStdExceptions([] { (void)std::string().at(1); }), kErrInternal);
  ExpectRaisesStandard(
      TranslateStdExceptions([] { throw std::runtime_error("somewhere"); }),
      kErrInternal);
  ExpectRaises(TranslateStdExceptions(
                   [] { ErrorRaise(9, u"CArray", u"Index (3) is out"); }),
               9, u"CArray", u"Index (3) is out");
  EXPECT_EQ(TranslateStdExceptions([] { return 42; }), 42);
  int counted = 0;
  int& same = TranslateStdExceptions([&]() -> int& { return counted; });
  EXPECT_EQ(&same, &counted);
}

}  // namespace
}  // namespace quorvel
