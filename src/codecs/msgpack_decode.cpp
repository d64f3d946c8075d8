// The MessagePack decoder: the dialect's bytes back into one Value.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>
#include <utility>

#include "codecs/byte_input.h"
#include "codecs/msgpack_format.h"
#include "core/bulk_scope.h"
#include "core/std_exceptions.h"
#include "quorvel/carray.h"
#include "quorvel/codepage.h"
#include "quorvel/convert.h"
#include "quorvel/dictionary.h"
#include "quorvel/dispatch.h"
#include "quorvel/msgpack.h"

namespace quorvel::mMsgPack {

namespace {

inline char16_t AnsiUnit(uint8_t byte) {
  if (byte < 0x80 || byte >= 0xA0) return byte;
  return UnitFromAnsi(byte);
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
        return Value(static_cast<int32_t>(Le<uint32_t>()));
      case kFloat64:
        return Value(std::bit_cast<double>(Le<uint64_t>()));
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
  // Reads a little-endian number of T's size.
  template <class T>
  T Le() {
    Need(sizeof(T));
    T n;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(&n, data_ + pos_, sizeof(T));
    } else {
      n = 0;
      for (int i = sizeof(T) - 1; i >= 0; --i) n = n << 8 | data_[pos_ + i];
    }
    pos_ += sizeof(T);
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
    // A small map that starts empty and matches keys exactly is checked for
    // repeats here, by comparing with the keys before, so that it need not
    // index its keys while it fills.
    if (n <= kScannedPairs && into.Count() == 0 && into.CompareMode() == 0) {
      for (uint16_t i = 0; i < n; ++i) {
        const String& key = Key();
        for (const Dictionary::Entry& e : into) {
          if (e.key == key) {
            Get();
            RaiseStandard(kErrKeyExists);
          }
        }
        Value& slot = into.AppendDistinct(key, Value());
        slot = Get();
      }
      --depth_;
      return;
    }
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
        const Value date = Value::Date(std::bit_cast<double>(Le<uint64_t>()));
        return Value::Date(ToDate(date));
      }
      case kExtCurrency:
        return Value::Currency(static_cast<int64_t>(Le<uint64_t>()));
      case kExtRecord: {
        const uint16_t n = Be16();
        // Made by name: records belong to the stores, which build on this
        // codec. The maker is looked up once; a store's search decodes a
        // record per document.
        static const ObjectMaker make_record = FindObjectMaker(u"KxDocRec");
        if (make_record == nullptr) RaiseStandard(kErrCantCreateObject);
        Value record(make_record());
        Pairs(record.object_as<FieldMap>()->fields(), n);
        return record;
      }
      default:
        RaiseUnsupported(u"Unsupported ext sub-type: " +
                         FromUtf8(std::to_string(sub_type)));
    }
  }

  // Maps of up to this many pairs look for a repeated key by scanning.
  static constexpr uint16_t kScannedPairs = 16;
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

Value DecodeAt(std::span<const uint8_t> bytes, size_t& position) {
  if (position > bytes.size()) RaiseStandard(kErrSubscript);
  Decoder decoder(bytes, position);
  quorvel::internal::BulkScope bulk(bytes.size() - position);
  Value v = quorvel::internal::TranslateStdExceptions(
      [&decoder] { return decoder.Get(); });
  position = decoder.position();
  return v;
}

Value DecodeBytes(std::span<const uint8_t> bytes) {
  size_t position = 0;
  return DecodeAt(bytes, position);
}

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
