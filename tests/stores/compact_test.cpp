// Compaction of both database files: byte-exact output for records of every
// size, bounded memory, and what it keeps of the file it replaces (links,
// mode, owner, a durable name) and of other compactions' temporary files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli/tool_runner.h"
#include "quorvel/kxdocsdb.h"
#include "quorvel/kxkvdb.h"
#include "store_file_test.h"
#include "test_util.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::StoreFileTest;

class KxKVDBCompactTest : public StoreFileTest<KxKVDB> {
 protected:
  struct stat Stat(const std::string& path) const {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
  }
};
class KxDocsDBCompactTest : public StoreFileTest<KxDocsDB> {};

// Values around the read piece (64 KiB) and the write block (1 MiB).
const std::vector<size_t> kSizes = {
    0, 1, 65536 - 20, 65536 + 1, (1 << 20) - 9, (1 << 20) + 3, 3 << 20, 100};

String Text(size_t n, size_t seed) {
  std::u16string s(n, u'a');
  for (size_t i = 0; i < n; i += 97)
    s[i] = static_cast<char16_t>('a' + (i + seed) % 26);
  return String(s);
}

TEST_F(KxKVDBCompactTest, TheFileIsWhatAFreshStoreWritesForTheLivePairs) {
  // Superseded, deleted and torn records go; what stays is byte for byte
  // the file a store that only ever put the live pairs would write.
  auto db = Open();
  for (size_t i = 0; i < kSizes.size(); ++i) {
    db->PutValue(ToText(Value(static_cast<int32_t>(i))), Text(7, i));
    db->PutValue(u"gone" + ToText(Value(static_cast<int32_t>(i))).str(), u"x");
  }
  for (size_t i = 0; i < kSizes.size(); ++i) {
    db->PutValue(ToText(Value(static_cast<int32_t>(i))), Text(kSizes[i], i));
    db->DeleteKey(u"gone" + ToText(Value(static_cast<int32_t>(i))).str());
  }
  AppendFile({0x5F, 0x0B, 3, 0});  // a torn append
  db->OpenDB(upath_);
  db->Compact();
  const Bytes compacted = FileBytes();
  EXPECT_EQ(db->Count(), static_cast<int32_t>(kSizes.size()));

  fs::remove(path_);
  auto fresh = Open();
  for (size_t i = 0; i < kSizes.size(); ++i)
    fresh->PutValue(ToText(Value(static_cast<int32_t>(i))), Text(kSizes[i], i));
  fresh->CloseDB();
  EXPECT_TRUE(compacted == FileBytes());
}

// Gives `rec` about `n` characters of text, in fields short enough for
// MessagePack strings.
void Fill(KxDocRec& rec, size_t n, size_t seed) {
  for (size_t at = 0, field = 0; at < n || field == 0; at += 60000, ++field) {
    rec.LetItem(u"t" + ToText(Value(static_cast<int32_t>(field))).str(),
                Value(Text(std::min<size_t>(n - at, 60000), seed + field)));
  }
}

// Saves document "D<i>" holding a text of kSizes[i] characters and n = i.
void SaveSized(KxDocsDB& db, size_t i) {
  Ref<KxDocRec> rec =
      db.AddDoc(u"D" + ToText(Value(static_cast<int32_t>(i))).str());
  Fill(*rec, kSizes[i], i);
  rec->LetItem(u"n", Value(static_cast<int32_t>(i)));
  rec->Save();
}

TEST_F(KxDocsDBCompactTest, CachedRecordsAsTheyStandOthersAsStored) {
  auto db = Open();
  for (size_t i = 0; i < kSizes.size(); ++i) {
    SaveSized(*db, i);
    db->AddDoc(u"X" + ToText(Value(static_cast<int32_t>(i))).str())->Save();
    db->Delete(u"X" + ToText(Value(static_cast<int32_t>(i))).str());
  }
  db->OpenDB(upath_);  // nothing cached: every record is copied
  Ref<KxDocRec> cached = db->AddDoc(u"late");
  cached->LetItem(u"v", Value(1));
  cached->Save();
  cached->LetItem(u"v", Value(2));  // unsaved: the compaction writes it
  db->Compact();
  const Bytes compacted = FileBytes();

  fs::remove(path_);
  auto fresh = Open();
  for (size_t i = 0; i < kSizes.size(); ++i) SaveSized(*fresh, i);
  Ref<KxDocRec> late = fresh->AddDoc(u"late");
  late->LetItem(u"v", Value(2));
  late->Save();
  fresh->CloseDB();
  const Bytes want = FileBytes();
  ASSERT_EQ(compacted.size(), want.size());
  const size_t differ =
      std::mismatch(compacted.begin(), compacted.end(), want.begin()).first -
      compacted.begin();
  EXPECT_EQ(differ, compacted.size());
  EXPECT_EQ(ToLong(db->GetField(u"late", u"v")), 2);
}

