#include "quorvel/base64.h"

#include <array>
#include <cstring>
#include <string>

#include "codecs/byte_input.h"
#include "quorvel/error.h"

namespace quorvel::mBase64 {

namespace {

// Value of every 8-bit code: 0 to 63 for the alphabet, -1 for the rest ("="
// included).
constexpr std::array<int16_t, 256> kValues = [] {
  std::array<int16_t, 256> t{};
  for (int16_t& v : t) v = -1;
  for (size_t i = 0; i < kAlphabet.size(); ++i)
    t[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int16_t>(i);
  return t;
}();

// The fast reader combines a whole group with four lookups: the value of a
// character at place k of a group, shifted into place, or kBad for a
// character outside the alphabet.
constexpr uint32_t kBad = 1u << 24;
using GroupTable = std::array<uint32_t, 256>;
constexpr std::array<GroupTable, 4> kPlaced = [] {
  std::array<GroupTable, 4> t{};
  for (int place = 0; place < 4; ++place) {
    for (int c = 0; c < 256; ++c) {
      const int v = kValues[c];
      t[place][c] = v < 0 ? kBad : static_cast<uint32_t>(v) << (18 - 6 * place);
    }
  }
  return t;
}();

// Two output characters for every 12 bits, so a group of three bytes takes
// two lookups.
template <class CharT>
struct PairTable {
  std::array<std::array<CharT, 2>, 4096> pairs;
};

template <class CharT>
constexpr PairTable<CharT> MakePairs() {
  PairTable<CharT> t{};
  for (int v = 0; v < 4096; ++v) {
    t.pairs[v][0] = static_cast<CharT>(kAlphabet[v >> 6]);
    t.pairs[v][1] = static_cast<CharT>(kAlphabet[v & 63]);
  }
  return t;
}

constexpr PairTable<char16_t> kWidePairs = MakePairs<char16_t>();
constexpr PairTable<char> kNarrowPairs = MakePairs<char>();

template <class CharT>
const PairTable<CharT>& Pairs() {
  if constexpr (std::is_same_v<CharT, char16_t>) {
    return kWidePairs;
  } else {
    return kNarrowPairs;
  }
}

// Writes the text of `data` to `out`, which holds EncodedLength(size) units.
template <class CharT>
void EncodeInto(std::span<const uint8_t> data, CharT* out) {
  const auto& pairs = Pairs<CharT>().pairs;
  const uint8_t* d = data.data();
  const size_t n = data.size();
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const uint32_t v =
        (uint32_t{d[i]} << 16) | (uint32_t{d[i + 1]} << 8) | uint32_t{d[i + 2]};
    std::memcpy(out, pairs[v >> 12].data(), 2 * sizeof(CharT));
    std::memcpy(out + 2, pairs[v & 0xFFF].data(), 2 * sizeof(CharT));
    out += 4;
  }
  if (i < n) {
    const uint32_t b0 = d[i];
    const bool has_b1 = i + 1 < n;
    const uint32_t b1 = has_b1 ? d[i + 1] : 0;
    out[0] = static_cast<CharT>(kAlphabet[b0 >> 2]);
    out[1] = static_cast<CharT>(kAlphabet[((b0 & 3) << 4) | (b1 >> 4)]);
    out[2] = has_b1 ? static_cast<CharT>(kAlphabet[(b1 & 15) << 2])
                    : static_cast<CharT>('=');
    out[3] = static_cast<CharT>('=');
  }
}

// The 8-bit code of a character: wide units past 255 are never alphabet
// characters in the code page, so they all read as 255, which is not one
// either.
inline uint8_t Code(char c) { return static_cast<uint8_t>(c); }
inline uint8_t Code(char16_t c) {
  return c > 0xFF ? uint8_t{0xFF} : static_cast<uint8_t>(c);
}

// Decodes the whole groups at the start of `s` whose four characters are all
// in the alphabet; returns how many characters it consumed.
template <class CharT>
size_t DecodeFast(const CharT* s, size_t n, uint8_t*& o) {
  size_t q = 0;
  for (; q + 4 <= n; q += 4) {
    const uint32_t v = kPlaced[0][Code(s[q])] | kPlaced[1][Code(s[q + 1])] |
                       kPlaced[2][Code(s[q + 2])] | kPlaced[3][Code(s[q + 3])];
    if (v & kBad) break;
    o[0] = static_cast<uint8_t>(v >> 16);
    o[1] = static_cast<uint8_t>(v >> 8);
    o[2] = static_cast<uint8_t>(v);
    o += 3;
  }
  return q;
}

// Decodes every group of `s`, lenient rules included.
template <class CharT>
void DecodeAll(const CharT* s, size_t n, uint8_t*& o) {
  size_t q = 0;
  while (q < n) {
    q += DecodeFast(s + q, n - q, o);
    if (q >= n) break;
    int c[4];
    for (int k = 0; k < 4; ++k) {
      // A group cut short by the end of the text has no character to take
      // a code from.
      if (q + k >= n) RaiseStandard(kErrInvalidCall);
      c[k] = kValues[Code(s[q + k])];
    }
    // Division truncates toward zero and AND works on the two's complement,
    // so -1 reads as 0 when divided and as all ones when masked.
    const int first = c[0] * 4 | (c[1] / 16);
    if (first < 0 || first > 255) RaiseStandard(kErrOverflow);
    *o++ = static_cast<uint8_t>(first);
    if (c[2] >= 0) *o++ = static_cast<uint8_t>((c[1] & 15) * 16 | (c[2] / 4));
    if (c[3] >= 0) *o++ = static_cast<uint8_t>((c[2] & 3) * 64 | c[3]);
    q += 4;
  }
}

// Returns the position of the first CR LF pair at or after `from`, or `n`.
template <class CharT>
size_t FindCrLf(const CharT* s, size_t n, size_t from) {
  for (size_t i = from; i + 1 < n; ++i) {
    if (s[i] == CharT('\r') && s[i + 1] == CharT('\n')) return i;
  }
  return n;
}

// Decodes `s` into `out`, which holds (n / 4) * 3 bytes; returns the count.
template <class CharT>
size_t DecodeInto(const CharT* s, size_t n, uint8_t* out) {
  uint8_t* o = out;
  // Most text is whole groups of alphabet characters; only where that stops
  // can a CR LF pair (or anything else) need the careful reading.
  size_t q = DecodeFast(s, n, o);
  if (q < n) {
    size_t cut = FindCrLf(s, n, q);
    std::basic_string<CharT> kept;
    const CharT* rest = s + q;
    size_t rest_length = n - q;
    if (cut < n) {
      // Pairs are removed left to right without a second look, so CR CR LF
      // LF keeps its outer CR LF.
      kept.reserve(n - q);
      kept.append(s + q, cut - q);
      size_t i = cut + 2;
      for (size_t next; (next = FindCrLf(s, n, i)) < n; i = next + 2)
        kept.append(s + i, next - i);
      kept.append(s + i, n - i);
      rest = kept.data();
      rest_length = kept.size();
    }
    if (q + rest_length < 4) RaiseStandard(kErrSubscript);
    DecodeAll(rest, rest_length, o);
  } else if (n < 4) {
    RaiseStandard(kErrSubscript);
  }
  return static_cast<size_t>(o - out);
}

template <class CharT>
std::vector<uint8_t> DecodeText(const CharT* s, size_t n) {
  std::vector<uint8_t> out(MaxDecodedSize(n));
  out.resize(DecodeInto(s, n, out.data()));
  return out;
}

}  // namespace

size_t EncodedSize(size_t byte_count) {
  if (byte_count / 3 > (SIZE_MAX - 4) / 4) RaiseStandard(kErrOutOfMemory);
  return 4 * ((byte_count + 2) / 3);
}

size_t MaxDecodedSize(size_t text_length) { return text_length / 4 * 3; }

void EncodeTo(std::span<const uint8_t> data, char16_t* out) {
  EncodeInto(data, out);
}

void EncodeTo(std::span<const uint8_t> data, char* out) {
  EncodeInto(data, out);
}

size_t DecodeTo(std::u16string_view text, uint8_t* out) {
  return DecodeInto(text.data(), text.size(), out);
}

size_t DecodeTo(std::string_view text, uint8_t* out) {
  return DecodeInto(text.data(), text.size(), out);
}

String EncodeBytes(std::span<const uint8_t> data) {
  return String::Build(EncodedSize(data.size()),
                       [&](char16_t* out) { EncodeInto(data, out); });
}

std::string EncodeNarrow(std::span<const uint8_t> data) {
  std::string out(EncodedSize(data.size()), '=');
  EncodeInto(data, out.data());
  return out;
}

std::vector<uint8_t> DecodeBytes(std::u16string_view text) {
  return DecodeText(text.data(), text.size());
}

std::vector<uint8_t> DecodeNarrow(std::string_view text) {
  return DecodeText(text.data(), text.size());
}

String Encode(const Value& data) {
  return EncodeBytes(codecs_internal::BytesFromIndexZero(data));
}

Value Decode(std::u16string_view text) {
  return MakeByteArray(DecodeBytes(text));
}

}  // namespace quorvel::mBase64
