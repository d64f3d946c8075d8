#include "quorvel/kxkvdb.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "stores/db_file.h"
#include "stores/store_file_test.h"
#include "test_util.h"
#include "testing/faulty_file_system.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::FromHex;
using testing::ToHex;
constexpr int32_t kStoreError = static_cast<int32_t>(0x800403E9u);
constexpr char16_t kNotOpen[] = u"DB is not open";
constexpr char16_t kInvalid[] = u"This file is not a valid CKVDB file";

// The header copy of a fresh file, as hex.
const std::string kEmptyHeader =
    "4B464B56"
    "01000000"
    "00000000"
    "00000000"
    "00000000" +
    std::string(64, '0');

std::string Header(int32_t records, int32_t deleted, int32_t puts) {
  Bytes b = {'K', 'F', 'K', 'V', 1, 0, 0, 0};
  for (int32_t v : {records, deleted, puts}) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  return ToHex(b) + std::string(64, '0');
}

class KxKVDBFileTest : public testing::StoreFileTest<KxKVDB> {
 protected:
  static std::u16string KeyList(KxKVDB& db) {
    Value keys = db.Keys();
    std::u16string out;
    for (int32_t i = LBound(keys); i <= UBound(keys); ++i) {
      out += ArrayItem(keys, i).string_view();
      out += u';';
    }
    return out;
  }
};

TEST_F(KxKVDBFileTest, GoldenBytesOfNewFilePutAndDelete) {
  auto db = Open();
  EXPECT_EQ(ToHex(FileBytes()), kEmptyHeader + kEmptyHeader);
  EXPECT_EQ(db->Count(), 0);
  EXPECT_EQ(KeyList(*db), u"");

  db->PutValue(u"a", u"xyz");
  Bytes b = FileBytes();
  ASSERT_EQ(b.size(), 117u);
  EXPECT_EQ(ToHex(b, 104), "5F0B010003000000006178797A");
  EXPECT_EQ(ToHex(b, 0, 104), Header(1, 0, 1) + Header(1, 0, 1));

  // Windows-1252, one byte per character; empty value has length 0.
  db->PutValue(u"\u20ac", u"");
  db->PutValue(u"k", u"\u00e9\u4e00");  // a character outside becomes '?'
  b = FileBytes();
  EXPECT_EQ(ToHex(b, 117),
            "5F0B0100000000000080"
            "5F0B01000200000000"
            "6BE93F");
  EXPECT_EQ(db->Item(u"\u20ac"), u"");
  EXPECT_EQ(db->Item(u"k"), u"\u00e9\u4e00");  // from the cache
  db->OpenDB(upath_);
  EXPECT_EQ(db->Item(u"k"), u"\u00e9?");  // from the file

  db->DeleteKey(u"a");
  b = FileBytes();
  EXPECT_EQ(ToHex(b, 104, 9), "5F0B01000300000001");
  EXPECT_EQ(ToHex(b, 0, 104), Header(3, 1, 3) + Header(3, 1, 3));
  EXPECT_EQ(KeyList(*db), u"\u20ac;k;");
  // Deleting an absent key changes no byte.
  db->DeleteKey(u"a");
  db->DeleteKey(u"never");
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
  EXPECT_EQ(KeyList(*db), u"\u20ac;n;");
}

