// The tool as a whole: help, version, usage errors, failed writes, input
// errors, output files, signals and progress.
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "cli/tool_runner.h"
#include "quorvel/base64.h"
#include "quorvel/lzss.h"

namespace quorvel::testing {
namespace {

const std::vector<std::string> kVerbs = {"demo", "json", "csv",      "base64",
                                         "lzss", "rc4",  "verhoeff", "msgpack",
                                         "kv",   "docs"};

TEST(CliTest, HelpAndVersionGoToStandardOutput) {
  QUORVEL_REQUIRE_TOOL();
  std::vector<std::vector<std::string>> runs = {
      {"json", "-h"}, {"csv", "sort", "--bogus", "--help"}};
  for (const std::string& verb : kVerbs) {
    runs.push_back({verb, "--help"});
    runs.push_back({"help", verb});
  }
  for (const std::vector<std::string>& args : runs) {
    const std::string verb = args[0] == "help" ? args[1] : args[0];
    const ToolResult r = RunQuorvel(args);
    EXPECT_EQ(r.status, 0) << verb;
    EXPECT_EQ(r.out.rfind("usage: quorvel " + verb, 0), 0u) << r.out;
    EXPECT_NE(r.out.find("  -h, --help "), std::string::npos) << verb;
    EXPECT_EQ(r.err, "") << verb;
  }
  ToolResult r = RunQuorvel({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(
      std::regex_match(r.out, std::regex("quorvel [0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << r.out;
  r = RunQuorvel({"help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("commands:\n"), std::string::npos);
  r = RunQuorvel({});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("usage: quorvel COMMAND", 0), 0u);
  r = RunQuorvel({"frobnicate"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("quorvel: unknown command 'frobnicate'\n", 0), 0u);
  // Help and the version that cannot be written are failures too.
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"help"},
                                             {"--help"},
                                             {"--version"},
                                             {"lzss", "--help"},
                                             {"help", "json"},
                                             {"--help", "csv"}}) {
    r = RunQuorvel(args, {.stdout_path = "/dev/full"});
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.err,
              "quorvel: standard output: No space left on device (error 61)\n")
        << args[0];
  }
}

// The common options may come before the command, which gets them.
TEST(CliTest, CommonOptionsMayComeFirst) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  ToolResult r = RunQuorvel(
      {"--quiet", "-o", dir.Path("out"), "base64", "encode"}, {.input = "Man"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir.Path("out")), "TWFu\n");
  r = RunQuorvel({"--output=" + dir.Path("out"), "--help", "lzss"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: quorvel lzss", 0), 0u);
  const std::pair<std::vector<std::string>, std::string> mistakes[] = {
      {{"--bogus", "json"}, "unknown option '--bogus'"},
      {{"--quiet"}, "say which command"},
      {{"-o"}, "option '-o' needs a value (FILE)"},
      {{"help", "frob"}, "unknown command 'frob'"},
  };
  for (const auto& [args, what] : mistakes) {
    r = RunQuorvel(args);
    EXPECT_EQ(r.status, 2) << what;
    EXPECT_EQ(r.err, "quorvel: " + what + "\nTry 'quorvel --help'.\n");
  }
}

// Input echoed in a message is escaped, whole past a NUL byte, and cut
// short when long.
TEST(CliTest, MessagesShowInputSafely) {
  QUORVEL_REQUIRE_TOOL();
  const std::string digits(2000000, '7');
  const ToolCase cases[] = {
      {{"verhoeff", "generate"},
       std::string("12\0ab\n", 6),
       1,
       "",
       "quorvel: standard input:1: '12\\x00ab' is not a string of digits "
       "(error 9)\n"},
      {{"verhoeff", "generate"},
       "\x1B[2J\xC2\x9B"
       "1m\\\n",
       1,
       "",
       "quorvel: standard input:1: '\\x1B[2J\\u009B1m\\\\' is not a string "
       "of digits (error 9)\n"},
      {{"verhoeff", "generate"},
       digits + "x\n",
       1,
       "",
       "quorvel: standard input:1: '" + digits.substr(0, 40) +
           "\xE2\x80\xA6' (2,000,001 characters) is not a string of digits "
           "(error 9)\n"},
      {{"json", "ch\x1B[1meck\xFF"},
       "",
       2,
       "",
       "quorvel json: unknown action 'ch\\x1B[1meck\\xFF' (check|format)\n"
       "Try 'quorvel json --help'.\n"},
      {{"json", "check", "no\nsuch\x07"},
       "",
       1,
       "",
       "quorvel: no\\nsuch\\x07: No such file or directory (error 53)\n"},
  };
  for (const ToolCase& c : cases) ExpectTool(c);
}

TEST(CliTest, UsageErrorsExitWithTwo) {
  QUORVEL_REQUIRE_TOOL();
  struct Case {
    std::vector<std::string> args;
    const char* verb;
    const char* what;
  };
  const Case cases[] = {
      {{"json"}, "json", "say what to do: check|format"},
      {{"json", "frob"}, "json", "unknown action 'frob' (check|format)"},
      {{"json", "check", "--bogus"}, "json", "unknown option '--bogus'"},
      {{"json", "check", "a", "b"},
       "json",
       "one input at most, not 'a' and 'b'"},
      {{"json", "format", "--indent", "x"},
       "json",
       "option '--indent' takes a number from 0 to 16, not 'x'"},
      {{"json", "format", "--indent=17"},
       "json",
       "option '--indent' takes a number from 0 to 16, not '17'"},
      {{"json", "format", "--indent"},
       "json",
       "option '--indent' needs a value (N)"},
      {{"json", "check", "--lenient=yes"},
       "json",
       "option '--lenient' takes no value"},
      {{"json", "check", "-o"}, "json", "option '-o' needs a value (FILE)"},
      {{"rc4", "encrypt"}, "rc4", "--key KEY is required"},
      {{"rc4", "encrypt", "--key="}, "rc4", "the key is empty"},
      {{"csv", "sort"}, "csv", "sort needs --column C"},
      {{"csv", "to-json", "--separator", ";;"},
       "csv",
       "the separator is one character, not a double quote or a line break"},
      {{"csv", "to-json", "--separator", "\""},
       "csv",
       "the separator is one character, not a double quote or a line break"},
      {{"base64", "encode", "--wrap", "-1"},
       "base64",
       "option '--wrap' takes a number from 0 to 1048576, not '-1'"},
      {{"demo", "x"}, "demo", "takes no arguments"},
      {{"verhoeff"}, "verhoeff", "say what to do: generate|validate"},
      {{"msgpack", "pack"}, "msgpack", "unknown action 'pack' (encode|decode)"},
      {{"kv", "a.kv"}, "kv", "say which FILE and what to do"},
      {{"kv", "a.kv", "frob"},
       "kv",
       "unknown action 'frob' (get|put|delete|list|compact|dump)"},
      {{"kv", "a.kv", "put", "k"}, "kv", "put takes 2 arguments, not 1"},
      {{"docs", "a.db", "get"}, "docs", "get takes 1 argument, not 0"},
      {{"docs", "a.db", "add"}, "docs", "add takes [ID] JSON-OBJECT"},
      // Each option goes with the actions it names in --help.
      {{"json", "check", "--indent", "4"},
       "json",
       "option '--indent' does not go with check (only with format)"},
      {{"base64", "encode", "--strict"},
       "base64",
       "option '--strict' does not go with encode (only with decode)"},
      {{"base64", "decode", "--wrap=0"},
       "base64",
       "option '--wrap' does not go with decode (only with encode)"},
      {{"msgpack", "decode", "--lenient"},
       "msgpack",
       "option '--lenient' does not go with decode (only with encode)"},
      {{"csv", "to-json", "--numeric"},
       "csv",
       "option '--numeric' does not go with to-json (only with sort)"},
      {{"docs", "a.db", "list", "--ascii"},
       "docs",
       "option '--ascii' does not go with list (only with get, export)"},
      {{"csv", "to-json", "--quote", "x"},
       "csv",
       "--quote takes none (or '\"', the default), not 'x'"},
      {{"csv", "to-json", "--comment", ";;"},
       "csv",
       "the comment character is one character, not a double quote or a "
       "line break"},
      {{"csv", "to-json", "--comment", ","},
       "csv",
       "the comment character is not the separator"},
  };
  for (const Case& c : cases) {
    const ToolResult r = RunQuorvel(c.args);
    EXPECT_EQ(r.status, 2) << c.what;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("quorvel ") + c.verb + ": " + c.what +
                         "\nTry 'quorvel " + c.verb + " --help'.\n");
  }
}

TEST(CliTest, FailedWritesAreErrors) {
  QUORVEL_REQUIRE_TOOL();
  struct Case {
    std::vector<std::string> args;
    std::string input;
  };
  const Case cases[] = {
      {{"json", "format"}, "[1]"},
      {{"json", "check"}, "[1]"},
      {{"csv", "to-json"}, "a,b\n1,2\n"},
      {{"csv", "sort", "--column", "a"}, "a\n1\n"},
      {{"base64", "encode"}, "abc"},
      {{"base64", "decode"}, "YWJj"},
      {{"lzss", "compress"}, "abc"},
      {{"rc4", "encrypt", "--key", "k"}, "abc"},
      {{"verhoeff", "generate", "236"}, ""},
      {{"msgpack", "encode"}, "[1]"},
      {{"demo"}, ""},
  };
  for (const Case& c : cases) {
    ToolResult r =
        RunQuorvel(c.args, {.input = c.input, .stdout_path = "/dev/full"});
    EXPECT_EQ(r.status, 1) << c.args[0];
    EXPECT_EQ(r.err,
              "quorvel: standard output: No space left on device (error 61)\n")
        << c.args[0];
    std::vector<std::string> to_file = c.args;
    to_file.insert(to_file.end(), {"-o", "/dev/full"});
    if (c.args[0] == "demo") continue;
    r = RunQuorvel(to_file, {.input = c.input});
    EXPECT_EQ(r.status, 1) << c.args[0];
    EXPECT_EQ(r.err,
              "quorvel: /dev/full: No space left on device (error 61)\n");
  }
  // A reader that went away: with SIGPIPE ignored the write fails and says
  // so; otherwise SIGPIPE ends the tool quietly, as it does any filter.
  ToolResult r =
      RunQuorvel({"base64", "encode"}, {.input = std::string(1 << 20, 'x'),
                                        .ignore_sigpipe = true,
                                        .stdout_closed = true});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quorvel: standard output: Broken pipe (error 57)\n");
  r = RunQuorvel({"base64", "encode"},
                 {.input = std::string(1 << 20, 'x'), .stdout_closed = true});
  EXPECT_EQ(r.status, 128 + SIGPIPE);
  EXPECT_EQ(r.err, "");
}

TEST(CliTest, InputErrorsNameTheFile) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  for (const std::string& verb : {"json", "base64", "lzss", "msgpack", "csv"}) {
    const std::string action = verb == "json"   ? "check"
                               : verb == "csv"  ? "to-json"
                               : verb == "lzss" ? "compress"
                                                : "decode";
    ToolResult r = RunQuorvel({verb, action, dir.Path("missing")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quorvel: " + dir.Path("missing") +
                         ": No such file or directory (error 53)\n");
    r = RunQuorvel({verb, action, dir.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "quorvel: " + dir.path() + ": Is a directory (error 75)\n");
  }
}

TEST(CliTest, AnOutputFileIsReplacedOnlyWhenComplete) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  const std::string out = dir.Path("out.json");
  const auto entries = [&] {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  };
  // A new file gets the usual mode; a replaced one keeps its own.
  ToolResult r = RunQuorvel({"json", "format", "-o", out}, {.input = "[1, 2]"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(out), "[1,2]\n");
  struct stat st;
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
  chmod(out.c_str(), 0600);
  r = RunQuorvel({"json", "format", "--output=" + out}, {.input = "[3]"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFile(out), "[3]\n");
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A run that fails half-way leaves the old file and no temporary one,
  // although its first bytes were written.
  r = RunQuorvel({"json", "format", "-o", out},
                 {.input = "[" + std::string(1 << 20, ' ') + "1, 2, x]"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadFile(out), "[3]\n");
  EXPECT_EQ(entries(), std::vector<std::string>{"out.json"});
  // Reading and writing one file works; a link keeps pointing at it.
  WriteFile(dir.Path("same.json"), "[ 4 ]");
  std::filesystem::create_symlink("same.json", dir.Path("link.json"));
  r = RunQuorvel(
      {"json", "format", "-o", dir.Path("link.json"), dir.Path("same.json")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::filesystem::is_symlink(dir.Path("link.json")));
  EXPECT_EQ(ReadFile(dir.Path("same.json")), "[4]\n");
  // No directory to put it in.
  r = RunQuorvel({"json", "format", "-o", dir.Path("no/out.json")},
                 {.input = "[1]"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quorvel: " + dir.Path("no/out.json") +
                       ": No such file or directory (error 53)\n");
}

TEST(CliTest, SignalsRemoveTheTemporaryFile) {
  QUORVEL_REQUIRE_TOOL();
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    ScratchDir dir;
    const std::string out = dir.Path("out.b64");
    WriteFile(out, "old");
    // The input stalls, so the signal comes mid-run.
    const ToolResult r = RunQuorvel({"base64", "encode", "-o", out},
                                    {.input = std::string(100000, 'a'),
                                     .later = {{3000, "b"}},
                                     .signal = sig,
                                     .signal_after_ms = 500});
    EXPECT_EQ(r.status, 128 + sig);
    EXPECT_EQ(ReadFile(out), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
  }
}

TEST(CliTest, ProgressOnATerminalOnly) {
  QUORVEL_REQUIRE_TOOL();
  const std::string first(2 << 20, 'a');
  const std::vector<std::pair<int, std::string>> later = {
      {1300, std::string(1 << 20, 'b')}};
  ToolResult r =
      RunQuorvel({"base64", "encode"},
                 {.input = first, .later = later, .stderr_terminal = true});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(std::regex_search(
      r.err, std::regex("\rquorvel base64 encode: [0-9.]+ MiB, [0-9.]+ "
                        "[KMG]?i?B/s\x1b\\[K")))
      << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - 4), "\r\x1b[K");  // cleared
  const size_t chars = 4 * (3 << 20) / 3;
  EXPECT_EQ(r.out.size(), chars + (chars + 75) / 76);
  // --quiet on a terminal, nothing on a pipe; --progress writes lines
  // there.
  r = RunQuorvel({"base64", "encode", "--quiet"},
                 {.input = first, .later = later, .stderr_terminal = true});
  EXPECT_EQ(r.err, "");
  r = RunQuorvel({"base64", "encode"}, {.input = first, .later = later});
  EXPECT_EQ(r.err, "");
  r = RunQuorvel({"base64", "encode", "--progress"},
                 {.input = first, .later = later});
  EXPECT_TRUE(std::regex_match(
      r.err, std::regex("(quorvel base64 encode: [0-9.]+ MiB, [^\n]+/s\n)+")))
      << r.err;
}

// The streaming commands hold a piece of their input, not the input: 64 MiB
// through each leaves the tool far below that. (The sanitizers' own memory
// would drown the figure, so they skip.)
TEST(CliTest, StreamingCommandsHoldLittle) {
  QUORVEL_REQUIRE_TOOL();
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "resident sizes mean nothing under AddressSanitizer";
#endif
  std::string text;
  text.reserve(64 << 20);
  for (int i = 0; text.size() < (64u << 20); ++i)
    text += "{\"n\": " + std::to_string(i) + ", \"s\": \"line of text\"},\n";
  const std::string json = "[" + text + "null]";
  const std::span<const uint8_t> bytes(
      reinterpret_cast<const uint8_t*>(text.data()), text.size());
  const std::string base64 = mBase64::EncodeNarrow(bytes);
  const std::vector<uint8_t> packed = mLZSS::CompressFrame(bytes);
  const std::string lzss(packed.begin(), packed.end());
  struct Run {
    std::vector<std::string> args;
    const std::string& input;
  };
  const Run runs[] = {
      {{"base64", "encode"}, text},
      {{"lzss", "compress"}, text},
      {{"rc4", "encrypt", "--key", "k"}, text},
      {{"json", "format"}, json},
      {{"json", "check"}, json},
      {{"base64", "decode"}, base64},
      {{"lzss", "decompress"}, lzss},
  };
  for (const Run& run : runs) {
    const ToolResult r = RunQuorvel(run.args, {.input = run.input});
    EXPECT_EQ(r.status, 0) << run.args[0];
    EXPECT_GT(r.peak_rss_kb, 0) << run.args[0];
    EXPECT_LT(r.peak_rss_kb, 24 << 10) << run.args[0] << " " << run.args[1];
  }
}

}  // namespace
}  // namespace quorvel::testing
