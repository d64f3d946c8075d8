#include "stores/db_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <new>
#include <string>

#include "quorvel/error.h"
#include "quorvel/string.h"

namespace quorvel::internal {

namespace {

constexpr int32_t kErrInputPastEnd = 62;

std::string OsPath(const std::u16string& path) {
  // A zero in the middle would silently cut the path short at the OS.
  if (path.empty() || path.find(u'\0') != std::u16string::npos)
    RaiseStandard(kErrBadFileNameOrNumber);
  return ToUtf8(path);
}

class PosixFile final : public DbFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  // Closing the last descriptor of the open file also drops its lock.
  ~PosixFile() override { ::close(fd_); }

  void ReadAt(int64_t offset, std::span<uint8_t> out) override {
    if (ReadSome(offset, out) != out.size()) RaiseStandard(kErrInputPastEnd);
  }

  size_t ReadSome(int64_t offset, std::span<uint8_t> out) override {
    if (offset < 0) RaiseStandard(kErrBadFileNameOrNumber);
    size_t done = 0;
    while (done < out.size()) {
      ssize_t n = ::pread(fd_, out.data() + done, out.size() - done,
                          static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        RaiseFileError(errno);
      }
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    return done;
  }

  void WriteAt(int64_t offset, std::span<const uint8_t> data) override {
    if (offset < 0) RaiseStandard(kErrBadFileNameOrNumber);
    size_t done = 0;
    while (done < data.size()) {
      ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done,
                           static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        RaiseFileError(errno);
      }
      // A write that makes no progress is a full device in all but name.
      if (n == 0) RaiseFileError(ENOSPC);
      done += static_cast<size_t>(n);
    }
  }

  int64_t Length() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) RaiseFileError(errno);
    return static_cast<int64_t>(st.st_size);
  }

  void FlushData() override {
    if (::fdatasync(fd_) != 0 && errno != EINVAL) RaiseFileError(errno);
  }

  void LockExclusive() override {
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;  // to the end, however far the file grows
    while (::fcntl(fd_, F_OFD_SETLKW, &fl) != 0) {
      if (errno != EINTR) RaiseFileError(errno);
    }
  }

  void Unlock() override {
    struct flock fl = {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    if (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) RaiseFileError(errno);
  }

  void Truncate(int64_t length) override {
    while (::ftruncate(fd_, static_cast<off_t>(length)) != 0) {
      if (errno != EINTR) RaiseFileError(errno);
    }
  }

 private:
  int fd_;
};

class PosixFileSystem final : public FileSystem {
 public:
  std::unique_ptr<DbFile> Open(const std::u16string& path) override {
    std::string os_path = OsPath(path);
    int fd;
    do {
      fd = ::open(os_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      // With O_CREAT a missing entry can only be a missing directory.
      if (errno == ENOENT) RaiseStandard(kErrPathNotFound);
      RaiseFileError(errno);
    }
    // A directory or device opened by mistake is no database file.
    struct stat st;
    int err = 0;
    if (::fstat(fd, &st) != 0) {
      err = errno;
    } else if (!S_ISREG(st.st_mode)) {
      err = EISDIR;
    }
    if (err != 0) {
      ::close(fd);
      RaiseFileError(err);
    }
    try {
      return std::make_unique<PosixFile>(fd);
    } catch (const std::bad_alloc&) {
      ::close(fd);
      RaiseStandard(kErrOutOfMemory);
    }
  }

  bool Exists(const std::u16string& path) override {
    if (path.empty() || path.find(u'\0') != std::u16string::npos) return false;
    struct stat st;
    return ::stat(ToUtf8(path).c_str(), &st) == 0;
  }

  void Delete(const std::u16string& path) override {
    if (::unlink(OsPath(path).c_str()) != 0) RaiseFileError(errno);
  }

  void Rename(const std::u16string& from, const std::u16string& to) override {
    if (::rename(OsPath(from).c_str(), OsPath(to).c_str()) != 0)
      RaiseFileError(errno);
  }
};

}  // namespace

FileSystem& FileSystem::Default() {
  static PosixFileSystem* fs = new PosixFileSystem;  // never destroyed
  return *fs;
}

void RaiseFileError(int err) {
  switch (err) {
    case ENOENT:
      RaiseStandard(kErrFileNotFound);
    case ENOTDIR:
      RaiseStandard(kErrPathNotFound);
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
    case EBUSY:
    case EEXIST:
    case ENOTEMPTY:
    case EXDEV:
      RaiseStandard(kErrPathFileAccess);
    case ENAMETOOLONG:
    case EINVAL:
    case EBADF:
    case ELOOP:
    case EMFILE:
    case ENFILE:
      RaiseStandard(kErrBadFileNameOrNumber);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      RaiseStandard(kErrDiskFull);
    case ENOMEM:
      RaiseStandard(kErrOutOfMemory);
    default:
      RaiseStandard(kErrDeviceIo);
  }
}

}  // namespace quorvel::internal
