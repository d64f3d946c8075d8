// The strict UTF-8 codec. One walk serves decoding and checking alike; the
// well-formed sequences are those of the Unicode standard's table 3-7, whose
// second byte alone carries the limits (E0 A0.., ED ..9F, F0 90.., F4 ..8F).
#include "quorvel/utf8.h"

#include <cstring>

#include "quorvel/error.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvel {

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080u;

bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// Returns how many bytes from `p` (of `n`) are ASCII, at least the first one
// when it is; with kWrite, widens them to `o`. Stores may run past the ASCII
// into `o`'s room for the rest of the bytes; what lands there is rewritten.
template <bool kWrite>
size_t TakeAscii(const uint8_t* p, size_t n, char16_t* o) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const int high = _mm_movemask_epi8(v);
    if constexpr (kWrite) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + i),
                       _mm_unpacklo_epi8(v, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + i + 8),
                       _mm_unpackhi_epi8(v, zero));
    }
    if (high != 0) return i + static_cast<size_t>(__builtin_ctz(high));
  }
#endif
  for (; i + 8 <= n; i += 8) {
    uint64_t v;
    std::memcpy(&v, p + i, 8);
    if (v & kHighBits) break;
    if constexpr (kWrite) {
      for (size_t k = 0; k < 8; ++k) o[i + k] = p[i + k];
    }
  }
  for (; i < n && p[i] < 0x80; ++i) {
    if constexpr (kWrite) o[i] = p[i];
  }
  return i;
}

template <bool kWrite>
Utf8Step Walk(std::string_view bytes, char16_t* out) {
  const auto* const begin = reinterpret_cast<const uint8_t*>(bytes.data());
  const uint8_t* const end = begin + bytes.size();
  const uint8_t* p = begin;
  char16_t* o = out;
  Utf8Step step;
  auto stop = [&](Utf8Stop why, size_t length) {
    step.read = static_cast<size_t>(p - begin);
    step.written = static_cast<size_t>(o - out);
    step.stop = why;
    step.bad_length = length;
    return step;
  };
  while (p < end) {
    const uint8_t b = *p;
    if (b < 0x80) {
      const size_t n = TakeAscii<kWrite>(p, static_cast<size_t>(end - p), o);
      p += n;
      if constexpr (kWrite) o += n;
      continue;
    }
    const size_t left = static_cast<size_t>(end - p);
    if (b >= 0xC2 && b <= 0xDF) {
      if (left < 2) return stop(Utf8Stop::kCut, 1);
      if (!IsContinuation(p[1])) return stop(Utf8Stop::kBad, 1);
      if constexpr (kWrite)
        *o++ = static_cast<char16_t>((b & 0x1F) << 6 | (p[1] & 0x3F));
      p += 2;
      continue;
    }
    if (b >= 0xE0 && b <= 0xEF) {
      const uint8_t low = b == 0xE0 ? 0xA0 : 0x80;
      const uint8_t high = b == 0xED ? 0x9F : 0xBF;
      if (left < 2) return stop(Utf8Stop::kCut, 1);
      if (p[1] < low || p[1] > high) return stop(Utf8Stop::kBad, 1);
      if (left < 3) return stop(Utf8Stop::kCut, 2);
      if (!IsContinuation(p[2])) return stop(Utf8Stop::kBad, 2);
      if constexpr (kWrite) {
        *o++ = static_cast<char16_t>((b & 0x0F) << 12 | (p[1] & 0x3F) << 6 |
                                     (p[2] & 0x3F));
      }
      p += 3;
      continue;
    }
    if (b >= 0xF0 && b <= 0xF4) {
      const uint8_t low = b == 0xF0 ? 0x90 : 0x80;
      const uint8_t high = b == 0xF4 ? 0x8F : 0xBF;
      if (left < 2) return stop(Utf8Stop::kCut, 1);
      if (p[1] < low || p[1] > high) return stop(Utf8Stop::kBad, 1);
      if (left < 3) return stop(Utf8Stop::kCut, 2);
      if (!IsContinuation(p[2])) return stop(Utf8Stop::kBad, 2);
      if (left < 4) return stop(Utf8Stop::kCut, 3);
      if (!IsContinuation(p[3])) return stop(Utf8Stop::kBad, 3);
      if constexpr (kWrite) {
        const uint32_t c = (uint32_t{b} & 0x07) << 18 |
                           (uint32_t{p[1]} & 0x3F) << 12 |
                           (uint32_t{p[2]} & 0x3F) << 6 | (p[3] & 0x3F);
        *o++ = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        *o++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
      }
      p += 4;
      continue;
    }
    return stop(Utf8Stop::kBad, 1);
  }
  return stop(Utf8Stop::kEnd, 0);
}

