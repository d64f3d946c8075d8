// What both database files do alike: states without a file, the two header
// copies, openers deciding under the lock, batches, crashes, byte-exact
// compaction, writers killed, files cut short or opened for reading only.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "quorvel/store_scan.h"
#include "stores/store_file_test.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using internal::FaultyFileSystem;
using internal::MemoryFileSystem;
using testing::Bytes;

constexpr char16_t kNotOpen[] = u"DB is not open";
constexpr char16_t kReadOnly[] =
    u"Path/File access error: m (opened for reading only)";

// A member called by name, and whether it needs the file before any open
// (kNever), after a close (kClosed) or both.
enum When { kNever = 1, kClosed = 2, kBoth = 3 };
struct Call {
  const char16_t* name;
  CallType type;
  std::vector<Value> args;
  When when = kBoth;
};
std::vector<Call> NeedingTheFile(const KxKVDB*) {
  return {{u"PutValue", CallType::Method, {Value(u"K"), Value(u"v")}},
          {u"DeleteKey", CallType::Method, {Value(u"K")}},
          {u"Compact", CallType::Method, {}},
          {u"Item", CallType::Get, {Value(u"K")}}};
}
std::vector<Call> NeedingTheFile(const KxDocsDB*) {
  return {{u"AddDoc", CallType::Method, {}},
          {u"GetDoc", CallType::Method, {Value(u"K")}},
          {u"Item", CallType::Get, {Value(u"K")}, kNever},
          {u"Delete", CallType::Method, {Value(u"K")}, kNever},
          {u"Compact", CallType::Method, {}},
          {u"SetField",
           CallType::Method,
           {Value(u"K"), Value(u"f"), Value(1)},
           kNever},
          {u"GetField", CallType::Method, {Value(u"K"), Value(u"v")}, kClosed},
          {u"FindIds", CallType::Method, {Value(u"v"), Value(1)}, kClosed}};
}

template <class Store>
class StoreTest : public testing::StoreFileTest<Store> {
 protected:
  using Ops = testing::StoreOps<Store>;
  static constexpr bool kKv = std::is_same_v<Store, KxKVDB>;
  static constexpr size_t kH = Ops::kHeader;

  void ExpectNeedsTheFile(Store& db, When when) {
    for (const Call& c : NeedingTheFile(&db)) {
      if ((c.when & when) == 0) continue;
      ExpectRaises(InvokeByName(Value(Ref<Store>(&db)), c.name, c.type, c.args),
                   kErrGeneralFailure, Ops::kSource, kNotOpen);
    }
  }
};
TYPED_TEST_SUITE(StoreTest, testing::Stores);

TYPED_TEST(StoreTest, WithoutAnOpenFile) {
  using Ops = typename TestFixture::Ops;
  Ref<TypeParam> db = TypeParam::Create();
  const Value v(db);
  CallByName(v, u"FlushData", CallType::Method);  // nothing to do
  CallByName(v, u"CloseDB", CallType::Method);
  this->ExpectNeedsTheFile(*db, kNever);
  ExpectRaisesStandard(CallByName(v, u"Keys", CallType::Get), kErrObjectNotSet);
  ExpectRaisesStandard(CallByName(v, u"Count", CallType::Get),
                       kErrObjectNotSet);
  CallByName(v, u"OpenDB", CallType::Method, {Value(this->upath_)});
  Ops::Write(*db, u"K", u"v");
  CallByName(v, u"FlushData", CallType::Method);
  EXPECT_EQ(Ops::Read(*db, u"K"), u"v");
  db->CloseDB();
  // The kept index answers; nothing cached is read once closed.
  EXPECT_EQ(db->Count(), 1);
  EXPECT_EQ(this->Keys(*db), u"K;");
  this->ExpectNeedsTheFile(*db, kClosed);
}

