// The progress line of long work.
#include <unistd.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <string>

#include "cli.h"

namespace quorvel::cli {

namespace {

using Clock = std::chrono::steady_clock;

// Work shorter than this shows nothing.
constexpr auto kQuietStart = std::chrono::seconds(1);
constexpr auto kRedraw = std::chrono::milliseconds(200);

std::string Bytes(double n) {
  static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  while (n >= 1024 && unit < 4) {
    n /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", n,
                kUnits[unit]);
  return text;
}

std::string Duration(double seconds) {
  const long long s = std::llround(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60,
                s % 60);
  return text;
}

}  // namespace

Progress::Progress(ProgressMode mode, std::string label,
                   std::optional<uint64_t> total)
    : enabled_(mode == ProgressMode::kOn ||
               (mode == ProgressMode::kAuto && isatty(2) == 1)),
      on_terminal_(isatty(2) == 1),
      label_(std::move(label)),
      total_(total),
      start_(Clock::now()),
      next_(start_ + kQuietStart) {}

void Progress::Tick() {
  const Clock::time_point now = Clock::now();
  if (now < next_) return;
  next_ = now + kRedraw;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = done_ / seconds;
  std::string line = "quorvel " + label_ + ": " + Bytes(done_);
  if (total_ && *total_ > 0) {
    char share[16];
    std::snprintf(share, sizeof share, " (%d%%)",
                  static_cast<int>(100.0 * done_ / *total_));
    line += " of " + Bytes(*total_) + share;
  }
  line += ", " + Bytes(rate) + "/s";
  if (total_ && rate > 0 && *total_ > done_)
    line += ", " + Duration((*total_ - done_) / rate) + " left";
  // A terminal gets one line redrawn in place; anything else a line each
  // time.
  line = on_terminal_ ? "\r" + line + "\033[K" : line + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  shown_ = true;
}

void Progress::Done() {
  if (shown_ && on_terminal_) std::fputs("\r\033[K", stderr);
  shown_ = false;
  enabled_ = false;
}

}  // namespace quorvel::cli
