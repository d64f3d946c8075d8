// quorvel: the library's values, codecs and database files from the shell.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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
  std::fprintf(out,
               "\nThe options every command takes (-o/--output FILE, "
               "--progress, --quiet,\n-h/--help) may also come before it.\n");
  return out == stdout ? FinishStandardOutput(kExitOk) : kExitUsage;
}

// Says what is wrong with the arguments before the command.
int UsageMistake(const std::string& what) {
  const std::string line =
      "quorvel: " + Printable(what) + "\nTry 'quorvel --help'.\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  return kExitUsage;
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
    const std::string line = "quorvel " + e.verb() + ": " +
                             Printable(e.what()) + "\nTry 'quorvel " +
                             e.verb() + " --help'.\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
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
  // What went to standard output through stdio (help, the demo, kv, docs).
  return FinishStandardOutput(status);
}

// Runs the command line: the common options first if any, the command and
// its arguments, which get those options too.
int Main(std::span<char*> argv) {
  std::vector<char*> common;
  bool help = false;
  size_t at = 0;
  for (; at < argv.size(); ++at) {
    const std::string_view a = argv[at];
    if (a == "--version") {
      std::printf("quorvel %s\n", QUORVEL_VERSION);
      return FinishStandardOutput(kExitOk);
    }
    if (a == "-h" || a == "--help") {
      help = true;
    } else if (a == "--quiet" || a == "--progress" ||
               a.starts_with("--output=") || a.starts_with("-o=")) {
      common.push_back(argv[at]);
    } else if (a == "-o" || a == "--output") {
      if (at + 1 == argv.size())
        return UsageMistake("option '" + std::string(a) +
                            "' needs a value (FILE)");
      common.push_back(argv[at]);
      common.push_back(argv[++at]);
    } else if (a.starts_with("-") && a != "-") {
      return UsageMistake("unknown option " + Quote(a));
    } else {
      break;
    }
  }
  if (at == argv.size()) {
    if (help) return Usage(stdout);
    return common.empty() ? Usage(stderr) : UsageMistake("say which command");
  }
  std::string_view name = argv[at++];
  // "quorvel help VERB" is "quorvel VERB --help".
  if (name == "help") {
    if (at == argv.size()) return Usage(stdout);
    name = argv[at++];
    help = true;
  }
  const CommandEntry* c = Find(name);
  if (c == nullptr) return UsageMistake("unknown command " + Quote(name));
  std::vector<char*> args = common;
  static char help_option[] = "--help";
  if (help) args.push_back(help_option);
  args.insert(args.end(), argv.begin() + static_cast<ptrdiff_t>(at),
              argv.end());
  return Run(*c, args);
}

}  // namespace
}  // namespace quorvel::cli

int main(int argc, char** argv) {
  // A write past the file size limit (ulimit -f) then fails with EFBIG and
  // is reported against its file like any other failed write, instead of
  // the signal ending the tool with nothing said.
  signal(SIGXFSZ, SIG_IGN);
  return quorvel::cli::Main(std::span<char*>(argv + 1, argc - 1));
}
