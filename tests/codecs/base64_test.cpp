#include "quorvel/base64.h"

#include <gtest/gtest.h>

#include <optional>
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

TEST(Base64Test, EncodesOneUnbrokenLine) {
  EXPECT_EQ(mBase64::EncodeBytes({}).str(), u"");
  EXPECT_EQ(mBase64::EncodeBytes(Bytes{0x4D, 0x61, 0x6E}).str(), u"TWFu");
  EXPECT_EQ(mBase64::EncodeBytes(Bytes{0x4D, 0x61}).str(), u"TWE=");
  EXPECT_EQ(mBase64::EncodeBytes(Bytes{0x4D}).str(), u"TQ==");
  EXPECT_EQ(mBase64::EncodeBytes(Bytes{0xFB, 0xFF, 0xBF}).str(), u"+/+/");
  EXPECT_EQ(mBase64::EncodeBytes(Bytes{0, 0, 0}).str(), u"AAAA");
  EXPECT_EQ(mBase64::EncodeNarrow(Bytes{0xFF, 0xFE}), "//4=");
  for (size_t n : {57, 58}) {
    String text = mBase64::EncodeBytes(Bytes(n, 0xAB));
    EXPECT_EQ(text.size(), n == 57 ? 76u : 80u);
    EXPECT_EQ(text.view().find_first_of(u"\r\n"), std::u16string_view::npos);
  }
}

TEST(Base64Test, RoundTripsAndBothWidthsAgree) {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  std::mt19937 rng(3);
  std::vector<Bytes> inputs = {all};
  for (size_t n = 1; n < 70; ++n) {
    Bytes b(n);
    for (uint8_t& x : b) x = static_cast<uint8_t>(rng());
    inputs.push_back(b);
  }
  for (const Bytes& in : inputs) {
    String wide = mBase64::EncodeBytes(in);
    std::string narrow = mBase64::EncodeNarrow(in);
    ASSERT_EQ(Narrow(wide), narrow);
    EXPECT_EQ(mBase64::DecodeBytes(wide), in);
    EXPECT_EQ(mBase64::DecodeNarrow(narrow), in);
    // Encodings written one after the other decode as the bytes joined.
    Bytes twice = in;
    twice.insert(twice.end(), in.begin(), in.end());
    EXPECT_EQ(mBase64::DecodeNarrow(narrow + narrow), twice);
  }
}

TEST(Base64Test, LenientDecoding) {
  struct Case {
    std::u16string text;
    Bytes want;
  };
  const Case cases[] = {
      {u"TWFu", {0x4D, 0x61, 0x6E}},
      {u"TWE=", {0x4D, 0x61}},
      {u"TQ==", {0x4D}},
      {u"TW\r\nFu", {0x4D, 0x61, 0x6E}},
      {u"\r\nTWFu\r\n", {0x4D, 0x61, 0x6E}},
      {u"TQ==TQ==", {0x4D, 0x4D}},
      {u"TQ..", {0x4D}},             // any outsider acts as a pad
      {u"TQ=A", {0x4D, 0xC0}},       // -1 AND 3 is 3 in the third place
      {u"TWF\u0100", {0x4D, 0x61}},  // not in the code page: an outsider
      {u"TW E", {0x4D, 0xC4}},       // a blank is kept and is an outsider
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mBase64::DecodeBytes(c.text), c.want) << U8(c.text);
    EXPECT_EQ(mBase64::DecodeNarrow(Narrow(c.text)), c.want) << U8(c.text);
  }
  // A long text with a CR LF after every 76 characters, as mail writes it.
  Bytes data(3000);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<uint8_t>(i * 7);
  std::string lines, flat = mBase64::EncodeNarrow(data);
  for (size_t i = 0; i < flat.size(); i += 76)
    lines += flat.substr(i, 76) + "\r\n";
  EXPECT_EQ(mBase64::DecodeNarrow(lines), data);
}

