#include "quorvel/rc4.h"

#include <array>
#include <bit>
#include <cstring>

#include "quorvel/codepage.h"
#include "quorvel/error.h"
#include "quorvel/storable.h"

namespace quorvel::mRC4 {

namespace {

// ASCII is the same in the code page; only the rest needs the table.
inline uint8_t AnsiOf(char16_t unit) {
  return unit < 0x80 ? static_cast<uint8_t>(unit) : AnsiFromUnit(unit);
}
inline char16_t UnitOf(uint8_t byte) {
  return byte < 0x80 ? char16_t{byte} : UnitFromAnsi(byte);
}

constexpr char kDigits[] = "0123456789ABCDEF";

template <class CharT>
struct HexTable {
  std::array<std::array<CharT, 2>, 256> pairs;
};

template <class CharT>
constexpr HexTable<CharT> MakeHex() {
  HexTable<CharT> t{};
  for (int b = 0; b < 256; ++b) {
    t.pairs[b][0] = static_cast<CharT>(kDigits[b >> 4]);
    t.pairs[b][1] = static_cast<CharT>(kDigits[b & 15]);
  }
  return t;
}

constexpr HexTable<char16_t> kWideHex = MakeHex<char16_t>();
constexpr HexTable<char> kNarrowHex = MakeHex<char>();

inline int HexDigit(uint32_t c) {
  if (c - '0' < 10) return static_cast<int>(c - '0');
  c |= 0x20;  // either case
  if (c - 'a' < 6) return static_cast<int>(c - 'a' + 10);
  return -1;
}

// Reads the hex text two digits at a time (a last lone digit alone) and
// hands each value to `emit`. Raises 13 for a pair that is not hexadecimal.
template <class CharT, class Emit>
void ReadHex(const CharT* hex, size_t n, Emit emit) {
  size_t q = 0;
  for (; q + 2 <= n; q += 2) {
    const int hi = HexDigit(static_cast<uint32_t>(hex[q]));
    const int lo = HexDigit(static_cast<uint32_t>(hex[q + 1]));
    if ((hi | lo) < 0) RaiseStandard(kErrTypeMismatch);
    emit(static_cast<uint8_t>(hi << 4 | lo));
  }
  if (q < n) {
    const int v = HexDigit(static_cast<uint32_t>(hex[q]));
    if (v < 0) RaiseStandard(kErrTypeMismatch);
    emit(static_cast<uint8_t>(v));
  }
}

}  // namespace

template <class KeyByte>
Cipher::Cipher(size_t length, KeyByte key_byte) {
  if (length == 0) RaiseStandard(kErrDivisionByZero);
  uint8_t block[256];
  for (size_t x = 0; x < 256; ++x) {
    s_[x] = static_cast<uint8_t>(x);
    block[x] = key_byte(x % length);
  }
  uint8_t j = 0;
  for (int x = 0; x < 256; ++x) {
    j = static_cast<uint8_t>(j + s_[x] + block[x]);
    std::swap(s_[x], s_[j]);
  }
}

Cipher::Cipher(std::span<const uint8_t> key)
    : Cipher(key.size(), [&](size_t x) { return key[x]; }) {}

Cipher::Cipher(std::u16string_view key)
    : Cipher(key.size(), [&](size_t x) { return AnsiOf(key[x]); }) {}

void Cipher::Crypt(std::span<const uint8_t> data, uint8_t* out) {
  Run(
      data.size(), [&](size_t x) { return data[x]; },
      [&](size_t x, uint8_t b) { out[x] = b; });
}

void Cipher::EncryptTo(std::span<const uint8_t> data, char* hex) {
  // Eight keystream bytes are gathered into a word and combined with eight
  // text bytes at once: a shorter loop than a byte at a time, and 8-byte
  // loads of the text.
  constexpr auto kShift = [](int q) {
    return std::endian::native == std::endian::little ? 8 * q : 8 * (7 - q);
  };
  uint8_t i = i_;
  uint8_t j = j_;
  const size_t whole = data.size() & ~size_t{7};
  for (size_t x = 0; x < whole; x += 8) {
    uint64_t text;
    std::memcpy(&text, data.data() + x, 8);
    uint64_t keys = 0;
    for (int q = 0; q < 8; ++q)
      keys |= uint64_t{Keystream(s_, i, j)} << kShift(q);
    const uint64_t mixed = text ^ keys;
    for (int q = 0; q < 8; ++q) {
      auto b = static_cast<uint8_t>(mixed >> kShift(q));
      if (b == 0) b = static_cast<uint8_t>(text >> kShift(q));
      std::memcpy(hex + 2 * (x + q), kNarrowHex.pairs[b].data(), 2);
    }
  }
  i_ = i;
  j_ = j;
  Run(
      data.size() - whole, [&](size_t x) { return data[whole + x]; },
      [&](size_t x, uint8_t b) {
        std::memcpy(hex + 2 * (whole + x), kNarrowHex.pairs[b].data(), 2);
      });
}

String Crypt(std::u16string_view text, std::u16string_view key) {
  Cipher cipher(key);
  return String::Build(text.size(), [&](char16_t* out) {
    cipher.Run(
        text.size(), [&](size_t x) { return AnsiOf(text[x]); },
        [&](size_t x, uint8_t b) { out[x] = UnitOf(b); });
  });
}

String ToHex(std::u16string_view text) {
  return String::Build(2 * text.size(), [&](char16_t* out) {
    for (size_t x = 0; x < text.size(); ++x, out += 2)
      std::memcpy(out, kWideHex.pairs[AnsiOf(text[x])].data(), 4);
  });
}

String FromHex(std::u16string_view hex) {
  std::u16string units;
  units.reserve((hex.size() + 1) / 2);
  ReadHex(hex.data(), hex.size(), [&](uint8_t b) { units += UnitOf(b); });
  return String(units);
}

String Encrypt(std::u16string_view text, std::u16string_view key) {
  return Encrypt(text, key, CryptOptions{.exact = ExactScope::Active()});
}

String Encrypt(std::u16string_view text, std::u16string_view key,
               const CryptOptions& options) {
  Cipher cipher(key);
  if (options.exact) {
    RequireStorableText(key, StorableTarget::kText, {}, u"the key");
    RequireStorableText(text, StorableTarget::kRc4Text, {}, u"the text");
  }
  return String::Build(2 * text.size(), [&](char16_t* out) {
    cipher.Run(
        text.size(), [&](size_t x) { return AnsiOf(text[x]); },
        [&](size_t x, uint8_t b) {
          std::memcpy(out + 2 * x, kWideHex.pairs[b].data(), 4);
        });
  });
}

String Decrypt(std::u16string_view hex, std::u16string_view key) {
  std::vector<uint8_t> bytes;
  bytes.reserve((hex.size() + 1) / 2);
  ReadHex(hex.data(), hex.size(), [&](uint8_t b) { bytes.push_back(b); });
  Cipher cipher(key);
  return String::Build(bytes.size(), [&](char16_t* out) {
    cipher.Run(
        bytes.size(), [&](size_t x) { return bytes[x]; },
        [&](size_t x, uint8_t b) { out[x] = UnitOf(b); });
  });
}

void CryptBytes(std::span<const uint8_t> data, std::span<const uint8_t> key,
                uint8_t* out) {
  Cipher(key).Crypt(data, out);
}

void EncryptTo(std::span<const uint8_t> data, std::span<const uint8_t> key,
               char* hex) {
  Cipher(key).EncryptTo(data, hex);
}

std::string EncryptBytes(std::span<const uint8_t> data,
                         std::span<const uint8_t> key) {
  std::string out(2 * data.size(), '\0');
  EncryptTo(data, key, out.data());
  return out;
}

std::vector<uint8_t> DecryptBytes(std::string_view hex,
                                  std::span<const uint8_t> key) {
  std::vector<uint8_t> bytes((hex.size() + 1) / 2);
  uint8_t* o = bytes.data();
  ReadHex(hex.data(), hex.size(), [&](uint8_t b) { *o++ = b; });
  Cipher(key).Crypt(bytes, bytes.data());
  return bytes;
}

}  // namespace quorvel::mRC4
