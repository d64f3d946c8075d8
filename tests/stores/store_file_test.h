// A fixture for tests of one store file on disk: a fresh temporary folder
// per test, the file's path in it, and the file's bytes read and written
// behind the store's back.
#ifndef QUORVEL_TESTS_STORES_STORE_FILE_TEST_H_
#define QUORVEL_TESTS_STORES_STORE_FILE_TEST_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "quorvel/object.h"
#include "quorvel/string.h"
#include "stores/db_file.h"

namespace quorvel::testing {

template <class Store>
class StoreFileTest : public ::testing::Test {
 protected:
  using Bytes = std::vector<uint8_t>;

  void SetUp() override {
    std::string templ =
        (std::filesystem::temp_directory_path() / "storeXXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    path_ = dir_ + "/t.db";
    upath_ = FromUtf8(path_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

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

  std::string dir_;
  std::string path_;
  std::u16string upath_;
};

}  // namespace quorvel::testing

#endif  // QUORVEL_TESTS_STORES_STORE_FILE_TEST_H_
