#include "stores/doc_match.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "codecs/msgpack_format.h"
#include "quorvel/convert.h"
#include "quorvel/msgpack.h"
#include "stores/doc_rules.h"

namespace quorvel::internal {

namespace {

using mMsgPack::DecodeBytes;
using mMsgPack::EncodeBytes;
using mMsgPack::EncodeOptions;
using mMsgPack::kArray16;
using mMsgPack::kExt;
using mMsgPack::kExtCurrency;
using mMsgPack::kExtDate;
using mMsgPack::kExtRecord;
using mMsgPack::kFalse;
using mMsgPack::kFloat64;
using mMsgPack::kInt32;
using mMsgPack::kMap16;
using mMsgPack::kMaxCount;
using mMsgPack::kMaxDepth;
using mMsgPack::kNil;
using mMsgPack::kStr16;
using mMsgPack::kStr8;
using mMsgPack::kTrue;

uint64_t Le64(const uint8_t* p) {
  uint64_t n = 0;
  for (int i = 7; i >= 0; --i) n = n << 8 | p[i];
  return n;
}

// Encodes `text` as the store does and returns its bytes without the type
// and length, or false when no stored text can equal it: too long for the
// dialect, or holding a code unit the code page lacks (the decoder would
// not give the same text back).
bool TextPayload(std::u16string_view text, std::vector<uint8_t>* payload) {
  if (text.size() > kMaxCount) return false;
  const Value value(text);
  std::vector<uint8_t> bytes = EncodeBytes(value, EncodeOptions{});
  if (DecodeBytes(bytes).string_view() != text) return false;
  const size_t header = bytes[0] == kStr8 ? 2 : 3;
  payload->assign(bytes.begin() + header, bytes.end());
  return true;
}

// A value that neither side's bits decide alone: zero (0 = -0) or NaN (every
// NaN equals every other).
bool Unsettled(double d) { return d == 0 || std::isnan(d); }

}  // namespace

// A cursor over one body that steps over whole values, checking each as
// it goes; a step that fails leaves the walk undecided.
class DocFieldMatcher::Walk {
 public:
  explicit Walk(std::span<const uint8_t> body)
      : at_(body.data()), end_(body.data() + body.size()) {}

  const uint8_t* at() const { return at_; }

  bool Has(size_t n) const { return static_cast<size_t>(end_ - at_) >= n; }
  bool Advance(size_t n) {
    if (!Has(n)) return false;
    at_ += n;
    return true;
  }
  bool Be16(size_t* n) {
    if (!Has(2)) return false;
    *n = static_cast<size_t>(at_[0] << 8 | at_[1]);
    at_ += 2;
    return true;
  }

  // Reads a name: text only (anything else the decoder converts, so it is
  // left to it). `*text` then points at its `*n` bytes.
  bool Name(const uint8_t** text, size_t* n) {
    if (!Has(1)) return false;
    const uint8_t type = *at_++;
    if (type == kStr8) {
      if (!Has(1)) return false;
      *n = *at_++;
    } else if (type != kStr16 || !Be16(n)) {
      return false;
    }
    *text = at_;
    return Advance(*n);
  }

  // Steps over one value inside a container at `depth`. The scalars and
  // short texts that make up most documents take no jump through the type
  // switch.
  bool Skip(int depth) {
    if (!Has(1)) return false;
    const uint8_t type = *at_;
    if (type == kStr8) return Has(2) && Advance(2 + size_t{at_[1]});
    if (const uint8_t size = kScalarSize[type]) return Advance(size);
    ++at_;
    return SkipOther(type, depth);
  }

  // Steps over one name/value pair of a map at `depth`, pointing `*name`
  // at the name's `*name_size` bytes and `*value` at the value. A short
  // name with a scalar or a short text, nearly every field, is stepped
  // over with one bounds check.
  bool Field(const uint8_t** name, size_t* name_size, const uint8_t** value,
             int depth) {
    const size_t left = static_cast<size_t>(end_ - at_);
    if (left >= 4 && at_[0] == kStr8 && left - 4 >= at_[1]) {
      const size_t n = at_[1];
      const uint8_t* v = at_ + 2 + n;
      const size_t size = *v == kStr8 ? 2 + size_t{v[1]} : kScalarSize[*v];
      if (size != 0 && size <= left - 2 - n) {
        *name = at_ + 2;
        *name_size = n;
        *value = v;
        at_ = v + size;
        return true;
      }
    }
    if (!Name(name, name_size)) return false;
    *value = at_;
    return Skip(depth);
  }

  // Steps over `n` name/value pairs of a map at `depth`.
  bool Pairs(size_t n, int depth) {
    if (depth > kMaxDepth) return false;
    const uint8_t* name;
    size_t size;
    const uint8_t* value;
    for (size_t i = 0; i < n; ++i) {
      if (!Field(&name, &size, &value, depth)) return false;
    }
    return true;
  }

 private:
  // The size of each scalar encoding whole, type byte included; 0 for the
  // other type bytes.
  static constexpr std::array<uint8_t, 256> kScalarSize = [] {
    std::array<uint8_t, 256> sizes{};
    sizes[kNil] = sizes[kFalse] = sizes[kTrue] = 1;
    sizes[kInt32] = 5;
    sizes[kFloat64] = 9;
    return sizes;
  }();

