// Opens arbitrary bytes as a document database file, reads every document
// it indexes, then saves one more and checks that the file opens with it.
// Reading may fail with the errors of a damaged file; nothing may crash,
// hang or leak. The file lives in memory, so runs are fast and leave
// nothing behind.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "quorvel/error.h"
#include "quorvel/kxdocsdb.h"
#include "quorvel/safearray.h"
#include "stores/db_file.h"

namespace {

using quorvel::internal::DbFile;

void Check(bool ok) {
  if (!ok) std::abort();
}

class MemFile final : public DbFile {
 public:
  explicit MemFile(std::shared_ptr<std::vector<uint8_t>> bytes)
      : bytes_(std::move(bytes)) {}
  void ReadAt(int64_t offset, std::span<uint8_t> out) override {
    if (ReadSome(offset, out) != out.size()) quorvel::RaiseStandard(62);
  }
  size_t ReadSome(int64_t offset, std::span<uint8_t> out) override {
    if (offset < 0 || static_cast<size_t>(offset) >= bytes_->size()) return 0;
    size_t n = std::min(out.size(), bytes_->size() - offset);
    if (n > 0) std::memcpy(out.data(), bytes_->data() + offset, n);
    return n;
  }
  void WriteAt(int64_t offset, std::span<const uint8_t> data) override {
    if (data.empty()) return;
    if (bytes_->size() < offset + data.size())
      bytes_->resize(offset + data.size());
    std::memcpy(bytes_->data() + offset, data.data(), data.size());
  }
  int64_t Length() override { return static_cast<int64_t>(bytes_->size()); }
  void FlushData() override {}
  void LockExclusive() override {}
  void Unlock() override {}
  void Truncate(int64_t length) override {
    bytes_->resize(static_cast<size_t>(length));
  }

 private:
  std::shared_ptr<std::vector<uint8_t>> bytes_;
};

class MemFileSystem final : public quorvel::internal::FileSystem {
 public:
  std::unique_ptr<DbFile> Open(const std::u16string& path) override {
    auto& f = files_[path];
    if (!f) f = std::make_shared<std::vector<uint8_t>>();
    return std::make_unique<MemFile>(f);
  }
  bool Exists(const std::u16string& path) override {
    return files_.count(path) != 0;
  }
  void Delete(const std::u16string& path) override { files_.erase(path); }
  void Rename(const std::u16string& from, const std::u16string& to) override {
    files_[to] = files_[from];
    files_.erase(from);
  }
  std::map<std::u16string, std::shared_ptr<std::vector<uint8_t>>> files_;
};

bool HasKey(quorvel::KxDocsDB& db, std::u16string_view id) {
  quorvel::Value keys = db.Keys();
  for (const quorvel::Value& k : keys.array().values())
    if (k.string_view() == id) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemFileSystem fs;
  fs.files_[u"f"] = std::make_shared<std::vector<uint8_t>>(data, data + size);
  auto db = quorvel::KxDocsDB::Create(fs);
  try {
    db->OpenDB(u"f");
  } catch (const quorvel::Error& e) {
    Check(e.number() == quorvel::kErrStoreFailure);
    return 0;
  }
  quorvel::Value keys = db->Keys();
  for (const quorvel::Value& id : keys.array().values()) {
    try {
      db->GetDoc(id.string());
    } catch (const quorvel::Error&) {
      // A damaged body may fail to decode; the walk goes on.
    }
  }
  // Whatever the walk accepted, a new document is linked so that the next
  // open finds it.
  try {
    auto rec = db->AddDoc(u"fuzz-new");
    rec->fields().LetItem(quorvel::String(u"n"), quorvel::Value(1));
    db->SaveDoc(*rec);
  } catch (const quorvel::Error& e) {
    // Only a stored identifier of that name may stop the save.
    Check(e.number() == quorvel::kErrStoreFailure);
    return 0;
  }
  db->OpenDB(u"f");
  Check(HasKey(*db, u"FUZZ-NEW"));
  return 0;
}
