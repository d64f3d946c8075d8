// A document file under damage, crashes and torn appends: opening either
// works or raises the invalid-file error, the documents before the damage
// stay readable, and a compaction cut short leaves the old file or the new.
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
#include <utility>
#include <vector>

#include "quorvel/kxdocsdb.h"
#include "stores/db_file.h"
#include "stores/store_file_test.h"
#include "stores/store_model.h"
#include "test_util.h"
#include "testing/faulty_file_system.h"
#include "testing/memory_file_system.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr char16_t kInvalid[] = u"This file is not a valid KxDocsDB file";
constexpr size_t kHeaders = 120;

// One field as text: name, kind and value.
std::string FieldText(std::u16string_view name, const Value& v) {
  return ToUtf8(name) + ":" + std::to_string(VarType(v)) + ":" +
         (v.IsNull() ? "Null" : ToUtf8(ToText(v).view()));
}

// A saved record, where it lies, and whether a later delete flagged it.
struct Written {
  std::u16string id;
  std::string fields;
  size_t start, end;
  bool deleted;
};

struct Doc {
  std::u16string id;
  std::string fields;
  int source = -1;
  bool operator==(const Doc& o) const {
    return id == o.id && fields == o.fields;
  }
};
using State = std::vector<Doc>;

std::string Describe(const State& s) {
  std::string out;
  for (const Doc& d : s) out += ToUtf8(d.id) + "{" + d.fields + "}";
  return out;
}

// What a reader must see of the file cut at `cut`: every record that ends
// by then and was not flagged; an identifier keeps the place of its first
// such record and the content of its last.
State Expected(const std::vector<Written>& log, size_t cut) {
  State s;
  std::map<std::u16string, size_t> place;
  for (size_t i = 0; i < log.size(); ++i) {
    const Written& w = log[i];
    if (w.end > cut || w.deleted) continue;
    auto [it, added] = place.emplace(w.id, s.size());
    if (added) s.push_back(Doc{w.id, {}});
    s[it->second].fields = w.fields;
    s[it->second].source = static_cast<int>(i);
  }
  return s;
}

void Save(const Ref<KxDocRec>& rec) {
  CallByName(Value(rec), u"Save", CallType::Method);
}

