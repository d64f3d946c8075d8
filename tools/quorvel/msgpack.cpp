// `quorvel msgpack encode|decode [FILE|-]`: the library's MessagePack
// dialect from the shell. `encode` reads JSON text (UTF-8) and writes the
// bytes; `decode` reads the bytes and writes compact JSON, so
// `quorvel msgpack encode a.json | quorvel msgpack decode` shows what a
// document database would store for it.
#include "quorvel/msgpack.h"

#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "quorvel/json.h"

namespace quorvel::cli {
namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: quorvel msgpack encode [FILE|-]   JSON text to "
               "MessagePack bytes\n"
               "       quorvel msgpack decode [FILE|-]   MessagePack bytes "
               "to compact JSON\n");
  return 2;
}

int WriteBytes(const std::vector<uint8_t>& bytes) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() ||
      std::fflush(stdout) != 0) {
    std::fprintf(stderr, "quorvel: cannot write the output\n");
    return 1;
  }
  return 0;
}

}  // namespace

int RunMsgPack(std::span<char*> args) {
  if (args.empty() || args.size() > 2) return Usage();
  const std::string_view action = args[0];
  const std::string_view file = args.size() == 2 ? args[1] : "-";
  if (action == "encode") {
    std::u16string text;
    if (!ReadTextInput(file, &text)) return 1;
    Value tree = JSON::Parse(text);
    if (tree.IsNothing()) {
      std::fprintf(stderr,
                   "quorvel: the input holds no JSON object or array\n");
      return 1;
    }
    return WriteBytes(mMsgPack::EncodeBytes(tree));
  }
  if (action == "decode") {
    std::string bytes;
    if (!ReadInput(file, &bytes)) return 1;
    Value v = mMsgPack::DecodeBytes(std::span<const uint8_t>(
        reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    PrintLine(JSON::WriteJSON(v));
    return 0;
  }
  return Usage();
}

}  // namespace quorvel::cli
