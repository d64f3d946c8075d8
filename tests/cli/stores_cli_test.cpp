// The kv and docs verbs end to end: what they read never creates a file,
// text reaches the file exactly or not at all, and every failure names the
// file with its number.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "cli/tool_runner.h"
#include "quorvel/kxkvdb.h"
#include "test_util.h"

namespace quorvel::testing {
namespace {

// A run that must succeed quietly; its standard output.
std::string Quorvel(const std::string& args, const ToolOptions& options = {}) {
  const ToolResult r = Tool(args, options);
  EXPECT_EQ(r.status, 0) << args << ": " << r.err;
  EXPECT_EQ(r.err, "") << args;
  return r.out;
}

TEST(StoresCliTest, ReadingNeverCreatesAFileAndReadOnlyFilesAreRead) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  chmod(dir.path().c_str(), 0755);
  const std::string kv = "kv " + dir.Path("a.kv"),
                    db = "docs " + dir.Path("a.db");
  for (const std::string& run :
       {kv + " get k", kv + " list", kv + " dump", kv + " delete k",
        kv + " compact", db + " get DOC000001", db + " find a 1", db + " list",
        db + " export", db + " dump", db + " delete x", db + " set x a 1"}) {
    Expect({run, "", 1, "",
            "quorvel: " + Words(run)[1] + ": No such file or directory", 53});
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_EQ(Quorvel(kv + " put k v"), "");  // writing creates
  EXPECT_EQ(Quorvel(db + " add {\"a\":1}"), "DOC000001\n");
  // A file that may only be read is read; a change names the file and why,
  // and leaves it as it was.
  chmod(dir.Path("a.kv").c_str(), 0444);
  chmod(dir.Path("a.db").c_str(), 0444);
  const ToolOptions nobody = {.unprivileged = true};
  EXPECT_EQ(Quorvel(kv + " get k", nobody), "v\n");
  EXPECT_EQ(Quorvel(db + " export", nobody), "{\"DOC000001\":{\"a\":1}}\n");
  if (geteuid() != 0 && access(dir.Path("a.kv").c_str(), W_OK) == 0)
    GTEST_SKIP() << "this user may write a read-only file";
  const std::string before = ReadFile(dir.Path("a.kv"));
  for (const std::string& run : {kv + " put k w", db + " set DOC000001 a 2"}) {
    const ToolResult r = Tool(run, nobody);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quorvel: " + Words(run)[1] +
                         ": opened for reading only (error 75)\n");
  }
  EXPECT_EQ(ReadFile(dir.Path("a.kv")), before);
  // A file too short for a database is refused by the dump, with its number.
  WriteFile(dir.Path("short"), "KFKV");
  Expect({"kv " + dir.Path("short") + " dump", "", 1, "file length 4\n",
          "quorvel: " + dir.Path("short") +
              ": shorter than the two header copies (104 bytes) (error 62)\n"});
}

TEST(StoresCliTest, TextReachesTheFileExactlyOrNotAtAll) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  const std::string kv_path = dir.Path("a.kv"), db_path = dir.Path("a.db");
  const std::string kv = "kv " + kv_path, db = "docs " + db_path;
  // Windows-1252 characters outside ASCII, through the file and back.
  const std::string latin = "clé|Zürich|€|„quote“|ÿ|œ|Š";
  Quorvel(kv + " put " + latin + " " + latin + "-value");
  EXPECT_EQ(Quorvel(kv + " get " + latin), latin + "-value\n");
  EXPECT_EQ(Quorvel(kv + " list"), latin + "\n");
  Quorvel(db + " add {\"city\":\"São-Paulo\",\"n\":1.5}");
  EXPECT_EQ(Quorvel(db + " get doc000001"),
            "{\"city\":\"São-Paulo\",\"n\":1.5}\n");

