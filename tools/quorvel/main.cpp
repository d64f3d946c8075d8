// quorvel: the library's values, codecs and database files from the shell.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <string_view>

#include "cli.h"

namespace quorvel::cli {
namespace {

struct CommandEntry {
  const char* name;
  Command run;
  const char* summary;
};

constexpr CommandEntry kCommands[] = {
    {"demo", &RunDemo, "show values, conversions and a CDict, by late binding"},
    {"json", &RunJson, "check JSON text, or write it compact or indented"},
    {"csv", &RunCsv, "CSV to JSON, or CSV sorted by a column"},
    {"base64", &RunBase64, "Base64 text of a file, and back"},
    {"msgpack", &RunMsgPack, "JSON to MessagePack bytes, and back"},
    {"lzss", &RunLzss, "compress or decompress a file (LZSS)"},
    {"rc4", &RunRc4, "encrypt a file to hex text with a key, and back (RC4)"},
    {"verhoeff", &RunVerhoeff, "generate or validate Verhoeff check digits"},
    {"kv", &RunKv, "get, put, delete, list, compact or dump a KxKVDB file"},
    {"docs", &RunDocs,
     "add, get, set, find, delete, list, export, compact or dump documents"},
};

int Usage(FILE* out) {
  std::fprintf(out,
               "usage: quorvel COMMAND [ARGS]\n"
               "       quorvel COMMAND --help\n"
               "       quorvel --version\n\ncommands:\n");
  for (const CommandEntry& c : kCommands)
    std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
  return out == stdout ? kExitOk : kExitUsage;
}

const CommandEntry* Find(std::string_view name) {
  for (const CommandEntry& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

int Run(const CommandEntry& c, std::span<char*> args) {
  int status;
  try {
    status = c.run(args);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "quorvel %s: %s\nTry 'quorvel %s --help'.\n",
                 e.verb().c_str(), e.what(), e.verb().c_str());
    return kExitUsage;
  } catch (const Failure& f) {
    Report(f.where(), f.what_happened(), f.number());
    return kExitFailure;
  } catch (const Error& e) {
    Report(CurrentInput(), ToUtf8(e.description()), e.number());
    return kExitFailure;
  } catch (const std::bad_alloc&) {
    Report(CurrentInput(), ToUtf8(StandardDescription(kErrOutOfMemory)),
           kErrOutOfMemory);
    return kExitFailure;
  }
  // What went to standard output through stdio (the demo, kv and docs).
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const int err = errno != 0 ? errno : EIO;
    Report("standard output", std::strerror(err), FileErrorNumber(err));
    return kExitFailure;
  }
  return status;
}

}  // namespace
}  // namespace quorvel::cli

int main(int argc, char** argv) {
  using namespace quorvel::cli;
  if (argc < 2) return Usage(stderr);
  const std::string_view name = argv[1];
  if (name == "--version") {
    std::printf("quorvel %s\n", QUORVEL_VERSION);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
  }
  if (name == "help" || name == "--help" || name == "-h") {
    // "quorvel help VERB" is "quorvel VERB --help".
    if (argc > 2) {
      if (const CommandEntry* c = Find(argv[2])) {
        char help[] = "--help";
        char* args[] = {help};
        return Run(*c, args);
      }
    }
    return Usage(stdout);
  }
  if (const CommandEntry* c = Find(name))
    return Run(*c, std::span<char*>(argv + 2, argc - 2));
  std::fprintf(stderr, "quorvel: unknown command '%s'\n", argv[1]);
  return Usage(stderr);
}
