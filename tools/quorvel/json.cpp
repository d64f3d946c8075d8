// `quorvel json format|check [FILE|-]`: the lenient reader and the compact
// writer from the shell.
#include "quorvel/json.h"

#include <cstdio>
#include <string_view>

#include "cli.h"

namespace quorvel::cli {
namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: quorvel json format [FILE|-]   read leniently, write "
               "compact JSON\n"
               "       quorvel json check [FILE|-]    say what the text "
               "holds\n");
  return 2;
}

// Counts the values of a parsed tree, containers included.
int64_t CountValues(const Value& v) {
  int64_t n = 1;
  if (!v.IsObject() || v.IsNothing()) return n;
  std::u16string type = TypeName(v);
  if (type == u"Dictionary") {
    Value keys = CallByName(v, u"Keys", CallType::Get);
    for (int32_t i = 0; i <= UBound(keys); ++i)
      n += CountValues(
          CallByName(v, u"Item", CallType::Get, {ArrayItem(keys, i)}));
  } else if (type == u"CArray") {
    int32_t count = ToLong(CallByName(v, u"Count", CallType::Get));
    for (int32_t i = 0; i < count; ++i)
      n += CountValues(CallByName(v, u"Item", CallType::Get, {Value(i)}));
  }
  return n;
}

}  // namespace

int RunJson(std::span<char*> args) {
  if (args.empty() || args.size() > 2) return Usage();
  std::string_view action = args[0];
  std::string_view file = args.size() == 2 ? args[1] : "-";
  if (action != "format" && action != "check") return Usage();
  std::u16string text;
  if (!ReadTextInput(file, &text)) return 1;
  Value tree = JSON::Parse(text);
  if (action == "format") {
    if (tree.IsNothing()) {
      std::fprintf(stderr,
                   "quorvel json: the text does not begin with an object or "
                   "an array\n");
      return 1;
    }
    PrintLine(JSON::WriteJSON(tree));
    return 0;
  }
  if (tree.IsNothing()) {
    PrintLine(u"neither an object nor an array: nothing read");
    return 1;
  }
  std::string line = (TypeName(tree) == u"Dictionary" ? "object" : "array");
  line += ", " + std::to_string(CountValues(tree)) + " values read";
  PrintLine(FromUtf8(line));
  return 0;
}

// A round trip: lenient text in, a tree, compact text out, and back again.
void DemoJson() {
  PrintLine();
  PrintLine(u"JSON, read leniently and written compact");
  const std::u16string text =
      u"// a comment\n{name: 'Ada', \"born\": 1815, langs: [\"en\" \"fr\"], "
      u"'note': \"caf\\u00e9 /* not a comment */\"}";
  PrintLine(u"  in:   " + text.substr(text.find(u'{')));
  Value tree = JSON::Parse(text);
  String out = JSON::WriteJSON(tree);
  PrintLine(u"  out:  " + std::u16string(out.view()));
  PrintLine(u"  again: " +
            std::u16string(JSON::WriteJSON(JSON::Parse(out)).view()));
  Value langs = CallByName(tree, u"Item", CallType::Get, {Value(u"langs")});
  PrintLine(u"  langs is a " + TypeName(langs) + u" of " +
            ToText(CallByName(langs, u"Count", CallType::Get)).str());
}

}  // namespace quorvel::cli
