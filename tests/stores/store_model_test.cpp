// Both database files under long random runs (adds, changes, deletes,
// compactions, flushes and reopenings), by one object or by several objects
// taking turns on one file, compared with an in-memory model after every
// reopening. Records run from a few bytes to 20 KB with text beyond ASCII,
// so the walks cross their read window's edges many times.
#include "stores/store_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "quorvel/kxdocsdb.h"
#include "quorvel/kxdocstore.h"
#include "quorvel/kxkvdb.h"
#include "stores/doc_rules.h"
#include "stores/store_file_test.h"
#include "test_util.h"

namespace quorvel {
namespace {

using testing::Diff;
using testing::Doc;
using testing::OrderedModel;
using testing::RandomText;
using testing::Render;

// Operations of one run by one object, and of one run by several.
const int kOps = testing::Scaled(20000);
const int kSharedOps = testing::Scaled(8000);

// What a run did, for the figures the tests print.
struct RunCounts {
  int compared = 0;  // reopenings whose view matched the model (or not)
  int differed = 0;
  int ops = 0;
  uintmax_t largest = 0;  // the largest the file was at a comparison
};

// Picks a key of the model that `knows` says the acting object has in its
// index (another object's deletes may be news to it); empty when a few
// tries find none.
template <class Model, class Knows>
std::u16string PickKnown(RandomText& r, const Model& model, Knows&& knows) {
  for (int tries = 0; tries < 8 && model.size() != 0; ++tries) {
    const std::u16string& key = model.keys()[r.Below(model.size())];
    if (knows(key)) return key;
  }
  return std::u16string();
}

// Compares what `db` shows with the model; a fresh object on `path` when
// `db` is null.
template <class Store, class Model>
void Check(Store* db, const std::u16string& path, const Model& model,
           RunCounts* counts, int op) {
  Ref<Store> fresh;
  if (db == nullptr) {
    fresh = Store::Create();
    fresh->OpenDB(path);
    db = fresh.get();
  }
  const std::string diff = Diff(*db, model);
  ++counts->compared;
  counts->largest =
      std::max(counts->largest, std::filesystem::file_size(ToUtf8(path)));
  if (!diff.empty() && ++counts->differed <= 2)
    ADD_FAILURE() << "after op " << op << ": " << diff;
}

// Begins a batch on `db`, or commits the one it has begun. Reopening and
// compaction inside a batch commit it first.
template <class Store>
void ToggleBatch(Store& db, bool* batching) {
  if (*batching) {
    db.CommitBatch();  // nothing when an OpenDB or a compaction ended it
  } else {
    db.BeginBatch();
  }
  *batching = !*batching;
}

// Runs random key-value operations through `writers` objects taking turns.
RunCounts RunKv(const std::u16string& path, int writers, int ops,
                uint32_t seed) {
  RandomText r(seed);
  OrderedModel<std::u16string> model;
  std::vector<Ref<KxKVDB>> dbs;
  for (int w = 0; w < writers; ++w) {
    dbs.push_back(KxKVDB::Create());
    dbs.back()->OpenDB(path);
  }
  std::vector<std::u16string> used;
  RunCounts counts;
  bool batching = false;
  for (int op = 0; op < ops; ++op) {
    KxKVDB& db = *dbs[r.Below(writers)];
    const uint32_t what = r.Below(1000);
    if (what < 500) {
      std::u16string key;
      if (used.empty() || r.OneIn(3)) {
        key = r.Text(1, 24) + FromUtf8(std::to_string(used.size()));
        used.push_back(key);
      } else {
        key = used[r.Below(used.size())];
      }
      const std::u16string value = r.RecordText(20000);
      db.PutValue(key, value);
      model.Put(key, value);
    } else if (what < 700) {
      const std::u16string key =
          PickKnown(r, model, [&](const auto& k) { return db.HasKey(k); });
      if (key.empty()) continue;
      db.DeleteKey(key);
      model.Erase(key);
    } else if (what < 705) {
      db.DeleteKey(u"never written");
    } else if (what < 710) {
      db.Compact();
    } else if (what < 712) {
      db.Compact(true);
      EXPECT_FALSE(db.IsOpen());
      db.OpenDB(path);
    } else if (what < 718) {
      db.OpenDB(path);
      // One object alone must see it all; several see others' deletes only
      // after reopening, so a fresh object judges.
      Check<KxKVDB>(writers == 1 ? &db : nullptr, path, model, &counts, op);
    } else if (what < 725) {
      db.FlushData();
    } else if (writers == 1 && what < 740) {
      // A lone object may batch: other objects would wait for its lock.
      ToggleBatch(db, &batching);
    } else if (writers == 1 && model.size() != 0) {
      // One object alone sees everything at once, cached or not.
      const std::u16string& key = model.keys()[r.Below(model.size())];
      EXPECT_EQ(ToUtf8(db.Item(key)), ToUtf8(*model.Find(key)));
    }
    ++counts.ops;
  }
  for (const Ref<KxKVDB>& db : dbs) db->CommitBatch();
  Check<KxKVDB>(nullptr, path, model, &counts, ops);
  return counts;
}

// Runs random document operations through `writers` objects taking turns.
// Every generated identifier must be new to the whole run.
RunCounts RunDocs(const std::u16string& path, int writers, int ops,
                  uint32_t seed) {
  RandomText r(seed);
  OrderedModel<Doc> model;
  std::vector<Ref<KxDocsDB>> dbs;
  for (int w = 0; w < writers; ++w) {
    dbs.push_back(KxDocsDB::Create());
    dbs.back()->OpenDB(path);
  }
  std::set<std::u16string> generated;
  RunCounts counts;
  bool batching = false;
  auto save = [&](const Ref<KxDocRec>& rec) {
    rec->Save();
    model.Put(std::u16string(rec->DocID().view()), Render(rec->fields()));
  };
  for (int op = 0; op < ops; ++op) {
    KxDocsDB& db = *dbs[r.Below(writers)];
    const uint32_t what = r.Below(1000);
    if (what < 350) {
      Ref<KxDocRec> rec = db.AddDoc();
      const std::u16string id(rec->DocID().view());
      if (!generated.insert(id).second || model.Find(id) != nullptr)
        ADD_FAILURE() << "op " << op << ": generated " << ToUtf8(id)
                      << " twice";
      testing::RandomFields(r, rec->fields());
      save(rec);
    } else if (what < 450) {
      // Given identifiers, some of them ones the generator would make next.
      std::u16string id =
          r.OneIn(4)
              ? std::u16string(
                    internal::GeneratedDocId(db.next_id() + r.Below(3)).view())
              : u" caf\u00e9-" + FromUtf8(std::to_string(r.Below(400)));
      const std::u16string normal(internal::NormalizeDocId(id).view());
      Ref<KxDocRec> rec;
      try {
        rec = db.AddDoc(id);
      } catch (const Error& e) {
        EXPECT_EQ(ToUtf8(e.description()),
                  "Document already exists: " + ToUtf8(normal));
        EXPECT_TRUE(db.HasDoc(normal));
        if (writers == 1) EXPECT_NE(model.Find(normal), nullptr);
        continue;
      }
      EXPECT_EQ(ToUtf8(rec->DocID()), ToUtf8(normal));
      testing::RandomFields(r, rec->fields());
      save(rec);
    } else if (what < 650) {
      const std::u16string id =
          PickKnown(r, model, [&](const auto& k) { return db.HasDoc(k); });
      if (id.empty()) continue;
      Ref<KxDocRec> rec = db.GetDoc(id);
      if (!rec) {
        ADD_FAILURE() << "op " << op << ": " << ToUtf8(id) << " reads Nothing";
        continue;
      }
      rec->Clear();
      testing::RandomFields(r, rec->fields());
      save(rec);
    } else if (what < 800) {
      const std::u16string id =
          PickKnown(r, model, [&](const auto& k) { return db.HasDoc(k); });
      if (id.empty()) continue;
      db.Delete(id);
      model.Erase(id);
    } else if (what < 805) {
      db.Compact();
    } else if (what < 807) {
      db.Compact(true);
      db.OpenDB(path);
    } else if (what < 813) {
      db.OpenDB(path);
      // One object alone must see it all; several see others' deletes only
      // after reopening, so a fresh object judges.
      Check<KxDocsDB>(writers == 1 ? &db : nullptr, path, model, &counts, op);
    } else if (what < 820) {
      db.FlushData();
    } else if (writers == 1 && what < 835) {
      ToggleBatch(db, &batching);
    } else if (writers == 1 && model.size() != 0) {
      const std::u16string& id = model.keys()[r.Below(model.size())];
      Ref<KxDocRec> rec = db.GetDoc(id);
      EXPECT_TRUE(rec && Render(rec->fields()) == *model.Find(id))
          << "op " << op << ": " << ToUtf8(id);
    }
    ++counts.ops;
  }
  for (const Ref<KxDocsDB>& db : dbs) db->CommitBatch();
  Check<KxDocsDB>(nullptr, path, model, &counts, ops);
  return counts;
}

void Report(const char* store, int writers, const RunCounts& c) {
  EXPECT_EQ(c.differed, 0) << store << ", " << writers << " objects";
  std::printf(
      "%s, %d object%s: %d operations, %d reopenings compared, %d "
      "differed, file up to %ju bytes\n",
      store, writers, writers == 1 ? "" : "s", c.ops, c.compared, c.differed,
      c.largest);
}

class KxKVDBModelTest : public testing::StoreFileTest<KxKVDB> {};
class KxDocsDBModelTest : public testing::StoreFileTest<KxDocsDB> {};

TEST_F(KxKVDBModelTest, OneObjectMatchesTheModelAfterEveryReopening) {
  Report("KxKVDB", 1, RunKv(upath_, 1, kOps, 11));
}

TEST_F(KxKVDBModelTest, ObjectsTakingTurnsOnOneFileLoseNothing) {
  for (int writers : {2, 4, 8}) {
    std::filesystem::remove(path_);
    Report("KxKVDB", writers,
           RunKv(upath_, writers, kSharedOps, 100 + writers));
  }
}

TEST_F(KxDocsDBModelTest, OneObjectMatchesTheModelAfterEveryReopening) {
  Report("KxDocsDB", 1, RunDocs(upath_, 1, kOps, 12));
}

TEST_F(KxDocsDBModelTest, ObjectsTakingTurnsOnOneFileLoseNothing) {
  for (int writers : {2, 4, 8}) {
    std::filesystem::remove(path_);
    Report("KxDocsDB", writers,
           RunDocs(upath_, writers, kSharedOps, 200 + writers));
  }
}

}  // namespace
}  // namespace quorvel
