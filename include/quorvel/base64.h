// `mBase64`: standard Base64 text (alphabet A-Z a-z 0-9 + /, pad "=") of a
// byte array, and a lenient reader of it.
//
// The writer produces one unbroken line. The reader drops every CR LF pair,
// reads groups of four characters and gives any character outside the
// alphabet the value -1, which acts as a pad in the third and fourth place
// of a group; padded groups may follow one another.
//
// Stateless (the decoding table is a constant); every function may be called
// from any thread.
#ifndef QUORVEL_BASE64_H_
#define QUORVEL_BASE64_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/string.h"
#include "quorvel/value.h"

namespace quorvel::mBase64 {

// The 64 characters, the one at position i standing for the value i.
inline constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Returns the Base64 text of `data`; empty data gives the empty String.
String EncodeBytes(std::span<const uint8_t> data);
// The same text as 8-bit characters.
std::string EncodeNarrow(std::span<const uint8_t> data);

// Return the bytes the text spells. Raise 9 when fewer than four characters
// remain after CR LF removal, 5 when the last group has fewer than four
// characters, 6 when a group's first character is outside the alphabet.
// A character is taken by its 8-bit code page byte; in the narrow form each
// byte is that code.
std::vector<uint8_t> DecodeBytes(std::u16string_view text);
std::vector<uint8_t> DecodeNarrow(std::string_view text);

// Forms that write into the caller's memory, for callers that reuse one
// buffer. `EncodeTo` writes EncodedSize(data.size()) characters; `DecodeTo`
// writes at most MaxDecodedSize(text.size()) bytes and returns how many it
// wrote, raising as DecodeBytes does.
size_t EncodedSize(size_t byte_count);
size_t MaxDecodedSize(size_t text_length);
void EncodeTo(std::span<const uint8_t> data, char16_t* out);
void EncodeTo(std::span<const uint8_t> data, char* out);
size_t DecodeTo(std::u16string_view text, uint8_t* out);
size_t DecodeTo(std::string_view text, uint8_t* out);

// Value forms. `Encode` reads the Byte array `data` from index 0 to its upper
// bound and raises 9 for Empty (never allocated), a lower bound above 0 or
// more than one dimension, 13 for anything else that is not a Byte array.
// `Decode` returns a new zero-based Byte array.
String Encode(const Value& data);
Value Decode(std::u16string_view text);

}  // namespace quorvel::mBase64

#endif  // QUORVEL_BASE64_H_
