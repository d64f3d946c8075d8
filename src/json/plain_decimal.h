// The common number forms of JSON text, read without the general reader.
#ifndef QUORVEL_JSON_PLAIN_DECIMAL_H_
#define QUORVEL_JSON_PLAIN_DECIMAL_H_

#include <cstdint>
#include <optional>
#include <string_view>

#include "quorvel/decimal.h"

namespace quorvel::JSON::internal {

// Reads -?digits(.digits)? with at most 18 digits from the start of
// `text`, setting `end` to where that form stops; the result is the one
// `Decimal::Parse` gives for those characters. Returns nothing when they
// hold no digit or too many.
inline std::optional<Decimal> ReadPlainDecimalPrefix(std::u16string_view text,
                                                     size_t& end) {
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == u'-';
  if (negative) ++i;
  uint64_t magnitude = 0;
  int digits = 0, scale = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= u'0' && c <= u'9') {
      magnitude = magnitude * 10 + (c - u'0');
      if (++digits > 18) return std::nullopt;
      if (point) ++scale;
    } else if (c == u'.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  end = i;
  if (digits == 0) return std::nullopt;
  if (magnitude == 0) return Decimal();
  return Decimal(0, magnitude, static_cast<uint8_t>(scale), negative);
}

// The same for the whole of `text`.
inline std::optional<Decimal> ReadPlainDecimal(std::u16string_view text) {
  size_t end;
  std::optional<Decimal> d = ReadPlainDecimalPrefix(text, end);
  if (end != text.size()) return std::nullopt;
  return d;
}

}  // namespace quorvel::JSON::internal

#endif  // QUORVEL_JSON_PLAIN_DECIMAL_H_
