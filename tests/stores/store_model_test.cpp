// Both database files under long random runs by one object, several taking
// turns, or several processes, compared with in-memory models.
#include "stores/store_model.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "stores/store_file_test.h"

namespace quorvel {
namespace {

using testing::OrderedModel;
using testing::RandomText;
using testing::Render;
using Model = OrderedModel<std::u16string>;

// What a run used and made; new keys start with `prefix`.
struct Run {
  RandomText r;
  int writers;
  std::u16string prefix;
  bool shared = false;
  Model model;
  std::vector<std::u16string> used;
  std::set<std::u16string> generated;
};

// A key of the model that the acting object still has (another object's
// deletes may be news to it); empty when a few tries find none.
template <class Has>
std::u16string PickKnown(Run& run, Has&& has) {
  for (int tries = 0; tries < 8 && run.model.size() != 0; ++tries) {
    const std::u16string& key = run.model.keys()[run.r.Below(run.model.size())];
    if (has(key)) return key;
  }
  return std::u16string();
}

// For `what` below 705: a put of a new or an earlier key, a delete of a
// known key or of one never written. False when there was nothing to do.
bool Change(KxKVDB& db, Run& run, uint32_t what, int) {
  if (what < 500) {
    std::u16string key;
    if (run.used.empty() || run.r.OneIn(3)) {
      key = run.prefix + run.r.Text(1, 24) +
            FromUtf8(std::to_string(run.used.size()));
      run.used.push_back(key);
    } else {
      key = run.used[run.r.Below(run.used.size())];
    }
    const std::u16string value = run.r.RecordText(20000);
    db.PutValue(key, value);
    run.model.Put(key, value);
  } else if (what < 700) {
    const std::u16string key =
        PickKnown(run, [&](const auto& k) { return db.HasKey(k); });
    if (key.empty()) return false;
    db.DeleteKey(key);
    run.model.Erase(key);
  } else {
    db.DeleteKey(u"never written");
  }
  return true;
}

// For `what` below 800: a document under a generated id, new to the whole
// run, a known one rewritten, or deleted.
bool Change(KxDocsDB& db, Run& run, uint32_t what, int op) {
  RandomText& r = run.r;
  Ref<KxDocRec> rec;
  if (what < 450) {
    rec = db.AddDoc();
    const std::u16string id(rec->DocID().view());
    if (!run.generated.insert(id).second || run.model.Find(id) != nullptr)
      ADD_FAILURE() << "op " << op << ": generated " << ToUtf8(id) << " twice";
  } else {
    const std::u16string id =
        PickKnown(run, [&](const auto& k) { return db.HasDoc(k); });
    if (id.empty()) return false;
    if (what >= 650) {
      db.Delete(id);
      run.model.Erase(id);
      return true;
    }
    rec = db.GetDoc(id);
    rec->Clear();
  }
  testing::RandomFields(r, rec->fields());
  rec->Save();
  run.model.Put(std::u16string(rec->DocID().view()), Render(rec->fields()));
  return true;
}

template <class Store>
class StoreModelTest : public testing::StoreFileTest<Store> {
 protected:
  // Others' deletes reach an object only when it reopens, so with several
  // objects a reopening compares a fresh object with the model.
  void RunRandom(Run& run, int ops) {
    const bool alone = !run.shared;
    std::vector<Ref<Store>> dbs;
    for (int w = 0; w < run.writers; ++w) dbs.push_back(this->Open());
    int differed = 0;
    auto check = [&](Store* db, int op) {
      if (!alone) return;
      const std::string diff =
          testing::Diff(db ? *db : *this->Open(), run.model);
      if (!diff.empty() && ++differed <= 2)
        ADD_FAILURE() << "after op " << op << ": " << diff;
    };
    const uint32_t own = std::is_same_v<Store, KxKVDB> ? 705 : 800;
    // Batches and reads at any time only where no other process writes.
    const bool one = run.writers == 1 && alone;
    bool batching = false;
    for (int op = 0; op < ops; ++op) {
      Store& db = *dbs[run.r.Below(run.writers)];
      const uint32_t what = run.r.Below(1000);
      if (what < own) {
        if (!Change(db, run, what, op)) continue;
      } else if (what < own + 5) {
        db.Compact();
      } else if (what < own + 7) {
        db.Compact(true);
        EXPECT_FALSE(db.IsOpen());
        db.OpenDB(this->upath_);
      } else if (what < own + 13) {
        db.OpenDB(this->upath_);
        check(one ? &db : nullptr, op);
      } else if (what < own + 20) {
        db.FlushData();
      } else if (one && what < own + 35) {
        // Others would wait for its lock. An OpenDB or a compaction commits
        // a batch, and a commit of none does nothing.
        batching ? db.CommitBatch() : db.BeginBatch();
        batching = !batching;
      } else if (one && run.model.size() != 0) {
        const std::u16string& key =
            run.model.keys()[run.r.Below(run.model.size())];
        EXPECT_EQ(ToUtf8(testing::ContentOf(db, key)),
                  ToUtf8(*run.model.Find(key)))
            << "op " << op;
      }
    }
    for (const Ref<Store>& db : dbs) db->CommitBatch();
    check(nullptr, ops);
    EXPECT_EQ(differed, 0) << run.writers << " objects";
  }
};
TYPED_TEST_SUITE(StoreModelTest, testing::Stores);

TYPED_TEST(StoreModelTest, ObjectsTakingTurnsOnOneFileLoseNothing) {
  for (int writers : {1, 2, 4, 8}) {
    std::filesystem::remove(this->path_);
    Run run{
        RandomText((std::is_same_v<TypeParam, KxKVDB> ? 100 : 200) + writers),
        writers};
    this->RunRandom(run, testing::Scaled(writers == 1 ? 20000 : 8000));
  }
}

// A fresh open holds exactly the union of what each process left.
TYPED_TEST(StoreModelTest, ProcessesWritingAtOnceLoseNothing) {
  for (int writers : {2, 4, 8}) {
    std::filesystem::remove(this->path_);
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        try {
          Run run{RandomText(1000 * writers + w), 1,
                  FromUtf8("w" + std::to_string(w) + "-"), true};
          this->RunRandom(run, testing::Scaled(600));
          std::ofstream out(this->path_ + std::to_string(w));
          for (const std::u16string& key : run.model.keys())
            out << ToUtf8(key) << '\t' << ToUtf8(*run.model.Find(key)) << '\n';
          out.flush();
          _exit(::testing::Test::HasFailure() || !out.good());
        } catch (const Error& e) {
          std::fprintf(stderr, "writer %d: %s\n", w, e.what());
        } catch (...) {
        }
        _exit(2);
      }
      children.push_back(child);
    }
    std::map<std::u16string, std::u16string> want, seen;
    int shared = 0;
    for (size_t w = 0; w < children.size(); ++w) {
      int status = 0;
      waitpid(children[w], &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << w;
      std::ifstream in(this->path_ + std::to_string(w));
      for (std::string line; std::getline(in, line);) {
        const size_t tab = line.find('\t');
        shared += !want.emplace(FromUtf8(line.substr(0, tab)),
                                FromUtf8(line.substr(tab + 1)))
                       .second;
      }
    }
    auto db = this->Open();
    const Value keys = db->Keys();
    for (const Value& key : keys.array().values())
      seen[std::u16string(key.string_view())] =
          testing::ContentOf(*db, key.string());
    EXPECT_EQ(shared, 0) << writers << " writers";
    EXPECT_EQ(seen.size(), want.size()) << writers << " writers";
    for (const auto& [key, content] : want)
      EXPECT_EQ(ToUtf8(seen[key]), ToUtf8(content)) << ToUtf8(key);
    testing::StoreOps<TypeParam>::Write(*db, u"LAST", u"x");
    db->OpenDB(this->upath_);
    EXPECT_EQ(db->Count(), static_cast<int>(want.size()) + 1);
  }
}

}  // namespace
}  // namespace quorvel
