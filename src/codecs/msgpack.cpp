#include "quorvel/msgpack.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>
#include <string_view>
#include <typeinfo>
#include <utility>

#include "codecs/byte_input.h"
#include "quorvel/carray.h"
#include "quorvel/codepage.h"
#include "quorvel/convert.h"
#include "quorvel/dictionary.h"
#include "quorvel/dispatch.h"
#include "quorvel/error.h"
#include "quorvel/kxdocrec.h"

namespace quorvel::mMsgPack {

namespace {

constexpr uint8_t kNil = 0xC0;
constexpr uint8_t kFalse = 0xC2;
constexpr uint8_t kTrue = 0xC3;
constexpr uint8_t kInt32 = 0xD2;
constexpr uint8_t kFloat64 = 0xCB;
constexpr uint8_t kStr8 = 0xD9;
constexpr uint8_t kStr16 = 0xDA;
constexpr uint8_t kArray16 = 0xDC;
constexpr uint8_t kMap16 = 0xDE;
constexpr uint8_t kExt = 0xC7;
constexpr uint8_t kExtDate = 0x01;
constexpr uint8_t kExtCurrency = 0x02;
constexpr uint8_t kExtRecord = 0x33;
constexpr uint32_t kMaxCount = 0xFFFF;

// Windows-1252 agrees with Latin-1 outside 0x80..0x9F, so only those few
// characters need the code page's table.
inline uint8_t AnsiByte(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
    return static_cast<uint8_t>(unit);
  return AnsiFromUnit(unit);
}

inline char16_t AnsiUnit(uint8_t byte) {
  if (byte < 0x80 || byte >= 0xA0) return byte;
  return UnitFromAnsi(byte);
}

// Converts `text` to code-page bytes at `to`. Runs of ASCII, by far the
// most common text, go four units at a time.
void NarrowText(std::u16string_view text, uint8_t* to) {
  const char16_t* from = text.data();
  const size_t n = text.size();
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    uint64_t units;
    std::memcpy(&units, from + i, 8);
    if ((units & 0xFF80FF80FF80FF80u) == 0) {
      to[i] = static_cast<uint8_t>(from[i]);
      to[i + 1] = static_cast<uint8_t>(from[i + 1]);
      to[i + 2] = static_cast<uint8_t>(from[i + 2]);
      to[i + 3] = static_cast<uint8_t>(from[i + 3]);
    } else {
      for (size_t k = i; k < i + 4; ++k) to[k] = AnsiByte(from[k]);
    }
  }
  for (; i < n; ++i) to[i] = AnsiByte(from[i]);
}

// Converts code-page bytes to units, eight ASCII bytes at a time.
void WidenText(const uint8_t* from, size_t n, char16_t* to) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t bytes;
    std::memcpy(&bytes, from + i, 8);
    if ((bytes & 0x8080808080808080u) == 0) {
      for (size_t k = i; k < i + 8; ++k) to[k] = from[k];
    } else {
      for (size_t k = i; k < i + 8; ++k) to[k] = AnsiUnit(from[k]);
    }
  }
  for (; i < n; ++i) to[i] = AnsiUnit(from[i]);
}

[[noreturn]] void RaiseUnsupported(std::u16string_view description) {
  ErrorRaise(kErrInvalidCall, {}, description);
}

