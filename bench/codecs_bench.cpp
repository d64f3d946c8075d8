// Codec costs against the usual C libraries: Base64 and RC4 against
// OpenSSL, LZSS against zlib (and LZ4 for the compression ratio).
//
// Buffers past 32 MB come from fresh pages on every allocation here, which
// costs far more than the codecs themselves. The 64 MB Base64 and RC4 rows
// therefore write into buffers both sides allocate once ("into buffer"); the
// LZSS rows use the functions that return new vectors, which stay below that
// size.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "json_document.h"
#include "quorvel/base64.h"
#include "quorvel/carray.h"
#include "quorvel/codepage.h"
#include "quorvel/convert.h"
#include "quorvel/dictionary.h"
#include "quorvel/json.h"
#include "quorvel/lzss.h"
#include "quorvel/msgpack.h"
#include "quorvel/rc4.h"

#ifdef QUORVEL_HAVE_OPENSSL
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <openssl/evp.h>
#include <openssl/rc4.h>
#endif
#ifdef QUORVEL_HAVE_ZLIB
#include <zlib.h>
#endif
#ifdef QUORVEL_HAVE_LZ4
#include <lz4.h>
#endif
#ifdef QUORVEL_HAVE_MSGPACK
#include <msgpack.hpp>
#endif
#ifdef QUORVEL_HAVE_NLOHMANN
#include <nlohmann/json.hpp>
#endif

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kBulk = 64u << 20;
constexpr size_t kCorpus = 20u << 20;

// 64 MB of printable text: what Base64 and RC4 are usually handed.
const Bytes& BulkText() {
  static const Bytes data = [] {
    Bytes out(kBulk);
    std::mt19937 rng(42);
    for (uint8_t& b : out) b = static_cast<uint8_t>(' ' + rng() % 95);
    return out;
  }();
  return data;
}

// Real text: regular files under /usr/include and /usr/share/doc in sorted
// path order, binary files (a zero byte in the first 4 KiB) left out, half of
// the corpus from each tree so that both code and prose are in it.
Bytes ReadTree(const std::filesystem::path& root, size_t want) {
  namespace fs = std::filesystem;
  std::vector<fs::path> paths;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; it != end;
       it.increment(ec)) {
    if (ec) break;
    if (it->is_regular_file(ec) && !it->is_symlink(ec))
      paths.push_back(it->path());
  }
  std::sort(paths.begin(), paths.end());
  Bytes out;
  for (const fs::path& p : paths) {
    if (out.size() >= want) break;
    std::ifstream in(p, std::ios::binary);
    Bytes file((std::istreambuf_iterator<char>(in)),
               std::istreambuf_iterator<char>());
    size_t head = std::min<size_t>(file.size(), 4096);
    if (std::find(file.begin(), file.begin() + head, 0) != file.begin() + head)
      continue;
    out.insert(out.end(), file.begin(), file.end());
  }
  out.resize(std::min(out.size(), want));
  return out;
}

const Bytes& Corpus() {
  static const Bytes data = [] {
    Bytes out = ReadTree("/usr/include", kCorpus / 2);
    Bytes doc = ReadTree("/usr/share/doc", kCorpus - out.size());
    out.insert(out.end(), doc.begin(), doc.end());
    // Too little text installed: repeat what there is.
    for (size_t have = out.size(); have > 0 && out.size() < kCorpus;)
      out.insert(out.end(), out.begin(),
                 out.begin() + std::min(have, kCorpus - out.size()));
    return out;
  }();
  return data;
}

const Bytes& CorpusPacked() {
  static const Bytes packed = quorvel::mLZSS::Compress(Corpus());
  return packed;
}

// ---------------------------------------------------------------- Base64

void OursBase64Encode(benchmark::State& state) {
  const Bytes& in = BulkText();
  std::string out(quorvel::mBase64::EncodedSize(in.size()), '\0');
  for (auto _ : state) {
    quorvel::mBase64::EncodeTo(in, out.data());
    benchmark::DoNotOptimize(out.data());
  }
}

