// `StoreScanner`: a read-only look at a key-value (KxKVDB) or document
// (KxDocsDB) database file as its bytes lie, damaged ones included, for
// dumps, repair tools and tests; and `NormalizeDocId`, the form in which the
// document stores keep an identifier.
#ifndef QUORVEL_STORE_SCAN_H_
#define QUORVEL_STORE_SCAN_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "quorvel/file_system.h"
#include "quorvel/string.h"

namespace quorvel {

// Which of the two database files.
enum class StoreKind {
  kDetect,     // whichever magic the header copies hold
  kKeyValue,   // a KxKVDB file ("KFKV")
  kDocuments,  // a KxDocsDB file ("KDOCSTOR")
};

// One header copy as it lies, whether or not a store would accept it.
struct StoreHeaderCopy {
  std::string magic;      // the bytes where the magic belongs
  bool magic_ok = false;  // they are the file's magic
  int32_t version = 0;
  int32_t record_count = 0;
  int32_t deleted_count = 0;
  int32_t put_count = 0;
  std::optional<int32_t> next_id;  // the document file's id counter only
  bool reserved_zero = false;      // the reserved bytes are all zero
};

// The copy a store opening the file reads: A when it has the magic and
// version 1, else B when it has the magic; none means the stores refuse
// the file as invalid.
enum class HeaderChoice { kA, kB, kNone };

// Why a walk over the records stopped.
enum class StoreWalkStop {
  kEnd,          // fewer than two bytes left: the end of the records
  kChainEnd,     // a document record links to no other
  kLinkBack,     // a document record links back, to itself or into itself
  kCutShort,     // a record header cut short by the end of the file
  kNoSignature,  // the bytes there are no record
  kBadLength,    // a negative length
  kPastEnd,      // a record that claims more than the file holds
};

// One record as the stores' walk meets it, deleted ones included. Offsets
// are 0-based bytes of the file. `key` and `body` lend the scanner's
// read buffer: they are valid only during the visitor's call.
struct StoreRecord {
  int64_t offset = 0;  // its first byte
  int64_t end = 0;     // just past its last byte
  uint8_t flag = 0;    // 0 live; any other value counts as deleted
  // Where its link field points (the document file; -1 when it links to
  // none, even when that is a link back the walk refuses to follow); in
  // the key-value file the next record's place, `end`.
  int64_t next = -1;
  int32_t field_count = 0;        // the document file's, informational
  std::span<const uint8_t> key;   // the key, or the document's id
  std::span<const uint8_t> body;  // the value, or the MessagePack body
  bool live() const { return flag == 0; }
};

// Where and why a walk stopped.
struct StoreWalkEnd {
  int64_t records = 0;  // complete records visited
  int64_t stop_at = 0;  // the offset where the walk stopped
  StoreWalkStop stop = StoreWalkStop::kEnd;
  std::string stop_text;  // a few words saying what `stop` means
  // Just past the last record visited (the first record's place when
  // none), and how many bytes of the file lie beyond it, unread.
  int64_t records_end = 0;
  int64_t bytes_past = 0;
};

// Reads one database file without ever writing, locking or checking it
// the way `OpenDB` does, so a damaged file can be looked at too: its two
// header copies and every record the stores' own walk meets. The walk is
// the stores' (one reading of the record layout for both), so it shows
// exactly what `OpenDB` would index and where it would stop.
//
// Holds the file open, for reading only, until destroyed. Reads through a
// forward window: memory stays within the largest record plus 64 KiB,
// whatever the size of the file. Thread-compatible.
class StoreScanner {
 public:
  // Opens `path` for reading only and reads its header copies. With
  // `kDetect`, the kind is the one whose magic copy A, else copy B, holds.
  // Raises the file system's error (53 for a missing file, naming the
  // path), and hex 800403E9 with source "KxQuorvel" ("This file is neither
  // a CKVDB nor a KxDocsDB file") when the kind cannot be detected.
  static StoreScanner Open(const std::u16string& path,
                           StoreKind kind = StoreKind::kDetect,
                           FileSystem& fs = FileSystem::Default());
  ~StoreScanner();
  StoreScanner(StoreScanner&&) noexcept;
  StoreScanner& operator=(StoreScanner&&) noexcept;

  StoreKind kind() const { return kind_; }
  // The length of the file when it was opened.
  int64_t length() const { return length_; }
  // Where the first record lies: just past the two header copies.
  int64_t records_at() const { return records_at_; }
  // Whether the file holds both header copies; when not, the copies read
  // as zero and `chosen` is kNone.
  bool has_headers() const { return has_headers_; }
  const StoreHeaderCopy& header_a() const { return a_; }
  const StoreHeaderCopy& header_b() const { return b_; }
  HeaderChoice chosen() const { return chosen_; }

  // Walks the records from the first, calling `visit` for each complete
  // one in walk order, deleted ones included, and returns where and why
  // the walk stopped. Raises the store's invalid-file error (hex 800403E9,
  // source "CKVDB" or "KxDocsDB") when the file lacks the header copies,
  // 62 when the file got shorter than `length()` meanwhile, and passes on
  // whatever `visit` raises.
  StoreWalkEnd Walk(const std::function<void(const StoreRecord&)>& visit);

 private:
  StoreScanner() = default;

  std::unique_ptr<DbFile> file_;
  StoreKind kind_ = StoreKind::kDetect;
  int64_t length_ = 0;
  int64_t records_at_ = 0;
  bool has_headers_ = false;
  StoreHeaderCopy a_;
  StoreHeaderCopy b_;
  HeaderChoice chosen_ = HeaderChoice::kNone;
};

// Returns the form in which the document stores keep and look up an
// identifier: blanks (U+0020) trimmed at both ends, every letter in upper
// case.
String NormalizeDocId(std::u16string_view id);

}  // namespace quorvel

#endif  // QUORVEL_STORE_SCAN_H_
