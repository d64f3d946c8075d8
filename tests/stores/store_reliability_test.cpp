// Both database files under damage, crashes and torn appends: opening works
// or raises the invalid-file error, the records before the damage stay
// readable, and a compaction cut short leaves the old file or the new one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "stores/store_file_test.h"
#include "stores/store_model.h"

namespace quorvel {
namespace {

using internal::FaultyFileSystem;
using internal::MemoryFileSystem;
using testing::Bytes;
using testing::Cat;

// A record as the writer appended it, and whether a later delete flagged it.
struct Written {
  std::u16string key;
  std::string content;
  size_t start, end;
  bool deleted;
};

// A visible record; `source` is the written record its content came from.
struct Seen {
  std::u16string key;
  std::string content;
  int source = -1;
  bool operator==(const Seen& o) const {
    return key == o.key && content == o.content;
  }
};
using State = std::vector<Seen>;

std::string Describe(const State& s) {
  std::string out;
  for (const Seen& p : s) out += ToUtf8(p.key) + "{" + p.content + "}";
  return out;
}

// What a reader must see of the file cut at `cut`: every record that ends
// by then and was not deleted later; a key keeps the place of its first
// such record and the content of its last.
State Expected(const std::vector<Written>& log, size_t cut) {
  State s;
  std::map<std::u16string, size_t> place;
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].end > cut || log[i].deleted) continue;
    auto [it, added] = place.emplace(log[i].key, s.size());
    if (added) s.push_back(Seen{log[i].key, {}});
    s[it->second].content = log[i].content;
    s[it->second].source = static_cast<int>(i);
  }
  return s;
}

// Every visible record; a read that raises shows as "<n>" and is counted.
template <class Store>
State Visible(Store& db, std::map<int32_t, int>* errors = nullptr) {
  State s;
  const Value keys = db.Keys();
  for (const Value& key : keys.array().values()) {
    Seen p{std::u16string(key.string_view()), {}};
    try {
      p.content = ToUtf8(testing::ContentOf(db, key.string()));
    } catch (const Error& e) {
      p.content = "<" + std::to_string(e.number()) + ">";
      if (errors != nullptr) ++(*errors)[e.number()];
    }
    s.push_back(std::move(p));
  }
  return s;
}

std::u16string Num(int i) { return FromUtf8(std::to_string(i)); }

template <class Store>
class StoreReliabilityTest : public testing::StoreFileTest<Store> {
 protected:
  using Ops = testing::StoreOps<Store>;
  static constexpr bool kKv = std::is_same_v<Store, KxKVDB>;
  static constexpr size_t kHeaders = 2 * Ops::kHeader;

  size_t Size() const { return std::filesystem::file_size(this->path_); }

