// `quorvel kv FILE dump` and `quorvel docs FILE dump`: a database file as
// its bytes lie, through the library's read-only scan.
#ifndef QUORVEL_TOOLS_STORE_DUMP_H_
#define QUORVEL_TOOLS_STORE_DUMP_H_

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "cli.h"
#include "quorvel/store_scan.h"

namespace quorvel::cli {

// Says what one record holds beyond its place and flag (its key and value,
// its identifier and body).
using RecordText = std::function<std::string(const StoreRecord&)>;

// Writes both header copies, every record a walk meets, deleted ones
// included, and why the walk stopped. Reads the file only, so a damaged one
// can be looked at too. A file shorter than the two header copies is a
// Failure (error 62).
void DumpStore(std::string_view path, Output& out, StoreKind kind,
               const RecordText& describe);

// Quotes file text for the terminal: the code page's characters as UTF-8,
// control bytes, quotes and backslashes as \xNN.
std::string QuoteAnsi(std::span<const uint8_t> bytes);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_STORE_DUMP_H_
