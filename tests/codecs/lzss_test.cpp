#include "quorvel/lzss.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codecs/crc32.h"
#include "test_util.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::FromHex;
using testing::ToHex;

Bytes Text(std::string_view s) { return Bytes(s.begin(), s.end()); }

// The rules: the longest match (3-18 bytes, 4,095 back at most), nearest.
Bytes ReferenceCompress(const Bytes& d) {
  const int n = static_cast<int>(d.size());
  Bytes out;
  size_t flag_at = 0;
  for (int p = 0, k = 0; p < n; k = (k + 1) % 8) {
    if (k == 0) {
      flag_at = out.size();
      out.push_back(0);
    }
    int best = 2, dist = 0;
    for (int c = p - 1; p + 2 < n && c >= 0 && p - c <= 4095 && best < 18;
         --c) {
      int j = 0;
      while (j < 18 && p + j < n && d[c + j] == d[p + j]) ++j;
      if (j > best) best = j, dist = p - c;
    }
    if (best < 3) {
      out[flag_at] |= static_cast<uint8_t>(1 << k);
      out.push_back(d[p++]);
    } else {
      out.push_back(static_cast<uint8_t>(dist & 255));
      out.push_back(static_cast<uint8_t>((best - 3) * 16 | dist >> 8));
      p += best;
    }
  }
  return out;
}

// One item of a stream: a literal byte, or a reference.
struct Item {
  bool literal;
  int distance_or_byte;
  int length;
  bool operator==(const Item&) const = default;
};

// Restores a stream byte by byte, listing its items; false where it is bad.
bool Walk(const Bytes& in, Bytes* out, std::vector<Item>* items = nullptr) {
  size_t i = 0;
  int r = 0, f = 0;
  out->clear();
  while (i < in.size()) {
    if (r == 0) {
      f = in[i++];
      r = 8;
    }
    Item it{true, 0, 1};
    if (f & 1) {
      if (i >= in.size()) return false;
      it.distance_or_byte = in[i++];
      out->push_back(static_cast<uint8_t>(it.distance_or_byte));
    } else {
      if (i + 1 >= in.size()) return false;
      it = {false, (in[i + 1] & 15) * 256 | in[i], in[i + 1] / 16 + 3};
      i += 2;
      const size_t d = static_cast<size_t>(it.distance_or_byte);
      if (d == 0 || d > out->size()) return false;
      for (int k = 0; k < it.length; ++k)
        out->push_back((*out)[out->size() - d]);
    }
    if (items) items->push_back(it);
    f >>= 1;
    --r;
  }
  return true;
}

// Pieces of a phrase: text-like data with many matches at many distances.
Bytes Words(size_t n, uint32_t seed) {
  static const std::string kText = "the quick brown fox { int x = 0; }\n";
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < n) {
    const size_t at = rng() % 30;
    out.insert(out.end(), kText.begin() + at, kText.begin() + at + 7);
  }
  out.resize(n);
  return out;
}

Bytes Random(size_t n, uint32_t seed, int alphabet = 256) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (uint8_t& b : out) b = static_cast<uint8_t>(rng() % alphabet);
  return out;
}

// What a stream gives for `in` written in pieces of the sizes, cycling.
template <class Stream>
Bytes ThroughStream(const Bytes& in, const std::vector<size_t>& pieces) {
  Stream stream;
  Bytes out;
  size_t at = 0;
  for (size_t k = 0; at < in.size(); ++k) {
    const size_t take = std::min(pieces[k % pieces.size()], in.size() - at);
    stream.Write(std::span(in).subspan(at, take), out);
    at += take;
  }
  stream.Finish(out);
  return out;
}

TEST(LZSSFormatTest, KnownStreams) {
  struct Case {
    Bytes in;
    const char* stream;
  };
  const Case cases[] = {
      {FromHex("61616161"), "01 61 01 00"},
      {Text("abcabcabc"), "07 61 62 63 03 30"},
      {FromHex("0000"), "03 00 00"},
      {Text("abababab"), "03 61 62 02 30"},  // distance 2, overlapping
      {Bytes(100, 0x20), "01 20 01 F0 01 F0 01 F0 01 F0 01 F0 01 60"},
      {Text("abcdefghi"), "FF 61 62 63 64 65 66 67 68 01 69"},
      // Equal lengths: the nearest candidate wins (distance 5, not 10).
      {Text("abcdXabcdYabcdZ"), "5F 61 62 63 64 58 05 10 59 05 10 01 5A"},
      // A longer match farther back beats a shorter near one.
      {Text("abcdeXabcYabcdeZ"), "BF 61 62 63 64 65 58 06 00 59 02 0A 20 5A"},
      // 19 equal bytes after a literal: a match of 18, then a literal.
      {Bytes(20, 7), "05 07 01 F0 07"},
  };
  for (const Case& c : cases) {
    const Bytes want = FromHex(c.stream);
    Bytes walked;
    EXPECT_EQ(mLZSS::Compress(c.in), want) << c.stream;
    EXPECT_EQ(ReferenceCompress(c.in), want) << c.stream;
    EXPECT_EQ(mLZSS::Decompress(want), c.in) << c.stream;
    EXPECT_TRUE(Walk(want, &walked) && walked == c.in) << c.stream;
  }
}

