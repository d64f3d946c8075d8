#include "quorvel/msgpack.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codecs/byte_input.h"
#include "collections/container_walk.h"
#include "quorvel/carray.h"
#include "quorvel/codepage.h"
#include "quorvel/convert.h"
#include "quorvel/dictionary.h"
#include "quorvel/dispatch.h"
#include "quorvel/error.h"

namespace quorvel::mMsgPack {

// Type bytes, then the extension sub-types that follow kExt directly.
inline constexpr uint8_t kNil = 0xC0;
inline constexpr uint8_t kFalse = 0xC2;
inline constexpr uint8_t kTrue = 0xC3;
inline constexpr uint8_t kInt32 = 0xD2;
inline constexpr uint8_t kFloat64 = 0xCB;
inline constexpr uint8_t kStr8 = 0xD9;
inline constexpr uint8_t kStr16 = 0xDA;
inline constexpr uint8_t kArray16 = 0xDC;
inline constexpr uint8_t kMap16 = 0xDE;
inline constexpr uint8_t kExt = 0xC7;
inline constexpr uint8_t kExtDate = 0x01;
inline constexpr uint8_t kExtCurrency = 0x02;
inline constexpr uint8_t kExtRecord = 0x33;
// The most a length or count can say.
inline constexpr uint32_t kMaxCount = 0xFFFF;

[[noreturn]] inline void RaiseUnsupported(std::u16string_view description) {
  ErrorRaise(kErrInvalidCall, {}, description);
}

// Collects the encoding in a chain of buffers and hands it to the output
// vector in one exact-size step at the end. Sizing the output up front would
// take a second walk over the whole tree, which costs more than writing it
// (a large tree does not fit in the caches), and growing the vector by
// doubling copies it over and over and may ask for more memory than the
// allocator keeps at hand. Small encodings stay in the buffer built in.
// Nothing reaches the vector unless the encoding is committed.
class Writer {
public:
  explicit Writer(std::vector<uint8_t> &out) : out_(out) {}
  Writer(const Writer &) = delete;
  Writer &operator=(const Writer &) = delete;

  // Returns room for `n` bytes, which the caller must fill.
  uint8_t *Take(size_t n) {
    if (static_cast<size_t>(end_ - at_) < n)
      NextChunk(n);
    uint8_t *taken = at_;
    at_ += n;
    return taken;
  }
  void Byte(uint8_t b) { *Take(1) = b; }

  // Appends everything written to the output vector. Reserving and then
  // appending, rather than resizing and then copying, spares zero-filling
  // bytes that are overwritten at once.
  void Commit();

private:
  static constexpr size_t kInline = 2048;
  static constexpr size_t kFirstChunk = 16 << 10;
  // Larger buffers would come straight from the system, fresh pages and
  // all, on every call.
  static constexpr size_t kLargestChunk = 64 << 10;

  struct Chunk {
    const uint8_t *data;
    size_t used;
  };

  // Starts a new chunk with room for at least `n` bytes.
  void NextChunk(size_t n);

