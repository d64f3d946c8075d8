// `quorvel msgpack`: exact bytes, text the dialect cannot hold refused at
// its place, and values one after another.
#include <string>
#include <vector>

#include "cli/tool_runner.h"
#include "test_util.h"

namespace quorvel::testing {
namespace {

std::string Bytes(std::string_view hex) {
  const std::vector<uint8_t> b = FromHex(hex);
  return std::string(b.begin(), b.end());
}

TEST(CliMsgPackTest, EncodesExactlyOrRefuses) {
  QUORVEL_REQUIRE_TOOL();
  const ToolCase cases[] = {
      {{"msgpack", "encode"},
       "{\"a\":1}",
       0,
       Bytes("DE 00 01 D9 01 61 C7 02 10 27 00 00 00 00 00 00"),
       ""},
      {{"msgpack", "encode"},
       "[\"caf\xC3\xA9 \xE2\x82\xAC\", null, true, 1.5e300]",
       0,
       Bytes("DC 00 04 D9 06 63 61 66 E9 20 80 C0 C3 CB") +
           Bytes("35 58 00 66 2D EB 41 7E"),
       ""},
      {{"msgpack", "encode"}, "\"x\"", 0, Bytes("D9 01 78"), ""},
      {{"msgpack", "encode"}, "", 0, "", ""},
      // Characters outside Windows-1252: refused, never a '?'.
      {{"msgpack", "encode"},
       "[\"\xE6\x9D\xB1\xE4\xBA\xAC\"]",
       1,
       "",
       "quorvel: standard input:1:2: character U+6771 (\xE6\x9D\xB1) at "
       "position 1 of this string has no Windows-1252 byte (error 5)\n"},
      {{"msgpack", "encode"},
       "{\n \"ok\": 1,\n \"\\ud83d\\ude00\": 2}",
       1,
       "",
       "quorvel: standard input:3:2: character U+1F600 (\xF0\x9F\x98\x80) at "
       "position 1 of this name has no Windows-1252 byte (error 5)\n"},
      {{"msgpack", "encode", "--lenient"},
       "['\xE6\x9D\xB1']",
       1,
       "",
       "quorvel: standard input:1:2: warning: a strict reading stops here: "
       "expected a value, found \"'\"\n"
       "quorvel: standard input: character U+6771 (\xE6\x9D\xB1) at position 1 "
       "of [0] has no Windows-1252 byte (error 5)\n"},
      // Numbers travel exactly or not at all.
      {{"msgpack", "encode"},
       "[0.1234567890123456789]",
       1,
       "",
       "quorvel: standard input:1:2: the number '0.1234567890123456789' is "
       "neither a Currency (4 decimal places) nor a Double exactly (error "
       "5)\n"},
      {{"msgpack", "encode"},
       "[1.25, 0.123456]",
       0,
       Bytes("DC 00 02 C7 02 D4 30 00 00 00 00 00 00 CB") +
           Bytes("BF B6 7E FA CF 9A BF 3F"),
       ""},
      // The lenient reader's numbers are made to travel the same way.
      {{"msgpack", "encode", "--lenient"},
       "[0.123456]",
       0,
       Bytes("DC 00 01 CB BF B6 7E FA CF 9A BF 3F"),
       ""},
      {{"msgpack", "encode"},
       "[1,",
       1,
       "",
       "quorvel: standard input:1:4: expected a value, found the end of the "
       "text (error 9)\n"},
      {{"msgpack", "encode"},
       "\"" + std::string(65536, 'x') + "\"",
       1,
       "",
       "quorvel: standard input:1:1: this string is 65536 characters long, "
       "more than the 65535 a MessagePack string holds (error 5)\n"},
  };
  for (const ToolCase& c : cases) {
    const ToolResult r = RunQuorvel(c.args, {.input = c.input});
    EXPECT_EQ(r.status, c.status) << c.input.substr(0, 40);
    EXPECT_EQ(ToHex(std::span(reinterpret_cast<const uint8_t*>(r.out.data()),
                              r.out.size())),
              ToHex(std::span(reinterpret_cast<const uint8_t*>(c.out.data()),
                              c.out.size())))
        << c.input.substr(0, 40);
    EXPECT_EQ(r.err, c.err) << c.input.substr(0, 40);
  }
}

TEST(CliMsgPackTest, DecodesValuesOneAfterAnother) {
  QUORVEL_REQUIRE_TOOL();
  const std::string doc =
      "{\"name\":\"Ren\xC3\xA9\",\"tags\":[\"a\",\"\xE2\x82\xAC\"],\"n\":2.5,"
      "\"big\":1e+300,\"none\":null}";
  const ToolResult packed = RunQuorvel({"msgpack", "encode"}, {.input = doc});
  ASSERT_EQ(packed.status, 0) << packed.err;
  ToolResult r = RunQuorvel({"msgpack", "decode"},
                            {.input = packed.out + Bytes("C3 D2 05 00 00 00")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, doc + "\ntrue\n5\n");
  // The dialect's own kinds: a Date and a KxDocRec.
  r = RunQuorvel({"msgpack", "decode", "--indent", "1"},
                 {.input = Bytes("C7 33 00 01 D9 01 64 C7 01") +
                           Bytes("00 00 00 00 00 00 E2 40") +
                           Bytes("C7 01 00 00 00 00 00 00 E2 3F")});
  EXPECT_EQ(r.out, "{\n \"d\": \"2000-12-04\"\n}\n\"1899-12-30T13:30:00\"\n");
  // Cut short, or a type the dialect lacks: the offset of the value.
  r = RunQuorvel({"msgpack", "decode"}, {.input = Bytes("C3 DC 00 02 C0")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "true\n");
  EXPECT_EQ(r.err,
            "quorvel: standard input: the input ends inside a value that "
            "starts at offset 1 (error 9)\n");
  r = RunQuorvel({"msgpack", "decode"}, {.input = Bytes("93 01 02 03")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "quorvel: standard input: Unsupported MsgPack type: 93 in the "
            "value at offset 0 (error 5)\n");
  r = RunQuorvel({"msgpack", "decode"}, {.input = ""});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  // A value longer than a piece of input is read whole.
  std::string big = "[";
  for (int i = 0; i < 60000; ++i)
    big += (i ? "," : "") + std::string("\"") + std::string(40, 'a' + i % 26) +
           "\"";
  big += "]";
  const ToolResult big_packed =
      RunQuorvel({"msgpack", "encode"}, {.input = big});
  ASSERT_EQ(big_packed.status, 0);
  EXPECT_GT(big_packed.out.size(), 2u << 20);
  r = RunQuorvel({"msgpack", "decode"}, {.input = big_packed.out});
  EXPECT_EQ(r.out, big + "\n");
}

}  // namespace
}  // namespace quorvel::testing
