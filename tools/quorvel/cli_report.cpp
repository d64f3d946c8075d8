// How the tool says what went wrong.
#include <cerrno>
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

void Report(std::string_view where, std::string_view what, int32_t number) {
  std::string line = "quorvel: ";
  if (!where.empty()) {
    line += where;
    line += ": ";
  }
  line += what;
  line += " (error " + std::to_string(number) + ")\n";
  std::fputs(line.c_str(), stderr);
}

void ReportError(const Error& e) {
  std::fprintf(stderr, "quorvel: %s\n", e.what());
}

}  // namespace quorvel::cli