TEST_F(KxKVDBFileTest, IndexOrderCaseAndReopen) {
  auto db = Open();
  db->PutValue(u"b", u"1");
  db->PutValue(u"a", u"2");
  db->PutValue(u"B", u"3");
  db->PutValue(u"b", u"4");  // keeps its place
  EXPECT_EQ(db->Count(), 3);
  EXPECT_EQ(KeyList(*db), u"b;a;B;");
  EXPECT_EQ(db->Item(u"b"), u"4");
  EXPECT_EQ(db->Item(u"B"), u"3");
  EXPECT_EQ(db->Item(u"missing"), u"");
  EXPECT_EQ(db->Count(), 3);  // an absent read adds nothing
  db->DeleteKey(u"a");
  db->PutValue(u"a", u"5");  // deleted and added again: to the end
  EXPECT_EQ(KeyList(*db), u"b;B;a;");

  auto other = Open();
  EXPECT_EQ(KeyList(*other), u"b;B;a;");
  EXPECT_EQ(other->Item(u"b"), u"4");
  EXPECT_EQ(other->Item(u"a"), u"5");
  // A delete straight after opening, before any read, works.
  other->DeleteKey(u"B");
  EXPECT_EQ(other->Item(u"B"), u"");
  other->OpenDB(upath_);
  EXPECT_EQ(KeyList(*other), u"b;a;");

  // A key written more than once and then deleted stays deleted: every
  // record of it is flagged, the earlier ones found by this object's own
  // writes and by the scan alike.
  other->PutValue(u"z", u"old");
  other->PutValue(u"z", u"new");
  other->DeleteKey(u"z");
  EXPECT_EQ(other->Item(u"z"), u"");
  other->OpenDB(upath_);
  EXPECT_EQ(other->Item(u"z"), u"");
  EXPECT_FALSE(other->HasKey(u"z"));
  other->PutValue(u"y", u"1");
  other->PutValue(u"y", u"2");
  other->OpenDB(upath_);
  EXPECT_EQ(other->Item(u"y"), u"2");
  other->DeleteKey(u"y");
  other->OpenDB(upath_);
  EXPECT_FALSE(other->HasKey(u"y"));

  // Lengths at their limits.
  std::u16string longest(32767, u'k');
  other->PutValue(longest, u"v");
  ExpectRaises(other->PutValue(longest + u"k", u"v"), kErrOverflow, u"CKVDB",
               u"Overflow: a key holds at most 32,767 characters (this one "
               u"32768)");
  other->OpenDB(upath_);
  EXPECT_EQ(other->Item(longest), u"v");

  // A long value read cold; then the file cut under an open store: the read
  // raises 62 instead of trusting the stored length.
  std::u16string big(5000, u'x');
  other->PutValue(u"big", big);
  other->OpenDB(upath_);
  EXPECT_EQ(other->Item(u"big").view(), big);
  other->OpenDB(upath_);
  std::filesystem::resize_file(path_, FileBytes().size() - 1);
  ExpectRaisesStandard(other->Item(u"big"), 62);
  other->OpenDB(upath_);
  EXPECT_FALSE(other->HasKey(u"big"));  // the torn record is absent
}

