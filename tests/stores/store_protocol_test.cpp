// Writes decided on the file's state under the lock, batches, damage and the
// limits' errors: what a second opener, another process or a changed byte
// can do to a store, and what the store must then do.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <random>
#include <string>
#include <type_traits>

#include "quorvel/kxdocsdb.h"
#include "quorvel/kxkvdb.h"
#include "quorvel/store_scan.h"
#include "store_file_test.h"
#include "test_util.h"

namespace quorvel {
namespace {

constexpr int32_t kStoreError = static_cast<int32_t>(0x800403E9u);

// Puts `key` = `value` in a key-value store or saves a document whose one
// field "v" holds `value` in a document store, so one test body serves both.
void Write(KxKVDB& db, const String& key, const String& value) {
  db.PutValue(key, value);
}
void Write(KxDocsDB& db, const String& key, const String& value) {
  Ref<KxDocRec> rec = db.GetDoc(key, true);
  rec->fields().LetItem(u"v", Value(value));
  rec->Save();
}
bool Has(KxKVDB& db, const String& key) { return db.HasKey(key.view()); }
bool Has(KxDocsDB& db, const String& key) { return db.HasDoc(key.view()); }
std::u16string Read(KxKVDB& db, const String& key) {
  return db.Item(key).str();
}
std::u16string Read(KxDocsDB& db, const String& key) {
  return db.GetField(key, u"v").string().str();
}
void Remove(KxKVDB& db, const String& key) { db.DeleteKey(key); }
void Remove(KxDocsDB& db, const String& key) { db.Delete(key); }
std::u16string_view SourceOf(const KxKVDB*) { return u"CKVDB"; }
std::u16string_view SourceOf(const KxDocsDB*) { return u"KxDocsDB"; }

template <class Store>
class StoreProtocolTest : public testing::StoreFileTest<Store> {};
using Stores = ::testing::Types<KxKVDB, KxDocsDB>;
TYPED_TEST_SUITE(StoreProtocolTest, Stores);

TYPED_TEST(StoreProtocolTest, DeletesDecideOnTheFileNotOnWhatTheyHadSeen) {
  auto early = this->Open();  // opened before the key exists
  auto other = this->Open();
  Write(*other, u"K1", u"v");
  Remove(*early, u"K1");
  EXPECT_FALSE(Has(*early, u"K1"));
  EXPECT_FALSE(Has(*this->Open(), u"K1"));
  // A key deleted by another opener: no error, nothing flagged twice.
  Write(*early, u"K2", u"v");
  Remove(*other, u"K2");
  Remove(*early, u"K2");
  EXPECT_FALSE(Has(*this->Open(), u"K2"));
}

TYPED_TEST(StoreProtocolTest, BatchesWriteOnceAndAreSeenWhole) {
  auto db = this->Open();
  auto reader = this->Open();
  std::mt19937 rng(3);
  db->BeginBatch();
  ExpectRaises(db->BeginBatch(), kErrInvalidCall,
               SourceOf(static_cast<TypeParam*>(nullptr)),
               u"A batch is open already");
  std::vector<std::u16string> keys;
  std::map<std::u16string, std::u16string> model;
  const std::u16string letters = u"a z\u00e9\u20ac\u00fc";
  for (int i = 0; i < 3000; ++i) {
    // Random sizes up to 3 KiB cross the 1 MiB buffer and the read windows.
    std::u16string value(rng() % 3000, u' ');
    for (char16_t& c : value) c = letters[rng() % letters.size()];
    // Now and then a record too large for the buffer, written directly
    // between buffered ones (a document's text stops at 65,535).
    if (std::is_same_v<TypeParam, KxKVDB> && i % 700 == 350)
      value.assign(300000, u'\u00fc');
    keys.push_back(u"K" + FromUtf8(std::to_string(i)));
    Write(*db, String(keys.back()), String(value));
    model[keys.back()] = value;
    if (i % 7 == 3) {
      Remove(*db, String(keys[i - 2]));
      model.erase(keys[i - 2]);
    }
  }
  // Read back inside the batch, then from a fresh object.
  auto differs = [&](TypeParam& store) {
    int wrong = 0;
    for (const auto& [key, value] : model)
      wrong += Read(store, String(key)) != value;
    return wrong + std::abs(store.Count() - static_cast<int>(model.size()));
  };
  EXPECT_EQ(differs(*db), 0);
  db->CommitBatch();
  db->CommitBatch();  // nothing open: nothing
  EXPECT_EQ(differs(*this->Open()), 0);
  Write(*reader, u"LATE", u"x");  // the lock was released
  EXPECT_TRUE(Has(*this->Open(), u"LATE"));
}

// A child runs one batch of puts and is killed at a random moment: the file
// must then hold a prefix of the batch, never a later key without every
// earlier one.
TEST(StoreBatchKillTest, AKilledBatchLeavesAPrefix) {
  const std::string dir = ::testing::TempDir() + "/batchkill";
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/b.kv";
  std::mt19937 rng(11);
  int not_prefix = 0, partial = 0;
  for (int cycle = 0; cycle < 25; ++cycle) {
    std::filesystem::remove(path);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto db = KxKVDB::Create();
      db->OpenDB(FromUtf8(path));
      db->BeginBatch();
      for (int k = 0; k < 200000; ++k)
        db->PutValue(FromUtf8("k" + std::to_string(k)), u"value");
      db->CommitBatch();
      _exit(0);
    }
    // Killed once the batch has reached the file (a first 1 MiB piece),
    // however slow the build: the kill must land inside it.
    for (int waited = 0; waited < 5000; ++waited) {
      std::error_code ec;
      const auto size = std::filesystem::file_size(path, ec);
      if (!ec && size > 1000000) break;
      usleep(1000);
    }
    usleep(rng() % 20000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    auto db = KxKVDB::Create();
    db->OpenDB(FromUtf8(path));
    const int count = db->Count();
    partial += count > 0 && count < 200000;
    for (int k = 0; k < count; ++k)
      not_prefix += !db->HasKey(FromUtf8("k" + std::to_string(k)));
  }
  EXPECT_EQ(not_prefix, 0);
  EXPECT_GT(partial, 0);  // some kills did land inside a batch
  std::filesystem::remove_all(dir);
}

class DocsProtocolTest : public testing::StoreFileTest<KxDocsDB> {};

// Another program cuts the file short under open objects, at record and
// page boundaries and inside records: every read gives the value that was
// written or raises 62, never a crash or the zeros a cut page reads as; a
// writer walks the file again and what it writes after is read back.
TYPED_TEST(StoreProtocolTest, AFileCutShortWhileOpenNeverReadsWrongBytes) {
  std::mt19937 rng(23);
  std::map<std::u16string, std::u16string> model;
  auto db = this->Open();
  db->BeginBatch();
  for (int i = 0; i < 600; ++i) {
    std::u16string value(1 + rng() % 300, u'v');
    value[rng() % value.size()] = u'\u00e9';
    const std::u16string key = FromUtf8("K" + std::to_string(i));
    Write(*db, key, value);
    model[key] = value;
  }
  db->CommitBatch();
  const typename testing::StoreFileTest<TypeParam>::Bytes whole =
      this->FileBytes();
  std::map<std::u16string, int64_t> ends;  // each key's record end
  StoreScanner::Open(FromUtf8(this->path_)).Walk([&](const StoreRecord& r) {
    ends[std::u16string(r.key.begin(), r.key.end())] = r.end;
  });
  const int64_t size = static_cast<int64_t>(whole.size());
  const int64_t middle = ends[u"K300"];
  for (int64_t cut : {size - 1, middle, middle - 1, middle - 7, int64_t{4096},
                      int64_t{4095}, int64_t{8193}, int64_t{200}, int64_t{0}}) {
    SCOPED_TRACE(cut);
    this->WriteFile(whole);
    auto reader = this->Open();  // indexed, nothing read yet
    ASSERT_EQ(truncate(this->path_.c_str(), cut), 0);
    for (const auto& [key, value] : model) {
      if (ends[key] <= cut) {
        EXPECT_EQ(Read(*reader, key), value) << ToUtf8(key);
      } else {
        ExpectRaisesStandard(Read(*reader, key), kErrInputPastEnd);
      }
    }
  }
  // Emptied, the file is a new store to its writer, as to OpenDB; cut
  // into its header, it is none.
  Write(*db, u"after", u"x");
  EXPECT_EQ(Read(*this->Open(), u"after"), u"x");
  EXPECT_EQ(this->Open()->Count(), 1);
  ASSERT_EQ(truncate(this->path_.c_str(), 20), 0);
  try {
    Write(*db, u"more", u"y");
    ADD_FAILURE() << "wrote into a file without its header";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kStoreError);
  }
  EXPECT_EQ(this->FileBytes().size(), 20u);
}

TEST_F(DocsProtocolTest, TwoOpenersAddingOneIdCannotBothSucceed) {
  auto a = Open(), b = Open();
  Ref<KxDocRec> ra = a->AddDoc(u"r4"), rb = b->AddDoc(u" R4 ");
  ra->fields().LetItem(u"by", Value(String(u"a")));
  rb->fields().LetItem(u"by", Value(String(u"b")));
  ra->Save();
  ExpectRaises(rb->Save(), kStoreError, u"KxDocsDB",
               u"Document already exists: R4");
  ExpectRaises(b->AddDoc(u"R4"), kStoreError, u"KxDocsDB",
               u"Document already exists: R4");
  ra->Save();  // saved through this object before: a save replaces it
  auto reopened = Open();
  EXPECT_EQ(reopened->Count(), 1);
  EXPECT_EQ(reopened->GetField(u"R4", u"by").string(), u"a");
}

TEST_F(DocsProtocolTest, UpdatesKeepEveryOpenersFieldAndNeverRevive) {
  auto a = Open(), b = Open();
  Write(*a, u"D", u"0");
  for (int i = 0; i < 20; ++i) {
    KxDocsDB& by = i % 2 ? *a : *b;
    const String field(u"f" + FromUtf8(std::to_string(i)));
    EXPECT_TRUE(by.UpdateDoc(
        u"D", [&](KxDocRec& rec) { rec.fields().LetItem(field, Value(i)); }));
  }
  EXPECT_EQ(Open()->GetDoc(u"D")->fields().Count(), 21);
  b->Delete(u"D");
  EXPECT_FALSE(a->UpdateDoc(
      u"D", [](KxDocRec& rec) { rec.fields().LetItem(u"x", Value(1)); }));
  EXPECT_EQ(Open()->Count(), 0);
}

TEST_F(DocsProtocolTest, ADamagedBodyNamesItsDocumentAndSparesTheOthers) {
  {
    auto db = Open();
    for (const char16_t* id : {u"A", u"B", u"C"}) Write(*db, id, id);
  }
  Bytes bytes = FileBytes();
  // B's id (length 1, "B"), its body's length, then the body: 0xC7 and the
  // record's sub-type 0x33, which becomes one no decoder knows.
  const uint8_t id[] = {1, 0, 0, 0, 'B'};
  const auto at = std::search(bytes.begin() + 120, bytes.end(), std::begin(id),
                              std::end(id));
  ASSERT_NE(at, bytes.end());
  ASSERT_EQ(at[5 + 4 + 1], 0x33);
  at[5 + 4 + 1] = 0x34;
  WriteFile(bytes);
  auto db = Open();
  try {
    db->GetDoc(u"B");
    ADD_FAILURE() << "a damaged body decoded";
  } catch (const Error& e) {
    EXPECT_EQ(e.source(), u"KxDocsDB");
    EXPECT_EQ(ToUtf8(e.description()).rfind("Document B at offset ", 0), 0u)
        << ToUtf8(e.description());
  }
  EXPECT_EQ(db->GetDoc(u"C")->fields().Item(u"v").string(), u"C");
  db->Delete(u"A");
  Write(*db, u"D", u"D");
  EXPECT_EQ(Open()->Count(), 3);
}

class KvProtocolTest : public testing::StoreFileTest<KxKVDB> {};

TEST_F(KvProtocolTest, DamageIsReportedAndNothingIsWrittenPastIt) {
  std::vector<int64_t> offsets;
  {
    auto db = Open();
    for (int i = 0; i < 100; ++i) {
      offsets.push_back(static_cast<int64_t>(FileBytes().size()));
      db->PutValue(FromUtf8("k" + std::to_string(i)), u"some value");
    }
  }
  Bytes bytes = FileBytes();
  bytes[offsets[10]] = 0;
  bytes[offsets[10] + 1] = 0;
  WriteFile(bytes);
  auto db = Open();
  EXPECT_EQ(db->Count(), 10);
  EXPECT_EQ(db->damage().offset, offsets[10]);
  EXPECT_EQ(db->damage().bytes,
            static_cast<int64_t>(bytes.size()) - offsets[10]);
  ExpectRaises(
      db->PutValue(u"new", u"x"), kStoreError, u"CKVDB",
      u"The file is damaged: " + FromUtf8(std::to_string(db->damage().bytes)) +
          u" bytes after offset " + FromUtf8(std::to_string(offsets[10])) +
          u" cannot be read; compact it discarding them to write "
          u"again");
  EXPECT_EQ(FileBytes(), bytes);
  const std::u16string damaged =
      u"The file is damaged: " + FromUtf8(std::to_string(db->damage().bytes));
  try {
    db->Compact();
    ADD_FAILURE() << "a damaged file was compacted";
  } catch (const Error& e) {
    EXPECT_EQ(e.description().substr(0, damaged.size()), damaged);
  }
  EXPECT_EQ(FileBytes(), bytes);
  db->CompactTracked(false, nullptr, /*discard_damaged=*/true);
  EXPECT_FALSE(db->damage().any());
  db->PutValue(u"new", u"x");
  EXPECT_EQ(Open()->Count(), 11);
  // A tail of zeros is what a lost append leaves: no damage.
  bytes.resize(offsets[10]);
  bytes.resize(offsets[10] + 4096, 0);
  WriteFile(bytes);
  EXPECT_FALSE(Open()->damage().any());
}

TEST_F(KvProtocolTest, LimitsSayWhichAndFifosAreRefused) {
  auto db = Open();
  ExpectRaises(db->PutValue(String(std::u16string(40000, u'k')), u"v"),
               kErrOverflow, u"CKVDB",
               u"Overflow: a key holds at most 32,767 characters (this one "
               u"40000)");
  auto docs = KxDocsDB::Create();
  docs->OpenDB(FromUtf8(path_ + ".docs"));
  Ref<KxDocRec> rec = docs->AddDoc(u"long");
  rec->fields().LetItem(u"s", Value(String(std::u16string(65536, u'x'))));
  const Bytes before = FileBytes();
  ExpectRaises(rec->Save(), kErrOverflow, u"KxQuorvel",
               u"Overflow: a string holds at most 65,535 items in this "
               u"encoding (this one 65536)");
  EXPECT_EQ(docs->Count(), 0);
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (bool read_only : {false, true}) {
    OpenOptions options;
    options.read_only = read_only;
    ExpectRaises(Open()->OpenDB(FromUtf8(fifo), options), kErrPathFileAccess,
                 u"KxQuorvel",
                 u"Path/File access error: " + FromUtf8(fifo) +
                     u" (not a regular file)");
  }
  EXPECT_EQ(FileBytes(), before);
}

}  // namespace
}  // namespace quorvel
