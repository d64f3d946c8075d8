// `mRC4`: the RC4 keystream applied to text, written as upper-case hex.
//
// Text and key are taken one byte per character in the 8-bit code page. The
// keystream is standard RC4 with nothing discarded, but the combining step
// keeps a text byte that equals its keystream byte instead of turning it into
// 0; everywhere else it is plain XOR. Applying the step twice gives every
// byte back except 0, which comes back as the keystream byte.
//
// Stateless; the key is never kept. Every function may be called from any
// thread.
#ifndef QUORVEL_RC4_H_
#define QUORVEL_RC4_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/string.h"

namespace quorvel::mRC4 {

// Returns the enciphered (or, applied again, deciphered) text. Raises 11
// for an empty key.
String Crypt(std::u16string_view text, std::u16string_view key);
// Returns two upper-case hex digits per character's 8-bit code.
String ToHex(std::u16string_view text);
// Returns the characters whose codes the hex text spells, read two digits
// at a time; a last lone digit is a value of its own. Raises 13 for a pair
// that is not hexadecimal.
String FromHex(std::u16string_view hex);

// Encrypt = ToHex(Crypt(text, key)); Decrypt = Crypt(FromHex(hex), key), so
// a malformed hex text raises 13 before an empty key raises 11.
// Under an ExactScope, Encrypt is Encrypt(text, key, {.exact = true}).
String Encrypt(std::u16string_view text, std::u16string_view key);
String Decrypt(std::u16string_view hex, std::u16string_view key);

// How to encipher, beyond the cipher's own rules.
struct CryptOptions {
  // Refuses, after the empty key's 11, a key or text with a character that
  // has no byte in the code page (which would be enciphered as '?') and a
  // text holding U+0000 (which deciphers to the keystream byte): raises 5
  // with a description naming the character and where it stands.
  bool exact = false;
};
String Encrypt(std::u16string_view text, std::u16string_view key,
               const CryptOptions& options);

// Byte forms of the same, for data that is already 8-bit.
void CryptBytes(std::span<const uint8_t> data, std::span<const uint8_t> key,
                uint8_t* out);
std::string EncryptBytes(std::span<const uint8_t> data,
                         std::span<const uint8_t> key);
std::vector<uint8_t> DecryptBytes(std::string_view hex,
                                  std::span<const uint8_t> key);
// Writes the 2 * data.size() hex digits of the enciphered data to `hex`.
void EncryptTo(std::span<const uint8_t> data, std::span<const uint8_t> key,
               char* hex);

// The cipher of one text kept between calls, for text that arrives in
// pieces: pieces passed one after the other come out as the whole text
// would. Holds RC4's permutation and indices after the key schedule, never
// the key. Thread-compatible.
class Cipher {
 public:
  // Runs the key schedule over `key` repeated. Raises 11 for an empty key.
  explicit Cipher(std::span<const uint8_t> key);
  // The same for a key of characters, each taken as its 8-bit code.
  explicit Cipher(std::u16string_view key);

  // Writes the combined bytes of `data` to `out` (which may be `data`).
  void Crypt(std::span<const uint8_t> data, uint8_t* out);
  // Writes two upper-case hex digits per combined byte of `data` to `hex`.
  void EncryptTo(std::span<const uint8_t> data, char* hex);

  // Returns the combined byte for text byte `c`: c itself where it equals
  // the keystream byte, the XOR of the two elsewhere.
  uint8_t Next(uint8_t c) { return Step(s_, i_, j_, c); }

  // Combines `n` bytes, the x-th being `byte_at(x)`, and hands each result
  // to `emit(x, byte)`. The positions live in locals meanwhile: kept in the
  // object, every byte stored into the state (which may alias them) would
  // make the compiler load them again.
  template <class ByteAt, class Emit>
  void Run(size_t n, ByteAt byte_at, Emit emit) {
    uint8_t i = i_;
    uint8_t j = j_;
    for (size_t x = 0; x < n; ++x) emit(x, Step(s_, i, j, byte_at(x)));
    i_ = i;
    j_ = j;
  }

 private:
  static uint8_t Keystream(uint8_t* s, uint8_t& i, uint8_t& j) {
    i = static_cast<uint8_t>(i + 1);
    const uint8_t si = s[i];
    j = static_cast<uint8_t>(j + si);
    const uint8_t sj = s[j];
    s[i] = sj;
    s[j] = si;
    return s[static_cast<uint8_t>(si + sj)];
  }
  static uint8_t Step(uint8_t* s, uint8_t& i, uint8_t& j, uint8_t c) {
    const uint8_t x = Keystream(s, i, j) ^ c;
    return x != 0 ? x : c;
  }

  // The key schedule for a key of `length` characters whose byte at x is
  // `key_byte(x)`.
  template <class KeyByte>
  Cipher(size_t length, KeyByte key_byte);

  uint8_t s_[256];
  uint8_t i_ = 0;
  uint8_t j_ = 0;
};

}  // namespace quorvel::mRC4

#endif  // QUORVEL_RC4_H_