  // Steps over a value of `type` (already read) that is not a scalar. Kept
  // out of line, so that the common case of Skip stays small enough to
  // inline.
  [[gnu::noinline]] bool SkipOther(uint8_t type, int depth) {
    size_t n = 0;
    switch (type) {
      case kStr16:
        return Be16(&n) && Advance(n);
      case kArray16:
        if (!Be16(&n) || depth + 1 > kMaxDepth) return false;
        for (size_t i = 0; i < n; ++i) {
          if (!Skip(depth + 1)) return false;
        }
        return true;
      case kMap16:
        return Be16(&n) && Pairs(n, depth + 1);
      case kExt:
        return Extension(depth);
      default:
        return false;
    }
  }

  bool Extension(int depth) {
    if (!Has(1)) return false;
    size_t n = 0;
    switch (*at_++) {
      case kExtDate:
        if (!Has(8)) return false;
        // The decoder's own check, raising as it does.
        ToDate(Value::Date(std::bit_cast<double>(Le64(at_))));
        return Advance(8);
      case kExtCurrency:
        return Advance(8);
      case kExtRecord:
        return Be16(&n) && Pairs(n, depth + 1);
      default:
        return false;
    }
  }

  const uint8_t* at_;
  const uint8_t* end_;
};

DocFieldMatcher::DocFieldMatcher(std::u16string_view field_name,
                                 const Value& value)
    : value_(value) {
  if (TextPayload(field_name, &name_)) name_size_ = name_.size();
  switch (value.kind()) {
    case Kind::Null:
      type_ = kNil;
      return;
    case Kind::Boolean:
      type_ = value.boolean() ? kTrue : kFalse;
      return;
    case Kind::String:
      if (TextPayload(value.string_view(), &payload_)) type_ = kStr8;
      return;
    case Kind::Long:
    case Kind::Double:
    case Kind::Currency:
    case Kind::Date: {
      const std::vector<uint8_t> bytes = EncodeBytes(value, EncodeOptions{});
      type_ = bytes[0];
      const size_t header = type_ == kExt ? 2 : 1;
      if (type_ == kExt) sub_type_ = bytes[1];
      payload_.assign(bytes.begin() + header, bytes.end());
      return;
    }
    default:
      // Decoded fields are never of these kinds (an Integer comes back as
      // a Long, a Single as a Double, a Decimal as a Currency), and an
      // object or array never matches.
      return;
  }
}

DocFieldMatcher::Result DocFieldMatcher::Match(
    std::span<const uint8_t> body) const {
  Walk walk(body);
  size_t count = 0;
  if (!walk.Has(2) || body[0] != kExt || body[1] != kExtRecord ||
      !walk.Advance(2) || !walk.Be16(&count)) {
    return Result::kUndecided;
  }
  bool found = false;
  bool matched = false;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* name;
    size_t name_size;
    const uint8_t* value;
    if (!walk.Field(&name, &name_size, &value, 1)) return Result::kUndecided;
    if (!SameName(name, name_size)) continue;
    // The decoder refuses a name given twice.
    if (found) return Result::kUndecided;
    found = true;
    matched = Equal({value, static_cast<size_t>(walk.at() - value)});
  }
  return matched ? Result::kMatch : Result::kNoMatch;
}

bool DocFieldMatcher::SameName(const uint8_t* name, size_t size) const {
  // Names are short, and most differ in length or in their first byte: a
  // plain loop does better here than a call.
  if (size != name_size_) return false;
  for (size_t i = 0; i < size; ++i) {
    if (name[i] != name_[i]) return false;
  }
  return true;
}

bool DocFieldMatcher::Equal(std::span<const uint8_t> field) const {
  // `field` is one whole value, already walked.
  if (type_ == 0) return false;
  const uint8_t type = field[0];
  switch (type_) {
    case kNil:
    case kFalse:
    case kTrue:
      return type == type_;
    case kStr8: {
      size_t header = 0;
      if (type == kStr8) header = 2;
      if (type == kStr16) header = 3;
      // The empty text has no payload to point at, so no memcmp here.
      return header != 0 && field.size() - header == payload_.size() &&
             std::equal(payload_.begin(), payload_.end(),
                        field.begin() + header);
    }
    case kInt32:
    case kFloat64:
      if (type != type_) return false;
      field = field.subspan(1);
      break;
    default:  // an extension
      if (type != kExt || field[1] != sub_type_) return false;
      field = field.subspan(2);
      break;
  }
  if (std::memcmp(field.data(), payload_.data(), payload_.size()) == 0)
    return true;
  if (type_ == kInt32 || sub_type_ == kExtCurrency) return false;
  // A Double or a Date: the bits differ, and that settles it unless zero or
  // NaN is on either side.
  const double stored = std::bit_cast<double>(Le64(field.data()));
  const double wanted = std::bit_cast<double>(Le64(payload_.data()));
  if (!Unsettled(stored) && !Unsettled(wanted)) return false;
  const Value decoded = type_ == kFloat64 ? Value(stored) : Value::Date(stored);
  return DocValuesEqual(decoded, value_);
}

}  // namespace quorvel::internal
