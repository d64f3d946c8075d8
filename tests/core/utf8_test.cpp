// Pieces cut anywhere are the fuzz target's.
#include "quorvel/utf8.h"

#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace quorvel {
namespace {

std::string Bytes(std::string_view hex) {
  const std::vector<uint8_t> b = testing::FromHex(hex);
  return std::string(b.begin(), b.end());
}

constexpr size_t kOk = SIZE_MAX;

TEST(Utf8Test, SequencesAtEveryBoundary) {
  const struct {
    const char* hex;
    std::u16string text;  // when well-formed
    size_t offset = kOk;  // of the fault
    size_t length = 0;    // of its maximal subpart
    bool cut = false;     // the end cuts the sequence short
  } cases[] = {
      {"C2 80", u"\u0080"},      {"F0 8F BF BF", u"", 0, 1},
      {"80", u"", 0, 1},         {"F4 90 80 80", u"", 0, 1},
      {"DF BF", u"\u07FF"},      {"F5 80 80 80", u"", 0, 1},
      {"C1 BF", u"", 0, 1},      {"F0 90 80 41", u"", 0, 3},
      {"E0 A0 80", u"\u0800"},   {"F0 90 80", u"", 0, 3, true},
      {"FF", u"", 0, 1},         {"F0 90 80 80", u"\U00010000"},
      {"ED 9F BF", u"\uD7FF"},   {"F4 8F BF BF", u"\U0010FFFF"},
      {"C2 41", u"", 0, 1},      {"41 42 E2 82", u"", 2, 2, true},
      {"EE 80 80", u"\uE000"},   {"41 C3 A9 ED A0 80", u"", 3, 1},
      {"EF BF BF", u"\uFFFF"},   {"00 7F", std::u16string(u"\0\x7F", 2)},
      {"E0 9F BF", u"", 0, 1},   {"ED A0 80", u"", 0, 1},
      {"ED BF BF", u"", 0, 1},   {"E1 80 41", u"", 0, 2},
      {"E1", u"", 0, 1, true},   {"C2", u"", 0, 1, true},
      {"E0 A0", u"", 0, 2, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hex);
    const std::string bytes = Bytes(c.hex);
    std::u16string text;
    Utf8Fault fault;
    const bool ok = Utf8ToUtf16(bytes, &text, &fault);
    EXPECT_EQ(ok, c.offset == kOk);
    std::u16string decoded(bytes.size(), u'\0');
    const Utf8Step step = DecodeUtf8(bytes, decoded.data());
    if (c.offset == kOk) {
      EXPECT_EQ(text, c.text);
      EXPECT_FALSE(FindUtf8Fault(bytes));
      EXPECT_EQ(step.stop, Utf8Stop::kEnd);
      String s;
      ASSERT_TRUE(Utf8ToString(bytes, &s));
      EXPECT_EQ(s.view(), c.text);
      EXPECT_EQ(ToUtf8(c.text), bytes);
      continue;
    }
    EXPECT_EQ(fault.offset, c.offset);
    EXPECT_EQ(fault.byte, static_cast<uint8_t>(bytes[c.offset]));
    EXPECT_EQ(fault.length, c.length);
    const std::optional<Utf8Fault> found = FindUtf8Fault(bytes);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->offset, c.offset);
    EXPECT_EQ(found->length, c.length);
    EXPECT_EQ(step.read, c.offset);
    EXPECT_EQ(step.stop, c.cut ? Utf8Stop::kCut : Utf8Stop::kBad);
    EXPECT_EQ(step.bad_length, c.length);
    String s(u"unchanged");
    EXPECT_FALSE(Utf8ToString(bytes, &s));
  }
}

// Every length and alignment of the wide ASCII steps, both ways.
TEST(Utf8Test, RunsOfEveryLength) {
  for (size_t n = 0; n < 70; ++n) {
    for (const std::string& tail : {Bytes("FF"), Bytes("C3 A9 80")}) {
      const std::string bytes = std::string(n, 'a') + tail + "zz";
      const std::optional<Utf8Fault> fault = FindUtf8Fault(bytes);
      ASSERT_TRUE(fault) << n;
      EXPECT_EQ(fault->offset, tail.size() == 1 ? n : n + 2) << n;
      std::u16string text;
      EXPECT_FALSE(Utf8ToUtf16(bytes, &text));
    }
    const std::string good = std::string(n, 'b') + "\xC3\xA9" + "c";
    const std::u16string wide = std::u16string(n, u'b') + u"\u00E9c";
    EXPECT_EQ(FromUtf8(good), wide);
    EXPECT_EQ(ToUtf8(wide), good);
  }
}

// The lenient reader writes one U+FFFD per maximal subpart.
TEST(Utf8Test, LoneSurrogatesAndLenientReplacement) {
  const size_t none = std::u16string_view::npos;
  const struct {
    std::u16string text;
    size_t lone;
    std::string utf8;
  } encode[] = {{std::u16string(1, 0xD800), 0, "\xEF\xBF\xBD"},
                {u"\U0001F600" + std::u16string(1, 0xDC00), 2,
                 "\xF0\x9F\x98\x80\xEF\xBF\xBD"},
                {u"x\u00E9", none, "x\xC3\xA9"}};
  for (const auto& c : encode) {
    EXPECT_EQ(FindLoneSurrogate(c.text), c.lone) << c.utf8;
    EXPECT_EQ(ToUtf8(c.text), c.utf8);
  }
  const std::pair<const char*, std::u16string> lenient[] = {
      {"ED A0 80", u"\uFFFD\uFFFD\uFFFD"},
      {"F4 90 80 80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"E2 82 41", u"\uFFFDA"},
      {"F0 9F 98 41 80", u"\uFFFDA\uFFFD"}};
  for (const auto& [hex, text] : lenient)
    EXPECT_EQ(FromUtf8(Bytes(hex)), text) << hex;
}

}  // namespace
}  // namespace quorvel