std::string Fields(KxDocRec& rec) {
  std::string out;
  for (const Dictionary::Entry& e : rec.fields())
    out += FieldText(e.key.view(), e.value) + "|";
  return out;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

using internal::MemoryFileSystem;

class KxDocsDBReliabilityTest : public testing::StoreFileTest<KxDocsDB> {
 protected:
  // Reads every visible document; a read that raises shows as "<n>" and
  // counts in `errors` by number.
  static State Visible(KxDocsDB& db, std::map<int32_t, int>* errors = nullptr) {
    State s;
    Value ids = db.Keys();
    for (int32_t i = LBound(ids); i <= UBound(ids); ++i) {
      Doc d{std::u16string(ArrayItem(ids, i).string_view()), {}};
      try {
        Ref<KxDocRec> rec = db.GetDoc(String(d.id));
        d.fields = rec ? Fields(*rec) : "Nothing";
        if (rec && rec->DocID().view() != d.id) d.fields += " under another id";
      } catch (const Error& e) {
        d.fields = "<" + std::to_string(e.number()) + ">";
        if (errors != nullptr) ++(*errors)[e.number()];
      }
      s.push_back(std::move(d));
    }
    return s;
  }

  // `docs` documents with one to five fields of every storable kind, some
  // under given identifiers, two saved again and two deleted; names grow
  // with `scale`.
  std::vector<Written> BuildFile(int docs = 100, int scale = 1) {
    std::filesystem::remove(path_);
    auto db = Open();
    std::vector<Written> log;
    std::vector<Ref<KxDocRec>> recs;
    auto save = [&](const Ref<KxDocRec>& rec) {
      const size_t start = std::filesystem::file_size(path_);
      Save(rec);
      log.push_back({std::u16string(rec->DocID().view()), Fields(*rec), start,
                     std::filesystem::file_size(path_), false});
    };
    auto del = [&](const Ref<KxDocRec>& rec) {
      db->Delete(rec->DocID());
      // Every record of the document is flagged, so none comes back.
      for (Written& w : log)
        if (w.id == rec->DocID().view()) w.deleted = true;
    };
    for (int i = 0; i < docs; ++i) {
      Ref<KxDocRec> rec =
          i % 9 == 4
              ? db->AddDoc(String(u" item-" + FromUtf8(std::to_string(i))))
              : db->AddDoc();
      Dictionary& f = rec->fields();
      f.LetItem(String(u"name"), Value(u"doc " + FromUtf8(std::to_string(i)) +
                                       std::u16string(i % 17 * scale, u'x')));
      if (i % 3 == 0) f.LetItem(String(u"n"), Value(i * 1000 - 7));
      if (i % 4 == 0) f.LetItem(String(u"x"), Value(i / 8.0));
      if (i % 5 == 0) f.LetItem(String(u"ok"), Value(i % 2 == 0));
      if (i % 13 == 0) f.LetItem(String(u"none"), Value::Null());
      if (i == 50) f.LetItem(String(u"text"), Value(u"\u00e9t\u00e9"));
      save(rec);
      recs.push_back(rec);
      if (i == 30) {
        recs[10]->fields().LetItem(String(u"name"), Value(u"changed"));
        save(recs[10]);
      }
      if (i == 40) del(recs[5]);
      if (i == 60) del(recs[10]);  // saved twice: both versions go
      if (i == 70) {
        recs[20]->fields().LetItem(String(u"n"), Value(-1));
        save(recs[20]);
      }
    }
    return log;
  }
};

TEST_F(KxDocsDBReliabilityTest, EveryTruncationKeepsTheDocumentsBeforeTheCut) {
  const std::vector<Written> log = BuildFile();
  const Bytes full = FileBytes();
  const State all = Expected(log, full.size());
  ASSERT_EQ(Describe(Visible(*Open())), Describe(all));
  ASSERT_EQ(all.size(), 98u);

  const auto [opened, invalid] = OpenEveryTruncation(
      full, kHeaders, u"KxDocsDB", kInvalid,
      [](KxDocsDB& db) { return Describe(Visible(db)); },
      [&log](size_t cut) { return Describe(Expected(log, cut)); });
  std::printf("KxDocsDB: %zu truncations, %d opened, %d invalid-file errors\n",
              full.size() + 1, opened, invalid);
}

TEST_F(KxDocsDBReliabilityTest, EverySingleByteChangeOpensOrRaisesTheError) {
  const std::vector<Written> log = BuildFile();
  const Bytes full = FileBytes();
  const State all = Expected(log, full.size());
  // A damaged body may fail to decode with any of the codec's errors, or run
  // past the end of the file.
  const std::vector<int32_t> documented = {
      kErrInvalidCall, kErrOverflow,     kErrSubscript, kErrTypeMismatch,
      kErrOutOfStack,  kErrInputPastEnd, kErrKeyExists};

  int same = 0, bad = 0;
  std::map<int32_t, int> errors;
  const auto [tried, invalid] =
      ChangeEveryByte(full, kInvalid, [&](KxDocsDB& db, size_t at, int change) {
        // The record holding `at`, and whether `at` lies in its body.
        int holder = -1;
        bool in_body = false;
        for (size_t i = 0; i < log.size(); ++i) {
          if (at >= log[i].start && at < log[i].end) {
            holder = static_cast<int>(i);
            in_body = at >= log[i].start + 19 + log[i].id.size();
          }
        }
        std::map<int32_t, int> raised;
        const State seen = Visible(db, &raised);
        for (const auto& [number, count] : raised) {
          errors[number] += count;
          if (std::find(documented.begin(), documented.end(), number) ==
                  documented.end() &&
              ++bad <= 3)
            ADD_FAILURE() << "byte " << at << ": error " << number;
        }
        for (const Doc& d : seen) {
          if (d.fields.starts_with("Nothing") && ++bad <= 3)
            ADD_FAILURE() << "byte " << at << ": an indexed id reads Nothing";
        }
        if (seen == all) ++same;
        // One header copy is enough, and the walk never looks at bodies.
        if (at < kHeaders || in_body) {
          bool differs = seen.size() != all.size();
          for (size_t i = 0; !differs && i < seen.size(); ++i)
            differs =
                seen[i].id != all[i].id ||
                (all[i].source != holder && seen[i].fields != all[i].fields);
          if (differs && ++bad <= 3)
            ADD_FAILURE() << "byte " << at << " change " << change << ": "
                          << Describe(seen);
        }
      });
  EXPECT_EQ(bad, 0);
  std::string histogram;
  for (const auto& [number, count] : errors)
    histogram += " " + std::to_string(number) + "x" + std::to_string(count);
  std::printf(
      "KxDocsDB: %d byte changes, %d opened (%d with every document intact), "
      "%d invalid-file errors; reads raised:%s\n",
      tried, tried - invalid, same, invalid, histogram.c_str());
}

TEST_F(KxDocsDBReliabilityTest, ACrashAtEveryWriteOfCompactLeavesOldOrNewFile) {
  const std::vector<Written> log = BuildFile();
  const Bytes before = FileBytes();
  const std::string want = Describe(Expected(log, before.size()));
  Open()->Compact();
  const Bytes after = FileBytes();
  ASSERT_EQ(Describe(Visible(*Open())), want);
  ASSERT_LT(after.size(), before.size());

  const int total = CompactWrites(before);
  // The headers and the 98 chained records in one block, the old file's
  // retirement mark.
  EXPECT_EQ(total, 2);

  const auto [old_files, new_files] = CrashEveryCompactWrite(
      before, after, want, total, 7, 40,
      [](KxDocsDB& db) { return Describe(Visible(db)); });
  std::printf(
      "KxDocsDB: %d writes per compaction, %d crash points tried, %d left the "
      "old file, %d the new one\n",
      total, 3 * (total + 1), old_files, new_files);
}

// Files of five-field documents a little over two read windows long (so
// the second window's bytes replace all of the first's), the first
// document one character longer in each: the first window's edge falls at
// every place within a record across the shapes, and every document must
// be found again after reopening.
TEST_F(KxDocsDBReliabilityTest, EveryDocumentPastTheReadWindowIsFound) {
  constexpr int kDocs = 1150;
  static constexpr const char16_t* kCities[] = {
      u"S\u00e3o Paulo", u"Z\u00fcrich",    u"Oslo",
      u"Montr\u00e9al",  u"K\u00f8benhavn", u"Lyon"};
  int shapes = 0, lost = 0;
  for (int shift = 0; shift < testing::Scaled(180); ++shift) {
    std::filesystem::remove(path_);
    {
      auto db = Open();
      for (int i = 0; i < kDocs; ++i) {
        Ref<KxDocRec> rec = db->AddDoc();
        Dictionary& f = rec->fields();
        f.LetItem(String(u"name"),
                  Value(u"Name " + FromUtf8(std::to_string(i))));
        f.LetItem(String(u"city"), Value(kCities[i % 6]));
        f.LetItem(String(u"note"),
                  Value(std::u16string(10 + (i * 7) % 50 + (i == 0 ? shift : 0),
                                       u'\u00e9')));
        f.LetItem(String(u"email"), Value(u"user@example.org"));
        f.LetItem(String(u"phone"), Value(u"+41 44 000 00 00"));
        Save(rec);
      }
    }
    // Two more, each by an object of its own, as one-shot commands add them.
    for (int i = 0; i < 2; ++i) {
      auto db = Open();
      Ref<KxDocRec> rec = db->AddDoc();
      rec->fields().LetItem(String(u"a"), Value(1));
      Save(rec);
    }
    ASSERT_GT(FileBytes().size(), 2 * 64u * 1024);
    auto db = Open();
    lost += kDocs + 2 - db->Count();
    const Value ids = db->Keys();
    for (const Value& id : ids.array().values())
      if (!db->GetDoc(id.string())) ++lost;
    ++shapes;
  }
  EXPECT_EQ(lost, 0);
  std::printf(
      "KxDocsDB: %d file shapes across the read window, %d documents "
      "lost\n",
      shapes, lost);
}

// The three sweeps above on a file of more than 1 MB, at sampled places.
TEST_F(KxDocsDBReliabilityTest, AFileOverAMegabyteUnderTheSameSweeps) {
  const std::vector<Written> log = BuildFile(3500, 40);
  const Bytes full = FileBytes();
  ASSERT_GT(full.size(), 1u << 20);
  const State all = Expected(log, full.size());
  SweepSampled(
      "KxDocsDB", full, kHeaders, u"KxDocsDB", kInvalid,
      [](KxDocsDB& db) { return Describe(Visible(db)); },
      [&log](size_t cut) { return Describe(Expected(log, cut)); },
      [&](KxDocsDB& db, size_t at) {
        // One header copy is enough; past the headers a change shows at
        // most in the record it hits and those after it, so every live
        // record that ends before it keeps its document visible.
        const State seen = Visible(db);
        std::set<std::u16string> ids;
        for (const Doc& d : seen) ids.insert(d.id);
        bool kept = at >= kHeaders || seen == all;
        for (const Written& w : log)
          if (w.end <= at && !w.deleted) kept = kept && ids.count(w.id) != 0;
        return kept;
      },
      testing::Scaled(100), testing::Scaled(60), testing::Scaled(12));
}

TEST_F(KxDocsDBReliabilityTest, DocumentsSavedAfterATornOneStayReachable) {
  {
    auto db = Open();
    for (int i = 0; i < 2; ++i) {
      Ref<KxDocRec> rec = db->AddDoc();
      rec->fields().LetItem(String(u"n"), Value(i));
      Save(rec);
    }
  }
  const Bytes good = FileBytes();
  // DOC000002's record: header, identifier, body length and a 12-byte body.
  const size_t second = good.size() - (11 + 4 + 9 + 4 + 12);
  ASSERT_EQ(good[second], 0x5F);
  // A dying writer links its record from the last one, then gets only part
  // of it written: here the record header and 3 identifier bytes, or zeros
  // (a length that reached the disk without its data), or a lone byte.
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
    rec->fields().LetItem(String(u"n"), Value(2));
    Save(rec);
    Save(next->AddDoc(u"last"));
    EXPECT_EQ(Describe(Visible(*Open())),
              "DOC000001{n:3:0|}DOC000002{n:3:1|}DOC000003{n:3:2|}LAST{}");
    // The new record went past the torn bytes, which stay unlinked.
    const Bytes now = FileBytes();
    ASSERT_GT(now.size(), b.size() + 2);
    EXPECT_EQ(now[b.size()], 0x5F);
    EXPECT_EQ(now[b.size() + 1], 0x0B);
  }

  // A torn first record: the chain still starts at offset 120, so the next
  // save goes there.
  WriteFile(Cat(Bytes(good.begin(), good.begin() + kHeaders), prefix));
  auto db = Open();
  EXPECT_EQ(db->Count(), 0);
  Save(db->AddDoc(u"first"));
  Save(db->AddDoc(u"second"));
  EXPECT_EQ(Describe(Visible(*Open())), "FIRST{}SECOND{}");
}

}  // namespace
}  // namespace quorvel
