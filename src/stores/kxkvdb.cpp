#include "quorvel/kxkvdb.h"

#include <cstring>
#include <vector>

#include "quorvel/codepage.h"
#include "quorvel/dictionary.h"
#include "quorvel/error.h"
#include "quorvel/storable.h"
#include "stores/db_file.h"
#include "stores/kvdb_format.h"
#include "stores/store.h"

namespace quorvel {

using internal::KvFileLayout;
using internal::KvRecordFormat;
using internal::StoreFile;

// The file and what this object knows of it; the cache maps keys to their
// String values.
class KxKVDB::Impl final : public internal::Store {
 public:
  explicit Impl(FileSystem& fs) : Store(fs, KvFileLayout()) {}

  // The record a put builds, kept so that a put allocates nothing; a
  // record too large to be worth keeping lets its room go.
  std::vector<uint8_t> record;
  static constexpr size_t kKeptRoom = size_t{64} << 10;
};

namespace {

constexpr std::u16string_view kSource = u"CKVDB";

}  // namespace

KxKVDB::KxKVDB(FileSystem& fs) : impl_(std::make_unique<Impl>(fs)) {}
KxKVDB::~KxKVDB() = default;

Ref<KxKVDB> KxKVDB::Create() { return Create(FileSystem::Default()); }

Ref<KxKVDB> KxKVDB::Create(FileSystem& fs) {
  return Ref<KxKVDB>(new KxKVDB(fs));
}

const ClassInfo& KxKVDB::Class() const {
  static const ClassInfo info =
      ClassBuilder<KxKVDB>(u"KxKVDB")
          .Method<static_cast<void (KxKVDB::*)(const String&)>(
              &KxKVDB::OpenDB)>(u"OpenDB", {u"FilePath"})
          .Method<&KxKVDB::FlushData>(u"FlushData")
          .Method<&KxKVDB::CloseDB>(u"CloseDB")
          .Method<&KxKVDB::PutBound>(u"PutValue", {u"Key", u"Value"})
          .Method<&KxKVDB::DeleteKey>(u"DeleteKey", {u"Key"})
          .Method<&KxKVDB::Compact>(u"Compact",
                                    {Opt(u"bCloseDB", Value(false))})
          .Get<&KxKVDB::Item>(u"Item", {u"Key"})
          .Let<&KxKVDB::PutBound>(u"Item", {u"Key", u"NewValue"})
          .Get<&KxKVDB::Keys>(u"Keys")
          .Get<&KxKVDB::Count>(u"Count")
          .Default(u"Item")
          .Build();
  return info;
}

void KxKVDB::RequireOpen() const {
  if (!impl_->file.is_open())
    ErrorRaise(kErrGeneralFailure, kSource, u"DB is not open");
}

bool KxKVDB::IsOpen() const { return impl_->file.is_open(); }
bool KxKVDB::IsReadOnly() const {
  return impl_->file.is_open() && impl_->file.read_only();
}
const std::u16string& KxKVDB::path() const { return impl_->file.path(); }

void KxKVDB::OpenDB(const String& FilePath) { OpenDB(FilePath, OpenOptions()); }

void KxKVDB::OpenDB(const String& FilePath, const OpenOptions& options) {
  impl_->Open(FilePath.str(), options);
}

void KxKVDB::PutValue(const String& Key, const String& Value) {
  RequireOpen();
  if (impl_->Exact()) {
    RequireStorableText(Key, StorableTarget::kKvKey, kSource);
    RequireStorableText(Value, StorableTarget::kKvValue, kSource);
  }
  std::vector<uint8_t>& record = impl_->record;
  KvRecordFormat::Encode(Key, Value, record);
  impl_->Put(Key, record, quorvel::Value(Value));
  if (record.capacity() > Impl::kKeptRoom) std::vector<uint8_t>().swap(record);
}

void KxKVDB::PutBound(const quorvel::Value& Key,
                      const quorvel::Value& NewValue) {
  if (impl_->Exact()) {
    RequireOpen();
    RequireStorable(Key, StorableTarget::kKvKey, kSource);
    RequireStorable(NewValue, StorableTarget::kKvValue, kSource);
  }
  // Left to right, as the binder converts.
  const internal::TextArgument key(Key);
  const internal::TextArgument value(NewValue);
  PutValue(key, value);
}

void KxKVDB::DeleteKey(const String& Key) {
  RequireOpen();
  impl_->Delete(Key);
}

void KxKVDB::BeginBatch() {
  RequireOpen();
  impl_->BeginBatch();
}

void KxKVDB::CommitBatch() { impl_->CommitBatch(); }

FileDamage KxKVDB::damage() const { return impl_->file.damage(); }

String KxKVDB::ReadValue(const String& key) {
  RequireOpen();
  // The cache holds only keys the index holds, so a key read before is
  // answered by one lookup; any other key takes its place in the cache
  // first and gives it up again when the index lacks it or the read fails.
  bool inserted = false;
  quorvel::Value& cached = impl_->cache->Slot(key, &inserted);
  if (!inserted) return cached.string();
  internal::RecordInfo rec;
  bool live = false;
  try {
    const int64_t offset = impl_->index.Find(key);
    live = offset >= 0 &&
           impl_->ReadRecordAt(offset, 512, &rec) == internal::WalkStop::kOk &&
           rec.live();
    if (live)
      cached = quorvel::Value(
          FromAnsi({impl_->RecordBytes(rec.body_at, rec.body_size),
                    static_cast<size_t>(rec.body_size)}));
  } catch (...) {
    impl_->cache->Remove(key);
    throw;
  }
  if (!live) {
    impl_->cache->Remove(key);
    return String();
  }
  return cached.string();
}

void KxKVDB::Compact(bool bCloseDB) { CompactTracked(bCloseDB, nullptr); }

void KxKVDB::CompactTracked(
    bool bCloseDB, const std::function<void(const std::u16string&)>& temp_file,
    bool discard_damaged) {
  RequireOpen();
  impl_->file.Compact(
      [this](StoreFile::Copy& out) {
        // The cache only ever holds what the file holds, so each pair goes
        // over as the bytes it is, never through memory whole.
        for (const Dictionary::Entry& entry : impl_->index.keys())
          out.CopyRecord(entry.value.long_value());
      },
      temp_file, discard_damaged);
  const std::u16string path = impl_->file.path();
  const OpenOptions reopen = impl_->ReopenOptions();
  CloseDB();
  if (!bCloseDB) OpenDB(String(path), reopen);
}

String KxKVDB::Item(const String& Key) { return ReadValue(Key); }

void KxKVDB::LetItem(const String& Key, const String& NewValue) {
  PutValue(Key, NewValue);
}

Value KxKVDB::Keys() const {
  if (!impl_->index.exists()) RaiseStandard(kErrObjectNotSet);
  return impl_->index.keys().Keys();
}

bool KxKVDB::HasKey(std::u16string_view Key) const {
  if (!impl_->index.exists()) RaiseStandard(kErrObjectNotSet);
  return impl_->index.Find(Key) >= 0;
}

int32_t KxKVDB::Count() const {
  if (!impl_->index.exists()) RaiseStandard(kErrObjectNotSet);
  return impl_->index.keys().Count();
}

void KxKVDB::FlushData() { impl_->file.Flush(); }

void KxKVDB::CloseDB() { impl_->Close(); }

}  // namespace quorvel
