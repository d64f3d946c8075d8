// `OpenOptions`: how the two database classes open their file, for C++
// clients (the late-bound `OpenDB` takes a path only), and `FileDamage`:
// what an open found it could not read.
#ifndef QUORVEL_OPEN_OPTIONS_H_
#define QUORVEL_OPEN_OPTIONS_H_

#include <cstdint>

namespace quorvel {

struct OpenOptions {
  // Opens the file for reading only: every write then raises 75 with a
  // description naming the path. (A file the process may read but not
  // write opens this way anyway.)
  bool read_only = false;
  // Creates a missing file as a new, empty database. When false, or when
  // reading only, a missing file raises 53 naming the path.
  bool create_if_missing = true;
  // Refuses, before anything is written, a write whose text or values
  // would not come back exactly (a character without a Windows-1252 byte,
  // a Decimal a Currency would round, a kind the file has no form for; see
  // `CheckStorable`): KxKVDB's `PutValue` and `Item` write raise 5 with
  // source "CKVDB", KxDocsDB's `AddDoc` and saves 5 with source "KxDocsDB",
  // each with the description of the first such place. The file, the index
  // and the cache stay as they were. When false, such text is stored with
  // '?' and such a Decimal rounded, as always. The store stays exact until
  // it is opened again; an open under an `ExactScope` is exact too.
  bool exact = false;
};

// Where a database file holds bytes its records cannot be read from
// although more follows (a damaged record, as opposed to the torn tail a
// dying writer leaves): the records there and after it are out of reach.
// While a file is damaged nothing is appended to it, since linking past or
// covering the bytes would lose those records for good; a compaction told
// to discard them makes the file writable again.
struct FileDamage {
  int64_t offset = -1;  // the first byte that could not be read; -1: none
  int64_t bytes = 0;    // from there to the end of the file
  bool any() const { return offset >= 0; }
};

}  // namespace quorvel

#endif  // QUORVEL_OPEN_OPTIONS_H_
