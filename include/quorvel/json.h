// The module `JSON`: a lenient reader into Dictionary / CArray trees and a
// compact writer of them.
#ifndef QUORVEL_JSON_H_
#define QUORVEL_JSON_H_

#include <string_view>

#include "quorvel/cstringbuilder.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

namespace quorvel::JSON {

// How deep containers may nest, in the reader and in the writer. The reader
// stops reading at the container that would pass it (every open container
// then ends as unterminated); the writer raises 28 "Out of stack space",
// which is also how it stops a container that holds itself.
inline constexpr int kMaxDepth = 1000;

// Reads `text` leniently: filler (blanks, parentheses, stray '/' and '*',
// comments), then an object (a Dictionary) or an array (a CArray); whatever
// follows is not read. Malformed content inside a container ends that
// container quietly with what it holds. Returns Nothing for text that does
// not begin with '{' or '['. Never raises.
Value Parse(std::u16string_view text);
// As Parse, for text that must begin with '['. Returns Nothing for the empty
// text; raises 9 (source "JSON", "Can't parse array. Invalid JSON : " and an
// excerpt of the text) for anything else that does not begin with '['.
Value ParseArray(std::u16string_view text);
// As ParseArray with '{' and "Can't parse dictionary. Invalid JSON : ".
Value ParseDict(std::u16string_view text);

// Returns the compact JSON text of `v`: objects of type "Dictionary" and
// "KxDocRec" as JSON objects, "CArray" and "Collection" as arrays, Nothing as
// null; scalars and arrays of Values as they nest inside those. Raises
// -2147220503 for any other object, 13 for an array of anything but Values,
// 28 past kMaxDepth, and what the members it calls raise.
String WriteJSON(const Value& v);
// Appends the JSON text of `v` to `out` (see WriteJSON).
void WriteValue(cStringBuilder& out, const Value& v);
// Appends `text` escaped for a JSON string, without the quotes: the seven
// short escapes, printable ASCII as is, everything else as \uXXXX.
void EscapeString(cStringBuilder& out, std::u16string_view text);
// Appends an array of Values as nested JSON arrays, one per dimension. An
// element that fails to write contributes no text and raises nothing.
void WriteArray(cStringBuilder& out, const Value& array);

}  // namespace quorvel::JSON

#endif  // QUORVEL_JSON_H_
