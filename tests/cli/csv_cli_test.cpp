// `quorvel csv`: RFC 4180 input with every line end, JSON out, and the
// stable, numeric sort.
#include <filesystem>
#include <string>
#include <vector>

#include "cli/tool_runner.h"

namespace quorvel::testing {
namespace {

TEST(CliCsvTest, ReadsStandardCsvToJson) {
  QUORVEL_REQUIRE_TOOL();
  const std::vector<std::string> to_json = {"csv", "to-json"};
  const ToolCase cases[] = {
      {to_json, "a,b\n1,2\n", 0, "[{\"a\":\"1\",\"b\":\"2\"}]\n", ""},
      {to_json, "a,b\r\n1,2\r\n", 0, "[{\"a\":\"1\",\"b\":\"2\"}]\n", ""},
      {to_json, "a,b\r1,2", 0, "[{\"a\":\"1\",\"b\":\"2\"}]\n", ""},
      {to_json,
       "\xEF\xBB\xBF"
       "a\n\n1\n",
       0, "[{\"a\":\"1\"}]\n", ""},
      {to_json, "", 0, "[]\n", ""},
      // A quoted field holding a line break is one field.
      {to_json, "a,b\n\"x\ny\",\"say \"\"hi\"\"\"\n", 0,
       "[{\"a\":\"x\\ny\",\"b\":\"say \\\"hi\\\"\"}]\n", ""},
      // Control characters come out as JSON escapes, text as UTF-8.
      {to_json, "k\n\x01\t\xC3\xA9\n", 0, "[{\"k\":\"\\u0001\\t\xC3\xA9\"}]\n",
       ""},
      // Repeated and empty names; a short record.
      {to_json, "0,0,,x\n1,2,3\n", 0,
       "[{\"0\":\"1\",\"0_2\":\"2\",\"Col3\":\"3\",\"x\":null}]\n", ""},
      {{"csv", "to-json", "--separator", ":", "--no-header"},
       "root:x:0:0:root:/root:/bin/bash\n",
       0,
       "[{\"Col1\":\"root\",\"Col2\":\"x\",\"Col3\":\"0\",\"Col4\":\"0\","
       "\"Col5\":\"root\",\"Col6\":\"/root\",\"Col7\":\"/bin/bash\"}]\n",
       ""},
      {{"csv", "to-json", "--separator", "\\t"},
       "a\tb\n1\t2\n",
       0,
       "[{\"a\":\"1\",\"b\":\"2\"}]\n",
       ""},
      // Quotes as plain text, comment lines, and records of uneven length
      // padded when there is no header.
      {{"csv", "to-json", "--quote", "none"},
       "a,b\n\"x\",say \"hi\"\n",
       0,
       "[{\"a\":\"\\\"x\\\"\",\"b\":\"say \\\"hi\\\"\"}]\n",
       ""},
      {{"csv", "to-json", "--comment", "#", "--no-header"},
       "# note\r\n1,2\r\n#3\r\n4\r\n",
       0,
       "[{\"Col1\":\"1\",\"Col2\":\"2\"},{\"Col1\":\"4\",\"Col2\":null}]\n",
       ""},
      {{"csv", "sort", "--column", "2", "--no-header", "--quote", "none"},
       "b,\"q\ra\n",
       0,
       "a,\r\nb,\"q\r\n",
       ""},
      // Faults, with their place.
      {to_json, "a,b\n1,2,3\n", 1, "",
       "quorvel: standard input:2:5: the record has 3 fields, more than the 2 "
       "columns (error 9)\n"},
      {to_json, "a\n\"open\n", 1, "",
       "quorvel: standard input:2:1: a quoted field is not closed (error 9)\n"},
      {to_json, "a\nx\"y\n", 1, "",
       "quorvel: standard input:2:2: a double quote inside a field that does "
       "not begin with one (error 9)\n"},
      {to_json, "a\n\xE9t\xE9\n", 1, "",
       "quorvel: standard input:2:1: byte 0xE9 is not UTF-8 here (the text "
       "must be UTF-8) (error 5)\n"},
  };
  for (const ToolCase& c : cases) ExpectTool(c);
}

TEST(CliCsvTest, ThePasswordFileReads) {
  QUORVEL_REQUIRE_TOOL();
  ToolResult r =
      RunQuorvel({"csv", "to-json", "--separator", ":", "/etc/passwd"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunQuorvel({"json", "check"}, {.input = r.out});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("array, ", 0), 0u);
}

// The tab-separated tables of the time zone database, with their comments,
// unquoted text and rows of three or four fields.
TEST(CliCsvTest, TheZoneTablesRead) {
  QUORVEL_REQUIRE_TOOL();
  for (const char* file : {"/usr/share/zoneinfo/zone1970.tab",
                           "/usr/share/zoneinfo/iso3166.tab"}) {
    if (!std::filesystem::exists(file)) continue;
    ToolResult r = RunQuorvel({"csv", "to-json", "--separator", "\t", "--quote",
                               "none", "--comment", "#", "--no-header", file});
    ASSERT_EQ(r.status, 0) << file << ": " << r.err;
    EXPECT_EQ(r.out.find("\"#"), std::string::npos) << file;
    EXPECT_NE(r.out.find("{\"Col1\":\"AD\",\"Col2\":"), std::string::npos);
    r = RunQuorvel({"json", "check"}, {.input = r.out});
    EXPECT_EQ(r.out.rfind("array, ", 0), 0u) << r.err;
  }
}

TEST(CliCsvTest, SortIsStableAndCanBeNumeric) {
  QUORVEL_REQUIRE_TOOL();
  const std::string people =
      "name,age\r\nbob,30\r\nAl,5\r\namy,30\r\n\"Doe, J\",\r\nzed,100\r\n";
  const ToolCase cases[] = {
      // Text ignores case; empty cells first; equal keys keep their order.
      {{"csv", "sort", "--column", "name"},
       people,
       0,
       "name,age\r\nAl,5\r\namy,30\r\nbob,30\r\n\"Doe, J\",\r\nzed,100\r\n",
       ""},
      {{"csv", "sort", "--column", "age"},
       people,
       0,
       "name,age\r\n\"Doe, J\",\r\nzed,100\r\nbob,30\r\namy,30\r\nAl,5\r\n",
       ""},
      {{"csv", "sort", "--column", "2", "--numeric"},
       people,
       0,
       "name,age\r\n\"Doe, J\",\r\nAl,5\r\nbob,30\r\namy,30\r\nzed,100\r\n",
       ""},
      {{"csv", "sort", "--column", "age", "--numeric", "--descending"},
       people,
       0,
       "name,age\r\nzed,100\r\nbob,30\r\namy,30\r\nAl,5\r\n\"Doe, J\",\r\n",
       ""},
      {{"csv", "sort", "--column", "1", "--no-header", "--separator", ";"},
       "b;\"x;y\"\na;\"say \"\"hi\"\"\"\n",
       0,
       "a;\"say \"\"hi\"\"\"\r\nb;\"x;y\"\r\n",
       ""},
      {{"csv", "sort", "--column", "x", "--numeric"},
       "x\n1e3\n-2.5\n 7 \n",
       0,
       "x\r\n-2.5\r\n 7 \r\n1e3\r\n",
       ""},
      {{"csv", "sort", "--column", "age", "--numeric"},
       "age\n1\nten\n",
       1,
       "",
       "quorvel: standard input: record 2, column 'age': 'ten' is not a "
       "number (error 13)\n"},
      {{"csv", "sort", "--column", "height"},
       people,
       1,
       "",
       "quorvel: standard input: no column 'height' in the CSV header "
       "(error 5)\n"},
  };
  for (const ToolCase& c : cases) ExpectTool(c);
}

}  // namespace
}  // namespace quorvel::testing
