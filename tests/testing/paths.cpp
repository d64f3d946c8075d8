#include "testing/paths.h"

namespace quorvel::testing {

const char* SharedDir() { return QUORVEL_SHARED_DIR; }

const char* ToolPath() {
#ifdef QUORVEL_TOOL_PATH
  return QUORVEL_TOOL_PATH;
#else
  return nullptr;
#endif
}

}  // namespace quorvel::testing
