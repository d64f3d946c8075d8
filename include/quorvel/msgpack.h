// `mMsgPack`: the library's MessagePack dialect, the body format of the
// document database file.
//
// Ten of MessagePack's type bytes with their usual meaning, but never the
// compact forms: nil C0, false C2, true C3, int 32 D2, float 64 CB, str 8 D9,
// str 16 DA, array 16 DC (a CArray), map 16 DE (a Dictionary), and C7 for
// an extension written without a length byte: C7 01 a Date (8-byte day
// number), C7 02 a Currency (8-byte scaled integer), C7 33 a KxDocRec (2-byte
// entry count, then key/value pairs). 4- and 8-byte numbers are
// little-endian; 2-byte lengths and counts are big-endian. Text is
// Windows-1252, one byte per character.
//
// Kinds that do not survive a round trip: Integer comes back as Long,
// Single as Double, Decimal as Currency, map keys as Strings, and a KxDocRec
// without its DocID or DB.
//
// Stateless; every function may be called from any thread.
#ifndef QUORVEL_MSGPACK_H_
#define QUORVEL_MSGPACK_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "quorvel/value.h"

namespace quorvel::mMsgPack {

// How deeply containers may nest, encoding and decoding alike. Passing it
// raises 28 "Out of stack space", which is also how the encoder stops on a
// container that holds itself.
inline constexpr int kMaxDepth = 1000;

// Returns the encoding of `v`. Raises 5 "Unsupported type" for Empty,
// Missing, Byte, Error and array values, 5 "Unsupported type : " and the type
// name for an object that is not a Dictionary, KxDocRec or CArray (Nothing
// included), 6 for a String longer than 65,535 bytes, a container of more
// than 65,535 members or a Decimal outside the Currency range, 28 past
// kMaxDepth, 9 for a container that lost members while it was written
// (client code that a foreign member runs may change it), and what the
// members of a foreign container raise.
// Under an ExactScope, encodes as with EncodeOptions{.exact = true}.
std::vector<uint8_t> EncodeBytes(const Value& v);
// Appends the encoding of `v` to `out`; raises as EncodeBytes, leaving `out`
// as it was.
void EncodeTo(const Value& v, std::vector<uint8_t>& out);

// How to encode, beyond the dialect's own rules.
struct EncodeOptions {
  // Refuses, before anything is written, a Value that would not decode to
  // the same (see StorableTarget::kMsgPack): raises 5 with the description
  // of the first such place ("the number 0.123456 at price would be
  // rounded to 4 decimal places") instead of writing '?' for a character
  // without a byte or rounding a Decimal.
  bool exact = false;
};
// The same as above, as `options` say (an ExactScope does not change them).
std::vector<uint8_t> EncodeBytes(const Value& v, const EncodeOptions& options);
void EncodeTo(const Value& v, std::vector<uint8_t>& out,
              const EncodeOptions& options);

// Returns the Value encoded at the start of `bytes`; whatever follows it is
// not read. Raises 9 for a read past the end (no bytes at all included),
// 5 "Unsupported MsgPack type: " and the type byte in hexadecimal, 5
// "Unsupported ext sub-type: " and the sub-type in decimal, 457 for a
// repeated key, 6 for a Date outside the date range, 94 or 13 for a key that
// is not text (Null, a container), 28 past kMaxDepth.
Value DecodeBytes(std::span<const uint8_t> bytes);
// Decodes the Value at `position` (0-based) and advances `position` past
// it. Raises as DecodeBytes; `position` is then left where it was.
Value DecodeAt(std::span<const uint8_t> bytes, size_t& position);

// Value forms, as the facade passes them.
// Returns the encoding of `value` as a new zero-based Byte array (exact
// under an ExactScope).
Value Encode(const Value& value);
// Returns the Value encoded at index 0 of the Byte array `bytes`. Raises 9
// for Empty (never allocated), a lower bound above 0 or a multi-dimensional
// array, 13 for anything but a Byte array, otherwise as DecodeBytes.
Value Decode(const Value& bytes);
// Decodes at index `position` of `bytes` and advances it past the Value.
Value DecodeAt(const Value& bytes, int32_t& position);

}  // namespace quorvel::mMsgPack

#endif  // QUORVEL_MSGPACK_H_
