// The engine of a store object: its database file, the index of keys to
// records, and the cache of values it wrote or read.
#ifndef QUORVEL_SRC_STORES_STORE_H_
#define QUORVEL_SRC_STORES_STORE_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "quorvel/dictionary.h"
#include "quorvel/object.h"
#include "quorvel/open_options.h"
#include "quorvel/string.h"
#include "stores/store_file.h"

namespace quorvel::internal {

// Each live key of a file to the offset of its current record, in the order
// keys were first seen (a dictionary, whose `Keys` and `Count` the stores
// hand out), plus the earlier live records of keys written more than once:
// a delete flags those too, or an older version would come back at the next
// open. Before the first `Reset` there is no index at all.
// Thread-compatible.
class RecordIndex {
 public:
  // Starts a new, empty index.
  void Reset();
  bool exists() const { return static_cast<bool>(keys_); }
  const Dictionary& keys() const { return *keys_; }

  // Points `key` at the record at `offset`; an earlier one stays known as
  // superseded. Returns whether the key was indexed before.
  bool Note(const String& key, int64_t offset);
  // Returns the offset of the key's current record, or -1.
  int64_t Find(std::u16string_view key) const;
  // Returns the offsets of every live record of the key this index knows
  // of, the current one first, then newest to oldest (none when absent).
  std::vector<int64_t> Records(std::u16string_view key) const;
  // Forgets the key and its records.
  void Remove(const String& key);

 private:
  Ref<Dictionary> keys_;
  // Each record that superseded a live one of its key, by offset, to the
  // offset of the record it superseded: the key's records form a chain
  // from its current one, newest to oldest, at one small entry per
  // superseded record (a rewritten key costs no copy of its text).
  std::unordered_map<int32_t, int32_t> older_;
};

// One store object's file, index and cache: the engine both database
// classes write through. Every change takes the same road: `Writing` takes
// the lock and catches up on what other openers did, the change is decided
// on the file's state as it now is, the record is appended and indexed,
// the counters move, and the header is written when the outermost scope is
// done. A batch is one outer scope held from `BeginBatch` to `CommitBatch`.
//
// The index and cache follow the walks of the file: a live record met at
// open or written by another opener points its key at itself (a cached
// value of that key is stale and goes), and a walk from the start keeps
// only the cached values whose key still has the record they came from
// (none, when the walk is of another file). The cache maps keys to whatever
// the store keeps for them (value texts, record objects).
// Thread-compatible.
class Store : private StoreFile::Reader {
 public:
  Store(FileSystem& fs, const StoreLayout& layout);
  ~Store() override;

  // Starts a new, empty index and cache.
  void Reset();

  // Starts a new index and cache and opens `path` into them as `options`
  // say. Returns false for an empty file.
  bool Open(const std::u16string& path, const OpenOptions& options);
  // Commits an open batch, then closes the file.
  void Close();

  // Appends `record` as the current record of `key`, caches `cached` for it
  // and counts the put, in its own scope or the one around it.
  int64_t Put(const String& key, std::span<const uint8_t> record,
              const Value& cached);
  // Flags every record of `key` the file holds now, forgets the key and
  // counts the delete. Returns false, writing nothing, for a key the file
  // does not hold (after catching up on other openers).
  bool Delete(const String& key);

  // Holds the lock until `CommitBatch`: the changes in between share one
  // catch-up and one header write, and their records are written in large
  // pieces. Raises 5 when a batch is open already.
  void BeginBatch();
  // Writes what the batch buffered and the header, and releases the lock.
  // Nothing when no batch is open.
  void CommitBatch();

  // Reads the header of the record at `offset` for a read at random, the
  // first read `first_read` bytes (a typical record whole): kOk with `rec`
  // filled, or why there is no record there. Raises 62 for a record cut
  // short by the end of the file. Nothing read before is trusted.
  WalkStop ReadRecordAt(int64_t offset, size_t first_read, RecordInfo* rec);
  // Lends `size` bytes at `at` of the record just read, valid until the
  // next call of either; raises 62 when the file ends first.
  const uint8_t* RecordBytes(int64_t at, int64_t size);

  // Returns whether writes must come back exactly: the store was opened
  // so, or the call runs under an ExactScope.
  bool Exact() const;
  // The options to open the file with again (after a compaction).
  OpenOptions ReopenOptions() const;

  StoreFile file;
  RecordIndex index;
  Ref<Dictionary> cache;
  bool exact = false;  // as the last Open was asked

 private:
  void Record(const RecordInfo& rec, ScanWindow& window) override;
  void Rescanning() override;
  void Rescanned(bool same_file) override;

  RecordIndex previous_;  // during a walk from the start only
  std::unique_ptr<StoreFile::Writing> batch_;
  std::unique_ptr<ScanWindow> reader_;
};

}  // namespace quorvel::internal

#endif  // QUORVEL_SRC_STORES_STORE_H_