  // Key-value: `n` puts (an empty key, an empty value, Windows-1252 text,
  // the last 15% rewriting earlier keys) with deletes between. Documents:
  // `n` documents of one to five fields of every storable kind, some under
  // given ids, two saved again and two deleted. Texts grow with `scale`.
  std::vector<Written> BuildFile(int n, int scale) {
    std::filesystem::remove(this->path_);
    auto db = this->Open();
    std::vector<Written> log;
    auto del = [&](const std::u16string& key) {
      Ops::Remove(*db, String(key));
      for (Written& w : log) w.deleted |= w.key == key;
    };
    if constexpr (kKv) {
      const int fresh = n * 85 / 100;
      for (int i = 0; i < n; ++i) {
        std::u16string key = u"key" + Num(i < fresh ? i : (i - fresh) * 5);
        if (i == 40) key.clear();
        std::u16string value =
            u"v" + Num(i) + std::u16string(i % 23 * scale, u'a' + i % 26);
        if (i % 7 == 0) value += u"\u00e9\u20ac";
        if (i == 60) value.clear();
        const size_t start = Size();
        db->PutValue(String(key), String(value));
        EXPECT_EQ(Size() - start, 9 + key.size() + value.size());
        log.push_back({key, ToUtf8(value), start, Size(), false});
        if (i == 20) del(u"key3");
        if (i == 50) del(u"key10");  // written again at 87
        if (i == 90) del(u"key5");   // written at 5 and 86
        if (i == 95) del(u"absent");
      }
    } else {
      std::vector<Ref<KxDocRec>> recs;
      auto save = [&](const Ref<KxDocRec>& rec) {
        const size_t start = Size();
        CallByName(Value(rec), u"Save", CallType::Method);
        log.push_back({std::u16string(rec->DocID().view()),
                       ToUtf8(testing::Render(rec->fields())), start, Size(),
                       false});
      };
      for (int i = 0; i < n; ++i) {
        Ref<KxDocRec> rec =
            i % 9 == 4 ? db->AddDoc(String(u" item-" + Num(i))) : db->AddDoc();
        Dictionary& f = rec->fields();
        f.LetItem(u"name", Value(u"doc " + Num(i) +
                                 std::u16string(i % 17 * scale, u'x')));
        if (i % 3 == 0) f.LetItem(u"n", Value(i * 1000 - 7));
        if (i % 4 == 0) f.LetItem(u"x", Value(i / 8.0));
        if (i % 5 == 0) f.LetItem(u"ok", Value(i % 2 == 0));
        if (i % 13 == 0) f.LetItem(u"none", Value::Null());
        if (i == 50) f.LetItem(u"text", Value(u"\u00e9t\u00e9"));
        save(rec);
        recs.push_back(rec);
        if (i == 30) {
          recs[10]->fields().LetItem(u"name", Value(u"changed"));
          save(recs[10]);
        }
        if (i == 40) del(std::u16string(recs[5]->DocID().view()));
        // Saved twice: every record of it is flagged, so none comes back.
        if (i == 60) del(std::u16string(recs[10]->DocID().view()));
        if (i == 70) {
          recs[20]->fields().LetItem(u"n", Value(-1));
          save(recs[20]);
        }
      }
    }
    return log;
  }

  // Every place below `dense`, then one in each `stride` at a varying place
  // within it, and the last.
  static std::vector<size_t> Sample(size_t count, size_t stride,
                                    size_t dense = 0) {
    std::vector<size_t> at;
    for (size_t i = 0; i < std::min(dense, count); ++i) at.push_back(i);
    for (size_t i = dense / stride; i * stride < count; ++i)
      at.push_back(std::min(count - 1, i * stride + (i * 131) % stride));
    if (at.empty() || at.back() != count - 1) at.push_back(count - 1);
    return at;
  }

  // Every prefix through the first record, then one in each `stride`: a
  // length inside the two header copies raises the invalid-file error and
  // leaves the store closed; any other shows the records that end by it.
  void Truncations(const Bytes& full, const std::vector<Written>& log,
                   size_t stride) {
    MemoryFileSystem memory;
    std::string first;  // the first cut read wrongly
    const std::string invalid = std::to_string(kErrGeneralFailure) + " " +
                                ToUtf8(Ops::kSource) + ": " +
                                ToUtf8(Ops::kInvalid);
    for (size_t cut : Sample(full.size() + 1, stride, log[0].end + 1)) {
      memory.Put(u"m", full, cut);
      Ref<Store> db = Store::Create(memory);
      std::string seen;
      try {
        db->OpenDB(u"m");
        seen = Describe(Visible(*db));
      } catch (const Error& e) {
        seen = std::to_string(e.number()) + " " + ToUtf8(e.source()) + ": " +
               ToUtf8(e.description()) + (db->IsOpen() ? " (open)" : "");
      }
      const std::string want =
          cut > 0 && cut < kHeaders ? invalid : Describe(Expected(log, cut));
      if (seen != want && first.empty())
        first = "cut " + std::to_string(cut) + ": " + seen + "\nwant " + want;
    }
    EXPECT_EQ(first, "");
  }

