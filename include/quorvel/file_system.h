// The file system the single-file stores work on: byte-mode files read and
// written at positions, a whole-file exclusive lock, and the few path
// operations a store needs (open, test, delete, atomic rename, and for a
// compaction: follow links, keep a file's mode and owner, sync a directory).
//
// A store reaches files only through a `FileSystem`, as LevelDB's databases
// reach theirs through an `Env`. `FileSystem::Default()` is the process's
// POSIX file system, and what `KxKVDB::Create()` and `KxDocsDB::Create()`
// use; a client may hand `Create(fs)` its own implementation instead: files
// held in memory, a file system with faults injected for testing, one that
// counts or throttles what passes. An implementation reports every failure
// by raising the platform's file error (`quorvel::Error` with 53, 75, 76, 52,
// 61 or 57) and throws nothing else.
#ifndef QUORVEL_FILE_SYSTEM_H_
#define QUORVEL_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace quorvel {

// How `FileSystem::Open` opens a file.
enum class OpenMode {
  kCreate,    // read and write, creating a missing file empty
  kExisting,  // read and write; a missing file raises 53
  kReadOnly,  // read only; a missing file raises 53
};

// One open file, shared with other openers. All offsets are 0-based bytes.
// Writes reach the descriptor immediately (no user-space buffer), so other
// openers see them at once. Closing happens on destruction.
// Thread-compatible. Every member raises the platform file error on failure;
// errors of the OS name the file and the reason in their description.
class DbFile {
 public:
  virtual ~DbFile() = default;
  // Reads exactly out.size() bytes at offset; raises 62 "Input past end of
  // file" when the file ends first (what did exist is left in `out`).
  virtual void ReadAt(int64_t offset, std::span<uint8_t> out) = 0;
  // Reads up to out.size() bytes at offset and returns how many were read
  // (0 at or past the end of the file).
  virtual size_t ReadSome(int64_t offset, std::span<uint8_t> out) = 0;
  // Writes all of `data` at offset (never appending mode) or raises.
  virtual void WriteAt(int64_t offset, std::span<const uint8_t> data) = 0;
  // Writes `data` over bytes the file already holds (a header, a link, a
  // flag): the end of the file does not move. An implementation may write
  // them through a shared mapping of the file, without a system call, as
  // long as other openers see them at once as they see WriteAt's.
  virtual void WriteInPlace(int64_t offset, std::span<const uint8_t> data) {
    WriteAt(offset, data);
  }
  // Returns the current length of the file as the OS reports it now.
  virtual int64_t Length() = 0;
  // Returns where an append goes now: the length of the file. Callers hold
  // the exclusive lock, so the answer stays true until they release it. An
  // implementation may answer without asking the OS when it can see that the
  // file still reaches the end it last knew of and that no byte was written
  // there; that relies on every writer of these files starting each append
  // with a non-zero byte (the record signature and the retirement mark do).
  virtual int64_t AppendOffset() { return Length(); }
  // Pushes written data to the storage device.
  virtual void FlushData() = 0;
  // Takes the exclusive lock on the whole file, waiting until granted. The
  // lock belongs to this open file, so two DbFile objects on one path in the
  // same process exclude each other.
  virtual void LockExclusive() = 0;
  // Releases the lock taken by LockExclusive.
  virtual void Unlock() = 0;
};

// Opens, tests, deletes and renames files. Paths are UTF-16 and converted to
// UTF-8 for the OS.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens `path` as `mode` says.
  virtual std::unique_ptr<DbFile> Open(const std::u16string& path,
                                       OpenMode mode) = 0;
  std::unique_ptr<DbFile> Open(const std::u16string& path) {
    return Open(path, OpenMode::kCreate);
  }
  virtual bool Exists(const std::u16string& path) = 0;
  virtual void Delete(const std::u16string& path) = 0;
  // Replaces `to` with `from` in one atomic step.
  virtual void Rename(const std::u16string& from, const std::u16string& to) = 0;
  // Returns whether `path` still names the file `file` has open; false once
  // another file was renamed over it or it was deleted.
  virtual bool StillAt(const std::u16string& path, DbFile& file) = 0;
  // Returns the path of the file `path` names with every symbolic link on
  // the way followed, all levels, so that a file written to replace it goes
  // beside the file itself rather than over the link. Raises the file error
  // when `path` names nothing. The default returns `path`: no links.
  virtual std::u16string ResolveLinks(const std::u16string& path) {
    return path;
  }
  // Gives `to` the permission bits, owner and group of `from`, for a file
  // about to take the place of `from` at `path`. Raises 75 naming `path`
  // when they cannot be kept (another user's file, say). The default does
  // nothing: no owners or modes.
  virtual void KeepAccess(DbFile& from, DbFile& to,
                          const std::u16string& path) {
    (void)from, (void)to, (void)path;
  }
  // Makes the names in the directory holding `path` durable, after a
  // rename into it. The default does nothing: names are durable at once.
  virtual void SyncDirectory(const std::u16string& path) { (void)path; }
  // Returns the process-wide POSIX file system.
  static FileSystem& Default();
};

}  // namespace quorvel

#endif  // QUORVEL_FILE_SYSTEM_H_
