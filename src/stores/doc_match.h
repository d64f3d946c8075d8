// The field search of the document file, done on a record's encoded body:
// the field is found by walking the bytes and compared with the query value
// encoded once, so that a search does not build every document it visits.
#ifndef QUORVEL_SRC_STORES_DOC_MATCH_H_
#define QUORVEL_SRC_STORES_DOC_MATCH_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "quorvel/value.h"

namespace quorvel::internal {

// One field search, `FieldName` = `value` as DocValuesEqual decides it, made
// ready once and then applied to the MessagePack body of each document
// record (an ext record header and the fields map, as the store writes it).
//
// Field names match code unit for code unit, as a record's fields do. Bytes
// decide for Null, Boolean, Long, Currency and String: the code page maps
// bytes to code units one to one and text compares by code unit, so equal
// payload bytes are equal Values. Double and Date are decoded (that field
// only) where bytes cannot decide: 0 equals -0 and every NaN equals every
// other. Every Date of the body is range-checked as the decoder does, which
// raises 6 for one outside the calendar. A query the decoder can never give
// back (Empty, Integer, Single, Decimal, Byte, an object or an array) and an
// object in the field match nothing.
//
// The whole body's structure is walked (type bytes, lengths, nesting), so
// damage after the field is seen too; what the walk does not read, the
// decoder does: a field name repeated (other than the one sought) is not
// looked for. Immutable once made; thread-safe.
class DocFieldMatcher {
 public:
  enum class Result {
    kNoMatch,
    kMatch,
    // The body is damaged, or holds what only the decoder reads (a name
    // that is not text, the sought name twice): the caller decodes it.
    kUndecided,
  };

  DocFieldMatcher(std::u16string_view field_name, const Value& value);

  // Matches one record body. Raises 6 for a Date outside the calendar.
  Result Match(std::span<const uint8_t> body) const;

 private:
  class Walk;

  // Returns whether the `size` bytes at `name` are the sought name's.
  bool SameName(const uint8_t* name, size_t size) const;
  // Compares one whole encoded value, already walked, with the query.
  bool Equal(std::span<const uint8_t> field) const;

  std::vector<uint8_t> name_;  // Windows-1252 bytes of the field name
  // Their count, or a size no name has when no stored name can equal it.
  size_t name_size_ = SIZE_MAX;
  Value value_;
  uint8_t type_ = 0;      // the encoded type byte wanted, 0 when none can match
  uint8_t sub_type_ = 0;  // with an extension type byte
  std::vector<uint8_t> payload_;  // the bytes after the type (and length)
};

}  // namespace quorvel::internal

#endif  // QUORVEL_SRC_STORES_DOC_MATCH_H_