// Appends to a byte vector through a raw cursor. The encoder sizes the
// output first, so the vector is normally grown once; the doubling here is
// only a fallback for foreign containers, whose size is not known up front.
// Unless the encoding is committed, the vector gets its old length back.
class Writer {
 public:
  explicit Writer(std::vector<uint8_t>& out)
      : out_(out), start_(out.size()), size_(out.size()) {}
  ~Writer() { out_.resize(committed_ ? size_ : start_); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Returns room for `n` bytes, which the caller must fill.
  uint8_t* Take(size_t n) {
    if (out_.size() - size_ < n) Grow(n);
    uint8_t* at = out_.data() + size_;
    size_ += n;
    return at;
  }
  void Byte(uint8_t b) { *Take(1) = b; }
  void Commit() { committed_ = true; }
  // Makes room for `n` more bytes in one step.
  void Reserve(size_t n) {
    if (out_.size() - size_ < n) out_.resize(size_ + n);
  }

 private:
  void Grow(size_t n) {
    out_.resize(std::max({size_ + n, out_.size() * 2, size_t{256}}));
  }

  std::vector<uint8_t>& out_;
  size_t start_;
  size_t size_;
  bool committed_ = false;
};

inline void StoreLe64(uint8_t* at, uint64_t bits) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(at, &bits, 8);
  } else {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(bits >> (8 * i));
  }
}

inline void StoreLe32(uint8_t* at, uint32_t bits) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(at, &bits, 4);
  } else {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(bits >> (8 * i));
  }
}

// Returns the length of the encoding of `v` as far as it can be told
// without calling out: the library's own containers are measured, foreign
// ones and values that cannot be encoded count as nothing, and nesting past
// kMaxDepth is not followed. Reserving this much up front means a large
// output is allocated and touched once, instead of copied at every doubling.
size_t EncodedSize(const Value& v, int depth = 0) {
  switch (v.kind()) {
    case Kind::Null:
    case Kind::Boolean:
      return 1;
    case Kind::Integer:
    case Kind::Long:
      return 5;
    case Kind::Single:
    case Kind::Double:
      return 9;
    case Kind::Currency:
    case Kind::Decimal:
    case Kind::Date:
      return 10;
    case Kind::String: {
      const size_t n = v.string_view().size();
      return n + (n <= 0xFF ? 2 : 3);
    }
    case Kind::Object:
      break;
    default:
      return 0;
  }
  const Object* object = v.object();
  if (object == nullptr || depth >= kMaxDepth) return 0;
  const std::type_info& type = typeid(*object);
  size_t total = 0;
  if (type == typeid(CArray)) {
    total = 3;
    for (const Value& item : static_cast<const CArray&>(*object))
      total += EncodedSize(item, depth + 1);
    return total;
  }
  const Dictionary* fields = nullptr;
  if (type == typeid(Dictionary)) {
    fields = static_cast<const Dictionary*>(object);
    total = 3;
  } else if (type == typeid(KxDocRec)) {
    fields = &static_cast<const KxDocRec&>(*object).fields();
    total = 4;
  } else {
    return 0;
  }
  for (const Dictionary::Entry& e : *fields) {
    const size_t n = e.key.size();
    total += n + (n <= 0xFF ? 2 : 3) + EncodedSize(e.value, depth + 1);
  }
  return total;
}

class Encoder {
 public:
  explicit Encoder(std::vector<uint8_t>& out) : w_(out) {}

  void Reserve(size_t n) { w_.Reserve(n); }
  void Commit() { w_.Commit(); }

  void Put(const Value& v) {
    switch (v.kind()) {
      case Kind::Null:
        w_.Byte(kNil);
        return;
      case Kind::Boolean:
        w_.Byte(v.boolean() ? kTrue : kFalse);
        return;
      case Kind::Integer:
        return PutLong(v.integer());
      case Kind::Long:
        return PutLong(v.long_value());
      case Kind::Single:
        return PutDouble(static_cast<double>(v.single()));
      case Kind::Double:
        return PutDouble(v.double_value());
      case Kind::Currency:
        return PutExt64(kExtCurrency, static_cast<uint64_t>(v.currency()));
      case Kind::Decimal:
        return PutExt64(kExtCurrency, static_cast<uint64_t>(ToCurrency(v)));
      case Kind::Date:
        return PutExt64(kExtDate, std::bit_cast<uint64_t>(v.date()));
      case Kind::String:
        return PutString(v.string_view());
      case Kind::Object:
        return PutObject(v.object());
      default:
        RaiseUnsupported(u"Unsupported type");
    }
  }