void OursBase64EncodeWide(benchmark::State& state) {
  const Bytes& in = BulkText();
  std::u16string out(quorvel::mBase64::EncodedSize(in.size()), u'\0');
  for (auto _ : state) {
    quorvel::mBase64::EncodeTo(in, out.data());
    benchmark::DoNotOptimize(out.data());
  }
}

const std::string& Base64Text() {
  static const std::string text = quorvel::mBase64::EncodeNarrow(BulkText());
  return text;
}

void OursBase64Decode(benchmark::State& state) {
  const std::string& text = Base64Text();
  Bytes out(quorvel::mBase64::MaxDecodedSize(text.size()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(quorvel::mBase64::DecodeTo(text, out.data()));
  }
}

void OursBase64DecodeWide(benchmark::State& state) {
  const std::u16string text(Base64Text().begin(), Base64Text().end());
  Bytes out(quorvel::mBase64::MaxDecodedSize(text.size()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(quorvel::mBase64::DecodeTo(text, out.data()));
  }
}

#ifdef QUORVEL_HAVE_OPENSSL
void SslBase64Encode(benchmark::State& state) {
  const Bytes& in = BulkText();
  std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), in.data(),
                        static_cast<int>(in.size())));
  }
}

void SslBase64Decode(benchmark::State& state) {
  const std::string& text = Base64Text();
  Bytes out(text.size() / 4 * 3);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVP_DecodeBlock(
        out.data(), reinterpret_cast<const unsigned char*>(text.data()),
        static_cast<int>(text.size())));
  }
}
#endif

// ------------------------------------------------------------------- RC4

const Bytes kKey = {'b', 'e', 'n', 'c', 'h', '-', 'k', 'e', 'y'};

void OursRc4Hex(benchmark::State& state) {
  const Bytes& in = BulkText();
  std::string hex(2 * in.size(), '\0');
  for (auto _ : state) {
    quorvel::mRC4::EncryptTo(in, kKey, hex.data());
    benchmark::DoNotOptimize(hex.data());
  }
}

#ifdef QUORVEL_HAVE_OPENSSL
void SslRc4Hex(benchmark::State& state) {
  const Bytes& in = BulkText();
  Bytes cipher(in.size());
  std::string hex(2 * in.size(), '\0');
  static const char kDigits[] = "0123456789ABCDEF";
  for (auto _ : state) {
    RC4_KEY key;
    RC4_set_key(&key, static_cast<int>(kKey.size()), kKey.data());
    RC4(&key, in.size(), in.data(), cipher.data());
    char* o = hex.data();
    for (uint8_t b : cipher) {
      *o++ = kDigits[b >> 4];
      *o++ = kDigits[b & 15];
    }
    benchmark::DoNotOptimize(hex.data());
  }
}
#pragma GCC diagnostic pop
#endif

// ------------------------------------------------------------------ LZSS

void OursLzssCompress(benchmark::State& state) {
  const Bytes& in = Corpus();
  for (auto _ : state) {
    Bytes out = quorvel::mLZSS::Compress(in);
    benchmark::DoNotOptimize(out.data());
  }
}

void OursLzssDecompress(benchmark::State& state) {
  const Bytes& packed = CorpusPacked();
  for (auto _ : state) {
    Bytes out = quorvel::mLZSS::Decompress(packed);
    benchmark::DoNotOptimize(out.data());
  }
}

#ifdef QUORVEL_HAVE_ZLIB
// Like ours, zlib writes into an uninitialised worst-case buffer and the
// result is copied out at its exact length: neither side pays for zero-
// filling the bound.
Bytes ZlibPack(const Bytes& in, int level) {
  uLongf size = compressBound(in.size());
  const std::unique_ptr<uint8_t[]> scratch(new uint8_t[size]);
  compress2(scratch.get(), &size, in.data(), in.size(), level);
  return Bytes(scratch.get(), scratch.get() + size);
}

void ZlibCompress(benchmark::State& state) {
  const Bytes& in = Corpus();
  for (auto _ : state) {
    Bytes out = ZlibPack(in, 1);
    benchmark::DoNotOptimize(out.data());
  }
}

