// A fixture for one store file on disk, its bytes read and written behind
// the store's back, and one record written, read and removed in either store.
#ifndef QUORVEL_TESTS_STORES_STORE_FILE_TEST_H_
#define QUORVEL_TESTS_STORES_STORE_FILE_TEST_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "quorvel/kxdocsdb.h"
#include "quorvel/kxkvdb.h"
#include "test_util.h"
#include "testing/faulty_file_system.h"
#include "testing/memory_file_system.h"

namespace quorvel::testing {

using Bytes = std::vector<uint8_t>;

template <class Store>
struct StoreOps;

template <>
struct StoreOps<KxKVDB> {
  static constexpr char16_t kSource[] = u"CKVDB";
  static constexpr char16_t kInvalid[] = u"This file is not a valid CKVDB file";
  static constexpr size_t kHeader = 52, kVersionAt = 4;
  static void Write(KxKVDB& db, const String& key, const String& value) {
    db.PutValue(key, value);
  }
  static std::u16string Read(KxKVDB& db, const String& key) {
    return db.Item(key).str();
  }
  static bool Has(KxKVDB& db, const String& key) {
    return db.HasKey(key.view());
  }
  static void Remove(KxKVDB& db, const String& key) { db.DeleteKey(key); }
};

// A document "KEY" whose one field "v" holds the value.
template <>
struct StoreOps<KxDocsDB> {
  static constexpr char16_t kSource[] = u"KxDocsDB";
  static constexpr char16_t kInvalid[] =
      u"This file is not a valid KxDocsDB file";
  static constexpr size_t kHeader = 60, kVersionAt = 8;
  static void Write(KxDocsDB& db, const String& key, const String& value) {
    Ref<KxDocRec> rec = db.GetDoc(key, true);
    rec->fields().LetItem(u"v", Value(value));
    rec->Save();
  }
  static std::u16string Read(KxDocsDB& db, const String& key) {
    return db.GetField(key, u"v").string().str();
  }
  static bool Has(KxDocsDB& db, const String& key) {
    return db.HasDoc(key.view());
  }
  static void Remove(KxDocsDB& db, const String& key) { db.Delete(key); }
};

template <class Store>
class StoreFileTest : public TempDirTest {
 protected:
  using Bytes = testing::Bytes;
  using Ops = StoreOps<Store>;

  void SetUp() override {
    TempDirTest::SetUp();
    upath_ = FromUtf8(path_ = dir_ + "/t.db");
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
  Ref<Store> Open(internal::FileSystem& fs = internal::FileSystem::Default()) {
    Ref<Store> db = Store::Create(fs);
    db->OpenDB(upath_);
    return db;
  }
  // The keys in index order, each followed by ';'.
  static std::u16string Keys(Store& db) { return Joined(db.Keys()); }

  std::string path_;
  std::u16string upath_;
};

using Stores = ::testing::Types<KxKVDB, KxDocsDB>;

}  // namespace quorvel::testing

#endif  // QUORVEL_TESTS_STORES_STORE_FILE_TEST_H_
