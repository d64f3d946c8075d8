// `KxDocsDB`: a document database in one append-only file, whose documents
// are `KxDocRec` records stored as MessagePack.
#ifndef QUORVEL_KXDOCSDB_H_
#define QUORVEL_KXDOCSDB_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quorvel/dictionary.h"
#include "quorvel/dispatch.h"
#include "quorvel/kxdocrec.h"
#include "quorvel/object.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

namespace quorvel {

namespace internal {
class DbFile;
class FileSystem;
}  // namespace internal

// A document database in one file. Every save appends a record holding the
// document's identifier and its MessagePack body and links it from the
// previous record, so the records form one chain; a delete flags the current
// record in place; `Compact` rewrites the file with only the current
// documents. `OpenDB` walks the chain once to index each identifier to its
// current record; bodies are decoded on demand.
//
// Ownership: the database keeps counted references to the records saved
// through it (its cache); a record points back at its database without a
// count. Every record the database hands out or saves is detached (its `DB`
// becomes Nothing) when the database is destroyed, so none points at a dead
// one. The object owns its open file and closes it when destroyed.
//
// Failures raise hex 800403E9 with source "KxDocsDB" ("DB is not open",
// "This file is not a valid KxDocsDB file", "Document already exists: ")
// or pass through the file's, the MessagePack codec's and the platform's
// errors (6 past the 32-bit range, 13 for a body that is not a record). A
// raising member leaves the index and cache as they were; the file may hold
// a torn record past its last good one, which the next open ignores. Saves
// and deletes hold an exclusive whole-file lock. Thread-compatible.
class KxDocsDB final : public Object, public DocStoreLink {
 public:
  static Ref<KxDocsDB> Create();
  // Creates a database that reaches files only through `fs`, which must
  // outlive it.
  static Ref<KxDocsDB> Create(internal::FileSystem& fs);
  ~KxDocsDB() override;
  const ClassInfo& Class() const override;

  // Opens or creates the file and indexes it, closing a file already open.
  // An empty file gets a new header and keeps the id counter; any other
  // takes the counter from its header. Raises the invalid-file error for a
  // non-empty file shorter than two header copies or whose chosen copy lacks
  // the magic (the file is closed first).
  void OpenDB(const String& FilePath);
  // Syncs, closes and reopens the open file; nothing when none is open.
  void FlushData();
  // Closes the open file; the index, cache and counter stay.
  void CloseDB();
  // Returns a new unsaved record attached to this database, under the
  // normalised `id` or the next generated one. Raises "Document already
  // exists: " for an identifier the index holds.
  Ref<KxDocRec> AddDoc(const String& id = String());
  // Returns the cached record of `doc_id` (the same object each time), a
  // fresh read of the stored one (a new object each time), a new record when
  // `AutoCreate` is set, or Nothing. `doc_id` is taken as it is.
  Ref<KxDocRec> GetDoc(const String& doc_id, bool AutoCreate = false);
  Ref<KxDocRec> Item(const String& doc_id) { return GetDoc(doc_id, false); }
  // Flags the current record of `doc_id` as deleted; absent is no error.
  void Delete(const String& doc_id);
  // Rewrites the file with only the current documents through
  // "FilePath.tmp", renamed over the database once complete and synced.
  // Leaves the database closed when `bCloseDB` is true, reopened otherwise.
  void Compact(bool bCloseDB = false);
  // Return the stored identifiers in index order and their number; raise 91
  // before the first OpenDB.
  Value Keys() const;
  int32_t Count() const;
  // Writes one field of the record `GetDoc(id, True)` returns; nothing goes
  // to the file.
  void SetField(const String& id, const String& FieldName, const Value& vValue);
  // Returns one field of the stored document under the normalised `id`, or
  // `defaultValue` (Missing when omitted).
  Value GetField(const String& id, const String& FieldName,
                 const Value& defaultValue = Value::Missing());
  // Returns the identifiers whose document's field equals `vValue` (same
  // kind, equal, text case-sensitive) as an array of Strings, or an empty
  // array of Values.
  Value FindIds(const String& FieldName, const Value& vValue);

  // Appends `rec` under its DocID and makes it the cached current record.
  // Called by KxDocRec::Save. Raises 52 when no file is open.
  void SaveDoc(KxDocRec& rec) override;
  Value AsValue() override;
  // Remembers a record a client attached through its `DB`, so that it is
  // detached when this database goes.
  void TrackRecord(KxDocRec& rec) override { Attach(rec); }

  // C++ conveniences beyond the late-bound members.
  bool IsOpen() const { return file_ != nullptr; }
  const std::u16string& path() const { return path_; }
  int32_t next_id() const { return next_id_; }

 private:
  explicit KxDocsDB(internal::FileSystem& fs);

  using Header = std::array<uint8_t, 60>;

  void RequireOpen() const;
  static Header NewHeader();
  static void WriteHeader(internal::DbFile& file, const Header& header);
  void ReadHeader();
  void BuildIndex();
  // Appends `rec` to `file`, linking it from the record at `last_record`
  // (a position, 0 for none), which then becomes the new record's position.
  // Returns that position.
  static int64_t WriteDoc(internal::DbFile& file, KxDocRec& rec,
                          int64_t& last_record);
  Ref<KxDocRec> ReadDoc(int64_t position);
  // Records the back-reference so the destructor can undo it.
  void Attach(KxDocRec& rec);

  internal::FileSystem* fs_;
  std::unique_ptr<internal::DbFile> file_;
  std::u16string path_;
  Header header_{};
  Ref<Dictionary> index_;  // identifier -> Long position of its record
  Ref<Dictionary> cache_;  // identifier -> KxDocRec saved through this object
  int32_t next_id_ = 1;
  int64_t last_record_ = 0;
  std::vector<Ref<KxDocRec>> attached_;
  size_t prune_at_ = 64;
};

}  // namespace quorvel

#endif  // QUORVEL_KXDOCSDB_H_