void ZlibUncompress(benchmark::State& state) {
  const Bytes& in = Corpus();
  static const Bytes packed = ZlibPack(in, 1);
  for (auto _ : state) {
    Bytes out(in.size());
    uLongf size = out.size();
    uncompress(out.data(), &size, packed.data(), packed.size());
    benchmark::DoNotOptimize(out.data());
  }
}
#endif

void PrintRatios() {
  const Bytes& in = Corpus();
  const double n = static_cast<double>(in.size());
  std::printf(
      "LZSS corpus: %zu bytes of text from /usr/include and "
      "/usr/share/doc\n",
      in.size());
  std::printf("  compression ratio (input/output): LZSS %.3f",
              n / CorpusPacked().size());
#ifdef QUORVEL_HAVE_LZ4
  std::vector<char> lz4(LZ4_compressBound(static_cast<int>(in.size())));
  int lz4_size = LZ4_compress_default(reinterpret_cast<const char*>(in.data()),
                                      lz4.data(), static_cast<int>(in.size()),
                                      static_cast<int>(lz4.size()));
  std::printf(", LZ4 %.3f", n / lz4_size);
#else
  std::printf(", LZ4 skipped (liblz4-dev missing)");
#endif
#ifdef QUORVEL_HAVE_ZLIB
  std::printf(", zlib level 1 %.3f, zlib level 6 %.3f",
              n / ZlibPack(in, 1).size(), n / ZlibPack(in, 6).size());
#else
  std::printf(", zlib skipped (zlib1g-dev missing)");
#endif
  std::printf("\n\n");
}

// ----------------------------------------------------------- MessagePack
// The JSON benchmark's document, parsed into containers. Its top-level list
// holds more records than one array 16 can count, so it is split into lists
// of 10,000 records under one outer list. msgpack-cxx gets the same tree as
// msgpack::object values: the same strings (as 8-bit bytes), integers, and
// the JSON reader's numbers as float 64 (ours writes them as the 10-byte
// Currency extension).

const quorvel::Value& MsgPackTree() {
  static const quorvel::Value tree = [] {
    using quorvel::CArray;
    quorvel::Value parsed =
        quorvel::JSON::Parse(quorvel::FromUtf8(quorvel::bench::DocumentUtf8()));
    const CArray& records = *parsed.object_as<CArray>();
    quorvel::Ref<CArray> outer = CArray::Create();
    quorvel::Ref<CArray> chunk;
    for (const quorvel::Value& record : records) {
      if (!chunk || chunk->Count() == 10000) {
        chunk = CArray::Create();
        outer->Add(quorvel::Value(chunk));
      }
      chunk->Add(record);
    }
    return quorvel::Value(outer);
  }();
  return tree;
}

const Bytes& MsgPackOursBytes() {
  static const Bytes bytes = quorvel::mMsgPack::EncodeBytes(MsgPackTree());
  return bytes;
}

void OursMsgPackEncode(benchmark::State& state) {
  const quorvel::Value& tree = MsgPackTree();
  for (auto _ : state) {
    Bytes out = quorvel::mMsgPack::EncodeBytes(tree);
    benchmark::DoNotOptimize(out.data());
  }
}

// Decoding includes releasing the tree, on both sides.
void OursMsgPackDecode(benchmark::State& state) {
  const Bytes& in = MsgPackOursBytes();
  for (auto _ : state) {
    quorvel::Value tree = quorvel::mMsgPack::DecodeBytes(in);
    benchmark::DoNotOptimize(tree);
  }
}

