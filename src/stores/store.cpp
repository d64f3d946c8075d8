#include "stores/store.h"

#include <utility>

#include "quorvel/codepage.h"
#include "quorvel/storable.h"

namespace quorvel::internal {

void RecordIndex::Reset() {
  keys_ = Dictionary::Create();
  older_.clear();
}

bool RecordIndex::Note(const String& key, int64_t offset) {
  bool inserted = false;
  // Slot keeps a key's first place in the order and takes the new offset.
  Value& slot = keys_->Slot(key, &inserted);
  if (!inserted) {
    const int32_t old = slot.long_value();
    if (old == offset) return true;
    older_[static_cast<int32_t>(offset)] = old;
  }
  slot = Value(static_cast<int32_t>(offset));
  return !inserted;
}

int64_t RecordIndex::Find(std::u16string_view key) const {
  if (!keys_) return -1;
  const Value* at = keys_->Find(key);
  return at == nullptr ? -1 : at->long_value();
}

std::vector<int64_t> RecordIndex::Records(std::u16string_view key) const {
  std::vector<int64_t> offsets;
  const int64_t current = Find(key);
  if (current < 0) return offsets;
  offsets.push_back(current);
  for (auto at = older_.find(static_cast<int32_t>(current)); at != older_.end();
       at = older_.find(at->second)) {
    offsets.push_back(at->second);
  }
  return offsets;
}

void RecordIndex::Remove(const String& key) {
  int64_t current = Find(key);
  for (auto at = older_.find(static_cast<int32_t>(current)); at != older_.end();
       at = older_.find(static_cast<int32_t>(current))) {
    current = at->second;
    older_.erase(at);
  }
  keys_->Remove(key);
}

Store::Store(FileSystem& fs, const StoreLayout& layout)
    : file(fs, layout, *this) {}

Store::~Store() {
  try {
    CommitBatch();
  } catch (const Error&) {
    // Nobody is left to tell; the records written so far stay.
  }
}

void Store::Reset() {
  index.Reset();
  cache = Dictionary::Create();
}

bool Store::Open(const std::u16string& path, const OpenOptions& options) {
  Close();
  Reset();
  exact = options.exact || ExactScope::Active();
  OpenMode mode = OpenMode::kCreate;
  if (options.read_only) {
    mode = OpenMode::kReadOnly;
  } else if (!options.create_if_missing) {
    mode = OpenMode::kExisting;
  }
  return file.Open(path, mode);
}

void Store::Close() {
  if (batch_ != nullptr) {
    // Closed either way: the batch's error still reaches the caller.
    try {
      CommitBatch();
    } catch (...) {
      file.Close();
      throw;
    }
  }
  file.Close();
}

WalkStop Store::ReadRecordAt(int64_t offset, size_t first_read,
                             RecordInfo* rec) {
  // One window, started over each time: its room is kept, so a read at
  // random costs no allocation.
  DbFile& open = file.file();
  if (reader_ == nullptr) {
    reader_ = std::make_unique<ScanWindow>(open, first_read);
  } else {
    reader_->Restart(open, first_read);
  }
  // Lengths are checked against the end before anything is sized by them.
  const WalkStop stop =
      file.layout().records->Parse(*reader_, offset, file.known_end(), rec);
  if (stop == WalkStop::kCutShort || stop == WalkStop::kPastEnd)
    RaiseStandard(kErrInputPastEnd);
  return stop;
}

const uint8_t* Store::RecordBytes(int64_t at, int64_t size) {
  const uint8_t* bytes = reader_->View(at, static_cast<size_t>(size));
  if (bytes == nullptr) RaiseStandard(kErrInputPastEnd);
  return bytes;
}

bool Store::Exact() const { return exact || ExactScope::Active(); }

OpenOptions Store::ReopenOptions() const {
  OpenOptions options;
  options.exact = exact;
  return options;
}

int64_t Store::Put(const String& key, std::span<const uint8_t> record,
                   const Value& cached) {
  StoreFile::Writing writing(file);
  const int64_t offset = file.Append(record);
  file.Bump(file.layout().record_count_at);
  file.Bump(file.layout().put_count_at);
  writing.Done();
  // Known only once the record is on its way: a put that failed leaves
  // neither index nor cache pointing at it.
  index.Note(key, offset);
  cache->Slot(key) = cached;
  return offset;
}

bool Store::Delete(const String& key) {
  // Nothing to decide on a file this object may not write.
  if (file.read_only() && index.Find(key) < 0) return false;
  StoreFile::Writing writing(file);
  if (index.Find(key) >= 0) file.SeeDeletes();
  // Decided now, under the lock: the key may have been written or deleted
  // by another opener since this object last looked. Flagged newest first:
  // a failure part-way leaves the current version gone rather than an
  // older one back.
  const std::vector<int64_t> offsets = index.Records(key);
  if (offsets.empty()) return false;
  for (int64_t offset : offsets) file.FlagDeleted(offset);
  file.Bump(file.layout().deleted_count_at);
  writing.Done();
  index.Remove(key);
  if (cache->Exists(key)) cache->Remove(key);
  return true;
}

void Store::BeginBatch() {
  if (batch_ != nullptr) {
    ErrorRaise(kErrInvalidCall, file.layout().source,
               u"A batch is open already");
  }
  batch_ = std::make_unique<StoreFile::Writing>(file);
}

void Store::CommitBatch() {
  if (batch_ == nullptr) return;
  // Released whatever Done says: a failed commit must not keep the lock.
  const std::unique_ptr<StoreFile::Writing> batch = std::move(batch_);
  batch->Done();
}

void Store::Record(const RecordInfo& rec, ScanWindow& window) {
  if (!rec.live()) return;
  const uint8_t* key =
      window.View(rec.key_at, static_cast<size_t>(rec.key_size));
  if (key == nullptr) return;
  const String k = FromAnsi({key, static_cast<size_t>(rec.key_size)});
  // A newer record of a cached key (another opener's) makes what the cache
  // holds for it stale.
  if (index.Note(k, rec.offset) && cache->Count() != 0 && cache->Exists(k))
    cache->Remove(k);
}

void Store::Rescanning() {
  previous_ = std::move(index);
  index.Reset();
}

void Store::Rescanned(bool same_file) {
  if (!same_file) {
    cache = Dictionary::Create();
    previous_ = RecordIndex();
    return;
  }
  std::vector<String> stale;
  for (const Dictionary::Entry& e : *cache) {
    const int64_t now = index.Find(e.key);
    if (now < 0 || now != previous_.Find(e.key)) stale.push_back(e.key);
  }
  for (const String& key : stale) cache->Remove(key);
  previous_ = RecordIndex();
}

}  // namespace quorvel::internal
