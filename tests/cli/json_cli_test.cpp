// `quorvel json` and `quorvel csv`: strict reading with the place of a
// fault, formatting as jq does, the lenient reader on request, the
// JSONTestSuite files; RFC 4180 input with every line end, JSON out, and the
// stable, numeric sort.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/tool_runner.h"
#include "quorvel/string.h"
#include "test_util.h"

namespace quorvel::testing {
namespace {

// Strict reading, with the place of a fault, and the value written again.
TEST(CliJsonTest, ReadsStrictlyAndWritesTheValueAgain) {
  QUORVEL_REQUIRE_TOOL();
  const std::string not_utf8 = " is not UTF-8 here (the text must be UTF-8)";
  const ToolCase cases[] = {
      {"json check", "[1,2", 1, "",
       ":1:5: expected ',' or ']' after the element, found the end of the "
       "text",
       9},
      // format streams in pieces of 64 KiB: a fault in the first piece
      // leaves nothing written.
      {"json format", "[1,,2]", 1, "", ":1:4: expected a value, found ','", 9},
      {"json check", "[1]\n[2]", 1, "",
       ":2:1: expected the end of the text after the value, found '['", 9},
      {"json check", "{\n  \"a\": tru\n}", 1, "",
       ":2:11: expected a value, found U+000A", 9},
      // Not UTF-8: the place of the byte, counted in characters.
      {"json check", "[\"\xC3\xA9\xFF\"]", 1, "", ":1:4: byte 0xFF" + not_utf8,
       5},
      {"json check", "\n\"\xED\xA0\x80\"", 1, "", ":2:2: byte 0xED" + not_utf8,
       5},
      // Nesting deeper than 1000 levels is refused where it passes the limit.
      {"json check", std::string(1001, '[') + std::string(1001, ']'), 1, "",
       ":1:1001: containers nest deeper than 1000 levels", 9},
      // Any value at the top.
      {"json format", " 123 ", 0, "123\n", ""},
      {"json check", "{\"a\":[1,true]}", 0, "object, 4 values read\n", ""},
      // Numbers: exact as Decimals, else the shortest Double.
      {"json format",
       "[1.50, 1E2, -0, 0.1, 1e-30, 1e29, 123456789012345678901234567890, "
       "0.1234567890123456789012345678]",
       0,
       "[1.5,100,-0,0.1,1e-30,1e+29,123456789012345678901234567890,"
       "0.1234567890123456789012345678]\n",
       ""},
      // Text: UTF-8 as it came, escapes only where JSON needs them, lone
      // surrogates escaped since UTF-8 cannot carry them.
      {"json format",
       "[\"\xC3\xA9\xE6\x9D\xB1\xF0\x9F\x98\x80\", \"\\u00e9\\/\", "
       "\"\\u0001\\n\\\"\\\\\", \"\\ud800\\u007f\"]",
       0,
       "[\"\xC3\xA9\xE6\x9D\xB1\xF0\x9F\x98\x80\",\"\xC3\xA9/\","
       "\"\\u0001\\n\\\"\\\\\",\"\\ud800\\u007f\"]\n",
       ""},
      {"json format --ascii", "[\"\xC3\xA9\xE6\x9D\xB1\xF0\x9F\x98\x80\x7F\"]",
       0, "[\"\\u00e9\\u6771\\ud83d\\ude00\\u007f\"]\n", ""},
      // Members as written, repeated names included.
      {"json format", "{\"a\":1,\"a\":2}", 0, "{\"a\":1,\"a\":2}\n", ""},
      {"json format --indent 2", "{\"a\":[1,{}],\"b\":[],\"c\":{\"d\":null}}",
       0,
       "{\n  \"a\": [\n    1,\n    {}\n  ],\n  \"b\": [],\n  \"c\": {\n"
       "    \"d\": null\n  }\n}\n",
       ""},
      {"json format --indent=1", "\xEF\xBB\xBF[[]]", 0, "[\n []\n]\n", ""},
  };
  for (const ToolCase& c : cases) Expect(c);
}

// The lenient reader exactly as it is, with a warning at the first place
// where a strict reading differs: where it stops, or where its value is
// another.
TEST(CliJsonTest, LenientReadingsThatDifferAreNamed) {
  QUORVEL_REQUIRE_TOOL();
  const std::string stops =
      "quorvel: standard input:%: warning: a strict reading stops here: ";
  const auto warning = [](std::string text, const std::string& place) {
    return text.replace(text.find('%'), 1, place) + "\n";
  };
  const std::string end =
      "expected ',' or ']' after the element, found the end of the text";
  const ToolCase cases[] = {
      {"json check --lenient", "[1,2", 0, "array, 3 values read\n",
       warning(stops + end, "1:5")},
      {"json format --lenient", "// c\n{a: 'b' c: [1 2]}", 0,
       "{\"a\":\"b\",\"c\":[1,2]}\n",
       warning(stops + "expected a value, found '/'", "1:1")},
      // The strict reader reads these, but to other values.
      {"json format --lenient", "[[1,\n 1e29], 2]", 0, "[[1]]\n",
       "quorvel: standard input:2:2: warning: the lenient reading ends the "
       "array before this value\n"},
      {"json format --lenient", "{\"a\":1,\"a\":2}", 0, "{\"a\":1}\n",
       "quorvel: standard input:1:8: warning: the lenient reading gives the "
       "number 1 where a strict one gives the number 2\n"},
      // Where both agree, nothing is said.
      {"json format --lenient", "{\"a\": [1.50, \"\\u00e9\", null, true]}", 0,
       "{\"a\":[1.5,\"\xC3\xA9\",null,true]}\n", ""},
      {"json format --lenient", "42", 1, "",
       ": the text does not begin with an object or an array", 9},
  };
  for (const ToolCase& c : cases) Expect(c);
}

// JSONTestSuite through the tool: every y_ file reads, every n_ file is
// refused at a place, and the i_ files do one or the other without a
// crash. The library's own test reads the files that are UTF-8; here go
// those that are not (which only the tool's UTF-8 check can refuse) and
// every tenth of the others.
TEST(CliJsonTest, TestSuiteFiles) {
  QUORVEL_REQUIRE_TOOL();
  const std::filesystem::path dir = std::filesystem::path(QUORVEL_SHARED_DIR) /
                                    "jsontestsuite" / "test_parsing";
  if (!std::filesystem::is_directory(dir))
    GTEST_SKIP() << "no JSONTestSuite files at " << dir;
  std::vector<std::filesystem::path> paths;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  int not_utf8 = 0;
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string path = paths[i].string();
    const std::string bytes = ReadFile(path);
    const bool utf8 = ToUtf8(FromUtf8(bytes)) == bytes;
    not_utf8 += !utf8;
    if (utf8 && i % 10 != 0) continue;
    const ToolResult r = RunQuorvel({"json", "check", path});
    const char kind = paths[i].filename().string()[0];
    if (kind == 'y') EXPECT_EQ(r.status, 0) << path << ": " << r.err;
    if (kind == 'n')
      EXPECT_TRUE(r.status == 1 && r.err.starts_with("quorvel: " + path + ":"))
          << path;
    if (kind == 'i') EXPECT_TRUE(r.status == 0 || r.status == 1) << path;
  }
  EXPECT_GT(paths.size(), 300u);
  EXPECT_GT(not_utf8, 10);
}

// The standard writer's text is jq's, byte for byte: escapes, the
// characters it leaves as they are, and the layout of --indent.
TEST(CliJsonTest, FormatIsJqsText) {
  QUORVEL_REQUIRE_TOOL();
  if (!RunTool("jq -c .", "1")) GTEST_SKIP() << "no jq";
  const std::string text =
      "{\"k\\u00e9y\": [\"\\u0000\\u0001\\u001f "
      "\\\"\\\\\\/\\b\\f\\n\\r\\t\\u007f"
      "\\u0080\\u2028\xC3\xA9\xE6\x9D\xB1\\ud83d\\ude00\", true, null, {}, [], "
      "{\"a\": [false]}]}";
  for (const auto& [ours, jq] :
       {std::pair("json format", "jq -c ."),
        std::pair("json format --indent 2", "jq --indent 2 ."),
        std::pair("json format --ascii", "jq -c --ascii-output .")}) {
    EXPECT_EQ(RunQuorvel(Words(ours), {.input = text}).out, RunTool(jq, text))
        << ours;
  }
}

// CSV to JSON, and sorted: text ignores case, empty cells come first, equal
// keys keep their order.
TEST(CliCsvTest, ToJsonAndSorted) {
  QUORVEL_REQUIRE_TOOL();
  const std::string ab = "[{\"a\":\"1\",\"b\":\"2\"}]\n";
  const std::string people =
      "name,age\r\nbob,30\r\nAl,5\r\namy,30\r\n\"Doe, J\",\r\nzed,100\r\n";
  const ToolCase cases[] = {
      {"csv to-json", "a,b\n1,2\n", 0, ab, ""},
      {"csv to-json", "a,b\r\n1,2\r\n", 0, ab, ""},
      {"csv to-json", "a,b\r1,2", 0, ab, ""},
      {"csv to-json --separator \\t", "a\tb\n1\t2\n", 0, ab, ""},
      {"csv to-json",
       "\xEF\xBB\xBF"
       "a\n\n1\n",
       0, "[{\"a\":\"1\"}]\n", ""},
      {"csv to-json", "", 0, "[]\n", ""},
      // A quoted field holding a line break is one field.
      {"csv to-json", "a,b\n\"x\ny\",\"say \"\"hi\"\"\"\n", 0,
       "[{\"a\":\"x\\ny\",\"b\":\"say \\\"hi\\\"\"}]\n", ""},
      // Control characters come out as JSON escapes, text as UTF-8.
      {"csv to-json", "k\n\x01\t\xC3\xA9\n", 0,
       "[{\"k\":\"\\u0001\\t\xC3\xA9\"}]\n", ""},
      // Repeated and empty names; a short record.
      {"csv to-json", "0,0,,x\n1,2,3\n", 0,
       "[{\"0\":\"1\",\"0_2\":\"2\",\"Col3\":\"3\",\"x\":null}]\n", ""},
      {"csv to-json --separator : --no-header", "root:x:0\n", 0,
       "[{\"Col1\":\"root\",\"Col2\":\"x\",\"Col3\":\"0\"}]\n", ""},
      // Quotes as plain text, comment lines, and records of uneven length
      // padded when there is no header.
      {"csv to-json --quote none", "a,b\n\"x\",say \"hi\"\n", 0,
       "[{\"a\":\"\\\"x\\\"\",\"b\":\"say \\\"hi\\\"\"}]\n", ""},
      {"csv to-json --comment # --no-header", "# note\r\n1,2\r\n#3\r\n4\r\n", 0,
       "[{\"Col1\":\"1\",\"Col2\":\"2\"},{\"Col1\":\"4\",\"Col2\":null}]\n",
       ""},
      // The tab-separated tables of the time zone database: comments,
      // unquoted text and rows of three or four fields.
      {"csv to-json --separator \\t --quote none --comment # --no-header",
       "#code\tcoordinates\nAD\t+4230+00131\tEurope/Andorra\nAE,OM\t\"+2518\t"
       "Asia/Dubai\tGulf\n",
       0,
       "[{\"Col1\":\"AD\",\"Col2\":\"+4230+00131\",\"Col3\":\"Europe/Andorra\","
       "\"Col4\":null},{\"Col1\":\"AE,OM\",\"Col2\":\"\\\"+2518\",\"Col3\":"
       "\"Asia/Dubai\",\"Col4\":\"Gulf\"}]\n",
       ""},
      {"csv sort --column 2 --no-header --quote none", "b,\"q\ra\n", 0,
       "a,\r\nb,\"q\r\n", ""},
      // Faults, with their place.
      {"csv to-json", "a,b\n1,2,3\n", 1, "",
       ":2:5: the record has 3 fields, more than the 2 columns", 9},
      {"csv to-json", "a\n\"open\n", 1, "",
       ":2:1: a quoted field is not closed", 9},
      {"csv to-json", "a\nx\"y\n", 1, "",
       ":2:2: a double quote inside a field that does not begin with one", 9},
      {"csv to-json", "a\n\xE9t\xE9\n", 1, "",
       ":2:1: byte 0xE9 is not UTF-8 here (the text must be UTF-8)", 5},
      {"csv sort --column name", people, 0,
       "name,age\r\nAl,5\r\namy,30\r\nbob,30\r\n\"Doe, J\",\r\nzed,100\r\n",
       ""},
      {"csv sort --column age", people, 0,
       "name,age\r\n\"Doe, J\",\r\nzed,100\r\nbob,30\r\namy,30\r\nAl,5\r\n",
       ""},
      {"csv sort --column 2 --numeric", people, 0,
       "name,age\r\n\"Doe, J\",\r\nAl,5\r\nbob,30\r\namy,30\r\nzed,100\r\n",
       ""},
      {"csv sort --column age --numeric --descending", people, 0,
       "name,age\r\nzed,100\r\nbob,30\r\namy,30\r\nAl,5\r\n\"Doe, J\",\r\n",
       ""},
      {"csv sort --column 1 --no-header --separator ;",
       "b;\"x;y\"\na;\"say \"\"hi\"\"\"\n", 0,
       "a;\"say \"\"hi\"\"\"\r\nb;\"x;y\"\r\n", ""},
      {"csv sort --column x --numeric", "x\n1e3\n-2.5\n 7 \n", 0,
       "x\r\n-2.5\r\n 7 \r\n1e3\r\n", ""},
      {"csv sort --column age --numeric", "age\n1\nten\n", 1, "",
       ": record 2, column 'age': 'ten' is not a number", 13},
      {"csv sort --column height", people, 1, "",
       ": no column 'height' in the CSV header", 5},
  };
  for (const ToolCase& c : cases) Expect(c);
}

}  // namespace
}  // namespace quorvel::testing
