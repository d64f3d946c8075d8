// The POSIX side of the stores' file seam (`quorvel/file_system.h`): the
// process's file system and the translation of OS errors into the platform's
// file errors, which every implementation of the seam raises.
#ifndef QUORVEL_SRC_STORES_DB_FILE_H_
#define QUORVEL_SRC_STORES_DB_FILE_H_

#include <cstdint>
#include <string_view>

#include "quorvel/file_system.h"

namespace quorvel::internal {

// The stores name the seam's types from inside their own namespace.
using quorvel::DbFile;
using quorvel::FileSystem;
using quorvel::OpenMode;

// Raises the platform file error for an errno value: 53 file not found,
// 75 path/file access error, 76 path not found, 52 bad file name or number,
// 61 disk full, 57 device I/O error (the fallback), with the standard
// description.
[[noreturn]] void RaiseFileError(int err);
// The same with a description that names `path` and the OS's reason:
// "Path/File access error: /data/a.kv (Permission denied)".
[[noreturn]] void RaiseFileError(int err, std::u16string_view path);
// Raises `number` with its standard description followed by `path` and
// `reason` in the form above.
[[noreturn]] void RaisePathError(int32_t number, std::u16string_view path,
                                 std::u16string_view reason);

}  // namespace quorvel::internal

#endif  // QUORVEL_SRC_STORES_DB_FILE_H_
