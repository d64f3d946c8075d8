// The two comparison primitives: the Value comparison and the text
// comparison in binary and text mode.
#ifndef QUORVEL_COMPARE_H_
#define QUORVEL_COMPARE_H_

#include <cstdint>
#include <string_view>

#include "quorvel/value.h"

namespace quorvel {

enum class Comparison : int8_t { Less = -1, Equal = 0, Greater = 1, Null = 2 };

// Compares two Values, deciding by their kinds in this order: either side
// Null gives Null; an object is replaced by its default value (raising as
// `LetValue` does) and an Array or Missing raises 13; two numbers compare by
// value across kinds; two Strings compare code unit by code unit; a number
// is less than any String; Empty counts as 0 against a number and "" against
// a String.
Comparison Compare(const Value& a, const Value& b);

// The tests of the platform's comparison operators: each is false when
// either side is Null.
inline bool ValueLess(const Value& a, const Value& b) {
  return Compare(a, b) == Comparison::Less;
}
inline bool ValueEqual(const Value& a, const Value& b) {
  return Compare(a, b) == Comparison::Equal;
}
inline bool ValueGreater(const Value& a, const Value& b) {
  return Compare(a, b) == Comparison::Greater;
}

enum class CompareMode : int32_t { Binary = 0, Text = 1 };

// Returns -1, 0 or 1. Binary mode compares code unit by code unit, a proper
// prefix being less. Text mode does the same after simple Unicode case
// folding ("abc" equals "ABC", "a" is less than "B").
int32_t CompareText(std::u16string_view a, std::u16string_view b,
                    CompareMode mode);

// Returns the simple case folding of a code point (itself when it has none).
char32_t FoldCase(char32_t c);

}  // namespace quorvel

#endif  // QUORVEL_COMPARE_H_
