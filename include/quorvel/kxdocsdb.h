// `KxDocsDB`: a document database in one append-only file, whose documents
// are `KxDocRec` records stored as MessagePack.
#ifndef QUORVEL_KXDOCSDB_H_
#define QUORVEL_KXDOCSDB_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "quorvel/dispatch.h"
#include "quorvel/file_system.h"
#include "quorvel/kxdocrec.h"
#include "quorvel/object.h"
#include "quorvel/open_options.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

namespace quorvel {

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
// Several objects and processes may write one file. Saves, deletes and
// generated identifiers hold an exclusive whole-file lock and first walk
// the records other openers appended since (their identifiers join this
// object's index, and a cached record they superseded leaves the cache), so
// every save links from the true last record and never lands on another's
// bytes; a generated identifier is reserved in the header at once and
// skips identifiers already stored; a compaction walks the whole file
// afresh and moves every other opener over to the new file at its next
// write. Every write decides on the file as it is under the lock: a delete
// finds documents other openers saved, and a record `AddDoc` handed out
// under an identifier is refused at its first save when another opener
// saved that identifier meanwhile.
//
// Failures raise hex 800403E9 with source "KxDocsDB" ("DB is not open",
// "This file is not a valid KxDocsDB file", "Document already exists: ")
// or pass through the file's (naming the path and the reason), the
// MessagePack codec's and the platform's errors (6 past the 32-bit range,
// 13 for a body that is not a record; a body that cannot be decoded names
// the document and its offset). A raising member leaves the index
// and cache as they were; the file may hold a torn record past its last
// good one, which the next open ignores and the next save links past.
// Thread-compatible.
class KxDocsDB final : public Object, public DocStoreLink {
 public:
  static Ref<KxDocsDB> Create();
  // Creates a database that reaches files only through `fs`, which must
  // outlive it.
  static Ref<KxDocsDB> Create(FileSystem& fs);
  ~KxDocsDB() override;
  const ClassInfo& Class() const override;

  // Opens or creates the file and indexes it, closing a file already open.
  // An empty file gets a new header and keeps the id counter; any other
  // takes the counter from its header. A file this process may read but
  // not write opens for reading. Raises the invalid-file error for a
  // non-empty file shorter than two header copies or whose chosen copy lacks
  // the magic (the file is closed first).
  void OpenDB(const String& FilePath);
  // The same, reading only or refusing to create as `options` say.
  void OpenDB(const String& FilePath, const OpenOptions& options);
  // Syncs, closes and reopens the open file; nothing when none is open.
  void FlushData();
  // Closes the open file; the index, cache and counter stay.
  void CloseDB();
  // Returns a new unsaved record attached to this database, under the
  // normalised `id` or the next generated one. A generated identifier
  // skips any the file already holds and is reserved in the header at
  // once (so it is never handed out twice, by any opener). Raises "Document
  // already exists: " for a given identifier the file holds; so does the
  // record's first save when another opener saved the identifier since.
  Ref<KxDocRec> AddDoc(const String& id = String());
  // Returns the cached record of `doc_id` (the same object each time), a
  // fresh read of the stored one (a new object each time), a new record when
  // `AutoCreate` is set, or Nothing. `doc_id` is taken as it is.
  Ref<KxDocRec> GetDoc(const String& doc_id, bool AutoCreate = false);
  Ref<KxDocRec> Item(const String& doc_id) { return GetDoc(doc_id, false); }
  // Flags the current record of `doc_id`, and every earlier live record of
  // it, as deleted; a document the file does not hold is no error.
  void Delete(const String& doc_id);
  // Rewrites the file with only the current documents: cached records as
  // they stand now, the others copied as stored, in bounded memory. The
  // temporary file, links, mode, owner and failures as KxKVDB::Compact.
  // Leaves the database closed when `bCloseDB` is true, reopened otherwise.
  void Compact(bool bCloseDB = false);
  // Compact, telling `temp_file` the temporary file's path once this object
  // holds the lock, just before creating it, and an empty path once the file is
  // renamed into place or removed: a caller that cleans up on a signal
  // removes only a temporary file its own compaction owns.
  // A damaged file (see `damage`) raises the damage error unless
  // `discard_damaged`, which keeps only the records a walk reaches.
  void CompactTracked(
      bool bCloseDB,
      const std::function<void(const std::u16string& temp_path)>& temp_file,
      bool discard_damaged = false);
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
  // Called by KxDocRec::Save. Raises 52 when no file is open. An exact
  // database (OpenOptions::exact, ExactScope) first raises 5 for an
  // identifier or field that would not come back exactly; so does its
  // `AddDoc` for an identifier, and its `Compact` for a cached record
  // changed since.
  void SaveDoc(KxDocRec& rec) override;
  Value AsValue() override;
  // Remembers a record a client attached through its `DB`, so that it is
  // detached when this database goes.
  void TrackRecord(KxDocRec& rec) override { Attach(rec); }

  // C++ conveniences beyond the late-bound members.
  bool IsOpen() const;
  // Whether the open file was opened for reading only.
  bool IsReadOnly() const;
  // Changes the stored document `id` (taken as it is) and saves it, all
  // under the file's lock: `change` gets a new record holding the current
  // document's fields, as the file now holds it (or as this object cached
  // it), so that changes by several openers to different fields are all
  // kept; that record becomes the cached one once saved. `change` runs under
  // the lock and must not write this file through another object. Returns
  // false, writing nothing, when the file does not hold `id`.
  bool UpdateDoc(const String& id,
                 const std::function<void(KxDocRec&)>& change);
  // Takes the file's lock until `CommitBatch`: the saves, deletes and
  // generated identifiers in between cost one lock and one header write in
  // all, and their records are written in large pieces. Other openers wait
  // meanwhile. After a crash at any point the file holds a prefix of the
  // batch (its changes in order, up to some point); the batch's changes
  // count as written once `CommitBatch` returns. `CloseDB` and the
  // object's end commit a batch left open. Raises 5 when a batch is open.
  void BeginBatch();
  // Writes what the batch still buffers and the header, and releases the
  // lock; nothing when no batch is open.
  void CommitBatch();
  // Where the last walk of the file found bytes it could not read although
  // more followed; saves raise the database's error while there are any.
  FileDamage damage() const;
  // Returns whether the index has `doc_id` (taken as it is); raises 91
  // before the first OpenDB.
  bool HasDoc(std::u16string_view doc_id) const;
  const std::u16string& path() const;
  int32_t next_id() const { return next_id_; }

 private:
  class Impl;

  explicit KxDocsDB(FileSystem& fs);

  void RequireOpen() const;
  // Returns the next generated identifier that no stored document has, and
  // reserves it in the file's header.
  String NewDocId();
  // Reads and decodes the record at `offset`; Nothing when it is deleted
  // or lacks its signature.
  Ref<KxDocRec> ReadDoc(int64_t offset);
  // Records the back-reference so the destructor can undo it.
  void Attach(KxDocRec& rec);

  std::unique_ptr<Impl> impl_;
  int32_t next_id_ = 1;
};

}  // namespace quorvel

#endif  // QUORVEL_KXDOCSDB_H_
