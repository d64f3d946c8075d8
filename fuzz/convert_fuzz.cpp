// Feeds arbitrary UTF-16 text (the input read as little-endian code unit
// pairs) to the readers of number and date text and checks that what they
// read prints and reads back the same. Only quorvel::Error may escape a
// reader; anything else, or a failed check, is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "quorvel/compare.h"
#include "quorvel/convert.h"
#include "quorvel/decimal.h"
#include "quorvel/error.h"
#include "quorvel/value.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void FuzzNumber(std::u16string_view text) {
  bool parsed = false;
  try {
    quorvel::Value number = quorvel::ParseNumber(text);
    parsed = true;
    // Fifteen digits survive a trip through a double, so the text form of a
    // number is a fixed point of reading and printing.
    quorvel::String printed = quorvel::ToText(number);
    Check(quorvel::ToText(quorvel::ParseNumber(printed)) == printed);
  } catch (const quorvel::Error&) {
  }
  Check(quorvel::IsNumeric(quorvel::Value(text)) == parsed);
}

void FuzzDecimal(std::u16string_view text) {
  try {
    std::optional<quorvel::Decimal> d = quorvel::Decimal::Parse(text);
    if (!d) return;
    std::u16string printed = d->ToText();
    std::optional<quorvel::Decimal> again = quorvel::Decimal::Parse(printed);
    Check(again.has_value() && *again == *d && again->ToText() == printed);
    Check(quorvel::ToText(quorvel::Value::Decimal(*d)) ==
          std::u16string_view(printed));
    // Both round the same exact value to the nearest double.
    Check(d->ToDouble() == quorvel::ParseNumber(printed).double_value());
  } catch (const quorvel::Error&) {
  }
}

void FuzzDate(std::u16string_view text) {
  try {
    double day = quorvel::ToDate(quorvel::Value(text));
    quorvel::String printed = quorvel::DateToText(day);
    double back = quorvel::ToDate(quorvel::Value(printed));
    Check(quorvel::DateToText(back) == printed);
  } catch (const quorvel::Error&) {
  }
}

void FuzzText(std::u16string_view text) {
  // Split in two and compare the halves both ways in both modes.
  std::u16string_view a = text.substr(0, text.size() / 2);
  std::u16string_view b = text.substr(text.size() / 2);
  for (auto mode : {quorvel::CompareMode::Binary, quorvel::CompareMode::Text}) {
    int ab = quorvel::CompareText(a, b, mode);
    Check(ab >= -1 && ab <= 1 && quorvel::CompareText(b, a, mode) == -ab);
    Check(quorvel::CompareText(a, a, mode) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text(size / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  FuzzNumber(text);
  FuzzDecimal(text);
  FuzzDate(text);
  FuzzText(text);
  return 0;
}
