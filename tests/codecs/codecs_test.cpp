// Base64, RC4, Verhoeff, and the Byte array argument checks codecs share.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "quorvel/base64.h"
#include "quorvel/rc4.h"
#include "quorvel/verhoeff.h"
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
Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }

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
      {u"//4=", {0xFF, 0xFE}, true},
      // Read leniently: CR LF pairs dropped, encodings joined.
      {u"TW\r\nFu", {0x4D, 0x61, 0x6E}, false},
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
  // Lines of 76 characters, where the fast reading stops and resumes.
  Bytes all(1000);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i * 7);
  const std::string one_line = mBase64::EncodeNarrow(all);
  std::string lines;
  for (size_t i = 0; i < one_line.size(); i += 76)
    lines += one_line.substr(i, 76) + "\r\n";
  EXPECT_EQ(mBase64::DecodeNarrow(lines), all);
  EXPECT_EQ(mBase64::DecodeBytes(FromUtf8(lines)), all);
}

TEST(Base64Test, DecodingErrors) {
  const struct {
    int32_t number;
    std::vector<std::u16string_view> texts;
  } cases[] = {
      // Fewer than four characters once CR LF pairs are gone.
      {9, {u"", u"TWE", u"\r\n", u"T\r\nWE", u"\r\n\r\nTW"}},
      // A last group cut short (found before a bad first character).
      {5, {u"TWFuTQ", u"TWFu\n", u"TWFu\r", u"TWFu=A"}},
      // A bad first group wins over a short one; CR CR LF LF keeps a CR LF.
      {6, {u"=AAA", u"TWFu=AAA", u"TWFu AAA", u"=AAAxx", u"TWFu\r\r\n\nTWFu"}},
  };
  for (const auto& c : cases) {
    for (std::u16string_view text : c.texts) {
      SCOPED_TRACE(U8(text));
      ExpectRaisesStandard(mBase64::DecodeBytes(text), c.number);
      ExpectRaisesStandard(mBase64::DecodeNarrow(Narrow(text)), c.number);
    }
  }
}

TEST(RC4Test, PublishedVectorsThroughEveryForm) {
  // No ciphertext holds a 0 byte, so every form gives the classic result.
  struct Case {
    std::u16string_view key, text, hex;
  };
  const Case cases[] = {
      {u"Key", u"Plaintext", u"BBF316E8D940AF0AD3"},
      {u"Wiki", u"pedia", u"1021BF0420"},
      {u"Secret", u"Attack at dawn", u"45A01F645FC35B383552544B9BF5"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mRC4::Encrypt(c.text, c.key).str(), c.hex);
    EXPECT_EQ(mRC4::Decrypt(c.hex, c.key).str(), c.text);
    EXPECT_EQ(mRC4::ToHex(mRC4::Crypt(c.text, c.key)).str(), c.hex);
    EXPECT_EQ(mRC4::Crypt(mRC4::FromHex(c.hex), c.key).str(), c.text);
    const Bytes key = B(U8(c.key)), text = B(U8(c.text));
    EXPECT_EQ(mRC4::EncryptBytes(text, key), U8(c.hex));
    EXPECT_EQ(mRC4::DecryptBytes(U8(c.hex), key), text);
    mRC4::Cipher cipher(key);
    std::string hex(2 * text.size(), '\0');
    cipher.EncryptTo(std::span(text).first(1), hex.data());
    cipher.EncryptTo(std::span(text).subspan(1), hex.data() + 2);
    EXPECT_EQ(hex, U8(c.hex));
    Bytes again = text;  // in place, the key given as code-page characters
    mRC4::Cipher(c.key).Crypt(again, again.data());
    EXPECT_EQ(testing::ToHex(again), U8(c.hex));
  }
  EXPECT_EQ(mRC4::Decrypt(u"bbf316e8d940af0ad3", u"Key").str(), u"Plaintext");
  // A text byte equal to its keystream byte (EB) stays, instead of 00.
  EXPECT_EQ(mRC4::Encrypt(u"\u00EBlaintext", u"Key").str(),
            u"EBF316E8D940AF0AD3");
  EXPECT_EQ(mRC4::EncryptBytes(B("\xEBlaintext"), B("Key")),
            "EBF316E8D940AF0AD3");
  EXPECT_EQ(mRC4::Decrypt(u"EB", u"Key").str(), u"\u00EB");
  EXPECT_EQ(mRC4::Encrypt(std::u16string_view(u"\0", 1), u"Key").str(), u"EB");
  Bytes out(1);
  mRC4::CryptBytes(Bytes{0xEB}, B("Key"), out.data());
  EXPECT_EQ(out, Bytes{0xEB});
}

