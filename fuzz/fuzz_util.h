// Shared by the fuzz targets. A failed check aborts, so that libFuzzer and
// the replay runner alike report it with the input that caused it.
#ifndef QUORVEL_FUZZ_FUZZ_UTIL_H_
#define QUORVEL_FUZZ_FUZZ_UTIL_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/error.h"
#include "quorvel/string.h"

namespace quorvel::fuzz {

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// The bytes as little-endian UTF-16 code units; an odd last byte is unused.
inline std::u16string Units(const uint8_t* data, size_t size) {
  std::u16string text(size / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  return text;
}

inline std::string_view Narrow(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The bytes read leniently as UTF-8.
inline std::u16string Utf8(const uint8_t* data, size_t size) {
  return FromUtf8(Narrow(data, size));
}

// The number of the error that `run` raised, 0 when it raised none; any
// number not in `allowed` (when given) is a finding.
template <class Run>
int32_t ErrorOf(Run&& run, std::initializer_list<int32_t> allowed = {}) {
  try {
    run();
    return 0;
  } catch (const Error& e) {
    bool ok = allowed.size() == 0;
    for (int32_t n : allowed) ok |= e.number() == n;
    Check(ok);
    return e.number();
  }
}

}  // namespace quorvel::fuzz

#endif  // QUORVEL_FUZZ_FUZZ_UTIL_H_