TEST(LZSSFormatTest, DistanceBitsAndTheLimitOf4095) {
  // "ABC", a filler without its bytes, "ABC" again, filler + 3 back.
  const Item a{true, 'A', 1}, b{true, 'B', 1}, c{true, 'C', 1};
  const struct {
    size_t filler;
    std::vector<Item> last;
  } cases[] = {
      {288, {{false, 291, 3}}}, {4092, {{false, 4095, 3}}}, {4093, {a, b, c}}};
  for (const auto& t : cases) {
    Bytes data = Text("ABC");
    for (uint8_t x : Random(t.filler, 11, 128)) data.push_back(x | 0x80);
    data.insert(data.end(), {'A', 'B', 'C'});
    const Bytes packed = mLZSS::Compress(data);
    Bytes back;
    std::vector<Item> items;
    ASSERT_TRUE(Walk(packed, &back, &items));
    EXPECT_EQ(std::vector<Item>(items.end() - t.last.size(), items.end()),
              t.last)
        << t.filler;
    EXPECT_EQ(mLZSS::Decompress(packed), data);
  }
}

TEST(LZSSFormatTest, BadStreamsRaise9) {
  ExpectRaisesStandard(mLZSS::Compress({}), 9);
  const char* bad[] = {
      "",                               // nothing at all
      "00 01 00",                       // a reference before any output
      "01",                             // ends right after a flag byte
      "00 05",                          // ends inside a reference
      "01 61 00 00",                    // distance 0
      "01 61 02 00",                    // two back with one byte out
      "FF 61 62 63 64 65 66 67 68 01",  // a full group, then a lone flag
  };
  for (const char* s : bad)
    ExpectRaisesStandard(mLZSS::Decompress(FromHex(s)), 9);
  // Leftover flag bits after the last item are never read.
  EXPECT_EQ(mLZSS::Decompress(FromHex("03 61")), Text("a"));
  // The group at fault is named: the second reaches 16 back of 8 restored.
  mLZSS::Decompressor stream;
  Bytes out;
  ExpectRaisesStandard(
      (stream.Write(FromHex("FF 61 62 63 64 65 66 67 68 00 10 00"), out),
       stream.Finish(out)),
      9);
  EXPECT_EQ(stream.group_offset(), 9u);
}

TEST(LZSSRoundTripTest, AgreesWithTheRulesOnManyInputs) {
  // Long chains across the 4,096-position link blocks and 8,192 ring.
  std::vector<Bytes> inputs = {Bytes(10000, 0), Random(50000, 5, 2),
                               Words(20000, 3)};
  for (size_t n : {1, 2, 3, 4, 18, 19, 4095, 4096, 4097})
    inputs.push_back(Random(n, static_cast<uint32_t>(n)));
  for (size_t n : {8191, 8192, 8193, 12289})
    inputs.push_back(Random(n, static_cast<uint32_t>(n), 3));
  for (const Bytes& in : inputs) {
    const Bytes packed = mLZSS::Compress(in);
    ASSERT_EQ(packed, ReferenceCompress(in)) << "size " << in.size();
    ASSERT_EQ(mLZSS::Decompress(packed), in) << "size " << in.size();
  }
}

TEST(LZSSStreamTest, PiecesGiveTheBytesOfTheWhole) {
  // Cut at the magic, trailer, item and window sizes, or not at all.
  std::vector<Bytes> inputs = {Bytes(),
                               Text("a"),
                               Words(200000, 11),
                               Random(70000, 12, 3),  // long chains
                               Bytes(40000, 'x'),  // references at piece ends
                               Random(3 << 20, 13, 4),  // moves the window
                               Random(5, 14)};
  const std::vector<std::vector<size_t>> cuts = {
      {1},     {11, 12, 13},     {17, 18, 19}, {4095, 1, 4097},
      {65536}, {size_t{3} << 20}};
  for (const Bytes& in : inputs) {
    const Bytes whole = in.empty() ? Bytes() : mLZSS::Compress(in);
    const Bytes frame = mLZSS::CompressFrame(in);
    EXPECT_EQ(mLZSS::DecompressFrame(frame), in);
    for (const std::vector<size_t>& pieces : cuts) {
      if (pieces[0] == 1 && in.size() > 1000000) continue;  // too slow
      SCOPED_TRACE("size " + std::to_string(in.size()) + " piece " +
                   std::to_string(pieces[0]));
      ASSERT_EQ(ThroughStream<mLZSS::Compressor>(in, pieces), whole);
      ASSERT_EQ(ThroughStream<mLZSS::Decompressor>(whole, pieces), in);
      ASSERT_EQ(ThroughStream<mLZSS::FrameCompressor>(in, pieces), frame);
      ASSERT_EQ(ThroughStream<mLZSS::FrameDecompressor>(frame, pieces), in);
    }
  }
  // A stream object serves stream after stream, and frame after frame.
  mLZSS::Compressor again;
  mLZSS::FrameDecompressor reader;
  Bytes out, restored;
  for (const char* s : {"aaaa", "abcabcabc"}) {
    again.Write(Text(s), out);
    again.Finish(out);
    reader.Write(mLZSS::CompressFrame(Text(s)), restored);
    reader.Finish(restored);
  }
  EXPECT_EQ(ToHex(out), "01610100076162630330");
  EXPECT_EQ(restored, Text("aaaaabcabcabc"));
}

