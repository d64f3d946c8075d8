// What only the key-value file does: its bytes, limits, damage, failed
// writes, members by name, and the file a compaction replaces.
#include "quorvel/kxkvdb.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/tool_runner.h"
#include "stores/store_file_test.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::FromHex;
using testing::ToHex;
constexpr char16_t kNotOpen[] = u"DB is not open";

// One header copy as hex.
std::string Header(int32_t records, int32_t deleted, int32_t puts) {
  Bytes b = {'K', 'F', 'K', 'V', 1, 0, 0, 0};
  for (int32_t v : {records, deleted, puts})
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return ToHex(b) + std::string(64, '0');
}

class KxKVDBFileTest : public testing::StoreFileTest<KxKVDB> {
 protected:
  static struct stat Stat(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
  }
};

TEST_F(KxKVDBFileTest, GoldenBytesOfPutsDeletesAndCompaction) {
  auto db = Open();
  EXPECT_EQ(ToHex(FileBytes()), Header(0, 0, 0) + Header(0, 0, 0));
  db->PutValue(u"a", u"xyz");
  Bytes b = FileBytes();
  EXPECT_EQ(ToHex(b),
            Header(1, 0, 1) + Header(1, 0, 1) + "5F0B010003000000006178797A");
  // Windows-1252, one byte per character; an empty value has length 0; a
  // character outside becomes '?' in the file, not in the cache.
  db->PutValue(u"\u20ac", u"");
  db->PutValue(u"k", u"\u00e9\u4e00");
  EXPECT_EQ(ToHex(FileBytes(), 117),
            "5F0B0100000000000080"
            "5F0B010002000000006BE93F");
  EXPECT_EQ(db->Item(u"k"), u"\u00e9\u4e00");
  db->OpenDB(upath_);
  EXPECT_EQ(db->Item(u"k"), u"\u00e9?");
  db->DeleteKey(u"a");
  b = FileBytes();
  EXPECT_EQ(ToHex(b, 104, 9), "5F0B01000300000001");
  EXPECT_EQ(ToHex(b, 0, 104), Header(3, 1, 3) + Header(3, 1, 3));
  EXPECT_EQ(Keys(*db), u"\u20ac;k;");
  db->DeleteKey(u"a");  // deleted already: no byte changes
  EXPECT_EQ(FileBytes(), b);

  // The counters are informational: at their largest they wrap, and the
  // write they count still succeeds.
  const std::string top = Header(INT32_MAX, INT32_MAX, INT32_MAX);
  const Bytes headers = FromHex(top + top);
  std::copy(headers.begin(), headers.end(), b.begin());
  WriteFile(b);
  db->OpenDB(upath_);
  db->PutValue(u"n", u"1");
  db->DeleteKey(u"k");
  EXPECT_EQ(ToHex(FileBytes(), 0, 52), Header(INT32_MIN, INT32_MIN, INT32_MIN));
  db->OpenDB(upath_);
  EXPECT_EQ(Keys(*db), u"\u20ac;n;");
  // A compaction writes the live pairs in index order, counters afresh.
  db->PutValue(u"\u20ac", u"3");
  db->Compact();
  EXPECT_EQ(ToHex(FileBytes()), Header(2, 0, 2) + Header(2, 0, 2) +
                                    "5F0B010001000000008033"
                                    "5F0B010001000000006E31");
}

TEST_F(KxKVDBFileTest, KeysAreCaseSensitiveAndHaveLimits) {
  auto db = Open();
  db->PutValue(u"b", u"1");
  db->PutValue(u"B", u"2");
  EXPECT_EQ(
      db->Item(u"b").str() + db->Item(u"B").str() + db->Item(u"missing").str(),
      u"12");
  EXPECT_EQ(db->Count(), 2);  // an absent read adds nothing
  const std::u16string longest(32767, u'k');
  db->PutValue(longest, u"v");
  ExpectRaises(db->PutValue(longest + u"k", u"v"), kErrOverflow, u"CKVDB",
               u"Overflow: a key holds at most 32,767 characters (this one "
               u"32768)");
  db->OpenDB(upath_);
  EXPECT_EQ(db->Item(longest), u"v");
  // A FIFO is refused, even for reading.
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ExpectRaises(
      Open()->OpenDB(FromUtf8(fifo), {.read_only = true}), kErrPathFileAccess,
      u"KxQuorvel",
      u"Path/File access error: " + FromUtf8(fifo) + u" (not a regular file)");
}

