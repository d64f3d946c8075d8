// Base64, RC4 and Verhoeff, and the argument checks that every codec taking
// a Byte array Value shares.
#include <gtest/gtest.h>

#include <functional>
#include <random>
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
      // Read leniently: CR LF pairs anywhere are dropped, and encodings
      // written one after the other decode as the bytes joined.
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
}

TEST(Base64Test, RoundTripsAtEveryLengthInOneLine) {
  // Lengths around the 57 bytes of a mail line and random ones, written as
  // one line, read back as it is and broken every 76 characters by CR LF.
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

TEST(RC4Test, PublishedVectorsThroughEveryForm) {
  // None of these ciphertexts holds a 0 byte, so the classic results come
  // out of every form.
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
  // The first keystream byte of "Key" is EB: a text byte EB stays EB
  // instead of becoming 00 and deciphers back to itself; 0 gives EB.
  EXPECT_EQ(mRC4::Encrypt(u"\u00EBlaintext", u"Key").str(),
            u"EBF316E8D940AF0AD3");
  EXPECT_EQ(mRC4::Decrypt(u"EB", u"Key").str(), u"\u00EB");
  EXPECT_EQ(mRC4::Encrypt(std::u16string_view(u"\0", 1), u"Key").str(), u"EB");
  Bytes out(1);
  mRC4::CryptBytes(Bytes{0xEB}, B("Key"), out.data());
  EXPECT_EQ(out, Bytes{0xEB});
}

// The cipher as its rules read, a byte at a time, with this variant's one
// change: a text byte equal to its keystream byte is kept, not zeroed.
Bytes Reference(const Bytes& key, const Bytes& text) {
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  for (size_t i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % key.size()]) & 255;
    std::swap(s[i], s[j]);
  }
  Bytes out;
  for (size_t n = 0, i = 0, j = 0; n < text.size(); ++n) {
    i = (i + 1) & 255;
    j = (j + s[i]) & 255;
    std::swap(s[i], s[j]);
    const uint8_t k = s[(s[i] + s[j]) & 255];
    out.push_back(text[n] == k ? k : text[n] ^ k);
  }
  return out;
}

TEST(RC4Test, AgreesWithTheRulesOverLongStreamsInPieces) {
  // Keys on each side of 256 bytes; texts over which both indices wrap many
  // times, a quarter of their bytes 0, whole and in pieces, some empty.
  std::mt19937 rng(4);
  for (size_t key_size : {1, 255, 256, 257, 300}) {
    Bytes key(key_size), text(1 + rng() % 70000);
    for (uint8_t& b : key) b = static_cast<uint8_t>(rng());
    for (uint8_t& b : text) b = static_cast<uint8_t>(rng() % 4 ? rng() : 0);
    const Bytes want = Reference(key, text);
    Bytes ours(text.size());
    mRC4::CryptBytes(text, key, ours.data());
    ASSERT_EQ(ours, want) << key_size;
    mRC4::Cipher stream(key);
    for (size_t at = 0, n; at < text.size(); at += n) {
      n = std::min<size_t>(text.size() - at, rng() % 3000);
      stream.Crypt(std::span(text).subspan(at, n), ours.data() + at);
    }
    ASSERT_EQ(ours, want) << key_size;
  }
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
  ExpectRaisesStandard(mRC4::Decrypt(u"", u""), 11);
  ExpectRaisesStandard(mRC4::Crypt(u"abc", u""), 11);
  ExpectRaisesStandard(mRC4::Decrypt(u"ZZ", u""), 13);
  ExpectRaisesStandard(mRC4::EncryptBytes(B("abc"), {}), 11);
  ExpectRaisesStandard(mRC4::DecryptBytes("4", {}), 11);
  ExpectRaisesStandard(mRC4::Cipher(Bytes{}), 11);
  // Every code-page byte but 0 comes back through hex, and key characters
  // go through the code page too.
  std::u16string text;
  for (int i = 1; i < 256; ++i) text += UnitFromAnsi(static_cast<uint8_t>(i));
  EXPECT_EQ(mRC4::Decrypt(mRC4::Encrypt(text, u"k3y"), u"k3y").str(), text);
  EXPECT_EQ(U8(mRC4::Encrypt(u"fox", u"\u20AC")),
            mRC4::EncryptBytes(B("fox"), Bytes{0x80}));
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
  // Every single change and every swap of two unequal neighbours is caught.
  std::mt19937 rng(5);
  for (int round = 0; round < 100; ++round) {
    std::u16string full;
    for (size_t n = 1 + rng() % 20; n > 0; --n)
      full += static_cast<char16_t>(u'0' + rng() % 10);
    full += static_cast<char16_t>(u'0' + mVerhoeff::Generate(full));
    ASSERT_TRUE(mVerhoeff::Validate(full)) << U8(full);
    for (size_t at = 0; at < full.size(); ++at) {
      std::u16string changed = full;
      for (int k = 1; k < 10; ++k) {
        changed[at] = u'0' + (full[at] - u'0' + k) % 10;
        EXPECT_FALSE(mVerhoeff::Validate(changed)) << U8(changed);
      }
      changed = full;
      if (at + 1 == full.size() || full[at] == full[at + 1]) continue;
      std::swap(changed[at], changed[at + 1]);
      EXPECT_FALSE(mVerhoeff::Validate(changed)) << U8(changed);
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

// A Byte array as its hex digits (after checking it is a new zero-based
// Byte array), anything else as its text.
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
    ExpectRaisesStandard(f.form(Value(u"0161")), 13);
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
