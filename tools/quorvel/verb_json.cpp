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
    "went wrong (error 9)\" and exit status 1. format changes no number:\n"
    "one a Decimal holds (up to 28 decimal places and 29 digits) is\n"
    "written in its exact form (-0 kept), any other as the text had it; a\n"
    "number beyond a Double is a fault.\n"
    "Containers may nest 1000 deep. format keeps members in the order of\n"
    "the text, repeated names included.\n"
    "\n"
    "Both stream: they hold a piece of the input (1 MiB at most, a long\n"
    "string included) and the open containers, whatever the size of the\n"
    "text. With --lenient the\n"
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
  // A string is counted, never held: one of any length costs a piece.
  bool TakesTextInPieces() const override { return true; }
  void TextPiece(std::u16string_view, bool last) override {
    if (last) Count("string");
  }
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

// Hands a strict read on to the standard writer, but for a number that no
// Value holds exactly (one a Double would round), which keeps the text it
// has: formatting changes no number.
class Formatter : public JSON::StrictHandler {
 public:
  Formatter(const JSON::StrictReader& reader, JSON::StandardWriter& out)
      : reader_(reader), out_(out) {}
  void BeginObject() override { out_.BeginObject(); }
  void Key(std::u16string_view name) override { out_.Key(name); }
  void EndObject() override { out_.EndObject(); }
  void BeginArray() override { out_.BeginArray(); }
  void EndArray() override { out_.EndArray(); }
  void Text(std::u16string_view text) override { out_.Text(text); }
  bool TakesTextInPieces() const override { return true; }
  void TextPiece(std::u16string_view text, bool last) override {
    out_.TextPiece(text, last);
  }
  void Scalar(const Value& value) override {
    if (value.kind() == Kind::Double && !reader_.number_exact()) {
      out_.NumberText(reader_.number_text());
    } else {
      out_.Scalar(value);
    }
  }

 private:
  const JSON::StrictReader& reader_;
  JSON::StandardWriter& out_;
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
  const JSON::StandardStyle style = StyleFrom(args);
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
      JsonSource source(input);
      Formatter formatter(source.reader(), writer.events());
      source.Read(formatter);
      writer.EndText();
    }
  });
}

}  // namespace quorvel::cli
