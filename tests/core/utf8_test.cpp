// The strict UTF-8 codec: every boundary of the well-formed sequences, the
// fault it reports, pieces cut anywhere, and all code points both ways.
#include "quorvel/utf8.h"

#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace quorvel {
namespace {

using testing::FromHex;

std::string Bytes(std::string_view hex) {
  const std::vector<uint8_t> b = FromHex(hex);
  return std::string(b.begin(), b.end());
}

constexpr size_t kOk = SIZE_MAX;

TEST(Utf8Test, SequencesAtEveryBoundary) {
  const struct {
    const char* hex;
    std::u16string text;  // when well-formed
    size_t offset;        // of the fault, else kOk
    size_t length;        // of its maximal subpart
    bool cut;             // the end cuts the sequence short
  } cases[] = {
      {"", u"", kOk, 0, false},
      {"00 7F", std::u16string(u"\0\x7F", 2), kOk, 0, false},
      {"C2 80", u"\u0080", kOk, 0, false},
      {"DF BF", u"\u07FF", kOk, 0, false},
      {"C0 80", u"", 0, 1, false},  // overlong
      {"C1 BF", u"", 0, 1, false},
      {"C2", u"", 0, 1, true},
      {"C2 41", u"", 0, 1, false},
      {"C2 C2 80", u"", 0, 1, false},
      {"E0 A0 80", u"\u0800", kOk, 0, false},
      {"E0 9F BF", u"", 0, 1, false},  // overlong
      {"E1 80 80", u"\u1000", kOk, 0, false},
      {"ED 9F BF", u"\uD7FF", kOk, 0, false},
      {"ED A0 80", u"", 0, 1, false},  // a surrogate
      {"ED BF BF", u"", 0, 1, false},
      {"EE 80 80", u"\uE000", kOk, 0, false},
      {"EF BF BF", u"\uFFFF", kOk, 0, false},
      {"E0 A0", u"", 0, 2, true},
      {"E1", u"", 0, 1, true},
      {"E1 80 41", u"", 0, 2, false},
      {"E1 41 80", u"", 0, 1, false},
      {"F0 90 80 80", u"\U00010000", kOk, 0, false},
      {"F0 8F BF BF", u"", 0, 1, false},  // overlong
      {"F3 BF BF BF", u"\U000FFFFF", kOk, 0, false},
      {"F4 8F BF BF", u"\U0010FFFF", kOk, 0, false},
      {"F4 90 80 80", u"", 0, 1, false},  // past U+10FFFF
      {"F5 80 80 80", u"", 0, 1, false},
      {"F0 90 80", u"", 0, 3, true},
      {"F0 90", u"", 0, 2, true},
      {"F0 90 41", u"", 0, 2, false},
      {"F0 90 80 41", u"", 0, 3, false},
      {"80", u"", 0, 1, false},
      {"BF 41", u"", 0, 1, false},
      {"FE", u"", 0, 1, false},
      {"FF", u"", 0, 1, false},
      {"41 42 E2 82", u"", 2, 2, true},
      {"41 C3 A9 ED A0 80", u"", 3, 1, false},
  };
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

TEST(Utf8Test, FaultOffsetsAcrossTheWideAsciiRuns) {
  // A fault after each length of ASCII, before and after a multi-byte
  // sequence, lands where it is whatever the run's alignment.
  for (size_t n = 0; n < 70; ++n) {
    for (const std::string& tail : {Bytes("FF"), Bytes("C3 A9 80")}) {
      const std::string bytes = std::string(n, 'a') + tail + "zz";
      const std::optional<Utf8Fault> fault = FindUtf8Fault(bytes);
      ASSERT_TRUE(fault) << n;
      EXPECT_EQ(fault->offset, tail.size() == 1 ? n : n + 2) << n;
      std::u16string text;
      EXPECT_FALSE(Utf8ToUtf16(bytes, &text));
    }
    const std::string good =
        std::string(n, 'b') + "\xC3\xA9" + std::string(n, 'c');
    EXPECT_EQ(FromUtf8(good),
              std::u16string(n, u'b') + u"\u00E9" + std::u16string(n, u'c'));
  }
}

TEST(Utf8Test, EverySplitOfAPieceCarriesTheCutSequence) {
  const std::string whole =
      "a\xC3\xA9"
      "b\xE2\x82\xAC"
      "c\xF0\x9F\x98\x80"
      "0123456789abcdefgh";
  const std::u16string expected = FromUtf8(whole);
  ASSERT_EQ(expected,
            u"a\u00E9b\u20ACc\U0001F600"
            u"0123456789abcdefgh");
  for (size_t at = 0; at <= whole.size(); ++at) {
    std::u16string out(whole.size(), u'\0');
    const std::string first = whole.substr(0, at);
    const Utf8Step one = DecodeUtf8(first, out.data());
    ASSERT_NE(one.stop, Utf8Stop::kBad) << at;
    EXPECT_EQ(one.read + (one.stop == Utf8Stop::kCut ? one.bad_length : 0), at);
    const std::string second = first.substr(one.read) + whole.substr(at);
    const Utf8Step two = DecodeUtf8(second, out.data() + one.written);
    EXPECT_EQ(two.stop, Utf8Stop::kEnd) << at;
    out.resize(one.written + two.written);
    EXPECT_EQ(out, expected) << at;
  }
}

TEST(Utf8Test, AllCodePointsRoundTrip) {
  std::u16string text;
  size_t bytes = 0;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c < 0xE000) continue;
    if (c < 0x10000) {
      text += static_cast<char16_t>(c);
    } else {
      text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
    bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  }
  const std::string utf8 = ToUtf8(text);
  EXPECT_EQ(utf8.size(), bytes);
  EXPECT_FALSE(FindUtf8Fault(utf8));
  std::u16string back;
  ASSERT_TRUE(Utf8ToUtf16(utf8, &back));
  EXPECT_TRUE(back == text);
  EXPECT_EQ(FindLoneSurrogate(text), std::u16string_view::npos);
}

TEST(Utf8Test, LoneSurrogatesAndLenientReplacement) {
  const struct {
    std::u16string text;
    size_t lone;
    std::string utf8;
  } encode[] = {
      {u"abc", std::u16string_view::npos, "abc"},
      {std::u16string(1, 0xD800), 0, "\xEF\xBF\xBD"},
      {std::u16string(1, 0xDFFF) + u"x", 0, "\xEF\xBF\xBDx"},
      {u"ab" + std::u16string(1, 0xDBFF), 2, "ab\xEF\xBF\xBD"},
      {std::u16string{0xDC00, 0xD800}, 0, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {u"\U0001F600" + std::u16string(1, 0xDC00), 2,
       "\xF0\x9F\x98\x80\xEF\xBF\xBD"},
      {std::u16string(20, u'x') + u"\u00E9", std::u16string_view::npos,
       std::string(20, 'x') + "\xC3\xA9"},
  };
  for (const auto& c : encode) {
    EXPECT_EQ(FindLoneSurrogate(c.text), c.lone) << c.utf8;
    EXPECT_EQ(ToUtf8(c.text), c.utf8);
  }
  // One U+FFFD per maximal subpart.
  const struct {
    const char* hex;
    std::u16string text;
  } lenient[] = {
      {"C0 80", u"\uFFFD\uFFFD"},
      {"ED A0 80", u"\uFFFD\uFFFD\uFFFD"},
      {"E2 82", u"\uFFFD"},
      {"E2 82 41", u"\uFFFDA"},
      {"F4 90 80 80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"F0 9F 98 41 80", u"\uFFFDA\uFFFD"},
      {"61 80 62", u"a\uFFFDb"},
  };
  for (const auto& c : lenient)
    EXPECT_EQ(FromUtf8(Bytes(c.hex)), c.text) << c.hex;
}

}  // namespace
}  // namespace quorvel
