// `Value`: the tagged value that almost every argument and result is.
#ifndef QUORVEL_VALUE_H_
#define QUORVEL_VALUE_H_

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/decimal.h"
#include "quorvel/object.h"
#include "quorvel/string.h"

namespace quorvel {

class SafeArray;

// Kind codes as clients observe them. An array's own code is 8192 plus the
// code of its elements (12 for Values); `Value::kind()` says `Array` for
// every array and `VarType` gives the full code.
enum class Kind : uint16_t {
  Empty = 0,
  Null = 1,
  Integer = 2,
  Long = 3,
  Single = 4,
  Double = 5,
  Currency = 6,
  Date = 7,
  String = 8,
  Object = 9,
  Error = 10,
  Boolean = 11,
  Variant = 12,  // only as an array's element code
  Decimal = 14,
  Byte = 17,
  Array = 8192,
};

// The code carried by Missing, the Error value of an omitted argument.
inline constexpr int32_t kMissingCode = static_cast<int32_t>(0x80020004u);

// A tagged value of 16 bytes. Scalars and Decimal live inline; a String is
// one counted block, an Array one owned `SafeArray`, an Object one counted
// reference.
//
// C++ copy is the store rule: an object reference is shared, everything else
// copied (a String by count, an Array element by element). Value assignment,
// which reads an object's default member, is `LetValue`. Moves never touch a
// count. Thread-compatible.
class Value {
 public:
  Value() noexcept : kind_(0), scale_(0), sign_(0), hi_(0), bits_(0) {}
  Value(int16_t v) noexcept : Value() {  // NOLINT: Integer
    kind_ = static_cast<uint16_t>(Kind::Integer);
    i16_ = v;
  }
  Value(int32_t v) noexcept : Value() {  // NOLINT: Long
    kind_ = static_cast<uint16_t>(Kind::Long);
    i32_ = v;
  }
  Value(float v) noexcept : Value() {  // NOLINT: Single
    kind_ = static_cast<uint16_t>(Kind::Single);
    f32_ = v;
  }
  Value(double v) noexcept : Value() {  // NOLINT: Double
    kind_ = static_cast<uint16_t>(Kind::Double);
    f64_ = v;
  }
  Value(bool v) noexcept : Value() {  // NOLINT: Boolean, -1 or 0
    kind_ = static_cast<uint16_t>(Kind::Boolean);
    i16_ = v ? -1 : 0;
  }
  Value(std::u16string_view text);  // NOLINT: String
  Value(const char16_t* text) : Value(std::u16string_view(text)) {}  // NOLINT
  Value(const std::u16string& text)                                  // NOLINT
      : Value(std::u16string_view(text)) {}
  Value(String text) noexcept : Value() {  // NOLINT
    kind_ = static_cast<uint16_t>(Kind::String);
    str_ = text.Release();
  }
  Value(Ref<Object> object) noexcept : Value() {  // NOLINT: Object or Nothing
    kind_ = static_cast<uint16_t>(Kind::Object);
    obj_ = object.Detach();
  }
  template <class T, class = std::enable_if_t<std::is_base_of_v<Object, T> &&
                                              !std::is_same_v<T, Object>>>
  Value(Ref<T> object) noexcept  // NOLINT
      : Value(Ref<Object>(std::move(object))) {}
  // Takes ownership of an array.
  explicit Value(SafeArray&& array);

  // Narrowing guards: say which kind is meant instead.
  Value(const char*) = delete;
  Value(long) = delete;                // NOLINT
  Value(long long) = delete;           // NOLINT
  Value(unsigned) = delete;            // NOLINT
  Value(unsigned long) = delete;       // NOLINT
  Value(unsigned long long) = delete;  // NOLINT

