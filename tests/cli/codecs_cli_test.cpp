// `quorvel base64|lzss|rc4|verhoeff|msgpack`: round trips of every size,
// exact bytes, and bad input refused at its offset.
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cli/tool_runner.h"
#include "test_util.h"

namespace quorvel::testing {
namespace {

std::string RandomBytes(size_t n, uint32_t seed, int lowest = 0) {
  std::mt19937 rng(seed);
  std::string out(n, '\0');
  for (char& c : out)
    c = static_cast<char>(lowest + rng() % static_cast<uint32_t>(256 - lowest));
  return out;
}

std::string Bytes(std::string_view hex) {
  const std::vector<uint8_t> bytes = FromHex(hex);
  return {bytes.begin(), bytes.end()};
}

TEST(CliCodecsTest, EveryCodecRoundTripsEverySize) {
  QUORVEL_REQUIRE_TOOL();
  for (size_t n : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{56},
                   size_t{57}, (size_t{1} << 20) + 1}) {
    const auto seed = static_cast<uint32_t>(n);
    const std::string bytes = RandomBytes(n, seed);
    const std::string no_zero = RandomBytes(n, seed, 1);
    std::string text;  // text compresses; random bytes do not
    while (text.size() < n)
      text += "line " + std::to_string(text.size()) + "\n";
    text.resize(n);
    const std::pair<std::string, const std::string&> trips[] = {
        {"base64 encode|base64 decode", bytes},
        {"base64 encode --wrap 0|base64 decode --strict", bytes},
        {"lzss compress|lzss decompress", bytes},
        {"lzss compress|lzss decompress", text},
        {"lzss compress --raw|lzss decompress", text},
        {"rc4 encrypt --key secret|rc4 decrypt --key=secret", no_zero},
    };
    for (const auto& [run, input] : trips) {
      const size_t bar = run.find('|');
      const ToolResult there = Tool(run.substr(0, bar), {.input = input});
      ASSERT_EQ(there.status, 0) << run << " " << n << there.err;
      EXPECT_EQ(n == 0, there.out.empty()) << run;  // nothing in, nothing out
      const ToolResult back = Tool(run.substr(bar + 1), {.input = there.out});
      ASSERT_EQ(back.status, 0) << run << " " << n << back.err;
      EXPECT_TRUE(back.out == input) << run << " " << n;
    }
  }
}

TEST(CliCodecsTest, ExactBytesAndBadInput) {
  QUORVEL_REQUIRE_TOOL();
  const std::string bare("\x01\x61\x01\x00", 4);
  const std::string frame =
      "\x8EQLZSS1\r\n\x1A\n" + bare +
      std::string("\x04\0\0\0\0\0\0\0\x45\xE5\x98\xAD", 12);
  std::string changed = frame;
  changed[23] = 0x44;
  std::string groups;
  for (int i = 0; i < 19; ++i) groups += "YWFh";
  const std::string no_byte = " has no Windows-1252 byte";
  const ToolCase cases[] = {
      // 76 characters to a line unless told otherwise.
      {"base64 encode", std::string(58, 'a'), 0, groups + "\nYQ==\n", ""},
      {"base64 decode", "TW Fu\r\n\tTQ==TQ==\n", 0, "ManMM", ""},
      {"base64 decode --strict", "TWFu\r\n", 0, "Man", ""},
      {"base64 decode", "TWFu\nTW!u", 1, "",
       ": '!' at offset 7 is not a Base64 character", 5},
      {"base64 decode", "TWF", 1, "",
       ": the text ends at offset 3 inside a group of four characters", 5},
      {"base64 decode", "T===", 1, "",
       ": '=' at offset 1 is too early in its group", 5},
      {"base64 decode", "TQ=u", 1, "",
       ": a character at offset 3 follows '=' in its group", 5},
      {"base64 decode --strict", "TWFu\nTWFu", 1, "",
       ": a line break at offset 4 inside the text (--strict)", 5},
      {"base64 decode --strict", "TW Fu", 1, "",
       ": a blank at offset 2 inside the text (--strict)", 5},
      {"base64 decode --strict", "TR==", 1, "",
       ": padding at offset 3 leaves bits that are not zero (--strict)", 5},
      // The library's variant would give this zero byte back as its
      // keystream byte.
      {"rc4 encrypt --key k", std::string("hello\0world", 11), 1, "",
       ": byte 0 at offset 5: this RC4 variant cannot carry a zero byte", 5},
      {"rc4 encrypt --key \xE6\x9D\xB1", "abc", 1, "",
       "quorvel: --key: Character U+6771 (\xE6\x9D\xB1) at position 1" +
           no_byte,
       5},
      {"rc4 encrypt --key \xFF", "abc", 1, "",
       "quorvel: --key: the key is not UTF-8 text", 5},
      {"rc4 encrypt --key Key", "Plaintext", 0, "BBF316E8D940AF0AD3\n", ""},
      {"rc4 decrypt --key Key", "bbf316e8\nd940af0ad3\n", 0, "Plaintext", ""},
      {"rc4 decrypt --key Key", "BBF3 16XE8", 1, "",
       ": 'X' at offset 7 is not a hexadecimal digit", 13},
      {"rc4 decrypt --key Key", "BBF", 1, "P",
       ": the hex text has an odd number of digits", 13},
      {"lzss compress", "aaaa", 0, frame, ""},
      {"lzss compress --raw", "aaaa", 0, bare, ""},
      {"lzss decompress", frame.substr(0, 26), 1, "",
       ": The LZSS frame stream is damaged or cut short in the group at "
       "offset 11",
       9},
      {"lzss decompress", changed, 1, "",
       ": The LZSS frame restores bytes whose CRC-32 is AD98E545 where its "
       "trailer at offset 15 says AD98E544: it is damaged",
       9},
      {"lzss decompress --raw", frame, 1, "",
       ": the LZSS stream is damaged in the group at offset 0", 9},
      {"lzss decompress", std::string("\x00\x01\x00", 3), 1, "",
       ": neither an LZSS frame nor a bare LZSS stream: the first byte is 0x00",
       9},
      {"verhoeff generate 236 12345 0", "", 0, "3\n1\n4\n", ""},
      {"verhoeff validate", "2363\r\n\n2364\n04\nabc\n-5\n", 0,
       "True\nFalse\nTrue\nFalse\nFalse\n", ""},
      {"verhoeff generate", "236\n12a\n", 1, "3\n",
       ":2: '12a' is not a string of digits", 9},
      // MessagePack: Currency where it is exact, else a Double; text in
      // Windows-1252, and what it cannot hold refused at its place.
      {"msgpack encode",
       "[\"caf\xC3\xA9 \xE2\x82\xAC\", null, true, 1.25, 0.123456]", 0,
       Bytes("DC 00 05 D9 06 63 61 66 E9 20 80 C0 C3 C7 02 D4 30 00 00 00 00 "
             "00 00 CB BF B6 7E FA CF 9A BF 3F"),
       ""},
      // The lenient reader's numbers are made to travel the same way.
      {"msgpack encode --lenient", "[0.123456]", 0,
       Bytes("DC 00 01 CB BF B6 7E FA CF 9A BF 3F"), ""},
      {"msgpack encode", "[\"\xE6\x9D\xB1\xE4\xBA\xAC\"]", 1, "",
       ":1:2: character U+6771 (\xE6\x9D\xB1) at position 1 of this string" +
           no_byte,
       5},
      {"msgpack encode", "{\n \"ok\": 1,\n \"\\ud83d\\ude00\": 2}", 1, "",
       ":3:2: character U+1F600 (\xF0\x9F\x98\x80) at position 1 of this name" +
           no_byte,
       5},
      {"msgpack encode --lenient", "['\xE6\x9D\xB1']", 1, "",
       ":1:2: warning: a strict reading stops here: expected a value, found "
       "\"'\"\nquorvel: standard input: character U+6771 (\xE6\x9D\xB1) at "
       "position 1 of [0]" +
           no_byte,
       5},
      {"msgpack encode", "[0.1234567890123456789]", 1, "",
       ":1:2: the number '0.1234567890123456789' is neither a Currency (4 "
       "decimal places) nor a Double exactly",
       5},
      {"msgpack encode", "\"" + std::string(65536, 'x') + "\"", 1, "",
       ":1:1: this string is 65536 characters long, more than the 65535", 5},
      // Values one after another; the dialect's own Date and KxDocRec.
      {"msgpack decode",
       Bytes("DE 00 01 D9 01 61 C7 02 10 27 00 00 00 00 00 00 C3 D2 05 00 00 "
             "00"),
       0, "{\"a\":1}\ntrue\n5\n", ""},
      {"msgpack decode --indent 1",
       Bytes("C7 33 00 01 D9 01 64 C7 01 00 00 00 00 00 00 E2 40 C7 01 00 00 "
             "00 00 00 00 E2 3F"),
       0, "{\n \"d\": \"2000-12-04\"\n}\n\"1899-12-30T13:30:00\"\n", ""},
      // Cut short, or a type the dialect lacks: the offset of the value.
      {"msgpack decode", Bytes("C3 DC 00 02 C0"), 1, "true\n",
       ": the input ends inside a value that starts at offset 1", 9},
      {"msgpack decode", Bytes("93 01 02 03"), 1, "",
       ": Unsupported MsgPack type: 93 in the value at offset 0", 5},
      {"msgpack decode", "", 0, "", ""},
  };
  for (const ToolCase& c : cases) Expect(c);
}

// A value longer than a piece of input travels through msgpack and back.
TEST(CliCodecsTest, LargeValuesTravelWhole) {
  QUORVEL_REQUIRE_TOOL();
  std::string doc =
      "{\"name\":\"Ren\xC3\xA9\",\"n\":2.5,\"big\":1e+300,"
      "\"none\":null,\"list\":[";
  for (int i = 0; i < 60000; ++i)
    doc += (i ? ",\"" : "\"") + std::string(40, 'a' + i % 26) + "\"";
  doc += "]}";
  const ToolResult packed = Tool("msgpack encode", {.input = doc});
  ASSERT_EQ(packed.status, 0) << packed.err;
  EXPECT_GT(packed.out.size(), 2u << 20);
  EXPECT_EQ(Tool("msgpack decode", {.input = packed.out}).out, doc + "\n");
}

}  // namespace
}  // namespace quorvel::testing
