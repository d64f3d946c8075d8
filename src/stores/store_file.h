// The engine under both database files: the doubled header, open and
// validate, the write lock, appends at the true end of the file, torn tails,
// the walk over the records, and compaction. A store adds only its record
// layout (a `RecordFormat`), its index and its cache.
#ifndef QUORVEL_SRC_STORES_STORE_FILE_H_
#define QUORVEL_SRC_STORES_STORE_FILE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/open_options.h"
#include "quorvel/store_scan.h"
#include "stores/db_file.h"
#include "stores/store_io.h"

namespace quorvel::internal {

// Why a walk over the records stopped, one for one the public reasons of
// `StoreWalkStop`; kOk while it goes on.
enum class WalkStop {
  kOk = -1,
  kEnd = static_cast<int>(StoreWalkStop::kEnd),
  kChainEnd = static_cast<int>(StoreWalkStop::kChainEnd),
  kLinkBack = static_cast<int>(StoreWalkStop::kLinkBack),
  kCutShort = static_cast<int>(StoreWalkStop::kCutShort),
  kNoSignature = static_cast<int>(StoreWalkStop::kNoSignature),
  kBadLength = static_cast<int>(StoreWalkStop::kBadLength),
  kPastEnd = static_cast<int>(StoreWalkStop::kPastEnd),
};

// Returns a few words saying what `stop` means, for dumps.
const char* WalkStopText(WalkStop stop);

// One record as a walk meets it. Offsets are 0-based bytes of the file.
struct RecordInfo {
  int64_t offset = 0;  // its first byte
  int64_t end = 0;     // just past its last byte
  uint8_t flag = 0;    // 0 live; any other value counts as deleted
  int64_t key_at = 0;  // the key of a key-value record, a document's id
  int32_t key_size = 0;
  int64_t body_at = 0;  // the value, or the document's MessagePack body
  int64_t body_size = 0;
  int64_t next = -1;               // the record a walk visits next
  WalkStop after = WalkStop::kOk;  // why a walk ends after this record
  bool live() const { return flag == 0; }
};

// The record layout of one kind of store file, as far as the engine needs
// it. A sequential format puts records back to back; a chained one links
// each record from the one before it, through a 4-byte field holding the
// next record's offset + 1.
class RecordFormat {
 public:
  virtual ~RecordFormat() = default;
  // Reads the record at `offset` of a file `length` bytes long: kOk with
  // `out` filled, or why a walk stops there.
  virtual WalkStop Parse(ScanWindow& window, int64_t offset, int64_t length,
                         RecordInfo* out) const = 0;
  // Where a record's flag byte lies, from its start.
  virtual int64_t flag_at() const = 0;
  virtual bool chained() const = 0;
  // Chained formats: where the link field lies, from a record's start.
  virtual int64_t link_at() const { return -1; }
  // Sequential formats: the header of a deleted record whose body is the
  // `skip` bytes after it, so that a walk passes over them.
  virtual std::vector<uint8_t> Filler(int32_t skip) const {
    (void)skip;
    return {};
  }
};

// The fixed facts of one kind of store file.
struct StoreLayout {
  std::u16string_view source;        // the source of the store's errors
  std::u16string_view invalid_file;  // the invalid-file description
  std::span<const uint8_t> magic;    // the first bytes of a header copy
  size_t header_size;                // one copy; records start after two
  size_t version_at;                 // signed 32-bit, 1
  size_t record_count_at;            // +1 per append
  size_t deleted_count_at;           // +1 per delete
  size_t put_count_at;               // kept like the record count
  const RecordFormat* records;
};

// Chooses which of the two header copies `both` (2 * header_size bytes) a
// store reads: A (0) when it has the magic and version 1, else B (1) when it
// has the magic; -1 when neither will do.
int ChooseHeaderCopy(const StoreLayout& layout, const uint8_t* both);

// Where a walk ended: the offset it stopped at, why, the last record it
// visited (-1 for none), and how far the records it visited reach (where
// it started, when none).
struct WalkEnd {
  int64_t at;
  WalkStop why;
  int64_t last;
  int64_t covered;
};

// Visits the records of a file `length` bytes long from `from` on, as the
// format's walk goes, calling `visit(const RecordInfo&)` for each complete
// record, deleted ones included. Reads nothing but record headers: a
// visitor that wants a key or body reads it through `window`.
template <class Visit>
WalkEnd WalkRecords(ScanWindow& window, const RecordFormat& format,
                    int64_t from, int64_t length, Visit&& visit) {
  WalkEnd end{from, WalkStop::kEnd, -1, from};
  while (end.at >= 0 && end.at + 1 < length && end.at <= kMaxPosition) {
    RecordInfo rec;
    const WalkStop stop = format.Parse(window, end.at, length, &rec);
    if (stop != WalkStop::kOk) {
      end.why = stop;
      return end;
    }
    visit(rec);
    end.last = rec.offset;
    end.covered = rec.end;
    if (rec.after != WalkStop::kOk) {
      end.at = rec.end;
      end.why = rec.after;
      return end;
    }
    end.at = rec.next;
  }
  return end;
}

// One open database file and what this object knows of it: the header as
// last read or written, where the file ended then, and the last record a
// walk reached. All writes go through `Writing`, which holds the
// whole-file lock and first brings that knowledge up to date, so several
// objects and processes can write one file:
//   - records other openers appended since are walked into the reader, and
//     the next record is linked from (or placed after) the true last one,
//     never over bytes another opener may have written;
//   - the header is read afresh, so counters (and a store's own fields)
//     continue from what any writer left;
//   - when another opener's compaction replaced the file, the new file is
//     opened and walked from the start before anything is written.
// A torn tail (a record a dying writer left incomplete) stays where it is:
// chained files link past it, sequential ones first cover it with one
// deleted record. No operation ever shrinks a file.
//
// The object owns its open file and closes it when destroyed.
// Thread-compatible.
class StoreFile {
 public:
  // What a store does with the records that walks meet.
  class Reader {
   public:
    virtual ~Reader() = default;
    // A complete record, deleted or live, in walk order; at open, and when
    // a write finds records that other openers appended.
    virtual void Record(const RecordInfo& rec, ScanWindow& window) = 0;
    // Before and after a walk from the first record of a file this object
    // had walked already: every offset the store knew is stale once
    // `Rescanning` returns. `same_file` is false when the walk is of the
    // file another opener put at the path (its compaction), whose offsets
    // have nothing to do with the old file's.
    virtual void Rescanning() = 0;
    virtual void Rescanned(bool same_file) = 0;
  };

