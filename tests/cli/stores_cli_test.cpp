// The kv and docs verbs end to end: what they read never creates a file,
// text reaches the file exactly or not at all, and every failure names the
// file with its number.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/tool_runner.h"
#include "quorvel/kxdocsdb.h"
#include "quorvel/kxkvdb.h"
#include "test_util.h"

namespace quorvel::testing {
namespace {

std::string Quorvel(const std::vector<std::string>& args,
                    const ToolOptions& options = {}) {
  const ToolResult r = RunQuorvel(args, options);
  EXPECT_EQ(r.status, 0) << args[0] << " " << args[2] << ": " << r.err;
  EXPECT_EQ(r.err, "");
  return r.out;
}

TEST(StoresCliTest, ReadingNeverCreatesAFile) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  const std::string kv = dir.Path("typo.kv");
  const std::string docs = dir.Path("typo.db");
  const std::vector<std::vector<std::string>> reads = {
      {"kv", kv, "get", "k"},
      {"kv", kv, "list"},
      {"kv", kv, "dump"},
      {"kv", kv, "delete", "k"},
      {"kv", kv, "compact"},
      {"docs", docs, "get", "DOC000001"},
      {"docs", docs, "find", "a", "1"},
      {"docs", docs, "list"},
      {"docs", docs, "export"},
      {"docs", docs, "dump"},
      {"docs", docs, "delete", "x"},
      {"docs", docs, "set", "x", "a", "1"},
  };
  for (const std::vector<std::string>& args : reads) {
    const ToolResult r = RunQuorvel(args);
    EXPECT_EQ(r.status, 1) << args[2];
    EXPECT_EQ(r.out, "") << args[2];
    EXPECT_EQ(r.err, "quorvel: " + args[1] +
                         ": No such file or directory (error 53)\n")
        << args[2];
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  // Writing creates.
  EXPECT_EQ(Quorvel({"kv", kv, "put", "k", "v"}), "");
  EXPECT_EQ(Quorvel({"docs", docs, "add", "{}"}), "DOC000001\n");
  // A file too short for a database is refused by the dump, with its number.
  WriteFile(dir.Path("short"), "KFKV");
  const ToolResult r = RunQuorvel({"kv", dir.Path("short"), "dump"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "file length 4\n");
  EXPECT_EQ(r.err, "quorvel: " + dir.Path("short") +
                       ": shorter than the two header copies (104 bytes) "
                       "(error 62)\n");
}

TEST(StoresCliTest, AFileThatMayOnlyBeReadIsRead) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  chmod(dir.path().c_str(), 0755);
  const std::string kv = dir.Path("a.kv");
  const std::string docs = dir.Path("a.db");
  Quorvel({"kv", kv, "put", "k", "v"});
  Quorvel({"docs", docs, "add", "{\"a\":1}"});
  chmod(kv.c_str(), 0444);
  chmod(docs.c_str(), 0444);
  const ToolOptions nobody = {.unprivileged = true};
  EXPECT_EQ(Quorvel({"kv", kv, "list"}, nobody), "k\n");
  EXPECT_EQ(Quorvel({"kv", kv, "get", "k"}, nobody), "v\n");
  EXPECT_EQ(Quorvel({"docs", docs, "export"}, nobody),
            "{\"DOC000001\":{\"a\":1}}\n");
  EXPECT_EQ(Quorvel({"docs", docs, "find", "a", "1"}, nobody), "DOC000001\n");
  if (geteuid() != 0 && access(kv.c_str(), W_OK) == 0)
    GTEST_SKIP() << "this user may write a read-only file";
  // A change names the file and why, and leaves it as it was.
  const std::string before = ReadFile(kv);
  ToolResult r = RunQuorvel({"kv", kv, "put", "k", "w"}, nobody);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quorvel: " + kv + ": opened for reading only (error 75)\n");
  EXPECT_EQ(ReadFile(kv), before);
  r = RunQuorvel({"docs", docs, "set", "DOC000001", "a", "2"}, nobody);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "quorvel: " + docs + ": opened for reading only (error 75)\n");
}

TEST(StoresCliTest, TextReachesTheFileExactlyOrNotAtAll) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  const std::string kv = dir.Path("a.kv");
  const std::string docs = dir.Path("a.db");
  // Every Windows-1252 character outside ASCII, through the file and back.
  const std::string latin = "clé Zürich € „quote“ ÿ œ Š";
  Quorvel({"kv", kv, "put", latin, latin + " value"});
  EXPECT_EQ(Quorvel({"kv", kv, "get", latin}), latin + " value\n");
  EXPECT_EQ(Quorvel({"kv", kv, "list"}), latin + "\n");
  Quorvel({"docs", docs, "add", "{\"city\":\"São Paulo\",\"n\":1.5}"});
  EXPECT_EQ(Quorvel({"docs", docs, "get", "doc000001"}),
            "{\"city\":\"São Paulo\",\"n\":1.5}\n");