  static Value Null() noexcept { return OfKind(Kind::Null); }
  static Value Missing() noexcept {
    Value v = OfKind(Kind::Error);
    v.i32_ = kMissingCode;
    return v;
  }
  static Value ErrorCode(int32_t code) noexcept {
    Value v = OfKind(Kind::Error);
    v.i32_ = code;
    return v;
  }
  static Value Nothing() noexcept { return Value(Ref<Object>()); }
  static Value Byte(uint8_t v) noexcept {
    Value r = OfKind(Kind::Byte);
    r.u8_ = v;
    return r;
  }
  static Value Currency(int64_t scaled_by_10000) noexcept {
    Value r = OfKind(Kind::Currency);
    r.i64_ = scaled_by_10000;
    return r;
  }
  static Value Date(double day_number) noexcept {
    Value r = OfKind(Kind::Date);
    r.f64_ = day_number;
    return r;
  }
  static Value Decimal(quorvel::Decimal d) noexcept {
    Value r = OfKind(Kind::Decimal);
    r.scale_ = d.scale();
    r.sign_ = d.negative() ? 0x80 : 0;
    r.hi_ = d.hi();
    r.u64_ = d.lo();
    return r;
  }

  Value(const Value& other) : Value() { CopyFrom(other); }
  Value(Value&& other) noexcept : Value() { StealFrom(other); }
  Value& operator=(const Value& other) {
    if (this != &other) {
      Value copy(other);
      Clear();
      StealFrom(copy);
    }
    return *this;
  }
  Value& operator=(Value&& other) noexcept {
    if (this != &other) {
      Clear();
      StealFrom(other);
    }
    return *this;
  }
  ~Value() {
    if (HoldsHeap()) ReleaseHeap();
  }

  // Returns the kind; every array says `Array` (see `VarType`).
  Kind kind() const noexcept { return static_cast<Kind>(kind_); }
  bool IsEmpty() const noexcept { return kind() == Kind::Empty; }
  bool IsNull() const noexcept { return kind() == Kind::Null; }
  bool IsString() const noexcept { return kind() == Kind::String; }
  bool IsObject() const noexcept { return kind() == Kind::Object; }
  bool IsNothing() const noexcept { return IsObject() && obj_ == nullptr; }
  bool IsArray() const noexcept { return kind() == Kind::Array; }
  bool IsMissing() const noexcept {
    return kind() == Kind::Error && i32_ == kMissingCode;
  }
  // True for Integer, Long, Single, Double, Currency, Date, Boolean, Decimal
  // and Byte.
  bool IsNumericKind() const noexcept;

  // Payload accessors; each requires the matching kind.
  int16_t integer() const noexcept { return i16_; }
  int32_t long_value() const noexcept { return i32_; }
  float single() const noexcept { return f32_; }
  double double_value() const noexcept { return f64_; }
  int64_t currency() const noexcept { return i64_; }
  double date() const noexcept { return f64_; }
  bool boolean() const noexcept { return i16_ != 0; }
  uint8_t byte() const noexcept { return u8_; }
  int32_t error_code() const noexcept { return i32_; }
  quorvel::Decimal decimal() const noexcept {
    return quorvel::Decimal(hi_, u64_, scale_, sign_ != 0);
  }
  std::u16string_view string_view() const noexcept {
    return str_ ? std::u16string_view(str_->units(), str_->length)
                : std::u16string_view();
  }
  String string() const noexcept {
    internal::RetainString(str_);
    return String::Adopt(str_);
  }
  // The text's block, without a count: for a caller that lends it for the
  // length of a call (see TextArgument).
  internal::StringRep* string_rep() const noexcept { return str_; }
  Object* object() const noexcept { return obj_; }
  Ref<Object> object_ref() const noexcept { return Ref<Object>(obj_); }
  const SafeArray& array() const noexcept { return *arr_; }
  SafeArray& array() noexcept { return *arr_; }

  // Asks the memory system for the heap block of a String or an object, for
  // a walk that will read it soon: two cache lines of an object, whose
  // counts may lie past its first. Reads nothing behind the pointer.
  void PrefetchPayload() const noexcept {
    if ((!IsString() && !IsObject()) || bits_ == 0) return;
    const auto* block = reinterpret_cast<const unsigned char*>(bits_);
    __builtin_prefetch(block);
    if (IsObject()) __builtin_prefetch(block + 64);
  }