  // Each byte (one in each `stride`) changed in turn (XOR 0x80, 0x00, 0xFF).
  // No single byte spoils both header copies, so each must open. Walks
  // never look at values or bodies, so a change there or in a header shows
  // at most in the record it hits; elsewhere at most in that record and
  // those after it. A read may raise only what a damaged record can.
  void ByteChanges(const Bytes& full, const std::vector<Written>& log,
                   size_t stride) {
    const std::vector<int32_t> allowed =
        kKv ? std::vector<int32_t>{kErrInputPastEnd}
            : std::vector<int32_t>{kErrInvalidCall, kErrOverflow,
                                   kErrSubscript,   kErrTypeMismatch,
                                   kErrOutOfStack,  kErrInputPastEnd,
                                   kErrKeyExists};
    const State all = Expected(log, full.size());
    MemoryFileSystem memory;
    std::string first;  // the first change read wrongly
    for (size_t at : Sample(full.size(), stride)) {
      int holder = -1;
      bool in_body = false;
      for (size_t i = 0; i < log.size(); ++i) {
        if (at >= log[i].start && at < log[i].end) {
          holder = static_cast<int>(i);
          in_body = at >= log[i].start + (kKv ? 9 : 19) + log[i].key.size();
        }
      }
      for (int change : {0, 1, 2}) {
        Bytes b = full;
        b[at] = change == 0 ? b[at] ^ 0x80 : change == 1 ? 0x00 : 0xFF;
        memory.Put(u"m", b);
        Ref<Store> db = Store::Create(memory);
        bool ok = true;
        try {
          db->OpenDB(u"m");
        } catch (const Error&) {
          ok = false;
        }
        std::map<int32_t, int> raised;
        const State seen = ok ? Visible(*db, &raised) : State();
        for (const auto& [number, count] : raised)
          ok &= std::find(allowed.begin(), allowed.end(), number) !=
                allowed.end();
        std::set<std::u16string> keys;
        for (const Seen& p : seen) {
          keys.insert(p.key);
          ok &= !p.content.starts_with("Nothing");
        }
        for (const Written& w : log)
          ok &= w.end > at || w.deleted || keys.count(w.key) != 0;
        if (at < kHeaders || in_body) {
          ok &= seen.size() == all.size();
          for (size_t i = 0; ok && i < seen.size(); ++i)
            ok = seen[i].key == all[i].key &&
                 (all[i].source == holder || seen[i] == all[i]);
        }
        if (!ok && first.empty())
          first = "byte " + std::to_string(at) + " change " +
                  std::to_string(change) + ": " + Describe(seen);
      }
    }
    EXPECT_EQ(first, "");
  }

  // How many writes a compaction of the file `before` makes.
  int CompactWrites(const Bytes& before) {
    this->WriteFile(before);
    FaultyFileSystem faulty(internal::FileSystem::Default());
    auto db = this->Open(faulty);
    const int first = faulty.writes();
    db->Compact();
    return faulty.writes() - first;
  }

  // Crashes a compaction of `before` at each of its `total` writes (one in
  // each `stride`) and one past them, three ways: the write fails and the
  // process goes on; it fails and the process dies, losing what was not
  // synced; it is cut short (to 0, `cut_a` or `cut_b` bytes) and the
  // process dies. The file must then be `before` or `after` byte for byte
  // and read as `want`; a store whose compaction failed stays open on the
  // old file and can compact again, over the stale temporary file.
  void CompactCrashes(const Bytes& before, const Bytes& after,
                      const std::string& want, int total, size_t cut_a,
                      size_t cut_b, size_t stride) {
    for (int mode = 0; mode < 3; ++mode) {
      for (size_t at : Sample(static_cast<size_t>(total) + 1, stride)) {
        const int nth = static_cast<int>(at) + 1;
        SCOPED_TRACE(::testing::Message()
                     << "mode " << mode << " write " << nth);
        MemoryFileSystem memory;
        memory.Put(u"m", before);
        FaultyFileSystem faulty(memory);
        Ref<Store> db = Store::Create(faulty);
        db->OpenDB(u"m");
        if (mode < 2) {
          faulty.FailWrite(nth);
        } else {
          faulty.CutWrite(nth, nth % 3 == 0 ? 0 : nth % 3 == 1 ? cut_a : cut_b);
        }
        bool raised = false;
        try {
          db->Compact();
        } catch (const Error& e) {
          raised = true;
          EXPECT_EQ(e.number(), mode < 2 ? kErrDiskFull : kErrDeviceIo);
        }
        EXPECT_EQ(raised, nth <= total);
        if (mode > 0) {
          faulty.Crash();
        } else if (raised) {
          EXPECT_TRUE(db->IsOpen());
          EXPECT_EQ(Describe(Visible(*db)), want);
        }
        const Bytes now = memory.Get(u"m");
        EXPECT_TRUE(now == before || now == after);
        EXPECT_EQ(now == after, nth > total);
        Ref<Store> check = Store::Create(memory);
        check->OpenDB(u"m");
        EXPECT_EQ(Describe(Visible(*check)), want);
        if (mode == 0 && raised) {
          db->Compact();
          EXPECT_EQ(memory.Get(u"m"), after);
        }
      }
    }
  }