  StoreFile(FileSystem& fs, const StoreLayout& layout, Reader& reader);
  ~StoreFile();
  StoreFile(const StoreFile&) = delete;
  StoreFile& operator=(const StoreFile&) = delete;

  // Opens `path` (closing a file already open) and walks its records into
  // the reader. kCreate falls back to reading only when the file exists
  // but may not be written. An empty file gets a new header (none when
  // read-only); any other must hold a valid one, or the invalid-file error
  // is raised with the file closed. Returns false for an empty file.
  bool Open(const std::u16string& path, OpenMode mode);
  // Closes the file; nothing when none is open.
  void Close();
  // Syncs, closes and opens the file again; when another file has taken its
  // path meanwhile, walks that one from the start. Nothing when none is
  // open.
  void Flush();

  bool is_open() const { return file_ != nullptr; }
  bool read_only() const { return read_only_; }
  const std::u16string& path() const { return path_; }
  // The open file, for reads: what this object buffered is written first,
  // so a read sees every record the index points at.
  DbFile& file() {
    FlushPending();
    return *file_;
  }
  // Where the last walk stopped at bytes it could not read although more
  // followed (offset -1 when it did not). Appends are refused while there
  // are such bytes: linking past them, or covering them, would lose the
  // records they hide.
  const FileDamage& damage() const { return damage_; }
  // The end of the file as this object last learnt it under the lock, or
  // from its own appends.
  int64_t known_end() const { return seen_end_; }
  const StoreLayout& layout() const { return layout_; }

  // The header in memory: signed 32-bit fields at byte offsets of one copy.
  int32_t Field(size_t at) const { return Get32(header_.data() + at); }
  void SetField(size_t at, int32_t value) { Put32(header_.data() + at, value); }
  // Adds one to a counter. The counters are informational (nothing reads
  // them back), so they wrap rather than fail: a damaged header must not
  // make a write that already reached the file raise.
  void Bump(size_t at);

