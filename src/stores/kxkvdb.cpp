#include "quorvel/kxkvdb.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "quorvel/codepage.h"
#include "quorvel/error.h"
#include "stores/db_file.h"
#include "stores/store_io.h"

namespace quorvel {

// File layout, all integers little-endian:
//   0   52  header copy A
//   52  52  header copy B, byte for byte the same
//   104 ..  records, back to back
// Header copy: "KFKV", Version (i32, 1), RecordCount, DeletedCount, PutCount
// (i32 each, informational only), 32 reserved bytes carried over as read.
// Record: signature (u16 2911), key length (i16), value length (i32), flag
// (u8, 0 live, 1 deleted), then the key and value, one byte per character.
namespace {

using internal::BumpCounter;
using internal::FileLock;
using internal::Get16;
using internal::Get32;
using internal::kMaxPosition;
using internal::kSignature;
using internal::Put32;
using internal::ScanWindow;

constexpr std::u16string_view kSource = u"CKVDB";
constexpr int64_t kHeaderSize = 52;
constexpr int64_t kFirstRecord = 2 * kHeaderSize;
constexpr int64_t kRecordHeaderSize = 9;
constexpr int32_t kVersion = 1;
constexpr size_t kVersionAt = 4;
constexpr size_t kRecordCountAt = 8;
constexpr size_t kDeletedCountAt = 12;
constexpr size_t kPutCountAt = 16;
constexpr uint8_t kFlagDeleted = 1;
constexpr size_t kMaxKeyLength = 32767;
constexpr uint8_t kMagic[4] = {'K', 'F', 'K', 'V'};

bool HasMagic(const uint8_t* copy) {
  return std::memcmp(copy, kMagic, sizeof kMagic) == 0;
}

struct RecordHeader {
  uint16_t signature;
  int16_t key_length;
  int32_t value_length;
  uint8_t flag;
};
RecordHeader ParseRecordHeader(const uint8_t* p) {
  return {Get16(p), static_cast<int16_t>(Get16(p + 2)), Get32(p + 4), p[8]};
}

// Walks the complete records from `offset` (a record boundary) to the first
// place a scan must stop: the end of a file that ends with a complete
// record, a header cut short, a bad signature or length, or a record that
// claims more than the file holds (a torn append). Calls `visit(offset,
// record, window)` for each record; a false return stops the walk at that
// record. Returns where the walk stopped.
template <class Visit>
int64_t WalkRecords(internal::DbFile& file, int64_t offset, int64_t length,
                    Visit&& visit) {
  ScanWindow window(file);
  while (offset + 1 < length && offset <= kMaxPosition) {
    const uint8_t* p = window.Get(offset, kRecordHeaderSize);
    if (p == nullptr) break;
    RecordHeader rec = ParseRecordHeader(p);
    if (rec.signature != kSignature) break;
    if (rec.key_length < 0 || rec.value_length < 0) break;
    int64_t next = offset + kRecordHeaderSize + rec.key_length +
                   static_cast<int64_t>(rec.value_length);
    if (next > length) break;
    if (!visit(offset, rec, window)) break;
    offset = next;
  }
  return offset;
}

}  // namespace

KxKVDB::KxKVDB(internal::FileSystem& fs) : fs_(&fs) {}
KxKVDB::~KxKVDB() = default;

Ref<KxKVDB> KxKVDB::Create() { return Create(internal::FileSystem::Default()); }

Ref<KxKVDB> KxKVDB::Create(internal::FileSystem& fs) {
  return Ref<KxKVDB>(new KxKVDB(fs));
}

const ClassInfo& KxKVDB::Class() const {
  static const ClassInfo info =
      ClassBuilder<KxKVDB>(u"KxKVDB")
          .Method<&KxKVDB::OpenDB>(u"OpenDB", {u"FilePath"})
          .Method<&KxKVDB::FlushData>(u"FlushData")
          .Method<&KxKVDB::CloseDB>(u"CloseDB")
          .Method<&KxKVDB::PutValue>(u"PutValue", {u"Key", u"Value"})
          .Method<&KxKVDB::DeleteKey>(u"DeleteKey", {u"Key"})
          .Method<&KxKVDB::Compact>(u"Compact",
                                    {Opt(u"bCloseDB", Value(false))})
          .Get<&KxKVDB::Item>(u"Item", {u"Key"})
          .Let<&KxKVDB::LetItem>(u"Item", {u"Key", u"NewValue"})
          .Get<&KxKVDB::Keys>(u"Keys")
          .Get<&KxKVDB::Count>(u"Count")
          .Default(u"Item")
          .Build();
  return info;
}

void KxKVDB::RaiseNotOpen() const {
  ErrorRaise(kErrStoreFailure, kSource, u"DB is not open");
}

void KxKVDB::RaiseInvalidFile() {
  // Closed first, so a bad file does not leave the store looking open.
  file_.reset();
  ErrorRaise(kErrStoreFailure, kSource, u"This file is not a valid CKVDB file");
}

void KxKVDB::RequireOpen() const {
  if (file_ == nullptr) RaiseNotOpen();
}

KxKVDB::Header KxKVDB::NewHeader() {
  Header h{};
  std::memcpy(h.data(), kMagic, sizeof kMagic);
  Put32(h.data() + kVersionAt, kVersion);
  return h;
}

void KxKVDB::WriteHeader(internal::DbFile& file, const Header& header) {
  // Both copies in one write: copy A lands before copy B, and a write torn
  // inside copy A still leaves copy B as it was.
  uint8_t both[2 * kHeaderSize];
  std::memcpy(both, header.data(), kHeaderSize);
  std::memcpy(both + kHeaderSize, header.data(), kHeaderSize);
  file.WriteAt(0, both);
}

void KxKVDB::OpenDB(const String& FilePath) {
  file_.reset();
  index_ = Dictionary::Create();
  cache_ = Dictionary::Create();
  superseded_.clear();
  end_ = kFirstRecord;
  path_ = FilePath.str();
  file_ = fs_->Open(path_);
  if (file_->Length() == 0) {
    header_ = NewHeader();
    WriteHeader(*file_, header_);
    return;
  }
  ReadHeader();
  BuildIndex();
}

void KxKVDB::ReadHeader() {
  if (file_->Length() < kFirstRecord) RaiseInvalidFile();
  uint8_t both[2 * kHeaderSize];
  if (file_->ReadSome(0, both) != sizeof both) RaiseInvalidFile();
  const uint8_t* a = both;
  const uint8_t* chosen = both + kHeaderSize;
  if (HasMagic(a) && Get32(a + kVersionAt) == kVersion) chosen = a;
  if (!HasMagic(chosen)) RaiseInvalidFile();
  std::memcpy(header_.data(), chosen, kHeaderSize);
}

void KxKVDB::BuildIndex() {
  end_ = WalkRecords(
      *file_, kFirstRecord, file_->Length(),
      [this](int64_t offset, const RecordHeader& rec, ScanWindow& window) {
        if (rec.flag != 0) return true;
        const uint8_t* key =
            window.Get(offset + kRecordHeaderSize, rec.key_length);
        if (key == nullptr) return false;
        String k = FromAnsi({key, static_cast<size_t>(rec.key_length)});
        // Slot keeps a key's first place in the order and takes the new
        // offset.
        bool inserted = false;
        Value& slot = index_->Slot(k, &inserted);
        if (!inserted) Supersede(k, slot.long_value());
        slot = Value(static_cast<int32_t>(offset));
        return true;
      });
}

int64_t KxKVDB::AppendRecord(internal::DbFile& file, int64_t offset,
                             const String& key, const String& value) {
  if (key.size() > kMaxKeyLength) RaiseStandard(kErrOverflow);
  int64_t end = offset + kRecordHeaderSize + static_cast<int64_t>(key.size()) +
                static_cast<int64_t>(value.size());
  if (end > kMaxPosition) RaiseStandard(kErrOverflow);
  std::vector<uint8_t> record;
  record.reserve(static_cast<size_t>(end - offset));
  record.push_back(static_cast<uint8_t>(kSignature));
  record.push_back(static_cast<uint8_t>(kSignature >> 8));
  record.push_back(static_cast<uint8_t>(key.size()));
  record.push_back(static_cast<uint8_t>(key.size() >> 8));
  uint8_t len[4];
  Put32(len, static_cast<int32_t>(value.size()));
  record.insert(record.end(), len, len + 4);
  record.push_back(0);
  AppendAnsi(key.view(), record);
  AppendAnsi(value.view(), record);
  file.WriteAt(offset, record);
  return end;
}

void KxKVDB::PutValue(const String& Key, const String& Value) {
  RequireOpen();
  FileLock lock(*file_);
  // The end is taken under the lock: another opener may have appended since.
  int64_t offset = file_->AppendOffset();
  if (offset != end_) offset = ResumeAppend();
  // A record torn by a failed write stays where it is: end_ still points
  // before it, so the next put turns it into a deleted record. Cutting it
  // off instead would shrink the file under other openers, whose view of
  // its end must never move backwards.
  end_ = AppendRecord(*file_, offset, Key, Value);
  Header before = header_;
  try {
    BumpCounter(header_.data() + kRecordCountAt);
    BumpCounter(header_.data() + kPutCountAt);
    bool inserted = false;
    quorvel::Value& slot = index_->Slot(Key, &inserted);
    if (!inserted) Supersede(Key, slot.long_value());
    slot = quorvel::Value(static_cast<int32_t>(offset));
    cache_->Slot(Key) = quorvel::Value(Value);
  } catch (...) {
    header_ = before;
    throw;
  }
  WriteHeader(*file_, header_);
}

int64_t KxKVDB::ResumeAppend() {
  // Asked afresh: a quicker answer may rest on what this object last knew.
  const int64_t length = file_->Length();
  const int64_t from =
      end_ >= kFirstRecord && end_ <= length ? end_ : kFirstRecord;
  const int64_t stop = WalkRecords(
      *file_, from, length,
      [](int64_t, const RecordHeader&, ScanWindow&) { return true; });
  if (stop >= length) return end_ = length;
  // Every scan stops at `stop` (typically a record torn by a writer that
  // died), so a record appended after it would never be seen. A deleted
  // record with an empty key covering the rest of the file lets the scan
  // pass; unlike cutting the file back, it keeps the file from shrinking
  // under other openers and keeps every byte but its own 9.
  const int64_t rest = std::max<int64_t>(length - stop - kRecordHeaderSize, 0);
  if (rest > std::numeric_limits<int32_t>::max()) RaiseStandard(kErrOverflow);
  uint8_t filler[kRecordHeaderSize] = {static_cast<uint8_t>(kSignature),
                                       static_cast<uint8_t>(kSignature >> 8)};
  Put32(filler + 4, static_cast<int32_t>(rest));
  filler[8] = kFlagDeleted;
  file_->WriteAt(stop, filler);
  return end_ = stop + kRecordHeaderSize + rest;
}

void KxKVDB::DeleteKey(const String& Key) {
  RequireOpen();
  const quorvel::Value* at = index_->Find(Key);
  if (at == nullptr) return;
  int64_t offset = at->long_value();
  FileLock lock(*file_);
  FlagDeleted(offset);
  auto earlier = superseded_.find(Key.str());
  if (earlier != superseded_.end()) {
    for (int32_t old : earlier->second) FlagDeleted(old);
    superseded_.erase(earlier);
  }
  index_->Remove(Key);
  if (cache_->Exists(Key)) cache_->Remove(Key);
  BumpCounter(header_.data() + kDeletedCountAt);
  WriteHeader(*file_, header_);
}

void KxKVDB::FlagDeleted(int64_t offset) {
  uint8_t rec[kRecordHeaderSize];
  file_->ReadAt(offset, rec);
  rec[8] = kFlagDeleted;
  file_->WriteAt(offset, rec);
}

void KxKVDB::Supersede(const String& key, int32_t old_offset) {
  superseded_[key.str()].push_back(old_offset);
}

String KxKVDB::ReadValue(const String& key) {
  RequireOpen();
  if (const quorvel::Value* cached = cache_->Find(key)) return cached->string();
  const quorvel::Value* at = index_->Find(key);
  if (at == nullptr) return String();
  int64_t offset = at->long_value();
  // One read covers a small record whole; a larger one takes a second.
  uint8_t first[512];
  size_t got = file_->ReadSome(offset, first);
  if (got < kRecordHeaderSize) RaiseStandard(kErrInputPastEnd);
  RecordHeader rec = ParseRecordHeader(first);
  if (rec.flag != 0) return String();
  if (rec.key_length < 0 || rec.value_length < 0) return String();
  const size_t value_at = kRecordHeaderSize + rec.key_length;
  const size_t total = value_at + static_cast<size_t>(rec.value_length);
  if (total <= got) {
    String value = FromAnsi({first + value_at, total - value_at});
    cache_->Slot(key) = quorvel::Value(value);
    return value;
  }
  // The lengths come from the file; check them against it before trusting
  // them with an allocation.
  if (offset + static_cast<int64_t>(total) > file_->Length())
    RaiseStandard(kErrInputPastEnd);
  std::vector<uint8_t> bytes(static_cast<size_t>(rec.value_length));
  file_->ReadAt(offset + static_cast<int64_t>(value_at), bytes);
  String value = FromAnsi(bytes);
  cache_->Slot(key) = quorvel::Value(value);
  return value;
}

void KxKVDB::Compact(bool bCloseDB) {
  RequireOpen();
  const std::u16string tmp_path = path_ + u".tmp";
  if (fs_->Exists(tmp_path)) fs_->Delete(tmp_path);
  {
    std::unique_ptr<internal::DbFile> tmp = fs_->Open(tmp_path);
    Header header = NewHeader();
    WriteHeader(*tmp, header);
    int64_t offset = kFirstRecord;
    int32_t count = 0;
    // ReadValue only fills the cache, so walking the index while reading is
    // safe.
    for (const Dictionary::Entry& entry : *index_) {
      String value = ReadValue(entry.key);
      offset = AppendRecord(*tmp, offset, entry.key, value);
      ++count;
    }
    Put32(header.data() + kRecordCountAt, count);
    Put32(header.data() + kPutCountAt, count);
    WriteHeader(*tmp, header);
    // Only a complete file on the device may take the database's place.
    tmp->FlushData();
  }
  CloseDB();
  fs_->Rename(tmp_path, path_);
  if (!bCloseDB) OpenDB(String(path_));
}

String KxKVDB::Item(const String& Key) { return ReadValue(Key); }

void KxKVDB::LetItem(const String& Key, const String& NewValue) {
  PutValue(Key, NewValue);
}

Value KxKVDB::Keys() const {
  if (!index_) RaiseStandard(kErrObjectNotSet);
  return index_->Keys();
}

bool KxKVDB::HasKey(std::u16string_view Key) const {
  if (!index_) RaiseStandard(kErrObjectNotSet);
  return index_->Exists(Key);
}

int32_t KxKVDB::Count() const {
  if (!index_) RaiseStandard(kErrObjectNotSet);
  return index_->Count();
}

void KxKVDB::FlushData() {
  if (file_ == nullptr) return;
  file_->FlushData();
  file_.reset();
  file_ = fs_->Open(path_);
}

void KxKVDB::CloseDB() { file_.reset(); }

}  // namespace quorvel
