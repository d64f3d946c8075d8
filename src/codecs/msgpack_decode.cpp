// The MessagePack decoder: the dialect's bytes back into one Value.
#include <algorithm>
#include <array>
#include <atomic>
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

// Counts of Strings made by one decode, which no other thread can see
// before it returns (see ShortTexts).
void AddCounts(internal::StringRep* rep, int32_t n) {
  rep->refs.store(rep->refs.load(std::memory_order_relaxed) + n,
                  std::memory_order_relaxed);
}
void Drop(internal::StringRep* rep) {
  if (rep->refs.load(std::memory_order_relaxed) == 1) {
    internal::ReleaseString(rep);
  } else {
    AddCounts(rep, -1);
  }
}

// The String of each distinct short text of one decode, shared by all its
// occurrences: keys and many values repeat from record to record.
//
// A slot keeps its text's bytes, so that a lookup compares a few words.
// Slots are direct-mapped by a hash of the bytes, so equal texts always
// meet in the same slot. A slot whose text came again holds a count on its
// String, so that the String outlives whatever the decode releases
// meanwhile. Before that, the String's one holder is the tree: texts met
// once (names, ids) are then replaced without a look at their blocks, long
// out of the cache. The decode drops a part of the tree only where it then
// fails, which ends the slots' use, or after calling `OwnAll`.
//
// Every String here is made by this decode, and no other thread can see
// one before the decode returns; so their counts change by plain loads and
// stores. An atomic step would also wait until every store before it (the
// tree being written, much of it to memory not yet cached) is done.
class ShortTexts {
 public:
  static constexpr size_t kMaxLength = 32;
  static constexpr uint32_t kSlots = 256;

  ShortTexts() = default;
  ShortTexts(const ShortTexts&) = delete;
  ShortTexts& operator=(const ShortTexts&) = delete;
  ~ShortTexts() {
    // Slot by slot in use only: a small decode uses few.
    for (uint32_t word = 0; word < used_.size(); ++word) {
      for (uint64_t bits = used_[word]; bits != 0; bits &= bits - 1) {
        const Slot& s = slots_[word * 64 + std::countr_zero(bits)];
        if (s.owned) Drop(s.rep);
      }
    }
  }

  // Returns the String of the `n` bytes (1 to kMaxLength) at `from` and
  // sets `slot` to where it is kept. The input must hold them; it is read
  // ahead of them, up to `end`, to take them a word at a time.
  String Get(const uint8_t* from, size_t n, const uint8_t* end,
             uint32_t& slot) {
    Words words;
    const size_t count = Load(from, n, end, words);
    uint64_t h = n * kMul;
    for (size_t k = 0; k < count; ++k) h = (h ^ words[k]) * kMul;
    slot = static_cast<uint32_t>(h >> 56);
    Slot& s = slots_[slot];
    if (Used(slot) && s.length == n && Same(words, s.words, count)) {
      AddCounts(s.rep, s.owned ? 1 : 2);
      s.owned = true;
      return String::Adopt(s.rep);
    }
    String text =
        String::Build(n, [from, n](char16_t* to) { WidenText(from, n, to); });
    if (!Used(slot)) {
      used_[slot / 64] |= uint64_t{1} << (slot % 64);
    } else if (s.owned) {
      Drop(s.rep);
    }
    s.words = words;
    s.length = static_cast<uint32_t>(n);
    s.rep = text.rep();
    s.owned = false;
    return text;
  }

  // Takes a count for every slot that holds none, before the decode drops
  // a part of the tree and goes on.
  void OwnAll() {
    for (uint32_t i = 0; i < kSlots; ++i) {
      if (Used(i) && !slots_[i].owned) {
        AddCounts(slots_[i].rep, 1);
        slots_[i].owned = true;
      }
    }
  }

 private:
  using Words = std::array<uint64_t, kMaxLength / 8>;
  static constexpr uint64_t kMul = 0x9E3779B97F4A7C15u;