 private:
  void PutLong(int32_t n) {
    uint8_t* at = w_.Take(5);
    at[0] = kInt32;
    StoreLe32(at + 1, static_cast<uint32_t>(n));
  }

  void PutDouble(double d) {
    uint8_t* at = w_.Take(9);
    at[0] = kFloat64;
    StoreLe64(at + 1, std::bit_cast<uint64_t>(d));
  }

  void PutExt64(uint8_t sub_type, uint64_t bits) {
    uint8_t* at = w_.Take(10);
    at[0] = kExt;
    at[1] = sub_type;
    StoreLe64(at + 2, bits);
  }

  void PutString(std::u16string_view text) {
    const size_t n = text.size();
    uint8_t* at;
    if (n <= 0xFF) {
      at = w_.Take(2 + n);
      *at++ = kStr8;
      *at++ = static_cast<uint8_t>(n);
    } else {
      if (n > kMaxCount) RaiseStandard(kErrOverflow);
      at = w_.Take(3 + n);
      *at++ = kStr16;
      *at++ = static_cast<uint8_t>(n >> 8);
      *at++ = static_cast<uint8_t>(n);
    }
    NarrowText(text, at);
  }

  // Writes a container header: `prefix` (one or two bytes), then the count,
  // big-endian. Raises 6 for a count that two bytes cannot hold.
  void PutHeader(std::initializer_list<uint8_t> prefix, int64_t count) {
    if (count < 0 || count > kMaxCount) RaiseStandard(kErrOverflow);
    uint8_t* at = w_.Take(prefix.size() + 2);
    for (uint8_t b : prefix) *at++ = b;
    at[0] = static_cast<uint8_t>(count >> 8);
    at[1] = static_cast<uint8_t>(count);
  }

  void Enter() {
    if (++depth_ > kMaxDepth) RaiseStandard(kErrOutOfStack);
  }

  void PutObject(Object* object) {
    if (object == nullptr) RaiseUnsupported(u"Unsupported type : Nothing");
    // The library's own containers are walked directly; anything else that
    // calls itself by one of their names is walked through its members.
    const std::type_info& type = typeid(*object);
    Enter();
    if (type == typeid(Dictionary)) {
      PutFields({kMap16}, static_cast<const Dictionary&>(*object));
    } else if (type == typeid(KxDocRec)) {
      PutFields({kExt, kExtRecord},
                static_cast<const KxDocRec&>(*object).fields());
    } else if (type == typeid(CArray)) {
      const auto& list = static_cast<const CArray&>(*object);
      const int32_t n = list.Count();
      PutHeader({kArray16}, n);
      for (int32_t i = 0; i < n; ++i) Put(list.Item(i));
    } else {
      const std::u16string_view name = object->TypeName();
      if (name == u"Dictionary") {
        PutForeignMap({kMap16}, object);
      } else if (name == u"KxDocRec") {
        PutForeignMap({kExt, kExtRecord}, object);
      } else if (name == u"CArray") {
        PutForeignList(object);
      } else {
        RaiseUnsupported(std::u16string(u"Unsupported type : ") +
                         std::u16string(name));
      }
    }
    --depth_;
  }

  void PutFields(std::initializer_list<uint8_t> prefix, const Dictionary& d) {
    PutHeader(prefix, d.Count());
    for (const Dictionary::Entry& e : d) {
      PutString(e.key);
      Put(e.value);
    }
  }

  void PutForeignMap(std::initializer_list<uint8_t> prefix, Object* object) {
    const Value self{Ref<Object>(object)};
    PutHeader(prefix, ToLong(InvokeByName(self, u"Count", CallType::Get, {})));
    const Value keys = InvokeByName(self, u"Keys", CallType::Get, {});
    const int32_t last = UBound(keys);
    for (int32_t i = LBound(keys); i <= last; ++i) {
      const Value key = ArrayItem(keys, i);
      PutString(ToText(key));
      Put(InvokeByName(self, u"Item", CallType::Get, {&key, 1}));
    }
  }

