// Where the tests find what lies outside the test binary. The paths are
// compiled into one file only: on every test file's command line they would
// keep a copy of the tree elsewhere from reusing the compiler cache.
#pragma once

namespace quorvel::testing {

// The directory of test data others wrote (it may not exist).
const char* SharedDir();
// The quorvel tool built beside the tests, or nullptr when tools are off.
const char* ToolPath();

}  // namespace quorvel::testing