  struct Slot {
    Words words;  // the text's bytes as Load reads them
    internal::StringRep* rep;
    uint32_t length;
    bool owned;  // whether the slot holds a count on `rep`
  };

  // Compares the first `count` words; std::equal would call memcmp.
  static bool Same(const Words& a, const Words& b, size_t count) {
    uint64_t differ = 0;
    for (size_t k = 0; k < count; ++k) differ |= a[k] ^ b[k];
    return differ == 0;
  }

  bool Used(uint32_t slot) const {
    return (used_[slot / 64] >> (slot % 64) & 1) != 0;
  }

  // Reads the n bytes at `from` into the first words of `words`, the last
  // of them zero past the text, and returns how many words they fill. Where
  // the input goes on far enough, whole words are read and the last one
  // masked; copying n bytes into a cleared buffer would cost more, and
  // reading its words back before the copy settles would stall.
  static size_t Load(const uint8_t* from, size_t n, const uint8_t* end,
                     Words& words) {
    const size_t count = (n + 7) / 8;
    if (static_cast<size_t>(end - from) >= kMaxLength) {
      std::memcpy(words.data(), from, kMaxLength);
    } else {
      words = {};
      std::memcpy(words.data(), from, n);
    }
    if (const size_t tail = n % 8; tail != 0) {
      const uint64_t keep = std::endian::native == std::endian::little
                                ? ~uint64_t{0} >> (64 - 8 * tail)
                                : ~uint64_t{0} << (64 - 8 * tail);
      words[count - 1] &= keep;
    }
    return count;
  }

  // Which slots hold a text; the slots themselves start uninitialized, so
  // that a small decode does not pay for clearing them all.
  std::array<uint64_t, kSlots / 64> used_ = {};
  std::array<Slot, kSlots> slots_;
};

// The key each place of a map held last time, by depth: maps of one kind
// of record repeat their keys in the same order, so the next key's bytes
// are compared with those and its String shared with no hashing. Each
// place holds a count on its String and points at the key's bytes in the
// input, which outlives the decode.
class ExpectedKeys {
 public:
  static constexpr int kDepths = 8;
  static constexpr uint16_t kPlaces = 16;
  struct Key {
    const uint8_t* bytes;
    internal::StringRep* rep;
    uint32_t length;
    uint32_t slot;  // the text's slot in ShortTexts
  };

  ExpectedKeys() = default;
  ExpectedKeys(const ExpectedKeys&) = delete;
  ExpectedKeys& operator=(const ExpectedKeys&) = delete;
  ~ExpectedKeys() {
    for (int d = 0; d < kDepths; ++d) {
      for (uint32_t bits = used_[d]; bits != 0; bits &= bits - 1)
        Drop(keys_[d][std::countr_zero(bits)].rep);
    }
  }

  // The key place `i` of a map at `depth` expects, or null.
  const Key* Find(int depth, uint16_t i) const {
    if (depth >= kDepths || i >= kPlaces || (used_[depth] >> i & 1) == 0)
      return nullptr;
    return &keys_[depth][i];
  }
  // Makes `key`, read from `bytes`, the one the place expects.
  void Set(int depth, uint16_t i, const uint8_t* bytes, const String& key,
           uint32_t slot) {
    if (depth >= kDepths || i >= kPlaces) return;
    Key& k = keys_[depth][i];
    if ((used_[depth] >> i & 1) != 0) Drop(k.rep);
    used_[depth] |= static_cast<uint16_t>(1u << i);
    k = {bytes, key.rep(), static_cast<uint32_t>(key.size()), slot};
    AddCounts(k.rep, 1);
  }

  // Whether the `n` bytes at `a` and at `b` agree; both must be readable
  // to ShortTexts::kMaxLength bytes.
  static bool Same(const uint8_t* a, const uint8_t* b, size_t n) {
    for (; n >= 8; n -= 8, a += 8, b += 8) {
      uint64_t wa, wb;
      std::memcpy(&wa, a, 8);
      std::memcpy(&wb, b, 8);
      if (wa != wb) return false;
    }
    if (n == 0) return true;
    uint64_t wa, wb;
    std::memcpy(&wa, a, 8);
    std::memcpy(&wb, b, 8);
    const uint64_t keep = std::endian::native == std::endian::little
                              ? ~uint64_t{0} >> (64 - 8 * n)
                              : ~uint64_t{0} << (64 - 8 * n);
    return ((wa ^ wb) & keep) == 0;
  }