  const std::string kv_bytes = ReadFile(kv_path), db_bytes = ReadFile(db_path);
  const std::string kv_err = "quorvel: " + kv_path + ": ";
  const std::string db_err = "quorvel: " + db_path + ": ";
  const std::string inexact =
      " is neither a Currency (4 decimal places) nor a Double exactly";
  const ToolCase cases[] = {
      {kv + " put ключ v", "", 1, "",
       kv_err + "character U+043A (к) at position 1 of the key has no", 5},
      {kv + " put k\xff v", "", 1, "",
       kv_err + "the key: byte 0xFF at offset 1 is not UTF-8 here", 5},
      {kv + " put k -", "a\xD0\xB6", 1, "",
       ": character U+0436 (\xD0\xB6) at position 2 of the value has no", 5},
      {db + " add {\"city\":\"東京\"}", "", 1, "",
       db_err + "the document:1:9: character U+6771 (東) at position 1 of "
                "this string has no",
       5},
      {db + " add 東京 {}", "", 1, "",
       db_err + "character U+6771 (東) at position 1 of the id has no", 5},
      {db + " set DOC000001 n 0.12345678901234567891", "", 1, "",
       db_err + "the value:1:1: the number '0.12345678901234567891'" + inexact,
       5},
      // Numbers no Decimal holds, which a Double would round.
      {db + " add {\"n\":123456789012345678901234567890}", "", 1, "",
       db_err +
           "the document:1:6: the number '123456789012345678901234567890'" +
           inexact + " (a Double reads 1.2345678901234568e+29)",
       5},
      {db + " add [1]", "", 1, "",
       db_err + "the document: a document is a JSON object", 13},
  };
  for (const ToolCase& c : cases) Expect(c);
  EXPECT_EQ(ReadFile(kv_path), kv_bytes);
  EXPECT_EQ(ReadFile(db_path), db_bytes);
  // `put KEY -` takes the value from standard input as it is: values too
  // long for a command line, '-' itself, and nothing.
  std::string big;
  while (big.size() < (1u << 20)) big += "line of the value\n";
  for (const std::string& value : {big, std::string("-"), std::string("")}) {
    Quorvel(kv + " put k -", {.input = value});
    EXPECT_TRUE(Quorvel(kv + " get k") == value + "\n") << value.size();
  }
}

TEST(StoresCliTest, WhatTheActionsPrintAndMissingKeys) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  const std::string kv = "kv " + dir.Path("a.kv"),
                    db = "docs " + dir.Path("a.db");
  Quorvel(kv + " put k v");
  Quorvel(db + " add {\"a\":\"x\"}");
  EXPECT_EQ(Quorvel(db + " export --indent 2"),
            "{\n  \"DOC000001\": {\n    \"a\": \"x\"\n  }\n}\n");
  EXPECT_NE(Quorvel(kv + " dump").find("@104 live key \"k\" value \"v\"\n"),
            std::string::npos);
  EXPECT_NE(Quorvel(db + " dump")
                .find("@120 live next none fields 1 id "
                      "\"DOC000001\" body {\"a\":\"x\"}\n"),
            std::string::npos);
  // A missing key or document is an error; deleting a missing key is not.
  Quorvel(kv + " delete nope");
  const std::string missing = " in the database (error 32811)\n";
  Expect({kv + " get nope", "", 1, "",
          "quorvel: " + dir.Path("a.kv") + ": no key 'nope'" + missing});
  for (const std::string& action : {" get", " delete"}) {
    Expect({db + action + " DOC000009", "", 1, "",
            "quorvel: " + dir.Path("a.db") + ": no document 'DOC000009'" +
                missing});
  }
  // Generated ids step past one given by hand.
  Quorvel(db + " add DOC000002 {\"a\":1}");
  EXPECT_EQ(
      Quorvel(db +
              " add {\"t\":[1,\"x\",{\"k\":null}],\"o\":{\"p\":1.5,\"q\":[]}}"),
      "DOC000003\n");
  EXPECT_EQ(Quorvel(db + " list"), "DOC000001\nDOC000002\nDOC000003\n");
  // Values are found by what they hold: names in any order, elements in
  // order, numbers as they are stored.
  EXPECT_EQ(Quorvel(db + " find t [1.0,\"x\",{\"k\":null}]"), "DOC000003\n");
  EXPECT_EQ(Quorvel(db + " find o {\"q\":[],\"p\":1.5}"), "DOC000003\n");
  EXPECT_EQ(Quorvel(db + " find o {\"p\":1.5}"), "");
  // A write past the file size limit (ulimit -f), whose signal is left at
  // its default, so that only the tool's own handling makes it an error.
  rlimit saved, limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  limit = {1000, saved.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const ToolResult r =
      Tool("kv " + dir.Path("b.kv") + " put k " + std::string(3000, 'x'));
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "quorvel: " + dir.Path("b.kv") + ": File too large (error 61)\n");
}

