// How the tool says what went wrong.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "cli.h"

namespace quorvel::cli {

Failure::Failure(std::string where, std::string what, int32_t number)
    : where_(std::move(where)), what_(std::move(what)), number_(number) {}

int32_t FileErrorNumber(int err) {
  switch (err) {
    case ENOENT:
      return kErrFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return kErrPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY:
    case EEXIST:
      return kErrPathFileAccess;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kErrDiskFull;
    default:
      return kErrDeviceIo;
  }
}

void FailFile(std::string_view where, int err) {
  throw Failure(std::string(where), std::strerror(err), FileErrorNumber(err));
}

std::string Place(std::string_view where, int64_t line, int64_t column) {
  return std::string(where) + ":" + std::to_string(line) + ":" +
         std::to_string(column);
}

void FailAt(std::string_view where, const Error& e) {
  throw Failure(std::string(where), ToUtf8(e.description()), e.number());
}

namespace {

// How much of echoed input a message shows.
constexpr size_t kQuotedCharacters = 40;

// Appends `text` to `out` as Printable describes, a backslash doubled when
// `quoting`, the first `limit` characters only; returns the number of
// characters in all of `text` (a byte that is not UTF-8 counts as one).
size_t AppendPrintable(std::string_view text, bool quoting, size_t limit,
                       std::string& out) {
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const uint8_t* const end = p + text.size();
  size_t characters = 0;
  char escape[8];
  const auto numbered = [&](const char* format, unsigned value) {
    std::snprintf(escape, sizeof escape, format, value);
    return escape;
  };
  for (; p < end; ++characters) {
    const uint8_t b = *p;
    size_t size = 1;
    const char* shown = nullptr;  // an escape, or else the bytes themselves
    if (b < 0x20 || b == 0x7F) {
      shown = b == '\n'   ? "\\n"
              : b == '\r' ? "\\r"
              : b == '\t' ? "\\t"
                          : numbered("\\x%02X", b);
    } else if (b == '\\' && quoting) {
      shown = "\\\\";
    } else if (b >= 0x80) {
      size = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
      char16_t units[4];
      if (size > static_cast<size_t>(end - p) ||
          DecodeUtf8({reinterpret_cast<const char*>(p), size}, units).stop !=
              Utf8Stop::kEnd) {
        size = 1;
        shown = numbered("\\x%02X", b);
      } else if (units[0] < 0xA0) {
        shown = numbered("\\u%04X", units[0]);
      }
    }
    if (characters < limit) {
      if (shown != nullptr) {
        out += shown;
      } else {
        out.append(reinterpret_cast<const char*>(p), size);
      }
    }
    p += size;
  }
  return characters;
}

// Returns n with a comma between each group of three digits.
std::string Grouped(size_t n) {
  std::string digits = std::to_string(n);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  AppendPrintable(text, false, SIZE_MAX, out);
  return out;
}

std::string Quote(std::string_view text) {
  std::string out = "'";
  const size_t characters = AppendPrintable(text, true, kQuotedCharacters, out);
  if (characters <= kQuotedCharacters) return out + "'";
  return out + "\xE2\x80\xA6' (" + Grouped(characters) + " characters)";
}

std::string Quote(std::u16string_view text) {
  std::string bytes;
  AppendUtf8(text, &bytes);
  return Quote(bytes);
}

void Report(std::string_view where, std::string_view what, int32_t number) {
  std::string line = "quorvel: ";
  if (!where.empty()) {
    line += Printable(where);
    line += ": ";
  }
  line += Printable(what);
  line += " (error " + std::to_string(number) + ")\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void Warn(std::string_view where, std::string_view what) {
  const std::string line =
      "quorvel: " + Printable(where) + ": warning: " + Printable(what) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void ReportError(const Error& e) {
  const std::string line = "quorvel: " + Printable(e.what()) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

int FinishStandardOutput(int status) {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const int err = errno != 0 ? errno : EIO;
    Report("standard output", std::strerror(err), FileErrorNumber(err));
    return kExitFailure;
  }
  return status;
}

}  // namespace quorvel::cli
