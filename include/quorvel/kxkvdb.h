// `KxKVDB`: a persistent map from String keys to String values kept in one
// append-only file.
#ifndef QUORVEL_KXKVDB_H_
#define QUORVEL_KXKVDB_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "quorvel/dictionary.h"
#include "quorvel/dispatch.h"
#include "quorvel/object.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

namespace quorvel {

namespace internal {
class DbFile;
class FileSystem;
}  // namespace internal

// A key-value store in one file: every write appends a record, a delete flags
// the current record in place, and `Compact` rewrites the file with only the
// live pairs. `OpenDB` scans the file once to index each key to its current
// record; values are read on first use and then cached until the next
// `OpenDB`. Keys match exactly (case-sensitive). Text is stored one byte per
// character in Windows-1252.
//
// Failures raise hex 800403E9 with source "CKVDB" ("DB is not open", "This
// file is not a valid CKVDB file") or pass the platform's file error through.
// A raising member leaves the index and cache as they were before it; the
// file may hold a torn record past its last good one, which the next open
// ignores. Writes hold an exclusive whole-file lock shared with every other
// opener, in this process or another. The object owns its open file and
// closes it when destroyed. Thread-compatible.
class KxKVDB final : public Object {
 public:
  static Ref<KxKVDB> Create();
  // Creates a store that reaches files only through `fs`, which must outlive
  // it.
  static Ref<KxKVDB> Create(internal::FileSystem& fs);
  ~KxKVDB() override;
  const ClassInfo& Class() const override;

  // Opens or creates the file and indexes it, closing a file already open.
  // Raises the invalid-file error for a non-empty file shorter than two
  // header copies or whose chosen copy lacks the magic (the file is closed).
  void OpenDB(const String& FilePath);
  // Syncs, closes and reopens the open file; nothing when none is open.
  void FlushData();
  // Closes the open file; the index and cache stay for Keys and Count.
  void CloseDB();
  // Sets a key's value by appending a record. Raises 6 for a key over 32,767
  // characters or a file that would pass 2,147,483,647 bytes. When the file
  // holds bytes the scan would stop at before its end (a record torn by a
  // writer that died), they first become one deleted record, so that this
  // record and all later ones stay reachable.
  void PutValue(const String& Key, const String& Value);
  // Flags the key's current record, and every earlier live record of it this
  // object knows of, as deleted; an absent key is no error.
  void DeleteKey(const String& Key);
  // Rewrites the file with only the live pairs, through "FilePath.tmp"
  // renamed over the database once complete and synced. Leaves the store
  // closed when `bCloseDB` is true, reopened otherwise.
  void Compact(bool bCloseDB = false);
  // Returns the key's value, or the empty string for an absent key.
  String Item(const String& Key);
  // Exactly PutValue(Key, NewValue).
  void LetItem(const String& Key, const String& NewValue);
  // Return the live keys in index order and their number; raise 91 before
  // the first OpenDB.
  Value Keys() const;
  int32_t Count() const;

  // C++ conveniences beyond the late-bound members.
  bool IsOpen() const { return file_ != nullptr; }
  // Returns whether the index has `Key`; raises 91 before the first OpenDB.
  bool HasKey(std::u16string_view Key) const;
  const std::u16string& path() const { return path_; }

 private:
  explicit KxKVDB(internal::FileSystem& fs);

  using Header = std::array<uint8_t, 52>;

  [[noreturn]] void RaiseNotOpen() const;
  [[noreturn]] void RaiseInvalidFile();
  void RequireOpen() const;
  static Header NewHeader();
  static void WriteHeader(internal::DbFile& file, const Header& header);
  void ReadHeader();
  void BuildIndex();
  // Writes one record at `offset`; returns the offset just past it.
  static int64_t AppendRecord(internal::DbFile& file, int64_t offset,
                              const String& key, const String& value);
  String ReadValue(const String& key);
  // Returns where the next record goes when the file does not end where
  // this object last saw a complete record.
  int64_t ResumeAppend();
  void FlagDeleted(int64_t offset);
  void Supersede(const String& key, int32_t old_offset);

  internal::FileSystem* fs_;
  std::unique_ptr<internal::DbFile> file_;
  std::u16string path_;
  Header header_{};
  Ref<Dictionary> index_;  // key -> Long offset of its current record
  Ref<Dictionary> cache_;  // key -> String value
  // Just past the last record this object saw complete, by its scan or its
  // own append; a longer file has records of other openers or a torn tail.
  int64_t end_ = 0;
  // Offsets of the earlier live records of keys written more than once, so
  // that a delete flags them all and no older value comes back at the next
  // open. Emptied by OpenDB; Compact leaves none in the file.
  std::unordered_map<std::u16string, std::vector<int32_t>> superseded_;
};

}  // namespace quorvel

#endif  // QUORVEL_KXKVDB_H_
