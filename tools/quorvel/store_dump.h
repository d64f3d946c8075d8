// `quorvel kv FILE dump` and `quorvel docs FILE dump`: a database file as
// its bytes lie, through the stores' own layouts.
#ifndef QUORVEL_TOOLS_STORE_DUMP_H_
#define QUORVEL_TOOLS_STORE_DUMP_H_

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "cli.h"
#include "stores/store_file.h"

namespace quorvel::cli {

// Says what one record holds beyond its place and flag (its key and value,
// its identifier and body), reading what it needs through `window`.
using RecordText = std::function<std::string(const internal::RecordInfo&,
                                             internal::ScanWindow&)>;

// Writes both header copies (with `extra` header fields by name beside the
// counters), every record a walk meets, deleted ones included, and why the
// walk stopped. Reads the file only, so a damaged one can be looked at too.
// A file shorter than the two header copies is a Failure (error 62).
void DumpStore(std::string_view path, Output& out,
               const internal::StoreLayout& layout,
               std::initializer_list<std::pair<const char*, size_t>> extra,
               const RecordText& describe);

// Quotes file text for the terminal: the code page's characters as UTF-8,
// control bytes, quotes and backslashes as \xNN.
std::string QuoteAnsi(std::string_view bytes);
// The same for `size` bytes of the file at `at`; "?" when they cannot be
// read.
std::string QuoteAt(internal::ScanWindow& window, int64_t at, int64_t size);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_STORE_DUMP_H_
