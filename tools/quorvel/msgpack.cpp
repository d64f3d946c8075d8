// `quorvel msgpack encode|decode [FILE|-]`: the library's MessagePack
// dialect from the shell. `encode` reads JSON text and writes the bytes;
// `decode` reads the bytes and writes JSON, so that
// `quorvel msgpack encode a.json | quorvel msgpack decode` shows what a
// document database would store for it.
#include "quorvel/msgpack.h"

#include <charconv>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "quorvel/json.h"
#include "quorvel/json_strict.h"

namespace quorvel::cli {
namespace {

constexpr OptionSpec kOptions[] = {
    {"--lenient", "",
     "encode: read the JSON text with the library's lenient reader, exactly "
     "as it is"},
    kIndentOption,
    kAsciiOption,
};

constexpr VerbSpec kSpec = {
    "msgpack",
    "msgpack encode [OPTIONS] [FILE|-]\n"
    "msgpack decode [OPTIONS] [FILE|-]",
    "The library's MessagePack dialect, the body format of its document\n"
    "database files.\n"
    "  encode  reads one JSON value (UTF-8, read strictly as json check\n"
    "          reads it) and writes its bytes\n"
    "  decode  reads values one after another and writes each as a line of\n"
    "          JSON\n"
    "The dialect's strings are Windows-1252: a character without a byte\n"
    "there is an error naming it and the place of its string, never a '?'.\n"
    "Numbers travel as Currency (at most 4 decimal places) or else as\n"
    "Doubles; a number neither holds exactly is an error, as are strings of\n"
    "more than 65,535 bytes and containers of more than 65,535 members.\n"
    "\n"
    "encode holds the whole value in memory: the format writes each\n"
    "container's count before its members. decode holds one value at a\n"
    "time.\n",
    kOptions,
};

// The numbers MessagePack here holds: a Decimal of at most four places in
// the Currency range (written as Currency), or the Double that reads back
// as the same number. Returns nothing for any other.
std::optional<Value> Portable(const Value& number) {
  if (number.kind() != Kind::Decimal) return number;
  const Decimal d = number.decimal();
  try {
    if (d.scale() <= 4) {
      d.ToCurrency();  // raises beyond the Currency range
      return number;
    }
  } catch (const Error&) {
  }
  const double x = d.ToDouble();
  char text[32];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, x);
  try {
    const std::optional<Decimal> back =
        Decimal::Parse(FromUtf8(std::string_view(text, r.ptr - text)));
    if (back && *back == d) return Value(x);
  } catch (const Error&) {
  }
  return std::nullopt;
}

// Builds the value of a strict read, refusing what the dialect cannot hold
// at the place of the token that holds it.
class PortableBuilder : public JSON::TreeBuilder {
 public:
  PortableBuilder(const JSON::StrictReader& reader, const std::string& name)
      : reader_(reader), name_(name) {}

  void Key(std::u16string_view name) override {
    Check(name);
    TreeBuilder::Key(name);
  }
  void Text(std::u16string_view text) override {
    Check(text);
    TreeBuilder::Text(text);
  }
  void Scalar(const Value& value) override {
    std::optional<Value> portable = Portable(value);
    if (!portable) {
      Fail("the number " + ToUtf8(ToText(value)) +
           " is neither a Currency (4 decimal places) nor a Double exactly");
    }
    TreeBuilder::Scalar(*portable);
  }

 private:
  void Check(std::u16string_view text) {
    const std::optional<Unmappable> bad = FindUnmappable(text);
    if (!bad) return;
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X",
                  static_cast<unsigned>(bad->character));
    const bool surrogate = bad->character >= 0xD800 && bad->character < 0xE000;
    std::string what = "character " + std::string(code);
    if (!surrogate) {
      what += " (" +
              ToUtf8(text.substr(bad->index, bad->character > 0xFFFF ? 2 : 1)) +
              ")";
    }
    Fail(what +
         " of this string has no Windows-1252 byte, which MessagePack "
         "strings here are made of");
  }

