// Random Values of every kind, to compare what the storability check says
// with what a codec or store gives back, and what "came back" means.
#ifndef QUORVEL_TESTS_TESTING_STORED_VALUES_H_
#define QUORVEL_TESTS_TESTING_STORED_VALUES_H_

#include <bit>
#include <cstdint>
#include <random>
#include <string>

#include "quorvel/quorvel.h"

namespace quorvel::testing {

// Values of every kind, out of range and unstorable ones too.
class RandomValues {
 public:
  explicit RandomValues(uint32_t seed) : rng_(seed) {}

  uint32_t Below(uint32_t n) {
    return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_);
  }
  uint64_t Bits() { return (uint64_t{rng_()} << 32) | rng_(); }
  uint8_t Byte() { return static_cast<uint8_t>(Below(256)); }

  std::u16string Text() {
    if (Below(3000) == 0) return std::u16string(65535 + Below(2), u'x');
    std::u16string s;
    const uint32_t style = Below(4);
    for (uint32_t n = Below(8); n > 0; --n) {
      switch (style) {
        case 0:
          s += static_cast<char16_t>(0x20 + Below(0x5F));
          break;
        case 1:
          s += UnitFromAnsi(Byte());
          break;
        case 2:
          s += static_cast<char16_t>(Below(0x10000));
          break;
        default:
          // Mostly storable, now and then a pair or one half of it.
          if (Below(8) == 0) s += u"\xD83D\xDE00";
          s += Below(12) == 0 ? char16_t{0xDC00} : UnitFromAnsi(Byte());
      }
    }
    return s;
  }

  Decimal RandomDecimal() {
    static const char16_t* const kEdges[] = {
        u"922337203685477.5807", u"922337203685477.5808",
        u"-922337203685477.5808", u"-922337203685477.5809", u"0.00005"};
    if (Below(8) == 0) return *Decimal::Parse(kEdges[Below(5)]);
    const uint32_t hi = Below(4) == 0 ? rng_() : 0;
    return Decimal(hi, Bits() >> Below(64), static_cast<uint8_t>(Below(9)),
                   Below(2) == 1);
  }

  Value Any(int depth = 0) {
    switch (Below(depth < 3 ? 15 : 12)) {
      case 0:
        return Value::Null();
      case 1:
        return Value(Below(2) == 1);
      case 2:
        return Value(static_cast<int16_t>(rng_()));
      case 3:
        return Value(static_cast<int32_t>(rng_()));
      case 4:
        return Value(std::bit_cast<float>(static_cast<uint32_t>(rng_())));
      case 5:
        return Value(std::bit_cast<double>(Bits()));
      case 6:
        return Value::Currency(static_cast<int64_t>(Bits()));
      case 7:
        return Value::Date(Below(10) == 0 ? std::bit_cast<double>(Bits())
                                          : Below(3000000) - 700000.25);
      case 8:
      case 9:
        return Value(Text());
      case 10:
        return Value::Decimal(RandomDecimal());
      case 11: {
        const Value odd[] = {Value(), Value::Byte(7), Value::Missing(),
                             Value::Nothing(), MakeArray({Value(1)})};
        return odd[Below(5)];
      }
      case 12: {
        Ref<CArray> list = CArray::Create();
        for (uint32_t n = Below(5); n > 0; --n) list->Add(Any(depth + 1));
        return Value(list);
      }
      case 13: {
        Ref<Dictionary> map = Dictionary::Create();
        for (uint32_t n = Below(5); n > 0; --n)
          map->Slot(String(Text())) = Any(depth + 1);
        return Value(map);
      }
      default: {
        Ref<KxDocRec> rec = KxDocRec::Create();
        for (uint32_t n = Below(5); n > 0; --n)
          rec->fields().Slot(String(Text())) = Any(depth + 1);
        return Value(rec);
      }
    }
  }

 private:
  std::mt19937 rng_;
};

bool SameStored(const Value& sent, const Value& back);

// Whether two field maps hold equal entries under equal keys, in order.
inline bool SameFields(const Dictionary& sent, const Dictionary& back) {
  if (sent.Count() != back.Count()) return false;
  size_t at_sent = 0;
  size_t at_back = 0;
  while (const Dictionary::Entry* e = sent.NextEntry(at_sent)) {
    const Dictionary::Entry* f = back.NextEntry(at_back);
    if (f == nullptr || e->key.view() != f->key.view() ||
        !SameStored(e->value, f->value))
      return false;
  }
  return true;
}

// Whether `back` is what reading `sent` back should give: numbers widened
// (a Decimal as Currency), doubles bit for bit, containers member by member.
inline bool SameStored(const Value& sent, const Value& back) {
  const auto bits = [](double d) { return std::bit_cast<uint64_t>(d); };
  switch (sent.kind()) {
    case Kind::Null:
      return back.IsNull();
    case Kind::Boolean:
      return back.kind() == Kind::Boolean && back.boolean() == sent.boolean();
    case Kind::Integer:
      return back.kind() == Kind::Long && back.long_value() == sent.integer();
    case Kind::Long:
      return back.kind() == Kind::Long &&
             back.long_value() == sent.long_value();
    case Kind::Single:
      return back.kind() == Kind::Double &&
             bits(back.double_value()) == bits(sent.single());
    case Kind::Double:
      return back.kind() == Kind::Double &&
             bits(back.double_value()) == bits(sent.double_value());
    case Kind::Currency:
      return back.kind() == Kind::Currency &&
             back.currency() == sent.currency();
    case Kind::Decimal:
      return back.kind() == Kind::Currency &&
             Decimal::FromCurrency(back.currency()) == sent.decimal();
    case Kind::Date:
      return back.kind() == Kind::Date &&
             bits(back.date()) == bits(sent.date());
    case Kind::String:
      return back.IsString() && back.string_view() == sent.string_view();
    case Kind::Object:
      break;
    default:
      return false;
  }
  if (sent.object() == nullptr || !back.IsObject() || back.object() == nullptr)
    return false;
  if (const auto* list = sent.object_as<CArray>()) {
    const auto* other = back.object_as<CArray>();
    if (other == nullptr || other->Count() != list->Count()) return false;
    for (int32_t i = 0; i < list->Count(); ++i)
      if (!SameStored(list->Item(i), other->Item(i))) return false;
    return true;
  }
  if (const auto* rec = sent.object_as<KxDocRec>()) {
    const auto* other = back.object_as<KxDocRec>();
    return other != nullptr && SameFields(rec->fields(), other->fields());
  }
  const auto* map = sent.object_as<Dictionary>();
  const auto* other = back.object_as<Dictionary>();
  return map != nullptr && other != nullptr && SameFields(*map, *other);
}

}  // namespace quorvel::testing

#endif  // QUORVEL_TESTS_TESTING_STORED_VALUES_H_
