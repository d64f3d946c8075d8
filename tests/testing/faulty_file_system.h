// Wraps another FileSystem to fail or cut writes short, and to crash,
// losing what was not flushed and renames not synced.
#ifndef QUORVEL_TESTS_TESTING_FAULTY_FILE_SYSTEM_H_
#define QUORVEL_TESTS_TESTING_FAULTY_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "stores/db_file.h"

namespace quorvel::internal {

// Its files count their writes in one sequence; after Crash() the files
// opened before it raise 57 on any use.
class FaultyFileSystem final : public FileSystem {
 public:
  explicit FaultyFileSystem(FileSystem& base);
  ~FaultyFileSystem() override;

  // The `nth` write from now (1 = the next) raises 61, writing nothing.
  void FailWrite(int nth);
  // The `nth` write from now writes its first `keep` bytes and raises 57.
  void CutWrite(int nth, size_t keep);
  int writes() const { return writes_; }  // done or tried
  // Puts every file back as at its last FlushData (or first open).
  void Crash();

  using FileSystem::Open;
  std::unique_ptr<DbFile> Open(const std::u16string& path,
                               OpenMode mode) override;
  bool Exists(const std::u16string& path) override;
  void Delete(const std::u16string& path) override;
  void Rename(const std::u16string& from, const std::u16string& to) override;
  bool StillAt(const std::u16string& path, DbFile& file) override;
  std::u16string ResolveLinks(const std::u16string& path) override;
  void KeepAccess(DbFile& from, DbFile& to,
                  const std::u16string& path) override;
  void SyncDirectory(const std::u16string& path) override;

 private:
  class File;
  friend class File;

  // -1: write it all; else the bytes to keep before failing.
  int64_t NextWrite(bool* fail_outright);
  static std::vector<uint8_t> ReadAll(DbFile& file);

  FileSystem& base_;
  int writes_ = 0;
  int fail_at_ = 0;  // absolute write number, 0 none
  int cut_at_ = 0;
  size_t cut_keep_ = 0;
  uint64_t generation_ = 0;
  std::map<std::u16string, std::vector<uint8_t>> durable_;
  // Renames done since the last SyncDirectory, oldest first.
  std::vector<std::pair<std::u16string, std::u16string>> renamed_;
};

}  // namespace quorvel::internal

#endif  // QUORVEL_TESTS_TESTING_FAULTY_FILE_SYSTEM_H_
