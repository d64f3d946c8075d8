// `quorvel demo`: a tour of the library as a script client sees it, through
// creation by name and calls by name only.
#include <functional>
#include <string>
#include <vector>

#include "cli.h"

namespace quorvel::cli {

namespace {

std::u16string Num(int64_t n) {
  std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

// Returns the text form of a Value for display, or its error.
std::u16string Shown(const std::function<Value()>& make) {
  try {
    Value v = make();
    if (v.IsString()) return u"\"" + std::u16string(v.string_view()) + u"\"";
    if (v.IsObject() || v.IsArray()) return TypeName(v);
    if (v.IsNull()) return u"Null";
    return ToText(v).str();
  } catch (const Error& e) {
    return u"error " + Num(e.number()) + u": " +
           std::u16string(e.description());
  }
}

void Row(std::u16string_view label, const std::function<Value()>& make) {
  std::u16string line = u"  ";
  line += label;
  while (line.size() < 34) line += u' ';
  PrintLine(line + Shown(make));
}

std::u16string OrderText(Comparison c) {
  switch (c) {
    case Comparison::Less:
      return u"less";
    case Comparison::Equal:
      return u"equal";
    case Comparison::Greater:
      return u"greater";
    case Comparison::Null:
      return u"Null (neither)";
  }
  return u"";
}

void Values() {
  PrintLine(u"Values: kind code, type name, text");
  const std::vector<std::pair<std::u16string, Value>> values = {
      {u"Empty", Value()},
      {u"Null", Value::Null()},
      {u"Integer 7", Value(int16_t{7})},
      {u"Long 2147483647", Value(int32_t{2147483647})},
      {u"Double 1/3", Value(1.0 / 3.0)},
      {u"Double 1E15", Value(1e15)},
      {u"Single 0.1", Value(0.1f)},
      {u"Currency 12.5", Value::Currency(125000)},
      {u"Date 45000.75", Value::Date(45000.75)},
      {u"Boolean True", Value(true)},
      {u"Decimal",
       Value::Decimal(*Decimal::Parse(u"79228162514264.337593543950335"))},
      {u"Byte 255", Value::Byte(255)},
      {u"String \"Grüße\"", Value(u"Grüße")},
      {u"Array (1, \"two\")", MakeArray({Value(1), Value(u"two")})},
  };
  for (const auto& [label, v] : values) {
    std::u16string line = u"  " + label;
    while (line.size() < 34) line += u' ';
    line += Num(VarType(v));
    while (line.size() < 40) line += u' ';
    line += TypeName(v);
    while (line.size() < 52) line += u' ';
    PrintLine(line + Shown([&value = v] { return value; }));
  }
}

void Conversions() {
  PrintLine();
  PrintLine(u"Conversions");
  Row(u"ToLong(2.5)", [] { return Value(ToLong(Value(2.5))); });
  Row(u"ToLong(3.5)", [] { return Value(ToLong(Value(3.5))); });
  Row(u"ToLong(\"12\")", [] { return Value(ToLong(Value(u"12"))); });
  Row(u"ToLong(\"&HFF\")", [] { return Value(ToLong(Value(u"&HFF"))); });
  Row(u"ToLong(\"abc\")", [] { return Value(ToLong(Value(u"abc"))); });
  Row(u"ToLong(Null)", [] { return Value(ToLong(Value::Null())); });
  Row(u"ToLong(3E9)", [] { return Value(ToLong(Value(3e9))); });
  Row(u"ToBoolean(\"true\")", [] { return Value(ToBoolean(Value(u"true"))); });
  Row(u"ToDouble(\"1.5E-7\")",
      [] { return Value(ToDouble(Value(u"1.5E-7"))); });
}

void Comparisons() {
  PrintLine();
  PrintLine(u"Comparisons");
  const std::vector<std::tuple<std::u16string, Value, Value>> pairs = {
      {u"10 vs \"9\"", Value(10), Value(u"9")},
      {u"\"10\" vs \"9\"", Value(u"10"), Value(u"9")},
      {u"2 (Integer) vs 2.0 (Double)", Value(int16_t{2}), Value(2.0)},
      {u"Empty vs 0", Value(), Value(0)},
      {u"Empty vs \"\"", Value(), Value(u"")},
      {u"Null vs Null", Value::Null(), Value::Null()},
      {u"\"B\" vs \"a\"", Value(u"B"), Value(u"a")},
  };
  for (const auto& [label, a, b] : pairs) {
    std::u16string line = u"  " + label;
    while (line.size() < 34) line += u' ';
    PrintLine(line + OrderText(Compare(a, b)));
  }
  std::u16string line = u"  \"a\" vs \"B\" in text mode";
  while (line.size() < 34) line += u' ';
  PrintLine(line + OrderText(static_cast<Comparison>(
                       CompareText(u"a", u"B", CompareMode::Text))));
}

void DictionaryRoundTrip() {
  PrintLine();
  PrintLine(u"CDict, created and called by name");
  Value dict = CreateObject(u"KxQuorvel.CDict");
  CallByName(dict, u"Add", CallType::Method, {Value(u"name"), Value(u"Ada")});
  CallByName(dict, u"Item", CallType::Let, {Value(u"year"), Value(1815)});
  Value inner = CreateObject(u"Scripting.Dictionary");
  CallByName(dict, u"Item", CallType::Set, {Value(u"inner"), inner});
  CallByName(inner, u"Add", CallType::Method, {Value(u"k"), Value(u"v")});

  Row(u"Count", [&] { return CallByName(dict, u"Count", CallType::Get); });
  Value keys = CallByName(dict, u"Keys", CallType::Get);
  std::u16string listed;
  for (int32_t i = LBound(keys); i <= UBound(keys); ++i) {
    if (!listed.empty()) listed += u", ";
    listed += ToText(ArrayItem(keys, i)).view();
  }
  PrintLine(u"  Keys                            " + listed);
  Row(u"Item(\"name\")", [&] {
    return CallByName(dict, u"Item", CallType::Get, {Value(u"name")});
  });
  Row(u"ITEM(\"year\") (any case)", [&] {
    return CallByName(dict, u"ITEM", CallType::Get, {Value(u"year")});
  });
  Value back = CallByName(dict, u"Item", CallType::Get, {Value(u"inner")});
  PrintLine(std::u16string(u"  Item(\"inner\") is the same object  ") +
            (back.object() == inner.object() ? u"yes" : u"no"));
  Row(u"Item(\"inner\").Item(\"k\")",
      [&] { return CallByName(back, u"Item", CallType::Get, {Value(u"k")}); });
  Row(u"Exists(\"Name\") (keys are exact)", [&] {
    return CallByName(dict, u"Exists", CallType::Method, {Value(u"Name")});
  });
  Row(u"Add(\"name\", ...) again", [&] {
    return CallByName(dict, u"Add", CallType::Method,
                      {Value(u"name"), Value(u"Bob")});
  });
  Row(u"value assignment of the CDict", [&] { return LetValue(dict); });
  Row(u"Nosuch()",
      [&] { return CallByName(dict, u"Nosuch", CallType::Method); });
  CallByName(dict, u"Clear", CallType::Method);
  Row(u"Count after Clear",
      [&] { return CallByName(dict, u"Count", CallType::Get); });
}

}  // namespace

int RunDemo(std::span<char*> raw) {
  static constexpr VerbSpec kSpec = {
      "demo",
      "demo",
      "A tour of the library by late binding: values, conversions,\n"
      "comparisons, containers, a table, JSON and one document through a\n"
      "database file.\n",
      {},
  };
  const Args args(kSpec, raw);
  if (args.help()) return kExitOk;
  if (!args.positional().empty()) args.Fail("takes no arguments");
  if (args.output() != "-") args.Fail("writes to standard output only");
  Values();
  Conversions();
  Comparisons();
  DictionaryRoundTrip();
  DemoCArray();
  DemoDataset();
  DemoJson();
  DemoDocs();
  return 0;
}

}  // namespace quorvel::cli
