// Reading the input: files and standard input in pieces, and UTF-8 text
// checked byte by byte on its way to UTF-16.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"

namespace quorvel::cli {

namespace {

std::string& CurrentInputName() {
  static std::string name;
  return name;
}

// Characters in UTF-8 bytes: the bytes that do not continue one.
int64_t Characters(const uint8_t* p, const uint8_t* end) {
  int64_t n = 0;
  for (; p < end; ++p) n += (*p & 0xC0) != 0x80;
  return n;
}

// Moves a place (line, column) past the UTF-8 text [from, to).
void Advance(const uint8_t* from, const uint8_t* to, int64_t& line,
             int64_t& column) {
  const uint8_t* last_lf = static_cast<const uint8_t*>(
      memrchr(from, '\n', static_cast<size_t>(to - from)));
  if (last_lf == nullptr) {
    column += Characters(from, to);
    return;
  }
  line += std::count(from, last_lf + 1, '\n');
  column = 1 + Characters(last_lf + 1, to);
}

}  // namespace

const std::string& CurrentInput() { return CurrentInputName(); }

Input::Input(std::string_view path, ProgressMode progress,
             std::string_view label) {
  if (path == "-") {
    name_ = "standard input";
    fd_ = 0;
  } else {
    name_ = path;
    fd_ = open(name_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) FailFile(name_, errno);
  }
  CurrentInputName() = name_;
  std::optional<uint64_t> total;
  struct stat st;
  if (fstat(fd_, &st) == 0 && S_ISREG(st.st_mode))
    total = static_cast<uint64_t>(st.st_size);
  progress_.emplace(progress, std::string(label), total);
}

Input::~Input() {
  if (fd_ > 2) close(fd_);
}

std::span<const uint8_t> Input::Next(size_t limit) {
  if (ahead_) {
    std::span<const uint8_t> piece = *ahead_;
    ahead_.reset();
    return piece;
  }
  limit = std::min(limit, kChunk);
  if (buffer_.size() < limit) buffer_.resize(limit);
  ssize_t n;
  do {
    n = read(fd_, buffer_.data(), limit);
  } while (n < 0 && errno == EINTR);
  if (n < 0) FailFile(name_, errno);
  offset_ += static_cast<uint64_t>(n);
  progress_->Advance(static_cast<uint64_t>(n));
  if (n == 0) progress_->Done();
  return {buffer_.data(), static_cast<size_t>(n)};
}

bool Input::AtEnd() {
  if (!ahead_) ahead_ = Next();
  return ahead_->empty();
}

std::string Input::ReadAll() {
  std::string all;
  for (std::span<const uint8_t> piece; !(piece = Next()).empty();)
    all.append(reinterpret_cast<const char*>(piece.data()), piece.size());
  return all;
}

std::u16string_view InputText::Next() {
  for (;;) {
    std::span<const uint8_t> bytes = input_.Next();
    if (bytes.empty()) {
      if (carried_ > 0) {
        throw Failure(Place(input_.name(), line_, column_),
                      "the text ends inside a UTF-8 character", kErrSubscript);
      }
      return {};
    }
    if (!started_ && bytes.size() >= 3 &&
        std::memcmp(bytes.data(), "\xEF\xBB\xBF", 3) == 0) {
      column_ = 0;  // a byte order mark takes no column
    }
    if (carried_ > 0) {
      joined_.assign(carry_, carry_ + carried_);
      joined_.insert(joined_.end(), bytes.begin(), bytes.end());
      bytes = joined_;
    }
    const uint8_t* const begin = bytes.data();
    text_.resize(bytes.size());
    const Utf8Step step = DecodeUtf8(
        {reinterpret_cast<const char*>(begin), bytes.size()}, text_.data());
    const uint8_t* const stop = begin + step.read;
    if (step.stop == Utf8Stop::kBad) Bad(stop, begin);
    carried_ = bytes.size() - step.read;
    std::memcpy(carry_, stop, carried_);
    // The place of the next byte, for a fault in a later piece.
    Advance(begin, stop, line_, column_);
    text_.resize(step.written);
    std::u16string_view piece = text_;
    if (!started_ && !piece.empty()) {
      started_ = true;
      if (piece[0] == 0xFEFF) piece.remove_prefix(1);
    }
    if (!piece.empty()) return piece;
  }
}

std::u16string InputText::ReadAll() {
  std::u16string all;
  for (std::u16string_view piece; !(piece = Next()).empty();) all += piece;
  return all;
}

void InputText::Bad(const uint8_t* at, const uint8_t* piece) {
  int64_t line = line_;
  int64_t column = column_;
  Advance(piece, at, line, column);
  char what[64];
  std::snprintf(what, sizeof what,
                "byte 0x%02X is not UTF-8 here (the text must be UTF-8)", *at);
  throw Failure(Place(input_.name(), line, column), what, kErrInvalidCall);
}

}  // namespace quorvel::cli
