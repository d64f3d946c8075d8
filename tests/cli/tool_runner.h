// Runs the built quorvel tool for end-to-end tests: arguments in, standard
// input fed (in timed pieces if asked), standard output and standard error
// collected, the exit status returned. Standard output may go to a file
// (/dev/full) and standard error to a pseudo-terminal, and a signal may be
// sent mid-run. Any verb's tests use it:
//
//   ToolResult r = RunQuorvel({"json", "check"}, {.input = "[1,2"});
//   EXPECT_EQ(r.status, 1);
//   EXPECT_EQ(r.err, "quorvel: standard input:1:5: ... (error 9)\n");
#ifndef QUORVEL_TESTS_CLI_TOOL_RUNNER_H_
#define QUORVEL_TESTS_CLI_TOOL_RUNNER_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel::testing {

struct ToolOptions {
  // Written to standard input, which is then closed.
  std::string input;
  // More input, each piece written after waiting its milliseconds.
  std::vector<std::pair<int, std::string>> later;
  // Standard output goes to this file instead of being collected.
  std::string stdout_path;
  // Standard error is a pseudo-terminal.
  bool stderr_terminal = false;
  // SIGPIPE is ignored, so a closed pipe shows as a failed write.
  bool ignore_sigpipe = false;
  // Standard output is a pipe whose reader is gone.
  bool stdout_closed = false;
  // Sends `signal` once `signal_after_ms` have passed (0: never).
  int signal = 0;
  int signal_after_ms = 0;
  std::string cwd;
  // Runs as the user nobody when the test runs as root, for what only an
  // unprivileged user meets (a file it may not write).
  bool unprivileged = false;
};

struct ToolResult {
  int status = -1;  // the exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;
  // The tool's largest resident size, read from /proc while it runs (the
  // figures of wait4 also count the test's own pages it held before exec).
  long peak_rss_kb = 0;
};

// The tool's path; tests skip when the build has no tool.
inline const char* ToolPath() {
#ifdef QUORVEL_TOOL_PATH
  return QUORVEL_TOOL_PATH;
#else
  return nullptr;
#endif
}

#define QUORVEL_REQUIRE_TOOL()                                         \
  do {                                                                 \
    if (::quorvel::testing::ToolPath() == nullptr)                     \
      GTEST_SKIP() << "the quorvel tool is not built (tools are off)"; \
  } while (false)

// Raises `*peak_kb` to the process's high-water resident size, once it is
// the tool (after exec).
inline void SamplePeak(pid_t pid, long* peak_kb) {
  const std::string dir = "/proc/" + std::to_string(pid);
  std::ifstream comm(dir + "/comm");
  std::string name;
  if (!std::getline(comm, name) || name != "quorvel") return;
  std::ifstream status(dir + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0)
      *peak_kb = std::max(*peak_kb, std::stol(line.substr(6)));
  }
}

