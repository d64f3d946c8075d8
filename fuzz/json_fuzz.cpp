// Feeds arbitrary text to the lenient JSON reader and writes what it read:
// the reader must never raise, and the writer may raise only the library's
// own errors. Text the writer produced from a tree without awkward keys
// reads back to the same text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "quorvel/error.h"
#include "quorvel/json.h"
#include "quorvel/string.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text = quorvel::FromUtf8(
      std::string_view(reinterpret_cast<const char*>(data), size));
  quorvel::Value tree = quorvel::JSON::Parse(text);
  if (tree.IsNothing()) return 0;
  quorvel::String written;
  try {
    written = quorvel::JSON::WriteJSON(tree);
  } catch (const quorvel::Error&) {
    return 0;
  }
  // Keys go out unescaped, so only trees whose keys need no escaping and
  // hold no quote, colon or blank can be expected to come back unchanged.
  bool plain_keys =
      text.find_first_of(u"\"'\\: \t\r\n") == std::u16string::npos;
  quorvel::Value again = quorvel::JSON::Parse(written);
  Check(!again.IsNothing());
  if (plain_keys) Check(quorvel::JSON::WriteJSON(again) == written);
  return 0;
}
