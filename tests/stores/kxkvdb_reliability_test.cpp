// A key-value file under damage, crashes and torn appends: opening either
// works or raises the invalid-file error, the records before the damage stay
// readable, and a compaction cut short leaves the old file or the new one.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "quorvel/kxkvdb.h"
#include "stores/db_file.h"
#include "stores/store_file_test.h"
#include "stores/store_model.h"
#include "test_util.h"
#include "testing/faulty_file_system.h"
#include "testing/memory_file_system.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr char16_t kInvalid[] = u"This file is not a valid CKVDB file";
constexpr size_t kHeaders = 104;

// A record as the writer appended it, and whether a later delete flagged it.
struct Written {
  std::u16string key, value;
  size_t start, end;
  bool deleted;
};

// The visible pairs in index order; `source` is the record a value came from.
struct Pair {
  std::u16string key, value;
  int source = -1;
  bool operator==(const Pair& o) const {
    return key == o.key && value == o.value;
  }
};
using State = std::vector<Pair>;

std::string Describe(const State& s) {
  std::string out;
  for (const Pair& p : s) out += ToUtf8(p.key) + "=" + ToUtf8(p.value) + ";";
  return out;
}

// What a reader must see of the file cut at `cut`: every record that ends
// by then and was not deleted later; a key keeps the place of its first
// such record and the value of its last.
State Expected(const std::vector<Written>& log, size_t cut) {
  State s;
  std::map<std::u16string, size_t> place;
  for (size_t i = 0; i < log.size(); ++i) {
    const Written& w = log[i];
    if (w.end > cut || w.deleted) continue;
    auto [it, added] = place.emplace(w.key, s.size());
    if (added) s.push_back(Pair{w.key, {}});
    s[it->second].value = w.value;
    s[it->second].source = static_cast<int>(i);
  }
  return s;
}

