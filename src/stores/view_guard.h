// Copies to and from a shared mapping of a file that another program may
// cut short at any moment. Touching a mapped page past the file's end
// raises SIGBUS; these copies turn that into a failed copy, so a store can
// read and write its file through the mapping without asking the OS for
// the file's length first.
#ifndef QUORVEL_SRC_STORES_VIEW_GUARD_H_
#define QUORVEL_SRC_STORES_VIEW_GUARD_H_

#include <cstddef>

namespace quorvel::internal {

// Installs the process's SIGBUS handler once; a signal that does not come
// from a guarded copy goes on to the handler that was there before (or
// ends the process the default way). Returns whether it is in place;
// without it the copies below must not be used.
bool InstallViewGuard();

// Copies `size` bytes from `from`, inside a mapping, to `to`. Returns false
// when a page of `from` lay past the end of its file; `to` then holds an
// unspecified part of the bytes.
bool CopyFromView(void* to, const void* from, size_t size);

// Returns whether a byte of [from, limit), inside a mapping, is not zero;
// false too when a page of it lay past the end of its file.
bool AnyNonZeroInView(const void* from, const void* limit);

// Copies `size` bytes to `to`, inside a mapping, four bytes at a time, so
// that every aligned field lands whole even when the process dies in the
// middle. Returns false when a page of `to` lay past the end of its file;
// some of the bytes may then have been written.
bool CopyToView(void* to, const void* from, size_t size);

}  // namespace quorvel::internal

#endif  // QUORVEL_SRC_STORES_VIEW_GUARD_H_
