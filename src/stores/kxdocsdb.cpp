#include "quorvel/kxdocsdb.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "quorvel/codepage.h"
#include "quorvel/dictionary.h"
#include "quorvel/error.h"
#include "quorvel/msgpack.h"
#include "quorvel/safearray.h"
#include "quorvel/storable.h"
#include "stores/db_file.h"
#include "stores/doc_match.h"
#include "stores/doc_rules.h"
#include "stores/docsdb_format.h"
#include "stores/store.h"

namespace quorvel {

using internal::DocRecordFormat;
using internal::DocsFileLayout;
using internal::ScanWindow;
using internal::StoreFile;

// The file and what this object knows of it (the cache maps identifiers to
// the KxDocRec saved through this object), and the records it handed out,
// which it detaches when it goes.
class KxDocsDB::Impl final : public internal::Store {
 public:
  explicit Impl(FileSystem& fs) : Store(fs, DocsFileLayout()) {}
  std::vector<Ref<KxDocRec>> attached;
  size_t prune_at = 64;
};

namespace {

constexpr std::u16string_view kSource = u"KxDocsDB";

[[noreturn]] void RaiseExists(const String& id) {
  ErrorRaise(kErrGeneralFailure, kSource,
             u"Document already exists: " + id.str());
}
constexpr std::u16string_view kIdName = u"the document id";

// Decodes a record's body into a new KxDocRec carrying the identifier read
// beside it. A body that does not decode raises its error again, naming
// the document and where its record starts, so that one damaged document
// is told apart from the file; 13 for a body that is no record.
Ref<KxDocRec> DecodeRecord(const String& id, int64_t offset,
                           std::span<const uint8_t> body) {
  Value decoded;
  try {
    decoded = mMsgPack::DecodeBytes(body);
  } catch (const Error& e) {
    const std::string at = std::to_string(offset);
    std::u16string text = u"Document " + id.str() + u" at offset ";
    text.append(at.begin(), at.end());
    text += u" cannot be read: ";
    text += e.description();
    ErrorRaise(e.number(), kSource, text);
  }
  Ref<KxDocRec> rec(decoded.object_as<KxDocRec>());
  if (!rec) RaiseStandard(kErrTypeMismatch);
  rec->LetDocID(id);
  return rec;
}

// Returns the bytes of `rec` as a record of the file. When `exact`, first
// raises 5 for an identifier or a field that would not come back exactly.
std::vector<uint8_t> EncodeRecord(const Ref<KxDocRec>& rec, bool exact) {
  const Value doc(rec);
  if (exact) {
    RequireStorableText(rec->DocID(), StorableTarget::kText, kSource, kIdName);
    RequireStorable(doc, StorableTarget::kDocument, kSource);
  }
  // Checked already when it matters: no second walk under an ExactScope.
  return DocRecordFormat::Encode(
      rec->DocID(), rec->fields().Count(), [&](std::vector<uint8_t>& out) {
        mMsgPack::EncodeTo(doc, out, mMsgPack::EncodeOptions{});
      });
}

}  // namespace

KxDocsDB::KxDocsDB(FileSystem& fs) : impl_(std::make_unique<Impl>(fs)) {}

KxDocsDB::~KxDocsDB() {
  // Records outlive the database only as detached ones.
  for (const Ref<KxDocRec>& rec : impl_->attached)
    if (rec->store() == this) rec->AttachStore(nullptr);
}

Ref<KxDocsDB> KxDocsDB::Create() { return Create(FileSystem::Default()); }

Ref<KxDocsDB> KxDocsDB::Create(FileSystem& fs) {
  return Ref<KxDocsDB>(new KxDocsDB(fs));
}

const ClassInfo& KxDocsDB::Class() const {
  static const ClassInfo info =
      ClassBuilder<KxDocsDB>(u"KxDocsDB")
          .Method<static_cast<void (KxDocsDB::*)(const String&)>(
              &KxDocsDB::OpenDB)>(u"OpenDB", {u"FilePath"})
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
  if (!impl_->file.is_open())
    ErrorRaise(kErrGeneralFailure, kSource, u"DB is not open");
}

bool KxDocsDB::IsOpen() const { return impl_->file.is_open(); }
bool KxDocsDB::IsReadOnly() const {
  return impl_->file.is_open() && impl_->file.read_only();
}
const std::u16string& KxDocsDB::path() const { return impl_->file.path(); }

bool KxDocsDB::HasDoc(std::u16string_view doc_id) const {
  if (!impl_->index.exists()) RaiseStandard(kErrObjectNotSet);
  return impl_->index.Find(doc_id) >= 0;
}

void KxDocsDB::OpenDB(const String& FilePath) {
  OpenDB(FilePath, OpenOptions());
}

void KxDocsDB::OpenDB(const String& FilePath, const OpenOptions& options) {
  if (impl_->Open(FilePath.str(), options))
    next_id_ = std::max(impl_->file.Field(internal::kDocsNextIdAt), 1);
}

Ref<KxDocRec> KxDocsDB::ReadDoc(int64_t offset) {
  internal::RecordInfo info;
  const internal::WalkStop stop = impl_->ReadRecordAt(offset, 1024, &info);
  if (stop == internal::WalkStop::kBadLength) RaiseStandard(kErrTypeMismatch);
  if (stop != internal::WalkStop::kOk) return Ref<KxDocRec>();
  const String doc_id =
      FromAnsi({impl_->RecordBytes(info.key_at, info.key_size),
                static_cast<size_t>(info.key_size)});
  const uint8_t* body = impl_->RecordBytes(info.body_at, info.body_size);
  Ref<KxDocRec> rec =
      DecodeRecord(doc_id, offset, {body, static_cast<size_t>(info.body_size)});
  Attach(*rec);
  return rec;
}

void KxDocsDB::Attach(KxDocRec& rec) {
  rec.AttachStore(this);
  std::vector<Ref<KxDocRec>>& attached = impl_->attached;
  // Records that only this list still holds can go; pruning when the list
  // doubles keeps hand-outs O(1) on average.
  if (attached.size() >= impl_->prune_at) {
    std::erase_if(attached, [this](const Ref<KxDocRec>& r) {
      return r->RefCount() == 1 || r->store() != this;
    });
    impl_->prune_at = std::max<size_t>(64, 2 * attached.size());
  }
  attached.push_back(Ref<KxDocRec>(&rec));
}

String KxDocsDB::NewDocId() {
  StoreFile& file = impl_->file;
  if (file.read_only()) {
    // Nothing can be saved, so there is nothing to reserve.
    String id = internal::GeneratedDocId(next_id_);
    next_id_ = internal::NextDocCounter(next_id_);
    return id;
  }
  StoreFile::Writing writing(file);
  // The header holds the counter as the last opener to generate or save
  // left it.
  next_id_ = std::max(next_id_, file.Field(internal::kDocsNextIdAt));
  String id;
  do {
    id = internal::GeneratedDocId(next_id_);
    next_id_ = internal::NextDocCounter(next_id_);
  } while (impl_->index.Find(id) >= 0);
  file.SetField(internal::kDocsNextIdAt, next_id_);
  writing.Done();
  return id;
}

Ref<KxDocRec> KxDocsDB::AddDoc(const String& id) {
  RequireOpen();
  // A generated identifier is normalised already and skips every one the
  // index holds.
  const String key = id.empty() ? NewDocId() : internal::NormalizeDocId(id);
  if (!id.empty()) {
    // What is stored is the normalised form, so that is what must fit.
    if (impl_->Exact())
      RequireStorableText(key, StorableTarget::kText, kSource, kIdName);
    if (!impl_->file.read_only()) {
      // Decided on the file as it is now, not as it was at open.
      StoreFile::Writing writing(impl_->file);
      if (impl_->index.Find(key) >= 0) impl_->file.SeeDeletes();
      writing.Done();
    }
    if (impl_->index.Find(key) >= 0) RaiseExists(key);
  }
  Ref<KxDocRec> rec = KxDocRec::Create();
  rec->LetDocID(key);
  // Its first save must not replace what another opener saved meanwhile.
  rec->set_unsaved_new(true);
  Attach(*rec);
  return rec;
}

Ref<KxDocRec> KxDocsDB::GetDoc(const String& doc_id, bool AutoCreate) {
  RequireOpen();
  if (const Value* cached = impl_->cache->Find(doc_id))
    return Ref<KxDocRec>(cached->object_as<KxDocRec>());
  const int64_t offset = impl_->index.Find(doc_id);
  if (offset >= 0) return ReadDoc(offset);
  if (AutoCreate) return AddDoc(doc_id);
  return Ref<KxDocRec>();
}

void KxDocsDB::SaveDoc(KxDocRec& rec) {
  if (!impl_->file.is_open()) RaiseStandard(kErrBadFileNameOrNumber);
  // Taken before the encoder can run client code or fail; the encoder runs
  // before the lock is taken, so client code never runs under it.
  const String id = rec.DocID();
  Ref<KxDocRec> keep(&rec);
  const std::vector<uint8_t> record = EncodeRecord(keep, impl_->Exact());
  StoreFile& file = impl_->file;
  StoreFile::Writing writing(file);
  // A first save of a record AddDoc handed out must not replace what
  // another opener saved under its identifier since; one saved through
  // this object (and so cached) it may.
  if (rec.unsaved_new() && impl_->index.Find(id) >= 0 &&
      !impl_->cache->Exists(id)) {
    file.SeeDeletes();
    if (impl_->index.Find(id) >= 0) RaiseExists(id);
  }
  impl_->Put(id, record, Value(keep));
  next_id_ = std::max(next_id_, file.Field(internal::kDocsNextIdAt));
  file.SetField(internal::kDocsNextIdAt, next_id_);
  writing.Done();
  rec.set_unsaved_new(false);
  // One this database handed out is on its list already (the list lets go
  // only of records nobody else holds).
  if (rec.store() != this) Attach(rec);
}

bool KxDocsDB::UpdateDoc(const String& id,
                         const std::function<void(KxDocRec&)>& change) {
  RequireOpen();
  StoreFile::Writing writing(impl_->file);
  impl_->file.SeeDeletes();
  const Ref<KxDocRec> current = GetDoc(id, false);
  if (!current) {
    writing.Done();
    return false;
  }
  // A new record takes the current one's place: one handed out before
  // never changes, and a change that fails to save leaves nothing behind.
  Ref<KxDocRec> rec = KxDocRec::Create();
  rec->LetDocID(id);
  for (const Dictionary::Entry& entry : current->fields())
    rec->fields().LetItem(entry.key, entry.value);
  change(*rec);
  // Nested: the save shares this lock, and the header is written once.
  SaveDoc(*rec);
  writing.Done();
  return true;
}

void KxDocsDB::BeginBatch() {
  RequireOpen();
  impl_->BeginBatch();
}

void KxDocsDB::CommitBatch() { impl_->CommitBatch(); }

FileDamage KxDocsDB::damage() const { return impl_->file.damage(); }

Value KxDocsDB::AsValue() { return Value(Ref<KxDocsDB>(this)); }

void KxDocsDB::Delete(const String& doc_id) {
  RequireOpen();
  impl_->Delete(doc_id);
}

void KxDocsDB::Compact(bool bCloseDB) { CompactTracked(bCloseDB, nullptr); }

void KxDocsDB::CompactTracked(
    bool bCloseDB, const std::function<void(const std::u16string&)>& temp_file,
    bool discard_damaged) {
  RequireOpen();
  impl_->file.Compact(
      [this](StoreFile::Copy& out) {
        // A snapshot: encoding a cached record may run client code.
        const Value keys = impl_->index.keys().Keys();
        for (const Value& key : keys.array().values()) {
          // A cached record was saved through this object and may have
          // changed since: it goes as it stands now. Any other is copied as
          // stored, never decoded.
          if (const Value* cached = impl_->cache->Find(key.string())) {
            const Ref<KxDocRec> rec(cached->object_as<KxDocRec>());
            out.Append(EncodeRecord(rec, impl_->Exact()));
          } else if (const int64_t offset = impl_->index.Find(key.string());
                     offset >= 0) {
            out.CopyRecord(offset);
          }
        }
        next_id_ =
            std::max(next_id_, impl_->file.Field(internal::kDocsNextIdAt));
        out.SetField(internal::kDocsNextIdAt, next_id_);
      },
      temp_file, discard_damaged);
  const std::u16string path = impl_->file.path();
  const OpenOptions reopen = impl_->ReopenOptions();
  CloseDB();
  if (!bCloseDB) OpenDB(String(path), reopen);
}

Value KxDocsDB::Keys() const {
  if (!impl_->index.exists()) RaiseStandard(kErrObjectNotSet);
  return impl_->index.keys().Keys();
}

int32_t KxDocsDB::Count() const {
  if (!impl_->index.exists()) RaiseStandard(kErrObjectNotSet);
  return impl_->index.keys().Count();
}

void KxDocsDB::SetField(const String& id, const String& FieldName,
                        const Value& vValue) {
  Ref<KxDocRec> rec = GetDoc(id, true);
  if (!rec) RaiseStandard(kErrObjectNotSet);
  rec->fields().LetItem(FieldName, vValue);
}

Value KxDocsDB::GetField(const String& id, const String& FieldName,
                         const Value& defaultValue) {
  if (!impl_->index.exists()) RaiseStandard(kErrObjectNotSet);
  const String key = internal::NormalizeDocId(id);
  if (impl_->index.Find(key) >= 0) {
    Ref<KxDocRec> rec = GetDoc(key, false);
    if (rec && rec->fields().Exists(FieldName))
      return rec->fields().Item(FieldName);
  }
  return defaultValue;
}

Value KxDocsDB::FindIds(const String& FieldName, const Value& vValue) {
  if (!impl_->index.exists()) RaiseStandard(kErrObjectNotSet);
  std::vector<String> matches;
  const internal::DocFieldMatcher matcher(FieldName, vValue);
  const DocRecordFormat format;
  const bool open = impl_->file.is_open();
  const bool any_cached = impl_->cache->Count() > 0;
  const int64_t length = open ? impl_->file.file().Length() : 0;
  // The index lists most records in file order, so one window sliding
  // forward serves them from few reads.
  std::unique_ptr<ScanWindow> window;
  // Matches the current record of `id` at `offset` in place, as far as its
  // bytes decide.
  auto match_in_file = [&](const String& id, int64_t offset) {
    using Result = internal::DocFieldMatcher::Result;
    if (!open || (any_cached && impl_->cache->Exists(id)) || offset < 0)
      return Result::kUndecided;
    if (!window) window = std::make_unique<ScanWindow>(impl_->file.file());
    internal::RecordInfo rec;
    const internal::WalkStop stop = format.Parse(*window, offset, length, &rec);
    // A record without its signature is no document, as GetDoc finds.
    if (stop == internal::WalkStop::kNoSignature) return Result::kNoMatch;
    if (stop != internal::WalkStop::kOk) return Result::kUndecided;
    const uint8_t* body =
        window->View(rec.body_at, static_cast<size_t>(rec.body_size));
    if (body == nullptr) return Result::kUndecided;
    return matcher.Match({body, static_cast<size_t>(rec.body_size)});
  };
  // Nothing here changes the index, but a position stays sound if it did.
  size_t position = 0;
  while (const Dictionary::Entry* entry =
             impl_->index.keys().NextEntry(position)) {
    switch (match_in_file(entry->key, entry->value.long_value())) {
      case internal::DocFieldMatcher::Result::kMatch:
        matches.push_back(entry->key);
        continue;
      case internal::DocFieldMatcher::Result::kNoMatch:
        continue;
      case internal::DocFieldMatcher::Result::kUndecided:
        break;
    }
    // A cached record is what this object saved, so it decides; one whose
    // bytes did not is decoded (raising for a damaged one).
    const String id = entry->key;
    Ref<KxDocRec> rec = GetDoc(id, false);
    if (!rec) continue;
    const Value* field = rec->fields().Find(FieldName);
    if (field != nullptr && internal::DocValuesEqual(*field, vValue))
      matches.push_back(id);
  }
  return internal::DocIdArray(std::move(matches));
}

void KxDocsDB::FlushData() { impl_->file.Flush(); }

void KxDocsDB::CloseDB() { impl_->Close(); }

}  // namespace quorvel
