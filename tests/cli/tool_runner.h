// Runs the built quorvel tool: arguments in, standard input fed (in timed
// pieces if asked), both outputs and the exit status collected.
#ifndef QUORVEL_TESTS_CLI_TOOL_RUNNER_H_
#define QUORVEL_TESTS_CLI_TOOL_RUNNER_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "testing/paths.h"

namespace quorvel::testing {

struct ToolOptions {
  std::string input;  // written to standard input, which is then closed
  // More input, each piece written after waiting its milliseconds.
  std::vector<std::pair<int, std::string>> later;
  std::string stdout_path;      // standard output goes to this file
  bool ignore_sigpipe = false;  // a closed pipe shows as a failed write
  bool stdout_closed = false;   // standard output's reader is gone
  int signal = 0;               // sent once signal_after_ms have passed
  int signal_after_ms = 0;
  // As the user nobody when run as root: a file it may not write.
  bool unprivileged = false;
};

struct ToolResult {
  int status = -1;  // the exit status, or 128 + the signal that ended it
  std::string out, err;
};

#define QUORVEL_REQUIRE_TOOL()                                         \
  do {                                                                 \
    if (::quorvel::testing::ToolPath() == nullptr)                     \
      GTEST_SKIP() << "the quorvel tool is not built (tools are off)"; \
  } while (false)

inline ToolResult RunQuorvel(const std::vector<std::string>& args,
                             const ToolOptions& options = {}) {
  signal(SIGPIPE, SIG_IGN);  // a tool that stops reading must not stop us
  ToolResult result;
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 ||
      pipe2(err, O_CLOEXEC) != 0)
    return result;
  std::vector<std::string> argv_text = {ToolPath()};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(options.stdout_path.empty() ? out[1]
                                     : open(options.stdout_path.c_str(),
                                            O_WRONLY | O_CREAT | O_TRUNC, 0644),
         1);
    dup2(err[1], 2);
    signal(SIGPIPE, options.ignore_sigpipe ? SIG_IGN : SIG_DFL);
    if (options.unprivileged && geteuid() == 0 &&
        (setgid(65534) != 0 || setuid(65534) != 0)) {
      _exit(127);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (options.stdout_closed) close(std::exchange(out[0], -1));
  // A wait ends early once the tool's standard input is closed (POLLERR).
  std::thread feeder([fd = in[1], &options] {
    std::vector<std::pair<int, std::string>> pieces = {{0, options.input}};
    pieces.insert(pieces.end(), options.later.begin(), options.later.end());
    for (const auto& [wait, text] : pieces) {
      pollfd gone = {fd, 0, 0};
      if (wait > 0 && poll(&gone, 1, wait) != 0) break;
      size_t at = 0;
      for (ssize_t w; at < text.size(); at += size_t(w))
        if ((w = write(fd, text.data() + at, text.size() - at)) < 0) break;
      if (at < text.size()) break;  // the tool stopped reading
    }
    close(fd);
  });
  const auto start = std::chrono::steady_clock::now();
  bool signalled = options.signal == 0;
  for (int open_outputs = (out[0] >= 0) + 1; open_outputs > 0;) {
    if (!signalled && std::chrono::steady_clock::now() - start >=
                          std::chrono::milliseconds(options.signal_after_ms)) {
      kill(pid, options.signal);
      signalled = true;
    }
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    if (poll(fds, 2, 5) < 0 && errno != EINTR) break;
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      char buffer[65536];
      const ssize_t r = read(fds[k].fd, buffer, sizeof buffer);
      if (r > 0) {
        (k == 0 ? result.out : result.err).append(buffer, size_t(r));
      } else if (r == 0 || errno != EINTR) {
        close(fds[k].fd);
        (k == 0 ? out[0] : err[0]) = -1;
        --open_outputs;
      }
    }
  }
  feeder.join();
  int status = 0;
  waitpid(pid, &status, 0);
  result.status =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

inline std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string w; std::getline(in, w, ' ');) words.push_back(w);
  return words;
}

inline ToolResult Tool(const std::string& args,
                       const ToolOptions& options = {}) {
  return RunQuorvel(Words(args), options);
}

// One whole run: the arguments (split at spaces), standard input, the exit
// status and both outputs. With a `number`, `err` is how the message begins
// (after "quorvel: standard input" when it begins with ':') and the message
// ends with that number.
struct ToolCase {
  std::string args, input;
  int status;
  std::string out, err;
  int number = 0;
};

inline void Expect(const ToolCase& c) {
  const ToolResult r = Tool(c.args, {.input = c.input});
  const std::string shown = c.args + " < " + c.input.substr(0, 40);
  EXPECT_EQ(r.status, c.status) << shown;
  EXPECT_TRUE(r.out == c.out) << shown << "\n" << r.out.substr(0, 200);
  if (c.number == 0) {
    EXPECT_EQ(r.err, c.err) << shown;
    return;
  }
  const std::string begins =
      (c.err[0] == ':' ? "quorvel: standard input" : "") + c.err;
  const std::string ends = " (error " + std::to_string(c.number) + ")\n";
  EXPECT_TRUE(r.err.starts_with(begins) && r.err.ends_with(ends))
      << shown << "\n"
      << r.err;
}

// A directory of its own for each test, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    char name[] = "/tmp/quorvel-cli-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~ScratchDir() {
    std::error_code ec;  // a destructor must not throw
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
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace quorvel::testing

#endif  // QUORVEL_TESTS_CLI_TOOL_RUNNER_H_