  void PutForeignList(Object* object) {
    const Value self{Ref<Object>(object)};
    const int32_t n = ToLong(InvokeByName(self, u"Count", CallType::Get, {}));
    PutHeader({kArray16}, n);
    for (int32_t i = 0; i < n; ++i) {
      const Value index(i);
      Put(InvokeByName(self, u"Item", CallType::Get, {&index, 1}));
    }
  }

  Writer w_;
  int depth_ = 0;
};

class Decoder {
 public:
  Decoder(std::span<const uint8_t> bytes, size_t position)
      : data_(bytes.data()), size_(bytes.size()), pos_(position) {}

  size_t position() const { return pos_; }

  Value Get() {
    const uint8_t type = Byte();
    switch (type) {
      case kNil:
        return Value::Null();
      case kFalse:
        return Value(false);
      case kTrue:
        return Value(true);
      case kInt32:
        return Value(static_cast<int32_t>(Le32()));
      case kFloat64:
        return Value(std::bit_cast<double>(Le64()));
      case kStr8:
        return Value(Text(Byte()));
      case kStr16:
        return Value(Text(Be16()));
      case kArray16:
        return List(Be16());
      case kMap16: {
        const uint16_t n = Be16();
        Ref<Dictionary> map = Dictionary::Create();
        Pairs(*map, n);
        return Value(std::move(map));
      }
      case kExt:
        return Extension(Byte());
      default: {
        static constexpr char16_t kHex[] = u"0123456789ABCDEF";
        std::u16string text = u"Unsupported MsgPack type: ";
        if (type >= 0x10) text += kHex[type >> 4];
        text += kHex[type & 15];
        RaiseUnsupported(text);
      }
    }
  }

