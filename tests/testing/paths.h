// Compiled into one file only, so that the compiler cache serves a copy.
#pragma once

namespace quorvel::testing {

// The directory of test data others wrote (it may not exist).
const char* SharedDir();
// The quorvel tool built beside the tests, or nullptr when tools are off.
const char* ToolPath();

}  // namespace quorvel::testing
