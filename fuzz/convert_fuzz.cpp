// Number and date text that reads prints and reads back the same; text
// compares consistently.
#include <optional>

#include "fuzz_util.h"
#include "quorvel/compare.h"
#include "quorvel/convert.h"
#include "quorvel/decimal.h"
#include "quorvel/value.h"

using namespace quorvel;
using namespace quorvel::fuzz;

namespace {

void FuzzNumber(std::u16string_view text) {
  bool parsed = false;
  ErrorOf([&] {
    const Value number = ParseNumber(text);
    parsed = true;
    // Fifteen digits survive a trip through a double.
    const String printed = ToText(number);
    Check(ToText(ParseNumber(printed)) == printed);
  });
  Check(IsNumeric(Value(text)) == parsed);
}

void FuzzDecimal(std::u16string_view text) {
  ErrorOf([&] {
    const std::optional<Decimal> d = Decimal::Parse(text);
    if (!d) return;
    const std::u16string printed = d->ToText();
    const std::optional<Decimal> again = Decimal::Parse(printed);
    Check(again.has_value() && *again == *d && again->ToText() == printed);
    Check(ToText(Value::Decimal(*d)) == std::u16string_view(printed));
    // Both round the same exact value to the nearest double.
    Check(d->ToDouble() == ParseNumber(printed).double_value());
  });
}

void FuzzDate(std::u16string_view text) {
  ErrorOf([&] {
    const String printed = DateToText(ToDate(Value(text)));
    Check(DateToText(ToDate(Value(printed))) == printed);
  });
}

void FuzzCompare(std::u16string_view text) {
  const std::u16string_view a = text.substr(0, text.size() / 2);
  const std::u16string_view b = text.substr(text.size() / 2);
  for (auto mode : {CompareMode::Binary, CompareMode::Text}) {
    const int ab = CompareText(a, b, mode);
    Check(ab >= -1 && ab <= 1 && CompareText(b, a, mode) == -ab);
    Check(CompareText(a, a, mode) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string text = Units(data, size);
  FuzzNumber(text);
  FuzzDecimal(text);
  FuzzDate(text);
  FuzzCompare(text);
  return 0;
}
