// quorvel: the library's values, codecs and database files from the shell.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "cli.h"

namespace quorvel::cli {

void Print(std::u16string_view text) {
  std::string bytes = ToUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void PrintLine(std::u16string_view text) {
  Print(text);
  std::fputc('\n', stdout);
}

bool ReadInput(std::string_view file, std::string* bytes) {
  FILE* f = file == "-" ? stdin : std::fopen(std::string(file).c_str(), "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "quorvel: cannot open %.*s: %s\n",
                 static_cast<int>(file.size()), file.data(),
                 std::strerror(errno));
    return false;
  }
  char buffer[1 << 16];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    bytes->append(buffer, got);
  bool ok = !std::ferror(f);
  if (!ok)
    std::fprintf(stderr, "quorvel: cannot read %.*s\n",
                 static_cast<int>(file.size()), file.data());
  if (f != stdin) std::fclose(f);
  return ok;
}

bool ReadTextInput(std::string_view file, std::u16string* text) {
  std::string bytes;
  if (!ReadInput(file, &bytes)) return false;
  std::string_view view = bytes;
  if (view.starts_with("\xEF\xBB\xBF")) view.remove_prefix(3);
  *text = FromUtf8(view);
  return true;
}

void ReportError(const Error& e) {
  std::fprintf(stderr, "quorvel: %s\n", e.what());
}

namespace {

struct CommandEntry {
  const char* name;
  Command run;
  const char* summary;
};

constexpr CommandEntry kCommands[] = {
    {"demo", &RunDemo, "show values, conversions and a CDict, by late binding"},
    {"json", &RunJson, "read JSON leniently and write it compact, or check it"},
    {"csv", &RunCsv, "CSV to JSON, or CSV sorted by a column (CDataset)"},
    {"base64", &RunBase64, "Base64 text of a file, and back"},
    {"msgpack", &RunMsgPack, "JSON to MessagePack bytes, and back"},
    {"lzss", &RunLzss, "compress or decompress a file (LZSS)"},
    {"rc4", &RunRc4, "encrypt a file to hex text with a key, and back (RC4)"},
    {"verhoeff", &RunVerhoeff, "generate or validate a Verhoeff check digit"},
    {"kv", &RunKv, "get, put, delete, list, compact or dump a KxKVDB file"},
    {"docs", &RunDocs,
     "add, get, set, find, delete, list or export documents (KxDocsDB)"},
};

int Usage(FILE* out) {
  std::fprintf(out, "usage: quorvel COMMAND [ARGS]\n\ncommands:\n");
  for (const CommandEntry& c : kCommands)
    std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
  return out == stdout ? 0 : 2;
}

}  // namespace
}  // namespace quorvel::cli

int main(int argc, char** argv) {
  using namespace quorvel::cli;
  if (argc < 2) return Usage(stderr);
  std::string_view name = argv[1];
  if (name == "help" || name == "--help" || name == "-h") return Usage(stdout);
  for (const CommandEntry& c : kCommands) {
    if (name != c.name) continue;
    try {
      return c.run(std::span<char*>(argv + 2, argc - 2));
    } catch (const quorvel::Error& e) {
      ReportError(e);
      return 1;
    }
  }
  std::fprintf(stderr, "quorvel: unknown command '%s'\n", argv[1]);
  return Usage(stderr);
}
