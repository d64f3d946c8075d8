#include "quorvel/kxdocsdb.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "quorvel/codepage.h"
#include "quorvel/error.h"
#include "quorvel/kxdocstore.h"
#include "quorvel/msgpack.h"
#include "quorvel/safearray.h"
#include "stores/db_file.h"
#include "stores/store_io.h"

namespace quorvel {

// File layout, all integers little-endian (docs/file-formats.md has more):
//   0   60  header copy A
//   60  60  header copy B, byte for byte the same
//   120 ..  records, chained from the one at offset 120
// Header copy: "KDOCSTOR", Version (i32, 1), RecordCount, DeletedCount,
// PutCount (informational), NextID (the id counter), 32 reserved bytes.
// Record: signature (u16 2911), field count (i32), next (i32 position of the
// following record, offset + 1, 0 for the last), flag (u8, 1 deleted),
// identifier length (i32) and text, body length minus one (i32), body (the
// MessagePack encoding of the record).
namespace {

using internal::BumpCounter;
using internal::FileLock;
using internal::Get16;
using internal::Get32;
using internal::kMaxPosition;
using internal::kSignature;
using internal::Put32;
using internal::ScanWindow;

constexpr std::u16string_view kSource = u"KxDocsDB";
constexpr int64_t kHeaderSize = 60;
constexpr int64_t kFirstRecord = 2 * kHeaderSize;
constexpr int64_t kRecordHeaderSize = 11;
constexpr int32_t kVersion = 1;
constexpr size_t kVersionAt = 8;
constexpr size_t kRecordCountAt = 12;
constexpr size_t kDeletedCountAt = 16;
constexpr size_t kPutCountAt = 20;
constexpr size_t kNextIdAt = 24;
constexpr size_t kFieldCountAt = 2;
constexpr size_t kNextAt = 6;
constexpr size_t kFlagAt = 10;
constexpr uint8_t kFlagDeleted = 1;
constexpr uint8_t kMagic[8] = {'K', 'D', 'O', 'C', 'S', 'T', 'O', 'R'};

bool HasMagic(const uint8_t* copy) {
  return std::memcmp(copy, kMagic, sizeof kMagic) == 0;
}

// Decodes a record's body into a new KxDocRec carrying the identifier read
// beside it. Raises 13 for a body that is no record.
Ref<KxDocRec> DecodeRecord(std::span<const uint8_t> id_bytes,
                           std::span<const uint8_t> body) {
  Value decoded = mMsgPack::DecodeBytes(body);
  Ref<KxDocRec> rec(decoded.object_as<KxDocRec>());
  if (!rec) RaiseStandard(kErrTypeMismatch);
  rec->LetDocID(FromAnsi(id_bytes));
  return rec;
}

// Decodes a record from bytes already at hand, for the quick paths of the
// reads. `view(n)` returns the record's first `n` bytes, or null when they
// are not at hand. Returns null, leaving the record to the careful read,
// when they are not, or when the signature or a length is unsound.
template <class View>
Ref<KxDocRec> DecodeAtHand(View&& view) {
  constexpr size_t kIdAt = kRecordHeaderSize + 4;
  const uint8_t* p = view(kIdAt);
  if (p == nullptr || Get16(p) != kSignature) return Ref<KxDocRec>();
  const int32_t id_length = Get32(p + kRecordHeaderSize);
  if (id_length < 0) return Ref<KxDocRec>();
  const size_t last_at = kIdAt + static_cast<size_t>(id_length);
  p = view(last_at + 4);
  if (p == nullptr) return Ref<KxDocRec>();
  const int32_t last = Get32(p + last_at);
  if (last < 0) return Ref<KxDocRec>();
  const size_t body_size = static_cast<size_t>(last) + 1;
  p = view(last_at + 4 + body_size);
  if (p == nullptr) return Ref<KxDocRec>();
  return DecodeRecord({p + kIdAt, static_cast<size_t>(id_length)},
                      {p + last_at + 4, body_size});
}

}  // namespace

KxDocsDB::KxDocsDB(internal::FileSystem& fs) : fs_(&fs) {}

KxDocsDB::~KxDocsDB() {
  // Records outlive the database only as detached ones.
  for (const Ref<KxDocRec>& rec : attached_)
    if (rec->store() == this) rec->AttachStore(nullptr);
}

Ref<KxDocsDB> KxDocsDB::Create() {
  return Create(internal::FileSystem::Default());
}

Ref<KxDocsDB> KxDocsDB::Create(internal::FileSystem& fs) {
  return Ref<KxDocsDB>(new KxDocsDB(fs));
}

const ClassInfo& KxDocsDB::Class() const {
  static const ClassInfo info =
      ClassBuilder<KxDocsDB>(u"KxDocsDB")
          .Method<&KxDocsDB::OpenDB>(u"OpenDB", {u"FilePath"})
          .Method<&KxDocsDB::FlushData>(u"FlushData")
          .Method<&KxDocsDB::CloseDB>(u"CloseDB")
          .Method<&KxDocsDB::AddDoc>(u"AddDoc", {Opt(u"id")})
          .Method<&KxDocsDB::GetDoc>(
              u"GetDoc", {u"doc_id", Opt(u"AutoCreate", Value(false))})
          .Get<&KxDocsDB::Item>(u"Item", {u"doc_id"})
          .Method<&KxDocsDB::Delete>(u"Delete", {u"doc_id"})
          .Method<&KxDocsDB::Compact>(u"Compact",
                                      {Opt(u"bCloseDB", Value(false))})
          .Get<&KxDocsDB::Keys>(u"Keys")
          .Get<&KxDocsDB::Count>(u"Count")
          .Method<&KxDocsDB::SetField>(u"SetField",
                                       {u"id", u"FieldName", u"Value"})
          .Method<&KxDocsDB::GetField>(
              u"GetField", {u"id", u"FieldName", Opt(u"defaultValue")})
          .Method<&KxDocsDB::FindIds>(u"FindIds", {u"FieldName", u"Value"})
          .Default(u"Item")
          .Build();
  return info;
}

void KxDocsDB::RequireOpen() const {
  if (file_ == nullptr)
    ErrorRaise(kErrStoreFailure, kSource, u"DB is not open");
}

KxDocsDB::Header KxDocsDB::NewHeader() {
  Header h{};
  std::memcpy(h.data(), kMagic, sizeof kMagic);
  Put32(h.data() + kVersionAt, kVersion);
  return h;
}

void KxDocsDB::WriteHeader(internal::DbFile& file, const Header& header) {
  // Both copies in one write: copy A lands before copy B, and a write torn
  // inside copy A still leaves copy B as it was.
  uint8_t both[2 * kHeaderSize];
  std::memcpy(both, header.data(), kHeaderSize);
  std::memcpy(both + kHeaderSize, header.data(), kHeaderSize);
  file.WriteAt(0, both);
}

void KxDocsDB::OpenDB(const String& FilePath) {
  file_.reset();
  index_ = Dictionary::Create();
  cache_ = Dictionary::Create();
  last_record_ = 0;
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

void KxDocsDB::ReadHeader() {
  uint8_t both[2 * kHeaderSize];
  if (file_->Length() < kFirstRecord ||
      file_->ReadSome(0, both) != sizeof both) {
    // Closed first, so a bad file does not leave the database looking open.
    file_.reset();
    ErrorRaise(kErrStoreFailure, kSource,
               u"This file is not a valid KxDocsDB file");
  }
  const uint8_t* a = both;
  const uint8_t* chosen = both + kHeaderSize;
  if (HasMagic(a) && Get32(a + kVersionAt) == kVersion) chosen = a;
  if (!HasMagic(chosen)) {
    file_.reset();
    ErrorRaise(kErrStoreFailure, kSource,
               u"This file is not a valid KxDocsDB file");
  }
  std::memcpy(header_.data(), chosen, kHeaderSize);
  next_id_ = std::max(Get32(header_.data() + kNextIdAt), 1);
}

void KxDocsDB::BuildIndex() {
  const int64_t length = file_->Length();
  ScanWindow window(*file_);
  int64_t position = kFirstRecord + 1;
  while (position != 0 && position < length) {
    const int64_t offset = position - 1;
    const uint8_t* p = window.Get(offset, kRecordHeaderSize + 4);
    if (p == nullptr) break;  // a record header cut short by the end
    if (Get16(p) != kSignature) break;
    const int32_t id_length = Get32(p + kRecordHeaderSize);
    if (id_length < 0) break;
    const int64_t body_length_at = offset + kRecordHeaderSize + 4 + id_length;
    const uint8_t* q = window.Get(body_length_at, 4);
    if (q == nullptr) break;
    const int32_t body_last = Get32(q);
    if (body_last < 0) break;
    const int64_t end =
        body_length_at + 4 + static_cast<int64_t>(body_last) + 1;
    // A torn append: the record claims more than the file holds.
    if (end > length) break;
    const uint8_t flag = p[kFlagAt];
    const int32_t next = Get32(p + kNextAt);
    if (flag == 0) {
      const uint8_t* id = window.Get(offset + kRecordHeaderSize + 4,
                                     static_cast<size_t>(id_length));
      if (id == nullptr) break;
      String key = FromAnsi({id, static_cast<size_t>(id_length)});
      // Slot keeps an identifier's first place and takes the new position.
      index_->Slot(key) = Value(static_cast<int32_t>(position));
    }
    last_record_ = position;
    // A link back, to itself or into its own bytes would let a damaged
    // chain loop or overlap; records only ever follow one another.
    if (next != 0 && static_cast<int64_t>(next) - 1 < end) break;
    position = next;
  }
}

int64_t KxDocsDB::WriteDoc(internal::DbFile& file, KxDocRec& rec,
                           int64_t& last_record) {
  // With no record to link from, the new one must start the chain, which
  // always begins at the first record's place: whatever lies there is a
  // record the walk could not read (a torn first append, say), and writing
  // anywhere else would leave the new record out of reach.
  const int64_t position =
      last_record == 0 ? kFirstRecord + 1 : file.AppendOffset() + 1;
  if (position > kMaxPosition) RaiseStandard(kErrOverflow);
  if (last_record != 0) {
    // Only the next field changes, so only its 4 bytes are written: no read
    // first, and a flag set meanwhile by another writer stays as it is.
    uint8_t link[4];
    Put32(link, static_cast<int32_t>(position));
    file.WriteAt(last_record - 1 + kNextAt, link);
  }
  std::vector<uint8_t> body = mMsgPack::EncodeBytes(Value(Ref<KxDocRec>(&rec)));
  const String id = rec.DocID();
  const int64_t size = kRecordHeaderSize + 4 + static_cast<int64_t>(id.size()) +
                       4 + static_cast<int64_t>(body.size());
  if (position - 1 + size > kMaxPosition) RaiseStandard(kErrOverflow);
  std::vector<uint8_t> record(kRecordHeaderSize + 4);
  record[0] = static_cast<uint8_t>(kSignature);
  record[1] = static_cast<uint8_t>(kSignature >> 8);
  Put32(record.data() + kFieldCountAt, rec.fields().Count());
  // next stays 0 and flag 0 (live) until a successor or a delete.
  Put32(record.data() + kRecordHeaderSize, static_cast<int32_t>(id.size()));
  record.reserve(static_cast<size_t>(size));
  AppendAnsi(id.view(), record);
  uint8_t body_last[4];
  Put32(body_last, static_cast<int32_t>(body.size()) - 1);
  record.insert(record.end(), body_last, body_last + 4);
  record.insert(record.end(), body.begin(), body.end());
  // One write per record: a crash leaves it whole or torn at the end, and
  // a torn one is ignored at the next open.
  file.WriteAt(position - 1, record);
  last_record = position;
  return position;
}

Ref<KxDocRec> KxDocsDB::ReadDoc(int64_t position) {
  const int64_t offset = position - 1;
  // One read covers a typical record whole. Anything else (a larger record,
  // a damaged one, the end of the file) takes the reads below, which size
  // their buffers from lengths checked against the file.
  uint8_t first[1024];
  const size_t got = file_->ReadSome(offset, first);
  Ref<KxDocRec> rec = DecodeAtHand(
      [&](size_t n) -> const uint8_t* { return n <= got ? first : nullptr; });
  if (rec) {
    Attach(*rec);
    return rec;
  }
  uint8_t head[kRecordHeaderSize + 4];
  file_->ReadAt(offset, head);
  if (Get16(head) != kSignature) return Ref<KxDocRec>();
  const int64_t length = file_->Length();
  const int32_t id_length = std::max(Get32(head + kRecordHeaderSize), 0);
  int64_t at = offset + kRecordHeaderSize + 4;
  // Never allocate more than the file can hold: a damaged length ends here.
  if (at + id_length + 4 > length) RaiseStandard(kErrInputPastEnd);
  std::vector<uint8_t> id_bytes(static_cast<size_t>(id_length));
  file_->ReadAt(at, id_bytes);
  at += id_length;
  uint8_t body_last[4];
  file_->ReadAt(at, body_last);
  at += 4;
  const int32_t last = Get32(body_last);
  if (last < 0) RaiseStandard(kErrTypeMismatch);
  if (at + last + 1 > length) RaiseStandard(kErrInputPastEnd);
  std::vector<uint8_t> body(static_cast<size_t>(last) + 1);
  file_->ReadAt(at, body);
  rec = DecodeRecord(id_bytes, body);
  Attach(*rec);
  return rec;
}

void KxDocsDB::Attach(KxDocRec& rec) {
  rec.AttachStore(this);
  // Records that only this list still holds can go; pruning when the list
  // doubles keeps hand-outs O(1) on average.
  if (attached_.size() >= prune_at_) {
    std::erase_if(attached_, [this](const Ref<KxDocRec>& r) {
      return r->RefCount() == 1 || r->store() != this;
    });
    prune_at_ = std::max<size_t>(64, 2 * attached_.size());
  }
  attached_.push_back(Ref<KxDocRec>(&rec));
}

Ref<KxDocRec> KxDocsDB::AddDoc(const String& id) {
  RequireOpen();
  String key = id;
  if (key.empty()) {
    key = internal::GeneratedDocId(next_id_);
    next_id_ = internal::NextDocCounter(next_id_);
  }
  key = internal::NormalizeDocId(key);
  if (index_->Exists(key)) {
    ErrorRaise(kErrStoreFailure, kSource,
               u"Document already exists: " + key.str());
  }
  Ref<KxDocRec> rec = KxDocRec::Create();
  rec->LetDocID(key);
  Attach(*rec);
  return rec;
}

Ref<KxDocRec> KxDocsDB::GetDoc(const String& doc_id, bool AutoCreate) {
  RequireOpen();
  if (const Value* cached = cache_->Find(doc_id))
    return Ref<KxDocRec>(cached->object_as<KxDocRec>());
  if (const Value* position = index_->Find(doc_id))
    return ReadDoc(position->long_value());
  if (AutoCreate) return AddDoc(doc_id);
  return Ref<KxDocRec>();
}

void KxDocsDB::SaveDoc(KxDocRec& rec) {
  if (file_ == nullptr) RaiseStandard(kErrBadFileNameOrNumber);
  // Taken before the encoder or a file write can run client code or fail.
  const String id = rec.DocID();
  Ref<KxDocRec> keep(&rec);
  FileLock lock(*file_);
  const int64_t position = WriteDoc(*file_, rec, last_record_);
  index_->Slot(id) = Value(static_cast<int32_t>(position));
  cache_->Slot(id) = Value(keep);
  Attach(rec);
  BumpCounter(header_.data() + kRecordCountAt);
  BumpCounter(header_.data() + kPutCountAt);
  Put32(header_.data() + kNextIdAt, next_id_);
  WriteHeader(*file_, header_);
}

Value KxDocsDB::AsValue() { return Value(Ref<KxDocsDB>(this)); }

void KxDocsDB::Delete(const String& doc_id) {
  RequireOpen();
  const Value* indexed = index_->Find(doc_id);
  if (indexed == nullptr) return;
  const int64_t offset = indexed->long_value() - 1;
  FileLock lock(*file_);
  uint8_t head[kRecordHeaderSize];
  file_->ReadAt(offset, head);
  head[kFlagAt] = kFlagDeleted;
  file_->WriteAt(offset, head);
  index_->Remove(doc_id);
  if (cache_->Exists(doc_id)) cache_->Remove(doc_id);
  BumpCounter(header_.data() + kDeletedCountAt);
  WriteHeader(*file_, header_);
}

void KxDocsDB::Compact(bool bCloseDB) {
  RequireOpen();
  const std::u16string tmp_path = path_ + u".tmp";
  if (fs_->Exists(tmp_path)) fs_->Delete(tmp_path);
  {
    std::unique_ptr<internal::DbFile> tmp = fs_->Open(tmp_path);
    Header header = NewHeader();
    WriteHeader(*tmp, header);
    // The temporary file keeps its own chain end, so a failure here leaves
    // the open database's chain as it was.
    int64_t tmp_last = 0;
    int32_t count = 0;
    Value keys = index_->Keys();
    for (const Value& key : keys.array().values()) {
      Ref<KxDocRec> rec = GetDoc(key.string(), false);
      if (!rec) continue;  // a record without its signature: nothing to keep
      WriteDoc(*tmp, *rec, tmp_last);
      ++count;
    }
    Put32(header.data() + kRecordCountAt, count);
    Put32(header.data() + kPutCountAt, count);
    Put32(header.data() + kNextIdAt, next_id_);
    WriteHeader(*tmp, header);
    // Only a complete file on the device may take the database's place.
    tmp->FlushData();
  }
  CloseDB();
  fs_->Rename(tmp_path, path_);
  if (!bCloseDB) OpenDB(String(path_));
}

Value KxDocsDB::Keys() const {
  if (!index_) RaiseStandard(kErrObjectNotSet);
  return index_->Keys();
}

int32_t KxDocsDB::Count() const {
  if (!index_) RaiseStandard(kErrObjectNotSet);
  return index_->Count();
}

void KxDocsDB::SetField(const String& id, const String& FieldName,
                        const Value& vValue) {
  Ref<KxDocRec> rec = GetDoc(id, true);
  if (!rec) RaiseStandard(kErrObjectNotSet);
  rec->fields().LetItem(FieldName, vValue);
}

Value KxDocsDB::GetField(const String& id, const String& FieldName,
                         const Value& defaultValue) {
  if (!index_) RaiseStandard(kErrObjectNotSet);
  const String key = internal::NormalizeDocId(id);
  if (index_->Exists(key)) {
    Ref<KxDocRec> rec = GetDoc(key, false);
    if (rec && rec->fields().Exists(FieldName))
      return rec->fields().Item(FieldName);
  }
  return defaultValue;
}

Value KxDocsDB::FindIds(const String& FieldName, const Value& vValue) {
  std::vector<String> matches;
  if (!index_) RaiseStandard(kErrObjectNotSet);
  Value keys = index_->Keys();
  // Documents not in the cache are read through one window sliding forward:
  // the index lists most records in file order, so few reads reach the OS.
  // A record the window cannot serve whole and sound is left to GetDoc.
  std::unique_ptr<ScanWindow> window;
  auto read_ahead = [&](const String& id) -> Ref<KxDocRec> {
    if (file_ == nullptr || cache_->Exists(id)) return Ref<KxDocRec>();
    const Value* position = index_->Find(id);
    if (position == nullptr) return Ref<KxDocRec>();
    if (!window) window = std::make_unique<ScanWindow>(*file_);
    const int64_t offset = position->long_value() - 1;
    // A damaged length must not grow the window without bound.
    constexpr size_t kMostInWindow = 64 * 1024;
    Ref<KxDocRec> rec = DecodeAtHand([&](size_t n) -> const uint8_t* {
      return n <= kMostInWindow ? window->Get(offset, n) : nullptr;
    });
    if (!rec) return rec;
    Attach(*rec);
    return rec;
  };
  for (const Value& key : keys.array().values()) {
    Ref<KxDocRec> rec = read_ahead(key.string());
    if (!rec) rec = GetDoc(key.string(), false);
    if (!rec) continue;
    const Value* field = rec->fields().Find(FieldName);
    if (field != nullptr && internal::DocValuesEqual(*field, vValue))
      matches.push_back(key.string());
  }
  return internal::DocIdArray(std::move(matches));
}

void KxDocsDB::FlushData() {
  if (file_ == nullptr) return;
  file_->FlushData();
  file_.reset();
  file_ = fs_->Open(path_);
}

void KxDocsDB::CloseDB() { file_.reset(); }

}  // namespace quorvel
