// Several processes on one database file: writers adding, changing,
// deleting and compacting at once, and document writers killed at random
// points.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "quorvel/kxdocsdb.h"
#include "quorvel/kxkvdb.h"
#include "stores/store_model.h"
#include "test_util.h"

namespace quorvel {
namespace {

using testing::Doc;
using testing::OrderedModel;
using testing::RandomText;
using testing::Render;

std::string TempDir() {
  auto dir = std::filesystem::temp_directory_path() /
             ("quorvel-stores-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  return dir.string();
}

// One line per entry a writer left: key, a tab, its content (UTF-8).
using Entries = std::map<std::string, std::string>;

// Runs `writer(w, &entries)` in `writers` processes at once and returns
// what each left, by writer. A writer that raises or exits otherwise fails
// the test.
std::vector<Entries> RunWriters(
    int writers, const std::string& dir,
    const std::function<void(int, Entries*)>& writer) {
  std::vector<pid_t> children;
  for (int w = 0; w < writers; ++w) {
    pid_t child = fork();
    if (child < 0) {
      ADD_FAILURE() << "fork";
      break;
    }
    if (child == 0) {
      int status = 0;
      try {
        Entries entries;
        writer(w, &entries);
        std::ofstream out(dir + "/writer" + std::to_string(w));
        for (const auto& [key, content] : entries)
          out << key << '\t' << content << '\n';
        status = out.good() ? 0 : 3;
      } catch (const Error& e) {
        std::fprintf(stderr, "writer %d: %s\n", w, e.what());
        status = 1;
      } catch (...) {
        status = 2;
      }
      _exit(status);
    }
    children.push_back(child);
  }
  std::vector<Entries> left(children.size());
  for (size_t w = 0; w < children.size(); ++w) {
    int status = 0;
    waitpid(children[w], &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "writer " << w << " status " << status;
    std::ifstream in(dir + "/writer" + std::to_string(w));
    std::string line;
    while (std::getline(in, line)) {
      const size_t tab = line.find('\t');
      left[w][line.substr(0, tab)] = line.substr(tab + 1);
    }
  }
  return left;
}

// Merges what the writers left; every key must belong to one writer only.
Entries Union(const std::vector<Entries>& left, int* shared) {
  Entries all;
  *shared = 0;
  for (const Entries& entries : left)
    for (const auto& [key, content] : entries)
      if (!all.emplace(key, content).second) ++*shared;
  return all;
}

std::string Sample(const Entries& a, const Entries& b) {
  for (const auto& [key, content] : a) {
    auto it = b.find(key);
    if (it == b.end()) return key + " missing";
    if (it->second != content) return key + " differs";
  }
  for (const auto& [key, content] : b)
    if (a.find(key) == a.end()) return key + " is extra";
  return "";
}

Entries FileEntries(KxDocsDB& db) {
  Entries out;
  Value ids = db.Keys();
  for (const Value& id : ids.array().values()) {
    Ref<KxDocRec> rec = db.GetDoc(id.string());
    out[ToUtf8(id.string_view())] = rec ? ToUtf8(Render(rec->fields())) : "?";
  }
  return out;
}

Entries FileEntries(KxKVDB& db) {
  Entries out;
  Value keys = db.Keys();
  for (const Value& key : keys.array().values())
    out[ToUtf8(key.string_view())] = ToUtf8(db.Item(key.string()));
  return out;
}

// Writers add documents (generated identifiers and their own given ones),
// change and delete their own, and now and then compact the whole file.
// At the end a fresh open must hold exactly the union of what each writer
// last saved, and no identifier may have gone to two writers.
TEST(StoreProcessTest, DocumentWritersInProcessesLoseNothing) {
  const std::string dir = TempDir();
  const int ops = testing::Scaled(400);
  for (int writers : {2, 4, 8}) {
    const std::string path = dir + "/docs" + std::to_string(writers) + ".db";
    std::filesystem::remove(path);
    auto left = RunWriters(writers, dir, [&](int w, Entries* entries) {
      RandomText r(1000 * writers + w);
      OrderedModel<Doc> mine;
      auto db = KxDocsDB::Create();
      db->OpenDB(FromUtf8(path));
      auto save = [&](const Ref<KxDocRec>& rec) {
        rec->Save();
        mine.Put(std::u16string(rec->DocID().view()), Render(rec->fields()));
      };
      for (int op = 0; op < ops; ++op) {
        const uint32_t what = r.Below(100);
        if (what < 55) {
          Ref<KxDocRec> rec = db->AddDoc();
          testing::RandomFields(r, rec->fields());
          save(rec);
        } else if (what < 70) {
          Ref<KxDocRec> rec = db->AddDoc(
              FromUtf8("w" + std::to_string(w) + "-" + std::to_string(op)));
          testing::RandomFields(r, rec->fields());
          save(rec);
        } else if (what < 88 && mine.size() != 0) {
          const std::u16string id = mine.keys()[r.Below(mine.size())];
          Ref<KxDocRec> rec = db->GetDoc(id);
          if (!rec) throw Error(1, u"test", u"lost " + id);
          rec->Clear();
          testing::RandomFields(r, rec->fields());
          save(rec);
        } else if (what < 98 && mine.size() != 0) {
          const std::u16string id = mine.keys()[r.Below(mine.size())];
          db->Delete(id);
          mine.Erase(id);
        } else if (what < 99) {
          db->Compact();
        } else {
          db->OpenDB(FromUtf8(path));
        }
      }
      for (const std::u16string& id : mine.keys())
        (*entries)[ToUtf8(id)] = ToUtf8(*mine.Find(id));
    });
    int shared = 0;
    const Entries want = Union(left, &shared);
    auto db = KxDocsDB::Create();
    db->OpenDB(FromUtf8(path));
    const Entries seen = FileEntries(*db);
    EXPECT_EQ(shared, 0) << writers << " writers";
    EXPECT_EQ(Sample(want, seen), "") << writers << " writers";
    EXPECT_EQ(seen.size(), want.size());
    std::printf(
        "KxDocsDB, %d processes: %d operations each, %zu documents "
        "left, %zu found, %d identifiers shared\n",
        writers, ops, want.size(), seen.size(), shared);
  }
  std::filesystem::remove_all(dir);
}

// The same for key-value writers, each with keys of its own.
TEST(StoreProcessTest, KeyValueWritersInProcessesLoseNothing) {
  const std::string dir = TempDir();
  const int ops = testing::Scaled(600);
  for (int writers : {2, 4, 8}) {
    const std::string path = dir + "/kv" + std::to_string(writers) + ".db";
    std::filesystem::remove(path);
    auto left = RunWriters(writers, dir, [&](int w, Entries* entries) {
      RandomText r(2000 * writers + w);
      OrderedModel<std::u16string> mine;
      auto db = KxKVDB::Create();
      db->OpenDB(FromUtf8(path));
      for (int op = 0; op < ops; ++op) {
        const uint32_t what = r.Below(100);
        if (what < 70) {
          const std::u16string key = FromUtf8("w" + std::to_string(w) + "-") +
                                     FromUtf8(std::to_string(r.Below(200)));
          const std::u16string value = r.RecordText(4000);
          db->PutValue(key, value);
          mine.Put(key, value);
        } else if (what < 95 && mine.size() != 0) {
          const std::u16string key = mine.keys()[r.Below(mine.size())];
          db->DeleteKey(key);
          mine.Erase(key);
        } else if (what < 97) {
          db->Compact();
        } else {
          db->OpenDB(FromUtf8(path));
        }
      }
      for (const std::u16string& key : mine.keys())
        (*entries)[ToUtf8(key)] = ToUtf8(*mine.Find(key));
    });
    int shared = 0;
    const Entries want = Union(left, &shared);
    auto db = KxKVDB::Create();
    db->OpenDB(FromUtf8(path));
    const Entries seen = FileEntries(*db);
    EXPECT_EQ(Sample(want, seen), "") << writers << " writers";
    EXPECT_EQ(seen.size(), want.size());
    std::printf(
        "KxKVDB, %d processes: %d operations each, %zu pairs left, "
        "%zu found\n",
        writers, ops, want.size(), seen.size());
  }
  std::filesystem::remove_all(dir);
}

// A child saves documents and reports each acknowledged save (its number
// and identifier) through a pipe; it is killed at a random moment. The
// file must always open and hold every acknowledged document.
TEST(StoreProcessTest, KilledDocumentWritersLoseNoAcknowledgedSave) {
  const std::string dir = TempDir();
  const std::string path = dir + "/killed.db";
  struct Ack {
    int n;
    char id[24];
  };
  std::mt19937 rng(9);
  int unopenable = 0, lost = 0, acknowledged = 0, next = 0;
  const int cycles = testing::Scaled(1000);
  for (int cycle = 0; cycle < cycles; ++cycle) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const int first = next;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      auto db = KxDocsDB::Create();
      db->OpenDB(FromUtf8(path));
      for (int n = first;; ++n) {
        Ref<KxDocRec> rec = db->AddDoc();
        rec->fields().LetItem(String(u"n"), Value(n));
        rec->fields().LetItem(String(u"text"),
                              Value(std::u16string(n % 300, u'\u00e9')));
        rec->Save();
        Ack ack{n, {}};
        std::snprintf(ack.id, sizeof ack.id, "%s",
                      ToUtf8(rec->DocID()).c_str());
        if (write(fds[1], &ack, sizeof ack) != sizeof ack) _exit(1);
      }
    }
    close(fds[1]);
    usleep(rng() % 5000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::vector<Ack> acks;
    Ack ack;
    while (read(fds[0], &ack, sizeof ack) == sizeof ack) acks.push_back(ack);
    close(fds[0]);
    next = acks.empty() ? first : acks.back().n + 2;
    acknowledged += static_cast<int>(acks.size());
    try {
      auto db = KxDocsDB::Create();
      db->OpenDB(FromUtf8(path));
      for (const Ack& a : acks) {
        Ref<KxDocRec> rec = db->GetDoc(FromUtf8(a.id));
        if (!rec || ToLong(rec->fields().Item(String(u"n"))) != a.n) ++lost;
      }
    } catch (const Error&) {
      ++unopenable;
    }
  }
  EXPECT_EQ(unopenable, 0);
  EXPECT_EQ(lost, 0);
  std::printf(
      "KxDocsDB: %d kill cycles, %d documents acknowledged, %d "
      "unopenable, %d lost\n",
      cycles, acknowledged, unopenable, lost);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quorvel
