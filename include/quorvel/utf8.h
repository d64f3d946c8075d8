// Strict UTF-8 to and from the UTF-16 of `String`: the one codec that the
// C interface, the tool and the convenience conversions share.
//
// Decoding accepts the well-formed sequences only: no overlong forms, no
// encoded surrogates, nothing past U+10FFFF. Where the text stops being
// UTF-8, the decoder tells the offset of the first byte that begins no
// well-formed sequence and the length of its maximal subpart (the bytes from
// there that could still begin one: at least 1, at most 3), so that a
// lenient caller can put one U+FFFD for each. Encoding is lenient: a lone
// surrogate becomes U+FFFD; `FindLoneSurrogate` serves callers that must
// refuse one instead. ASCII runs go 16 bytes at a time where SSE2 is there
// and 8 at a time elsewhere.
#ifndef QUORVEL_UTF8_H_
#define QUORVEL_UTF8_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "quorvel/string.h"

namespace quorvel {

// How a decoding step ended.
enum class Utf8Stop {
  kEnd,  // every byte was decoded
  kCut,  // the bytes from `read` on begin a sequence the end cuts short
  kBad,  // the byte at `read` begins no well-formed sequence
};

// What one decoding step did.
struct Utf8Step {
  size_t read = 0;     // bytes of the whole sequences decoded
  size_t written = 0;  // UTF-16 code units written
  Utf8Stop stop = Utf8Stop::kEnd;
  // For kBad, the maximal subpart at `read`; for kCut, the bytes left.
  size_t bad_length = 0;
};

// Decodes the UTF-8 of `bytes` to `out`, which has room for one code unit
// per byte, until the end, a sequence cut short by the end (which a caller
// reading in pieces carries into the next piece) or a byte that is not
// UTF-8 there. Raises nothing.
Utf8Step DecodeUtf8(std::string_view bytes, char16_t* out);

// Where a text stops being UTF-8: the offset of the first byte that begins
// no well-formed sequence (a sequence cut short by the end of the text
// included), that byte, and the length of its maximal subpart.
struct Utf8Fault {
  size_t offset = 0;
  uint8_t byte = 0;
  size_t length = 0;
};

// Returns the first fault of `text`, or nothing for well-formed UTF-8.
std::optional<Utf8Fault> FindUtf8Fault(std::string_view text);

// Decode a whole text. They return false, with the fault in `*fault` when
// it is not null, for anything but well-formed UTF-8; `*out` is then left
// unspecified. Raise 7 when memory runs out.
bool Utf8ToUtf16(std::string_view text, std::u16string* out,
                 Utf8Fault* fault = nullptr);
bool Utf8ToString(std::string_view text, String* out,
                  Utf8Fault* fault = nullptr);

// Encodes UTF-16 as UTF-8 into `out`, which has room for kUtf8PerUnit bytes
// per code unit, and returns the bytes written. A lone surrogate becomes
// U+FFFD; a surrogate pair becomes its one 4-byte sequence.
inline constexpr size_t kUtf8PerUnit = 3;
size_t EncodeUtf8(std::u16string_view text, char* out);
// Appends the UTF-8 of `text` to `*out` (as EncodeUtf8).
void AppendUtf8(std::u16string_view text, std::string* out);

// Returns the index of the first surrogate that is not half of a pair, or
// std::u16string_view::npos when there is none.
size_t FindLoneSurrogate(std::u16string_view text);

}  // namespace quorvel

#endif  // QUORVEL_UTF8_H_