#ifdef QUORVEL_HAVE_MSGPACK
msgpack::object PeerObject(const quorvel::Value& v, msgpack::zone& zone) {
  using quorvel::Kind;
  msgpack::object o;
  switch (v.kind()) {
    case Kind::Null:
      o.type = msgpack::type::NIL;
      break;
    case Kind::Boolean:
      o.type = msgpack::type::BOOLEAN;
      o.via.boolean = v.boolean();
      break;
    case Kind::Integer:
    case Kind::Long: {
      const int64_t n = quorvel::ToLong(v);
      o.type = n >= 0 ? msgpack::type::POSITIVE_INTEGER
                      : msgpack::type::NEGATIVE_INTEGER;
      o.via.i64 = n;
      break;
    }
    case Kind::String: {
      const Bytes text = quorvel::ToAnsi(v.string_view());
      char* at = static_cast<char*>(zone.allocate_align(text.size() + 1));
      std::memcpy(at, text.data(), text.size());
      o.type = msgpack::type::STR;
      o.via.str.ptr = at;
      o.via.str.size = static_cast<uint32_t>(text.size());
      break;
    }
    case Kind::Object: {
      if (const auto* list = v.object_as<quorvel::CArray>()) {
        const uint32_t n = static_cast<uint32_t>(list->Count());
        auto* items = static_cast<msgpack::object*>(
            zone.allocate_align(sizeof(msgpack::object) * (n + 1)));
        for (uint32_t i = 0; i < n; ++i)
          items[i] = PeerObject(list->Item(static_cast<int32_t>(i)), zone);
        o.type = msgpack::type::ARRAY;
        o.via.array.size = n;
        o.via.array.ptr = items;
      } else {
        const auto& map = *v.object_as<quorvel::Dictionary>();
        const uint32_t n = static_cast<uint32_t>(map.Count());
        auto* pairs = static_cast<msgpack::object_kv*>(
            zone.allocate_align(sizeof(msgpack::object_kv) * (n + 1)));
        uint32_t i = 0;
        for (const quorvel::Dictionary::Entry& e : map) {
          pairs[i].key = PeerObject(quorvel::Value(e.key), zone);
          pairs[i].val = PeerObject(e.value, zone);
          ++i;
        }
        o.type = msgpack::type::MAP;
        o.via.map.size = n;
        o.via.map.ptr = pairs;
      }
      break;
    }
    default:
      o.type = msgpack::type::FLOAT64;
      o.via.f64 = quorvel::ToDouble(v);
      break;
  }
  return o;
}

const msgpack::object& PeerTree() {
  static msgpack::zone zone;
  static const msgpack::object tree = PeerObject(MsgPackTree(), zone);
  return tree;
}

const std::string& PeerBytes() {
  static const std::string bytes = [] {
    std::stringstream out;
    msgpack::pack(out, PeerTree());
    return out.str();
  }();
  return bytes;
}

void PeerMsgPackEncode(benchmark::State& state) {
  const msgpack::object& tree = PeerTree();
  for (auto _ : state) {
    msgpack::sbuffer out;
    msgpack::pack(out, tree);
    benchmark::DoNotOptimize(out.data());
  }
}

void PeerMsgPackDecode(benchmark::State& state) {
  const std::string& in = PeerBytes();
  for (auto _ : state) {
    msgpack::object_handle tree = msgpack::unpack(in.data(), in.size());
    benchmark::DoNotOptimize(tree.get());
  }
}
#endif

// For context beside msgpack-cxx, whose tree is a read-only view carved
// from one zone: nlohmann::json is an owning tree of growable maps, lists
// and strings, as ours is, packed and unpacked by its own MessagePack code.
#ifdef QUORVEL_HAVE_NLOHMANN
const nlohmann::json& OwningTree() {
  static const nlohmann::json tree = [] {
    const nlohmann::json records =
        nlohmann::json::parse(quorvel::bench::DocumentUtf8());
    nlohmann::json outer = nlohmann::json::array();
    for (size_t i = 0; i < records.size(); i += 10000) {
      const size_t end = std::min(records.size(), i + 10000);
      outer.push_back(
          nlohmann::json(records.begin() + i, records.begin() + end));
    }
    return outer;
  }();
  return tree;
}

void OwningMsgPackEncode(benchmark::State& state) {
  const nlohmann::json& tree = OwningTree();
  for (auto _ : state) {
    std::vector<uint8_t> out = nlohmann::json::to_msgpack(tree);
    benchmark::DoNotOptimize(out.data());
  }
}

