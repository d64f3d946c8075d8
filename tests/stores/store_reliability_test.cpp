// Both database files crashed and torn: a compaction cut short leaves the
// old file or the new one; records after a torn one stay reachable.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "stores/store_file_test.h"
#include "stores/store_model.h"

namespace quorvel {
namespace {

using internal::FaultyFileSystem;
using internal::MemoryFileSystem;
using testing::Bytes;

std::u16string Num(int i) { return FromUtf8(std::to_string(i)); }

template <class Store>
class StoreReliabilityTest : public testing::StoreFileTest<Store> {
 protected:
  using Ops = testing::StoreOps<Store>;

  // Every key and its value in index order; a read that raises shows "<n>".
  static std::string Shown(Store& db) {
    std::string out;
    const Value keys = db.Keys();
    for (const Value& key : keys.array().values()) {
      out += ToUtf8(key.string()) + "=";
      try {
        out += ToUtf8(Ops::Read(db, key.string())) + ";";
      } catch (const Error& e) {
        out += "<" + std::to_string(e.number()) + ">;";
      }
    }
    return out;
  }
};
TYPED_TEST_SUITE(StoreReliabilityTest, testing::Stores);

// Modes: a failed write the process survives; one it dies of, losing what
// was not synced; a write cut short that it dies of.
TYPED_TEST(StoreReliabilityTest, ACompactionCrashedAtAnyWriteLeavesOneFile) {
  using Ops = typename TestFixture::Ops;
  {
    testing::RandomText r(3);
    auto db = this->Open();
    for (int i = 0; i < 2500; ++i) {
      const String key(u"K" + Num(i % 2000));
      Ops::Write(*db, key, String(r.Text(200, 1500)));
      if (r.OneIn(6)) Ops::Remove(*db, key);
    }
  }
  const Bytes before = this->FileBytes();
  const std::string want = this->Shown(*this->Open());
  ASSERT_GT(before.size(), 1u << 20);
  FaultyFileSystem counting(internal::FileSystem::Default());
  const int first = counting.writes();
  this->Open(counting)->Compact();
  const int total = counting.writes() - first;
  const Bytes after = this->FileBytes();
  ASSERT_EQ(this->Shown(*this->Open()), want);
  const int stride = std::max(1, total / testing::Scaled(12));
  std::vector<int> nths;  // sampled writes, then one past them
  for (int i = 0; i * stride < total; ++i)
    nths.push_back(std::min(total, i * stride + 1 + (i * 131) % stride));
  nths.push_back(total + 1);
  for (int mode = 0; mode < 3; ++mode) {
    for (int nth : nths) {
      SCOPED_TRACE(::testing::Message() << "mode " << mode << " write " << nth);
      MemoryFileSystem memory;
      memory.Put(u"m", before);
      FaultyFileSystem faulty(memory);
      Ref<TypeParam> db = TypeParam::Create(faulty);
      db->OpenDB(u"m");
      if (mode < 2) {
        faulty.FailWrite(nth);
      } else {
        faulty.CutWrite(nth, nth % 3 == 0 ? 0 : nth % 3 == 1 ? 7 : 40);
      }
      bool raised = false;
      try {
        db->Compact();
      } catch (const Error& e) {
        raised = true;
        EXPECT_EQ(e.number(), mode < 2 ? kErrDiskFull : kErrDeviceIo);
      }
      EXPECT_EQ(raised, nth <= total);
      if (mode > 0) {
        faulty.Crash();
      } else if (raised) {
        EXPECT_EQ(this->Shown(*db), want);
      }
      EXPECT_TRUE(memory.Get(u"m") == (nth > total ? after : before));
      Ref<TypeParam> check = TypeParam::Create(memory);
      check->OpenDB(u"m");
      EXPECT_EQ(this->Shown(*check), want);
      if (mode == 0 && raised) {
        db->Compact();
        EXPECT_TRUE(memory.Get(u"m") == after);
      }
    }
  }
}

// A writer died after a lone byte, a part header or part of the key.
TYPED_TEST(StoreReliabilityTest, RecordsWrittenAfterATornOneStayReachable) {
  using Ops = typename TestFixture::Ops;
  for (int records : {0, 2}) {
    std::filesystem::remove(this->path_);
    std::string shown;
    {
      auto db = this->Open();
      for (int i = 0; i < records; ++i) Ops::Write(*db, u"K" + Num(i), Num(i));
      shown = this->Shown(*db);
    }
    const Bytes good = this->FileBytes();
    Ops::Write(*this->Open(), u"TORN", u"torn value");
    const Bytes with_torn = this->FileBytes();
    for (size_t keep : {1, 5, 12}) {
      SCOPED_TRACE(::testing::Message() << records << " records, " << keep);
      this->WriteFile(good);
      auto early = this->Open();
      this->WriteFile(with_torn, good.size() + keep);
      auto fresh = this->Open();
      EXPECT_EQ(this->Shown(*fresh), shown);
      Ops::Write(*fresh, u"D", u"4");
      Ops::Write(*early, u"E", u"5");
      EXPECT_EQ(this->Shown(*this->Open()), shown + "D=4;E=5;");
      // The key-value file covers torn bytes with a deleted record.
      if (std::is_same_v<TypeParam, KxKVDB> && keep == 12) {
        EXPECT_EQ(testing::ToHex(this->FileBytes(), good.size(), 12),
                  "5F0B00000300000001544F52");
      }
    }
  }
}

}  // namespace
}  // namespace quorvel
