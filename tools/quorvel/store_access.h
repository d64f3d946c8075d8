// How the kv and docs verbs reach a database file: opened for what the
// action needs, library errors reported against the file, and compaction
// with its sizes, its progress and its temporary file.
#ifndef QUORVEL_TOOLS_STORE_ACCESS_H_
#define QUORVEL_TOOLS_STORE_ACCESS_H_

#include <functional>
#include <string>
#include <string_view>

#include "cli.h"
#include "quorvel/open_options.h"

namespace quorvel::cli {

// What an action does to the database file.
enum class Access {
  kRead,    // reads only; a missing file is an error, never a new file
  kChange,  // changes a database that must already exist
  kCreate,  // changes a database, making a missing file a new, empty one
};

OpenOptions OptionsFor(Access access);

// Warns on standard error when the file just opened holds bytes its
// records could not be read from: "N bytes after offset X could not be
// read (a damaged record)". The records there and after are not shown.
void WarnDamage(std::string_view path, const FileDamage& damage);

// Throws a library error met on the database at `path` as a Failure
// against it. A file error's description names the path again; only its
// reason is kept ("Permission denied").
[[noreturn]] void FailStore(std::string_view path, const Error& e);

// The common course of a kv or docs command ("VERB FILE ACTION ..."):
// checks that the action is one of `actions` ("get|put"), opens the output,
// runs `work` with the file and the action, reports a library error against
// the file and finishes the output. Returns kExitOk.
int RunOnStore(
    const Args& args, std::string_view actions,
    const std::function<void(std::string_view path, std::string_view action,
                             Output&)>& work);

// Throws UsageError unless the action ("VERB FILE ACTION ...") was given
// exactly `n` arguments.
void ExpectArguments(const Args& args, size_t n);

// A store's CompactTracked with its first argument bound: it calls the
// function it is given with the temporary file's path, and later with "".
using TrackedCompaction = std::function<void(
    const std::function<void(const std::u16string& temp_path)>&)>;

// Runs `compact` on the database at `path` and writes "PATH: N bytes
// before, M after" to `out`. While the compaction owns its temporary file
// (from when it holds the lock until the rename), a signal that stops the
// tool removes that file, and its growth is the progress shown; a
// compaction still waiting for another's lock leaves the other's alone.
void CompactStore(const Args& args, std::string_view path,
                  const TrackedCompaction& compact, Output& out);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_STORE_ACCESS_H_
