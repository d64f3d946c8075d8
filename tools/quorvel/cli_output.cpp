// Writing the output: standard output, or a file replaced only when the
// whole of the new content is in place.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "cli.h"

namespace quorvel::cli {

namespace {

constexpr size_t kBufferSize = size_t{256} << 10;

// The temporary files being written, for the signal handler, which may
// call only async-signal-safe functions: fixed buffers, each with a flag
// set once its path is in place.
constexpr int kGuardSlots = 4;
char g_temp_paths[kGuardSlots][PATH_MAX + 32];
volatile sig_atomic_t g_temp_set[kGuardSlots] = {};

extern "C" void RemoveTemporariesAndStop(int sig) {
  for (int i = 0; i < kGuardSlots; ++i)
    if (g_temp_set[i]) unlink(g_temp_paths[i]);
  signal(sig, SIG_DFL);
  raise(sig);
}

void InstallHandler() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action {};
  action.sa_handler = RemoveTemporariesAndStop;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal the caller ignores stays ignored (nohup, background jobs).
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
      continue;
    sigaction(sig, &action, nullptr);
  }
}

mode_t DefaultMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

TemporaryGuard::TemporaryGuard(const std::string& path) {
  if (path.size() >= sizeof g_temp_paths[0]) return;
  for (int i = 0; i < kGuardSlots; ++i) {
    if (g_temp_set[i]) continue;
    std::memcpy(g_temp_paths[i], path.c_str(), path.size() + 1);
    g_temp_set[i] = 1;
    slot_ = i;
    InstallHandler();
    return;
  }
}

TemporaryGuard::~TemporaryGuard() { Release(); }

void TemporaryGuard::Release() {
  if (slot_ >= 0) g_temp_set[slot_] = 0;
  slot_ = -1;
}

Output::Output(std::string_view path) : buffer_(kBufferSize) {
  if (path == "-") {
    name_ = "standard output";
    return;
  }
  name_ = path;
  // A device, a pipe or anything else that is not a regular file is
  // written where it is: renaming over it would replace it.
  struct stat st;
  if (stat(name_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    fd_ = open(name_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) FailFile(name_, errno);
    return;
  }
  // A symbolic link keeps pointing at the file it named.
  path_ = name_;
  if (char* real = realpath(name_.c_str(), nullptr)) {
    path_ = real;
    std::free(real);
  }
  temp_ = path_ + ".quorvel-XXXXXX";
  fd_ = mkstemp(temp_.data());
  if (fd_ < 0) {
    const int err = errno;
    temp_.clear();
    FailFile(name_, err);
  }
  guard_.emplace(temp_);
}

Output::~Output() {
  if (finished_) return;
  if (!temp_.empty()) {
    close(fd_);
    unlink(temp_.c_str());
    guard_.reset();
    return;
  }
  // Standard output or a device gets what was made before the failure, as
  // from any filter; a write that fails now has nobody left to tell.
  for (size_t at = 0; at < used_;) {
    const ssize_t n = write(fd_, buffer_.data() + at, used_ - at);
    if (n <= 0 && errno != EINTR) break;
    if (n > 0) at += static_cast<size_t>(n);
  }
  if (fd_ > 2) close(fd_);
}

void Output::WriteOut(const char* data, size_t size) {
  flushed_ += size;
  while (size > 0) {
    const ssize_t n = write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      FailFile(name_, errno);
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

void Output::Flush() {
  WriteOut(buffer_.data(), used_);
  used_ = 0;
}

void Output::Write(const void* data, size_t size) {
  if (size == 0) return;  // `data` may then be null
  const char* bytes = static_cast<const char*>(data);
  if (size >= kBufferSize / 2) {
    Flush();
    WriteOut(bytes, size);
    return;
  }
  if (buffer_.size() - used_ < size) Flush();
  std::memcpy(buffer_.data() + used_, bytes, size);
  used_ += size;
}

void Output::Line(std::u16string_view text) {
  std::string line;
  AppendUtf8(text, &line);
  line += '\n';
  Write(line);
}

char* Output::Room(size_t size) {
  if (buffer_.size() - used_ < size) Flush();
  return buffer_.data() + used_;
}

void Output::Finish() {
  Flush();
  finished_ = true;
  if (temp_.empty()) {
    if (fd_ > 2 && close(fd_) != 0) FailFile(name_, errno);
    return;
  }
  // The new file takes the mode of the one it replaces, or the usual one.
  struct stat st;
  const mode_t mode =
      stat(path_.c_str(), &st) == 0 ? (st.st_mode & 07777) : DefaultMode();
  const auto fail = [&](int err) {
    close(fd_);
    unlink(temp_.c_str());
    guard_.reset();
    FailFile(name_, err);
  };
  if (fchmod(fd_, mode) != 0 || fsync(fd_) != 0) fail(errno);
  if (close(fd_) != 0) {
    const int err = errno;
    fd_ = -1;
    fail(err);
  }
  if (rename(temp_.c_str(), path_.c_str()) != 0) {
    const int err = errno;
    unlink(temp_.c_str());
    guard_.reset();
    FailFile(name_, err);
  }
  guard_.reset();
}

}  // namespace quorvel::cli