  [[noreturn]] void Fail(const std::string& what) {
    throw Failure(Place(name_, reader_.token_line(), reader_.token_column()),
                  what, kErrInvalidCall);
  }

  const JSON::StrictReader& reader_;
  const std::string& name_;
};

// The same checks on a tree the lenient reader built, without places.
void CheckTree(const Value& v, const std::string& name) {
  const auto check_text = [&](std::u16string_view text) {
    if (const std::optional<Unmappable> bad = FindUnmappable(text)) {
      char what[96];
      std::snprintf(what, sizeof what,
                    "character U+%04X of a string has no Windows-1252 byte",
                    static_cast<unsigned>(bad->character));
      throw Failure(name, what, kErrInvalidCall);
    }
  };
  if (v.IsString()) check_text(v.string_view());
  if (v.kind() == Kind::Decimal && !Portable(v)) {
    throw Failure(name,
                  "the number " + ToUtf8(ToText(v)) +
                      " is neither a Currency nor a Double exactly",
                  kErrInvalidCall);
  }
  if (const Dictionary* dict = dynamic_cast<const Dictionary*>(v.object())) {
    for (const Dictionary::Entry& entry : *dict) {
      check_text(entry.key.view());
      CheckTree(entry.value, name);
    }
  } else if (const CArray* list = dynamic_cast<const CArray*>(v.object())) {
    for (int32_t i = 0; i < list->Count(); ++i) CheckTree(list->Item(i), name);
  }
}

Value ReadValue(Input& input, bool lenient) {
  if (lenient) {
    const Value tree = JSON::Parse(InputText(input).ReadAll());
    if (tree.IsNothing()) {
      throw Failure(input.name(),
                    "the text does not begin with an object or an array",
                    kErrSubscript);
    }
    CheckTree(tree, input.name());
    return tree;
  }
  JsonSource source(input);
  PortableBuilder builder(source.reader(), input.name());
  source.Read(builder);
  return builder.Take();
}

void Encode(Input& input, Output& out, bool lenient) {
  const Value value = ReadValue(input, lenient);
  std::vector<uint8_t> bytes;
  try {
    bytes = mMsgPack::EncodeBytes(value);
  } catch (const Error& e) {
    FailAt(input.name(), e);
  }
  out.Write(bytes.data(), bytes.size());
}

// Decodes the values of the input one after another. A value cut by the
// end of what has been read is tried again with twice as much.
void Decode(Input& input, Output& out, const JsonStyle& style) {
  std::vector<uint8_t> held;
  size_t at = 0;
  uint64_t consumed = 0;  // input bytes before held[0]
  bool ended = false;
  const auto read_more = [&](size_t want) {
    while (!ended && held.size() - at < want) {
      const std::span<const uint8_t> piece = input.Next();
      ended = piece.empty();
      held.insert(held.end(), piece.begin(), piece.end());
    }
  };
  JsonWriter writer(out, style);
  size_t want = kChunk;
  for (;;) {
    read_more(want);
    if (at == held.size()) break;
    size_t position = at;
    try {
      const Value value = mMsgPack::DecodeAt(held, position);
      writer.Tree(value);
      writer.EndText();
      at = position;
      want = kChunk;
    } catch (const Error& e) {
      if (e.number() == kErrSubscript && !ended) {
        want = 2 * (held.size() - at);
        continue;
      }
      throw Failure(input.name(),
                    ToUtf8(e.description()) + " in the value at offset " +
                        std::to_string(consumed + at),
                    e.number());
    }
    if (at > kChunk) {
      held.erase(held.begin(), held.begin() + static_cast<ptrdiff_t>(at));
      consumed += at;
      at = 0;
    }
  }
}

}  // namespace

int RunMsgPack(std::span<char*> raw) {
  const Args args(kSpec, raw);
  if (args.help()) return kExitOk;
  const std::string_view action = args.Action("encode|decode");
  const JsonStyle style = StyleFrom(args);
  return Filter(args, action, [&](Input& input, Output& out) {
    if (action == "encode") {
      Encode(input, out, args.Has("--lenient"));
    } else {
      Decode(input, out, style);
    }
  });
}

}  // namespace quorvel::cli
