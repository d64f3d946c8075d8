// The read-only scan of both database files against a byte walker written
// here from docs/file-formats.md alone, over sound and damaged files.
#include "quorvel/store_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "stores/store_file_test.h"
#include "stores/store_model.h"

namespace quorvel::testing {
namespace {

// One record as either walker reports it.
struct Rec {
  int64_t offset, end;
  uint8_t flag;
  int64_t next;
  int32_t fields;
  Bytes key, body;
  bool operator==(const Rec&) const = default;
};

struct Walked {
  std::string headers;
  std::vector<Rec> records;
  int64_t stop_at = 0, records_end = 0;
  StoreWalkStop stop = StoreWalkStop::kEnd;
};

int32_t Le(const Bytes& f, int64_t at, int size = 4) {
  uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i)
    v = v << 8 | f[static_cast<size_t>(at + i)];
  return static_cast<int32_t>(v);
}

std::string Render(const StoreHeaderCopy& h) {
  std::string out = h.magic + (h.magic_ok ? " ok" : " bad");
  for (int32_t v : {h.version, h.record_count, h.deleted_count, h.put_count,
                    h.next_id.value_or(-1)})
    out += " " + std::to_string(v);
  return out + (h.reserved_zero ? " zero;" : " set;");
}

// The file as the format document describes it, byte by byte.
Walked WalkBytes(const Bytes& f, bool docs) {
  Walked w;
  const std::string magic = docs ? "KDOCSTOR" : "KFKV";
  const int64_t header = docs ? 60 : 52, n = static_cast<int64_t>(f.size());
  StoreHeaderCopy copies[2];
  for (int copy = 0; copy < 2; ++copy) {
    StoreHeaderCopy& h = copies[copy];
    const int64_t at = copy * header, counters = at + (docs ? 8 : 4);
    h.magic.assign(f.begin() + at, f.begin() + at + magic.size());
    h.magic_ok = h.magic == magic;
    h.version = Le(f, counters);
    h.record_count = Le(f, counters + 4);
    h.deleted_count = Le(f, counters + 8);
    h.put_count = Le(f, counters + 12);
    if (docs) h.next_id = Le(f, counters + 16);
    h.reserved_zero = true;
    for (int64_t i = counters + (docs ? 20 : 16); i < at + header; ++i)
      h.reserved_zero &= f[static_cast<size_t>(i)] == 0;
    w.headers += Render(h);
  }
  w.headers += copies[0].magic_ok && copies[0].version == 1 ? "A"
               : copies[1].magic_ok                         ? "B"
                                                            : "-";
  int64_t at = 2 * header;
  w.records_end = at;
  const auto stop = [&](StoreWalkStop why, int64_t where) {
    w.stop = why;
    w.stop_at = where;
    return w;
  };
  for (;;) {
    if (n - at < 2) return stop(StoreWalkStop::kEnd, at);
    if (n - at < (docs ? 15 : 9)) return stop(StoreWalkStop::kCutShort, at);
    if (Le(f, at, 2) != 2911) return stop(StoreWalkStop::kNoSignature, at);
    Rec r{at, 0, 0, -1, 0, {}, {}};
    int64_t key_at, key_size, body_size, link = 0;
    if (docs) {
      key_at = at + 15;
      key_size = Le(f, at + 11);
      if (key_size < 0) return stop(StoreWalkStop::kBadLength, at);
      if (n - key_at - key_size < 4) return stop(StoreWalkStop::kCutShort, at);
      body_size = static_cast<int64_t>(Le(f, key_at + key_size)) + 1;
      if (body_size < 1) return stop(StoreWalkStop::kBadLength, at);
      r.fields = Le(f, at + 2);
      link = Le(f, at + 6);
      r.next = link - 1;
      r.flag = f[static_cast<size_t>(at + 10)];
    } else {
      key_at = at + 9;
      key_size = static_cast<int16_t>(Le(f, at + 2, 2));
      body_size = Le(f, at + 4);
      if (key_size < 0 || body_size < 0)
        return stop(StoreWalkStop::kBadLength, at);
      r.flag = f[static_cast<size_t>(at + 8)];
    }
    const int64_t body_at = key_at + key_size + (docs ? 4 : 0);
    r.end = body_at + body_size;
    if (r.end > n) return stop(StoreWalkStop::kPastEnd, at);
    if (!docs) r.next = r.end;
    r.key.assign(f.begin() + key_at, f.begin() + key_at + key_size);
    r.body.assign(f.begin() + body_at, f.begin() + r.end);
    w.records.push_back(r);
    w.records_end = r.end;
    if (!docs) {
      at = r.end;
    } else if (link == 0) {
      return stop(StoreWalkStop::kChainEnd, r.end);
    } else if (link - 1 < r.end) {
      return stop(StoreWalkStop::kLinkBack, r.end);
    } else {
      at = link - 1;
    }
  }
}

Walked Scan(const std::string& path, StoreKind kind) {
  StoreScanner file = StoreScanner::Open(FromUtf8(path), kind);
  Walked w;
  const bool docs = file.kind() == StoreKind::kDocuments;
  EXPECT_EQ(file.records_at(), docs ? 120 : 104);
  w.headers = Render(file.header_a()) + Render(file.header_b());
  w.headers += file.chosen() == HeaderChoice::kA   ? "A"
               : file.chosen() == HeaderChoice::kB ? "B"
                                                   : "-";
  const StoreWalkEnd end = file.Walk([&](const StoreRecord& r) {
    w.records.push_back({r.offset, r.end, r.flag, r.next, r.field_count,
                         Bytes(r.key.begin(), r.key.end()),
                         Bytes(r.body.begin(), r.body.end())});
  });
  EXPECT_EQ(end.records, static_cast<int64_t>(w.records.size()));
  EXPECT_EQ(end.bytes_past, file.length() - end.records_end);
  static const char* const kTexts[] = {
      "end of the records",
      "end of the chain",
      "next link points back: the walk stops",
      "record header cut short by the end of the file",
      "no record signature: the walk stops",
      "negative length: the walk stops",
      "record runs past the end of the file (a torn append)",
  };
  EXPECT_EQ(end.stop_text, kTexts[static_cast<int>(end.stop)]);
  w.stop = end.stop;
  w.stop_at = end.stop_at;
  w.records_end = end.records_end;
  return w;
}

// Records of up to 60,000 characters, a fifth of them deleted; the last
// one is long enough that a cut of its last bytes leaves its header whole.
template <class Store>
void Fill(const std::string& path, RandomText& r) {
  Ref<Store> db = Store::Create();
  db->OpenDB(String(FromUtf8(path)));
  for (int i = 0; i < 100; ++i) {
    const String key =
        NormalizeDocId(r.Text(1, 12) + u"#" + FromUtf8(std::to_string(i)));
    StoreOps<Store>::Write(*db, key, String(r.RecordText(60000)));
    if (r.OneIn(5)) StoreOps<Store>::Remove(*db, key);
  }
  StoreOps<Store>::Write(*db, u"Z\u00c9", u"the last value, \u20ac");
}

// The scan reads any file; the fixture's store type is not used.
using StoreScanTest = StoreFileTest<KxKVDB>;

TEST_F(StoreScanTest, AgreesWithTheFormatByteForByte) {
  enum Damage {
    kNone,
    kTornShort,
    kTornHeader,
    kCutLast,
    kMiddle,
    kAVersion,
    kBoth
  };
  for (const bool docs : {false, true}) {
    std::filesystem::remove(path_);
    RandomText r(docs ? 17 : 5);
    docs ? Fill<KxDocsDB>(path_, r) : Fill<KxKVDB>(path_, r);
    const Bytes full = FileBytes();
    const Walked clean = WalkBytes(full, docs);
    ASSERT_GT(clean.records.size(), 50u);
    const size_t all = clean.records.size();
    const StoreWalkStop end =
        docs ? StoreWalkStop::kChainEnd : StoreWalkStop::kEnd;
    // What each damage comes to, lest the walker copy a fault of the scan.
    const struct {
      size_t records;
      StoreWalkStop stop;
      char chosen;
    } expected[] = {
        {all, end, 'A'},
        {all, docs ? end : StoreWalkStop::kCutShort, 'A'},
        {all, docs ? end : StoreWalkStop::kPastEnd, 'A'},
        {all - 1, StoreWalkStop::kPastEnd, 'A'},
        {all / 2, StoreWalkStop::kNoSignature, 'A'},
        {all, end, 'B'},
        {all, end, '-'},
    };
    for (int damage = kNone; damage <= kBoth; ++damage) {
      SCOPED_TRACE(std::string(docs ? "docs" : "kv") + " damage " +
                   std::to_string(damage));
      Bytes b = full;
      if (damage == kTornShort) b.insert(b.end(), {0x5F, 0x0B, 1});
      // A whole record header whose record the file no longer holds.
      if (damage == kTornHeader)
        b.insert(b.end(), {0x5F, 0x0B, 1, 0, 16, 0, 0, 0, 0, 'a'});
      if (damage == kCutLast) b.resize(b.size() - 3);
      if (damage == kMiddle)
        b[static_cast<size_t>(clean.records[all / 2].offset)] ^= 1;
      if (damage == kAVersion) b[docs ? 8 : 4] = 2;
      if (damage == kBoth) b[0] = b[docs ? 60 : 52] = 'k';
      WriteFile(b);
      const Walked want = WalkBytes(b, docs);
      const StoreKind kind =
          docs ? StoreKind::kDocuments : StoreKind::kKeyValue;
      // Neither magic: only a caller who names the kind may look.
      for (const StoreKind as :
           {damage == kBoth ? kind : StoreKind::kDetect, kind}) {
        const Walked got = Scan(path_, as);
        EXPECT_EQ(got.headers, want.headers);
        EXPECT_EQ(got.stop, want.stop);
        EXPECT_EQ(got.stop_at, want.stop_at);
        EXPECT_EQ(got.records_end, want.records_end);
        EXPECT_TRUE(got.records == want.records);
      }
      EXPECT_EQ(want.records.size(), expected[damage].records);
      EXPECT_EQ(want.stop, expected[damage].stop);
      EXPECT_EQ(want.headers.back(), expected[damage].chosen);
    }
  }
  // A file of neither kind is refused at the open, a cut one at the walk.
  WriteFile(Bytes(104, 0));
  ExpectRaises(StoreScanner::Open(upath_), kErrGeneralFailure, u"KxQuorvel",
               u"This file is neither a CKVDB nor a KxDocsDB file");
  WriteFile(Bytes(119, 0));
  StoreScanner cut = StoreScanner::Open(upath_, StoreKind::kDocuments);
  EXPECT_FALSE(cut.has_headers());
  ExpectRaises(cut.Walk([](const StoreRecord&) {}), kErrGeneralFailure,
               u"KxDocsDB", u"This file is not a valid KxDocsDB file");
}

}  // namespace
}  // namespace quorvel::testing
