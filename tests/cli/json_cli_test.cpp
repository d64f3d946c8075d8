// `quorvel json`: strict reading with the place of a fault, formatting, the
// lenient reader on request, and the JSONTestSuite files.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/tool_runner.h"
#include "quorvel/json_standard.h"
#include "quorvel/string.h"
#include "test_util.h"

namespace quorvel::testing {
namespace {

std::string Fault(const std::string& place, const std::string& what) {
  return "quorvel: standard input:" + place + ": " + what + " (error 9)\n";
}

TEST(CliJsonTest, FaultsAreRefusedWithTheirPlace) {
  QUORVEL_REQUIRE_TOOL();
  const ToolCase cases[] = {
      {{"json", "check"},
       "[1,2",
       1,
       "",
       Fault("1:5",
             "expected ',' or ']' after the element, found the end of the "
             "text")},
      // format streams in pieces of 64 KiB: a fault in the first piece
      // leaves nothing written.
      {{"json", "format"},
       "[1,,2]",
       1,
       "",
       Fault("1:4", "expected a value, found ','")},
      {{"json", "format"},
       "{\"a\":1,}",
       1,
       "",
       Fault("1:8", "expected a member name in double quotes, found '}'")},
      {{"json", "check"},
       "[1]\n[2]",
       1,
       "",
       Fault("2:1", "expected the end of the text after the value, found '['")},
      {{"json", "check"},
       "",
       1,
       "",
       Fault("1:1", "expected a value, found the end of the text")},
      {{"json", "format"},
       "[1e400]",
       1,
       "",
       Fault("1:2", "the number 1e400 is beyond the range of a Double")},
      {{"json", "check"},
       "{\n  \"a\": tru\n}",
       1,
       "",
       Fault("2:11", "expected a value, found U+000A")},
      // Not UTF-8: the place of the byte.
      {{"json", "check"},
       "[\"\xC3\xA9\xFF\"]",
       1,
       "",
       "quorvel: standard input:1:4: byte 0xFF is not UTF-8 here (the text "
       "must be UTF-8) (error 5)\n"},
      {{"json", "check"},
       "\n\"\xED\xA0\x80\"",
       1,
       "",
       "quorvel: standard input:2:2: byte 0xED is not UTF-8 here (the text "
       "must be UTF-8) (error 5)\n"},
  };
  for (const ToolCase& c : cases) ExpectTool(c);
  // Nesting: 1000 levels read, 1001 are refused where they pass the limit.
  ExpectTool({{"json", "check"},
              std::string(1000, '[') + std::string(1000, ']'),
              0,
              "array, 1000 values read\n",
              ""});
  ExpectTool({{"json", "check"},
              std::string(1001, '[') + std::string(1001, ']'),
              1,
              "",
              Fault("1:1001", "containers nest deeper than 1000 levels")});
  // A file is named.
  ScratchDir dir;
  WriteFile(dir.Path("bad.json"), "[1,\n 2,,]");
  const ToolResult r = RunQuorvel({"json", "format", dir.Path("bad.json")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quorvel: " + dir.Path("bad.json") +
                       ":2:4: expected a value, found ',' (error 9)\n");
}

TEST(CliJsonTest, FormatWritesTheValueAgain) {
  QUORVEL_REQUIRE_TOOL();
  const ToolCase cases[] = {
      // Any value at the top.
      {{"json", "check"}, "\"str\"", 0, "string, 1 value read\n", ""},
      {{"json", "format"}, " 123 ", 0, "123\n", ""},
      {{"json", "check"}, "null", 0, "null, 1 value read\n", ""},
      {{"json", "check"}, "{\"a\":[1,true]}", 0, "object, 4 values read\n", ""},
      // Numbers: exact as Decimals, else the shortest Double.
      {{"json", "format"},
       "{\"a\":1e29,\"b\":2}",
       0,
       "{\"a\":1e+29,\"b\":2}\n",
       ""},
      {{"json", "format"},
       "{\"x\":[1e300],\"y\":5}",
       0,
       "{\"x\":[1e+300],\"y\":5}\n",
       ""},
      {{"json", "format"},
       "[1.50, 1E2, -0, 0.1, 1e-30, 123456789012345678901234567890, "
       "0.1234567890123456789012345678]",
       0,
       "[1.5,100,-0,0.1,1e-30,123456789012345678901234567890,"
       "0.1234567890123456789012345678]\n",
       ""},
      // Text: UTF-8 as it came, escapes only where JSON needs them, lone
      // surrogates escaped since UTF-8 cannot carry them.
      {{"json", "format"},
       "[\"\xC3\xA9\xE6\x9D\xB1\xF0\x9F\x98\x80\", \"\\u00e9\\/\", "
       "\"\\u0001\\n\\\"\\\\\", \"\\ud800\\u007f\"]",
       0,
       "[\"\xC3\xA9\xE6\x9D\xB1\xF0\x9F\x98\x80\",\"\xC3\xA9/\","
       "\"\\u0001\\n\\\"\\\\\",\"\\ud800\\u007f\"]\n",
       ""},
      {{"json", "format", "--ascii"},
       "[\"\xC3\xA9\xE6\x9D\xB1\xF0\x9F\x98\x80\x7F\"]",
       0,
       "[\"\\u00e9\\u6771\\ud83d\\ude00\\u007f\"]\n",
       ""},
      // Members as written, repeated names included.
      {{"json", "format"}, "{\"a\":1,\"a\":2}", 0, "{\"a\":1,\"a\":2}\n", ""},
      {{"json", "format", "--indent", "2"},
       "{\"a\":[1,{}],\"b\":[],\"c\":{\"d\":null}}",
       0,
       "{\n  \"a\": [\n    1,\n    {}\n  ],\n  \"b\": [],\n  \"c\": {\n"
       "    \"d\": null\n  }\n}\n",
       ""},
      {{"json", "format", "--indent=1"},
       "\xEF\xBB\xBF[[]]",
       0,
       "[\n []\n]\n",
       ""},
      {{"json", "format", "--lenient"},
       "42",
       1,
       "",
       "quorvel: standard input: the text does not begin with an object or "
       "an array (error 9)\n"},
  };
  for (const ToolCase& c : cases) ExpectTool(c);
}

// The lenient reader exactly as it is, with a warning at the first place
// where a strict reading differs: where it stops, or where its value is
// another.
TEST(CliJsonTest, LenientReadingsThatDifferAreNamed) {
  QUORVEL_REQUIRE_TOOL();
  const auto warning = [](const std::string& place, const std::string& what) {
    return "quorvel: standard input:" + place + ": warning: " + what + "\n";
  };
  const std::string stops = "a strict reading stops here: ";
  const std::vector<std::string> format = {"json", "format", "--lenient"};
  const ToolCase cases[] = {
      {{"json", "check", "--lenient"},
       "[1,2",
       0,
       "array, 3 values read\n",
       warning("1:5", stops + "expected ',' or ']' after the element, found "
                              "the end of the text")},
      {format, "[1,2", 0, "[1,null]\n",
       warning("1:5", stops + "expected ',' or ']' after the element, found "
                              "the end of the text")},
      {format, "[1e400]", 0, "[]\n",
       warning("1:2", stops + "the number 1e400 is beyond the range of a "
                              "Double")},
      {format, "[0x10, 012, +1, .5, NaN]", 0, "[0]\n",
       warning("1:3", stops + "expected ',' or ']' after the element, found "
                              "'x'")},
      {format, "// c\n{a: 'b' c: [1 2]}", 0, "{\"a\":\"b\",\"c\":[1,2]}\n",
       warning("1:1", stops + "expected a value, found '/'")},
      // The strict reader reads these, but to other values.
      {format, "[[1,\n 1e29], 2]", 0, "[[1]]\n",
       warning("2:2", "the lenient reading ends the array before this value")},
      {format, "{\"a\":1,\"a\":2}", 0, "{\"a\":1}\n",
       warning("1:8",
               "the lenient reading gives the number 1 where a strict "
               "one gives the number 2")},
      // Where both agree, nothing is said.
      {format, "{\"a\": [1.50, \"\\u00e9\", null, true]}", 0,
       "{\"a\":[1.5,\"\xC3\xA9\",null,true]}\n", ""},
  };
  for (const ToolCase& c : cases) ExpectTool(c);
}

TEST(CliJsonTest, LargeTextsStreamThrough) {
  QUORVEL_REQUIRE_TOOL();
  std::string text = "[";
  for (int i = 0; text.size() < (5u << 20); ++i) {
    text += (i ? ",\n" : "") + std::string("{\"id\": ") + std::to_string(i) +
            ", \"name\": \"r\xC3\xA9sum\xC3\xA9 " + std::to_string(i * 7) +
            "\", \"tags\": [\"a\", \"b\"], \"score\": " + std::to_string(i) +
            ".25}";
  }
  text += "]";
  const ToolResult compact = RunQuorvel({"json", "format"}, {.input = text});
  ASSERT_EQ(compact.status, 0) << compact.err;
  const ToolResult indented =
      RunQuorvel({"json", "format", "--indent", "4"}, {.input = text});
  ASSERT_EQ(indented.status, 0);
  EXPECT_GT(indented.out.size(), compact.out.size());
  const ToolResult again =
      RunQuorvel({"json", "format"}, {.input = indented.out});
  EXPECT_EQ(again.out, compact.out);
  const ToolResult count = RunQuorvel({"json", "check"}, {.input = text});
  EXPECT_EQ(count.out.rfind("array, ", 0), 0u);
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
    const char kind = paths[i].filename().string()[0];
    const std::string bytes = ReadFile(path);
    const bool utf8 = ToUtf8(FromUtf8(bytes)) == bytes;
    not_utf8 += !utf8;
    if (utf8 && i % 10 != 0) continue;
    const ToolResult r = RunQuorvel({"json", "check", path});
    if (kind == 'y') {
      EXPECT_EQ(r.status, 0) << path << ": " << r.err;
    } else if (kind == 'n') {
      EXPECT_EQ(r.status, 1) << path;
      EXPECT_EQ(r.err.rfind("quorvel: " + path + ":", 0), 0u) << r.err;
    } else {
      EXPECT_TRUE(r.status == 0 || r.status == 1) << path << " " << r.status;
    }
  }
  EXPECT_GT(paths.size(), 300u);
  EXPECT_GT(not_utf8, 10);
}

// Puts every number of JSON text in the form "%.17g" gives its Double, so
// that texts that differ only in how they spell a number compare equal.
std::string DoubleNumbers(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '"') {
      const size_t start = i++;
      while (text[i] != '"') i += text[i] == '\\' ? 2 : 1;
      out.append(text, start, ++i - start);
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      const size_t end = text.find_first_not_of("+-.0123456789eE", i);
      char digits[32];
      std::snprintf(digits, sizeof digits, "%.17g",
                    std::strtod(text.substr(i, end - i).c_str(), nullptr));
      out += digits;
      i = end;
    } else {
      out += text[i++];
    }
  }
  return out;
}

