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

const uint8_t* DecodeUtf8(const uint8_t* p, const uint8_t* end, char16_t*& o,
                          const uint8_t** bad) {
  *bad = nullptr;
  while (p < end) {
    // Runs of ASCII eight bytes at a time.
    while (end - p >= 8) {
      uint64_t v;
      std::memcpy(&v, p, 8);
      if (v & 0x8080808080808080u) break;
      for (int k = 0; k < 8; ++k) o[k] = p[k];
      o += 8;
      p += 8;
    }
    if (p == end) break;
    const uint8_t b = *p;
    if (b < 0x80) {
      *o++ = b;
      ++p;
      continue;
    }
    // The well-formed sequences of the Unicode standard (its table 3-7):
    // no overlong forms, no surrogates, nothing past U+10FFFF.
    int need;
    uint8_t lo = 0x80, hi = 0xBF;
    uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      cp = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      cp = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      *bad = p;
      return p;
    }
    const int have = static_cast<int>(std::min<ptrdiff_t>(end - p - 1, need));
    for (int k = 1; k <= have; ++k) {
      const uint8_t c = p[k];
      if (k == 1 ? (c < lo || c > hi) : (c & 0xC0) != 0x80) {
        *bad = p;
        return p;
      }
      cp = cp << 6 | (c & 0x3F);
    }
    if (have < need) return p;  // cut short by the end of the piece
    if (cp >= 0x10000) {
      cp -= 0x10000;
      *o++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *o++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      *o++ = static_cast<char16_t>(cp);
    }
    p += need + 1;
  }
  return p;
}

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
    const uint8_t* const end = begin + bytes.size();
    text_.resize(bytes.size());
    char16_t* o = text_.data();
    const uint8_t* bad;
    const uint8_t* stop = DecodeUtf8(begin, end, o, &bad);
    if (bad != nullptr) Bad(bad, begin);
    carried_ = static_cast<size_t>(end - stop);
    std::memcpy(carry_, stop, carried_);
    // The place of the next byte, for a fault in a later piece.
    Advance(begin, stop, line_, column_);
    text_.resize(static_cast<size_t>(o - text_.data()));
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

void AppendUtf8(std::u16string_view text, std::string& out) {
  const size_t start = out.size();
  out.resize(start + 3 * text.size());
  char* o = out.data() + start;
  const char16_t* p = text.data();
  const char16_t* const end = p + text.size();
  while (p < end) {
    const uint32_t c = *p++;
    if (c < 0x80) {
      *o++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *o++ = static_cast<char>(0xC0 | c >> 6);
      *o++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c >= 0xD800 && c < 0xDC00 && p < end && *p >= 0xDC00 &&
               *p < 0xE000) {
      const uint32_t cp = 0x10000 + ((c - 0xD800) << 10) + (*p++ - 0xDC00);
      *o++ = static_cast<char>(0xF0 | cp >> 18);
      *o++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      *o++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      const uint32_t unit = c >= 0xD800 && c < 0xE000 ? 0xFFFD : c;
      *o++ = static_cast<char>(0xE0 | unit >> 12);
      *o++ = static_cast<char>(0x80 | (unit >> 6 & 0x3F));
      *o++ = static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  out.resize(static_cast<size_t>(o - out.data()));
}

}  // namespace quorvel::cli
