// `quorvel json check|format [FILE|-]`: JSON text checked strictly, or
// written again compact or indented; --lenient puts the library's lenient
// reader in place of the strict one.
#include <string>
#include <string_view>

#include "cli.h"
#include "quorvel/json.h"
#include "quorvel/json_strict.h"

namespace quorvel::cli {
namespace {

constexpr OptionSpec kOptions[] = {
    {"--lenient", "",
     "read with the library's lenient reader exactly as it is: comments, "
     "single quotes and missing commas pass, and so does whatever it cannot "
     "read inside a container; an object or an array at the top only. "
     "Where that reading differs from a strict one, a warning on standard "
     "error names the first place (the exit status stays 0)"},
    IndentOption("format"),
    AsciiOption("format"),
};

constexpr VerbSpec kSpec = {
    "json",
    "json check [OPTIONS] [FILE|-]\n"
    "json format [OPTIONS] [FILE|-]",
    "Reads JSON text as RFC 8259 defines it, UTF-8, from FILE or standard\n"
    "input; any value may stand at the top.\n"
    "  check   says what the text holds: \"array, 3 values read\"\n"
    "  format  writes the value again, compact (the default) or indented,\n"
    "          characters as UTF-8 (or escaped, --ascii)\n"
    "\n"
    "The first fault stops the read with \"quorvel: FILE:LINE:COLUMN: what\n"
    "went wrong (error 9)\" and exit status 1. Numbers stay exact where a\n"
    "Decimal holds them (up to 28 decimal places and 29 digits) and are\n"
    "otherwise read as Doubles, written back in the shortest form that\n"
    "reads as the same Double; a number beyond a Double is a fault.\n"
    "Containers may nest 1000 deep. format keeps members in the order of\n"
    "the text, repeated names included.\n"
    "\n"
    "Both stream: they hold a piece of the input (1 MiB at most) and the\n"
    "open containers, whatever the size of the text. With --lenient the\n"
    "whole text and its value are held.\n",
    kOptions,
};

// Counts what a strict read finds and remembers what stands at the top.
class Counter : public JSON::StrictHandler {
 public:
  void BeginObject() override { Count("object"); }
  void Key(std::u16string_view) override {}
  void EndObject() override {}
  void BeginArray() override { Count("array"); }
  void EndArray() override {}
  void Text(std::u16string_view) override { Count("string"); }
  void Scalar(const Value& value) override {
    Count(value.IsNull()                  ? "null"
          : value.kind() == Kind::Boolean ? "Boolean"
                                          : "number");
  }

  std::string Summary() const {
    return top_ + ", " + std::to_string(values_) +
           (values_ == 1 ? " value read" : " values read");
  }

 private:
  void Count(const char* what) {
    if (values_++ == 0) top_ = what;
  }

  int64_t values_ = 0;
  std::string top_;
};

// Counts the values of a tree the lenient reader built, containers
// included.
int64_t CountValues(const Value& v) {
  int64_t n = 1;
  if (!v.IsObject() || v.IsNothing()) return n;
  if (const Dictionary* dict = dynamic_cast<const Dictionary*>(v.object())) {
    for (const Dictionary::Entry& entry : *dict) n += CountValues(entry.value);
  } else if (const CArray* list = dynamic_cast<const CArray*>(v.object())) {
    for (int32_t i = 0; i < list->Count(); ++i) n += CountValues(list->Item(i));
  }
  return n;
}

}  // namespace

int RunJson(std::span<char*> raw) {
  const Args args(kSpec, raw);
  if (args.help()) return kExitOk;
  const std::string_view action = args.Action("check|format");
  const JsonStyle style = StyleFrom(args);
  return Filter(args, action, [&](Input& input, Output& out) {
    if (args.Has("--lenient")) {
      const Value tree = ReadLenientJsonWithWarning(input);
      if (action == "check") {
        out.Write((TypeName(tree) == u"Dictionary" ? "object, " : "array, ") +
                  std::to_string(CountValues(tree)) + " values read\n");
      } else {
        JsonWriter writer(out, style);
        writer.Tree(tree);
        writer.EndText();
      }
    } else if (action == "check") {
      Counter counter;
      JsonSource(input).Read(counter);
      out.Write(counter.Summary() + "\n");
    } else {
      JsonWriter writer(out, style);
      JsonSource(input).Read(writer);
      writer.EndText();
    }
  });
}

}  // namespace quorvel::cli