  // The three sweeps over a file of `n` writes, over a megabyte so that a
  // compaction writes several blocks, at about that many sampled places.
  void Sweep(int n, int scale, int cuts, int changes, int crashes, size_t cut_a,
             size_t cut_b) {
    const std::vector<Written> log = BuildFile(n, scale);
    const Bytes full = this->FileBytes();
    const std::string all = Describe(Expected(log, full.size()));
    ASSERT_EQ(Describe(Visible(*this->Open())), all);
    ASSERT_GT(full.size(), 1u << 20);
    auto stride = [](size_t size, int parts) {
      return std::max<size_t>(1, size / parts);
    };
    Truncations(full, log, stride(full.size(), cuts));
    ByteChanges(full, log, stride(full.size(), changes));
    this->Open()->Compact();
    const Bytes after = this->FileBytes();
    ASSERT_EQ(Describe(Visible(*this->Open())), all);
    ASSERT_LT(after.size(), full.size());
    const int total = CompactWrites(full);
    CompactCrashes(full, after, all, total, cut_a, cut_b,
                   stride(static_cast<size_t>(total), crashes));
  }
};
TYPED_TEST_SUITE(StoreReliabilityTest, testing::Stores);

TYPED_TEST(StoreReliabilityTest, AFileOverAMegabyteAtSampledPlaces) {
  const bool kv = TestFixture::kKv;
  this->Sweep(kv ? 5000 : 3500, kv ? 19 : 40, testing::Scaled(kv ? 150 : 100),
              testing::Scaled(kv ? 80 : 60), testing::Scaled(12), 7, 40);
}

class KvTornTest : public testing::StoreFileTest<KxKVDB> {
 protected:
  static Bytes Record(std::string_view key, std::string_view value) {
    Bytes r = {0x5F, 0x0B, static_cast<uint8_t>(key.size()), 0,
               static_cast<uint8_t>(value.size())};
    r.resize(9);
    r.insert(r.end(), key.begin(), key.end());
    r.insert(r.end(), value.begin(), value.end());
    return r;
  }
  Bytes Records() const {
    const Bytes b = FileBytes();
    return Bytes(b.begin() + std::min<size_t>(b.size(), 104), b.end());
  }
  std::string Shown() { return Describe(Visible(*Open())); }
};

