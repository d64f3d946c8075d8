// A client of the installed library: it sees only the umbrella header, so
// what it needs is installed, and its calls link to what is exported.
#include <quorvel/quorvel.h>

#include <cstdio>
#include <string_view>
#include <vector>

int main() {
  using namespace quorvel;
  try {
    const Value decimal = Value::Decimal(Decimal(0, 12345, 2, true));
    Value dict = CreateObject(u"Scripting.Dictionary");
    CallByName(dict, u"Add", CallType::Method, {Value(u"a"), decimal});
    std::vector<Value> args = {Value(u"a")};
    const Value back =
        CallByName(dict, u"Item", CallType::Get, std::span<Value>(args));
    Value items = MakeArray({back, Value(u"two")}, 1);
    if (TypeName(back) != u"Decimal" || UBound(items) != 2 ||
        std::u16string_view(ToText(ArrayItem(items, 1))) != u"-123.45" ||
        FromUtf8(ToUtf8(u"h\u00e9llo \u20ac")) != u"h\u00e9llo \u20ac") {
      std::fprintf(stderr, "consumer: FAILED a value came back changed\n");
      return 1;
    }
    ArrayItem(items, 3);
    std::fprintf(stderr, "consumer: FAILED ArrayItem past the end\n");
    return 1;
  } catch (const Error& e) {
    if (e.number() != 9) {
      std::fprintf(stderr, "consumer: FAILED error %d: %s\n", e.number(),
                   e.what());
      return 1;
    }
  }
  std::printf("consumer: all checks passed\n");
  return 0;
}
