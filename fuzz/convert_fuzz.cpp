// Number and date text that reads prints and reads back the same.
#include <optional>

#include "fuzz_util.h"
#include "quorvel/convert.h"
#include "quorvel/decimal.h"
#include "quorvel/value.h"

using namespace quorvel;
using namespace quorvel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string text = Units(data, size);
  bool parsed = false;
  ErrorOf([&] {
    const Value number = ParseNumber(text);
    parsed = true;
    // Fifteen digits survive a trip through a double.
    const String printed = ToText(number);
    Check(ToText(ParseNumber(printed)) == printed);
  });
  Check(IsNumeric(Value(text)) == parsed);
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
  ErrorOf([&] {
    const String printed = DateToText(ToDate(Value(text)));
    Check(DateToText(ToDate(Value(printed))) == printed);
  });
  return 0;
}