TEST(Base64Test, DecodingErrors) {
  // Fewer than four characters once CR LF pairs are gone.
  for (std::u16string_view t :
       {u"", u"TWE", u"\r\n", u"T\r\nWE", u"\r\n\r\nTW"})
    ExpectRaisesStandard(mBase64::DecodeBytes(t), 9);
  // A last group cut short.
  for (std::u16string_view t : {u"TWFuTQ", u"TWFu\n", u"TWFu\r"})
    ExpectRaisesStandard(mBase64::DecodeBytes(t), 5);
  // A group whose first character is an outsider.
  for (std::u16string_view t :
       {u"=AAA", u"TWFu=AAA", u"\u0154WFu", u"TWFu AAA"})
    ExpectRaisesStandard(mBase64::DecodeBytes(t), 6);
  // Pairs are removed in one pass: CR CR LF LF leaves CR LF, which then
  // starts a group.
  ExpectRaisesStandard(mBase64::DecodeBytes(u"TWFu\r\r\n\nTWFu"), 6);
  // Within one group a missing character is found before the bad first one.
  ExpectRaisesStandard(mBase64::DecodeBytes(u"TWFu=A"), 5);
  // An earlier bad group wins over a later short one.
  ExpectRaisesStandard(mBase64::DecodeBytes(u"=AAAxx"), 6);
  ExpectRaisesStandard(mBase64::DecodeNarrow("TWFuTQ"), 5);
  ExpectRaisesStandard(mBase64::DecodeNarrow("\xC0WFu"), 6);
}

TEST(Base64Test, ValueForms) {
  Value text = Value(mBase64::Encode(MakeByteArray(Bytes{0x4D, 0x61})));
  EXPECT_EQ(VarType(text), 8);
  EXPECT_EQ(ToText(text), u"TWE=");
  EXPECT_EQ(mBase64::Encode(MakeByteArray(Bytes())).str(), u"");
  EXPECT_EQ(mBase64::Encode(Value(SafeArray(Bytes{1, 0x4D}, -1))).str(),
            u"TQ==");
  ExpectRaisesStandard(mBase64::Encode(Value()), 9);
  ExpectRaisesStandard(mBase64::Encode(Value(SafeArray(Bytes{1}, 1))), 9);
  ExpectRaisesStandard(mBase64::Encode(Value(u"TWFu")), 13);
  Value bytes = mBase64::Decode(u"TWFu");
  EXPECT_EQ(VarType(bytes), 8192 + 17);
  EXPECT_EQ(LBound(bytes), 0);
  EXPECT_EQ(UBound(bytes), 2);
  EXPECT_EQ(ToBytes(bytes), (Bytes{0x4D, 0x61, 0x6E}));
}

TEST(Base64Test, AgreesWithCoreutils) {
  std::mt19937 rng(64);
  for (size_t size : {0, 1, 2, 3, 4, 5, 57, 58, 76, 77, 1000, 65537}) {
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(rng());
    std::optional<std::string> theirs = testing::RunTool("base64 -w 0", data);
    if (!theirs) GTEST_SKIP() << "coreutils base64 is not available";
    const Bytes bytes(data.begin(), data.end());
    EXPECT_EQ(mBase64::EncodeNarrow(bytes), *theirs) << size;
    // The wrapped form coreutils writes by default decodes too: its LF line
    // ends are not CR LF pairs, so wrap with CR LF as mail does.
    std::string wrapped;
    for (size_t at = 0; at < theirs->size(); at += 76)
      wrapped += theirs->substr(at, 76) + "\r\n";
    if (size == 0) {
      ExpectRaisesStandard(mBase64::DecodeNarrow(wrapped), 9);  // no text
      continue;
    }
    EXPECT_EQ(mBase64::DecodeNarrow(wrapped), bytes) << size;
    EXPECT_EQ(testing::RunTool("base64 -d", mBase64::EncodeNarrow(bytes)), data)
        << size;
  }
}

}  // namespace
}  // namespace quorvel