inline ToolResult RunQuorvel(const std::vector<std::string>& args,
                             const ToolOptions& options = {}) {
  // A tool that stops reading must not stop the test with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  ToolResult result;
  int in[2], out[2], err[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return result;
  int terminal = -1;
  if (options.stderr_terminal) {
    if (openpty(&err[0], &terminal, nullptr, nullptr, nullptr) != 0)
      return result;
    fcntl(err[0], F_SETFD, FD_CLOEXEC);
    fcntl(terminal, F_SETFD, FD_CLOEXEC);
  } else if (pipe2(err, O_CLOEXEC) != 0) {
    return result;
  }
  const int err_write = options.stderr_terminal ? terminal : err[1];
  std::vector<std::string> argv_text = {ToolPath()};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    if (!options.stdout_path.empty()) {
      const int fd =
          open(options.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
    } else {
      dup2(out[1], 1);
    }
    dup2(err_write, 2);
    signal(SIGPIPE, options.ignore_sigpipe ? SIG_IGN : SIG_DFL);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(127);
    if (options.unprivileged && geteuid() == 0 &&
        (setgid(65534) != 0 || setuid(65534) != 0)) {
      _exit(127);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err_write);
  if (options.stdout_closed) {
    close(out[0]);
    out[0] = -1;
  }

  // Feeds the input while collecting both outputs, so that no pipe fills.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const auto ms_since = [](Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                                 t)
        .count();
  };
  fcntl(in[1], F_SETFL, O_NONBLOCK);
  std::vector<std::pair<int, std::string>> pieces = {{0, options.input}};
  pieces.insert(pieces.end(), options.later.begin(), options.later.end());
  size_t piece = 0, written = 0;
  Clock::time_point piece_from = start;  // the wait runs from here
  int in_fd = in[1];
  bool signalled = options.signal == 0;
  int open_outputs = (out[0] >= 0) + 1;
  while (open_outputs > 0) {
    if (!signalled && ms_since(start) >= options.signal_after_ms) {
      kill(pid, options.signal);
      signalled = true;
    }
    SamplePeak(pid, &result.peak_rss_kb);
    // The next piece is due once its wait is over; empty ones pass at once.
    while (in_fd >= 0 && piece < pieces.size() && written == 0 &&
           pieces[piece].second.empty() &&
           ms_since(piece_from) >= pieces[piece].first) {
      ++piece;
      piece_from = Clock::now();
    }
    if (in_fd >= 0 && piece == pieces.size()) {
      close(in_fd);
      in_fd = -1;
    }
    const bool due =
        in_fd >= 0 && piece < pieces.size() &&
        (written > 0 || ms_since(piece_from) >= pieces[piece].first);
    pollfd fds[3];
    int n = 0;
    if (due) fds[n++] = {in_fd, POLLOUT, 0};
    if (out[0] >= 0) fds[n++] = {out[0], POLLIN, 0};
    if (err[0] >= 0) fds[n++] = {err[0], POLLIN, 0};
    if (poll(fds, static_cast<nfds_t>(n), 5) < 0 && errno != EINTR) break;
    for (int k = 0; k < n; ++k) {
      if (fds[k].revents == 0) continue;
      if (fds[k].fd == in_fd) {
        const std::string& text = pieces[piece].second;
        const ssize_t w =
            write(in_fd, text.data() + written, text.size() - written);
        if (w < 0 && errno != EAGAIN) {
          close(in_fd);  // the tool stopped reading
          in_fd = -1;
        } else if (w > 0 &&
                   (written += static_cast<size_t>(w)) == text.size()) {
          ++piece;
          written = 0;
          piece_from = Clock::now();
        }
        continue;
      }
      char buffer[65536];
      const ssize_t r = read(fds[k].fd, buffer, sizeof buffer);
      if (r > 0) {
        (fds[k].fd == out[0] ? result.out : result.err)
            .append(buffer, static_cast<size_t>(r));
      } else if (r == 0 || errno != EINTR) {
        // End of file, or EIO once the terminal's other side is closed.
        close(fds[k].fd);
        (fds[k].fd == out[0] ? out[0] : err[0]) = -1;
        --open_outputs;
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

// One run and all that it should give: the exit status and both outputs.
struct ToolCase {
  std::vector<std::string> args;
  std::string input;
  int status;
  std::string out;
  std::string err;
};

inline void ExpectTool(const ToolCase& c) {
  const ToolResult r = RunQuorvel(c.args, {.input = c.input});
  const std::string shown = c.input.substr(0, 60);
  EXPECT_EQ(r.status, c.status) << shown;
  EXPECT_EQ(r.out, c.out) << shown;
  EXPECT_EQ(r.err, c.err) << shown;
}

// A directory of its own for each test, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    char name[] = "/tmp/quorvel-cli-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string Path(std::string_view name) const {
    return path_ + "/" + std::string(name);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)),
                     std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace quorvel::testing

#endif  // QUORVEL_TESTS_CLI_TOOL_RUNNER_H_