  // Holds the write lock for one change, or for a batch of them, and brings
  // this object up to date first (see the class comment). Nested scopes
  // share the outermost one's lock. Raises 75, naming the path, on a file
  // opened for reading only, and the file error of a lock the OS refuses.
  // The caller checks that a file is open.
  //
  // `Done` ends the change: in the outermost scope it writes what is still
  // buffered and then the header, when anything changed it; in an inner one
  // it does nothing, so a batch writes its header once. A scope left by an
  // exception drops what it buffered and makes this object walk the file
  // again, so that nothing it believes rests on a write that failed.
  class Writing {
   public:
    explicit Writing(StoreFile& file);
    ~Writing();
    Writing(const Writing&) = delete;
    Writing& operator=(const Writing&) = delete;
    void Done();

   private:
    StoreFile& file_;
    bool outermost_;
    int exceptions_;
  };

  // The following need a `Writing` in scope.
  // Appends `record` where the next record of the file goes and links it in;
  // returns its offset. Small records are buffered until the scope's `Done`
  // (or until enough have gathered), always written before the link that
  // leads to them. Raises 6 past the 32-bit position range.
  int64_t Append(std::span<const uint8_t> record);
  // Walks the file from the start when other openers deleted since this
  // object last did: a catch-up sees their appends, but a delete leaves only
  // a flag in place. Called where a decision rests on a key being there.
  void SeeDeletes();
  // Sets the flag byte of the record at `offset` to deleted.
  void FlagDeleted(int64_t offset);
  // Writes both header copies, A before B, in one write.
  void WriteHeader();

  // What a compaction writes into the new file, through one fixed buffer:
  // records are copied from the old file as bytes, never whole in memory,
  // so a compaction holds the index and these buffers and nothing that
  // grows with the file. Every record lands live; in a chained file each
  // links to the next.
  class Copy {
   public:
    Copy(const Copy&) = delete;
    Copy& operator=(const Copy&) = delete;
    // Appends `record` (the bytes of a record as the format encodes it) and
    // counts it.
    void Append(std::span<const uint8_t> record);
    // Appends the record at `offset` of the database file as it stands
    // there and counts it. Returns false, copying nothing, when no sound
    // live record lies there.
    bool CopyRecord(int64_t offset);
    // Sets a field of the new file's header (the counts are set for you).
    void SetField(size_t at, int32_t value) {
      Put32(header_.data() + at, value);
    }

   private:
    friend class StoreFile;
    Copy(StoreFile& from, DbFile& to);
    // Starts a record of `size` bytes whose first bytes are `head` (at
    // least its header); the rest follows through Emit.
    void Begin(std::span<const uint8_t> head, int64_t size);
    void Emit(std::span<const uint8_t> bytes);
    // Copies the run of old records waiting in [run_at_, run_end_).
    void FlushRun();
    // Writes `bytes` over what was emitted at `at`, in the buffer or in the
    // file, wherever each byte is by now.
    void Overwrite(int64_t at, std::span<const uint8_t> bytes);
    void FlushBuffer();
    // Writes what is buffered and the header with the counts.
    void Finish();

    StoreFile& from_;
    DbFile& to_;
    ScanWindow window_;
    std::array<uint8_t, 64> header_;
    std::vector<uint8_t> buffer_;  // bytes from `buffer_at_` on, not written
    int64_t buffer_at_ = 0;
    int64_t end_;
    int64_t last_ = -1;
    int32_t count_ = 0;
    // Live records without links lie in the new file as they lie in the
    // old one, so back-to-back ones are copied as one run of bytes.
    int64_t run_at_ = 0;
    int64_t run_end_ = 0;
  };
  // Rewrites the file with what `copy` appends. Under the write lock, and
  // only then: brings this object up to date (moving to the file another
  // compaction put at the path meanwhile), deletes a stale temporary file
  // and creates "TARGET.tmp" beside the file the path names after every
  // link, gives it the database's mode and owner, fills it, syncs it,
  // renames it over the target and syncs the directory. `temp_file` hears
  // the temporary path just before it is created and an empty one once it is
  // renamed or removed. When others deleted since this object last walked
  // the whole file, it walks it again, so the copy holds exactly what the
  // file holds. The old file is marked retired before the rename, so that
  // its other openers move to the new one. On failure the temporary file is
  // removed and the database is as it was. Raises 75 naming the path when
  // the mode or owner cannot be kept. A damaged file (see `damage`) is
  // refused with the damage error unless `discard_damaged`: the copy holds
  // only the records a walk reaches. Leaves the file open; the store
  // closes or reopens it.
  void Compact(
      const std::function<void(Copy&)>& copy,
      const std::function<void(const std::u16string&)>& temp_file = nullptr,
      bool discard_damaged = false);

