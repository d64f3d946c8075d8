#include "quorvel/rc4.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "test_util.h"

namespace quorvel {
namespace {

using testing::U8;
using Bytes = std::vector<uint8_t>;

Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }

TEST(RC4Test, PublishedVectorsWhereNoByteMeetsItsKeystream) {
  // None of these ciphertexts holds a 0 byte, so the combining step is
  // plain XOR throughout and the classic results must come out.
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
    Bytes key = B(U8(c.key)), text = B(U8(c.text));
    EXPECT_EQ(mRC4::EncryptBytes(text, key), U8(c.hex));
    EXPECT_EQ(mRC4::DecryptBytes(U8(c.hex), key), text);
  }
  // Lower-case digits read like upper-case ones.
  EXPECT_EQ(mRC4::Decrypt(u"bbf316e8d940af0ad3", u"Key").str(), u"Plaintext");
}

TEST(RC4Test, ByteEqualToKeystreamIsKept) {
  // The first keystream byte of "Key" is BB XOR 50 ("P") = EB. A text byte
  // EB (e with diaeresis in the code page) stays EB instead of becoming 00,
  // and deciphers back to itself.
  EXPECT_EQ(mRC4::Encrypt(u"\u00EB", u"Key").str(), u"EB");
  EXPECT_EQ(mRC4::Decrypt(u"EB", u"Key").str(), u"\u00EB");
  EXPECT_EQ(mRC4::Encrypt(u"\u00EBlaintext", u"Key").str(),
            u"EBF316E8D940AF0AD3");
  // A text byte 0 enciphers to the keystream byte and deciphers to it.
  EXPECT_EQ(mRC4::Encrypt(std::u16string_view(u"\0", 1), u"Key").str(), u"EB");
  Bytes out(1);
  mRC4::CryptBytes(Bytes{0xEB}, B("Key"), out.data());
  EXPECT_EQ(out, Bytes{0xEB});
}

TEST(RC4Test, AgreesWithOpenSsl) {
  // OpenSSL combines by plain XOR, so its output holds 0 exactly where a
  // text byte met its keystream byte; there ours keeps the text byte, and
  // everywhere else the two must be the same byte.
  std::mt19937 rng(4);
  for (size_t key_size : {5, 16}) {
    for (size_t size : {1, 255, 256, 257, 70000}) {
      std::string data(size, '\0'), key(key_size, '\0');
      for (char& c : data) c = static_cast<char>(rng() % 4 == 0 ? 0 : rng());
      for (char& c : key) c = static_cast<char>(rng());
      std::string key_hex;
      for (char c : key) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", static_cast<uint8_t>(c));
        key_hex += two;
      }
      const std::string cipher = key_size == 5 ? "-rc4-40" : "-rc4";
      std::optional<std::string> theirs =
          testing::RunTool("openssl enc " + cipher + " -nosalt -K " + key_hex +
                               " -provider legacy -provider default",
                           data);
      if (!theirs)
        GTEST_SKIP() << "openssl with its legacy provider is not available";
      ASSERT_EQ(theirs->size(), size);
      Bytes ours(size);
      mRC4::CryptBytes(B(data), B(key), ours.data());
      size_t kept = 0;
      for (size_t i = 0; i < size; ++i) {
        const uint8_t t = static_cast<uint8_t>((*theirs)[i]);
        if (t == 0) ++kept;
        ASSERT_EQ(ours[i], t == 0 ? static_cast<uint8_t>(data[i]) : t)
            << "key " << key_size << ", size " << size << ", byte " << i;
      }
      if (size == 70000) EXPECT_GT(kept, 0u);  // the rule was exercised
    }
  }
}

TEST(RC4Test, HexAndCodePage) {
  EXPECT_EQ(mRC4::ToHex(u"\n\u20AC\u00FF").str(), u"0A80FF");  // the euro is 80
  EXPECT_EQ(mRC4::FromHex(u"0A80FF").str(), u"\n\u20AC\u00FF");
  EXPECT_EQ(mRC4::FromHex(u"414").str(), u"A\u0004");  // a last lone digit
  EXPECT_EQ(mRC4::FromHex(u"").str(), u"");
  for (std::u16string_view bad :
       {u"4G", u"G", u" 1", u"+1", u"0x", u"\u0661\u0661"})
    ExpectRaisesStandard(mRC4::FromHex(bad), 13);
  std::mt19937 rng(9);
  std::u16string text;
  for (int i = 0; i < 500; ++i)
    text += UnitFromAnsi(static_cast<uint8_t>(1 + rng() % 255));
  String hex = mRC4::Encrypt(text, u"k3y");
  EXPECT_EQ(hex.size(), 2 * text.size());
  EXPECT_EQ(hex.view().find_first_not_of(u"0123456789ABCDEF"),
            std::u16string_view::npos);
  EXPECT_EQ(mRC4::Decrypt(hex, u"k3y").str(), text);
}

