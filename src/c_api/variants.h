// Between the C variant and `Value`.
#ifndef QUORVEL_C_API_VARIANTS_H_
#define QUORVEL_C_API_VARIANTS_H_

#include <cstdint>
#include <string_view>

#include "quorvel/quorvel_c.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

// The array handle is a Value that holds the array, so results move into it
// without a copy.
struct quorvel_array {
  quorvel::Value value;
};

namespace quorvel::c_api {

// Returns the Value a caller's variant stands for, copying what it points
// at. Raises 5 for an unknown kind code, a NULL pointer where text or an
// array belongs, ill-formed UTF-8, a Decimal scale above 28 or a released
// handle.
Value FromVariant(const quorvel_variant& v);

// Fills `out` with an owned variant of `v`; Strings in UTF-16 when `utf16`.
// `out` is overwritten, not cleared. Raises 7 when memory runs out, leaving
// `out` Empty.
void ToVariant(Value&& v, bool utf16, quorvel_variant* out);
void ToVariant(const Value& v, bool utf16, quorvel_variant* out);

// Makes `*out` an owned UTF-8 String holding a copy of `text`, which must be
// well-formed. `out` is overwritten, not cleared. Raises 7 when memory runs
// out.
void SetUtf8(quorvel_variant* out, std::string_view text);

// Reads UTF-8 strictly: overlong forms, encoded surrogates, code points past
// U+10FFFF and cut sequences raise 5 naming `what`.
String DecodeUtf8(std::string_view text, std::u16string_view what);

}  // namespace quorvel::c_api

#endif  // QUORVEL_C_API_VARIANTS_H_
