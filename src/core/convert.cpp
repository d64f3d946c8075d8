// Conversions between the kinds of Value. Every conversion treats the
// markers alike: an object is replaced by its default value, Null raises 94,
// an Array or an Error value (Missing) raises 13, Empty is zero.

#include "quorvel/convert.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

#include "core/number_text.h"
#include "quorvel/error.h"

namespace quorvel {
namespace {

[[noreturn]] void RaiseForKind(const Value& v) {
  RaiseStandard(v.IsNull() ? kErrInvalidUseOfNull : kErrTypeMismatch);
}

// Rounds to a whole number, a tie going to the even neighbour, whatever the
// floating-point rounding mode.
double RoundHalfEven(double x) {
  double floor = std::floor(x);
  double diff = x - floor;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(floor, 2.0) != 0)) floor += 1;
  return floor;
}

// 2^63 exactly, the first double beyond int64.
constexpr double kTwoTo63 = 9223372036854775808.0;

int64_t RoundDoubleToInt64(double x) {
  if (std::isnan(x)) RaiseStandard(kErrOverflow);
  double r = RoundHalfEven(x);
  if (r >= kTwoTo63 || r < -kTwoTo63) RaiseStandard(kErrOverflow);
  return static_cast<int64_t>(r);
}

// Divides a Currency amount by 10,000, rounding half to even.
int64_t RoundCurrency(int64_t scaled) {
  int64_t whole = scaled / 10000;
  int64_t rest = scaled % 10000;  // same sign as `scaled`
  if (rest > 5000 || (rest == 5000 && (whole & 1) != 0)) ++whole;
  if (rest < -5000 || (rest == -5000 && (whole & 1) != 0)) --whole;
  return whole;
}

// The value rounded to a whole number within int64, for the integer
// conversions; each narrows it further.
int64_t ToRoundedInteger(const Value& v) {
  switch (v.kind()) {
    case Kind::Empty:
      return 0;
    case Kind::Integer:
    case Kind::Boolean:
      return v.integer();
    case Kind::Long:
      return v.long_value();
    case Kind::Byte:
      return v.byte();
    case Kind::Single:
      return RoundDoubleToInt64(v.single());
    case Kind::Double:
    case Kind::Date:
      return RoundDoubleToInt64(v.double_value());
    case Kind::Currency:
      return RoundCurrency(v.currency());
    case Kind::Decimal:
      return v.decimal().RoundToInt64();
    case Kind::String:
      return ToRoundedInteger(ParseNumber(v.string_view()));
    case Kind::Object:
      return ToRoundedInteger(LetValue(v));
    default:
      RaiseForKind(v);
  }
}

int64_t InRange(int64_t value, int64_t low, int64_t high) {
  if (value < low || value > high) RaiseStandard(kErrOverflow);
  return value;
}

// Returns scaled / 10,000 as the double nearest to it.
double CurrencyToDouble(int64_t scaled) {
  constexpr int64_t kExact = int64_t{1} << 53;
  // Below 2^53 both operands are exact, so the one division rounds correctly.
  if (scaled > -kExact && scaled < kExact)
    return static_cast<double>(scaled) / 10000.0;
  return Decimal::FromCurrency(scaled).ToDouble();
}

// Scales by 10,000 in double arithmetic and rounds half to even, as the
// platform converts a floating-point amount to Currency.
int64_t DoubleToCurrency(double x) {
  if (std::isnan(x)) RaiseStandard(kErrOverflow);
  return RoundDoubleToInt64(x * 10000.0);
}

bool EqualsIgnoringAsciiCase(std::u16string_view text,
                             std::u16string_view lower) {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    if (c != lower[i]) return false;
  }
  return true;
}

String IntegerText(int64_t n) {
  char buffer[24];
  char* end = std::to_chars(buffer, buffer + sizeof(buffer), n).ptr;
  return String::Build(end - buffer, [&](char16_t* out) {
    for (const char* p = buffer; p != end; ++p) *out++ = *p;
  });
}

}  // namespace

int32_t ToLong(const Value& v) {
  if (v.kind() == Kind::Long) return v.long_value();
  return static_cast<int32_t>(
      InRange(ToRoundedInteger(v), INT32_MIN, INT32_MAX));
}

int16_t ToInteger(const Value& v) {
  return static_cast<int16_t>(
      InRange(ToRoundedInteger(v), INT16_MIN, INT16_MAX));
}

uint8_t ToByte(const Value& v) {
  return static_cast<uint8_t>(InRange(ToRoundedInteger(v), 0, UINT8_MAX));
}

double ToDouble(const Value& v) {
  switch (v.kind()) {
    case Kind::Empty:
      return 0;
    case Kind::Integer:
    case Kind::Boolean:
      return v.integer();
    case Kind::Long:
      return v.long_value();
    case Kind::Byte:
      return v.byte();
    case Kind::Single:
      return v.single();
    case Kind::Double:
    case Kind::Date:
      return v.double_value();
    case Kind::Currency:
      return CurrencyToDouble(v.currency());
    case Kind::Decimal:
      return v.decimal().ToDouble();
    case Kind::String:
      return ToDouble(ParseNumber(v.string_view()));
    case Kind::Object:
      return ToDouble(LetValue(v));
    default:
      RaiseForKind(v);
  }
}

