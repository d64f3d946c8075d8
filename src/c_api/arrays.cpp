// Arrays of the C interface: an opaque handle over the array a Value holds.
#include <cstdint>
#include <vector>

#include "c_api/guard.h"
#include "c_api/variants.h"
#include "quorvel/error.h"
#include "quorvel/quorvel_c.h"
#include "quorvel/safearray.h"

namespace quorvel::c_api {

namespace {

constexpr int32_t kMaxDimensions = 60;

const SafeArray& ArrayOf(const quorvel_array* array) {
  if (array == nullptr) RaiseBadArgument(u"array is NULL");
  return array->value.array();
}

SafeArray& ArrayOf(quorvel_array* array) {
  if (array == nullptr) RaiseBadArgument(u"array is NULL");
  return array->value.array();
}

size_t Position(const SafeArray& array, size_t flat) {
  if (flat >= array.size()) RaiseStandard(kErrSubscript);
  return flat;
}

}  // namespace

}  // namespace quorvel::c_api

using quorvel::c_api::ArrayOf;
using quorvel::c_api::Guard;
using quorvel::c_api::RaiseBadArgument;

extern "C" {

int32_t quorvel_array_create(int32_t element_type, int32_t dims,
                             const quorvel_bound* bounds, quorvel_array** out) {
  return Guard([&] {
    if (out == nullptr) RaiseBadArgument(u"out is NULL");
    *out = nullptr;
    if (bounds == nullptr) RaiseBadArgument(u"bounds is NULL");
    if (dims < 1 || dims > quorvel::c_api::kMaxDimensions)
      RaiseBadArgument(u"dims is not between 1 and 60");
    std::vector<quorvel::SafeArray::Bound> shape;
    shape.reserve(static_cast<size_t>(dims));
    for (int32_t d = 0; d < dims; ++d)
      shape.push_back({bounds[d].lower, bounds[d].count});
    // Element kinds the library cannot hold raise 5 here.
    quorvel::SafeArray array(static_cast<quorvel::Kind>(element_type), shape);
    *out = new quorvel_array{quorvel::Value(std::move(array))};
  });
}

void quorvel_array_free(quorvel_array* array) { delete array; }

int32_t quorvel_array_shape(const quorvel_array* array, int32_t* element_type,
                            int32_t* dims, size_t* size) {
  return Guard([&] {
    const quorvel::SafeArray& a = ArrayOf(array);
    if (element_type == nullptr) RaiseBadArgument(u"element_type is NULL");
    if (dims == nullptr) RaiseBadArgument(u"dims is NULL");
    if (size == nullptr) RaiseBadArgument(u"size is NULL");
    *element_type = static_cast<int32_t>(a.element_kind());
    *dims = a.dimensions();
    *size = a.size();
  });
}

int32_t quorvel_array_bound(const quorvel_array* array, int32_t dimension,
                            quorvel_bound* out) {
  return Guard([&] {
    const quorvel::SafeArray& a = ArrayOf(array);
    if (out == nullptr) RaiseBadArgument(u"out is NULL");
    out->lower = a.LowerBound(dimension);
    out->count = a.bounds()[dimension - 1].count;
  });
}

int32_t quorvel_array_get(const quorvel_array* array, size_t flat,
                          uint32_t flags, quorvel_variant* out) {
  const int32_t status = Guard([&] {
    const quorvel::SafeArray& a = ArrayOf(array);
    if (out == nullptr) RaiseBadArgument(u"out is NULL");
    quorvel::c_api::ToVariant(a.Get(quorvel::c_api::Position(a, flat)),
                              (flags & QUORVEL_UTF16) != 0, out);
  });
  if (status != 0) quorvel_variant_init(out);
  return status;
}

int32_t quorvel_array_put(quorvel_array* array, size_t flat,
                          const quorvel_variant* value) {
  return Guard([&] {
    quorvel::SafeArray& a = ArrayOf(array);
    if (value == nullptr) RaiseBadArgument(u"value is NULL");
    a.Put(quorvel::c_api::Position(a, flat),
          quorvel::c_api::FromVariant(*value));
  });
}

int32_t quorvel_array_bytes(quorvel_array* array, uint8_t** data,
                            size_t* size) {
  return Guard([&] {
    quorvel::SafeArray& a = ArrayOf(array);
    if (data == nullptr) RaiseBadArgument(u"data is NULL");
    if (size == nullptr) RaiseBadArgument(u"size is NULL");
    if (a.element_kind() != quorvel::Kind::Byte)
      quorvel::RaiseStandard(quorvel::kErrTypeMismatch);
    *data = a.bytes().data();
    *size = a.bytes().size();
  });
}

}  // extern "C"
