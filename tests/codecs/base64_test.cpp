#include "quorvel/base64.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "test_util.h"

namespace quorvel {
namespace {

using testing::U8;
using Bytes = std::vector<uint8_t>;

std::string Narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out += static_cast<char>(c);
  return out;
}

TEST(Base64Test, KnownTextsBothWays) {
  const struct {
    std::u16string text;
    Bytes bytes;
    bool written;  // what the encoder writes, as well as reads
  } cases[] = {
      {u"TWFu", {0x4D, 0x61, 0x6E}, true},
      {u"TWE=", {0x4D, 0x61}, true},
      {u"TQ==", {0x4D}, true},
      {u"+/+/", {0xFB, 0xFF, 0xBF}, true},
      {u"AAAA", {0, 0, 0}, true},
      {u"//4=", {0xFF, 0xFE}, true},
      // Read leniently: CR LF pairs anywhere are dropped, and encodings
      // written one after the other decode as the bytes joined.
      {u"TW\r\nFu", {0x4D, 0x61, 0x6E}, false},
      {u"\r\nTWFu\r\n", {0x4D, 0x61, 0x6E}, false},
      {u"TQ==TQ==", {0x4D, 0x4D}, false},
      {u"TQ..", {0x4D}, false},             // any outsider acts as a pad
      {u"TQ=A", {0x4D, 0xC0}, false},       // -1 AND 3 is 3 in the third place
      {u"TWF\u0100", {0x4D, 0x61}, false},  // not in the code page: outsider
      {u"TW E", {0x4D, 0xC4}, false},  // a blank is kept and is an outsider
  };
  for (const auto& c : cases) {
    if (c.written) {
      EXPECT_EQ(mBase64::EncodeBytes(c.bytes).str(), c.text);
      EXPECT_EQ(mBase64::EncodeNarrow(c.bytes), Narrow(c.text));
    }
    EXPECT_EQ(mBase64::DecodeBytes(c.text), c.bytes) << U8(c.text);
    EXPECT_EQ(mBase64::DecodeNarrow(Narrow(c.text)), c.bytes) << U8(c.text);
  }
  EXPECT_EQ(mBase64::EncodeBytes({}).str(), u"");
}

TEST(Base64Test, RoundTripsAtEveryLengthInOneLine) {
  // Every byte value, random bytes of lengths around the 57 a mail line
  // holds and of random lengths, as one line without breaks; read back as
  // it is and with a CR LF after every 76 characters, as mail writes it.
  std::mt19937 rng(3);
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  std::vector<Bytes> inputs = {all};
  for (size_t n = 1; n < 70; ++n) inputs.emplace_back(n);
  for (int i = 0; i < 5; ++i) inputs.emplace_back(1 + rng() % 70000);
  for (Bytes& in : inputs) {
    if (in.size() != 256)
      for (uint8_t& x : in) x = static_cast<uint8_t>(rng());
    const String wide = mBase64::EncodeBytes(in);
    const std::string narrow = mBase64::EncodeNarrow(in);
    ASSERT_EQ(Narrow(wide), narrow);
    EXPECT_EQ(narrow.size(), (in.size() + 2) / 3 * 4);
    EXPECT_EQ(narrow.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(mBase64::DecodeBytes(wide), in);
    std::string lines;
    for (size_t i = 0; i < narrow.size(); i += 76)
      lines += narrow.substr(i, 76) + "\r\n";
    EXPECT_EQ(mBase64::DecodeNarrow(lines), in);
  }
}

TEST(Base64Test, DecodingErrors) {
  const struct {
    int32_t number;
    std::vector<std::u16string_view> texts;
  } cases[] = {
      // Fewer than four characters once CR LF pairs are gone.
      {9, {u"", u"TWE", u"\r\n", u"T\r\nWE", u"\r\n\r\nTW"}},
      // A last group cut short; within one group a missing character is
      // found before a bad first one.
      {5, {u"TWFuTQ", u"TWFu\n", u"TWFu\r", u"TWFu=A"}},
      // A group whose first character is an outsider; an earlier bad group
      // wins over a later short one. Pairs are removed in one pass: CR CR
      // LF LF leaves CR LF, which then starts a group.
      {6, {u"=AAA", u"TWFu=AAA", u"TWFu AAA", u"=AAAxx", u"TWFu\r\r\n\nTWFu"}},
  };
  for (const auto& c : cases) {
    for (std::u16string_view text : c.texts) {
      SCOPED_TRACE(U8(text));
      ExpectRaisesStandard(mBase64::DecodeBytes(text), c.number);
      ExpectRaisesStandard(mBase64::DecodeNarrow(Narrow(text)), c.number);
    }
  }
  ExpectRaisesStandard(mBase64::DecodeBytes(u"\u0154WFu"), 6);
  ExpectRaisesStandard(mBase64::DecodeNarrow("\xC0WFu"), 6);
}

}  // namespace
}  // namespace quorvel