// Turns a step that did not reach the end into the fault it found.
bool Finished(std::string_view text, const Utf8Step& step, Utf8Fault* fault) {
  if (step.stop == Utf8Stop::kEnd) return true;
  if (fault != nullptr) {
    *fault = {step.read, static_cast<uint8_t>(text[step.read]),
              step.bad_length};
  }
  return false;
}

}  // namespace

Utf8Step DecodeUtf8(std::string_view bytes, char16_t* out) {
  return Walk<true>(bytes, out);
}

std::optional<Utf8Fault> FindUtf8Fault(std::string_view text) {
  Utf8Fault fault;
  if (Finished(text, Walk<false>(text, nullptr), &fault)) return std::nullopt;
  return fault;
}

bool Utf8ToUtf16(std::string_view text, std::u16string* out, Utf8Fault* fault) {
  out->resize(text.size());
  const Utf8Step step = Walk<true>(text, out->data());
  out->resize(step.written);
  return Finished(text, step, fault);
}

bool Utf8ToString(std::string_view text, String* out, Utf8Fault* fault) {
  if (text.empty()) {
    *out = String();
    return true;
  }
  internal::StringRep* rep = internal::AllocateString(text.size());
  const Utf8Step step = Walk<true>(text, rep->units());
  if (!Finished(text, step, fault)) {
    internal::FreeString(rep);
    return false;
  }
  *out = String::Adopt(internal::ShrinkString(rep, step.written));
  return true;
}

size_t EncodeUtf8(std::u16string_view text, char* out) {
  const char16_t* p = text.data();
  const char16_t* const end = p + text.size();
  char* o = out;
  while (p < end) {
#if defined(__SSE2__)
    const __m128i non_ascii = _mm_set1_epi16(static_cast<int16_t>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(v, non_ascii), zero);
      if (_mm_movemask_epi8(ascii) != 0xFFFF) break;
      _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(v, v));
      p += 8;
      o += 8;
    }
#else
    while (end - p >= 4) {
      uint64_t v;
      std::memcpy(&v, p, 8);
      if (v & 0xFF80FF80FF80FF80u) break;
      for (int k = 0; k < 4; ++k) o[k] = static_cast<char>(p[k]);
      p += 4;
      o += 4;
    }
#endif
    if (p == end) break;
    const uint32_t c = *p++;
    if (c < 0x80) {
      *o++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *o++ = static_cast<char>(0xC0 | c >> 6);
      *o++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c >= 0xD800 && c < 0xDC00 && p < end && *p >= 0xDC00 &&
               *p < 0xE000) {
      const uint32_t cp = 0x10000 + ((c - 0xD800) << 10) + (*p++ - 0xDC00);
      *o++ = static_cast<char>(0xF0 | cp >> 18);
      *o++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      *o++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      const uint32_t unit = c >= 0xD800 && c < 0xE000 ? 0xFFFD : c;
      *o++ = static_cast<char>(0xE0 | unit >> 12);
      *o++ = static_cast<char>(0x80 | (unit >> 6 & 0x3F));
      *o++ = static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  return static_cast<size_t>(o - out);
}

void AppendUtf8(std::u16string_view text, std::string* out) {
  const size_t start = out->size();
  out->resize(start + kUtf8PerUnit * text.size());
  out->resize(start + EncodeUtf8(text, out->data() + start));
}

size_t FindLoneSurrogate(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 0xD800 || c >= 0xE000) continue;
    if (c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      ++i;
      continue;
    }
    return i;
  }
  return std::u16string_view::npos;
}

}  // namespace quorvel
