// The Value comparison and the text comparison.

#include "quorvel/compare.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "quorvel/convert.h"
#include "quorvel/decimal.h"
#include "quorvel/error.h"

namespace quorvel {
namespace {

struct FoldRun {
  uint32_t start;
  uint32_t length;
  uint32_t stride;
  int32_t delta;
};

constexpr FoldRun kFoldRuns[] = {
#include "core/casefold_table.inc"
};

// A numeric Value sorted into the representation that compares it exactly:
// whole numbers as int64, Currency as int64 ten-thousandths, floating point
// as double, Decimal as itself.
struct Number {
  enum class Type { Whole, Currency, Float, Decimal } type;
  int64_t whole = 0;
  double real = 0;
  Decimal decimal;
};

Number ToNumber(const Value& v) {
  Number n{Number::Type::Whole};
  switch (v.kind()) {
    case Kind::Empty:
      break;
    case Kind::Integer:
    case Kind::Boolean:
      n.whole = v.integer();
      break;
    case Kind::Long:
      n.whole = v.long_value();
      break;
    case Kind::Byte:
      n.whole = v.byte();
      break;
    case Kind::Currency:
      n.type = Number::Type::Currency;
      n.whole = v.currency();
      break;
    case Kind::Single:
      n.type = Number::Type::Float;
      n.real = v.single();
      break;
    case Kind::Double:
    case Kind::Date:
      n.type = Number::Type::Float;
      n.real = v.double_value();
      break;
    default:  // Decimal
      n.type = Number::Type::Decimal;
      n.decimal = v.decimal();
      break;
  }
  return n;
}

// __extension__ keeps -Wpedantic quiet about the compiler's 128-bit type.
__extension__ typedef unsigned __int128 Uint128;

template <class T>
Comparison Order(T a, T b) {
  return a < b ? Comparison::Less
               : (b < a ? Comparison::Greater : Comparison::Equal);
}

Comparison Flip(Comparison c) {
  return c == Comparison::Less
             ? Comparison::Greater
             : (c == Comparison::Greater ? Comparison::Less : c);
}

// NaN has no place among the numbers; it sorts below all of them and equals
// itself, so that sorting stays a total order.
Comparison OrderDoubles(double a, double b) {
  bool a_nan = std::isnan(a);
  bool b_nan = std::isnan(b);
  if (a_nan || b_nan) return Order(!a_nan, !b_nan);
  return Order(a, b);
}

// Compares `x` with `scaled` / `unit` exactly, so that neither side is
// rounded.
Comparison OrderDoubleWithScaled(double x, int64_t scaled, int64_t unit) {
  if (std::isnan(x)) return Comparison::Less;
  int x_sign = x > 0 ? 1 : (x < 0 ? -1 : 0);
  int s_sign = scaled > 0 ? 1 : (scaled < 0 ? -1 : 0);
  if (x_sign != s_sign || x_sign == 0) return Order(x_sign, s_sign);
  // Beyond 2^63 no int64 reaches; infinity included.
  if (std::fabs(x) >= 9223372036854775808.0)
    return x_sign > 0 ? Comparison::Greater : Comparison::Less;
  // |x| = m * 2^e exactly with m below 2^53; |x| * unit = q + f with q whole
  // and 0 <= f < 1, f > 0 exactly when bits are shifted out.
  int e = 0;
  double fraction = std::frexp(std::fabs(x), &e);
  auto m = static_cast<Uint128>(std::ldexp(fraction, 53));
  e -= 53;
  Uint128 product = m * static_cast<Uint128>(unit);
  Uint128 q = 0;
  bool has_fraction = false;
  if (e >= 0) {
    q = product << e;  // below 2^63 * 10^4, no overflow
  } else if (-e < 128) {
    q = product >> -e;
    has_fraction = (q << -e) != product;
  } else {
    has_fraction = product != 0;
  }
  uint64_t magnitude = s_sign > 0 ? static_cast<uint64_t>(scaled)
                                  : 0 - static_cast<uint64_t>(scaled);
  Comparison by_magnitude =
      q != magnitude ? Order<Uint128>(q, magnitude)
                     : (has_fraction ? Comparison::Greater : Comparison::Equal);
  return x_sign > 0 ? by_magnitude : Flip(by_magnitude);
}

Comparison CompareNumbers(const Value& a, const Value& b) {
  Number x = ToNumber(a);
  Number y = ToNumber(b);
  using Type = Number::Type;
  if (x.type == y.type) {
    switch (x.type) {
      case Type::Whole:
      case Type::Currency:
        return Order(x.whole, y.whole);
      case Type::Float:
        return OrderDoubles(x.real, y.real);
      case Type::Decimal:
        return static_cast<Comparison>(Decimal::Compare(x.decimal, y.decimal));
    }
  }
  // Order the pair so that x has the lower type.
  if (y.type < x.type) return Flip(CompareNumbers(b, a));
  switch (y.type) {
    case Type::Currency:  // x Whole; an int32 times 10^4 fits int64
      return Order(x.whole * 10000, y.whole);
    case Type::Float:
      // Whole numbers have at most 32 bits, exact as doubles; Currency needs
      // the exact comparison.
      if (x.type == Type::Whole)
        return OrderDoubles(static_cast<double>(x.whole), y.real);
      return Flip(OrderDoubleWithScaled(y.real, x.whole, 10000));
    default: {  // y Decimal
      if (x.type == Type::Float) {
        if (std::isnan(x.real)) return Comparison::Less;
        return OrderDoubles(x.real, y.decimal.ToDouble());
      }
      Decimal left = x.type == Type::Whole ? Decimal::FromInt64(x.whole)
                                           : Decimal::FromCurrency(x.whole);
      return static_cast<Comparison>(Decimal::Compare(left, y.decimal));
    }
  }
}

bool IsComparableScalar(const Value& v) {
  return v.IsEmpty() || v.IsString() || v.IsNumericKind();
}

// Returns the code point at `i` and advances past it; a lone surrogate
// stands for itself.
char32_t NextCodePoint(std::u16string_view s, size_t& i) {
  char32_t c = s[i++];
  if (c >= 0xD800 && c <= 0xDBFF && i < s.size() && s[i] >= 0xDC00 &&
      s[i] <= 0xDFFF) {
    c = 0x10000 + ((c - 0xD800) << 10) + (s[i++] - 0xDC00);
  }
  return c;
}

int Sign(int64_t d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

}  // namespace

char32_t FoldCase(char32_t c) {
  if (c < 0x80) return c >= U'A' && c <= U'Z' ? c + 32 : c;
  const FoldRun* end = std::end(kFoldRuns);
  // The last run starting at or before c.
  const FoldRun* run = std::upper_bound(
      std::begin(kFoldRuns), end, c,
      [](char32_t cp, const FoldRun& r) { return cp < r.start; });
  if (run == std::begin(kFoldRuns)) return c;
  --run;
  uint32_t offset = c - run->start;
  if (offset < run->length * run->stride && offset % run->stride == 0)
    return static_cast<char32_t>(static_cast<int32_t>(c) + run->delta);
  return c;
}

int32_t CompareText(std::u16string_view a, std::u16string_view b,
                    CompareMode mode) {
  if (mode == CompareMode::Binary) return Sign(a.compare(b));
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    char16_t ua = a[i];
    char16_t ub = b[j];
    if (ua < 0x80 && ub < 0x80) {
      // ASCII on both sides needs neither decoding nor the table.
      ++i;
      ++j;
      if (ua == ub) continue;
      if (ua >= u'A' && ua <= u'Z') ua += 32;
      if (ub >= u'A' && ub <= u'Z') ub += 32;
      if (ua != ub) return ua < ub ? -1 : 1;
      continue;
    }
    char32_t ca = FoldCase(NextCodePoint(a, i));
    char32_t cb = FoldCase(NextCodePoint(b, j));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return Sign(static_cast<int64_t>(a.size() - i) -
              static_cast<int64_t>(b.size() - j));
}

Comparison Compare(const Value& a, const Value& b) {
  if (a.IsNull() || b.IsNull()) return Comparison::Null;
  if (a.IsObject() || b.IsObject()) {
    // Read each default value once; what it holds is compared in turn.
    Value left = a.IsObject() ? LetValue(a) : a;
    Value right = b.IsObject() ? LetValue(b) : b;
    if (left.IsObject() || right.IsObject()) RaiseStandard(kErrTypeMismatch);
    return Compare(left, right);
  }
  if (!IsComparableScalar(a) || !IsComparableScalar(b))
    RaiseStandard(kErrTypeMismatch);

  bool a_text = a.IsString() || (a.IsEmpty() && b.IsString());
  bool b_text = b.IsString() || (b.IsEmpty() && a.IsString());
  if (a_text && b_text) {
    return static_cast<Comparison>(
        CompareText(a.string_view(), b.string_view(), CompareMode::Binary));
  }
  if (a_text) return Comparison::Greater;  // a number is less than any text
  if (b_text) return Comparison::Less;
  return CompareNumbers(a, b);
}

}  // namespace quorvel
