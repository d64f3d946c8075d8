// A fixture for tests of one store file on disk: a fresh temporary folder
// per test, the file's path in it, and the file's bytes read and written
// behind the store's back.
#ifndef QUORVEL_TESTS_STORES_STORE_FILE_TEST_H_
#define QUORVEL_TESTS_STORES_STORE_FILE_TEST_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "quorvel/error.h"
#include "quorvel/object.h"
#include "quorvel/string.h"
#include "stores/db_file.h"
#include "test_util.h"
#include "testing/faulty_file_system.h"
#include "testing/memory_file_system.h"

namespace quorvel::testing {

template <class Store>
class StoreFileTest : public TempDirTest {
 protected:
  using Bytes = std::vector<uint8_t>;

  void SetUp() override {
    TempDirTest::SetUp();
    path_ = dir_ + "/t.db";
    upath_ = FromUtf8(path_);
  }

  Bytes FileBytes() const {
    std::ifstream in(path_, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  // Replaces the file with the first `n` bytes of `b` (all by default).
  void WriteFile(const Bytes& b, size_t n = std::string::npos) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()),
              static_cast<std::streamsize>(std::min(n, b.size())));
  }
  void AppendFile(const Bytes& b) const {
    std::ofstream out(path_, std::ios::binary | std::ios::app);
    out.write(reinterpret_cast<const char*>(b.data()),
              static_cast<std::streamsize>(b.size()));
  }
  Ref<Store> Open(internal::FileSystem& fs = internal::FileSystem::Default()) {
    Ref<Store> db = Store::Create(fs);
    db->OpenDB(upath_);
    return db;
  }

  // The places a sweep over `count` places visits: every one for a stride
  // of 1, otherwise one in each `stride` at a varying place within it, and
  // the last.
  static std::vector<size_t> Sample(size_t count, size_t stride) {
    std::vector<size_t> at;
    for (size_t i = 0; i * stride < count; ++i)
      at.push_back(std::min(count - 1, i * stride + (i * 131) % stride));
    if (at.empty() || at.back() != count - 1) at.push_back(count - 1);
    return at;
  }