TEST(RC4Test, KeysAndErrors) {
  EXPECT_EQ(mRC4::Encrypt(u"", u"k").str(), u"");
  EXPECT_EQ(mRC4::Decrypt(u"", u"k").str(), u"");
  ExpectRaisesStandard(mRC4::Encrypt(u"", u""), 11);
  ExpectRaisesStandard(mRC4::Encrypt(u"abc", u""), 11);
  ExpectRaisesStandard(mRC4::Decrypt(u"", u""), 11);
  ExpectRaisesStandard(mRC4::Crypt(u"abc", u""), 11);
  ExpectRaisesStandard(mRC4::Decrypt(u"ZZ", u""), 13);  // hex is read first
  ExpectRaisesStandard(mRC4::EncryptBytes(B("abc"), {}), 11);
  ExpectRaisesStandard(mRC4::DecryptBytes("4", {}), 11);
  // A key repeats over the 256-byte block: one character is that character
  // 256 times, and only the first 256 characters of a longer key count.
  // Long enough for the keystream to reach every entry of the permutation.
  std::u16string text;
  for (int i = 0; i < 50; ++i) text += u"The quick brown fox ";
  EXPECT_EQ(mRC4::Encrypt(text, u"x").str(),
            mRC4::Encrypt(text, std::u16string(256, u'x')).str());
  std::u16string long_key;
  for (int i = 0; i < 300; ++i)
    long_key += static_cast<char16_t>(u'a' + i % 26 + (i / 26 % 2));
  EXPECT_EQ(mRC4::Encrypt(text, long_key).str(),
            mRC4::Encrypt(text, long_key.substr(0, 256)).str());
  EXPECT_NE(mRC4::Encrypt(text, long_key.substr(0, 255)).str(),
            mRC4::Encrypt(text, long_key.substr(0, 256)).str());
  // Key characters go through the code page too.
  EXPECT_EQ(U8(mRC4::Encrypt(text, u"\u20AC")),
            mRC4::EncryptBytes(B(U8(text)), Bytes{0x80}));
}

TEST(RC4Test, CipherCarriesTheKeystreamAcrossPieces) {
  Bytes text;
  for (int i = 0; i < 1000; ++i) text.push_back(static_cast<uint8_t>(i * 7));
  const Bytes key = B("piece key");
  Bytes whole(text.size());
  mRC4::CryptBytes(text, key, whole.data());
  // Cut anywhere, even into empty pieces, the keystream goes on.
  for (size_t cut : {size_t{0}, size_t{1}, size_t{255}, size_t{256},
                     size_t{999}, size_t{1000}}) {
    mRC4::Cipher cipher(key);
    Bytes pieces(text.size());
    cipher.Crypt(std::span(text).first(cut), pieces.data());
    cipher.Crypt(std::span(text).subspan(cut), pieces.data() + cut);
    EXPECT_EQ(pieces, whole) << cut;
  }
  mRC4::Cipher hex_cipher(key);
  std::string hex(2 * text.size(), '\0');
  hex_cipher.EncryptTo(std::span(text).first(10), hex.data());
  hex_cipher.EncryptTo(std::span(text).subspan(10), hex.data() + 20);
  EXPECT_EQ(hex, mRC4::EncryptBytes(text, key));
  // In place, and with the key given as characters of the code page.
  Bytes again = text;
  mRC4::Cipher(u"piece key").Crypt(again, again.data());
  EXPECT_EQ(again, whole);
  ExpectRaisesStandard(mRC4::Cipher(Bytes{}), 11);
  ExpectRaisesStandard(mRC4::Cipher(u""), 11);
}

}  // namespace
}  // namespace quorvel
