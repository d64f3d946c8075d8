#include "quorvel/safearray.h"

#include <new>

#include "core/std_exceptions.h"
#include "quorvel/convert.h"
#include "quorvel/error.h"

namespace quorvel {

namespace {

bool HoldableElementKind(Kind k) {
  return k == Kind::Variant || k == Kind::Byte || k == Kind::String ||
         k == Kind::Long || k == Kind::Integer;
}

Value ZeroOf(Kind k) {
  switch (k) {
    case Kind::String:
      return Value(String());
    case Kind::Long:
      return Value(int32_t{0});
    case Kind::Integer:
      return Value(int16_t{0});
    default:
      return Value();
  }
}

}  // namespace

SafeArray::SafeArray(Kind element_kind, std::span<const Bound> bounds)
    : element_kind_(element_kind), bounds_(bounds.begin(), bounds.end()) {
  if (!HoldableElementKind(element_kind) || bounds_.empty())
    RaiseStandard(kErrInvalidCall);
  size_t total = 1;
  for (const Bound& b : bounds_) {
    if (b.count < 0) RaiseStandard(kErrSubscript);
    // The upper bound must be a Long too.
    if (static_cast<int64_t>(b.lower) + b.count - 1 > INT32_MAX)
      RaiseStandard(kErrSubscript);
    if (b.count != 0 && total > SIZE_MAX / static_cast<size_t>(b.count))
      RaiseStandard(kErrOutOfMemory);
    total *= static_cast<size_t>(b.count);
  }
  size_ = total;
  internal::TranslateStdExceptions([&] {
    if (element_kind_ == Kind::Byte) {
      bytes_.assign(total, 0);
    } else {
      values_.assign(total, ZeroOf(element_kind_));
    }
  });
}

SafeArray::SafeArray(std::vector<Value>&& items, int32_t lower_bound)
    : element_kind_(Kind::Variant),
      bounds_{{lower_bound, static_cast<int32_t>(items.size())}},
      size_(items.size()),
      values_(std::move(items)) {}

SafeArray::SafeArray(std::vector<uint8_t>&& bytes, int32_t lower_bound)
    : element_kind_(Kind::Byte),
      bounds_{{lower_bound, static_cast<int32_t>(bytes.size())}},
      size_(bytes.size()),
      bytes_(std::move(bytes)) {}

int32_t SafeArray::LowerBound(int32_t dimension) const {
  if (dimension < 1 || dimension > dimensions()) RaiseStandard(kErrSubscript);
  return bounds_[dimension - 1].lower;
}

int32_t SafeArray::UpperBound(int32_t dimension) const {
  if (dimension < 1 || dimension > dimensions()) RaiseStandard(kErrSubscript);
  const Bound& b = bounds_[dimension - 1];
  return static_cast<int32_t>(static_cast<int64_t>(b.lower) + b.count - 1);
}

Value SafeArray::Get(size_t flat) const {
  if (element_kind_ == Kind::Byte) return Value::Byte(bytes_[flat]);
  return values_[flat];
}

void SafeArray::Put(size_t flat, const Value& v) {
  switch (element_kind_) {
    case Kind::Byte:
      bytes_[flat] = ToByte(v);
      break;
    case Kind::Variant:
      values_[flat] = v;
      break;
    default:
      values_[flat] = ChangeKind(v, element_kind_);
      break;
  }
}

size_t SafeArray::FlatIndex(std::span<const int32_t> indices) const {
  if (indices.size() != bounds_.size()) RaiseStandard(kErrSubscript);
  size_t flat = 0;
  size_t stride = 1;
  for (size_t d = 0; d < bounds_.size(); ++d) {
    int64_t offset = static_cast<int64_t>(indices[d]) - bounds_[d].lower;
    if (offset < 0 || offset >= bounds_[d].count) RaiseStandard(kErrSubscript);
    flat += static_cast<size_t>(offset) * stride;
    stride *= static_cast<size_t>(bounds_[d].count);
  }
  return flat;
}

}  // namespace quorvel
