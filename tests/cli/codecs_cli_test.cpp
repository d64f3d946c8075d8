// `quorvel base64|lzss|rc4|verhoeff`: round trips of every size, agreement
// with coreutils and with the library, and bad input.
#include <random>
#include <span>
#include <string>
#include <vector>

#include "cli/tool_runner.h"
#include "quorvel/lzss.h"
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

TEST(CliCodecsTest, EveryCodecRoundTripsEverySize) {
  QUORVEL_REQUIRE_TOOL();
  for (size_t n : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{57},
                   size_t{76}, size_t{1} << 20, size_t{5} << 20}) {
    const std::string bytes = RandomBytes(n, static_cast<uint32_t>(n));
    // Text compresses; random bytes do not.
    std::string text;
    while (text.size() < n)
      text += "line " + std::to_string(text.size()) + "\n";
    text.resize(n);
    const std::string no_zero = RandomBytes(n, static_cast<uint32_t>(n), 1);
    struct Trip {
      std::vector<std::string> there, back;
      const std::string& input;
    };
    const Trip trips[] = {
        {{"base64", "encode"}, {"base64", "decode"}, bytes},
        {{"base64", "encode", "--wrap", "0"},
         {"base64", "decode", "--strict"},
         bytes},
        {{"lzss", "compress"}, {"lzss", "decompress"}, bytes},
        {{"lzss", "compress"}, {"lzss", "decompress"}, text},
        {{"rc4", "encrypt", "--key", "secret"},
         {"rc4", "decrypt", "--key=secret"},
         no_zero},
    };
    for (const Trip& t : trips) {
      const ToolResult there = RunQuorvel(t.there, {.input = t.input});
      ASSERT_EQ(there.status, 0) << t.there[0] << " " << n << there.err;
      if (n == 0) EXPECT_EQ(there.out, "") << t.there[0];
      const ToolResult back = RunQuorvel(t.back, {.input = there.out});
      ASSERT_EQ(back.status, 0) << t.back[0] << " " << n << back.err;
      EXPECT_TRUE(back.out == t.input) << t.back[0] << " " << n;
    }
    // The stream the tool writes piece by piece is the library's for the
    // whole.
    if (n > 0) {
      const ToolResult packed =
          RunQuorvel({"lzss", "compress"}, {.input = text});
      const std::vector<uint8_t> whole = mLZSS::Compress(std::span(
          reinterpret_cast<const uint8_t*>(text.data()), text.size()));
      EXPECT_TRUE(packed.out == std::string(whole.begin(), whole.end())) << n;
    }
    // Base64 lines as coreutils writes them, both ways.
    if (const auto gnu = RunTool("base64", bytes)) {
      EXPECT_TRUE(RunQuorvel({"base64", "encode"}, {.input = bytes}).out ==
                  *gnu)
          << n;
      EXPECT_TRUE(RunQuorvel({"base64", "decode"}, {.input = *gnu}).out ==
                  bytes)
          << n;
    }
  }
}

TEST(CliCodecsTest, Base64) {
  QUORVEL_REQUIRE_TOOL();
  const ToolCase cases[] = {
      {{"base64", "encode", "--wrap", "4"}, "Man", 0, "TWFu\n", ""},
      {{"base64", "encode", "--wrap", "3"}, "Ma", 0, "TWE\n=\n", ""},
      {{"base64", "encode"}, "", 0, "", ""},
      {{"base64", "decode"}, "TW Fu\r\n\tTQ==TQ==\n", 0, "ManMM", ""},
      {{"base64", "decode"}, "", 0, "", ""},
      {{"base64", "decode"}, "\n\n", 0, "", ""},
      {{"base64", "decode", "--strict"}, "TWFu\r\n", 0, "Man", ""},
      {{"base64", "decode"},
       "TWFu\nTW!u",
       1,
       "",
       "quorvel: standard input: '!' at offset 7 is not a Base64 character "
       "(error 5)\n"},
      {{"base64", "decode"},
       "TW\xC3\xA9",
       1,
       "",
       "quorvel: standard input: byte 0xC3 at offset 2 is not a Base64 "
       "character (error 5)\n"},
      {{"base64", "decode"},
       "TWF",
       1,
       "",
       "quorvel: standard input: the text ends at offset 3 inside a group of "
       "four characters (error 5)\n"},
      {{"base64", "decode"},
       "T===",
       1,
       "",
       "quorvel: standard input: '=' at offset 1 is too early in its group "
       "(error 5)\n"},
      {{"base64", "decode"},
       "TQ=u",
       1,
       "",
       "quorvel: standard input: a character at offset 3 follows '=' in its "
       "group (error 5)\n"},
      {{"base64", "decode", "--strict"},
       "TWFu\nTWFu",
       1,
       "",
       "quorvel: standard input: a line break at offset 4 inside the text "
       "(--strict) (error 5)\n"},
      {{"base64", "decode", "--strict"},
       "TW Fu",
       1,
       "",
       "quorvel: standard input: a blank at offset 2 inside the text "
       "(--strict) (error 5)\n"},
      {{"base64", "decode", "--strict"},
       "TR==",
       1,
       "",
       "quorvel: standard input: padding at offset 3 leaves bits that are not "
       "zero (--strict) (error 5)\n"},
  };
  for (const ToolCase& c : cases) ExpectTool(c);
}

