// `quorvel msgpack encode|decode [FILE|-]`: the library's MessagePack
// dialect from the shell. `encode` reads JSON text and writes the bytes;
// `decode` reads the bytes and writes JSON, so that
// `quorvel msgpack encode a.json | quorvel msgpack decode` shows what a
// document database would store for it.
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "quorvel/json.h"
#include "quorvel/json_strict.h"
#include "quorvel/msgpack.h"

namespace quorvel::cli {
namespace {

constexpr OptionSpec kOptions[] = {
    {"--lenient", "",
     "read the JSON text with the library's lenient reader, exactly as it "
     "is, with a warning where a strict reading differs (as json does)",
     "encode"},
    IndentOption("decode"),
    AsciiOption("decode"),
};

constexpr VerbSpec kSpec = {
    "msgpack",
    "msgpack encode [OPTIONS] [FILE|-]\n"
    "msgpack decode [OPTIONS] [FILE|-]",
    "The library's MessagePack dialect, the body format of its document\n"
    "database files.\n"
    "  encode  reads one JSON value (UTF-8, read strictly as json check\n"
    "          reads it) and writes its bytes; empty input gives empty\n"
    "          output\n"
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

Value ReadValue(Input& input, bool lenient) {
  if (lenient) {
    const Value tree = ReadLenientJsonWithWarning(input);
    return MakePortable(tree, input.name());
  }
  JsonSource source(input);
  PortableTreeBuilder builder(source.reader(), input.name());
  source.Read(builder);
  return builder.Take();
}

void Encode(Input& input, Output& out, bool lenient) {
  if (input.AtEnd()) return;  // empty input, empty output
  const Value value = ReadValue(input, lenient);
  std::vector<uint8_t> bytes;
  try {
    // What the read let through, the encoder checks whole (a container of
    // too many members), so that nothing is rounded or cut.
    bytes = mMsgPack::EncodeBytes(value, {.exact = true});
  } catch (const Error& e) {
    FailAt(input.name(), e);
  }
  out.Write(bytes.data(), bytes.size());
}

// Decodes the values of the input one after another. A value cut by the
// end of what has been read is tried again with twice as much.
void Decode(Input& input, Output& out, const JSON::StandardStyle& style) {
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
      if (e.number() == kErrSubscript) {
        // A read past what is held: more input, or the end inside a value.
        if (!ended) {
          want = 2 * (held.size() - at);
          continue;
        }
        throw Failure(input.name(),
                      "the input ends inside a value that starts at offset " +
                          std::to_string(consumed + at),
                      e.number());
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
  const JSON::StandardStyle style = StyleFrom(args);
  return Filter(args, action, [&](Input& input, Output& out) {
    if (action == "encode") {
      Encode(input, out, args.Has("--lenient"));
    } else {
      Decode(input, out, style);
    }
  });
}

}  // namespace quorvel::cli
