// The list scene of `quorvel demo`: a CArray filled, indexed from the end,
// sliced, sorted and written as JSON, all through calls by name.
#include <string>

#include "cli.h"

namespace quorvel::cli {

namespace {

Value Call(const Value& list, std::u16string_view name,
           std::initializer_list<Value> args = {}) {
  return CallByName(list, name, CallType::Method, args);
}

void Show(std::u16string_view label, const std::u16string& text) {
  std::u16string line = u"  ";
  line += label;
  while (line.size() < 34) line += u' ';
  PrintLine(line + text);
}

// Shows the list's display form, or the error a call raised.
void ShowCall(std::u16string_view label, const Value& list,
              std::u16string_view name,
              std::initializer_list<Value> args = {}) {
  try {
    Value result = Call(list, name, args);
    // Text forms and lists are shown as they are; a String element quoted.
    bool raw = result.IsObject() || name.starts_with(u"To");
    if (result.IsObject()) result = Call(result, u"ToString");
    Show(label, result.IsString() && !raw ? u"\"" + ToText(result).str() + u"\""
                                          : ToText(result).str());
  } catch (const Error& e) {
    std::string n = std::to_string(e.number());
    Show(label, u"error " + std::u16string(n.begin(), n.end()) + u": " +
                    std::u16string(e.description()));
  }
}

}  // namespace

void DemoCArray() {
  PrintLine();
  PrintLine(u"CArray, created and called by name");
  Value list = CreateObject(u"KxQuorvel.CArray");
  Call(list, u"Add", {Value(u"pear")});
  Call(list, u"AddMultiple", {Value(42), Value(u"Apple"), Value(3.5)});
  Call(list, u"Add", {Value(u"banana")});
  ShowCall(u"ToString()", list, u"ToString");
  ShowCall(u"Item(-1) (from the end)", list, u"Item", {Value(-1)});
  ShowCall(u"Item(-6)", list, u"Item", {Value(-6)});
  ShowCall(u"Slice(-1, 0, -2)", list, u"Slice",
           {Value(-1), Value(0), Value(-2)});
  ShowCall(u"Subset(1, 2)", list, u"Subset", {Value(1), Value(2)});
  Call(list, u"Sort");
  ShowCall(u"after Sort()", list, u"ToString");
  Call(list, u"Sort", {Value(true)});
  ShowCall(u"after Sort(True)", list, u"ToString");
  ShowCall(u"IndexOf(\"APPLE\", 0)", list, u"IndexOf",
           {Value(u"APPLE"), Value(0)});
  ShowCall(u"ToJSON()", list, u"ToJSON");
  ShowCall(u"ToCSV(\";\")", list, u"ToCSV", {Value(u";")});
  Call(list, u"Clear");
  ShowCall(u"Pop() after Clear", list, u"Pop");
}

}  // namespace quorvel::cli