TEST(RC4Test, HexKeysAndErrors) {
  EXPECT_EQ(mRC4::ToHex(u"\n\u20AC\u00FF").str(), u"0A80FF");  // the euro is 80
  EXPECT_EQ(mRC4::FromHex(u"0A80FF").str(), u"\n\u20AC\u00FF");
  EXPECT_EQ(mRC4::FromHex(u"414").str(), u"A\u0004");  // a last lone digit
  for (std::u16string_view bad :
       {u"4G", u"G", u" 1", u"+1", u"0x", u"\u0661\u0661", u"fg"})
    ExpectRaisesStandard(mRC4::FromHex(bad), 13);
  // No text, no key: nothing, or error 11; hex is read before the key.
  EXPECT_EQ(mRC4::Decrypt(u"", u"k").str(), u"");
  ExpectRaisesStandard(mRC4::Encrypt(u"", u""), 11);
  ExpectRaisesStandard(mRC4::Decrypt(u"ZZ", u""), 13);
  ExpectRaisesStandard(mRC4::DecryptBytes("4", {}), 11);
  ExpectRaisesStandard(mRC4::Cipher(Bytes{}), 11);
  // Every code-page byte but 0 comes back; keys go through the code page.
  std::u16string text;
  for (int i = 1; i < 256; ++i) text += UnitFromAnsi(static_cast<uint8_t>(i));
  EXPECT_EQ(mRC4::Decrypt(mRC4::Encrypt(text, u"k3y"), u"k3y").str(), text);
  EXPECT_EQ(U8(mRC4::Encrypt(u"fox", u"\u20AC")),
            mRC4::EncryptBytes(B("fox"), Bytes{0x80}));
}

TEST(VerhoeffTest, KnownDigits) {
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
  // Past eight digits the permutation rows repeat.
  EXPECT_EQ(mVerhoeff::Generate(u"1234567890123456789"), 5);
  EXPECT_EQ(mVerhoeff::Generate(u"98765432109876543210"), 3);
  EXPECT_TRUE(mVerhoeff::Validate(u"987654321098765432103"));
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
  // Validate tests the length only past its numeric reading.
  EXPECT_FALSE(mVerhoeff::Validate(longest + u"1"));
  ExpectRaisesStandard(mVerhoeff::Validate(std::u16string(32767, u'0') + u"1"),
                       6);
}

// A (checked zero-based) Byte array as hex digits, anything else as text.
std::string Shown(const Value& v) {
  if (!v.IsArray()) return testing::U8(ToText(v));
  EXPECT_EQ(VarType(v), 8192 + 17);
  EXPECT_EQ(LBound(v), 0);
  return testing::ToHex(ToBytes(v));
}

TEST(ByteArrayFormsTest, EveryCodecChecksItsArgumentAlike) {
  const struct {
    const char* name;
    std::function<Value(const Value&)> form;
    const char* empty;      // what no bytes give, or null for error 9
    const char* from_zero;  // what bytes FF, then from index 0 C3 61, give
  } forms[] = {
      {"LZSS.Encode", &mLZSS::Encode, nullptr, "03C361"},
      {"LZSS.Decode", &mLZSS::Decode, nullptr, "61"},
      {"Base64.Encode",
       [](const Value& v) { return Value(mBase64::Encode(v)); }, "", "w2E="},
      {"MsgPack.Decode", &mMsgPack::Decode, nullptr, "True"},
  };
  for (const auto& f : forms) {
    SCOPED_TRACE(f.name);
    ExpectRaisesStandard(f.form(Value()), 9);  // never allocated
    ExpectRaisesStandard(f.form(Value(SafeArray(Bytes{0xC3, 0x61}, 1))), 9);
    ExpectRaisesStandard(f.form(Value(SafeArray(Kind::Byte, {{0, 2}, {0, 2}}))),
                         9);
    ExpectRaisesStandard(f.form(Value(5)), 13);
    ExpectRaisesStandard(f.form(MakeArray({Value(1)})), 13);
    if (f.empty) {
      EXPECT_EQ(Shown(f.form(MakeByteArray(Bytes()))), f.empty);
    } else {
      ExpectRaisesStandard(f.form(MakeByteArray(Bytes())), 9);
    }
    // Elements below index 0 are not read; the argument is left as it was.
    const Value arg(SafeArray(Bytes{0xFF, 0xC3, 0x61}, -1));
    EXPECT_EQ(Shown(f.form(arg)), f.from_zero);
    EXPECT_EQ(testing::ToHex(arg.array().bytes()), "FFC361");
  }
  EXPECT_EQ(Shown(mBase64::Decode(u"TWFu")), "4D616E");
  EXPECT_EQ(Shown(mMsgPack::Encode(Value(7))), "D207000000");
}

}  // namespace
}  // namespace quorvel