// A compaction says the sizes; one stopped by a signal leaves the database
// whole and no temporary file. The delays span a stop before the copy
// begins to one during it on a fast machine (the copy takes tens of ms).
TEST(StoresCliTest, CompactSaysTheSizesAndLeavesNoTemporaryFile) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  const std::string kv = dir.Path("a.kv");
  const int count = Scaled(60000);
  const auto opened = [&] {
    Ref<KxKVDB> db = KxKVDB::Create();
    db->OpenDB(String(FromUtf8(kv)));
    return db;
  };
  {
    Ref<KxKVDB> db = opened();
    for (int i = 0; i < count; ++i)
      db->PutValue(String(FromUtf8(std::to_string(i % (count / 2)))),
                   String(std::u16string(300, u'é')));
  }
  int stopped = 0;
  for (int delay : {1, 5, 20, 80}) {
    const ToolResult r = RunQuorvel(
        {"kv", kv, "compact"}, {.signal = SIGTERM, .signal_after_ms = delay});
    EXPECT_FALSE(std::filesystem::exists(kv + ".tmp")) << delay;
    stopped += r.status == 128 + SIGTERM;
    EXPECT_EQ(opened()->Count(), count / 2) << delay;
  }
  EXPECT_GT(stopped, 0) << "no run was stopped during its compaction";
  Quorvel("kv " + kv + " put 0 " + std::string(300, 'x'));
  const uintmax_t before = std::filesystem::file_size(kv);
  const std::string out = Quorvel("kv " + kv + " compact");
  const uintmax_t after = std::filesystem::file_size(kv);
  EXPECT_LT(after, before);
  EXPECT_EQ(out, kv + ": " + std::to_string(before) + " bytes before, " +
                     std::to_string(after) + " after\n");
}

// One damaged document spoils only itself: it is named with its offset,
// the export holds every other one (and fails), and the others can still be
// deleted and the file compacted. A damaged key-value record is warned of,
// and the file is only compacted past it when told to.
TEST(StoresCliTest, DamageIsNamedAndSparesTheRest) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  const std::string db = "docs " + dir.Path("d.db"),
                    kv = "kv " + dir.Path("k.kv");
  for (const char* doc : {R"({"v":"a"})", R"({"v":"b"})", R"({"v":"c"})"})
    Quorvel(db + " add " + doc);
  std::string bytes = ReadFile(dir.Path("d.db"));
  // The second document's body: 0xC7 and the record's sub-type 0x33.
  const size_t id = bytes.find("DOC000002");
  ASSERT_NE(id, std::string::npos);
  ASSERT_EQ(bytes[id + 9 + 4 + 1], '\x33');
  bytes[id + 9 + 4 + 1] = '\x34';
  WriteFile(dir.Path("d.db"), bytes);
  ToolResult r = Tool(db + " get DOC000002");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Document DOC000002 at offset "), std::string::npos);
  r = Tool(db + " export");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "{\"DOC000001\":{\"v\":\"a\"},\"DOC000003\":{\"v\":\"c\"}}\n");
  EXPECT_NE(r.err.find("(1 document(s) left out of the export)"),
            std::string::npos);
  Quorvel(db + " delete DOC000001");
  Quorvel(db + " compact");
  EXPECT_EQ(Quorvel(db + " list"), "DOC000002\nDOC000003\n");

  for (const char* key : {"a", "b", "c"}) Quorvel(kv + " put " + key + " v");
  bytes = ReadFile(dir.Path("k.kv"));
  bytes[104 + 11] = 0;  // the signature of b's record
  WriteFile(dir.Path("k.kv"), bytes);
  Expect({kv + " list", "", 0, "a\n",
          "quorvel: " + dir.Path("k.kv") +
              ": warning: 22 bytes after offset 115 could not be read (a "
              "damaged record); nothing is written to the file until a "
              "compaction discards them\n"});
  EXPECT_EQ(Tool(kv + " put d v").status, 1);
  EXPECT_EQ(Tool(kv + " compact").status, 1);
  EXPECT_EQ(ReadFile(dir.Path("k.kv")), bytes);
  r = Tool(kv + " compact --discard-damaged");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Quorvel(kv + " put d v"), "");
  EXPECT_EQ(Quorvel(kv + " list"), "a\nd\n");
}

}  // namespace
}  // namespace quorvel::testing