TEST_F(KxKVDBCompactTest, RenamedIntoPlaceDurably) {
  // A crash right after a compaction keeps the new file: the directory
  // entry is synced, not only the file.
  internal::FaultyFileSystem faulty(internal::FileSystem::Default());
  auto db = Open(faulty);
  db->PutValue(u"a", u"1");
  db->PutValue(u"a", u"2");
  db->FlushData();
  db->Compact(true);
  const Bytes compacted = FileBytes();
  faulty.Crash();
  EXPECT_TRUE(FileBytes() == compacted);
  EXPECT_FALSE(fs::exists(path_ + ".tmp"));

  ExpectRaises(internal::FileSystem::Default().SyncDirectory(u"/no/such/dir/f"),
               kErrFileNotFound, u"KxQuorvel",
               u"File not found: /no/such/dir (No such file or directory)");
}

TEST_F(KxKVDBCompactTest, ThroughLinksTheTargetIsReplaced) {
  // Two levels of links, the inner one relative.
  fs::create_directory(dir_ + "/data");
  const std::string target = dir_ + "/data/real.db";
  fs::create_symlink("data/real.db", dir_ + "/inner");
  fs::create_symlink(dir_ + "/inner", path_);
  auto db = Open();
  db->PutValue(u"k", u"old");
  db->PutValue(u"k", u"new");
  db->Compact();
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_TRUE(fs::is_symlink(dir_ + "/inner"));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target)));
  EXPECT_EQ(fs::file_size(target), 104u + 9u + 1u + 3u);
  EXPECT_FALSE(fs::exists(target + ".tmp"));
  EXPECT_FALSE(fs::exists(path_ + ".tmp"));
  EXPECT_EQ(db->Item(u"k"), u"new");
  db->PutValue(u"k2", u"v");  // the reopened store writes the target
  EXPECT_EQ(fs::file_size(target), 104u + 2 * 9u + 1u + 3u + 2u + 1u);
}

TEST_F(KxKVDBCompactTest, TheFileKeepsItsModeAndOwner) {
  struct Case {
    mode_t mode;
    bool to_nobody;
  };
  const Case cases[] = {
      {0600, false}, {0640, false}, {0604, true}, {0664, true}};
  const bool root = ::geteuid() == 0;
  for (const Case& c : cases) {
    if (c.to_nobody && !root) continue;
    SCOPED_TRACE(c.mode);
    fs::remove(path_);
    auto db = Open();
    db->PutValue(u"k", u"v");
    ASSERT_EQ(::chmod(path_.c_str(), c.mode), 0);
    if (c.to_nobody) ASSERT_EQ(::chown(path_.c_str(), 65534, 65534), 0);
    const struct stat before = Stat(path_);
    db->Compact();
    const struct stat after = Stat(path_);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, c.mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
  }
}

TEST_F(KxKVDBCompactTest, AnotherUsersFileIsRefusedUntouched) {
  QUORVEL_REQUIRE_TOOL();
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  // Nobody may write root's file and its folder, but could not give a new
  // file root as owner: the compaction refuses rather than take the file.
  fs::permissions(dir_, fs::perms::all);
  auto db = Open();
  db->PutValue(u"k", u"1");
  db->PutValue(u"k", u"2");
  db->CloseDB();
  ASSERT_EQ(::chmod(path_.c_str(), 0666), 0);
  const Bytes before = FileBytes();
  const testing::ToolResult r =
      testing::RunQuorvel({"kv", path_, "compact"}, {.unprivileged = true});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quorvel: " + path_ +
                       ": cannot give the compacted file the owner 0:0: "
                       "Operation not permitted (error 75)\n");
  EXPECT_TRUE(FileBytes() == before);
  EXPECT_EQ(Stat(path_).st_uid, 0u);
  EXPECT_FALSE(fs::exists(path_ + ".tmp"));
}

TEST_F(KxKVDBCompactTest, NothingIsTouchedBeforeTheLockIsHeld) {
  QUORVEL_REQUIRE_TOOL();
  auto db = Open();
  for (int i = 0; i < 3; ++i) db->PutValue(u"k", u"v");
  // Another compaction holds the lock and owns the temporary file: a
  // compaction stopped while it waits removes nothing.
  auto holder = internal::FileSystem::Default().Open(upath_);
  holder->LockExclusive();
  { std::ofstream(path_ + ".tmp") << "another compaction's"; }
  const testing::ToolResult r = testing::RunQuorvel(
      {"kv", path_, "compact"}, {.signal = SIGTERM, .signal_after_ms = 300});
  EXPECT_EQ(r.status, 128 + SIGTERM);
  EXPECT_TRUE(fs::exists(path_ + ".tmp"));

  // Two compactions queue on the lock; once it is free each runs whole,
  // the second on the file the first put in place.
  std::vector<std::u16string> seen[2];
  std::thread waiting[2];
  for (int i = 0; i < 2; ++i) {
    waiting[i] = std::thread([&, i] {
      auto mine = Open();
      mine->CompactTracked(
          false, [&](const std::u16string& p) { seen[i].push_back(p); });
      EXPECT_EQ(mine->Item(u"k"), u"v");
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(seen[0].empty() && seen[1].empty());
  holder->Unlock();
  for (std::thread& t : waiting) t.join();
  for (const auto& s : seen)
    EXPECT_EQ(s, (std::vector<std::u16string>{upath_ + u".tmp", u""}));
  EXPECT_EQ(fs::file_size(path_), 104u + 9u + 1u + 1u);
  EXPECT_FALSE(fs::exists(path_ + ".tmp"));
}

}  // namespace
}  // namespace quorvel