  // Returns the object as T when it is one, else null.
  template <class T>
  T* object_as() const noexcept {
    return IsObject() ? dynamic_cast<T*>(obj_) : nullptr;
  }

  void swap(Value& other) noexcept {
    Value tmp(std::move(other));
    // A moved-from Value is Empty, and StealFrom only writes it.
    other.StealFrom(*this);  // NOLINT(bugprone-use-after-move)
    StealFrom(tmp);
  }

 private:
  static Value OfKind(Kind k) noexcept {
    Value v;
    v.kind_ = static_cast<uint16_t>(k);
    return v;
  }
  bool HoldsHeap() const noexcept {
    return kind_ == static_cast<uint16_t>(Kind::String) ||
           kind_ == static_cast<uint16_t>(Kind::Object) ||
           kind_ == static_cast<uint16_t>(Kind::Array);
  }
  void CopyFrom(const Value& other) {
    if (other.HoldsHeap()) {
      CopyHeap(other);
    } else {
      CopyBits(other);
    }
  }
  void CopyBits(const Value& other) noexcept {
    kind_ = other.kind_;
    scale_ = other.scale_;
    sign_ = other.sign_;
    hi_ = other.hi_;
    bits_ = other.bits_;
  }
  void StealFrom(Value& other) noexcept {
    CopyBits(other);
    other.kind_ = 0;
    other.bits_ = 0;
  }
  void Clear() noexcept {
    if (HoldsHeap()) ReleaseHeap();
    kind_ = 0;
    bits_ = 0;
  }
  void CopyHeap(const Value& other);
  void ReleaseHeap() noexcept;

  // Byte layout matches the platform's variant: kind, then the Decimal's
  // scale, sign and high word, then one 8-byte payload.
  uint16_t kind_;
  uint8_t scale_;
  uint8_t sign_;
  uint32_t hi_;
  union {
    int16_t i16_;
    int32_t i32_;
    float f32_;
    double f64_;
    int64_t i64_;
    uint64_t u64_;
    uint8_t u8_;
    internal::StringRep* str_;
    SafeArray* arr_;
    Object* obj_;
    uint64_t bits_;
  };
};

static_assert(sizeof(Value) == 16, "a Value is as large as the platform's");

// Returns the kind code, 8192 plus the element code for arrays.
int32_t VarType(const Value& v);
// Returns the type name: "Empty", "Long", "String", "Variant()", "Byte()",
// an object's type name, "Nothing", ...
std::u16string TypeName(const Value& v);

// Value assignment: a copy of `v`, or for an object its default value (the
// default member read with no arguments). Raises 91 for Nothing, 450 for a
// class whose default member needs arguments, 438 for one without a default
// member.
Value LetValue(const Value& v);

// Builds a one-dimensional array of Values starting at `lower_bound`.
Value MakeArray(std::initializer_list<Value> items, int32_t lower_bound = 0);
Value MakeArray(std::vector<Value>&& items, int32_t lower_bound = 0);
// Builds a zero-based array of Byte.
Value MakeByteArray(std::span<const uint8_t> bytes);
Value MakeByteArray(std::vector<uint8_t>&& bytes);
// Returns the bytes of a Byte array; raises 13 for any other value.
std::vector<uint8_t> ToBytes(const Value& byte_array);
// Return the bounds of `array`'s dimension `dimension` (1-based); raise 13
// for a non-array and 9 for a dimension it does not have.
int32_t LBound(const Value& array, int32_t dimension = 1);
int32_t UBound(const Value& array, int32_t dimension = 1);
// Returns the element at `index` of a one-dimensional array by the store
// rule; raises 13 for a non-array and 9 outside its bounds.
Value ArrayItem(const Value& array, int32_t index);

}  // namespace quorvel

#endif  // QUORVEL_VALUE_H_
