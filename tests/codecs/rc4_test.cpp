#include "quorvel/rc4.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "test_util.h"

namespace quorvel {
namespace {

using testing::U8;
using Bytes = std::vector<uint8_t>;

Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }

TEST(RC4Test, PublishedVectorsThroughEveryForm) {
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
    const Bytes key = B(U8(c.key)), text = B(U8(c.text));
    EXPECT_EQ(mRC4::EncryptBytes(text, key), U8(c.hex));
    EXPECT_EQ(mRC4::DecryptBytes(U8(c.hex), key), text);
    // The hex form goes on across pieces too.
    mRC4::Cipher cipher(key);
    std::string hex(2 * text.size(), '\0');
    cipher.EncryptTo(std::span(text).first(1), hex.data());
    cipher.EncryptTo(std::span(text).subspan(1), hex.data() + 2);
    EXPECT_EQ(hex, U8(c.hex));
    // In place, with the key given as characters of the code page.
    Bytes again = text;
    mRC4::Cipher(c.key).Crypt(again, again.data());
    EXPECT_EQ(testing::ToHex(again), U8(c.hex));
  }
  // Lower-case digits read like upper-case ones.
  EXPECT_EQ(mRC4::Decrypt(u"bbf316e8d940af0ad3", u"Key").str(), u"Plaintext");
  // The first keystream byte of "Key" is BB XOR 50 ("P") = EB. A text byte
  // EB stays EB instead of becoming 00, and deciphers back to itself; a
  // text byte 0 enciphers to the keystream byte.
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
  // Keys of every length up to 300 (past the 256-byte block), texts long
  // enough for both indices to wrap many times, a quarter of their bytes
  // 0; through one Cipher in pieces of random sizes, some empty.
  std::mt19937 rng(4);
  for (size_t key_size : {1, 5, 16, 255, 256, 257, 300}) {
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
  EXPECT_EQ(mRC4::FromHex(u"").str(), u"");
  for (std::u16string_view bad :
       {u"4G", u"G", u" 1", u"+1", u"0x", u"\u0661\u0661", u"fg"})
    ExpectRaisesStandard(mRC4::FromHex(bad), 13);
  // No text, no key: nothing, or error 11; hex is read before the key.
  EXPECT_EQ(mRC4::Encrypt(u"", u"k").str(), u"");
  EXPECT_EQ(mRC4::Decrypt(u"", u"k").str(), u"");
  ExpectRaisesStandard(mRC4::Encrypt(u"", u""), 11);
  ExpectRaisesStandard(mRC4::Decrypt(u"", u""), 11);
  ExpectRaisesStandard(mRC4::Crypt(u"abc", u""), 11);
  ExpectRaisesStandard(mRC4::Decrypt(u"ZZ", u""), 13);
  ExpectRaisesStandard(mRC4::EncryptBytes(B("abc"), {}), 11);
  ExpectRaisesStandard(mRC4::DecryptBytes("4", {}), 11);
  ExpectRaisesStandard(mRC4::Cipher(Bytes{}), 11);
  // Every code-page byte but 0 comes back through hex.
  std::u16string text;
  for (int i = 1; i < 256; ++i) text += UnitFromAnsi(static_cast<uint8_t>(i));
  EXPECT_EQ(mRC4::Decrypt(mRC4::Encrypt(text, u"k3y"), u"k3y").str(), text);
  // Key characters go through the code page too.
  text = u"The quick brown fox";
  EXPECT_EQ(U8(mRC4::Encrypt(text, u"\u20AC")),
            mRC4::EncryptBytes(B(U8(text)), Bytes{0x80}));
}

}  // namespace
}  // namespace quorvel
