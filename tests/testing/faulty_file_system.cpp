#include "testing/faulty_file_system.h"

#include <algorithm>

#include "quorvel/error.h"

namespace quorvel::internal {

class FaultyFileSystem::File final : public DbFile {
 public:
  File(FaultyFileSystem& fs, std::u16string path, std::unique_ptr<DbFile> base)
      : fs_(fs),
        path_(std::move(path)),
        base_(std::move(base)),
        generation_(fs.generation_) {}

  void ReadAt(int64_t offset, std::span<uint8_t> out) override {
    Live();
    base_->ReadAt(offset, out);
  }
  size_t ReadSome(int64_t offset, std::span<uint8_t> out) override {
    Live();
    return base_->ReadSome(offset, out);
  }
  void WriteAt(int64_t offset, std::span<const uint8_t> data) override {
    Write(offset, data, &DbFile::WriteAt);
  }
  void WriteInPlace(int64_t offset, std::span<const uint8_t> data) override {
    Write(offset, data, &DbFile::WriteInPlace);  // counts as a write too
  }
  int64_t Length() override {
    Live();
    return base_->Length();
  }
  void FlushData() override {
    Live();
    base_->FlushData();
    fs_.durable_[path_] = ReadAll(*base_);
  }
  void LockExclusive() override {
    Live();
    base_->LockExclusive();
  }
  void Unlock() override {
    Live();
    base_->Unlock();
  }
  DbFile& base() { return *base_; }

 private:
  using WriteFn = void (DbFile::*)(int64_t, std::span<const uint8_t>);
  void Write(int64_t offset, std::span<const uint8_t> data, WriteFn write) {
    Live();
    bool fail_outright = false;
    int64_t keep = fs_.NextWrite(&fail_outright);
    if (fail_outright) RaiseStandard(kErrDiskFull);
    if (keep >= 0) {
      size_t n = std::min(static_cast<size_t>(keep), data.size());
      if (n > 0) (base_.get()->*write)(offset, data.first(n));
      RaiseStandard(kErrDeviceIo);
    }
    (base_.get()->*write)(offset, data);
  }

  void Live() {
    if (generation_ != fs_.generation_) RaiseStandard(kErrDeviceIo);
  }

  FaultyFileSystem& fs_;
  std::u16string path_;
  std::unique_ptr<DbFile> base_;
  uint64_t generation_;
};

FaultyFileSystem::FaultyFileSystem(FileSystem& base) : base_(base) {}
FaultyFileSystem::~FaultyFileSystem() = default;

void FaultyFileSystem::FailWrite(int nth) { fail_at_ = writes_ + nth; }

void FaultyFileSystem::CutWrite(int nth, size_t keep) {
  cut_at_ = writes_ + nth;
  cut_keep_ = keep;
}

int64_t FaultyFileSystem::NextWrite(bool* fail_outright) {
  ++writes_;
  if (writes_ == fail_at_) {
    fail_at_ = 0;
    *fail_outright = true;
    return 0;
  }
  if (writes_ == cut_at_) {
    cut_at_ = 0;
    return static_cast<int64_t>(cut_keep_);
  }
  return -1;
}

std::vector<uint8_t> FaultyFileSystem::ReadAll(DbFile& file) {
  std::vector<uint8_t> bytes(static_cast<size_t>(file.Length()));
  bytes.resize(file.ReadSome(0, bytes));
  return bytes;
}

std::unique_ptr<DbFile> FaultyFileSystem::Open(const std::u16string& path,
                                               OpenMode mode) {
  std::unique_ptr<DbFile> base = base_.Open(path, mode);
  // What was on disk before this object first saw the file counts as synced.
  if (durable_.find(path) == durable_.end()) durable_[path] = ReadAll(*base);
  return std::make_unique<File>(*this, path, std::move(base));
}

bool FaultyFileSystem::Exists(const std::u16string& path) {
  return base_.Exists(path);
}

void FaultyFileSystem::Delete(const std::u16string& path) {
  base_.Delete(path);
  durable_.erase(path);
}

void FaultyFileSystem::Rename(const std::u16string& from,
                              const std::u16string& to) {
  base_.Rename(from, to);
  renamed_.emplace_back(from, to);
}

void FaultyFileSystem::SyncDirectory(const std::u16string& path) {
  base_.SyncDirectory(path);
  // The content is as durable as the last sync under the old name.
  for (const auto& [from, to] : renamed_) {
    auto it = durable_.find(from);
    if (it != durable_.end()) {
      durable_[to] = std::move(it->second);
      durable_.erase(from);
    } else {
      durable_.erase(to);
    }
  }
  renamed_.clear();
}

std::u16string FaultyFileSystem::ResolveLinks(const std::u16string& path) {
  return base_.ResolveLinks(path);
}

void FaultyFileSystem::KeepAccess(DbFile& from, DbFile& to,
                                  const std::u16string& path) {
  auto* old_file = dynamic_cast<File*>(&from);
  auto* new_file = dynamic_cast<File*>(&to);
  if (old_file != nullptr && new_file != nullptr)
    base_.KeepAccess(old_file->base(), new_file->base(), path);
}

bool FaultyFileSystem::StillAt(const std::u16string& path, DbFile& file) {
  auto* mine = dynamic_cast<File*>(&file);
  return mine != nullptr && base_.StillAt(path, mine->base());
}

void FaultyFileSystem::Crash() {
  ++generation_;
  // Names a rename gave since the last directory sync are lost.
  for (const auto& [from, to] : renamed_)
    if (durable_.count(to) == 0 && base_.Exists(to)) base_.Delete(to);
  renamed_.clear();
  for (const auto& [path, bytes] : durable_) {
    if (base_.Exists(path)) base_.Delete(path);
    std::unique_ptr<DbFile> file = base_.Open(path);
    if (!bytes.empty()) file->WriteAt(0, bytes);
  }
}

}  // namespace quorvel::internal
