// The lenient JSON reader never raises, and its writer's text reads back.
#include "fuzz_util.h"
#include "quorvel/json.h"

using namespace quorvel;
using namespace quorvel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string text = Utf8(data, size);
  const Value tree = JSON::Parse(text);
  if (tree.IsNothing()) return 0;
  String written;
  if (ErrorOf([&] { written = JSON::WriteJSON(tree); }) != 0) return 0;
  const Value again = JSON::Parse(written);
  Check(!again.IsNothing());
  // Keys go out unescaped: none may hold a quote, colon or blank.
  if (text.find_first_of(u"\"'\\: \t\r\n") == std::u16string::npos)
    Check(JSON::WriteJSON(again) == written);
  return 0;
}