  std::vector<uint8_t> &out_;
  uint8_t inline_[kInline];
  uint8_t *chunk_start_ = inline_;
  uint8_t *at_ = inline_;
  uint8_t *end_ = inline_ + kInline;
  size_t next_size_ = kFirstChunk;
  std::vector<Chunk> full_; // in order, before the one being written
  std::vector<std::unique_ptr<uint8_t[]>> owned_;
};

void Writer::Commit() {
  size_t total = static_cast<size_t>(at_ - chunk_start_);
  for (const Chunk &c : full_)
    total += c.used;
  const size_t need = out_.size() + total;
  // Appending to a vector that already holds something grows it
  // geometrically, so that repeated appends stay linear.
  if (need > out_.capacity())
    out_.reserve(out_.empty() ? need : std::max(need, 2 * out_.capacity()));
  for (const Chunk &c : full_)
    out_.insert(out_.end(), c.data, c.data + c.used);
  out_.insert(out_.end(), chunk_start_, at_);
}

void Writer::NextChunk(size_t n) {
  const size_t size = std::max(n, next_size_);
  next_size_ = std::min(next_size_ * 2, kLargestChunk);
  std::unique_ptr<uint8_t[]> block(new uint8_t[size]);
  full_.push_back({chunk_start_, static_cast<size_t>(at_ - chunk_start_)});
  owned_.push_back(std::move(block));
  chunk_start_ = at_ = owned_.back().get();
  end_ = at_ + size;
}

namespace {

// Windows-1252 agrees with Latin-1 outside 0x80..0x9F, so only those few
// characters need the code page's table.
inline uint8_t AnsiByte(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
    return static_cast<uint8_t>(unit);
  return AnsiFromUnit(unit);
}

// Converts `text` to code-page bytes at `to`. Runs of ASCII, by far the
// most common text, go eight (or four) units at a time.
void NarrowText(std::u16string_view text, uint8_t *to) {
  const char16_t *from = text.data();
  const size_t n = text.size();
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 8 <= n; i += 8) {
    const __m128i units =
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + i));
    const __m128i high = _mm_and_si128(units, _mm_set1_epi16(-0x80));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) ==
        0xFFFF) {
      _mm_storel_epi64(reinterpret_cast<__m128i *>(to + i),
                       _mm_packus_epi16(units, units));
    } else {
      for (size_t k = i; k < i + 8; ++k)
        to[k] = AnsiByte(from[k]);
    }
  }
#endif
  for (; i + 4 <= n; i += 4) {
    uint64_t units;
    std::memcpy(&units, from + i, 8);
    if ((units & 0xFF80FF80FF80FF80u) == 0) {
      to[i] = static_cast<uint8_t>(from[i]);
      to[i + 1] = static_cast<uint8_t>(from[i + 1]);
      to[i + 2] = static_cast<uint8_t>(from[i + 2]);
      to[i + 3] = static_cast<uint8_t>(from[i + 3]);
    } else {
      for (size_t k = i; k < i + 4; ++k)
        to[k] = AnsiByte(from[k]);
    }
  }
  for (; i < n; ++i)
    to[i] = AnsiByte(from[i]);
}

inline void StoreLe64(uint8_t *at, uint64_t bits) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(at, &bits, 8);
  } else {
    for (int i = 0; i < 8; ++i)
      at[i] = static_cast<uint8_t>(bits >> (8 * i));
  }
}

inline void StoreLe32(uint8_t *at, uint32_t bits) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(at, &bits, 4);
  } else {
    for (int i = 0; i < 4; ++i)
      at[i] = static_cast<uint8_t>(bits >> (8 * i));
  }
}

class Encoder {
public:
  explicit Encoder(std::vector<uint8_t> &out) : w_(out) {}

  void Commit() { w_.Commit(); }

  void Put(const Value &v) {
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
    uint8_t *at = w_.Take(5);
    at[0] = kInt32;
    StoreLe32(at + 1, static_cast<uint32_t>(n));
  }

  void PutDouble(double d) {
    uint8_t *at = w_.Take(9);
    at[0] = kFloat64;
    StoreLe64(at + 1, std::bit_cast<uint64_t>(d));
  }

  void PutExt64(uint8_t sub_type, uint64_t bits) {
    uint8_t *at = w_.Take(10);
    at[0] = kExt;
    at[1] = sub_type;
    StoreLe64(at + 2, bits);
  }

