// `quorvel base64|lzss|rc4|verhoeff`: round trips of every size, agreement
// with coreutils and with the library, and bad input.
#include <filesystem>
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
        {{"lzss", "compress", "--raw"}, {"lzss", "decompress"}, text},
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
    // What the tool writes piece by piece is the library's for the whole:
    // the frame, and with --raw the bare stream.
    if (n > 0) {
      const std::span<const uint8_t> whole(
          reinterpret_cast<const uint8_t*>(text.data()), text.size());
      const std::vector<uint8_t> frame = mLZSS::CompressFrame(whole);
      const std::vector<uint8_t> bare = mLZSS::Compress(whole);
      EXPECT_TRUE(RunQuorvel({"lzss", "compress"}, {.input = text}).out ==
                  std::string(frame.begin(), frame.end()))
          << n;
      EXPECT_TRUE(
          RunQuorvel({"lzss", "compress", "--raw"}, {.input = text}).out ==
          std::string(bare.begin(), bare.end()))
          << n;
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

TEST(CliCodecsTest, Base64WrapsAsCoreutilsDoes) {
  QUORVEL_REQUIRE_TOOL();
  if (!RunTool("base64 -w 0", "x")) GTEST_SKIP() << "no coreutils base64";
  for (size_t n :
       {size_t{0}, size_t{1}, size_t{56}, size_t{57}, size_t{1000}}) {
    const std::string bytes = RandomBytes(n, static_cast<uint32_t>(n + 1));
    for (const char* wrap : {"0", "1", "3", "4", "76", "100"}) {
      const ToolResult r =
          RunQuorvel({"base64", "encode", "--wrap", wrap}, {.input = bytes});
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out, RunTool(std::string("base64 -w ") + wrap, bytes))
          << n << " bytes, --wrap " << wrap;
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

TEST(CliCodecsTest, LzssFramesBareStreamsAndVerhoeff) {
  QUORVEL_REQUIRE_TOOL();
  const std::string bare("\x01\x61\x01\x00", 4);
  const std::string frame =
      std::string("\x8EQLZSS1\r\n\x1A\n") + bare +
      std::string("\x04\0\0\0\0\0\0\0\x45\xE5\x98\xAD", 12);
  std::string changed = frame;
  changed[23] = 0x44;
  const ToolCase cases[] = {
      {{"lzss", "compress"}, "aaaa", 0, frame, ""},
      {{"lzss", "compress", "--raw"}, "aaaa", 0, bare, ""},
      {{"lzss", "compress"}, "", 0, "", ""},
      {{"lzss", "decompress"}, frame, 0, "aaaa", ""},
      {{"lzss", "decompress"}, bare, 0, "aaaa", ""},
      {{"lzss", "decompress"}, "", 0, "", ""},
      {{"lzss", "decompress"},
       frame.substr(0, 26),
       1,
       "",
       "quorvel: standard input: The LZSS frame stream is damaged or cut "
       "short in the group at offset 11 (error 9)\n"},
      {{"lzss", "decompress"},
       changed,
       1,
       "",
       "quorvel: standard input: The LZSS frame restores bytes whose CRC-32 "
       "is AD98E545 where its trailer at offset 15 says AD98E544: it is "
       "damaged (error 9)\n"},
      {{"lzss", "decompress", "--raw"},
       frame,
       1,
       "",
       "quorvel: standard input: the LZSS stream is damaged in the group at "
       "offset 0 (error 9)\n"},
      {{"lzss", "decompress"},
       std::string("\x00\x01\x00", 3),
       1,
       "",
       "quorvel: standard input: neither an LZSS frame nor a bare LZSS "
       "stream: the first byte is 0x00 (error 9)\n"},
      {{"lzss", "decompress"},
       "\xFF"
       "abcdefgh\x01",
       1,
       "",
       "quorvel: standard input: the LZSS stream is damaged in the group at "
       "offset 9 (error 9)\n"},
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

// A frame file cut anywhere or changed anywhere is refused with its name,
// and -o leaves nothing in place of the output.
TEST(CliCodecsTest, LzssRefusesCutAndChangedFiles) {
  QUORVEL_REQUIRE_TOOL();
  ScratchDir dir;
  std::string text;
  for (int i = 0; text.size() < 300000; ++i)
    text += "line " + std::to_string(i * 7919 % 1000) + " of the text\n";
  const ToolResult packed = RunQuorvel({"lzss", "compress"}, {.input = text});
  ASSERT_EQ(packed.status, 0);
  const std::string path = dir.Path("text.qlz");
  const std::string out = dir.Path("text");
  std::mt19937 rng(5);
  for (int k = 0; k < 12; ++k) {
    std::string bad = packed.out;
    if (k < 6) {
      bad.resize(1 + rng() % (bad.size() - 1));
    } else {
      bad[rng() % bad.size()] ^= static_cast<char>(1 + rng() % 255);
    }
    WriteFile(path, bad);
    const ToolResult r = RunQuorvel({"lzss", "decompress", "-o", out, path});
    EXPECT_EQ(r.status, 1) << k;
    EXPECT_EQ(r.err.rfind("quorvel: " + path + ": ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("(error 9)\n"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

}  // namespace
}  // namespace quorvel::testing
