// The read-only scan of both database files against a byte walker written
// here from docs/file-formats.md alone, over files the stores made (records
// across the read window's edges, deleted, torn or damaged).
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

uint32_t Le(const Bytes& f, int64_t at, int size) {
  uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i)
    v = v << 8 | f[static_cast<size_t>(at + i)];
  return v;
}
int32_t Le32(const Bytes& f, int64_t at) {
  return static_cast<int32_t>(Le(f, at, 4));
}

std::string RenderCopy(const std::string& magic, bool ok, int32_t version,
                       int32_t records, int32_t deleted, int32_t puts,
                       int32_t next_id, bool reserved_zero) {
  return magic + (ok ? " ok " : " bad ") + std::to_string(version) + " " +
         std::to_string(records) + " " + std::to_string(deleted) + " " +
         std::to_string(puts) + " " + std::to_string(next_id) +
         (reserved_zero ? " zero" : " set") + ";";
}

// The file as the format document describes it, byte by byte.
Walked WalkBytes(const Bytes& f, bool docs) {
  Walked w;
  const std::string magic = docs ? "KDOCSTOR" : "KFKV";
  const int64_t header = docs ? 60 : 52, n = static_cast<int64_t>(f.size());
  bool ok[2];
  for (int copy = 0; copy < 2; ++copy) {
    const int64_t h = copy * header;
    const std::string m(f.begin() + h, f.begin() + h + magic.size());
    const int64_t counters = h + (docs ? 8 : 4);
    bool zero = true;
    for (int64_t i = counters + (docs ? 20 : 16); i < h + header; ++i)
      zero &= f[static_cast<size_t>(i)] == 0;
    ok[copy] = m == magic;
    w.headers +=
        RenderCopy(m, ok[copy], Le32(f, counters), Le32(f, counters + 4),
                   Le32(f, counters + 8), Le32(f, counters + 12),
                   docs ? Le32(f, counters + 16) : -1, zero);
  }
  w.headers += ok[0] && Le32(f, docs ? 8 : 4) == 1 ? "A" : ok[1] ? "B" : "-";
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
      key_size = Le32(f, at + 11);
      if (key_size < 0) return stop(StoreWalkStop::kBadLength, at);
      if (n - key_at - key_size < 4) return stop(StoreWalkStop::kCutShort, at);
      body_size = static_cast<int64_t>(Le32(f, key_at + key_size)) + 1;
      if (body_size < 1) return stop(StoreWalkStop::kBadLength, at);
      r.fields = Le32(f, at + 2);
      link = Le32(f, at + 6);
      r.next = link - 1;
      r.flag = f[static_cast<size_t>(at + 10)];
    } else {
      key_at = at + 9;
      key_size = static_cast<int16_t>(Le(f, at + 2, 2));
      body_size = Le32(f, at + 4);
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
  for (const StoreHeaderCopy* h : {&file.header_a(), &file.header_b()}) {
    EXPECT_EQ(h->next_id.has_value(), docs);
    w.headers += RenderCopy(h->magic, h->magic_ok, h->version, h->record_count,
                            h->deleted_count, h->put_count,
                            h->next_id.value_or(-1), h->reserved_zero);
  }
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

// The scan reads any file; the fixture's store type is not used.
using StoreScanTest = StoreFileTest<KxKVDB>;

// Records of 0 to about 70,000 bytes, a fifth of them deleted.
void FillKv(const std::string& path, RandomText& r) {
  Ref<KxKVDB> db = KxKVDB::Create();
  db->OpenDB(String(FromUtf8(path)));
  for (int i = 0; i < 120; ++i) {
    const String key(r.Text(1, 12) +
                     std::u16string(1, char16_t(u'0' + i % 10)));
    db->PutValue(key, String(r.RecordText(70000)));
    if (r.OneIn(5)) db->DeleteKey(key);
  }
  // A cut of its last bytes leaves its header whole.
  db->PutValue(String(u"z\u00e9"), String(u"the last value, \u20ac"));
}

void FillDocs(const std::string& path, RandomText& r) {
  Ref<KxDocsDB> db = KxDocsDB::Create();
  db->OpenDB(String(FromUtf8(path)));
  for (int i = 0; i < 80; ++i) {
    Ref<KxDocRec> rec = db->AddDoc(
        r.OneIn(3) ? String(r.Text(1, 20) + u"x" + FromUtf8(std::to_string(i)))
                   : String());
    rec->fields().LetItem(String(u"t\u00e9xt"),
                          Value(String(r.RecordText(40000))));
    if (r.OneIn(6))
      rec->fields().LetItem(String(u"more"),
                            Value(String(r.Text(20000, 40000))));
    rec->fields().LetItem(String(u"n"), Value(i));
    rec->Save();
    if (r.OneIn(5)) db->Delete(rec->DocID());
  }
}

TEST_F(StoreScanTest, AgreesWithTheFormatByteForByte) {
  enum Damage {
    kNone,
    kTornShort,
    kTornHeader,
    kCutLast,
    kMiddleSignature,
    kAVersion,
    kAMagic,
    kBMagic,
    kBothMagics
  };
  for (const bool docs : {false, true}) {
    std::filesystem::remove(path_);
    RandomText r(docs ? 17 : 5);
    docs ? FillDocs(path_, r) : FillKv(path_, r);
    const Bytes full = FileBytes();
    const Walked clean = WalkBytes(full, docs);
    ASSERT_GT(clean.records.size(), 50u);
    const size_t header = docs ? 60 : 52, all = clean.records.size();
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
        {all, end, 'B'},
        {all, end, 'A'},
        {all, end, '-'},
    };
    for (int damage = kNone; damage <= kBothMagics; ++damage) {
      SCOPED_TRACE(std::string(docs ? "docs" : "kv") + " damage " +
                   std::to_string(damage));
      Bytes b = full;
      if (damage == kTornShort) b.insert(b.end(), {0x5F, 0x0B, 1});
      // A whole record header whose record the file no longer holds.
      if (damage == kTornHeader)
        b.insert(b.end(), {0x5F, 0x0B, 1, 0, 16, 0, 0, 0, 0, 'a'});
      if (damage == kCutLast) b.resize(b.size() - 3);
      if (damage == kMiddleSignature)
        b[static_cast<size_t>(clean.records[all / 2].offset)] ^= 1;
      if (damage == kAVersion) b[docs ? 8 : 4] = 2;
      if (damage == kAMagic || damage == kBothMagics) b[0] = 'k';
      if (damage == kBMagic || damage == kBothMagics) b[header] = 'k';
      WriteFile(b);
      const Walked want = WalkBytes(b, docs);
      const StoreKind kind =
          docs ? StoreKind::kDocuments : StoreKind::kKeyValue;
      // Neither magic: only a caller who names the kind may look.
      for (const StoreKind as :
           {damage == kBothMagics ? kind : StoreKind::kDetect, kind}) {
        const Walked got = Scan(path_, as);
        EXPECT_EQ(got.headers, want.headers);
        EXPECT_EQ(got.stop, want.stop);
        EXPECT_EQ(got.stop_at, want.stop_at);
        EXPECT_EQ(got.records_end, want.records_end);
        ASSERT_EQ(got.records.size(), want.records.size());
        for (size_t i = 0; i < got.records.size(); ++i)
          ASSERT_TRUE(got.records[i] == want.records[i])
              << "record " << i << " at " << want.records[i].offset;
      }
      EXPECT_EQ(want.records.size(), expected[damage].records);
      EXPECT_EQ(want.stop, expected[damage].stop);
      EXPECT_EQ(want.headers.back(), expected[damage].chosen);
    }
  }
}