// The standard writer's text is jq's, byte for byte, once numbers are
// spelt alike (the tool keeps a number's exact digits where jq writes its
// Double) and a repeated name is settled as jq settles it.
TEST(CliJsonTest, FormatIsJqsText) {
  QUORVEL_REQUIRE_TOOL();
  const std::filesystem::path dir = std::filesystem::path(QUORVEL_SHARED_DIR) /
                                    "jsontestsuite" / "test_parsing";
  if (!std::filesystem::is_directory(dir))
    GTEST_SKIP() << "no JSONTestSuite files at " << dir;
  if (!RunTool("jq -c .", "1")) GTEST_SKIP() << "no jq";
  int compared = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename().string().rfind("y_", 0) != 0) continue;
    const std::string bytes = ReadFile(entry.path().string());
    const ToolResult r = RunQuorvel({"json", "format"}, {.input = bytes});
    ASSERT_EQ(r.status, 0) << entry.path() << r.err;
    // Read back into a Dictionary, a repeated name keeps its last value.
    const std::string ours =
        JSON::WriteStandard(JSON::ParseStrict(FromUtf8(r.out))) + "\n";
    EXPECT_EQ(DoubleNumbers(ours), DoubleNumbers(*RunTool("jq -c .", bytes)))
        << entry.path();
    ++compared;
  }
  EXPECT_GT(compared, 90);
}

}  // namespace
}  // namespace quorvel::testing
