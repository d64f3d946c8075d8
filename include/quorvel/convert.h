// The conversions of Values that every part of the library names, with the
// fixed text forms of the library's locale (see docs/decisions.md).
#ifndef QUORVEL_CONVERT_H_
#define QUORVEL_CONVERT_H_

#include <cstdint>
#include <string_view>

#include "quorvel/decimal.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

namespace quorvel {

// Each conversion reads an object's default value first (so it fails as
// `LetValue` does), raises 94 for Null, 13 for an Array, Missing, or a String
// that does not read as the target, and 6 when the result does not fit.
// Empty is 0, "" or False; True is -1.

// Rounds half to even (2.5 gives 2, 3.5 gives 4, -2.5 gives -2).
int32_t ToLong(const Value& v);
int16_t ToInteger(const Value& v);
uint8_t ToByte(const Value& v);
double ToDouble(const Value& v);
float ToSingle(const Value& v);
// Returns the amount scaled by 10,000, rounded half to even.
int64_t ToCurrency(const Value& v);
Decimal ToDecimal(const Value& v);
// Numbers are True when not zero; text is "True" or "False" in any case, or
// a number.
bool ToBoolean(const Value& v);
// Returns the day number. Text is read as a date ("M/d/yyyy", "yyyy-MM-dd",
// each optionally followed by a time "h:mm[:ss] [AM|PM]", or a time alone)
// or as a number; raises 6 outside 1 January 100 to 31 December 9999.
double ToDate(const Value& v);
// Returns the text form: numbers in the platform's decimal form, True or
// False, dates as "M/d/yyyy h:mm:ss AM", Empty as "".
String ToText(const Value& v);
// Converts `v` to a Value of kind `target` (any scalar kind or String; an
// Object or Variant target keeps the value as it is).
Value ChangeKind(const Value& v, Kind target);

// Returns whether `v` reads as a number: numeric kinds other than Date,
// Empty, and text that `ParseNumber` accepts.
bool IsNumeric(const Value& v);
// Reads text as a number: blanks around, one leading or trailing sign,
// digits with at most one '.', an optional exponent; or "&H" / "&O" followed
// by hexadecimal or octal digits. Returns an Integer or Long for the "&H" and
// "&O" forms (16 bits or fewer give an Integer, as the platform's literals
// do) and a Double otherwise. Raises 13 for text that is not a number and 6
// for one too large.
Value ParseNumber(std::u16string_view text);

// The text forms one at a time.
String DoubleToText(double v);  // up to 15 significant digits
String SingleToText(float v);   // up to 7 significant digits
String CurrencyToText(int64_t scaled_by_10000);
String DateToText(double day_number);  // raises 6 outside the date range
// Returns the calendar day as "yyyy-MM-dd", the time rounded to the second
// first as DateToText does. Raises 6 outside the date range.
String DateToIsoText(double day_number);

}  // namespace quorvel

#endif  // QUORVEL_CONVERT_H_