TEST_F(StoreScanTest, Refusals) {
  Bytes neither(104, 0);
  const struct {
    Bytes content;  // none: no file at all
    StoreKind kind;
    bool walk;  // the failure comes from the walk, not the open
    int32_t number;
    const char* source;
    const char* description;
  } refusals[] = {
      {{}, StoreKind::kDetect, false, kErrFileNotFound, "", ""},
      {neither, StoreKind::kDetect, false, kErrGeneralFailure, "KxQuorvel",
       "This file is neither a CKVDB nor a KxDocsDB file"},
      {{'K', 'F', 'K', 'V'},
       StoreKind::kDetect,
       true,
       kErrGeneralFailure,
       "CKVDB",
       "This file is not a valid CKVDB file"},
      {Bytes(119, 0), StoreKind::kDocuments, true, kErrGeneralFailure,
       "KxDocsDB", "This file is not a valid KxDocsDB file"},
  };
  for (const auto& c : refusals) {
    std::filesystem::remove(path_);
    if (!c.content.empty()) WriteFile(c.content);
    try {
      StoreScanner file = StoreScanner::Open(upath_, c.kind);
      EXPECT_TRUE(c.walk) << c.description;
      EXPECT_FALSE(file.has_headers());
      file.Walk([](const StoreRecord&) {});
      ADD_FAILURE() << "no error: " << c.description;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), c.number);
      if (*c.source != 0) {
        EXPECT_EQ(ToUtf8(e.source()), c.source);
        EXPECT_EQ(ToUtf8(e.description()), c.description);
      }
    }
  }
}

}  // namespace
}  // namespace quorvel::testing