// Damage before the last record is reported, and nothing is written past it
// until a compaction discards it; a tail of zeros is a lost append.
TEST_F(KxKVDBFileTest, DamageStopsTheWalkAndBlocksWritesPastIt) {
  std::vector<int64_t> offsets;
  {
    auto db = Open();
    for (int i = 0; i < 100; ++i) {
      offsets.push_back(static_cast<int64_t>(FileBytes().size()));
      db->PutValue(FromUtf8("k" + std::to_string(i)), u"some value");
    }
  }
  Bytes bad = FileBytes();
  bad[offsets[10]] = bad[offsets[10] + 1] = 0;
  WriteFile(bad);
  auto db = Open();
  EXPECT_EQ(db->Count(), 10);
  EXPECT_EQ(db->damage().offset, offsets[10]);
  const int64_t lost = static_cast<int64_t>(bad.size()) - offsets[10];
  EXPECT_EQ(db->damage().bytes, lost);
  const std::u16string damaged =
      u"The file is damaged: " + FromUtf8(std::to_string(lost)) +
      u" bytes after offset " + FromUtf8(std::to_string(offsets[10])) +
      u" cannot be read; compact it discarding them to write again";
  ExpectRaises(db->PutValue(u"new", u"x"), kErrGeneralFailure, u"CKVDB",
               damaged);
  ExpectRaises(db->Compact(), kErrGeneralFailure, u"CKVDB", damaged);
  EXPECT_EQ(FileBytes(), bad);
  db->CompactTracked(false, nullptr, /*discard_damaged=*/true);
  EXPECT_FALSE(db->damage().any());
  db->PutValue(u"new", u"x");
  EXPECT_EQ(Open()->Count(), 11);
  bad.resize(offsets[10]);
  bad.resize(offsets[10] + 4096, 0);
  WriteFile(bad);
  EXPECT_FALSE(Open()->damage().any());
}

TEST_F(KxKVDBFileTest, FailedWritesLeaveTheOldValueReadable) {
  internal::FaultyFileSystem faulty(internal::FileSystem::Default());
  auto db = Open(faulty);
  db->PutValue(u"k", u"old");
  const Bytes before = FileBytes();
  faulty.FailWrite(1);  // the record
  ExpectRaisesStandard(db->PutValue(u"k", u"new"), kErrDiskFull);
  EXPECT_EQ(db->Item(u"k"), u"old");
  EXPECT_EQ(FileBytes(), before);
  // A torn record stays (the file never shrinks under other openers); the
  // next put first covers it with a deleted record.
  faulty.CutWrite(1, 5);
  ExpectRaisesStandard(db->PutValue(u"k", u"new"), kErrDeviceIo);
  EXPECT_EQ(db->Item(u"k"), u"old");
  EXPECT_EQ(FileBytes().size(), before.size() + 5);
  EXPECT_EQ(Open()->Item(u"k"), u"old");
  faulty.CutWrite(3, 30);  // the header: the cover and the record are whole
  ExpectRaisesStandard(db->PutValue(u"k", u"new"), kErrDeviceIo);
  EXPECT_EQ(ToHex(FileBytes(), before.size(), 18),
            "5F0B00000000000001"
            "5F0B01000300000000");
  EXPECT_EQ(Open()->Item(u"k"), u"new");
  faulty.FailWrite(1);  // the flag of a delete
  ExpectRaisesStandard(db->DeleteKey(u"k"), kErrDiskFull);
  EXPECT_EQ(db->Count(), 1);
  EXPECT_EQ(Open()->Item(u"k"), u"new");
}

TEST_F(KxKVDBFileTest, EveryMemberByName) {
  Value db = CreateObject(u"KxQuorvel.KxKVDB");
  auto call = [&](std::u16string_view name, CallType t,
                  std::initializer_list<Value> args = {}) {
    return CallByName(db, name, t, args);
  };
  call(u"OpenDB", CallType::Method, {Value(upath_)});
  call(u"PutValue", CallType::Method, {Value(u"k"), Value(u"v")});
  call(u"Item", CallType::Let, {Value(u"n"), Value(42)});
  EXPECT_EQ(call(u"", CallType::Get, {Value(u"n")}).string_view(), u"42");
  EXPECT_EQ(call(u"Item", CallType::Get, {Value(u"k")}).string_view(), u"v");
  call(u"DeleteKey", CallType::Method, {Value(u"k")});
  call(u"Compact", CallType::Method, {Value::Missing()});
  Value flag(true);
  call(u"Compact", CallType::Method, {flag});
  EXPECT_TRUE(flag.boolean());
  ExpectRaises(call(u"PutValue", CallType::Method, {Value(u"a"), Value(u"b")}),
               kErrGeneralFailure, u"CKVDB", kNotOpen);
}

// Through two levels of links, the inner one relative, the target is
// replaced keeping its mode and owner.
TEST_F(KxKVDBFileTest, ACompactionReplacesTheLinkedTargetAsItWas) {
  fs::create_directory(dir_ + "/data");
  const std::string target = dir_ + "/data/real.db";
  fs::create_symlink("data/real.db", dir_ + "/inner");
  fs::create_symlink(dir_ + "/inner", path_);
  auto db = Open();
  db->PutValue(u"k", u"old");
  db->PutValue(u"k", u"new");
  ASSERT_EQ(::chmod(target.c_str(), 0604), 0);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
  }
  const struct stat before = Stat(target);
  db->Compact();
  const struct stat after = Stat(target);
  EXPECT_TRUE(fs::is_symlink(path_) && fs::is_symlink(dir_ + "/inner"));
  EXPECT_NE(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0604u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(after.st_size, 104 + 9 + 1 + 3);
}

TEST_F(KxKVDBFileTest, AnotherUsersFileIsRefusedUntouched) {
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

}  // namespace
}  // namespace quorvel