  const std::string kv_bytes = ReadFile(kv);
  const std::string docs_bytes = ReadFile(docs);
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const auto no_byte = [](const char* what) {
    return std::string(" of ") + what + " has no Windows-1252 byte (error 5)\n";
  };
  const std::string inexact =
      " is neither a Currency (4 decimal places) nor a Double exactly";
  const Case refused[] = {
      {{"kv", kv, "put", "ключ", "v"},
       "quorvel: " + kv + ": character U+043A (к) at position 1" +
           no_byte("the key")},
      {{"kv", kv, "put", "k", "значение 東京"},
       "quorvel: " + kv + ": character U+0437 (з) at position 1" +
           no_byte("the value")},
      {{"kv", kv, "put", "k", "ab😀"},
       "quorvel: " + kv + ": character U+1F600 (😀) at position 3" +
           no_byte("the value")},
      {{"kv", kv, "put", "k\xff", "v"},
       "quorvel: " + kv +
           ": the key: byte 0xFF at offset 1 is not UTF-8 here (the text "
           "must be UTF-8) (error 5)\n"},
      // An encoded surrogate and a sequence cut short, as input text
      // refuses them.
      {{"kv", kv, "put", "k", "ab\xed\xa0\x80"},
       "quorvel: " + kv +
           ": the value: byte 0xED at offset 2 is not UTF-8 here (the text "
           "must be UTF-8) (error 5)\n"},
      {{"kv", kv, "put", "k\xe2\x82", "v"},
       "quorvel: " + kv +
           ": the key: byte 0xE2 at offset 1 is not UTF-8 here (the text "
           "must be UTF-8) (error 5)\n"},
      {{"docs", docs, "add", "{\"city\":\"東京\"}"},
       "quorvel: " + docs +
           ": the document:1:9: character U+6771 (東) at position 1" +
           no_byte("this string")},
      {{"docs", docs, "add", "東京", "{}"},
       "quorvel: " + docs + ": character U+6771 (東) at position 1" +
           no_byte("the id")},
      {{"docs", docs, "set", "DOC000001", "n", "0.12345678901234567891"},
       "quorvel: " + docs +
           ": the value:1:1: the number '0.12345678901234567891'" + inexact +
           " (error 5)\n"},
      // Numbers no Decimal holds, which a Double would round.
      {{"docs", docs, "add", "{\"n\":123456789012345678901234567890}"},
       "quorvel: " + docs + ": the document:1:6: the number " +
           "'123456789012345678901234567890'" + inexact +
           " (a Double reads 1.2345678901234568e+29) (error 5)\n"},
      {{"docs", docs, "add", "{\"n\":79228162514264337593543950336}"},
       "quorvel: " + docs + ": the document:1:6: the number " +
           "'79228162514264337593543950336'" + inexact +
           " (a Double reads 7.922816251426434e+28) (error 5)\n"},
      {{"docs", docs, "add", "{\"n\":2.5e-324}"},
       "quorvel: " + docs + ": the document:1:6: the number '2.5e-324'" +
           inexact + " (a Double reads 5e-324) (error 5)\n"},
      {{"docs", docs, "add", "[1]"},
       "quorvel: " + docs +
           ": the document: a document is a JSON object "
           "(error 13)\n"},
      {{"docs", docs, "add", "{\"a\":1,}"},
       "quorvel: " + docs +
           ": the document:1:8: expected a member name in double quotes, "
           "found '}' (error 9)\n"},
  };
  for (const Case& c : refused) {
    const ToolResult r = RunQuorvel(c.args);
    EXPECT_EQ(r.status, 1) << c.args[3];
    EXPECT_EQ(r.out, "") << c.args[3];
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_EQ(ReadFile(kv), kv_bytes);
  EXPECT_EQ(ReadFile(docs), docs_bytes);
}

TEST(StoresCliTest, MissingKeysAndDocumentsAreErrors) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  const std::string kv = dir.Path("a.kv");
  const std::string docs = dir.Path("a.db");
  Quorvel({"kv", kv, "put", "k", ""});
  // An empty value is a value; a missing key is not.
  EXPECT_EQ(Quorvel({"kv", kv, "get", "k"}), "\n");
  ToolResult r = RunQuorvel({"kv", kv, "get", "nope"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "quorvel: " + kv +
                       ": no key 'nope' in the database (error 32811)\n");
  Quorvel({"kv", kv, "delete", "nope"});  // deleting nothing is fine
  Quorvel({"docs", docs, "add", "{}"});
  for (const std::string& action : {"get", "delete"}) {
    r = RunQuorvel({"docs", docs, action, "DOC000009"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quorvel: " + docs +
                         ": no document 'DOC000009' in the database (error "
                         "32811)\n");
  }
  // Generated ids step past one given by hand.
  Quorvel({"docs", docs, "add", "DOC000002", "{\"a\":1}"});
  EXPECT_EQ(Quorvel({"docs", docs, "add", "{\"a\":2}"}), "DOC000003\n");
  EXPECT_EQ(Quorvel({"docs", docs, "find", "a", "2"}), "DOC000003\n");
  EXPECT_EQ(Quorvel({"docs", docs, "list"}),
            "DOC000001\nDOC000002\nDOC000003\n");
  // Arrays and objects are found by what they hold: names in any order,
  // elements in order, numbers as they are stored.
  Quorvel({"docs", docs, "add",
           "{\"t\":[1,\"x\",{\"k\":null}],\"o\":{\"p\":1.5,\"q\":[]}}"});
  const std::pair<std::vector<std::string>, std::string> finds[] = {
      {{"t", "[1,\"x\",{\"k\":null}]"}, "DOC000004\n"},
      {{"t", "[1.0, \"x\", {\"k\": null}]"}, "DOC000004\n"},
      {{"o", "{\"q\":[],\"p\":1.5}"}, "DOC000004\n"},
      {{"t", "[\"x\",1,{\"k\":null}]"}, ""},
      {{"t", "[1,\"x\",{\"k\":0}]"}, ""},
      {{"t", "[1,\"X\",{\"k\":null}]"}, ""},
      {{"o", "{\"p\":1.5}"}, ""},
      {{"o", "{\"p\":1.5,\"q\":[],\"r\":1}"}, ""},
      {{"a", "[2]"}, ""},
  };
  for (const auto& [find, ids] : finds) {
    EXPECT_EQ(Quorvel({"docs", docs, "find", find[0], find[1]}), ids)
        << find[1];
  }
}

// `put KEY -` takes the value from standard input, as it is: values too
// long for a command line, and '-' itself.
TEST(StoresCliTest, AValueFromStandardInput) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  const std::string kv = dir.Path("a.kv");
  std::string big;
  while (big.size() < (1u << 20)) big += "line of the value\n";
  for (const std::string& value : {big, std::string("-"), std::string("")}) {
    Quorvel({"kv", kv, "put", "k", "-"}, {.input = value});
    EXPECT_TRUE(Quorvel({"kv", kv, "get", "k"}) == value + "\n")
        << value.size();
  }
  const ToolResult r =
      RunQuorvel({"kv", kv, "put", "k", "-"}, {.input = "a\xD0\xB6"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "quorvel: standard input: character U+0436 (\xD0\xB6) at position "
            "2 of the value has no Windows-1252 byte (error 5)\n");
}

TEST(StoresCliTest, CompactSaysTheSizesAndLeavesNoTemporaryFile) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  const std::string kv = dir.Path("a.kv");
  {
    Ref<KxKVDB> db = KxKVDB::Create();
    db->OpenDB(String(FromUtf8(kv)));
    for (int i = 0; i < 200; ++i) db->PutValue(u"k", String(u"value"));
    db->CloseDB();
  }
  const uintmax_t before = std::filesystem::file_size(kv);
  const std::string out = Quorvel({"kv", kv, "compact"});
  const uintmax_t after = std::filesystem::file_size(kv);
  EXPECT_LT(after, before);
  EXPECT_EQ(out, kv + ": " + std::to_string(before) + " bytes before, " +
                     std::to_string(after) + " after\n");
  EXPECT_EQ(Quorvel({"kv", kv, "get", "k"}), "value\n");

  // A compaction stopped by a signal leaves the database whole and no
  // temporary file. The file is large enough that a stop early in the run
  // lands during the copy; each delay that ends the run early is checked.
  const std::string docs = dir.Path("big.db");
  const int count = Scaled(60000);
  {
    Ref<KxDocsDB> db = KxDocsDB::Create();
    db->OpenDB(String(FromUtf8(docs)));
    for (int i = 0; i < count; ++i) {
      Ref<KxDocRec> rec = db->AddDoc();
      rec->LetItem(u"n", Value(i));
      rec->LetItem(u"text", Value(String(std::u16string(300, u'é'))));
      rec->Save();
    }
    db->CloseDB();
  }
  int stopped = 0;
  for (int delay : {30, 80, 200, 500}) {
    const ToolResult r =
        RunQuorvel({"docs", docs, "compact"},
                   {.signal = SIGTERM, .signal_after_ms = delay});
    EXPECT_FALSE(std::filesystem::exists(docs + ".tmp")) << delay;
    if (r.status == 128 + SIGTERM) ++stopped;
    Ref<KxDocsDB> db = KxDocsDB::Create();
    db->OpenDB(String(FromUtf8(docs)));
    EXPECT_EQ(db->Count(), count) << delay;
  }
  EXPECT_GT(stopped, 0) << "no run was stopped during its compaction";
}

TEST(StoresCliTest, FailedWritesAreErrors) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  const std::string kv = dir.Path("a.kv");
  const std::string docs = dir.Path("a.db");
  Quorvel({"kv", kv, "put", "k", "v"});
  Quorvel({"docs", docs, "add", "{\"a\":\"x\"}"});
  const std::vector<std::vector<std::string>> runs = {
      {"kv", kv, "get", "k"},
      {"kv", kv, "list"},
      {"kv", kv, "dump"},
      {"kv", kv, "compact"},
      {"docs", docs, "list"},
      {"docs", docs, "export"},
      {"docs", docs, "dump"},
      {"docs", docs, "get", "DOC000001"},
      {"docs", docs, "find", "a", "\"x\""},
  };
  for (const std::vector<std::string>& args : runs) {
    ToolResult r = RunQuorvel(args, {.stdout_path = "/dev/full"});
    EXPECT_EQ(r.status, 1) << args[2];
    EXPECT_EQ(r.err,
              "quorvel: standard output: No space left on device (error 61)\n")
        << args[2];
    std::vector<std::string> to_file = args;
    to_file.insert(to_file.end(), {"-o", "/dev/full"});
    r = RunQuorvel(to_file);
    EXPECT_EQ(r.status, 1) << args[2];
    EXPECT_EQ(r.err, "quorvel: /dev/full: No space left on device (error 61)\n")
        << args[2];
  }
  // What the reads print, for the runs above that only failed to write.
  EXPECT_EQ(Quorvel({"docs", docs, "export", "--indent", "2"}),
            "{\n  \"DOC000001\": {\n    \"a\": \"x\"\n  }\n}\n");
  const std::string dump = Quorvel({"kv", kv, "dump"});
  EXPECT_NE(dump.find("@104 live key \"k\" value \"v\"\n"), std::string::npos)
      << dump;
  const std::string docs_dump = Quorvel({"docs", docs, "dump"});
  EXPECT_NE(docs_dump.find("@120 live next none fields 1 id \"DOC000001\" "
                           "body {\"a\":\"x\"}\n"),
            std::string::npos)
      << docs_dump;
}

