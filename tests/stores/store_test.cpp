// What both database files do alike: no file, header copies, openers, locks,
// batches, crashes, kills, cut and read-only files, file errors, exactness.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "quorvel/storable.h"
#include "quorvel/store_scan.h"
#include "stores/store_file_test.h"

namespace quorvel {
namespace {

using internal::FaultyFileSystem;
using internal::MemoryFileSystem;
using testing::Bytes;

constexpr char16_t kNotOpen[] = u"DB is not open";
constexpr char16_t kReadOnly[] =
    u"Path/File access error: m (opened for reading only)";

template <class Store>
class StoreTest : public testing::StoreFileTest<Store> {
 protected:
  using Ops = testing::StoreOps<Store>;
  static constexpr bool kKv = std::is_same_v<Store, KxKVDB>;
  static constexpr size_t kH = Ops::kHeader;
};
TYPED_TEST_SUITE(StoreTest, testing::Stores);

TYPED_TEST(StoreTest, WithoutAnOpenFile) {
  using Ops = typename TestFixture::Ops;
  Ref<TypeParam> db = TypeParam::Create();
  const Value v(db);
  CallByName(v, u"FlushData", CallType::Method);  // nothing to do
  CallByName(v, u"CloseDB", CallType::Method);
  ExpectRaises(Ops::Write(*db, u"K", u"v"), kErrGeneralFailure, Ops::kSource,
               kNotOpen);
  ExpectRaisesStandard(CallByName(v, u"Keys", CallType::Get), kErrObjectNotSet);
  ExpectRaisesStandard(CallByName(v, u"Count", CallType::Get),
                       kErrObjectNotSet);
  CallByName(v, u"OpenDB", CallType::Method, {Value(this->upath_)});
  Ops::Write(*db, u"K", u"v");
  db->CloseDB();
  // The kept index answers; nothing cached is read once closed.
  EXPECT_EQ(db->Count(), 1);
  EXPECT_EQ(this->Keys(*db), u"K;");
  ExpectRaises(Ops::Read(*db, u"K"), kErrGeneralFailure, Ops::kSource,
               kNotOpen);
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
  for (size_t size : {size_t{1}, 2 * kH - 1}) {
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

// The batch crosses the 1 MiB buffer; then the file is cut under open
// objects, whose reads give the value or 62, never a cut page's zeros.
TYPED_TEST(StoreTest, BatchesAndAFileCutShortWhileOpen) {
  using Ops = typename TestFixture::Ops;
  auto db = this->Open();
  auto reader = this->Open();
  std::mt19937 rng(3);
  db->BeginBatch();
  ExpectRaises(db->BeginBatch(), kErrInvalidCall, Ops::kSource,
               u"A batch is open already");
  std::map<std::u16string, std::u16string> model;
  const auto key = [](int i) { return u"K" + FromUtf8(std::to_string(i)); };
  for (int i = 0; i < 3000; ++i) {
    std::u16string value(rng() % 3000, u' ');
    for (char16_t& c : value) c = u"a z\u00e9\u20ac\u00fc"[rng() % 6];
    if (TestFixture::kKv && i % 700 == 350) value.assign(300000, u'\u00fc');
    Ops::Write(*db, key(i), String(value));
    model[key(i)] = value;
    if (i % 7 == 3) {
      Ops::Remove(*db, key(i - 2));
      model.erase(key(i - 2));
    }
  }
  db->CommitBatch();
  db->CommitBatch();  // nothing open: nothing
  auto fresh = this->Open();
  EXPECT_EQ(fresh->Count(), static_cast<int>(model.size()));
  for (const auto& [k, value] : model)
    EXPECT_EQ(Ops::Read(*fresh, k), value) << ToUtf8(k);
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
  for (int64_t cut : {size - 1, middle, middle - 1, int64_t{4096},
                      int64_t{4095}, int64_t{0}}) {
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

// The tool's tests cover the other writes; a compaction must not slip by.
TYPED_TEST(StoreTest, AFileThatMayNotBeWrittenOpensForReading) {
  using Ops = typename TestFixture::Ops;
  MemoryFileSystem memory;
  Ref<TypeParam> db = TypeParam::Create(memory);
  db->OpenDB(u"m");
  Ops::Write(*db, u"K", u"v");
  const Bytes before = memory.Get(u"m");
  memory.SetReadOnly(u"m", true);
  db->OpenDB(u"m", OpenOptions{.create_if_missing = false});
  EXPECT_EQ(Ops::Read(*db, u"K"), u"v");
  ExpectRaises(db->Compact(), kErrPathFileAccess, u"KxQuorvel", kReadOnly);
  Ops::Remove(*db, u"ABSENT");  // nothing to write, nothing raised
  EXPECT_EQ(memory.Get(u"m"), before);
  // Asked for, on a file that could be written.
  memory.SetReadOnly(u"m", false);
  db->OpenDB(u"m", OpenOptions{.read_only = true});
  ExpectRaises(Ops::Remove(*db, u"K"), kErrPathFileAccess, u"KxQuorvel",
               kReadOnly);
}

// A child reports each acknowledged write through a pipe until killed.
TYPED_TEST(StoreTest, KilledWritersLoseNoAcknowledgedWrite) {
  using Ops = typename TestFixture::Ops;
  const auto key = [](int n) { return u"K" + FromUtf8(std::to_string(n)); };
  const auto value = [](int n) { return std::u16string(n % 300, u'\u00e9'); };
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
          Ops::Write(*db, key(n), value(n));
          if (write(fds[1], &n, sizeof n) != sizeof n) _exit(1);
        }
      } catch (...) {
      }
      _exit(2);
    }
    close(fds[1]);
    usleep(rng() % (TestFixture::kKv ? 3000 : 5000));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::vector<int> acks;
    for (int n; read(fds[0], &n, sizeof n) == sizeof n;) acks.push_back(n);
    close(fds[0]);
    // The next child skips the number whose write may have been cut.
    next = acks.empty() ? first : acks.back() + 2;
    try {
      auto db = this->Open();
      for (int n : acks) lost += Ops::Read(*db, key(n)) != value(n);
    } catch (const Error&) {
      ++unopenable;
    }
  }
  EXPECT_EQ(unopenable, 0);
  EXPECT_EQ(lost, 0);
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
  EXPECT_FALSE(memory.Exists(u"m"));
  // An empty file opened for reading is an empty database left empty.
  memory.Put(u"m", {});
  kv->OpenDB(u"m", OpenOptions{.read_only = true});
  EXPECT_EQ(kv->Count(), 0);
  docs->OpenDB(u"m", OpenOptions{.read_only = true});
  EXPECT_EQ(docs->Count(), 0);
  EXPECT_TRUE(memory.Get(u"m").empty());
  kv->OpenDB(u"m", OpenOptions{.create_if_missing = false});
  EXPECT_EQ(memory.Get(u"m").size(), 104u);  // opened for writing
}

using StoreFileErrorTest = testing::TempDirTest;

// The file layer's errors name the path and the OS's reason, under the
// number the platform's error maps to.
TEST_F(StoreFileErrorTest, FileErrorsCarryPlatformNumbersAndNameThePath) {
  internal::FileSystem& fs = internal::FileSystem::Default();
  const std::u16string dir = FromUtf8(dir_);
  ExpectRaises(fs.Open(dir + u"/no/such/dir.bin"), kErrPathNotFound,
               u"KxQuorvel",
               u"Path not found: " + dir +
                   u"/no/such/dir.bin (No such file or directory)");
  ExpectRaises(fs.Open(dir), kErrPathFileAccess, u"KxQuorvel",
               u"Path/File access error: " + dir + u" (Is a directory)");
  ExpectRaises(
      fs.Rename(dir + u"/gone", dir + u"/x"), kErrFileNotFound, u"KxQuorvel",
      u"File not found: " + dir + u"/gone (No such file or directory)");
  ExpectRaisesStandard(fs.Open(std::u16string(u"a\0b", 3)),
                       kErrBadFileNameOrNumber);
  fs.Open(dir + u"/r.bin")->WriteAt(0, Bytes{1, 2});
  ExpectRaises(
      fs.Open(dir + u"/r.bin", internal::OpenMode::kReadOnly)
          ->WriteAt(0, Bytes{3}),
      kErrBadFileNameOrNumber, u"KxQuorvel",
      u"Bad file name or number: " + dir + u"/r.bin (Bad file descriptor)");
  const struct {
    int err;
    int32_t number;
  } kTable[] = {{ENOENT, 53}, {ENOTDIR, 76}, {EACCES, 75}, {EBADF, 52},
                {ENOSPC, 61}, {EIO, 57},     {ENOMEM, 7}};
  for (const auto& row : kTable)
    ExpectRaisesStandard(internal::RaiseFileError(row.err), row.number);
}

const Value kRounding = Value::Decimal(*Decimal::Parse(u"0.123456"));
constexpr char16_t kRounded[] =
    u"the number 0.123456 at price would be rounded to 4 decimal places";
constexpr char16_t kNoKeyByte[] =
    u"character U+6771 (\u6771) at position 1 of the key has no "
    u"Windows-1252 byte";

// Exact writes: what would not come back is refused before anything is
// written, while the default stores '?'.
TEST(KxKVDBExactTest, RefusesBeforeWritingWhileTheDefaultStoresQuestionMarks) {
  MemoryFileSystem fs;
  Ref<KxKVDB> db = KxKVDB::Create(fs);
  const Value bound(db);
  db->OpenDB(u"kv", OpenOptions{.exact = true});
  db->PutValue(u"a", u"\u00E9");
  const Bytes before = fs.Get(u"kv");
  const struct {
    std::function<void()> write;
    std::u16string description;
  } refused[] = {
      {[&] { db->PutValue(u"\u6771", u"v"); }, kNoKeyByte},
      {[&] { db->PutValue(std::u16string(32768, u'k'), u"v"); },
       u"the key is 32768 characters long, more than the 32767 a KxKVDB key "
       u"holds"},
      {[&] {
         CallByName(bound, u"PutValue", CallType::Method, {u"n", Value(5)});
       },
       u"the value is Long, which would come back as a String"},
      {[&] {
         CallByName(bound, u"", CallType::Let, {Value(1.5), u"v"});
       },
       u"the key is Double, which would come back as a String"},
  };
  for (const auto& r : refused)
    ExpectRaises(r.write(), 5, u"CKVDB", r.description);
  EXPECT_EQ(fs.Get(u"kv"), before);
  EXPECT_EQ(testing::Joined(db->Keys()), u"a;");

  // A compaction reopens the file exact; a scope makes a write or an open
  // exact.
  db->Compact();
  ExpectRaises(db->PutValue(u"\u6771", u"v"), 5, u"CKVDB", kNoKeyByte);
  db->OpenDB(u"kv");
  {
    ExactScope exact;
    ExpectRaises(db->PutValue(u"x", u"\u6771"), 5, u"CKVDB",
                 u"character U+6771 (\u6771) at position 1 of the value has "
                 u"no Windows-1252 byte");
  }
  db->PutValue(u"k\u6771", u"v");
  CallByName(bound, u"PutValue", CallType::Method, {u"n", Value(5)});
  {
    ExactScope exact;
    db->OpenDB(u"kv");
  }
  EXPECT_EQ(testing::Joined(db->Keys()), u"a;k?;n;");
  EXPECT_EQ(db->Item(u"n"), u"5");
  ExpectRaises(db->PutValue(u"\u6771", u"v"), 5, u"CKVDB", kNoKeyByte);
}

TEST(KxDocsDBExactTest, RefusesIdsAndFieldsBeforeWriting) {
  MemoryFileSystem fs;
  Ref<KxDocsDB> db = KxDocsDB::Create(fs);
  db->OpenDB(u"docs", OpenOptions{.exact = true});
  Ref<KxDocRec> kept = db->AddDoc(u"a");
  kept->Save();
  const Bytes before = fs.Get(u"docs");
  // Ids are normalised first: the upper case of U+00B5 has no byte.
  ExpectRaises(db->AddDoc(u"\u00B5"), 5, u"KxDocsDB",
               u"character U+039C (\u039C) at position 1 of the document id "
               u"has no Windows-1252 byte");
  Ref<KxDocRec> rec = db->AddDoc(u"b");
  rec->LetItem(u"price", kRounding);
  ExpectRaises(rec->Save(), 5, u"KxDocsDB", kRounded);
  // A cached record changed since its save stops a compaction as well.
  kept->LetItem(u"bad", Value());
  ExpectRaises(db->Compact(), 5, u"KxDocsDB",
               u"the value at bad is Empty, which a MessagePack encoding "
               u"cannot hold");
  EXPECT_EQ(fs.Get(u"docs"), before);
  EXPECT_EQ(db->GetDoc(u"A").get(), kept.get());

  // Opened without, what it stores comes back rounded.
  db->OpenDB(u"docs");
  rec->Save();
  db->OpenDB(u"docs");
  EXPECT_EQ(db->GetDoc(u"B")->Item(u"price").currency(), 1235);
}

}  // namespace
}  // namespace quorvel