TYPED_TEST(StoreTest, TheHeaderCopyAStoreReadsIsWrittenToBoth) {
  using Ops = typename TestFixture::Ops;
  constexpr size_t kH = TestFixture::kH, kVersion = Ops::kVersionAt;
  Ops::Write(*this->Open(), u"K", u"v");
  Bytes good = this->FileBytes();
  // A reserved byte (carried over as read) and a document file's next id
  // tell which copy was read.
  good[kH - 1] = 0xAA;
  good[2 * kH - 1] = 0xBB;
  if (!TestFixture::kKv) good[24] = 9, good[kH + 24] = 5;
  const struct {
    const char* what;
    std::vector<std::pair<size_t, uint8_t>> damage;
    int chosen;  // 0 A, 1 B, -1 neither
  } cases[] = {
      {"both good", {}, 0},
      {"A's magic damaged", {{0, 'X'}}, 1},
      {"A's version 2", {{kVersion, 2}}, 1},
      {"A bad, B any version", {{3, 0}, {kH + kVersion, 7}}, 1},
      {"both magics damaged", {{1, 0}, {kH + 1, 0}}, -1},
      {"A good, B bad", {{kH, 0}}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes b = good;
    for (auto [at, byte] : c.damage) b[at] = byte;
    this->WriteFile(b);
    Ref<TypeParam> db = TypeParam::Create();
    if (c.chosen < 0) {
      ExpectRaises(db->OpenDB(this->upath_), kErrGeneralFailure, Ops::kSource,
                   Ops::kInvalid);
      EXPECT_FALSE(db->IsOpen());  // closed before raising
      ExpectRaises(Ops::Write(*db, u"K", u"w"), kErrGeneralFailure,
                   Ops::kSource, kNotOpen);
      EXPECT_EQ(db->Count(), 0);
      continue;
    }
    db->OpenDB(this->upath_);
    EXPECT_EQ(Ops::Read(*db, u"K"), u"v");
    Ops::Write(*db, u"K", u"w");
    const Bytes after = this->FileBytes();
    EXPECT_EQ(testing::ToHex(after, 0, kH), testing::ToHex(after, kH, kH));
    EXPECT_EQ(after[kH - 1], c.chosen == 0 ? 0xAA : 0xBB);
    if constexpr (!TestFixture::kKv) {
      EXPECT_EQ(db->AddDoc()->DocID(),
                c.chosen == 0 ? u"DOC000009" : u"DOC000005");
    }
  }
  for (size_t size : {size_t{1}, kH - 1, 2 * kH - 1}) {
    this->WriteFile(good, size);
    ExpectRaises(this->Open(), kErrGeneralFailure, Ops::kSource, Ops::kInvalid);
  }
  this->WriteFile(good, 2 * kH);  // the headers only
  EXPECT_EQ(this->Open()->Count(), 0);
}

TYPED_TEST(StoreTest, OpenersShareTheFileUnderTheLock) {
  using Ops = typename TestFixture::Ops;
  auto a = this->Open();
  auto b = this->Open();
  Ops::Write(*a, u"A", u"a1");
  Ops::Write(*b, u"B", u"b1");  // after a's record, never over it
  EXPECT_EQ(a->Count(), 1);     // a sees it once it reopens or writes
  // b's write took in a's record, and caches no stale value for it.
  EXPECT_EQ(this->Keys(*b), u"A;B;");
  Ops::Write(*b, u"A", u"b2");
  Ops::Write(*a, u"X", u"a2");  // a catches up: its cached "a1" goes
  EXPECT_EQ(Ops::Read(*a, u"A"), u"b2");
  // a deletes B, which b wrote; b's compaction walks the file afresh, so B
  // stays deleted. a, still on the old file, writes to the new one.
  Ops::Remove(*a, u"B");
  b->Compact();
  EXPECT_EQ(this->Keys(*this->Open()), u"A;X;");
  Ops::Write(*a, u"Y", u"a3");
  EXPECT_EQ(this->Keys(*this->Open()), u"A;X;Y;");
  EXPECT_EQ(this->Keys(*a), u"A;X;Y;");

  // A writer waits while another opener holds the lock.
  auto holder = internal::FileSystem::Default().Open(this->upath_);
  holder->LockExclusive();
  std::atomic<bool> done{false};
  std::thread t([&] {
    Ops::Write(*b, u"C", u"3");
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_FALSE(done.load());
  holder->Unlock();
  t.join();
  EXPECT_EQ(Ops::Read(*this->Open(), u"C"), u"3");

  // A lock the OS refuses stops the write: others rely on it.
  FaultyFileSystem faulty(internal::FileSystem::Default());
  auto c = this->Open(faulty);
  faulty.FailLocks(true);
  const Bytes before = this->FileBytes();
  ExpectRaisesStandard(Ops::Write(*c, u"J", u"1"), kErrDeviceIo);
  faulty.FailLocks(false);
  EXPECT_EQ(this->FileBytes(), before);
  EXPECT_FALSE(Ops::Has(*c, u"J"));
}

TYPED_TEST(StoreTest, DeletesDecideOnTheFileNotOnWhatTheyHadSeen) {
  using Ops = typename TestFixture::Ops;
  auto early = this->Open();  // opened before the key exists
  auto other = this->Open();
  Ops::Write(*other, u"K1", u"v");
  Ops::Remove(*early, u"K1");
  EXPECT_FALSE(Ops::Has(*early, u"K1"));
  EXPECT_FALSE(Ops::Has(*this->Open(), u"K1"));
  // A key deleted by another opener: no error, nothing flagged twice.
  Ops::Write(*early, u"K2", u"v");
  Ops::Remove(*other, u"K2");
  Ops::Remove(*early, u"K2");
  EXPECT_FALSE(Ops::Has(*this->Open(), u"K2"));
}

TYPED_TEST(StoreTest, ACrashKeepsWhatWasFlushedAndCompactionsWhole) {
  using Ops = typename TestFixture::Ops;
  FaultyFileSystem faulty(internal::FileSystem::Default());
  auto db = this->Open(faulty);
  Ops::Write(*db, u"A", u"1");
  db->FlushData();
  Ops::Write(*db, u"A", u"2");
  Ops::Write(*db, u"B", u"3");
  faulty.Crash();
  db = this->Open(faulty);
  EXPECT_EQ(this->Keys(*db), u"A;");
  EXPECT_EQ(Ops::Read(*db, u"A"), u"1");
  Ops::Write(*db, u"C", u"4");
  // A stale temporary file from a failed run is replaced.
  std::ofstream(this->path_ + ".tmp") << "junk junk junk";
  db->Compact();
  EXPECT_FALSE(std::filesystem::exists(this->path_ + ".tmp"));
  faulty.Crash();
  EXPECT_EQ(this->Keys(*this->Open(faulty)), u"A;C;");
}

// A batch of random sizes up to 3 KiB crosses the 1 MiB buffer and the
// read windows; now and then a key-value record too large for the buffer
// goes directly between buffered ones (a document's text stops at 65,535).
// Then another program cuts the file short under open objects, at record
// and page boundaries and inside records: every read gives the value
// written or raises 62, never the zeros a cut page reads as; a writer
// walks the file again and what it writes after is read back.
TYPED_TEST(StoreTest, BatchesAndAFileCutShortWhileOpen) {
  using Ops = typename TestFixture::Ops;
  auto db = this->Open();
  auto reader = this->Open();
  std::mt19937 rng(3);
  db->BeginBatch();
  ExpectRaises(db->BeginBatch(), kErrInvalidCall, Ops::kSource,
               u"A batch is open already");
  std::vector<std::u16string> keys;
  std::map<std::u16string, std::u16string> model;
  const std::u16string letters = u"a z\u00e9\u20ac\u00fc";
  for (int i = 0; i < 3000; ++i) {
    std::u16string value(rng() % 3000, u' ');
    for (char16_t& c : value) c = letters[rng() % letters.size()];
    if (TestFixture::kKv && i % 700 == 350) value.assign(300000, u'\u00fc');
    keys.push_back(u"K" + FromUtf8(std::to_string(i)));
    Ops::Write(*db, String(keys.back()), String(value));
    model[keys.back()] = value;
    if (i % 7 == 3) {
      Ops::Remove(*db, String(keys[i - 2]));
      model.erase(keys[i - 2]);
    }
  }
  // Read back inside the batch, then from a fresh object.
  auto differs = [&](TypeParam& store) {
    int wrong = 0;
    for (const auto& [key, value] : model)
      wrong += Ops::Read(store, String(key)) != value;
    return wrong + std::abs(store.Count() - static_cast<int>(model.size()));
  };
  EXPECT_EQ(differs(*db), 0);
  db->CommitBatch();
  db->CommitBatch();  // nothing open: nothing
  EXPECT_EQ(differs(*this->Open()), 0);
  Ops::Write(*reader, u"LATE", u"x");  // the lock was released
  model[u"LATE"] = u"x";
  EXPECT_TRUE(Ops::Has(*this->Open(), u"LATE"));

  const Bytes whole = this->FileBytes();
  std::map<std::u16string, int64_t> ends;  // each live key's record end
  StoreScanner::Open(this->upath_).Walk([&](const StoreRecord& r) {
    if (r.flag == 0) ends[std::u16string(r.key.begin(), r.key.end())] = r.end;
  });
  const int64_t size = static_cast<int64_t>(whole.size());
  const int64_t middle = ends[u"K1500"];
  for (int64_t cut : {size - 1, middle, middle - 1, middle - 7, int64_t{4096},
                      int64_t{4095}, int64_t{8193}, int64_t{200}, int64_t{0}}) {
    SCOPED_TRACE(cut);
    this->WriteFile(whole);
    auto cut_under = this->Open();  // indexed, nothing read yet
    ASSERT_EQ(truncate(this->path_.c_str(), cut), 0);
    for (const auto& [key, value] : model) {
      if (ends[key] <= cut) {
        EXPECT_EQ(Ops::Read(*cut_under, key), value) << ToUtf8(key);
      } else {
        ExpectRaisesStandard(Ops::Read(*cut_under, key), kErrInputPastEnd);
      }
    }
  }
  // Emptied, the file is a new store to its writer, as to OpenDB; cut into
  // its header, it is none.
  Ops::Write(*db, u"AFTER", u"x");
  EXPECT_EQ(Ops::Read(*this->Open(), u"AFTER"), u"x");
  EXPECT_EQ(this->Open()->Count(), 1);
  ASSERT_EQ(truncate(this->path_.c_str(), 20), 0);
  ExpectRaises(Ops::Write(*db, u"MORE", u"y"), kErrGeneralFailure, Ops::kSource,
               Ops::kInvalid);
  EXPECT_EQ(this->FileBytes().size(), 20u);
}

TYPED_TEST(StoreTest, AFileThatMayNotBeWrittenOpensForReading) {
  using Ops = typename TestFixture::Ops;
  MemoryFileSystem memory;
  Ref<TypeParam> db = TypeParam::Create(memory);
  db->OpenDB(u"m");
  Ops::Write(*db, u"K", u"v");
  Ops::Write(*db, u"J", u"w");
  const Bytes before = memory.Get(u"m");
  memory.SetReadOnly(u"m", true);
  std::vector<std::function<void()>> writes = {
      [&] { db->Compact(); }, [&] { Ops::Write(*db, u"a", u"b"); },
      [&] { Ops::Remove(*db, u"K"); }};
  if constexpr (!TestFixture::kKv) {
    // A generated id needs no reservation where nothing can be saved.
    writes.push_back([&] {
      Ref<KxDocRec> rec = db->AddDoc();
      EXPECT_EQ(rec->DocID(), u"DOC000001");
      rec->Save();
    });
  }
  for (const OpenOptions& options :
       {OpenOptions{}, OpenOptions{.create_if_missing = false}}) {
    db->OpenDB(u"m", options);
    EXPECT_EQ(db->Count(), 2);
    EXPECT_EQ(Ops::Read(*db, u"J"), u"w");
    if constexpr (!TestFixture::kKv) {
      EXPECT_EQ(testing::Joined(db->FindIds(u"v", Value(u"v"))), u"K;");
    }
    for (const auto& write : writes)
      ExpectRaises(write(), kErrPathFileAccess, u"KxQuorvel", kReadOnly);
    Ops::Remove(*db, u"ABSENT");  // nothing to write, nothing raised
    db->FlushData();
    EXPECT_TRUE(db->IsReadOnly());
    EXPECT_EQ(db->Count(), 2);
    EXPECT_EQ(memory.Get(u"m"), before);
  }
  // Asked for, on a file that could be written.
  memory.SetReadOnly(u"m", false);
  db->OpenDB(u"m", OpenOptions{.read_only = true});
  EXPECT_TRUE(db->IsReadOnly());
  ExpectRaises(Ops::Write(*db, u"A", u"b"), kErrPathFileAccess, u"KxQuorvel",
               kReadOnly);
  db->OpenDB(u"m");
  EXPECT_FALSE(db->IsReadOnly());
  Ops::Write(*db, u"A", u"b");
  EXPECT_EQ(db->Count(), 3);
}

// Texts around the read piece (64 KiB) and the write block (1 MiB).
const std::vector<size_t> kSizes = {
    0, 1, 65536 - 20, 65536 + 1, (1 << 20) - 9, (1 << 20) + 3, 3 << 20, 100};

String Text(size_t n, size_t seed) {
  std::u16string s(n, u'a');
  for (size_t i = 0; i < n; i += 97)
    s[i] = static_cast<char16_t>('a' + (i + seed) % 26);
  return String(s);
}
std::u16string Key(size_t i) {
  return u"D" + ToText(Value(static_cast<int32_t>(i))).str();
}

// Record i with a text of kSizes[i] characters: a pair, or a document whose
// text spreads over fields short enough for MessagePack strings.
void WriteSized(KxKVDB& db, size_t i) {
  db.PutValue(Key(i), Text(kSizes[i], i));
}
void WriteSized(KxDocsDB& db, size_t i) {
  Ref<KxDocRec> rec = db.GetDoc(Key(i), true);
  rec->Clear();
  for (size_t at = 0, field = 0; at < kSizes[i] || field == 0;
       at += 60000, ++field)
    rec->LetItem(
        u"t" + ToText(Value(static_cast<int32_t>(field))).str(),
        Value(Text(std::min<size_t>(kSizes[i] - at, 60000), i + field)));
  rec->LetItem(u"n", Value(static_cast<int32_t>(i)));
  rec->Save();
}

// Superseded, deleted and torn records go; what stays is byte for byte the
// file a store that only ever wrote the live records would write, cached
// records as they stand, unsaved changes too.
TYPED_TEST(StoreTest, TheFileIsWhatAFreshStoreWritesForTheLiveRecords) {
  using Ops = testing::StoreOps<TypeParam>;
  auto db = this->Open();
  for (size_t i = 0; i < kSizes.size(); ++i) {
    Ops::Write(*db, Key(i), Text(7, i));
    Ops::Write(*db, u"GONE" + Key(i), u"x");
  }
  for (size_t i = 0; i < kSizes.size(); ++i) {
    WriteSized(*db, i);
    Ops::Remove(*db, u"GONE" + Key(i));
  }
  this->AppendFile({0x5F, 0x0B, 3, 0});  // a torn append
  db->OpenDB(this->upath_);              // nothing cached
  Ops::Write(*db, u"LATE", u"1");
  if constexpr (std::is_same_v<TypeParam, KxKVDB>) {
    Ops::Write(*db, u"LATE", u"2");
  } else {
    db->GetDoc(u"LATE")->LetItem(u"v", Value(u"2"));
  }
  db->Compact();
  const testing::Bytes compacted = this->FileBytes();
  EXPECT_EQ(db->Count(), static_cast<int32_t>(kSizes.size()) + 1);
  EXPECT_EQ(Ops::Read(*db, u"LATE"), u"2");

  fs::remove(this->path_);
  auto fresh = this->Open();
  for (size_t i = 0; i < kSizes.size(); ++i) WriteSized(*fresh, i);
  Ops::Write(*fresh, u"LATE", u"2");
  fresh->CloseDB();
  EXPECT_TRUE(compacted == this->FileBytes());
}

// A child writes and reports each acknowledged write (its number and key)
// through a pipe, and is killed at a random moment. The file must always
// open and hold every acknowledged record.
TYPED_TEST(StoreTest, KilledWritersLoseNoAcknowledgedWrite) {
  struct Ack {
    int n;
    char key[24];
  };
  auto value = [](int n) { return std::u16string(n % 300, u'\u00e9'); };
  std::mt19937 rng(TestFixture::kKv ? 7 : 9);
  int unopenable = 0, lost = 0, next = 0;
  for (int cycle = 0; cycle < testing::Scaled(1000); ++cycle) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const int first = next;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      try {
        auto db = this->Open();
        for (int n = first;; ++n) {
          Ack ack{n, {}};
          if constexpr (TestFixture::kKv) {
            std::snprintf(ack.key, sizeof ack.key, "k%d", n);
            db->PutValue(FromUtf8(ack.key), value(n));
          } else {
            Ref<KxDocRec> rec = db->AddDoc();
            rec->fields().LetItem(u"n", Value(n));
            rec->fields().LetItem(u"text", Value(value(n)));
            rec->Save();
            std::snprintf(ack.key, sizeof ack.key, "%s",
                          ToUtf8(rec->DocID()).c_str());
          }
          if (write(fds[1], &ack, sizeof ack) != sizeof ack) _exit(1);
        }
      } catch (...) {
      }
      _exit(2);
    }
    close(fds[1]);
    usleep(rng() % (TestFixture::kKv ? 3000 : 5000));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::vector<Ack> acks;
    for (Ack ack; read(fds[0], &ack, sizeof ack) == sizeof ack;)
      acks.push_back(ack);
    close(fds[0]);
    // The next child skips the number whose write may have been cut.
    next = acks.empty() ? first : acks.back().n + 2;
    try {
      auto db = this->Open();
      for (const Ack& a : acks) {
        if constexpr (TestFixture::kKv) {
          lost += db->Item(FromUtf8(a.key)).view() != value(a.n);
        } else {
          Ref<KxDocRec> rec = db->GetDoc(FromUtf8(a.key));
          lost += !rec || ToLong(rec->fields().Item(u"n")) != a.n;
        }
      }
    } catch (const Error&) {
      ++unopenable;
    }
  }
  EXPECT_EQ(unopenable, 0);
  EXPECT_EQ(lost, 0);
}

// A batch killed at a random moment, once a first 1 MiB piece reached the
// file, leaves a prefix of itself.
using StoreBatchKillTest = testing::StoreFileTest<KxKVDB>;
TEST_F(StoreBatchKillTest, AKilledBatchLeavesAPrefix) {
  std::mt19937 rng(11);
  int not_prefix = 0, partial = 0;
  for (int cycle = 0; cycle < 25; ++cycle) {
    fs::remove(path_);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      try {
        auto db = Open();
        db->BeginBatch();
        for (int k = 0; k < 200000; ++k)
          db->PutValue(FromUtf8("k" + std::to_string(k)), u"value");
        db->CommitBatch();
      } catch (...) {
      }
      _exit(0);
    }
    std::error_code ec;
    for (int i = 0; i < 5000 && !(fs::file_size(path_, ec) > 1000000 && !ec);
         ++i)
      usleep(1000);
    usleep(rng() % 20000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    auto db = Open();
    const int count = db->Count();
    partial += count > 0 && count < 200000;
    for (int k = 0; k < count; ++k)
      not_prefix += !db->HasKey(FromUtf8("k" + std::to_string(k)));
  }
  EXPECT_EQ(not_prefix, 0);
  EXPECT_GT(partial, 0);  // some kills did land inside a batch
}

TEST(StoreOpenTest, MissingFilesAreCreatedOnlyWhenAllowed) {
  MemoryFileSystem memory;
  auto kv = KxKVDB::Create(memory);
  auto docs = KxDocsDB::Create(memory);
  const std::u16string missing =
      u"File not found: m (No such file or directory)";
  ExpectRaises(kv->OpenDB(u"m", OpenOptions{.create_if_missing = false}),
               kErrFileNotFound, u"KxQuorvel", missing);
  ExpectRaises(kv->OpenDB(u"m", OpenOptions{.read_only = true}),
               kErrFileNotFound, u"KxQuorvel", missing);
  ExpectRaises(docs->OpenDB(u"m", OpenOptions{.create_if_missing = false}),
               kErrFileNotFound, u"KxQuorvel", missing);
  EXPECT_FALSE(memory.Exists(u"m"));
  EXPECT_FALSE(kv->IsOpen());
  // An empty file opened for reading is an empty database left empty.
  memory.Put(u"m", {});
  kv->OpenDB(u"m", OpenOptions{.read_only = true});
  EXPECT_EQ(kv->Count(), 0);
  EXPECT_EQ(kv->Item(u"k"), u"");
  docs->OpenDB(u"m", OpenOptions{.read_only = true});
  EXPECT_EQ(docs->Count(), 0);
  EXPECT_TRUE(memory.Get(u"m").empty());
  // Refusing to create still opens an existing file for writing.
  kv->OpenDB(u"m", OpenOptions{.create_if_missing = false});
  EXPECT_FALSE(kv->IsReadOnly());
  EXPECT_EQ(memory.Get(u"m").size(), 104u);
}

}  // namespace
}  // namespace quorvel
