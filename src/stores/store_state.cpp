#include "stores/store_state.h"

#include "quorvel/codepage.h"
#include "quorvel/storable.h"

namespace quorvel::internal {

void RecordIndex::Reset() {
  keys_ = Dictionary::Create();
  superseded_.clear();
}

bool RecordIndex::Note(const String& key, int64_t offset) {
  bool inserted = false;
  // Slot keeps a key's first place in the order and takes the new offset.
  Value& slot = keys_->Slot(key, &inserted);
  if (!inserted) {
    const int32_t old = slot.long_value();
    if (old == offset) return true;
    superseded_[key.str()].push_back(old);
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
  auto earlier = superseded_.find(std::u16string(key));
  if (earlier != superseded_.end()) {
    offsets.insert(offsets.end(), earlier->second.rbegin(),
                   earlier->second.rend());
  }
  return offsets;
}

void RecordIndex::Remove(const String& key) {
  keys_->Remove(key);
  superseded_.erase(key.str());
}

void StoreState::Reset() {
  index.Reset();
  cache = Dictionary::Create();
}

bool StoreState::Open(StoreFile& file, const std::u16string& path,
                      const OpenOptions& options) {
  file.Close();
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

bool StoreState::Exact() const { return exact || ExactScope::Active(); }

OpenOptions StoreState::ReopenOptions() const {
  OpenOptions options;
  options.exact = exact;
  return options;
}

int64_t StoreState::Put(StoreFile& file, const String& key,
                        std::span<const uint8_t> record, const Value& cached) {
  const int64_t offset = file.Append(record);
  index.Note(key, offset);
  cache->Slot(key) = cached;
  file.Bump(file.layout().record_count_at);
  file.Bump(file.layout().put_count_at);
  return offset;
}

void StoreState::Delete(StoreFile& file, const String& key) {
  if (index.Find(key) < 0) return;
  StoreFile::Writing writing(file);
  // Flagged newest first: a failure part-way leaves the current version
  // gone rather than an older one back.
  const std::vector<int64_t> offsets = index.Records(key);
  if (offsets.empty()) return;  // another opener's compaction dropped it
  for (int64_t offset : offsets) file.FlagDeleted(offset);
  index.Remove(key);
  if (cache->Exists(key)) cache->Remove(key);
  file.Bump(file.layout().deleted_count_at);
  file.WriteHeader();
}

void StoreState::Record(const RecordInfo& rec, ScanWindow& window) {
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

void StoreState::Rescanning() {
  previous_ = std::move(index);
  index.Reset();
}

void StoreState::Rescanned(bool same_file) {
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
