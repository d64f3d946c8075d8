#include "stores/db_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "core/std_exceptions.h"
#include "quorvel/error.h"
#include "quorvel/string.h"
#include "stores/view_guard.h"

namespace quorvel::internal {

namespace {

std::string OsPath(const std::u16string& path) {
  // A zero in the middle would silently cut the path short at the OS.
  if (path.empty() || path.find(u'\0') != std::u16string::npos)
    RaiseStandard(kErrBadFileNameOrNumber);
  return ToUtf8(path);
}

// Positions in the stores' files are signed 32-bit, so this much address
// space maps every byte a store can ever write.
constexpr size_t kMapSize = size_t{1} << 31;

// The OS's reason for `err`, as UTF-16.
std::u16string ErrnoText(int err) {
  char buf[256];
  // The GNU form returns its text, which may or may not be `buf`.
  const char* text = ::strerror_r(err, buf, sizeof buf);
  return FromUtf8(text);
}

// The largest read served from the view.
constexpr size_t kMostFromView = size_t{8} << 10;

size_t PageSize() {
  static const size_t size = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

class PosixFile final : public DbFile {
 public:
  PosixFile(int fd, std::u16string path, bool writable)
      : fd_(fd), path_(std::move(path)) {
    // A shared view of the file lets AppendOffset look at the end, reads of
    // bytes known to exist copy from it, and writes over such bytes go into
    // it, all without a system call; without it every such step asks the
    // OS. The page cache behind it is the one pread and pwrite use, so other
    // openers see it all at once, and fdatasync takes it to the device.
    // The view is only touched through guarded copies: another program
    // may cut the file short under it at any time.
    if (!InstallViewGuard()) return;
    const int protection = writable ? PROT_READ | PROT_WRITE : PROT_READ;
    void* map = ::mmap(nullptr, kMapSize, protection, MAP_SHARED, fd_, 0);
    if (map != MAP_FAILED) {
      map_ = static_cast<uint8_t*>(map);
      writable_ = writable;
    }
  }
  // Closing the last descriptor of the open file also drops its lock.
  ~PosixFile() override {
    if (map_ != nullptr) ::munmap(map_, kMapSize);
    ::close(fd_);
  }

  int fd() const { return fd_; }

  void ReadAt(int64_t offset, std::span<uint8_t> out) override {
    if (ReadSome(offset, out) != out.size()) RaiseStandard(kErrInputPastEnd);
  }

  size_t ReadSome(int64_t offset, std::span<uint8_t> out) override {
    if (offset < 0) RaiseStandard(kErrBadFileNameOrNumber);
    // The view serves a small read below the end this object last learnt
    // without asking the OS again. Should another program have cut the
    // file short since, a page past the new end faults (the guarded copy
    // fails) and the rest of the last page reads as zeros: so a copy is
    // believed when its last byte, or one after it in its page, is not
    // zero, and otherwise once the OS confirms the end (under the lock,
    // once per lock). Either way a file cut short gives a short read,
    // never a SIGBUS or zeros in place of its bytes. Under the lock the
    // view also spares the header read of every write an atime update,
    // which a pread after a write costs each time.
    const int64_t end = offset + static_cast<int64_t>(out.size());
    if (map_ != nullptr && out.size() <= kMostFromView &&
        static_cast<uint64_t>(end) <= kMapSize) {
      if (end > known_end_ && !end_confirmed_) AskEnd();
      if (end <= known_end_) {
        if (out.empty()) return 0;
        if (CopyFromView(out.data(), map_ + offset, out.size()) &&
            (end_confirmed_ || out.back() != 0 || StillReaches(end))) {
          return out.size();
        }
        if (!end_confirmed_) {
          AskEnd();
          if (end <= known_end_ &&
              CopyFromView(out.data(), map_ + offset, out.size())) {
            return out.size();
          }
        }
      }
    }
    size_t done = 0;
    while (done < out.size()) {
      ssize_t n = ::pread(fd_, out.data() + done, out.size() - done,
                          static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        RaiseFileError(errno, path_);
      }
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    return done;
  }

  void WriteAt(int64_t offset, std::span<const uint8_t> data) override {
    if (offset < 0) RaiseStandard(kErrBadFileNameOrNumber);
    const int64_t end = offset + static_cast<int64_t>(data.size());
    // Only an append right at the known end keeps the end known; any other
    // write past it, or a failed one, leaves the length to be asked for.
    int64_t next_known = -1;
    if (offset == known_end_) {
      next_known = end;
    } else if (known_end_ >= 0 && end <= known_end_) {
      next_known = known_end_;
    }
    known_end_ = -1;
    size_t done = 0;
    while (done < data.size()) {
      ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done,
                           static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        RaiseFileError(errno, path_);
      }
      // A write that makes no progress is a full device in all but name.
      if (n == 0) RaiseFileError(ENOSPC, path_);
      done += static_cast<size_t>(n);
    }
    known_end_ = next_known;
  }

  void WriteInPlace(int64_t offset, std::span<const uint8_t> data) override {
    const int64_t end = offset + static_cast<int64_t>(data.size());
    if (!writable_ || offset < 0 || end > known_end_ ||
        static_cast<uint64_t>(end) > kMapSize) {
      WriteAt(offset, data);
      return;
    }
    // A file cut short under the view leaves the write to the OS, which
    // puts the bytes where they belong whatever the end.
    if (!CopyToView(map_ + offset, data.data(), data.size()))
      WriteAt(offset, data);
  }

  int64_t Length() override {
    AskEnd();
    return known_end_;
  }

  // Used under the lock only: the answer holds until it is released.
  int64_t AppendOffset() override {
    // Past the end of the file, the rest of its last page reads as zeros.
    // So a non-zero last byte where the known end was, followed by a zero,
    // shows the file still reaching that end and nobody having appended
    // there. An end on a page boundary has no such page to look at (the
    // copy would fault, which costs more than asking), and neither has a
    // file without the view.
    if (map_ != nullptr && known_end_ > 0 &&
        static_cast<uint64_t>(known_end_) < kMapSize &&
        static_cast<size_t>(known_end_) % PageSize() != 0) {
      uint8_t around[2];
      if (CopyFromView(around, map_ + known_end_ - 1, 2) && around[0] != 0 &&
          around[1] == 0) {
        end_confirmed_ = locked_;
        return known_end_;
      }
    }
    return Length();
  }

  void FlushData() override {
    if (::fdatasync(fd_) != 0 && errno != EINVAL) RaiseFileError(errno, path_);
  }

  void LockExclusive() override {
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;  // to the end, however far the file grows
    while (::fcntl(fd_, F_OFD_SETLKW, &fl) != 0) {
      // A file system without locks serves a lone writer; any other
      // refusal must stop the write rather than let it race.
      if (errno == ENOLCK || errno == EOPNOTSUPP) break;
      if (errno != EINTR) RaiseFileError(errno, path_);
    }
    locked_ = true;
    end_confirmed_ = false;
  }

  void Unlock() override {
    locked_ = false;
    end_confirmed_ = false;
    struct flock fl = {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    if (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) RaiseFileError(errno, path_);
  }

 private:
  // Whether a byte at or past `end` in the page that holds byte `end` - 1
  // is not zero: then the file still holds every byte before `end`.
  bool StillReaches(int64_t end) const {
    const size_t page = PageSize();
    const size_t limit =
        std::min((static_cast<size_t>(end) - 1) / page * page + page, kMapSize);
    return AnyNonZeroInView(map_ + end, map_ + limit);
  }

  void AskEnd() {
    known_end_ = -1;
    // lseek, not fstat: glibc's fstat is an fstatat of "" that costs
    // several times as much. Nothing reads the offset.
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0) RaiseFileError(errno, path_);
    known_end_ = static_cast<int64_t>(end);
    end_confirmed_ = locked_;
  }

  int fd_;
  std::u16string path_;
  uint8_t* map_ = nullptr;  // kMapSize bytes, or null
  bool writable_ = false;   // whether map_ may be written
  // The length of the file when this object last learnt it (from the OS or
  // from its own appends); -1 when unknown.
  int64_t known_end_ = -1;
  // Whether this object holds the lock, and whether `known_end_` was
  // learnt from the OS (or this object's own appends) since it took it.
  bool locked_ = false;
  bool end_confirmed_ = false;
};

class PosixFileSystem final : public FileSystem {
 public:
  std::unique_ptr<DbFile> Open(const std::u16string& path,
                               OpenMode mode) override {
    std::string os_path = OsPath(path);
    int flags = O_CLOEXEC;
    switch (mode) {
      case OpenMode::kCreate:
        flags |= O_RDWR | O_CREAT;
        break;
      case OpenMode::kExisting:
        flags |= O_RDWR;
        break;
      case OpenMode::kReadOnly:
        flags |= O_RDONLY;
        break;
    }
    // Not blocking: opening a FIFO at the path would otherwise wait for a
    // writer forever before the check below could refuse it.
    int fd;
    do {
      fd = ::open(os_path.c_str(), flags | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      // With O_CREAT a missing entry can only be a missing directory.
      if (errno == ENOENT && mode == OpenMode::kCreate)
        RaisePathError(kErrPathNotFound, path, ErrnoText(errno));
      RaiseFileError(errno, path);
    }
    // A directory or device opened by mistake is no database file.
    struct stat st;
    int err = 0;
    if (::fstat(fd, &st) != 0) {
      err = errno;
    } else if (!S_ISREG(st.st_mode)) {
      err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    }
    if (err == 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) err = errno;
    if (err != 0) {
      ::close(fd);
      if (err == EINVAL) {
        RaisePathError(kErrPathFileAccess, path, u"not a regular file");
      }
      RaiseFileError(err, path);
    }
    try {
      return internal::TranslateStdExceptions([&] {
        return std::make_unique<PosixFile>(fd, path,
                                           mode != OpenMode::kReadOnly);
      });
    } catch (...) {
      ::close(fd);
      throw;
    }
  }

  bool Exists(const std::u16string& path) override {
    if (path.empty() || path.find(u'\0') != std::u16string::npos) return false;
    struct stat st;
    return ::stat(ToUtf8(path).c_str(), &st) == 0;
  }

  void Delete(const std::u16string& path) override {
    if (::unlink(OsPath(path).c_str()) != 0) RaiseFileError(errno, path);
  }

  void Rename(const std::u16string& from, const std::u16string& to) override {
    if (::rename(OsPath(from).c_str(), OsPath(to).c_str()) != 0)
      RaiseFileError(errno, from);
  }

  bool StillAt(const std::u16string& path, DbFile& file) override {
    auto* posix = dynamic_cast<PosixFile*>(&file);
    if (posix == nullptr) return false;
    struct stat open_st, path_st;
    if (::fstat(posix->fd(), &open_st) != 0) RaiseFileError(errno, path);
    if (path.empty() || path.find(u'\0') != std::u16string::npos) return false;
    if (::stat(ToUtf8(path).c_str(), &path_st) != 0) return false;
    return open_st.st_dev == path_st.st_dev && open_st.st_ino == path_st.st_ino;
  }

  std::u16string ResolveLinks(const std::u16string& path) override {
    char* real = ::realpath(OsPath(path).c_str(), nullptr);
    if (real == nullptr) RaiseFileError(errno, path);
    std::u16string resolved = FromUtf8(real);
    std::free(real);
    return resolved;
  }

  void KeepAccess(DbFile& from, DbFile& to,
                  const std::u16string& path) override {
    auto* old_file = dynamic_cast<PosixFile*>(&from);
    auto* new_file = dynamic_cast<PosixFile*>(&to);
    if (old_file == nullptr || new_file == nullptr) return;
    struct stat old_st, new_st;
    if (::fstat(old_file->fd(), &old_st) != 0) RaiseFileError(errno, path);
    if (::fstat(new_file->fd(), &new_st) != 0) RaiseFileError(errno, path);
    // The owner first: changing it clears the set-id bits the mode restores.
    if ((old_st.st_uid != new_st.st_uid || old_st.st_gid != new_st.st_gid) &&
        ::fchown(new_file->fd(), old_st.st_uid, old_st.st_gid) != 0) {
      const std::u16string reason = ErrnoText(errno);
      RaisePathError(kErrPathFileAccess, path,
                     u"cannot give the compacted file the owner " +
                         FromUtf8(std::to_string(old_st.st_uid) + ":" +
                                  std::to_string(old_st.st_gid)) +
                         u": " + reason);
    }
    if (::fchmod(new_file->fd(), old_st.st_mode & 07777) != 0) {
      const std::u16string reason = ErrnoText(errno);
      RaisePathError(kErrPathFileAccess, path,
                     u"cannot give the compacted file its mode: " + reason);
    }
  }

  void SyncDirectory(const std::u16string& path) override {
    const size_t slash = path.rfind(u'/');
    const std::u16string dir = slash == std::u16string::npos ? u"."
                               : slash == 0                  ? u"/"
                                            : path.substr(0, slash);
    int fd;
    do {
      fd = ::open(OsPath(dir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) RaiseFileError(errno, dir);
    // Some file systems cannot sync a directory (EINVAL); their names are
    // as durable as they get.
    const int err = ::fsync(fd) != 0 && errno != EINVAL ? errno : 0;
    ::close(fd);
    if (err != 0) RaiseFileError(err, dir);
  }
};

std::u16string_view FileErrorNumberText(int err, int32_t* number) {
  switch (err) {
    case ENOENT:
      *number = kErrFileNotFound;
      break;
    case ENOTDIR:
      *number = kErrPathNotFound;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
    case EBUSY:
    case EEXIST:
    case ENOTEMPTY:
    case EXDEV:
      *number = kErrPathFileAccess;
      break;
    case ENAMETOOLONG:
    case EINVAL:
    case EBADF:
    case ELOOP:
    case EMFILE:
    case ENFILE:
      *number = kErrBadFileNameOrNumber;
      break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      *number = kErrDiskFull;
      break;
    case ENOMEM:
      *number = kErrOutOfMemory;
      break;
    default:
      *number = kErrDeviceIo;
  }
  return StandardDescription(*number);
}

}  // namespace

}  // namespace quorvel::internal

namespace quorvel {

FileSystem& FileSystem::Default() {
  static internal::PosixFileSystem* fs =
      new internal::PosixFileSystem;  // never destroyed
  return *fs;
}

}  // namespace quorvel

namespace quorvel::internal {

void RaiseFileError(int err) {
  int32_t number = 0;
  FileErrorNumberText(err, &number);
  RaiseStandard(number);
}

void RaiseFileError(int err, std::u16string_view path) {
  int32_t number = 0;
  FileErrorNumberText(err, &number);
  if (number == kErrOutOfMemory) RaiseStandard(number);
  RaisePathError(number, path, ErrnoText(err));
}

void RaisePathError(int32_t number, std::u16string_view path,
                    std::u16string_view reason) {
  std::u16string text(StandardDescription(number));
  text += u": ";
  text += path;
  text += u" (";
  text += reason;
  text += u")";
  ErrorRaise(number, kLibrarySource, text);
}

}  // namespace quorvel::internal
