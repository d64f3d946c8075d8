// A client of the installed library: it sees only the umbrella header and
// the pinned API, and exits non-zero on the first surprise it reports.
#include <quorvel/quorvel.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "consumer: FAILED %s\n", what);
    ++failures;
  }
}

bool TextIs(const quorvel::Value& v, std::u16string_view expected) {
  return std::u16string_view(quorvel::ToText(v)) == expected;
}

void CheckKinds() {
  using quorvel::Value;
  struct Case {
    Value value;
    int32_t var_type;
    std::u16string_view type_name;
    const char* what;
  };
  const Case cases[] = {
      {Value(), 0, u"Empty", "Empty"},
      {Value::Null(), 1, u"Null", "Null"},
      {Value(int16_t{7}), 2, u"Integer", "Integer"},
      {Value(int32_t{70000}), 3, u"Long", "Long"},
      {Value(1.5f), 4, u"Single", "Single"},
      {Value(2.25), 5, u"Double", "Double"},
      {Value::Currency(12345), 6, u"Currency", "Currency"},
      {Value::Date(45000.5), 7, u"Date", "Date"},
      {Value(u"text"), 8, u"String", "String from const char16_t*"},
      {Value(std::u16string_view(u"view")), 8, u"String", "String from view"},
      {Value::Nothing(), 9, u"Nothing", "Nothing"},
      {Value(quorvel::Ref<quorvel::Object>()), 9, u"Nothing", "null Ref"},
      {Value::Missing(), 10, u"Error", "Missing"},
      {Value(true), 11, u"Boolean", "Boolean"},
      {Value::Decimal(quorvel::Decimal(0, 12345, 2, true)), 14, u"Decimal",
       "Decimal"},
      {Value::Byte(200), 17, u"Byte", "Byte"},
  };
  for (const Case& c : cases) {
    Check(quorvel::VarType(c.value) == c.var_type, c.what);
    Check(quorvel::TypeName(c.value) == c.type_name, c.what);
  }
  Check(Value(int16_t{7}).kind() == quorvel::Kind::Integer, "kind()");
}

void CheckConversions() {
  using quorvel::Value;
  Check(TextIs(Value(int16_t{-7}), u"-7"), "ToText Integer");
  Check(TextIs(Value(2.25), u"2.25"), "ToText Double");
  Check(TextIs(Value(true), u"True"), "ToText Boolean");
  Check(TextIs(Value::Currency(12345), u"1.2345"), "ToText Currency");
  Check(TextIs(Value::Date(45000.5), u"3/15/2023 12:00:00 PM"), "ToText Date");
  Check(TextIs(Value::Decimal(quorvel::Decimal(0, 12345, 2, true)), u"-123.45"),
        "ToText Decimal");
  Check(quorvel::ToLong(Value(u" 42 ")) == 42, "ToLong of text");
  Check(quorvel::ToLong(Value(2.5)) == 2 && quorvel::ToLong(Value(3.5)) == 4,
        "ToLong rounds half to even");
  Check(quorvel::ToDouble(Value(u"1.5E+3")) == 1500.0, "ToDouble of text");
  Check(quorvel::ToBoolean(Value(int32_t{-1})), "ToBoolean");
  Check(quorvel::ToLong(quorvel::LetValue(Value(int32_t{9}))) == 9,
        "LetValue of a scalar");

  const std::u16string accented = u"h\u00e9llo \u20ac";
  const std::string utf8 = quorvel::ToUtf8(accented);
  Check(utf8 == "h\xc3\xa9llo \xe2\x82\xac", "ToUtf8");
  Check(quorvel::FromUtf8(utf8) == accented, "FromUtf8");
}

void CheckArrays() {
  using quorvel::Value;
  Value items = quorvel::MakeArray({Value(int32_t{1}), Value(u"two")}, 1);
  Check(quorvel::VarType(items) == 8192 + 12, "VarType of a Value array");
  Check(quorvel::TypeName(items) == u"Variant()", "TypeName of a Value array");
  Check(quorvel::LBound(items) == 1 && quorvel::UBound(items) == 2,
        "bounds of a Value array");
  Check(TextIs(quorvel::ArrayItem(items, 2), u"two"), "ArrayItem");
  try {
    quorvel::ArrayItem(items, 3);
    Check(false, "ArrayItem past the end raises");
  } catch (const quorvel::Error& e) {
    Check(e.number() == 9, "ArrayItem past the end raises 9");
  }

  const std::vector<uint8_t> raw = {0, 1, 254, 255};
  Value bytes = quorvel::MakeByteArray(std::span<const uint8_t>(raw));
  Check(quorvel::VarType(bytes) == 8192 + 17, "VarType of a Byte array");
  Check(quorvel::TypeName(bytes) == u"Byte()", "TypeName of a Byte array");
  Check(quorvel::LBound(bytes) == 0 && quorvel::UBound(bytes) == 3,
        "bounds of a Byte array");
  Check(quorvel::ToBytes(bytes) == raw, "ToBytes round trip");
}

void CheckLateBinding() {
  using quorvel::CallType;
  using quorvel::Value;
  Value dict = quorvel::CreateObject(u"Scripting.Dictionary");
  Check(quorvel::TypeName(dict) == u"Dictionary", "TypeName of a Dictionary");
  quorvel::CallByName(dict, u"Add", CallType::Method,
                      {Value(u"a"), Value(1.5)});
  quorvel::CallByName(dict, u"item", CallType::Let,
                      {Value(u"b"), Value(int32_t{2})});
  Check(
      quorvel::ToLong(quorvel::CallByName(dict, u"Count", CallType::Get)) == 2,
      "Count after Add and Let Item");
  Check(quorvel::ToDouble(quorvel::CallByName(dict, u"Item", CallType::Get,
                                              {Value(u"a")})) == 1.5,
        "Get Item");
  std::vector<Value> args = {Value(u"b")};
  Check(quorvel::ToLong(quorvel::CallByName(dict, u"Item", CallType::Get,
                                            std::span<Value>(args))) == 2,
        "Get Item with a span of arguments");

  try {
    quorvel::CreateObject(u"NoSuchClass");
    Check(false, "CreateObject of an unknown class raises");
  } catch (const quorvel::Error& e) {
    Check(e.number() == 429, "CreateObject of an unknown class raises 429");
    Check(!e.description().empty() && e.what() != nullptr,
          "the error has a description");
  }
}

}  // namespace

int main() {
  try {
    CheckKinds();
    CheckConversions();
    CheckArrays();
    CheckLateBinding();
  } catch (const quorvel::Error& e) {
    std::fprintf(stderr, "consumer: unexpected error %d: %s\n", e.number(),
                 e.what());
    return 1;
  }
  if (failures != 0) return 1;
  std::printf("consumer: all checks passed\n");
  return 0;
}
