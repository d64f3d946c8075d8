#include "quorvel/msgpack.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// most common text, go eight (or four) units at a time.
void NarrowText(std::u16string_view text, uint8_t* to) {
  const char16_t* from = text.data();
  const size_t n = text.size();
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 8 <= n; i += 8) {
    const __m128i units =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
    const __m128i high = _mm_and_si128(units, _mm_set1_epi16(-0x80));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) ==
        0xFFFF) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(to + i),
                       _mm_packus_epi16(units, units));
    } else {
      for (size_t k = i; k < i + 8; ++k) to[k] = AnsiByte(from[k]);
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

// The library's own containers, told apart without a string comparison in
// the usual case.
enum class OwnClass { kDictionary, kRecord, kList, kOther };

OwnClass OwnClassOf(const Object& object) {
  const std::type_info& type = typeid(object);
  // Within one binary a class has one type_info; comparing the names'
  // addresses settles the common case before the full comparison, which
  // compares the names' text whenever the types differ.
  const char* name = type.name();
  if (name == typeid(Dictionary).name()) return OwnClass::kDictionary;
  if (name == typeid(CArray).name()) return OwnClass::kList;
  if (name == typeid(KxDocRec).name()) return OwnClass::kRecord;
  if (type == typeid(Dictionary)) return OwnClass::kDictionary;
  if (type == typeid(KxDocRec)) return OwnClass::kRecord;
  if (type == typeid(CArray)) return OwnClass::kList;
  return OwnClass::kOther;
}

// A big tree lies far outside the caches, and an encoder that walks it one
// member at a time waits for memory at every object, entry array and text.
// The list walk therefore has the members it will reach soon fetched in
// stages, a few members ahead: first the member's own block, then (once that
// has arrived) its entry or element array, then the blocks its entries
// refer to, then their arrays. Each stage reads only what the one before
// fetched, so the fetches of several members overlap instead of queueing.
// Prefetching never changes what is written; a wrong guess costs only time.

// Asks for the heap block of a String or Object Value. The payload pointer
// is read from its fixed place in the Value (after the kind, scale, sign
// and high word) without touching the block.
inline void PrefetchPayload(const Value& v) {
  static_assert(sizeof(Value) == 16);
  if (!v.IsString() && !v.IsObject()) return;
  uintptr_t block;
  std::memcpy(&block, reinterpret_cast<const unsigned char*>(&v) + 8,
              sizeof block);
  if (block == 0) return;  // Nothing
  __builtin_prefetch(reinterpret_cast<const void*>(block));
  // A map's counts lie past its first cache line; for a smaller object this
  // fetches a neighbour, which is harmless.
  if (v.IsObject())
    __builtin_prefetch(reinterpret_cast<const void*>(block + 64));
}

// Returns the entries of one of the library's maps, or null.
inline const Dictionary* FieldsOf(const Value& v) {
  if (!v.IsObject() || v.object() == nullptr) return nullptr;
  const Object& object = *v.object();
  switch (OwnClassOf(object)) {
    case OwnClass::kDictionary:
      return static_cast<const Dictionary*>(&object);
    case OwnClass::kRecord:
      return &static_cast<const KxDocRec&>(object).fields();
    default:
      return nullptr;
  }
}

inline const CArray* ListOf(const Value& v) {
  if (!v.IsObject() || v.object() == nullptr) return nullptr;
  if (OwnClassOf(*v.object()) != OwnClass::kList) return nullptr;
  return static_cast<const CArray*>(v.object());
}

inline void PrefetchRange(const void* from, size_t bytes) {
  const auto* at = static_cast<const unsigned char*>(from);
  for (size_t k = 0; k < bytes; k += 64) __builtin_prefetch(at + k);
}

// Asks for the entry or element array of a container whose block is in the
// cache; only the first few cache lines, enough for a record.
inline void PrefetchStorage(const Value& v) {
  constexpr size_t kMostBytes = 512;
  if (const CArray* list = ListOf(v)) {
    const size_t bytes = sizeof(Value) * static_cast<size_t>(list->Count());
    PrefetchRange(list->begin(), std::min(kMostBytes, bytes));
  } else if (const Dictionary* fields = FieldsOf(v)) {
    // Without removed entries (the usual case) the live ones are all of
    // them, and end() locates the array without reading it.
    const size_t n = static_cast<size_t>(fields->Count());
    const Dictionary::Entry* end = fields->end().operator->();
    PrefetchRange(end - n, std::min(kMostBytes, sizeof(Dictionary::Entry) * n));
  }
}

// Calls `each` for the first members of a container whose array is in the
// cache, a record's worth of them.
template <class Each>
inline void ForFirstMembers(const Value& v, Each&& each) {
  constexpr int32_t kMostMembers = 16;
  if (const CArray* list = ListOf(v)) {
    const int32_t n = std::min(list->Count(), kMostMembers);
    for (int32_t i = 0; i < n; ++i) each(list->begin()[i]);
  } else if (const Dictionary* fields = FieldsOf(v)) {
    int32_t seen = 0;
    for (const Dictionary::Entry& e : *fields) {
      if (++seen > kMostMembers) break;
      __builtin_prefetch(e.key.rep());
      each(e.value);
    }
  }
}

[[noreturn]] void RaiseUnsupported(std::u16string_view description) {
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
  explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Returns room for `n` bytes, which the caller must fill.
  uint8_t* Take(size_t n) {
    if (static_cast<size_t>(end_ - at_) < n) NextChunk(n);
    uint8_t* taken = at_;
    at_ += n;
    return taken;
  }
  void Byte(uint8_t b) { *Take(1) = b; }

  // Appends everything written to the output vector. Reserving and then
  // appending, rather than resizing and then copying, spares zero-filling
  // bytes that are overwritten at once.
  void Commit() {
    size_t total = static_cast<size_t>(at_ - chunk_start_);
    for (const Chunk& c : full_) total += c.used;
    const size_t need = out_.size() + total;
    // Appending to a vector that already holds something grows it
    // geometrically, so that repeated appends stay linear.
    if (need > out_.capacity())
      out_.reserve(out_.empty() ? need : std::max(need, 2 * out_.capacity()));
    for (const Chunk& c : full_)
      out_.insert(out_.end(), c.data, c.data + c.used);
    out_.insert(out_.end(), chunk_start_, at_);
  }

 private:
  static constexpr size_t kInline = 2048;
  static constexpr size_t kFirstChunk = 16 << 10;
  // Larger buffers would come straight from the system, fresh pages and
  // all, on every call.
  static constexpr size_t kLargestChunk = 64 << 10;

  struct Chunk {
    const uint8_t* data;
    size_t used;
  };

  void NextChunk(size_t n) {
    const size_t size = std::max(n, next_size_);
    next_size_ = std::min(next_size_ * 2, kLargestChunk);
    std::unique_ptr<uint8_t[]> block(new uint8_t[size]);
    full_.push_back({chunk_start_, static_cast<size_t>(at_ - chunk_start_)});
    owned_.push_back(std::move(block));
    chunk_start_ = at_ = owned_.back().get();
    end_ = at_ + size;
  }

  std::vector<uint8_t>& out_;
  uint8_t inline_[kInline];
  uint8_t* chunk_start_ = inline_;
  uint8_t* at_ = inline_;
  uint8_t* end_ = inline_ + kInline;
  size_t next_size_ = kFirstChunk;
  std::vector<Chunk> full_;  // in order, before the one being written
  std::vector<std::unique_ptr<uint8_t[]>> owned_;
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

class Encoder {
 public:
  explicit Encoder(std::vector<uint8_t>& out) : w_(out) {}

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
    // Held while it is written: a foreign member called meanwhile may drop
    // the last other reference to it.
    const Ref<Object> hold(object);
    // The library's own containers are walked directly; anything else that
    // calls itself by one of their names is walked through its members.
    Enter();
    switch (OwnClassOf(*object)) {
      case OwnClass::kDictionary:
        PutFields({kMap16}, static_cast<const Dictionary&>(*object));
        break;
      case OwnClass::kRecord:
        PutFields({kExt, kExtRecord},
                  static_cast<const KxDocRec&>(*object).fields());
        break;
      case OwnClass::kList:
        PutList(static_cast<const CArray&>(*object));
        break;
      case OwnClass::kOther: {
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
    }
    --depth_;
  }

  void PutList(const CArray& list) {
    const int32_t n = list.Count();
    PutHeader({kArray16}, n);
    // The fetch stages, by their distance ahead of the member being
    // written: two members' time between stages lets each fetch arrive.
    constexpr int32_t kBlock = 8;
    constexpr int32_t kStorage = 6;
    constexpr int32_t kMembers = 4;
    constexpr int32_t kMemberStorage = 2;
    const auto stage = [&list](int32_t at, int32_t distance) {
      const Value& v = list.begin()[at];
      switch (distance) {
        case kBlock:
          return PrefetchPayload(v);
        case kStorage:
          return PrefetchStorage(v);
        case kMembers:
          return ForFirstMembers(v, PrefetchPayload);
        default:
          return ForFirstMembers(v, PrefetchStorage);
      }
    };
    for (int32_t distance : {kBlock, kStorage, kMembers, kMemberStorage}) {
      for (int32_t i = 0; i < std::min(n, distance); ++i) stage(i, distance);
    }
    for (int32_t i = 0; i < n; ++i) {
      // Members of foreign containers may have shrunk the list meanwhile.
      const int32_t count = list.Count();
      for (int32_t distance : {kBlock, kStorage, kMembers, kMemberStorage}) {
        if (i + distance < count) stage(i + distance, distance);
      }
      Put(list.Item(i));
    }
  }

  void PutFields(std::initializer_list<uint8_t> prefix, const Dictionary& d) {
    const int32_t count = d.Count();
    PutHeader(prefix, count);
    for (const Dictionary::Entry& e : d) {
      __builtin_prefetch(e.key.rep());
      PrefetchPayload(e.value);
    }
    // By index, the entries taken afresh each time: a foreign member called
    // while a value is written may change this map. Exactly the promised
    // number of entries is written; a map that shrank meanwhile raises 9.
    int32_t written = 0;
    for (size_t i = 0; written < count; ++i) {
      const std::span<const Dictionary::Entry> all = d.entries();
      if (i >= all.size()) RaiseStandard(kErrSubscript);
      const Dictionary::Entry& e = all[i];
      if (!e.live) continue;
      PutString(e.key);
      Put(e.value);
      ++written;
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

  String Text(size_t n) { return TextRef(n); }

  // Reads n text bytes and returns their String, which stays valid until
  // the next text is read. Handing out a reference lets a key go into its
  // map with one count added, not three.
  const String& TextRef(size_t n) {
    Need(n);
    const uint8_t* from = data_ + pos_;
    pos_ += n;
    if (n > kShortText) {
      scratch_text_ = Widen(from, n);
      return scratch_text_;
    }
    if (n == 0) return empty_text_;
    // Keys and short values repeat from record to record: share one String
    // per distinct short text instead of allocating each occurrence.
    String& cached = short_texts_[ShortTextSlot(from, n)];
    if (cached.size() != n || !SameText(cached, from, n))
      cached = Widen(from, n);
    return cached;
  }

  // Hashes a short text a word at a time.
  static size_t ShortTextSlot(const uint8_t* from, size_t n) {
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
  // The reference is valid until the next text is read.
  const String& Key() {
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
      // The entry is made before its value is read, while the key is at
      // hand; decoding the value never touches this map, so the slot stays
      // put. A repeated key still fails only after its value has been read,
      // so that a broken value reports its own error first.
      bool inserted = false;
      Value& slot = into.Slot(Key(), &inserted);
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
        Ref<KxDocRec> record = KxDocRec::Create();
        Pairs(record->fields(), n);
        return Value(std::move(record));
      }
      default:
        RaiseUnsupported(u"Unsupported ext sub-type: " +
                         FromUtf8(std::to_string(sub_type)));
    }
  }

  // Texts up to this many bytes are shared (as the JSON reader shares them).
  static constexpr size_t kShortText = 32;
  static constexpr size_t kShortSlots = 256;

  const uint8_t* data_;
  size_t size_;
  size_t pos_;
  int depth_ = 0;
  std::array<String, kShortSlots> short_texts_;
  String scratch_text_;
  const String empty_text_;
};

}  // namespace

void EncodeTo(const Value& v, std::vector<uint8_t>& out) {
  Encoder encoder(out);
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
