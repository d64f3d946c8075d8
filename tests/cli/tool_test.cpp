// The tool as a whole: help, version, usage errors, failed writes, input
// errors, output files and signals.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "cli/tool_runner.h"

namespace quorvel::testing {
namespace {

const char kFull[] =
    "quorvel: standard output: No space left on device (error 61)\n";
const std::vector<std::string> kVerbs = {"demo", "json", "csv",      "base64",
                                         "lzss", "rc4",  "verhoeff", "msgpack",
                                         "kv",   "docs"};

TEST(CliTest, HelpAndVersion) {
  QUORVEL_REQUIRE_TOOL();
  std::vector<std::string> runs = {"json -h", "csv sort --bogus --help",
                                   "--help lzss"};
  for (const std::string& verb : kVerbs)
    runs.insert(runs.end(), {verb + " --help", "help " + verb});
  for (const std::string& run : runs) {
    const ToolResult r = Tool(run);
    const std::string verb =
        Words(run)[run.starts_with("-") || run.starts_with("help ")];
    EXPECT_EQ(r.status, 0) << run;
    EXPECT_TRUE(r.out.starts_with("usage: quorvel " + verb)) << run;
    EXPECT_NE(r.out.find("  -h, --help "), std::string::npos) << run;
    EXPECT_EQ(r.err, "") << run;
  }
  ToolResult r = Tool("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(
      std::regex_match(r.out, std::regex("quorvel \\d+\\.\\d+\\.\\d+\n")))
      << r.out;
  r = Tool("help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("commands:\n"), std::string::npos);
  r = RunQuorvel({});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.err.starts_with("usage: quorvel COMMAND"));
  // Help and the version that cannot be written are failures too.
  for (const char* run : {"help", "--version", "lzss --help", "help json"}) {
    r = Tool(run, {.stdout_path = "/dev/full"});
    EXPECT_EQ(r.status, 1) << run;
    EXPECT_EQ(r.err, kFull) << run;
  }
}

// Mistakes in the arguments exit with 2, naming the verb they concern; the
// common options may come before the command, which gets them.
TEST(CliTest, UsageErrorsExitWithTwo) {
  QUORVEL_REQUIRE_TOOL();
  const std::pair<std::string, std::string> cases[] = {
      {"--bogus json", "unknown option '--bogus'"},
      {"--quiet", "say which command"},
      {"-o", "option '-o' needs a value (FILE)"},
      {"frobnicate", "unknown command 'frobnicate'"},
      {"json", "say what to do: check|format"},
      {"json check a b", "one input at most, not 'a' and 'b'"},
      {"json format --indent=17",
       "option '--indent' takes a number from 0 to 16, not '17'"},
      {"json check --lenient=yes", "option '--lenient' takes no value"},
      {"rc4 encrypt", "--key KEY is required"},
      {"rc4 encrypt --key=", "the key is empty"},
      {"csv sort", "sort needs --column C"},
      {"csv to-json --separator ;;",
       "the separator is one character, not a double quote or a line break"},
      {"csv to-json --quote x",
       "--quote takes none (or '\"', the default), not 'x'"},
      {"demo x", "takes no arguments"},
      {"kv a.kv", "say which FILE and what to do"},
      {"kv a.kv put k", "put takes 2 arguments, not 1"},
      {"docs a.db add", "add takes [ID] JSON-OBJECT"},
      // Each option goes with the actions it names in --help.
      {"json check --indent 4",
       "option '--indent' does not go with check (only with format)"},
  };
  for (const auto& [args, what] : cases) {
    const std::string verb = Words(args)[0];
    const std::string name =
        std::find(kVerbs.begin(), kVerbs.end(), verb) == kVerbs.end()
            ? "quorvel"
            : "quorvel " + verb;
    Expect({args, "", 2, "",
            name + ": " + what + "\nTry '" + name + " --help'.\n"});
  }
  ScratchDir dir;
  const ToolResult r = Tool("--quiet -o " + dir.Path("out") + " base64 encode",
                            {.input = "Man"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir.Path("out")), "TWFu\n");
}

// Input echoed in a message is escaped, whole past a NUL byte, and cut
// short past 40 characters; a file that cannot be read is named.
TEST(CliTest, MessagesShowInputSafely) {
  QUORVEL_REQUIRE_TOOL();
  const std::string digits(2000000, '7');
  const std::string at = "quorvel: standard input:1: '";
  const std::string not_digits = " is not a string of digits (error 9)\n";
  const std::string cut = "\xE2\x80\xA6' (";
  for (const auto& [input, shown] :
       std::vector<std::pair<std::string, std::string>>{
           {std::string("12\0ab", 5), "12\\x00ab'"},
           {"\x1B[2J\xC2\x9B"
            "1m\\",
            "\\x1B[2J\\u009B1m\\\\'"},
           {digits.substr(0, 39) + "x", digits.substr(0, 39) + "x'"},
           {digits.substr(0, 40) + "x",
            digits.substr(0, 40) + cut + "41 characters)"},
           {digits + "x",
            digits.substr(0, 40) + cut + "2,000,001 characters)"}})
    Expect({"verhoeff generate", input + "\n", 1, "", at + shown + not_digits});
  Expect({"json ch\x1B[1meck\xFF", "", 2, "",
          "quorvel json: unknown action 'ch\\x1B[1meck\\xFF' (check|format)\n"
          "Try 'quorvel json --help'.\n"});
  Expect({"json check no\nsuch\x07", "", 1, "",
          "quorvel: no\\nsuch\\x07: No such file or directory (error 53)\n"});
  Expect({"lzss compress /", "", 1, "",
          "quorvel: /: Is a directory (error 75)\n"});
}

TEST(CliTest, FailedWritesAreErrors) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  const std::string kv = dir.Path("a.kv"), db = dir.Path("a.db");
  ASSERT_EQ(RunQuorvel({"kv", kv, "put", "k", "v"}).status, 0);
  ASSERT_EQ(RunQuorvel({"docs", db, "add", "{\"a\":\"x\"}"}).status, 0);
  // Each run, with its standard input after '|'.
  for (const std::string run :
       {"json check|[1]", "csv to-json|a,b\n1,2\n", "base64 decode|YWJj",
        "lzss compress|abc", "rc4 encrypt --key k|abc",
        "verhoeff generate 236|", "msgpack encode|[1]", "demo|", "kv KV get k|",
        "kv KV list|", "kv KV dump|", "kv KV compact|", "docs DB list|",
        "docs DB export|", "docs DB dump|", "docs DB get DOC000001|",
        "docs DB find a \"x\"|"}) {
    const std::string input = run.substr(run.find('|') + 1);
    std::vector<std::string> args = Words(run.substr(0, run.find('|')));
    for (std::string& a : args) a = a == "KV" ? kv : a == "DB" ? db : a;
    ToolResult r =
        RunQuorvel(args, {.input = input, .stdout_path = "/dev/full"});
    EXPECT_EQ(r.status, 1) << run;
    EXPECT_EQ(r.err, kFull) << run;
    if (args[0] == "demo") continue;  // no -o
    args.insert(args.end(), {"-o", "/dev/full"});
    r = RunQuorvel(args, {.input = input});
    EXPECT_EQ(r.status, 1) << run;
    EXPECT_EQ(r.err,
              "quorvel: /dev/full: No space left on device (error 61)\n");
  }
  // A reader that went away: with SIGPIPE ignored the write fails and says
  // so; otherwise SIGPIPE ends the tool quietly, as it does any filter.
  const std::string big(1 << 20, 'x');
  ToolResult r =
      Tool("base64 encode",
           {.input = big, .ignore_sigpipe = true, .stdout_closed = true});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quorvel: standard output: Broken pipe (error 57)\n");
  r = Tool("base64 encode", {.input = big, .stdout_closed = true});
  EXPECT_EQ(r.status, 128 + SIGPIPE);
  EXPECT_EQ(r.err, "");
}

// A failed or interrupted run leaves the old output file and no temporary
// file; a new file gets the usual mode, a replaced one keeps its own.
TEST(CliTest, AnOutputFileIsReplacedOnlyWhenComplete) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  const std::string out = dir.Path("out.json");
  const auto entries = [&] {
    return std::distance(std::filesystem::directory_iterator(dir.path()), {});
  };
  ToolResult r = Tool("json format -o " + out, {.input = "[1, 2]"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(out), "[1,2]\n");
  struct stat st;
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
  chmod(out.c_str(), 0600);
  r = Tool("json format --output=" + out, {.input = "[3]"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFile(out), "[3]\n");
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Its first bytes were written when the run failed.
  r = Tool("json format -o " + out,
           {.input = "[" + std::string(1 << 20, ' ') + "1, 2, x]"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadFile(out), "[3]\n");
  EXPECT_EQ(
      Tool("lzss decompress -o " + dir.Path("new"), {.input = "x"}).status, 1);
  EXPECT_EQ(entries(), 1);
  // Reading and writing one file works; a link keeps pointing at it.
  WriteFile(dir.Path("same.json"), "[ 4 ]");
  std::filesystem::create_symlink("same.json", dir.Path("link.json"));
  r = Tool("json format -o " + dir.Path("link.json") + " " +
           dir.Path("same.json"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::filesystem::is_symlink(dir.Path("link.json")));
  EXPECT_EQ(ReadFile(dir.Path("same.json")), "[4]\n");
  // A signal while the input stalls.
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    r = Tool("base64 encode -o " + out, {.input = std::string(100000, 'a'),
                                         .later = {{3000, "b"}},
                                         .signal = sig,
                                         .signal_after_ms = 500});
    EXPECT_EQ(r.status, 128 + sig);
    EXPECT_EQ(ReadFile(out), "[3]\n");
    EXPECT_EQ(entries(), 3);
  }
}

}  // namespace
}  // namespace quorvel::testing
