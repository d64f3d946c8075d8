// Files held in memory, for tests and fuzz targets that open thousands of
// variants of one file. Locks are no-ops; one thread only.
#ifndef QUORVEL_TESTS_TESTING_MEMORY_FILE_SYSTEM_H_
#define QUORVEL_TESTS_TESTING_MEMORY_FILE_SYSTEM_H_

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "quorvel/error.h"
#include "stores/db_file.h"

namespace quorvel::internal {

class MemoryFileSystem final : public FileSystem {
 public:
  void Put(const std::u16string& path, std::span<const uint8_t> bytes) {
    files_[path] =
        std::make_shared<std::vector<uint8_t>>(bytes.begin(), bytes.end());
  }
  const std::vector<uint8_t>& Get(const std::u16string& path) const {
    return *files_.at(path);
  }
  // Opening `path` for writing fails as without write permission (75).
  void SetReadOnly(const std::u16string& path, bool read_only) {
    read_only ? void(read_only_.insert(path)) : void(read_only_.erase(path));
  }
  using FileSystem::Open;
  std::unique_ptr<DbFile> Open(const std::u16string& path,
                               OpenMode mode) override {
    auto it = files_.find(path);
    if (it == files_.end() && mode != OpenMode::kCreate)
      RaisePathError(kErrFileNotFound, path, u"No such file or directory");
    if (mode != OpenMode::kReadOnly && read_only_.count(path) != 0)
      RaisePathError(kErrPathFileAccess, path, u"Permission denied");
    std::shared_ptr<std::vector<uint8_t>>& data = files_[path];
    if (!data) data = std::make_shared<std::vector<uint8_t>>();
    return std::make_unique<File>(data, mode == OpenMode::kReadOnly);
  }
  bool Exists(const std::u16string& path) override {
    return files_.count(path) != 0;
  }
  void Delete(const std::u16string& path) override { files_.erase(path); }
  void Rename(const std::u16string& from, const std::u16string& to) override {
    auto it = files_.find(from);
    if (it == files_.end()) RaiseStandard(kErrFileNotFound);
    files_[to] = it->second;
    files_.erase(it);
  }
  bool StillAt(const std::u16string& path, DbFile& file) override {
    auto it = files_.find(path);
    auto* mine = dynamic_cast<File*>(&file);
    return it != files_.end() && mine != nullptr && mine->data() == it->second;
  }

 private:
  class File final : public DbFile {
   public:
    File(std::shared_ptr<std::vector<uint8_t>> data, bool read_only)
        : data_(std::move(data)), read_only_(read_only) {}
    const std::shared_ptr<std::vector<uint8_t>>& data() const { return data_; }
    void ReadAt(int64_t offset, std::span<uint8_t> out) override {
      if (ReadSome(offset, out) != out.size()) RaiseStandard(kErrInputPastEnd);
    }
    size_t ReadSome(int64_t offset, std::span<uint8_t> out) override {
      if (offset < 0 || static_cast<size_t>(offset) >= data_->size()) return 0;
      const size_t at = static_cast<size_t>(offset);
      const size_t n = std::min(out.size(), data_->size() - at);
      std::copy_n(data_->begin() + at, n, out.begin());
      return n;
    }
    void WriteAt(int64_t offset, std::span<const uint8_t> data) override {
      if (read_only_) RaiseStandard(kErrBadFileNameOrNumber);
      const size_t at = static_cast<size_t>(offset);
      if (data_->size() < at + data.size()) data_->resize(at + data.size());
      std::copy(data.begin(), data.end(), data_->begin() + at);
    }
    int64_t Length() override { return static_cast<int64_t>(data_->size()); }
    void FlushData() override {}
    void LockExclusive() override {}
    void Unlock() override {}

   private:
    std::shared_ptr<std::vector<uint8_t>> data_;
    bool read_only_;
  };

  std::map<std::u16string, std::shared_ptr<std::vector<uint8_t>>> files_;
  std::set<std::u16string> read_only_;
};

}  // namespace quorvel::internal

#endif  // QUORVEL_TESTS_TESTING_MEMORY_FILE_SYSTEM_H_