  void PutString(std::u16string_view text) {
    const size_t n = text.size();
    uint8_t *at;
    if (n <= 0xFF) {
      at = w_.Take(2 + n);
      *at++ = kStr8;
      *at++ = static_cast<uint8_t>(n);
    } else {
      if (n > kMaxCount)
        RaiseStandard(kErrOverflow);
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
    if (count < 0 || count > kMaxCount)
      RaiseStandard(kErrOverflow);
    uint8_t *at = w_.Take(prefix.size() + 2);
    for (uint8_t b : prefix)
      *at++ = b;
    at[0] = static_cast<uint8_t>(count >> 8);
    at[1] = static_cast<uint8_t>(count);
  }

  void Enter() {
    if (++depth_ > kMaxDepth)
      RaiseStandard(kErrOutOfStack);
  }

  void PutObject(Object *object) {
    if (object == nullptr)
      RaiseUnsupported(u"Unsupported type : Nothing");
    ContainerWalk walk(*object);
    Enter();
    const std::u16string_view name = walk.type_name();
    if (walk.shape() == ContainerShape::kMap && name == u"KxDocRec") {
      PutFields({kExt, kExtRecord}, walk);
    } else if (walk.shape() == ContainerShape::kMap) {
      PutFields({kMap16}, walk);
    } else if (walk.shape() == ContainerShape::kList) {
      PutList(walk);
    } else {
      RaiseUnsupported(std::u16string(u"Unsupported type : ") +
                       std::u16string(name));
    }
    --depth_;
  }

  // Writes exactly the promised number of members: a container that shrank
  // while it was written (a foreign member may change it) raises 9, and
  // members it gained meanwhile are left out.
  void PutList(ContainerWalk &walk) {
    const int32_t count = walk.Count();
    PutHeader({kArray16}, count);
    int32_t written = 0;
    if (count > 0) {
      walk.ForEachItem<true>([&](const Value &item) {
        Put(item);
        return ++written < count;
      });
    }
    if (written < count)
      RaiseStandard(kErrSubscript);
  }

  void PutFields(std::initializer_list<uint8_t> prefix, ContainerWalk &walk) {
    const int32_t count = walk.Count();
    PutHeader(prefix, count);
    int32_t written = 0;
    if (count > 0) {
      walk.ForEachField<true>([&](std::u16string_view key, const Value &item) {
        PutString(key);
        Put(item);
        return ++written < count;
      });
    }
    if (written < count)
      RaiseStandard(kErrSubscript);
  }

  Writer w_;
  int depth_ = 0;
};

} // namespace

void EncodeTo(const Value &v, std::vector<uint8_t> &out) {
  Encoder encoder(out);
  encoder.Put(v);
  encoder.Commit();
}

std::vector<uint8_t> EncodeBytes(const Value &v) {
  std::vector<uint8_t> out;
  EncodeTo(v, out);
  return out;
}

Value Encode(const Value &value) { return MakeByteArray(EncodeBytes(value)); }

namespace {

inline char16_t AnsiUnit(uint8_t byte) {
  if (byte < 0x80 || byte >= 0xA0)
    return byte;
  return UnitFromAnsi(byte);
}

// Converts code-page bytes to units, eight ASCII bytes at a time.
void WidenText(const uint8_t *from, size_t n, char16_t *to) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t bytes;
    std::memcpy(&bytes, from + i, 8);
    if ((bytes & 0x8080808080808080u) == 0) {
      for (size_t k = i; k < i + 8; ++k)
        to[k] = from[k];
    } else {
      for (size_t k = i; k < i + 8; ++k)
        to[k] = AnsiUnit(from[k]);
    }
  }
  for (; i < n; ++i)
    to[i] = AnsiUnit(from[i]);
}

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
      if (type >= 0x10)
        text += kHex[type >> 4];
      text += kHex[type & 15];
      RaiseUnsupported(text);
    }
    }
  }

