// `KxKVDB`: a persistent map from String keys to String values kept in one
// append-only file.
#ifndef QUORVEL_KXKVDB_H_
#define QUORVEL_KXKVDB_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "quorvel/dispatch.h"
#include "quorvel/file_system.h"
#include "quorvel/object.h"
#include "quorvel/open_options.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

namespace quorvel {

// A key-value store in one file: every write appends a record, a delete flags
// the current record in place, and `Compact` rewrites the file with only the
// live pairs. `OpenDB` scans the file once to index each key to its current
// record; values are read on first use and then cached until the next
// `OpenDB`. Keys match exactly (case-sensitive). Text is stored one byte per
// character in Windows-1252.
//
// Several objects and processes may write one file. Each write holds an
// exclusive whole-file lock and first walks what other openers appended
// since (their keys join this object's index, their values replace what it
// cached), so no write lands on another's bytes and a delete flags every
// record of the key; a compaction walks the whole file afresh and moves
// every other opener over to the new file at its next write.
//
// Every write decides on the file as it is under the lock, not on what this
// object saw at open: a delete of a key another opener wrote deletes it.
//
// Failures raise hex 800403E9 with source "CKVDB" ("DB is not open", "This
// file is not a valid CKVDB file", a damaged file; see `damage`) or pass the
// platform's file error through, naming the path and the reason. A raising
// member leaves the index and cache as they were before it; the file may
// hold a torn record past its last good one, which the next open ignores
// and the next write covers. The object owns its open file and closes it when
// destroyed. Thread-compatible.
class KxKVDB final : public Object {
 public:
  static Ref<KxKVDB> Create();
  // Creates a store that reaches files only through `fs`, which must outlive
  // it.
  static Ref<KxKVDB> Create(FileSystem& fs);
  ~KxKVDB() override;
  const ClassInfo& Class() const override;

  // Opens or creates the file and indexes it, closing a file already open.
  // A file this process may read but not write opens for reading. Raises
  // the invalid-file error for a non-empty file shorter than two header
  // copies or whose chosen copy lacks the magic (the file is closed).
  void OpenDB(const String& FilePath);
  // The same, reading only or refusing to create as `options` say.
  void OpenDB(const String& FilePath, const OpenOptions& options);
  // Syncs, closes and reopens the open file; nothing when none is open.
  void FlushData();
  // Closes the open file; the index and cache stay for Keys and Count.
  void CloseDB();
  // Sets a key's value by appending a record. Raises 6 for a key over 32,767
  // characters or a file that would pass 2,147,483,647 bytes. An exact
  // store (OpenOptions::exact, ExactScope) first raises 5 for a key or value
  // that would not come back exactly. When the file
  // holds bytes the scan would stop at before its end (a record torn by a
  // writer that died), they first become one deleted record, so that this
  // record and all later ones stay reachable.
  void PutValue(const String& Key, const String& Value);
  // Flags the key's current record, and every earlier live record of it, as
  // deleted; a key the file does not hold is no error.
  // (Writes on a file opened for reading raise 75 naming the path.)
  void DeleteKey(const String& Key);
  // Rewrites the file with only the live pairs, copied record by record in
  // bounded memory. Under the write lock, and only then, it writes "T.tmp"
  // beside the file T that FilePath names after every symbolic link, with
  // the database's mode and owner, syncs it, renames it over T and syncs
  // the directory. Leaves the store closed when `bCloseDB` is true,
  // reopened otherwise. Raises 75 naming the path, leaving the database as
  // it was, when the mode or owner cannot be kept; on any failure the
  // temporary file is removed.
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
  // Returns the key's value, or the empty string for an absent key.
  String Item(const String& Key);
  // Exactly PutValue(Key, NewValue).
  void LetItem(const String& Key, const String& NewValue);
  // Return the live keys in index order and their number; raise 91 before
  // the first OpenDB.
  Value Keys() const;
  int32_t Count() const;

  // C++ conveniences beyond the late-bound members.
  bool IsOpen() const;
  // Whether the open file was opened for reading only.
  bool IsReadOnly() const;
  // Takes the file's lock until `CommitBatch`: the puts and deletes in
  // between cost one lock and one header write in all, and their records
  // are written in large pieces, so a bulk load runs at the speed of the
  // disk. Other openers wait meanwhile. After a crash at any point the file
  // holds a prefix of the batch (its changes in order, up to some point),
  // never a later change without every earlier one; the batch's changes
  // count as written once `CommitBatch` returns. `CloseDB` and the
  // object's end commit a batch left open. Raises 5 when a batch is open.
  void BeginBatch();
  // Writes what the batch still buffers and the header, and releases the
  // lock; nothing when no batch is open.
  void CommitBatch();
  // Where the last walk of the file found bytes it could not read although
  // more followed; writes raise the store's error while there are any.
  FileDamage damage() const;
  // Returns whether the index has `Key`; raises 91 before the first OpenDB.
  bool HasKey(std::u16string_view Key) const;
  const std::u16string& path() const;

 private:
  class Impl;

  explicit KxKVDB(FileSystem& fs);
  void RequireOpen() const;
  // The late-bound PutValue and Item write: the arguments become text as
  // the binder makes it, except that an exact write refuses a key or value
  // that is not a String.
  void PutBound(const Value& Key, const Value& NewValue);
  String ReadValue(const String& key);

  std::unique_ptr<Impl> impl_;
};

}  // namespace quorvel

#endif  // QUORVEL_KXKVDB_H_
