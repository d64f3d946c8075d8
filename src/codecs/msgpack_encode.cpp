// The MessagePack encoder: one Value, walked with ContainerWalk, into the
// dialect's bytes.
#include <bit>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codecs/msgpack_format.h"
#include "codecs/msgpack_writer.h"
#include "collections/container_walk.h"
#include "quorvel/codepage.h"
#include "quorvel/convert.h"
#include "quorvel/decimal.h"
#include "quorvel/msgpack.h"
#include "quorvel/storable.h"

namespace quorvel::mMsgPack {

namespace {

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

// Returns the Currency of a Decimal as Decimal::ToCurrency does, without
// the call for what the readers make most: a short magnitude with at most
// four places, which scales up exactly.
inline int64_t CurrencyOf(const Decimal& d) {
  static constexpr uint64_t kUp[] = {10000, 1000, 100, 10, 1};
  if (d.hi() != 0 || d.scale() > 4 || d.lo() >= uint64_t{1} << 49)
    return d.ToCurrency();
  const int64_t m = static_cast<int64_t>(d.lo() * kUp[d.scale()]);
  return d.negative() ? -m : m;
}

#if defined(__SSE2__)
// Writes the bytes of the `count` (4 or 8) units at `from`, when each is
// its own byte: below 0x80 or from 0xA0 to 0xFF. Returns false, writing
// nothing, otherwise.
template <int count>
inline bool NarrowUnits(const char16_t* from, uint8_t* to) {
  const __m128i units =
      count == 8 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(from))
                 : _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from));
  const __m128i zero = _mm_setzero_si128();
  const __m128i wide =
      _mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(-0x100)), zero);
  const __m128i mapped = _mm_cmpeq_epi16(
      _mm_and_si128(units, _mm_set1_epi16(0xE0)), _mm_set1_epi16(0x80));
  const int own = _mm_movemask_epi8(_mm_andnot_si128(mapped, wide));
  if ((own & ((1 << (2 * count)) - 1)) != (1 << (2 * count)) - 1) return false;
  const __m128i bytes = _mm_packus_epi16(units, units);
  if constexpr (count == 8) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to), bytes);
  } else {
    const int32_t four = _mm_cvtsi128_si32(bytes);
    std::memcpy(to, &four, 4);
  }
  return true;
}
#endif

// Narrows text inline, eight or four units a step, while each unit is its
// own byte; the steps overlap rather than run past either end. Anything
// else goes through NarrowToAnsi, whose call costs more than a short text.
inline void Narrow(std::u16string_view text, uint8_t* to) {
#if defined(__SSE2__)
  const size_t n = text.size();
  const char16_t* from = text.data();
  if (n >= 8) {
    size_t i = 0;
    while (i + 8 < n && NarrowUnits<8>(from + i, to + i)) i += 8;
    if (i + 8 >= n && NarrowUnits<8>(from + n - 8, to + n - 8)) return;
  } else if (n >= 4) {
    if (NarrowUnits<4>(from, to) && NarrowUnits<4>(from + n - 4, to + n - 4))
      return;
  } else {
    char16_t any = 0;
    for (size_t i = 0; i < n; ++i) any |= from[i];
    if (any < 0x80) {
      for (size_t i = 0; i < n; ++i) to[i] = static_cast<uint8_t>(from[i]);
      return;
    }
  }
#endif
  NarrowToAnsi(text, to);
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
        return PutExt64(kExtCurrency,
                        static_cast<uint64_t>(CurrencyOf(v.decimal())));
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
      if (n > kMaxCount) RaiseCountOverflow(u"a string", n);
      at = w_.Take(3 + n);
      *at++ = kStr16;
      *at++ = static_cast<uint8_t>(n >> 8);
      *at++ = static_cast<uint8_t>(n);
    }
    Narrow(text, at);
  }

  // Writes a container header: `prefix` (one or two bytes), then the count,
  // big-endian. Raises 6 for a count that two bytes cannot hold.
  void PutHeader(std::initializer_list<uint8_t> prefix, int64_t count) {
    if (count < 0 || count > kMaxCount)
      RaiseCountOverflow(u"a container", count);
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
    ContainerWalk walk(*object);
    Enter();
    const std::u16string_view name = walk.type_name();
    if (walk.shape() == ContainerShape::kMap && name == kRecordName) {
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
  void PutList(ContainerWalk& walk) {
    const int32_t count = walk.Count();
    PutHeader({kArray16}, count);
    int32_t written = 0;
    if (count > 0) {
      walk.ForEachItem<true, true>([&](const Value& item) {
        Put(item);
        return ++written < count;
      });
    }
    if (written < count) RaiseStandard(kErrSubscript);
  }

  void PutFields(std::initializer_list<uint8_t> prefix, ContainerWalk& walk) {
    const int32_t count = walk.Count();
    PutHeader(prefix, count);
    int32_t written = 0;
    if (count > 0) {
      walk.ForEachField<true>([&](std::u16string_view key, const Value& item) {
        PutString(key);
        Put(item);
        return ++written < count;
      });
    }
    if (written < count) RaiseStandard(kErrSubscript);
  }

  Writer w_;
  int depth_ = 0;
};

}  // namespace

void EncodeTo(const Value& v, std::vector<uint8_t>& out,
              const EncodeOptions& options) {
  if (options.exact) RequireStorable(v, StorableTarget::kMsgPack, {});
  Encoder encoder(out);
  encoder.Put(v);
  encoder.Commit();
}

void EncodeTo(const Value& v, std::vector<uint8_t>& out) {
  EncodeTo(v, out, EncodeOptions{.exact = ExactScope::Active()});
}

std::vector<uint8_t> EncodeBytes(const Value& v, const EncodeOptions& options) {
  std::vector<uint8_t> out;
  EncodeTo(v, out, options);
  return out;
}

std::vector<uint8_t> EncodeBytes(const Value& v) {
  return EncodeBytes(v, EncodeOptions{.exact = ExactScope::Active()});
}

Value Encode(const Value& value) { return MakeByteArray(EncodeBytes(value)); }

}  // namespace quorvel::mMsgPack