void OwningMsgPackDecode(benchmark::State& state) {
  static const std::vector<uint8_t> in =
      nlohmann::json::to_msgpack(OwningTree());
  for (auto _ : state) {
    nlohmann::json tree = nlohmann::json::from_msgpack(in);
    benchmark::DoNotOptimize(tree);
  }
}
#endif

void PrintMsgPackSizes() {
  std::printf("MessagePack document: %zu bytes ours",
              MsgPackOursBytes().size());
#ifdef QUORVEL_HAVE_MSGPACK
  std::printf(", %zu bytes msgpack-cxx\n\n", PeerBytes().size());
#else
  std::printf("\n\n");
#endif
}

const quorvel::bench::Registration kRegistered([] {
  using quorvel::bench::Compare;
  using quorvel::bench::Skip;
#ifdef QUORVEL_HAVE_OPENSSL
  Compare("base64/encode 64MB into buffer", OursBase64Encode, SslBase64Encode,
          "OpenSSL EVP_EncodeBlock");
  Compare("base64/encode 64MB into UTF-16 buffer", OursBase64EncodeWide,
          SslBase64Encode, "OpenSSL EVP_EncodeBlock");
  Compare("base64/decode 64MB into buffer", OursBase64Decode, SslBase64Decode,
          "OpenSSL EVP_DecodeBlock");
  Compare("base64/decode 64MB from UTF-16", OursBase64DecodeWide,
          SslBase64Decode, "OpenSSL EVP_DecodeBlock");
  Compare("rc4/encrypt to hex 64MB into buffer", OursRc4Hex, SslRc4Hex,
          "OpenSSL RC4 + hex");
#else
  Skip("base64/encode 64MB into buffer", "OpenSSL", "libssl-dev missing");
  Skip("base64/decode 64MB into buffer", "OpenSSL", "libssl-dev missing");
  Skip("rc4/encrypt to hex 64MB into buffer", "OpenSSL", "libssl-dev missing");
#endif
#ifdef QUORVEL_HAVE_ZLIB
  Compare("lzss/compress 20MB text", OursLzssCompress, ZlibCompress,
          "zlib compress2 level 1");
  Compare("lzss/decompress 20MB text", OursLzssDecompress, ZlibUncompress,
          "zlib uncompress");
#else
  Skip("lzss/compress 20MB text", "zlib", "zlib1g-dev missing");
  Skip("lzss/decompress 20MB text", "zlib", "zlib1g-dev missing");
#endif
#ifdef QUORVEL_HAVE_MSGPACK
  Compare("msgpack/encode JSON document", OursMsgPackEncode, PeerMsgPackEncode,
          "msgpack-cxx pack");
  Compare("msgpack/decode + free JSON document", OursMsgPackDecode,
          PeerMsgPackDecode, "msgpack-cxx unpack");
#else
  Skip("msgpack/encode JSON document", "msgpack-cxx",
       "libmsgpack-cxx-dev missing");
  Skip("msgpack/decode + free JSON document", "msgpack-cxx",
       "libmsgpack-cxx-dev missing");
#endif
#ifdef QUORVEL_HAVE_NLOHMANN
  Compare("msgpack/encode JSON document, owning tree", OursMsgPackEncode,
          OwningMsgPackEncode, "nlohmann to_msgpack");
  Compare("msgpack/decode + free JSON document, owning tree", OursMsgPackDecode,
          OwningMsgPackDecode, "nlohmann from_msgpack");
#else
  Skip("msgpack/encode JSON document, owning tree", "nlohmann",
       "nlohmann-json3-dev missing");
  Skip("msgpack/decode + free JSON document, owning tree", "nlohmann",
       "nlohmann-json3-dev missing");
#endif
});

// Printed before the table, once the corpus is read.
const quorvel::bench::Registration kRatios([] { PrintRatios(); });
const quorvel::bench::Registration kMsgPackSizes([] { PrintMsgPackSizes(); });

}  // namespace

QUORVEL_BENCH_MAIN()
