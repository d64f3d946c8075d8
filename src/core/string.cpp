#include "quorvel/string.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "quorvel/error.h"

namespace quorvel {
namespace internal {

StringRep* AllocateString(size_t length) {
  if (length > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    RaiseStandard(kErrOverflow);
  void* block =
      std::malloc(sizeof(StringRep) + (length + 1) * sizeof(char16_t));
  if (block == nullptr) RaiseStandard(kErrOutOfMemory);
  auto* rep = new (block) StringRep;
  rep->refs.store(1, std::memory_order_relaxed);
  rep->length = static_cast<uint32_t>(length);
  rep->units()[length] = 0;
  return rep;
}

void FreeString(StringRep* rep) noexcept {
  rep->~StringRep();
  std::free(rep);
}

}  // namespace internal

String::String(std::u16string_view text) {
  if (text.empty()) return;
  rep_ = internal::AllocateString(text.size());
  std::memcpy(rep_->units(), text.data(), text.size() * sizeof(char16_t));
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  const size_t n = text.size();
  auto cont = [&](size_t k) {
    return k < n && (static_cast<uint8_t>(text[k]) & 0xC0) == 0x80;
  };
  while (i < n) {
    uint8_t b = static_cast<uint8_t>(text[i]);
    char32_t c = 0xFFFD;
    size_t len = 1;
    if (b < 0x80) {
      c = b;
    } else if (b >= 0xC2 && b <= 0xDF && cont(i + 1)) {
      c = ((b & 0x1F) << 6) | (text[i + 1] & 0x3F);
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2)) {
      c = ((b & 0x0F) << 12) | ((text[i + 1] & 0x3F) << 6) |
          (text[i + 2] & 0x3F);
      if (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF)) {
        c = 0xFFFD;
      }
      len = 3;
    } else if (b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) &&
               cont(i + 3)) {
      c = ((b & 0x07) << 18) | ((text[i + 1] & 0x3F) << 12) |
          ((text[i + 2] & 0x3F) << 6) | (text[i + 3] & 0x3F);
      if (c < 0x10000 || c > 0x10FFFF) c = 0xFFFD;
      len = 4;
    }
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

}  // namespace quorvel