// The description of the 9 raised from "LZSS", or "restored".
std::string FrameFault(const Bytes& frame, size_t piece = SIZE_MAX) {
  try {
    ThroughStream<mLZSS::FrameDecompressor>(frame, {piece});
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 9);
    EXPECT_EQ(testing::U8(e.source()), "LZSS");
    return testing::U8(e.description());
  }
  return "restored";
}

TEST(LZSSFrameTest, LayoutAndCrc) {
  const std::string magic = "8E514C5A5353310D0A1A0A";
  EXPECT_EQ(ToHex(mLZSS::CompressFrame(Text("aaaa"))),
            magic + "01610100" + "0400000000000000" + "45E598AD");
  EXPECT_EQ(ToHex(mLZSS::CompressFrame({})),
            magic + "0000000000000000" + "00000000");
  const std::string digits = ToHex(mLZSS::CompressFrame(Text("123456789")));
  EXPECT_EQ(digits.substr(digits.size() - 8), "2639F4CB");  // CBF43926
  // Each side of the 16- and 64-byte blocks, whole and in two pieces.
  Bytes data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = (i * 31 + 7) & 255;
  for (const auto& [n, crc] : {std::pair<size_t, uint32_t>{15, 0x8F77FABB},
                               {16, 0x0636A895},
                               {63, 0x794B269D},
                               {64, 0x84C86088},
                               {65, 0x34E57BEC},
                               {143, 0x6A960E99},
                               {1000, 0x8902161E}}) {
    const std::span<const uint8_t> all(data.data(), n);
    EXPECT_EQ(codecs_internal::Crc32(all), crc) << n;
    EXPECT_EQ(codecs_internal::Crc32(all.subspan(n / 3),
                                     codecs_internal::Crc32(all.first(n / 3))),
              crc)
        << n;
  }
}

TEST(LZSSFrameTest, EveryCutAndChangeIsRefused) {
  const Bytes frame = mLZSS::CompressFrame(Words(65536, 4));
  for (size_t n = 0; n < frame.size(); ++n) {
    ASSERT_NE(FrameFault(Bytes(frame.begin(), frame.begin() + n)), "restored")
        << n;
  }
  // What each fault says, and where.
  const Bytes aaaa = mLZSS::CompressFrame(Text("aaaa"));
  const auto with = [&](size_t at, uint8_t byte) {
    Bytes b = aaaa;
    b[at] = byte;
    return b;
  };
  const auto cut = [&](size_t n) {
    return Bytes(aaaa.begin(), aaaa.begin() + n);
  };
  // Forty literals, the third group's flag turned to a reference 400 back.
  Bytes literals(40);
  for (size_t i = 0; i < literals.size(); ++i)
    literals[i] = static_cast<uint8_t>(0x80 + i);
  Bytes damaged = mLZSS::CompressFrame(literals);
  damaged[29] = 0xFE;
  struct Case {
    Bytes frame;
    const char* fault;
  };
  const Case cases[] = {
      {with(3, 'z'),
       "The data is not an LZSS frame: byte 3 differs from the frame's "
       "magic"},
      {cut(5), "The LZSS frame ends at offset 5, inside its magic"},
      {cut(22),
       "The LZSS frame ends at offset 22, before its length and "
       "CRC-32"},
      {damaged, "The LZSS frame stream is damaged in the group at offset 29"},
      {cut(26),
       "The LZSS frame stream is damaged or cut short in the group at offset "
       "11"},
      {with(15, 5),
       "The LZSS frame restores 4 bytes where its trailer at offset 15 says "
       "5: it is cut short or damaged"},
      {with(23, 0x44),
       "The LZSS frame restores bytes whose CRC-32 is AD98E545 where its "
       "trailer at offset 15 says AD98E544: it is damaged"},
  };
  for (const Case& c : cases) EXPECT_EQ(FrameFault(c.frame), c.fault);
}

}  // namespace
}  // namespace quorvel
