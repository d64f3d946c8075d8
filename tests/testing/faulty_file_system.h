// A FileSystem for tests that wraps another one and injects the faults a
// store must survive: a write that fails outright, a write cut short, and a
// crash that loses everything written since the last FlushData, and every
// rename since the last SyncDirectory.
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

// Every file opened through it counts its writes in one shared sequence.
// After Crash() the files opened before it are dead: any use raises 57.
// Thread-compatible.
class FaultyFileSystem final : public FileSystem {
 public:
  explicit FaultyFileSystem(FileSystem& base);
  ~FaultyFileSystem() override;

  // Makes the `nth` write from now (1 = the next one) raise 61 without
  // writing anything.
  void FailWrite(int nth);
  // Makes the `nth` write from now write only its first `keep` bytes and
  // then raise 57.
  void CutWrite(int nth, size_t keep);
  // Makes every lock request raise 57 (stores must carry on without it).
  void FailLocks(bool fail) { fail_locks_ = fail; }
  // Returns the number of writes done (or attempted) since creation.
  int writes() const { return writes_; }
  // Puts every file this object has seen back to its content at its last
  // FlushData (or at its first open, when it was never flushed).
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

  // Decides the fate of the next write: -1 write it all, else the number of
  // bytes to keep before failing (0 with `fail_outright` for a clean failure).
  int64_t NextWrite(bool* fail_outright);
  static std::vector<uint8_t> ReadAll(DbFile& file);

  FileSystem& base_;
  int writes_ = 0;
  int fail_at_ = 0;  // absolute write number, 0 none
  int cut_at_ = 0;
  size_t cut_keep_ = 0;
  bool fail_locks_ = false;
  uint64_t generation_ = 0;
  std::map<std::u16string, std::vector<uint8_t>> durable_;
  // Renames done since the last SyncDirectory, oldest first.
  std::vector<std::pair<std::u16string, std::u16string>> renamed_;
};

}  // namespace quorvel::internal

#endif  // QUORVEL_TESTS_TESTING_FAULTY_FILE_SYSTEM_H_