 private:
  // Which places hold a key; the places start uninitialized, so that a
  // small decode (a store decodes one per record) does not clear them all.
  std::array<uint16_t, kDepths> used_ = {};
  Key keys_[kDepths][kPlaces];
};

class Decoder {
 public:
  Decoder(std::span<const uint8_t> bytes, size_t position)
      : begin_(bytes.data()),
        at_(bytes.data() + position),
        end_(bytes.data() + bytes.size()) {}

  size_t position() const { return static_cast<size_t>(at_ - begin_); }

  Value Get() {
    Value v;
    Read(v);
    return v;
  }

 private:
  // The slot of a text that is not shared: empty, long, or a key converted
  // from another kind.
  static constexpr uint32_t kNoSlot = ShortTexts::kSlots;

  void Need(size_t n) const {
    if (static_cast<size_t>(end_ - at_) < n) [[unlikely]]
      RaiseStandard(kErrSubscript);
  }
  uint8_t Byte() {
    Need(1);
    return *at_++;
  }
  uint16_t Be16() {
    Need(2);
    const uint16_t n = static_cast<uint16_t>(at_[0] << 8 | at_[1]);
    at_ += 2;
    return n;
  }
  // Reads a little-endian number of T's size.
  template <class T>
  T Le() {
    Need(sizeof(T));
    T n;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(&n, at_, sizeof(T));
    } else {
      n = 0;
      for (int i = sizeof(T) - 1; i >= 0; --i) n = n << 8 | at_[i];
    }
    at_ += sizeof(T);
    return n;
  }

  // Reads the next Value into `out`, which is Empty: straight into its
  // place in a container, with no Value moved on the way.
  void Read(Value& out) {
    const uint8_t type = Byte();
    switch (type) {
      case kNil:
        out = Value::Null();
        return;
      case kFalse:
        out = Value(false);
        return;
      case kTrue:
        out = Value(true);
        return;
      case kInt32:
        out = Value(static_cast<int32_t>(Le<uint32_t>()));
        return;
      case kFloat64:
        out = Value(std::bit_cast<double>(Le<uint64_t>()));
        return;
      case kStr8:
        out = Value(Text(Byte()));
        return;
      case kStr16:
        out = Value(Text(Be16()));
        return;
      case kArray16:
        out = List(Be16());
        return;
      case kMap16: {
        const uint16_t n = Be16();
        Ref<Dictionary> map = Dictionary::Create();
        Pairs(*map, n);
        out = Value(std::move(map));
        return;
      }
      case kExt:
        out = Extension(Byte());
        return;
      default: {
        static constexpr char16_t kHex[] = u"0123456789ABCDEF";
        std::u16string text = u"Unsupported MsgPack type: ";
        if (type >= 0x10) text += kHex[type >> 4];
        text += kHex[type & 15];
        RaiseUnsupported(text);
      }
    }
  }

  // Reads n text bytes; sets `slot` to where a short text is shared, or to
  // kNoSlot.
  String Text(size_t n, uint32_t& slot) {
    Need(n);
    const uint8_t* from = at_;
    at_ += n;
    slot = kNoSlot;
    if (n == 0) return String();
    if (n > ShortTexts::kMaxLength) return FromAnsi({from, n});
    return texts_.Get(from, n, end_, slot);
  }
  String Text(size_t n) {
    uint32_t slot;
    return Text(n, slot);
  }

  // Returns the next Value as a key: text is read straight into a String,
  // anything else decoded and converted (raising as the conversion does).
  // Sets `slot` as Text does.
  String Key(uint32_t& slot) {
    Need(1);
    if (*at_ == kStr8) {
      ++at_;
      return Text(Byte(), slot);
    }
    if (*at_ == kStr16) {
      ++at_;
      return Text(Be16(), slot);
    }
    slot = kNoSlot;
    const Value key = Get();
    String text = ToText(key);
    // An object key is dropped here, with any texts inside it.
    if (key.IsObject()) texts_.OwnAll();
    return text;
  }

  // Key, for place `i` of a map at this depth: the key the place held last
  // time when the bytes agree, else Key's, which the place then expects.
  String ExpectedKey(uint16_t i, uint32_t& slot) {
    const ExpectedKeys::Key* k = expected_.Find(depth_, i);
    if (k != nullptr &&
        end_ - at_ >= 2 + static_cast<ptrdiff_t>(ShortTexts::kMaxLength) &&
        at_[0] == kStr8 && at_[1] == k->length &&
        ExpectedKeys::Same(at_ + 2, k->bytes, k->length)) {
      at_ += 2 + k->length;
      slot = k->slot;
      AddCounts(k->rep, 1);
      return String::Adopt(k->rep);
    }
    String key = Key(slot);
    if (slot != kNoSlot) expected_.Set(depth_, i, at_ - key.size(), key, slot);
    return key;
  }

  void Enter() {
    if (++depth_ > kMaxDepth) RaiseStandard(kErrOutOfStack);
  }

  // Each member takes at least one byte, so no more room is reserved than
  // the input could fill: a forged count cannot make a short input costly.
  size_t Plausible(size_t count, size_t bytes_per_member) const {
    return std::min(count, static_cast<size_t>(end_ - at_) / bytes_per_member);
  }

  Value List(uint16_t n) {
    Enter();
    Ref<CArray> list = CArray::Create();
    list->ReserveExact(static_cast<int32_t>(Plausible(n, 1)));
    for (uint16_t i = 0; i < n; ++i) list->Add(Get());
    --depth_;
    return Value(std::move(list));
  }

  void Pairs(Dictionary& into, uint16_t n) {
    Enter();
    into.Reserve(Plausible(n, 2));
    // A small map that starts empty and matches keys exactly is checked for
    // repeats here, so that it need not index its keys while it fills. Keys
    // kept in different slots differ, so only a key whose slot an earlier
    // key took, or that has none, is compared with the keys before.
    if (n <= kScannedPairs && into.Count() == 0 && into.CompareMode() == 0) {
      std::array<uint64_t, ShortTexts::kSlots / 64> taken = {};
      bool unslotted = false;
      for (uint16_t i = 0; i < n; ++i) {
        uint32_t slot;
        String key = ExpectedKey(i, slot);
        bool compare = unslotted;
        if (slot == kNoSlot) {
          compare = unslotted = true;
        } else {
          const uint64_t bit = uint64_t{1} << (slot % 64);
          compare |= (taken[slot / 64] & bit) != 0;
          taken[slot / 64] |= bit;
        }
        if (compare) {
          for (const Dictionary::Entry& e : into) {
            if (e.key == key) {
              Get();
              RaiseStandard(kErrKeyExists);
            }
          }
        }
        Read(into.AppendDistinctEmpty(std::move(key)));
      }
      --depth_;
      return;
    }
    for (uint16_t i = 0; i < n; ++i) {
      // The entry is made before its value is read, while the key is at
      // hand; decoding the value never touches this map, so the slot stays
      // put. A repeated key still fails only after its value has been read,
      // so that a broken value reports its own error first.
      uint32_t slot;
      bool inserted = false;
      const String key = Key(slot);
      Value& value = into.Slot(key, &inserted);
      if (!inserted) {
        Get();
        RaiseStandard(kErrKeyExists);
      }
      Read(value);
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

  // Maps of up to this many pairs look for a repeated key themselves.
  static constexpr uint16_t kScannedPairs = 16;

  const uint8_t* begin_;
  const uint8_t* at_;
  const uint8_t* end_;
  int depth_ = 0;
  ShortTexts texts_;
  ExpectedKeys expected_;
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
