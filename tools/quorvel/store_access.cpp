#include "store_access.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quorvel::cli {

namespace {

// The size of the file at `path`; nothing when there is none.
std::optional<uint64_t> SizeOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

}  // namespace

OpenOptions OptionsFor(Access access) {
  OpenOptions options;
  options.read_only = access == Access::kRead;
  options.create_if_missing = access == Access::kCreate;
  // What the tool checks before it opens, the store checks again under
  // writing: nothing is stored as a '?' or a rounding.
  options.exact = true;
  return options;
}

void WarnDamage(std::string_view path, const FileDamage& damage) {
  if (!damage.any()) return;
  Warn(path, std::to_string(damage.bytes) + " bytes after offset " +
                 std::to_string(damage.offset) +
                 " could not be read (a damaged record); nothing is written "
                 "to the file until a compaction discards them");
}

void FailStore(std::string_view path, const Error& e) {
  const std::string text = ToUtf8(e.description());
  const std::string named =
      ToUtf8(StandardDescription(e.number())) + ": " + std::string(path) + " (";
  if (text.size() > named.size() && text.rfind(named, 0) == 0 &&
      text.back() == ')') {
    throw Failure(std::string(path),
                  text.substr(named.size(), text.size() - named.size() - 1),
                  e.number());
  }
  throw Failure(std::string(path), text, e.number());
}

int RunOnStore(
    const Args& args, std::string_view actions,
    const std::function<void(std::string_view path, std::string_view action,
                             Output&)>& work) {
  const std::vector<std::string_view>& p = args.positional();
  if (p.size() < 2) args.Fail("say which FILE and what to do");
  const std::string_view action = args.Action(actions, 1);
  Output out(args.output());
  try {
    work(p[0], action, out);
  } catch (const Error& e) {
    FailStore(p[0], e);
  }
  out.Finish();
  return kExitOk;
}

void ExpectArguments(const Args& args, size_t n) {
  const std::vector<std::string_view>& p = args.positional();
  const size_t given = p.size() - 2;
  if (given != n) {
    args.Fail(std::string(p[1]) + " takes " + std::to_string(n) +
              (n == 1 ? " argument" : " arguments") + ", not " +
              std::to_string(given));
  }
}

void CompactStore(const Args& args, std::string_view path,
                  const TrackedCompaction& compact, Output& out) {
  const std::string file(path);
  const std::optional<uint64_t> before = SizeOf(file);

  std::mutex mutex;
  std::condition_variable wake;
  bool done = false;
  std::string temp;  // the temporary file while this compaction owns it
  std::optional<TemporaryGuard> guard;
  std::thread watcher([&] {
    Progress progress(args.progress(), std::string(args.verb()) + " compact",
                      std::nullopt);
    uint64_t shown = 0;
    std::unique_lock<std::mutex> lock(mutex);
    while (!wake.wait_for(lock, std::chrono::milliseconds(100),
                          [&] { return done; })) {
      const uint64_t now = temp.empty() ? 0 : SizeOf(temp).value_or(0);
      if (now > shown) progress.Advance(now - shown);
      shown = std::max(shown, now);
    }
  });
  const auto track = [&](const std::u16string& temp_path) {
    std::lock_guard<std::mutex> lock(mutex);
    temp = ToUtf8(temp_path);
    guard.reset();
    if (!temp.empty()) guard.emplace(temp);
  };
  const auto stop = [&] {
    {
      std::lock_guard<std::mutex> lock(mutex);
      done = true;
      guard.reset();
    }
    wake.notify_one();
    watcher.join();
  };
  try {
    compact(track);
  } catch (...) {
    stop();
    throw;
  }
  stop();
  out.Write(file + ": " + std::to_string(before.value_or(0)) +
            " bytes before, " + std::to_string(SizeOf(file).value_or(0)) +
            " after\n");
}

}  // namespace quorvel::cli