 private:
  using Header = std::array<uint8_t, 64>;

  int64_t first_record() const {
    return 2 * static_cast<int64_t>(layout_.header_size);
  }
  Header NewHeader() const;
  // Lays out both copies of `header` as they start a file, in `both`;
  // returns the bytes used.
  using DoubledHeader = std::array<uint8_t, 2 * sizeof(Header)>;
  std::span<const uint8_t> Doubled(const Header& header,
                                   DoubledHeader& both) const;
  // Reads both copies and chooses one: A when it has the magic and version
  // 1, else B when it has the magic. False when neither will do.
  bool ReadHeaderCopies(Header* out);
  [[noreturn]] void RaiseInvalidFile();
  // Raises 6 for a file that would pass the 32-bit position range.
  [[noreturn]] void RaiseFileTooLarge() const;
  // Reads the header of a non-empty file or raises the invalid-file error.
  void ReadHeader(int64_t length);
  // Walks the whole file into the reader, from the first record; returns
  // how far its records reach.
  int64_t WalkAll(int64_t length);
  // Walks on from the last record known, into the reader.
  void WalkOn(int64_t length);
  // WalkAll for a file this object had walked already (or, when not
  // `same_file`, for the one that took its place).
  int64_t Rescan(int64_t length, bool same_file);
  // Under the lock: takes in what others wrote since this object last
  // looked.
  void CatchUp();
  // Opens the file now at the path (another opener's compaction put it
  // there), takes its lock and walks it from the start.
  void Reopen();
  // Takes the whole-file lock; raises what the OS says.
  void Lock();
  void UnlockQuietly();
  // Raises when nothing may be appended: an earlier write of the batch
  // failed, or the file is damaged (see `damage`).
  void RequireWritable() const;
  [[noreturn]] void RaiseDamaged() const;
  // Records, from the end of a walk, whether it stopped at damage: bytes
  // that are neither records nor a torn tail (a tail of zeros, or a last
  // record cut short).
  void NoteWalkEnd(const WalkEnd& end, int64_t length);
  // Writes the link that leads to the first record written since the last
  // one that was linked; nothing when there is none.
  void WritePendingLink();
  // Writes the buffered records, then the link that leads to the first.
  void FlushPending();
  // After a failed write: forgets the buffer and the header changes, and
  // walks the file again (quietly; a failure leaves it for the next lock).
  void Recover();

  FileSystem& fs_;
  const StoreLayout& layout_;
  Reader& reader_;
  std::unique_ptr<DbFile> file_;
  std::u16string path_;
  bool read_only_ = false;
  Header header_{};
  // The header as this object last read or wrote it, and where the file
  // ended then: a file that differs was written by someone else. After a
  // walk from the start, the end is where the records end: bytes past them
  // (a torn tail, or the mark of a retired file) make the next write look
  // again.
  Header seen_header_{};
  int64_t seen_end_ = 0;
  // The last record a walk or an append reached (-1 for none), and in a
  // sequential file where the records stop: a torn tail lies between there
  // and the end.
  int64_t last_ = -1;
  int64_t tail_ = 0;
  // Whether others deleted records since this object last walked the whole
  // file: its index may still hold their keys, in their old places.
  bool others_deleted_ = false;
  // How many `Writing` scopes are open; the lock is held while any is.
  int writing_ = 0;
  // Records appended but not yet written: they belong at `pending_at_`,
  // and in a chained file the record before them still has to be linked
  // to the first (`pending_link_at_`, -1 for none).
  std::vector<uint8_t> pending_;
  int64_t pending_at_ = 0;
  int64_t pending_link_at_ = -1;
  int64_t pending_link_to_ = 0;
  // Set when a write failed where no walk could follow at once.
  bool must_rescan_ = false;
  // Set when a buffered write failed inside a batch: the batch can only
  // end, and its end walks the file again.
  bool broken_ = false;
  FileDamage damage_;
};

}  // namespace quorvel::internal

#endif  // QUORVEL_SRC_STORES_STORE_FILE_H_