TEST(CliCodecsTest, Rc4RefusesWhatItCannotCarry) {
  QUORVEL_REQUIRE_TOOL();
  const ToolCase cases[] = {
      // The library's variant would give this zero byte back as its
      // keystream byte.
      {{"rc4", "encrypt", "--key", "k"},
       std::string("hello\0world", 11),
       1,
       "",
       "quorvel: standard input: byte 0 at offset 5: this RC4 variant cannot "
       "carry a zero byte (it would decrypt to its keystream byte) (error "
       "5)\n"},
      {{"rc4", "encrypt", "--key", "\xE6\x9D\xB1"},
       "abc",
       1,
       "",
       "quorvel: --key: Character U+6771 (\xE6\x9D\xB1) at position 1 has no "
       "Windows-1252 byte (error 5)\n"},
      {{"rc4", "encrypt", "--key", "\xFF"},
       "abc",
       1,
       "",
       "quorvel: --key: the key is not UTF-8 text (error 5)\n"},
      {{"rc4", "encrypt", "--key", "Key"},
       "Plaintext",
       0,
       "BBF316E8D940AF0AD3\n",
       ""},
      {{"rc4", "decrypt", "--key", "Key"},
       "bbf316e8\nd940af0ad3\n",
       0,
       "Plaintext",
       ""},
      {{"rc4", "decrypt", "--key", "Key"},
       "BBF3 16XE8",
       1,
       "",
       "quorvel: standard input: 'X' at offset 7 is not a hexadecimal digit "
       "(error 13)\n"},
      {{"rc4", "decrypt", "--key", "Key"},
       "BBF",
       1,
       "P",
       "quorvel: standard input: the hex text has an odd number of digits "
       "(error 13)\n"},
      {{"rc4", "encrypt", "--key", "k"}, "", 0, "", ""},
  };
  for (const ToolCase& c : cases) ExpectTool(c);
}

TEST(CliCodecsTest, LzssDamageAndVerhoeff) {
  QUORVEL_REQUIRE_TOOL();
  const ToolCase cases[] = {
      {{"lzss", "decompress"},
       std::string("\x00\x01\x00", 3),
       1,
       "",
       "quorvel: standard input: the LZSS stream is damaged in the group at "
       "offset 0 (error 9)\n"},
      {{"lzss", "decompress"},
       "\xFF"
       "abcdefgh\x01",
       1,
       "",
       "quorvel: standard input: the LZSS stream is damaged in the group at "
       "offset 9 (error 9)\n"},
      {{"lzss", "compress"}, "aaaa", 0, std::string("\x01\x61\x01\x00", 4), ""},
      {{"verhoeff", "generate", "236", "12345", "0"}, "", 0, "3\n1\n4\n", ""},
      {{"verhoeff", "validate"},
       "2363\r\n\n2364\n04\nabc\n-5\n",
       0,
       "True\nFalse\nTrue\nFalse\nFalse\n",
       ""},
      {{"verhoeff", "generate"},
       "236\n12a\n",
       1,
       "3\n",
       "quorvel: standard input:2: '12a' is not a string of digits "
       "(error 9)\n"},
      {{"verhoeff", "generate", "9x"},
       "",
       1,
       "",
       "quorvel: '9x' is not a string of digits (error 9)\n"},
  };
  for (const ToolCase& c : cases) ExpectTool(c);
}

}  // namespace
}  // namespace quorvel::testing