Bytes Record(std::string_view key, std::string_view value, uint8_t flag = 0) {
  Bytes r = {0x5F,
             0x0B,
             static_cast<uint8_t>(key.size()),
             0,
             static_cast<uint8_t>(value.size()),
             0,
             0,
             0,
             flag};
  r.insert(r.end(), key.begin(), key.end());
  r.insert(r.end(), value.begin(), value.end());
  return r;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

using internal::MemoryFileSystem;

class KxKVDBReliabilityTest : public testing::StoreFileTest<KxKVDB> {
 protected:
  // The file past its two header copies.
  Bytes Records() const {
    Bytes b = FileBytes();
    return Bytes(b.begin() + std::min(b.size(), kHeaders), b.end());
  }
  // Reads every visible key; a read that raises 62 (the record is no longer
  // whole) shows as "<62>", any other raise as "<!n>".
  static State Visible(KxKVDB& db) {
    State s;
    Value keys = db.Keys();
    for (int32_t i = LBound(keys); i <= UBound(keys); ++i) {
      Pair p{std::u16string(ArrayItem(keys, i).string_view()), {}};
      try {
        p.value = db.Item(String(p.key)).str();
      } catch (const Error& e) {
        p.value = (e.number() == 62 ? u"<" : u"<!") +
                  FromUtf8(std::to_string(e.number())) + u">";
      }
      s.push_back(std::move(p));
    }
    return s;
  }

  // `puts` puts (an empty key, an empty value, Windows-1252 text, the last
  // 15% rewriting earlier keys) with deletes in between, all through one
  // store; values grow with `scale`.
  std::vector<Written> BuildFile(int puts = 100, int scale = 1) {
    std::filesystem::remove(path_);
    auto db = Open();
    std::vector<Written> log;
    auto del = [&](const std::u16string& key) {
      db->DeleteKey(String(key));
      for (Written& w : log)
        if (w.key == key) w.deleted = true;
    };
    const int fresh = puts * 85 / 100;
    for (int i = 0; i < puts; ++i) {
      std::u16string key =
          u"key" + FromUtf8(std::to_string(i < fresh ? i : (i - fresh) * 5));
      if (i == 40) key.clear();
      std::u16string value = u"v" + FromUtf8(std::to_string(i)) +
                             std::u16string(i % 23 * scale, u'a' + i % 26);
      if (i % 7 == 0) value += u"\u00e9\u20ac";
      if (i == 60) value.clear();
      const size_t start = std::filesystem::file_size(path_);
      db->PutValue(String(key), String(value));
      const size_t end = std::filesystem::file_size(path_);
      EXPECT_EQ(end - start, 9 + key.size() + value.size());
      log.push_back({key, value, start, end, false});
      if (i == 20) del(u"key3");
      if (i == 50) del(u"key10");  // written again at 87
      if (i == 90) del(u"key5");   // written at 5 and 86
      if (i == 95) del(u"absent");
    }
    return log;
  }
};

TEST_F(KxKVDBReliabilityTest, EveryTruncationKeepsTheRecordsBeforeTheCut) {
  const std::vector<Written> log = BuildFile();
  const Bytes full = FileBytes();
  const State all = Expected(log, full.size());
  ASSERT_EQ(Describe(Visible(*Open())), Describe(all));
  ASSERT_EQ(all.size(), 84u);

  const auto [opened, invalid] = OpenEveryTruncation(
      full, kHeaders, u"CKVDB", kInvalid,
      [](KxKVDB& db) { return Describe(Visible(db)); },
      [&log](size_t cut) { return Describe(Expected(log, cut)); });
  std::printf("KxKVDB: %zu truncations, %d opened, %d invalid-file errors\n",
              full.size() + 1, opened, invalid);
}

TEST_F(KxKVDBReliabilityTest, EverySingleByteChangeOpensOrRaisesTheFileError) {
  const std::vector<Written> log = BuildFile();
  const Bytes full = FileBytes();
  const State all = Expected(log, full.size());

  int same = 0, read_errors = 0, bad = 0;
  const auto [tried, invalid] =
      ChangeEveryByte(full, kInvalid, [&](KxKVDB& db, size_t at, int change) {
        // The record holding `at`, and whether `at` lies in its value text.
        int holder = -1;
        bool in_value = false;
        for (size_t i = 0; i < log.size(); ++i) {
          if (at >= log[i].start && at < log[i].end) {
            holder = static_cast<int>(i);
            in_value = at >= log[i].start + 9 + log[i].key.size();
          }
        }
        const State seen = Visible(db);
        for (const Pair& p : seen) {
          if (p.value == u"<62>") ++read_errors;
          if (p.value.starts_with(u"<!") && ++bad <= 3)
            ADD_FAILURE() << "byte " << at << ": " << ToUtf8(p.value);
        }
        if (seen == all) ++same;
        // One header copy is enough, and the scan never looks at values.
        if (at < kHeaders || in_value) {
          bool differs = seen.size() != all.size();
          for (size_t i = 0; !differs && i < seen.size(); ++i)
            differs =
                seen[i].key != all[i].key ||
                (all[i].source != holder && seen[i].value != all[i].value);
          if (differs && ++bad <= 3)
            ADD_FAILURE() << "byte " << at << " change " << change << ": "
                          << Describe(seen);
        }
      });
  EXPECT_EQ(bad, 0);
  std::printf(
      "KxKVDB: %d byte changes, %d opened (%d with every pair intact), %d "
      "invalid-file errors, %d reads raised 62\n",
      tried, tried - invalid, same, invalid, read_errors);
}

TEST_F(KxKVDBReliabilityTest, ACrashAtEveryWriteOfCompactLeavesOldOrNewFile) {
  const std::vector<Written> log = BuildFile();
  const Bytes before = FileBytes();
  const std::string want = Describe(Expected(log, before.size()));
  Open()->Compact();
  const Bytes after = FileBytes();
  ASSERT_EQ(Describe(Visible(*Open())), want);
  ASSERT_LT(after.size(), before.size());

  const int total = CompactWrites(before);
  // The headers and every live record in one block, the old file's
  // retirement mark.
  EXPECT_EQ(total, 2);

  const auto [old_files, new_files] =
      CrashEveryCompactWrite(before, after, want, total, 5, 60,
                             [](KxKVDB& db) { return Describe(Visible(db)); });
  std::printf(
      "KxKVDB: %d writes per compaction, %d crash points tried, %d left the "
      "old file, %d the new one\n",
      total, 3 * (total + 1), old_files, new_files);
}

// The three sweeps above on a file of more than 1 MB, at sampled places.
TEST_F(KxKVDBReliabilityTest, AFileOverAMegabyteUnderTheSameSweeps) {
  const std::vector<Written> log = BuildFile(5000, 19);
  const Bytes full = FileBytes();
  ASSERT_GT(full.size(), 1u << 20);
  const State all = Expected(log, full.size());
  SweepSampled(
      "KxKVDB", full, kHeaders, u"CKVDB", kInvalid,
      [](KxKVDB& db) { return Describe(Visible(db)); },
      [&log](size_t cut) { return Describe(Expected(log, cut)); },
      [&](KxKVDB& db, size_t at) {
        // One header copy is enough; past the headers a change shows at
        // most in the record it hits and those after it, so every live
        // record that ends before it keeps its key visible.
        const State seen = Visible(db);
        std::set<std::u16string> keys;
        for (const Pair& p : seen) keys.insert(p.key);
        bool kept = at >= kHeaders || seen == all;
        for (const Written& w : log)
          if (w.end <= at && !w.deleted) kept = kept && keys.count(w.key) != 0;
        return kept;
      },
      testing::Scaled(150), testing::Scaled(80), testing::Scaled(12));
}

TEST_F(KxKVDBReliabilityTest, RecordsAppendedAfterATornOneStayReachable) {
  // A writer died in the middle of appending "c": 12 of its 20 bytes made it.
  {
    auto db = Open();
    db->PutValue(u"a", u"1");
    db->PutValue(u"b", u"2");
  }
  const Bytes good = FileBytes();
  const Bytes torn = Record("c", "torn value");
  WriteFile(Cat(good, Bytes(torn.begin(), torn.begin() + 12)));
  auto next = Open();
  EXPECT_EQ(Describe(Visible(*next)), "a=1;b=2;");
  next->PutValue(u"d", u"4");
  next->PutValue(u"e", u"5");
  EXPECT_EQ(Describe(Visible(*Open())), "a=1;b=2;d=4;e=5;");
  // The torn bytes became one deleted record with an empty key; nothing was
  // cut away and the new records went at the end.
  Bytes filler = {0x5F, 0x0B, 0, 0, 3, 0, 0, 0, 1};
  filler.insert(filler.end(), torn.begin() + 9, torn.begin() + 12);
  EXPECT_EQ(FileBytes().size(), good.size() + 12 + 2 * 11);
  EXPECT_EQ(Records(), Cat(Cat(Cat(Record("a", "1"), Record("b", "2")), filler),
                           Cat(Record("d", "4"), Record("e", "5"))));

  // A store opened before the death, with another opener's record between:
  // that record is walked over, and the 5 torn bytes (less than a record
  // header) become a 9-byte deleted record.
  WriteFile(good);
  auto early = Open();
  auto other = Open();
  other->PutValue(u"y", u"1");
  AppendFile({0x5F, 0x0B, 7, 0, 0});
  early->PutValue(u"x", u"2");
  EXPECT_EQ(Records(),
            Cat(Cat(Cat(Record("a", "1"), Record("b", "2")), Record("y", "1")),
                Cat({0x5F, 0x0B, 0, 0, 0, 0, 0, 0, 1}, Record("x", "2"))));
  EXPECT_EQ(Describe(Visible(*Open())), "a=1;b=2;y=1;x=2;");
  // From then on the file ends where that store expects it to.
  early->PutValue(u"z", u"3");
  EXPECT_EQ(Describe(Visible(*Open())), "a=1;b=2;y=1;x=2;z=3;");

  // What a crash can leave of an append whose length reached the disk but
  // not its data: zeros. And a single stray byte.
  for (const Bytes& tail : {Bytes(40, 0), Bytes{0x5F}}) {
    WriteFile(Cat(good, tail));
    auto db = Open();
    EXPECT_EQ(db->Count(), 2);
    db->PutValue(u"n", u"new");
    EXPECT_EQ(Describe(Visible(*Open())), "a=1;b=2;n=new;");
    EXPECT_EQ(FileBytes().size(),
              good.size() + std::max<size_t>(tail.size(), 9) + 13);
  }

  // A compaction drops the deleted filler with everything else dead.
  Open()->Compact();
  EXPECT_EQ(Records(),
            Cat(Cat(Record("a", "1"), Record("b", "2")), Record("n", "new")));
}

}  // namespace
}  // namespace quorvel