  // Opens every prefix of the file `full` in memory (one length in each
  // `stride`). A length inside the two header copies (1 to `headers` - 1)
  // must raise the invalid-file error (`source`, `invalid`) and leave the
  // store closed; every other length must open and show, as
  // `describe(Store&)` renders it, what `expected(length)` says. Returns how
  // many opened and how many raised.
  template <class Describe, class Expected>
  std::pair<int, int> OpenEveryTruncation(const Bytes& full, size_t headers,
                                          std::u16string_view source,
                                          std::u16string_view invalid,
                                          Describe describe, Expected expected,
                                          size_t stride = 1) {
    internal::MemoryFileSystem memory;
    int opened = 0, raised = 0, wrong = 0, in_header_cuts = 0;
    for (size_t cut : Sample(full.size() + 1, stride)) {
      in_header_cuts += cut > 0 && cut < headers;
      memory.Put(u"m", full, cut);
      Ref<Store> db = Store::Create(memory);
      const bool in_headers = cut > 0 && cut < headers;
      try {
        db->OpenDB(u"m");
      } catch (const Error& e) {
        ++raised;
        EXPECT_TRUE(in_headers) << cut;
        EXPECT_EQ(e.number(), kErrGeneralFailure);
        EXPECT_EQ(ToUtf8(e.source()), ToUtf8(source));
        EXPECT_EQ(ToUtf8(e.description()), ToUtf8(invalid));
        EXPECT_FALSE(db->IsOpen());
        continue;
      }
      ++opened;
      EXPECT_FALSE(in_headers) << cut;
      const std::string seen = describe(*db), want = expected(cut);
      if (seen != want && ++wrong <= 3)
        ADD_FAILURE() << "cut " << cut << ": " << seen << "\nwant " << want;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(raised, in_header_cuts);
    return {opened, raised};
  }

  // Opens the file `full` in memory with each single byte (one in each
  // `stride`) changed in turn (XOR 0x80, then 0x00, then 0xFF). No single
  // byte spoils both header copies, so each must open; one that raises must
  // raise the invalid-file error `invalid`, and counts against that.
  // `check(Store&, at, change)` judges what an opened store shows. Returns
  // how many changes were tried and how many raised.
  template <class Check>
  std::pair<int, int> ChangeEveryByte(const Bytes& full,
                                      std::u16string_view invalid, Check check,
                                      size_t stride = 1) {
    internal::MemoryFileSystem memory;
    int tried = 0, raised = 0;
    for (size_t at : Sample(full.size(), stride)) {
      for (int change = 0; change < 3; ++change) {
        Bytes b = full;
        b[at] = change == 0 ? b[at] ^ 0x80 : change == 1 ? 0x00 : 0xFF;
        memory.Put(u"m", b);
        ++tried;
        Ref<Store> db = Store::Create(memory);
        try {
          db->OpenDB(u"m");
        } catch (const Error& e) {
          ++raised;
          EXPECT_EQ(e.number(), kErrGeneralFailure);
          EXPECT_EQ(ToUtf8(e.description()), ToUtf8(invalid));
          continue;
        }
        check(*db, at, change);
      }
    }
    EXPECT_EQ(raised, 0);
    return {tried, raised};
  }

  // Returns how many writes a compaction of the file `before` makes.
  int CompactWrites(const Bytes& before) {
    WriteFile(before);
    internal::FaultyFileSystem faulty(internal::FileSystem::Default());
    auto db = Open(faulty);
    const int first = faulty.writes();
    db->Compact();
    return faulty.writes() - first;
  }

  // Crashes a compaction of the file `before` at each of its `total` writes
  // (one in each `stride`) and one past them, in three ways: the write
  // fails and the process goes on; it fails and the process dies, losing
  // what was not synced; it is cut short (to 0, `cut_a` or `cut_b` bytes)
  // and the process dies. The file must then be `before` or `after` byte
  // for byte and read as `want` through `describe(Store&)`; a store whose
  // compaction failed stays open on the old file and can compact again.
  // Returns how many crash points left the old file and how many the new
  // one.
  template <class Describe>
  std::pair<int, int> CrashEveryCompactWrite(const Bytes& before,
                                             const Bytes& after,
                                             const std::string& want, int total,
                                             size_t cut_a, size_t cut_b,
                                             Describe describe,
                                             size_t stride = 1) {
    int old_files = 0, new_files = 0;
    for (int mode = 0; mode < 3; ++mode) {
      for (size_t at : Sample(static_cast<size_t>(total) + 1, stride)) {
        const int nth = static_cast<int>(at) + 1;
        SCOPED_TRACE(::testing::Message()
                     << "mode " << mode << " write " << nth);
        internal::MemoryFileSystem memory;
        memory.Put(u"m", before);
        internal::FaultyFileSystem faulty(memory);
        Ref<Store> db = Store::Create(faulty);
        db->OpenDB(u"m");
        if (mode < 2) {
          faulty.FailWrite(nth);
        } else {
          faulty.CutWrite(nth, nth % 3 == 0 ? 0 : nth % 3 == 1 ? cut_a : cut_b);
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
          EXPECT_TRUE(db->IsOpen());
          EXPECT_EQ(describe(*db), want);
        }
        const Bytes now = memory.Get(u"m");
        EXPECT_TRUE(now == before || now == after);
        EXPECT_EQ(now == after, nth > total);
        (now == after ? new_files : old_files)++;
        Ref<Store> check = Store::Create(memory);
        check->OpenDB(u"m");
        EXPECT_EQ(describe(*check), want);
        if (mode == 0 && raised) {
          db->Compact();  // over the stale temporary file
          EXPECT_EQ(memory.Get(u"m"), after);
        }
      }
    }
    return {old_files, new_files};
  }

  // The three sweeps above at sampled places of `full` (the file at the
  // path, which reads as `expected(full.size())` through `show`): `cuts`
  // truncations, `changes` changed bytes (three changes each), judged by
  // `kept(Store&, at)`, and compactions crashed at `crashes` writes in three
  // ways. Prints what was tried under `name`.
  template <class Show, class Expected, class Kept>
  void SweepSampled(const char* name, const Bytes& full, size_t headers,
                    std::u16string_view source, std::u16string_view invalid,
                    Show show, Expected expected, Kept kept, int cuts,
                    int changes, int crashes) {
    const auto [opened, raised] =
        OpenEveryTruncation(full, headers, source, invalid, show, expected,
                            full.size() / static_cast<size_t>(cuts));
    int changed = 0, wrong = 0;
    ChangeEveryByte(
        full, invalid,
        [&](Store& db, size_t at, int) {
          ++changed;
          if (!kept(db, at) && ++wrong <= 3) ADD_FAILURE() << "byte " << at;
        },
        full.size() / static_cast<size_t>(changes));
    EXPECT_EQ(wrong, 0);
    Open()->Compact();
    const Bytes after = FileBytes();
    const int total = CompactWrites(full);
    const size_t stride = static_cast<size_t>(std::max(1, total / crashes));
    const auto [old_files, new_files] = CrashEveryCompactWrite(
        full, after, expected(full.size()), total, 7, 40, show, stride);
    std::printf(
        "%s, %zu bytes: %d truncations sampled (%d opened, %d invalid), %d "
        "byte changes, %zu of %d compaction writes crashed three ways (%d "
        "old file, %d new)\n",
        name, full.size(), opened + raised, opened, raised, changed,
        Sample(static_cast<size_t>(total) + 1, stride).size(), total, old_files,
        new_files);
  }

  std::string path_;
  std::u16string upath_;
};

}  // namespace quorvel::testing

#endif  // QUORVEL_TESTS_STORES_STORE_FILE_TEST_H_
