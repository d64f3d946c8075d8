// `OpenOptions`: how the two database classes open their file, for C++
// clients (the late-bound `OpenDB` takes a path only).
#ifndef QUORVEL_OPEN_OPTIONS_H_
#define QUORVEL_OPEN_OPTIONS_H_

namespace quorvel {

struct OpenOptions {
  // Opens the file for reading only: every write then raises 75 with a
  // description naming the path. (A file the process may read but not
  // write opens this way anyway.)
  bool read_only = false;
  // Creates a missing file as a new, empty database. When false, or when
  // reading only, a missing file raises 53 naming the path.
  bool create_if_missing = true;
};

}  // namespace quorvel

#endif  // QUORVEL_OPEN_OPTIONS_H_
