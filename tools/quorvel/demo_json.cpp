// The JSON scene of `quorvel demo`: lenient text read into a tree and written
// back compact, twice, to show the round trip settles.
#include <string>

#include "cli.h"
#include "quorvel/json.h"

namespace quorvel::cli {

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