TEST(StoresCliTest, AWritePastTheFileSizeLimitIsAnError) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  const std::string big(3000, 'x');
  const std::string kv = dir.Path("a.kv");
  Quorvel({"kv", kv, "put", "k", big});
  const std::string out = dir.Path("out");
  const struct {
    std::vector<std::string> args;
    std::string path;  // the file that grows past the limit
  } runs[] = {
      {{"kv", dir.Path("b.kv"), "put", "k", big}, dir.Path("b.kv")},
      {{"docs", dir.Path("b.db"), "add", "{\"a\":\"" + big + "\"}"},
       dir.Path("b.db")},
      {{"kv", kv, "dump", "-o", out}, out},
  };
  // The tool inherits the limit, as from ulimit -f; the signal such a write
  // raises is left at its default, so only the tool's own handling of it
  // turns the write into an error.
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  for (const auto& run : runs) {
    rlimit limit = saved;
    limit.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const ToolResult r = RunQuorvel(run.args);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_EQ(r.status, 1) << run.path;
    EXPECT_EQ(r.err, "quorvel: " + run.path + ": File too large (error 61)\n");
  }
}

// One damaged document spoils only itself: it is named with its offset,
// the export holds every other one (and fails), and the others can still be
// deleted and the file compacted. A damaged key-value record is warned of,
// and the file is only compacted past it when told to.
TEST(StoresCliTest, DamageIsNamedAndSparesTheRest) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  const std::string docs = dir.Path("d.db");
  for (const char* doc : {R"({"v":"a"})", R"({"v":"b"})", R"({"v":"c"})"})
    Quorvel({"docs", docs, "add", doc});
  std::string bytes = ReadFile(docs);
  // The second document's body: 0xC7 and the record's sub-type 0x33.
  const size_t id = bytes.find("DOC000002");
  ASSERT_NE(id, std::string::npos);
  ASSERT_EQ(bytes[id + 9 + 4 + 1], '\x33');
  bytes[id + 9 + 4 + 1] = '\x34';
  WriteFile(docs, bytes);
  ToolResult r = RunQuorvel({"docs", docs, "get", "DOC000002"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Document DOC000002 at offset "), std::string::npos)
      << r.err;
  r = RunQuorvel({"docs", docs, "export"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, R"({"DOC000001":{"v":"a"},"DOC000003":{"v":"c"}})"
                   "\n");
  EXPECT_NE(r.err.find("(1 document(s) left out of the export)"),
            std::string::npos);
  Quorvel({"docs", docs, "delete", "DOC000001"});
  Quorvel({"docs", docs, "compact"});
  EXPECT_EQ(Quorvel({"docs", docs, "list"}), "DOC000002\nDOC000003\n");

  const std::string kv = dir.Path("k.kv");
  for (const char* key : {"a", "b", "c"}) Quorvel({"kv", kv, "put", key, "v"});
  bytes = ReadFile(kv);
  bytes[104 + 11] = 0;  // the signature of b's record
  WriteFile(kv, bytes);
  r = RunQuorvel({"kv", kv, "list"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "a\n");
  EXPECT_EQ(r.err, "quorvel: " + kv +
                       ": warning: 22 bytes after offset 115 could not be "
                       "read (a damaged record); nothing is written to the "
                       "file until a compaction discards them\n");
  r = RunQuorvel({"kv", kv, "put", "d", "v"});
  EXPECT_EQ(r.status, 1);
  r = RunQuorvel({"kv", kv, "compact"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadFile(kv), bytes);
  r = RunQuorvel({"kv", kv, "compact", "--discard-damaged"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Quorvel({"kv", kv, "put", "d", "v"}), "");
  EXPECT_EQ(Quorvel({"kv", kv, "list"}), "a\nd\n");
}

}  // namespace
}  // namespace quorvel::testing