TEST_F(KvTornTest, RecordsAppendedAfterATornOneStayReachable) {
  {
    auto db = Open();
    db->PutValue(u"a", u"1");
    db->PutValue(u"b", u"2");
  }
  const Bytes good = FileBytes();
  // A writer died appending "c" after 12 of its 20 bytes.
  const Bytes torn = Record("c", "torn value");
  WriteFile(Cat(good, Bytes(torn.begin(), torn.begin() + 12)));
  auto next = Open();
  EXPECT_EQ(Describe(Visible(*next)), "a{1}b{2}");
  next->PutValue(u"d", u"4");
  next->PutValue(u"e", u"5");
  EXPECT_EQ(Shown(), "a{1}b{2}d{4}e{5}");
  // The torn bytes became one deleted record with an empty key.
  Bytes filler = {0x5F, 0x0B, 0, 0, 3, 0, 0, 0, 1};
  filler.insert(filler.end(), torn.begin() + 9, torn.begin() + 12);
  EXPECT_EQ(Records(), Cat(Cat(Cat(Record("a", "1"), Record("b", "2")), filler),
                           Cat(Record("d", "4"), Record("e", "5"))));

  // A store opened before the death walks over another opener's record;
  // 5 torn bytes (less than a record header) become a 9-byte deleted record.
  WriteFile(good);
  auto early = Open();
  Open()->PutValue(u"y", u"1");
  AppendFile({0x5F, 0x0B, 7, 0, 0});
  early->PutValue(u"x", u"2");
  EXPECT_EQ(Records(),
            Cat(Cat(Cat(Record("a", "1"), Record("b", "2")), Record("y", "1")),
                Cat({0x5F, 0x0B, 0, 0, 0, 0, 0, 0, 1}, Record("x", "2"))));
  EXPECT_EQ(Shown(), "a{1}b{2}y{1}x{2}");
  // From then on the file ends where that store expects it to.
  early->PutValue(u"z", u"3");
  EXPECT_EQ(Shown(), "a{1}b{2}y{1}x{2}z{3}");
  // A compaction drops the deleted fillers with everything else dead.
  early->Compact();
  EXPECT_EQ(Records(), Cat(Cat(Cat(Record("a", "1"), Record("b", "2")),
                               Cat(Record("y", "1"), Record("x", "2"))),
                           Record("z", "3")));
}

class DocsTornTest : public testing::StoreFileTest<KxDocsDB> {};

TEST_F(DocsTornTest, DocumentsSavedAfterATornOneStayReachable) {
  {
    auto db = Open();
    for (int i = 0; i < 2; ++i) {
      Ref<KxDocRec> rec = db->AddDoc();
      rec->fields().LetItem(u"n", Value(i));
      rec->Save();
    }
  }
  const Bytes good = FileBytes();
  const size_t second = good.size() - (11 + 4 + 9 + 4 + 12);
  ASSERT_EQ(good[second], 0x5F);
  // A dying writer linked its record, then wrote only the record header
  // and 3 identifier bytes, or zeros, or a lone byte.
  const Bytes prefix = {0x5F, 0x0B, 1, 0, 0, 0, 0,   0,   0,
                        0,    0,    9, 0, 0, 0, 'D', 'O', 'C'};
  for (const Bytes& tail : {prefix, Bytes(40, 0), Bytes{0x5F}}) {
    SCOPED_TRACE(tail.size());
    Bytes b = Cat(good, tail);
    const uint32_t link = static_cast<uint32_t>(good.size() + 1);
    for (int i = 0; i < 4; ++i)
      b[second + 6 + i] = static_cast<uint8_t>(link >> (8 * i));
    WriteFile(b);
    auto next = Open();
    EXPECT_EQ(Describe(Visible(*next)), "DOC000001{n:3:0|}DOC000002{n:3:1|}");
    Ref<KxDocRec> rec = next->AddDoc();
    EXPECT_EQ(rec->DocID(), u"DOC000003");
    rec->fields().LetItem(u"n", Value(2));
    rec->Save();
    next->AddDoc(u"last")->Save();
    EXPECT_EQ(Describe(Visible(*Open())),
              "DOC000001{n:3:0|}DOC000002{n:3:1|}DOC000003{n:3:2|}LAST{}");
    // The new record went past the torn bytes, which stay unlinked.
    EXPECT_EQ(testing::ToHex(FileBytes(), b.size(), 2), "5F0B");
  }
  // A torn first record: the chain still starts at offset 120, so the next
  // save goes there.
  WriteFile(Cat(Bytes(good.begin(), good.begin() + 120), prefix));
  auto db = Open();
  EXPECT_EQ(db->Count(), 0);
  db->AddDoc(u"first")->Save();
  db->AddDoc(u"second")->Save();
  EXPECT_EQ(Describe(Visible(*Open())), "FIRST{}SECOND{}");
  EXPECT_EQ(FileBytes()[120 + 15], 'F');
}

}  // namespace
}  // namespace quorvel
