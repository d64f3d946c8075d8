#include "quorvel/value.h"

#include <new>

#include "quorvel/dispatch.h"
#include "quorvel/error.h"
#include "quorvel/safearray.h"

namespace quorvel {

Value::Value(std::u16string_view text) : Value() {
  kind_ = static_cast<uint16_t>(Kind::String);
  str_ = String(text).Release();
}

Value::Value(SafeArray&& array) : Value() {
  SafeArray* owned = new (std::nothrow) SafeArray(std::move(array));
  if (owned == nullptr) RaiseStandard(kErrOutOfMemory);
  kind_ = static_cast<uint16_t>(Kind::Array);
  arr_ = owned;
}

void Value::CopyHeap(const Value& other) {
  switch (other.kind()) {
    case Kind::String:
      internal::RetainString(other.str_);
      str_ = other.str_;
      break;
    case Kind::Object:
      if (other.obj_ != nullptr) other.obj_->AddRef();
      obj_ = other.obj_;
      break;
    default: {  // Array: element by element
      SafeArray* copy = new (std::nothrow) SafeArray(*other.arr_);
      if (copy == nullptr) RaiseStandard(kErrOutOfMemory);
      arr_ = copy;
      break;
    }
  }
  kind_ = other.kind_;
}

void Value::ReleaseHeap() noexcept {
  switch (kind()) {
    case Kind::String:
      internal::ReleaseString(str_);
      break;
    case Kind::Object:
      if (obj_ != nullptr) obj_->Release();
      break;
    default:
      delete arr_;
      break;
  }
}

bool Value::IsNumericKind() const noexcept {
  switch (kind()) {
    case Kind::Integer:
    case Kind::Long:
    case Kind::Single:
    case Kind::Double:
    case Kind::Currency:
    case Kind::Date:
    case Kind::Boolean:
    case Kind::Decimal:
    case Kind::Byte:
      return true;
    default:
      return false;
  }
}

int32_t VarType(const Value& v) {
  if (v.IsArray())
    return static_cast<int32_t>(Kind::Array) +
           static_cast<int32_t>(v.array().element_kind());
  return static_cast<int32_t>(v.kind());
}

namespace {

std::u16string_view KindName(Kind k) {
  switch (k) {
    case Kind::Empty:
      return u"Empty";
    case Kind::Null:
      return u"Null";
    case Kind::Integer:
      return u"Integer";
    case Kind::Long:
      return u"Long";
    case Kind::Single:
      return u"Single";
    case Kind::Double:
      return u"Double";
    case Kind::Currency:
      return u"Currency";
    case Kind::Date:
      return u"Date";
    case Kind::String:
      return u"String";
    case Kind::Object:
      return u"Object";
    case Kind::Error:
      return u"Error";
    case Kind::Boolean:
      return u"Boolean";
    case Kind::Variant:
      return u"Variant";
    case Kind::Decimal:
      return u"Decimal";
    case Kind::Byte:
      return u"Byte";
    default:
      return u"Unknown";
  }
}

}  // namespace

std::u16string TypeName(const Value& v) {
  if (v.IsArray()) {
    std::u16string name(KindName(v.array().element_kind()));
    return name + u"()";
  }
  if (v.IsObject())
    return v.object() ? std::u16string(v.object()->TypeName()) : u"Nothing";
  return std::u16string(KindName(v.kind()));
}

Value LetValue(const Value& v) {
  if (!v.IsObject()) return v;
  if (v.object() == nullptr) RaiseStandard(kErrObjectNotSet);
  // A default member may itself hand back an object; its default value is
  // read in turn, a bounded number of times.
  Value current = CallByName(v, u"", CallType::Get, {});
  for (int depth = 0; current.IsObject(); ++depth) {
    if (current.object() == nullptr) RaiseStandard(kErrObjectNotSet);
    if (depth == 64) RaiseStandard(kErrOutOfStack);
    current = CallByName(current, u"", CallType::Get, {});
  }
  return current;
}

Value MakeArray(std::initializer_list<Value> items, int32_t lower_bound) {
  return MakeArray(std::vector<Value>(items), lower_bound);
}

Value MakeArray(std::vector<Value>&& items, int32_t lower_bound) {
  return Value(SafeArray(std::move(items), lower_bound));
}

Value MakeByteArray(std::span<const uint8_t> bytes) {
  return MakeByteArray(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

Value MakeByteArray(std::vector<uint8_t>&& bytes) {
  return Value(SafeArray(std::move(bytes)));
}

std::vector<uint8_t> ToBytes(const Value& byte_array) {
  if (!byte_array.IsArray() || byte_array.array().element_kind() != Kind::Byte)
    RaiseStandard(kErrTypeMismatch);
  auto bytes = byte_array.array().bytes();
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

namespace {

const SafeArray& ArrayOf(const Value& v) {
  if (!v.IsArray()) RaiseStandard(kErrTypeMismatch);
  return v.array();
}

}  // namespace

int32_t LBound(const Value& array, int32_t dimension) {
  return ArrayOf(array).LowerBound(dimension);
}

int32_t UBound(const Value& array, int32_t dimension) {
  return ArrayOf(array).UpperBound(dimension);
}

Value ArrayItem(const Value& array, int32_t index) {
  const SafeArray& a = ArrayOf(array);
  return a.Get(a.FlatIndex({&index, 1}));
}

}  // namespace quorvel