TEST_F(KxKVDBFileTest, HeaderCopySelectionAndInvalidFiles) {
  Open()->PutValue(u"k", u"v");
  Bytes good = FileBytes();
  good[20] = 0xAB;  // reserved bytes are carried over as read
  good[51] = 0xCD;
  good[72] = 0xAB;
  good[103] = 0xCD;

  struct Case {
    const char* what;
    std::vector<std::pair<size_t, uint8_t>> damage;
    bool opens;
  } cases[] = {
      {"copy A magic damaged", {{0, 'X'}}, true},
      {"copy A version 2", {{4, 2}}, true},
      {"copy A bad, copy B any version", {{3, 0}, {56, 7}}, true},
      {"both magics damaged", {{1, 0}, {53, 0}}, false},
      {"copy A good, copy B bad", {{52, 0}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes b = good;
    for (auto [at, byte] : c.damage) b[at] = byte;
    WriteFile(b);
    auto db = KxKVDB::Create();
    if (!c.opens) {
      ExpectRaises(db->OpenDB(upath_), kStoreError, u"CKVDB", kInvalid);
      EXPECT_FALSE(db->IsOpen());  // closed before raising
      ExpectRaises(db->PutValue(u"k", u"w"), kStoreError, u"CKVDB", kNotOpen);
      EXPECT_EQ(db->Count(), 0);
      continue;
    }
    db->OpenDB(upath_);
    EXPECT_EQ(db->Item(u"k"), u"v");
    db->PutValue(u"k", u"w");
    // The chosen copy is written to both places, reserved bytes included.
    Bytes after = FileBytes();
    EXPECT_EQ(ToHex(after, 0, 52), ToHex(after, 52, 52));
    EXPECT_EQ(after[20], 0xAB);
    EXPECT_EQ(after[51], 0xCD);
  }

  for (size_t size : {1, 51, 103}) {
    WriteFile(Bytes(good.begin(), good.begin() + size));
    ExpectRaises(Open(), kStoreError, u"CKVDB", kInvalid);
  }
  WriteFile(Bytes(good.begin(), good.begin() + 104));  // headers only
  EXPECT_EQ(Open()->Count(), 0);
}

TEST_F(KxKVDBFileTest, ScanStopsAtDamageAndAppendsAtTheEnd) {
  auto db = Open();
  db->PutValue(u"a", u"1");
  db->PutValue(u"b", u"2");
  Bytes b = FileBytes();
  Bytes torn = b;
  // A record cut short by the end of the file is absent.
  torn.insert(torn.end(), {0x5F, 0x0B, 1, 0, 9, 0, 0, 0, 0, 'c', 'x'});
  WriteFile(torn);
  db = Open();
  EXPECT_EQ(KeyList(*db), u"a;b;");
  // A bad signature stops the scan; later records are not seen, and a new
  // record goes after the end of the file.
  Bytes bad = b;
  bad[104 + 11] = 0x00;  // signature of the record of b
  WriteFile(bad);
  db = Open();
  EXPECT_EQ(KeyList(*db), u"a;");
  db->PutValue(u"c", u"3");
  EXPECT_EQ(FileBytes().size(), b.size() + 11);
  // A negative value length stops the scan instead of walking backwards.
  Bytes neg = b;
  neg[104 + 11 + 4] = 0xF0;
  neg[104 + 11 + 7] = 0xFF;
  WriteFile(neg);
  EXPECT_EQ(KeyList(*Open()), u"a;");
}

TEST_F(KxKVDBFileTest, NeverOpenedAndClosedStores) {
  auto db = KxKVDB::Create();
  db->FlushData();
  db->CloseDB();
  ExpectRaises(db->PutValue(u"k", u"v"), kStoreError, u"CKVDB", kNotOpen);
  ExpectRaises(db->DeleteKey(u"k"), kStoreError, u"CKVDB", kNotOpen);
  ExpectRaises(db->Compact(), kStoreError, u"CKVDB", kNotOpen);
  ExpectRaises(db->Item(u"k"), kStoreError, u"CKVDB", kNotOpen);
  ExpectRaisesStandard(db->Keys(), kErrObjectNotSet);
  ExpectRaisesStandard(db->Count(), kErrObjectNotSet);
  ExpectRaises(db->OpenDB(FromUtf8(dir_ + "/no/dir/x.kv")), kErrPathNotFound,
               u"KxQuorvel",
               u"Path not found: " + FromUtf8(dir_) +
                   u"/no/dir/x.kv (No such file or directory)");

  db->OpenDB(upath_);
  db->PutValue(u"k", u"v");
  db->FlushData();
  EXPECT_TRUE(db->IsOpen());
  EXPECT_EQ(db->Item(u"k"), u"v");
  db->CloseDB();
  EXPECT_EQ(db->Count(), 1);
  EXPECT_EQ(KeyList(*db), u"k;");
  // The cache is not consulted once closed.
  ExpectRaises(db->Item(u"k"), kStoreError, u"CKVDB", kNotOpen);
  ExpectRaises(db->DeleteKey(u"k"), kStoreError, u"CKVDB", kNotOpen);
}

TEST_F(KxKVDBFileTest, CompactKeepsLivePairsInIndexOrder) {
  auto db = Open();
  db->PutValue(u"x", u"1");
  db->PutValue(u"y", u"2");
  db->PutValue(u"x", u"3");
  db->PutValue(u"z", u"4");
  db->DeleteKey(u"y");
  // A stale temporary file from a failed run is replaced.
  { std::ofstream(path_ + ".tmp") << "junk junk junk"; }
  db->Compact();
  EXPECT_FALSE(std::filesystem::exists(path_ + ".tmp"));
  Bytes b = FileBytes();
  EXPECT_EQ(ToHex(b), Header(2, 0, 2) + Header(2, 0, 2) +
                          "5F0B0100010000000078"
                          "33" +
                          "5F0B010001000000007A"
                          "34");
  EXPECT_TRUE(db->IsOpen());
  EXPECT_EQ(db->Item(u"x"), u"3");
  db->PutValue(u"w", u"5");

  db->Compact(true);
  EXPECT_FALSE(db->IsOpen());
  ExpectRaises(db->PutValue(u"a", u"b"), kStoreError, u"CKVDB", kNotOpen);
  EXPECT_EQ(db->Count(), 3);
  EXPECT_EQ(KeyList(*Open()), u"x;z;w;");
}

TEST_F(KxKVDBFileTest, FailedWritesLeaveTheOldValueReadable) {
  internal::FaultyFileSystem faulty(internal::FileSystem::Default());
  auto db = Open(faulty);
  db->PutValue(u"k", u"old");
  Bytes before = FileBytes();

  faulty.FailWrite(1);  // the record
  ExpectRaisesStandard(db->PutValue(u"k", u"new"), kErrDiskFull);
  EXPECT_EQ(db->Item(u"k"), u"old");
  EXPECT_EQ(FileBytes(), before);

  // A torn record stays (the file never shrinks under other openers) and
  // hides nothing: the next put first covers it with a deleted record.
  faulty.CutWrite(1, 5);
  ExpectRaisesStandard(db->PutValue(u"k", u"new"), kErrDeviceIo);
  EXPECT_EQ(db->Item(u"k"), u"old");
  EXPECT_EQ(FileBytes().size(), before.size() + 5);
  EXPECT_EQ(Open()->Item(u"k"), u"old");

  faulty.CutWrite(3, 30);  // the header: the cover and the record are whole
  ExpectRaisesStandard(db->PutValue(u"k", u"new"), kErrDeviceIo);
  EXPECT_EQ(ToHex(FileBytes(), before.size(), 9), "5F0B00000000000001");
  EXPECT_EQ(ToHex(FileBytes(), before.size() + 9, 9), "5F0B01000300000000");
  EXPECT_EQ(Open()->Item(u"k"), u"new");

  faulty.FailWrite(1);  // the flag of a delete
  ExpectRaisesStandard(db->DeleteKey(u"k"), kErrDiskFull);
  EXPECT_EQ(db->Count(), 1);
  EXPECT_EQ(Open()->Item(u"k"), u"new");

  // A lock the OS refuses stops the write: others rely on it.
  faulty.FailLocks(true);
  before = FileBytes();
  ExpectRaisesStandard(db->PutValue(u"j", u"1"), kErrDeviceIo);
  faulty.FailLocks(false);
  EXPECT_EQ(FileBytes(), before);
  EXPECT_FALSE(db->HasKey(u"j"));
}

TEST_F(KxKVDBFileTest, EveryFailingWriteOfACompactLeavesAReadableFile) {
  internal::FaultyFileSystem faulty(internal::FileSystem::Default());
  for (int nth = 1;; ++nth) {
    SCOPED_TRACE(nth);
    std::filesystem::remove(path_);
    auto db = Open(faulty);
    for (int i = 0; i < 4; ++i) db->PutValue(ToText(Value(i)), u"v");
    db->DeleteKey(u"2");
    faulty.FailWrite(nth);
    bool failed = false;
    try {
      db->Compact();
    } catch (const Error& e) {
      failed = true;
      EXPECT_EQ(e.number(), kErrDiskFull);
    }
    auto check = Open();
    EXPECT_EQ(KeyList(*check), u"0;1;3;");
    EXPECT_EQ(check->Item(u"3"), u"v");
    if (!failed) break;
    ASSERT_LT(nth, 20);
  }
}

TEST_F(KxKVDBFileTest, CrashKeepsWhatWasFlushed) {
  internal::FaultyFileSystem faulty(internal::FileSystem::Default());
  auto db = Open(faulty);
  db->PutValue(u"a", u"1");
  db->FlushData();
  db->PutValue(u"a", u"2");
  db->PutValue(u"b", u"3");
  faulty.Crash();
  auto after = Open(faulty);
  EXPECT_EQ(KeyList(*after), u"a;");
  EXPECT_EQ(after->Item(u"a"), u"1");

  // A compacted file is synced before it replaces the database.
  after->PutValue(u"c", u"4");
  after->Compact();
  faulty.Crash();
  EXPECT_EQ(KeyList(*Open(faulty)), u"a;c;");
}

TEST_F(KxKVDBFileTest, TwoStoresShareTheFileUnderTheLock) {
  auto a = Open();
  auto b = Open();
  a->PutValue(u"a", u"1");
  b->PutValue(u"b", u"2");   // appended after a's record, not over it
  EXPECT_EQ(a->Count(), 1);  // a sees b's record only after reopening
  a->OpenDB(upath_);
  EXPECT_EQ(KeyList(*a), u"a;b;");
  EXPECT_EQ(a->Item(u"b"), u"2");

  // A writer waits while another opener holds the lock.
  auto holder = internal::FileSystem::Default().Open(upath_);
  holder->LockExclusive();
  std::atomic<bool> done{false};
  std::thread t([&] {
    b->PutValue(u"c", u"3");
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_FALSE(done.load());
  holder->Unlock();
  t.join();
  EXPECT_TRUE(done.load());
  EXPECT_EQ(Open()->Item(u"c"), u"3");
}

TEST_F(KxKVDBFileTest, WritersFollowTheFileThroughOthersChanges) {
  auto a = Open();
  auto b = Open();
  a->PutValue(u"k", u"a1");
  b->PutValue(u"j", u"b1");
  // b's write took in a's record: b's index has it, b's cache does not hold
  // a stale value for it.
  EXPECT_EQ(KeyList(*b), u"k;j;");
  b->PutValue(u"k", u"b2");
  a->PutValue(u"x", u"a2");  // a catches up: its cached "a1" goes
  EXPECT_EQ(a->Item(u"k"), u"b2");

  // a deletes j, which b wrote; b's compaction walks the file afresh, so j
  // stays deleted and nothing a wrote is lost.
  a->DeleteKey(u"j");
  b->Compact();
  EXPECT_EQ(KeyList(*Open()), u"k;x;");
  // a still has the old file open; its next write notices the new one and
  // goes there.
  a->PutValue(u"y", u"a3");
  EXPECT_EQ(KeyList(*Open()), u"k;x;y;");
  EXPECT_EQ(KeyList(*a), u"k;x;y;");
}

TEST_F(KxKVDBFileTest, EveryMemberByName) {
  Value db = CreateObject(u"KxQuorvel.KxKVDB");
  EXPECT_EQ(TypeName(db), u"KxKVDB");
  auto call = [&](std::u16string_view name, CallType t,
                  std::initializer_list<Value> args = {}) {
    return CallByName(db, name, t, args);
  };
  ExpectRaisesStandard(call(u"Count", CallType::Get), kErrObjectNotSet);
  call(u"OpenDB", CallType::Method, {Value(upath_)});
  call(u"PutValue", CallType::Method, {Value(u"k"), Value(u"v")});
  call(u"Item", CallType::Let, {Value(u"n"), Value(42)});
  EXPECT_EQ(call(u"", CallType::Get, {Value(u"n")}).string_view(), u"42");
  EXPECT_EQ(call(u"Item", CallType::Get, {Value(u"k")}).string_view(), u"v");
  call(u"DeleteKey", CallType::Method, {Value(u"k")});
  EXPECT_EQ(ToLong(call(u"Count", CallType::Get)), 1);
  EXPECT_EQ(UBound(call(u"Keys", CallType::Get)), 0);
  call(u"FlushData", CallType::Method);
  call(u"Compact", CallType::Method);
  call(u"Compact", CallType::Method, {Value::Missing()});
  Value flag(true);
  call(u"Compact", CallType::Method, {flag});
  EXPECT_TRUE(flag.boolean());
  ExpectRaises(call(u"PutValue", CallType::Method, {Value(u"a"), Value(u"b")}),
               kStoreError, u"CKVDB", kNotOpen);
  call(u"CloseDB", CallType::Method);
  EXPECT_EQ(FileBytes().size(), 104u + 9 + 1 + 2);
}

}  // namespace
}  // namespace quorvel
