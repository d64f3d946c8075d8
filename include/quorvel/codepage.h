// The library's 8-bit code page, Windows-1252, used wherever a String
// becomes bytes (and back).
#ifndef QUORVEL_CODEPAGE_H_
#define QUORVEL_CODEPAGE_H_

#include <cstdint>
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

}  // namespace quorvel

#endif  // QUORVEL_CODEPAGE_H_