private:
  void Need(size_t n) const {
    if (size_ - pos_ < n)
      RaiseStandard(kErrSubscript);
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
      for (int i = 3; i >= 0; --i)
        n = n << 8 | data_[pos_ + i];
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
      for (int i = 7; i >= 0; --i)
        n = n << 8 | data_[pos_ + i];
    }
    pos_ += 8;
    return n;
  }

  String Text(size_t n) { return TextRef(n); }

  // Reads n text bytes and returns their String, which stays valid until
  // the next text is read. Handing out a reference lets a key go into its
  // map with one count added, not three.
  const String &TextRef(size_t n) {
    Need(n);
    const uint8_t *from = data_ + pos_;
    pos_ += n;
    if (n > kShortText) {
      scratch_text_ = Widen(from, n);
      return scratch_text_;
    }
    if (n == 0)
      return empty_text_;
    // Keys and short values repeat from record to record: share one String
    // per distinct short text instead of allocating each occurrence.
    String &cached = short_texts_[ShortTextSlot(from, n)];
    if (cached.size() != n || !SameText(cached, from, n))
      cached = Widen(from, n);
    return cached;
  }

  // Hashes a short text a word at a time.
  static size_t ShortTextSlot(const uint8_t *from, size_t n) {
    constexpr uint64_t kMul = 0x9E3779B97F4A7C15u;
    uint64_t h = n * kMul;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      uint64_t word;
      std::memcpy(&word, from + i, 8);
      h = (h ^ word) * kMul;
      h ^= h >> 29;
    }
    if (i < n) {
      uint64_t word = 0;
      std::memcpy(&word, from + i, n - i);
      h = (h ^ word) * kMul;
    }
    return static_cast<size_t>(h >> 40) & (kShortSlots - 1);
  }

  static String Widen(const uint8_t *from, size_t n) {
    return String::Build(n,
                         [from, n](char16_t *to) { WidenText(from, n, to); });
  }
  static bool SameText(const String &text, const uint8_t *from, size_t n) {
    const char16_t *units = text.data();
    for (size_t i = 0; i < n; ++i) {
      if (units[i] != AnsiUnit(from[i]))
        return false;
    }
    return true;
  }

  // Returns the next Value as a key: text is read straight into a String,
  // anything else decoded and converted (raising as the conversion does).
  // The reference is valid until the next text is read.
  const String &Key() {
    Need(1);
    if (data_[pos_] == kStr8) {
      ++pos_;
      return TextRef(Byte());
    }
    if (data_[pos_] == kStr16) {
      ++pos_;
      return TextRef(Be16());
    }
    const Value key = Get();
    scratch_text_ = key.IsString() ? key.string() : ToText(key);
    return scratch_text_;
  }

  void Enter() {
    if (++depth_ > kMaxDepth)
      RaiseStandard(kErrOutOfStack);
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
    for (uint16_t i = 0; i < n; ++i)
      list->Add(Get());
    --depth_;
    return Value(std::move(list));
  }

  void Pairs(Dictionary &into, uint16_t n) {
    Enter();
    into.Reserve(Plausible(n, 2));
    for (uint16_t i = 0; i < n; ++i) {
      // The entry is made before its value is read, while the key is at
      // hand; decoding the value never touches this map, so the slot stays
      // put. A repeated key still fails only after its value has been read,
      // so that a broken value reports its own error first.
      bool inserted = false;
      Value &slot = into.Slot(Key(), &inserted);
      if (!inserted) {
        Get();
        RaiseStandard(kErrKeyExists);
      }
      slot = Get();
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
      // Made by name: records belong to the stores, which build on this
      // codec.
      Value record = CreateObject(u"KxDocRec");
      Pairs(record.object_as<FieldMap>()->fields(), n);
      return record;
    }
    default:
      RaiseUnsupported(u"Unsupported ext sub-type: " +
                       FromUtf8(std::to_string(sub_type)));
    }
  }

  // Texts up to this many bytes are shared (as the JSON reader shares them).
  static constexpr size_t kShortText = 32;
  static constexpr size_t kShortSlots = 256;

  const uint8_t *data_;
  size_t size_;
  size_t pos_;
  int depth_ = 0;
  std::array<String, kShortSlots> short_texts_;
  String scratch_text_;
  const String empty_text_;
};

} // namespace

Value DecodeAt(std::span<const uint8_t> bytes, size_t &position) {
  if (position > bytes.size())
    RaiseStandard(kErrSubscript);
  Decoder decoder(bytes, position);
  Value v = decoder.Get();
  position = decoder.position();
  return v;
}

Value DecodeBytes(std::span<const uint8_t> bytes) {
  size_t position = 0;
  return DecodeAt(bytes, position);
}

Value Decode(const Value &bytes) {
  return DecodeBytes(codecs_internal::BytesFromIndexZero(bytes));
}

Value DecodeAt(const Value &bytes, int32_t &position) {
  std::span<const uint8_t> data = codecs_internal::BytesFromIndexZero(bytes);
  if (position < 0)
    RaiseStandard(kErrSubscript);
  size_t at = static_cast<size_t>(position);
  Value v = DecodeAt(data, at);
  position = static_cast<int32_t>(at);
  return v;
}

} // namespace quorvel::mMsgPack