 private:
  void Need(size_t n) const {
    if (size_ - pos_ < n) RaiseStandard(kErrSubscript);
  }
  uint8_t Byte() {
    Need(1);
    return data_[pos_++];
  }
  uint16_t Be16() {
    Need(2);
    const uint16_t n =
        static_cast<uint16_t>(data_[pos_] << 8 | data_[pos_ + 1]);
    pos_ += 2;
    return n;
  }
  uint32_t Le32() {
    Need(4);
    uint32_t n;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(&n, data_ + pos_, 4);
    } else {
      n = 0;
      for (int i = 3; i >= 0; --i) n = n << 8 | data_[pos_ + i];
    }
    pos_ += 4;
    return n;
  }
  uint64_t Le64() {
    Need(8);
    uint64_t n;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(&n, data_ + pos_, 8);
    } else {
      n = 0;
      for (int i = 7; i >= 0; --i) n = n << 8 | data_[pos_ + i];
    }
    pos_ += 8;
    return n;
  }

  String Text(size_t n) {
    Need(n);
    const uint8_t* from = data_ + pos_;
    pos_ += n;
    if (n == 0) return String();
    if (n > kShortText) return Widen(from, n);
    // Keys and short values repeat from record to record: share one String
    // per distinct short text instead of allocating each occurrence.
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < n; ++i) hash = (hash ^ from[i]) * 16777619u;
    String& cached = short_texts_[(hash ^ (hash >> 15)) & (kShortSlots - 1)];
    if (cached.size() != n || !SameText(cached, from, n))
      cached = Widen(from, n);
    return cached;
  }

  static String Widen(const uint8_t* from, size_t n) {
    return String::Build(n,
                         [from, n](char16_t* to) { WidenText(from, n, to); });
  }
  static bool SameText(const String& text, const uint8_t* from, size_t n) {
    const char16_t* units = text.data();
    for (size_t i = 0; i < n; ++i) {
      if (units[i] != AnsiUnit(from[i])) return false;
    }
    return true;
  }

  // Returns the next Value as a key: text is read straight into a String,
  // anything else decoded and converted (raising as the conversion does).
  String Key() {
    Need(1);
    if (data_[pos_] == kStr8) {
      ++pos_;
      return Text(Byte());
    }
    if (data_[pos_] == kStr16) {
      ++pos_;
      return Text(Be16());
    }
    const Value key = Get();
    return key.IsString() ? key.string() : ToText(key);
  }

  void Enter() {
    if (++depth_ > kMaxDepth) RaiseStandard(kErrOutOfStack);
  }

  // Each member takes at least one byte, so no more room is reserved than
  // the input could fill: a forged count cannot make a short input costly.
  size_t Plausible(size_t count, size_t bytes_per_member) const {
    return std::min(count, (size_ - pos_) / bytes_per_member);
  }

  Value List(uint16_t n) {
    Enter();
    Ref<CArray> list = CArray::Create();
    if (size_t room = Plausible(n, 1); room > 0)
      list->EnsureCapacity(static_cast<int32_t>(room));
    for (uint16_t i = 0; i < n; ++i) list->Add(Get());
    --depth_;
    return Value(std::move(list));
  }

  void Pairs(Dictionary& into, uint16_t n) {
    Enter();
    into.Reserve(Plausible(n, 2));
    for (uint16_t i = 0; i < n; ++i) {
      String key = Key();
      Value value = Get();
      bool inserted = false;
      Value& slot = into.Slot(key, &inserted);
      if (!inserted) RaiseStandard(kErrKeyExists);
      slot = std::move(value);
    }
    --depth_;
  }

  Value Extension(uint8_t sub_type) {
    switch (sub_type) {
      case kExtDate: {
        // The range check is the Date conversion's own.
        const Value date = Value::Date(std::bit_cast<double>(Le64()));
        return Value::Date(ToDate(date));
      }
      case kExtCurrency:
        return Value::Currency(static_cast<int64_t>(Le64()));
      case kExtRecord: {
        const uint16_t n = Be16();
        Ref<KxDocRec> record = KxDocRec::Create();
        Pairs(record->fields(), n);
        return Value(std::move(record));
      }
      default:
        RaiseUnsupported(u"Unsupported ext sub-type: " +
                         FromUtf8(std::to_string(sub_type)));
    }
  }

  static constexpr size_t kShortText = 16;
  static constexpr size_t kShortSlots = 256;

  const uint8_t* data_;
  size_t size_;
  size_t pos_;
  int depth_ = 0;
  std::array<String, kShortSlots> short_texts_;
};

}  // namespace

void EncodeTo(const Value& v, std::vector<uint8_t>& out) {
  Encoder encoder(out);
  if (v.IsObject()) encoder.Reserve(EncodedSize(v));
  encoder.Put(v);
  encoder.Commit();
}

std::vector<uint8_t> EncodeBytes(const Value& v) {
  std::vector<uint8_t> out;
  EncodeTo(v, out);
  return out;
}

Value DecodeAt(std::span<const uint8_t> bytes, size_t& position) {
  if (position > bytes.size()) RaiseStandard(kErrSubscript);
  Decoder decoder(bytes, position);
  Value v = decoder.Get();
  position = decoder.position();
  return v;
}

Value DecodeBytes(std::span<const uint8_t> bytes) {
  size_t position = 0;
  return DecodeAt(bytes, position);
}

Value Encode(const Value& value) { return MakeByteArray(EncodeBytes(value)); }

Value Decode(const Value& bytes) {
  return DecodeBytes(codecs_internal::BytesFromIndexZero(bytes));
}

Value DecodeAt(const Value& bytes, int32_t& position) {
  std::span<const uint8_t> data = codecs_internal::BytesFromIndexZero(bytes);
  if (position < 0) RaiseStandard(kErrSubscript);
  size_t at = static_cast<size_t>(position);
  Value v = DecodeAt(data, at);
  position = static_cast<int32_t>(at);
  return v;
}

}  // namespace quorvel::mMsgPack
