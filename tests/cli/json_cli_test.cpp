// `quorvel json` and `quorvel csv`: strict reading with the place of a
// fault, the lenient reader on request; CSV options, JSON out, and the
// stable, numeric sort.
#include <string>

#include "cli/tool_runner.h"

namespace quorvel::testing {
namespace {

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
      {"json check", "{\n  \"a\": tru\n}", 1, "",
       ":2:11: expected a value, found U+000A", 9},
      // Not UTF-8: the place of the byte, counted in characters.
      {"json check", "[\"\xC3\xA9\xFF\"]", 1, "", ":1:4: byte 0xFF" + not_utf8,
       5},
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
      {"json format", "{\"a\":1,\"a\":2}", 0, "{\"a\":1,\"a\":2}\n", ""},
      {"json format --indent=1", "\xEF\xBB\xBF[[]]", 0, "[\n []\n]\n", ""},
  };
  for (const ToolCase& c : cases) Expect(c);
}

// The lenient reader exactly as it is, with a warning at the first place
// where a strict reading differs: where it stops, or where its value is
// another.
TEST(CliJsonTest, LenientReadingsThatDifferAreNamed) {
  QUORVEL_REQUIRE_TOOL();
  const std::string at = "quorvel: standard input:";
  const std::string stops = ": warning: a strict reading stops here: ";
  const ToolCase cases[] = {
      {"json check --lenient", "[1,2", 0, "array, 3 values read\n",
       at + "1:5" + stops +
           "expected ',' or ']' after the element, found the end of the "
           "text\n"},
      {"json format --lenient", "// c\n{a: 'b' c: [1 2]}", 0,
       "{\"a\":\"b\",\"c\":[1,2]}\n",
       at + "1:1" + stops + "expected a value, found '/'\n"},
      // The strict reader reads these, but to other values.
      {"json format --lenient", "[[1,\n 1e29], 2]", 0, "[[1]]\n",
       at + "2:2: warning: the lenient reading ends the array before this "
            "value\n"},
      {"json format --lenient", "{\"a\":1,\"a\":2}", 0, "{\"a\":1}\n",
       at + "1:8: warning: the lenient reading gives the number 1 where a "
            "strict one gives the number 2\n"},
      // Where both agree, nothing is said.
      {"json format --lenient", "{\"a\": [1.50, \"\\u00e9\", null, true]}", 0,
       "{\"a\":[1.5,\"\xC3\xA9\",null,true]}\n", ""},
      {"json format --lenient", "42", 1, "",
       ": the text does not begin with an object or an array", 9},
  };
  for (const ToolCase& c : cases) Expect(c);
}

// CSV to JSON, and sorted: text ignores case, empty cells come first, equal
// keys keep their order.
TEST(CliCsvTest, ToJsonAndSorted) {
  QUORVEL_REQUIRE_TOOL();
  const std::string people =
      "name,age\r\nbob,30\r\nAl,5\r\namy,30\r\n\"Doe, J\",\r\nzed,100\r\n";
  const ToolCase cases[] = {
      {"csv to-json --separator \\t", "a\tb\r1\t2\n", 0,
       "[{\"a\":\"1\",\"b\":\"2\"}]\n", ""},
      {"csv to-json", "", 0, "[]\n", ""},
      // Control characters come out as JSON escapes, text as UTF-8.
      {"csv to-json", "k\n\x01\t\xC3\xA9\n", 0,
       "[{\"k\":\"\\u0001\\t\xC3\xA9\"}]\n", ""},
      // Repeated and empty names; a short record.
      {"csv to-json", "0,0,,x\n1,2,3\n", 0,
       "[{\"0\":\"1\",\"0_2\":\"2\",\"Col3\":\"3\",\"x\":null}]\n", ""},
      // Quotes as plain text, comment lines, and records of uneven length
      // padded when there is no header.
      {"csv to-json --quote none", "a,b\n\"x\",say \"hi\"\n", 0,
       "[{\"a\":\"\\\"x\\\"\",\"b\":\"say \\\"hi\\\"\"}]\n", ""},
      {"csv to-json --comment # --no-header", "# note\r\n1,2\r\n#3\r\n4\r\n", 0,
       "[{\"Col1\":\"1\",\"Col2\":\"2\"},{\"Col1\":\"4\",\"Col2\":null}]\n",
       ""},
      {"csv sort --column 2 --no-header --quote none", "b,\"q\ra\n", 0,
       "a,\r\nb,\"q\r\n", ""},
      {"csv to-json", "a,b\n1,2,3\n", 1, "",
       ":2:5: the record has 3 fields, more than the 2 columns", 9},
      {"csv to-json", "a\n\xE9t\xE9\n", 1, "",
       ":2:1: byte 0xE9 is not UTF-8 here (the text must be UTF-8)", 5},
      {"csv sort --column name", people, 0,
       "name,age\r\nAl,5\r\namy,30\r\nbob,30\r\n\"Doe, J\",\r\nzed,100\r\n",
       ""},
      {"csv sort --column age", people, 0,
       "name,age\r\n\"Doe, J\",\r\nzed,100\r\nbob,30\r\namy,30\r\nAl,5\r\n",
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
