// `SafeArray`: the payload of an Array Value.
#ifndef QUORVEL_SAFEARRAY_H_
#define QUORVEL_SAFEARRAY_H_

#include <cstdint>
#include <span>
#include <vector>

#include "quorvel/value.h"

namespace quorvel {

// An array of one or more dimensions, each with its own lower bound and
// element count, whose elements are all of one kind: Values (`Kind::Variant`),
// Byte, String, Long or Integer. Elements are laid out with the first index
// varying fastest. Byte elements are stored packed; the others as Values of
// their kind. A plain value type: copies are deep (object references inside
// are shared, as the store rule says).
class SafeArray {
 public:
  struct Bound {
    int32_t lower;
    int32_t count;  // 0 or more; the upper bound is lower + count - 1
  };

  // Builds a zero-based, one-dimensional, empty array of Values.
  SafeArray() : SafeArray(Kind::Variant, {{0, 0}}) {}
  // Builds an array of the given element kind and bounds, every element
  // Empty, 0 or "" by kind. Raises 5 for an element kind it cannot hold or
  // no dimensions, 9 for a negative count, 7 when memory runs out.
  SafeArray(Kind element_kind, std::span<const Bound> bounds);
  SafeArray(Kind element_kind, std::initializer_list<Bound> bounds)
      : SafeArray(element_kind,
                  std::span<const Bound>(bounds.begin(), bounds.size())) {}
  // Takes over Values or bytes as a one-dimensional array.
  explicit SafeArray(std::vector<Value>&& items, int32_t lower_bound = 0);
  explicit SafeArray(std::vector<uint8_t>&& bytes, int32_t lower_bound = 0);

  Kind element_kind() const { return element_kind_; }
  int32_t dimensions() const { return static_cast<int32_t>(bounds_.size()); }
  // Return the bounds of dimension `dimension` (1-based); raise 9 for a
  // dimension the array does not have.
  int32_t LowerBound(int32_t dimension = 1) const;
  int32_t UpperBound(int32_t dimension = 1) const;
  std::span<const Bound> bounds() const { return bounds_; }
  // Returns the number of elements over all dimensions.
  size_t size() const { return size_; }

  // Returns the element at `flat` (0 <= flat < size()) as a Value.
  Value Get(size_t flat) const;
  // Stores `v` at `flat`, converted to the element kind (for Values, by the
  // store rule). Raises the conversion's error and leaves the element as it
  // was.
  void Put(size_t flat, const Value& v);
  // Returns the flat position of the element at `indices` (one per
  // dimension); raises 9 when an index is outside its bounds or the count of
  // indices is not the number of dimensions.
  size_t FlatIndex(std::span<const int32_t> indices) const;

  // Direct access for code that knows the element kind: `values()` for every
  // kind but Byte, `bytes()` for Byte.
  std::span<Value> values() { return values_; }
  std::span<const Value> values() const { return values_; }
  std::span<uint8_t> bytes() { return bytes_; }
  std::span<const uint8_t> bytes() const { return bytes_; }

 private:
  Kind element_kind_;
  std::vector<Bound> bounds_;
  size_t size_ = 0;
  std::vector<Value> values_;
  std::vector<uint8_t> bytes_;
};

}  // namespace quorvel

#endif  // QUORVEL_SAFEARRAY_H_
