// The library's 8-bit code page, Windows-1252, used wherever a String
// becomes bytes (and back).
#ifndef QUORVEL_CODEPAGE_H_
#define QUORVEL_CODEPAGE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "quorvel/string.h"

namespace quorvel {

// Returns the byte of a code unit; a unit the code page cannot represent
// becomes '?'.
uint8_t AnsiFromUnit(char16_t unit);
// Returns the code unit of a byte. The five bytes the code page leaves
// unassigned map to the code points of the same value, so every byte comes
// back unchanged.
char16_t UnitFromAnsi(uint8_t byte);

// Convert whole texts, one byte per code unit.
std::vector<uint8_t> ToAnsi(std::u16string_view text);
void AppendAnsi(std::u16string_view text, std::vector<uint8_t>& out);
String FromAnsi(std::span<const uint8_t> bytes);
// Writes the text.size() bytes of `text` at `to`.
void NarrowToAnsi(std::u16string_view text, uint8_t* to);

// The first character of a text that the code page cannot represent.
struct Unmappable {
  size_t index;        // of its first code unit, from 0
  size_t position;     // from 1, in characters (a surrogate pair is one)
  char32_t character;  // its code point; a lone surrogate is its own unit
};

// Returns the first character of `text` that has no byte in the code page,
// or nothing when every character has one. The lossy conversions above turn
// such a character into '?'; callers that must not lose text look first.
std::optional<Unmappable> FindUnmappable(std::u16string_view text);

// Converts as `ToAnsi` does when every character has a byte; otherwise
// raises 5 "Character U+6771 (東) at position 2 has no Windows-1252 byte"
// for the first one that has none.
std::vector<uint8_t> ToAnsiExact(std::u16string_view text);

}  // namespace quorvel

#endif  // QUORVEL_CODEPAGE_H_