float ToSingle(const Value& v) {
  if (v.kind() == Kind::Single) return v.single();
  double d = ToDouble(v);
  // Halfway between the largest float and the next power of two rounds to
  // infinity (the largest float's last bit is odd).
  constexpr double kOverflow = 0x1.ffffffp127;
  if (std::isfinite(d) && std::fabs(d) >= kOverflow)
    RaiseStandard(kErrOverflow);
  return static_cast<float>(d);
}

int64_t ToCurrency(const Value& v) {
  switch (v.kind()) {
    case Kind::Empty:
      return 0;
    case Kind::Integer:
    case Kind::Boolean:
      return int64_t{v.integer()} * 10000;
    case Kind::Long:
      return int64_t{v.long_value()} * 10000;
    case Kind::Byte:
      return int64_t{v.byte()} * 10000;
    case Kind::Single:
      return DoubleToCurrency(v.single());
    case Kind::Double:
    case Kind::Date:
      return DoubleToCurrency(v.double_value());
    case Kind::Currency:
      return v.currency();
    case Kind::Decimal:
      return v.decimal().ToCurrency();
    case Kind::String: {
      // Read exactly, so that "0.00005" is a tie and not a double near one.
      if (std::optional<Decimal> d = Decimal::Parse(v.string_view()))
        return d->ToCurrency();
      return ToCurrency(ParseNumber(v.string_view()));
    }
    case Kind::Object:
      return ToCurrency(LetValue(v));
    default:
      RaiseForKind(v);
  }
}

Decimal ToDecimal(const Value& v) {
  switch (v.kind()) {
    case Kind::Empty:
      return Decimal();
    case Kind::Integer:
    case Kind::Boolean:
      return Decimal::FromInt64(v.integer());
    case Kind::Long:
      return Decimal::FromInt64(v.long_value());
    case Kind::Byte:
      return Decimal::FromInt64(v.byte());
    case Kind::Single:
      return Decimal::FromSingle(v.single());
    case Kind::Double:
    case Kind::Date:
      return Decimal::FromDouble(v.double_value());
    case Kind::Currency:
      return Decimal::FromCurrency(v.currency());
    case Kind::Decimal:
      return v.decimal();
    case Kind::String: {
      if (std::optional<Decimal> d = Decimal::Parse(v.string_view())) return *d;
      return ToDecimal(ParseNumber(v.string_view()));
    }
    case Kind::Object:
      return ToDecimal(LetValue(v));
    default:
      RaiseForKind(v);
  }
}

bool ToBoolean(const Value& v) {
  switch (v.kind()) {
    case Kind::Empty:
      return false;
    case Kind::Integer:
    case Kind::Boolean:
      return v.integer() != 0;
    case Kind::Long:
      return v.long_value() != 0;
    case Kind::Byte:
      return v.byte() != 0;
    case Kind::Single:
      return v.single() != 0;
    case Kind::Double:
    case Kind::Date:
      return v.double_value() != 0;
    case Kind::Currency:
      return v.currency() != 0;
    case Kind::Decimal:
      return !v.decimal().IsZero();
    case Kind::String: {
      std::u16string_view text = internal::TrimBlanks(v.string_view());
      if (EqualsIgnoringAsciiCase(text, u"true")) return true;
      if (EqualsIgnoringAsciiCase(text, u"false")) return false;
      return ToBoolean(ParseNumber(text));
    }
    case Kind::Object:
      return ToBoolean(LetValue(v));
    default:
      RaiseForKind(v);
  }
}

String ToText(const Value& v) {
  switch (v.kind()) {
    case Kind::Empty:
      return String();
    case Kind::String:
      return v.string();
    case Kind::Integer:
      return IntegerText(v.integer());
    case Kind::Long:
      return IntegerText(v.long_value());
    case Kind::Byte:
      return IntegerText(v.byte());
    case Kind::Boolean:
      return v.boolean() ? String(u"True") : String(u"False");
    case Kind::Single:
      return SingleToText(v.single());
    case Kind::Double:
      return DoubleToText(v.double_value());
    case Kind::Currency:
      return CurrencyToText(v.currency());
    case Kind::Decimal:
      return String(v.decimal().ToText());
    case Kind::Date:
      return DateToText(v.date());
    case Kind::Object:
      return ToText(LetValue(v));
    default:
      RaiseForKind(v);
  }
}

Value ChangeKind(const Value& v, Kind target) {
  switch (target) {
    case Kind::Empty:
      return Value();
    case Kind::Null:
      return Value::Null();
    case Kind::Integer:
      return Value(ToInteger(v));
    case Kind::Long:
      return Value(ToLong(v));
    case Kind::Single:
      return Value(ToSingle(v));
    case Kind::Double:
      return Value(ToDouble(v));
    case Kind::Currency:
      return Value::Currency(ToCurrency(v));
    case Kind::Date:
      return Value::Date(ToDate(v));
    case Kind::String:
      return Value(ToText(v));
    case Kind::Boolean:
      return Value(ToBoolean(v));
    case Kind::Decimal:
      return Value::Decimal(ToDecimal(v));
    case Kind::Byte:
      return Value::Byte(ToByte(v));
    case Kind::Variant:
    case Kind::Object:
      return v;
    default:
      // Error and Array are not targets a value can be converted to.
      RaiseStandard(kErrTypeMismatch);
  }
}

bool IsNumeric(const Value& v) {
  switch (v.kind()) {
    case Kind::Date:
      return false;
    case Kind::Empty:
      return true;
    case Kind::String: {
      Value number;
      return internal::TryParseNumber(v.string_view(), &number) == 0;
    }
    default:
      return v.IsNumericKind();
  }
}

}  // namespace quorvel
