// Strict JSON whole and in pieces (byte 0 picks their size) reads alike or
// fails alike with 9; the standard writer's text reads again.
#include "fuzz_util.h"
#include "quorvel/json.h"
#include "quorvel/json_standard.h"
#include "quorvel/json_strict.h"

using namespace quorvel;
using namespace quorvel::fuzz;

namespace {

// The compact text of the value read, or the fault's description.
std::u16string Outcome(std::u16string_view text, size_t piece) {
  JSON::TextPieces source(text, piece);
  JSON::StrictReader reader(source);
  JSON::TreeBuilder builder;
  try {
    reader.Read(builder);
  } catch (const Error& e) {
    Check(e.number() == kErrSubscript && e.source() == u"JSON" &&
          !reader.fault().empty());
    return u"fault " + std::u16string(e.description());
  }
  return u"value " + JSON::WriteJSON(builder.Take()).str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::u16string text = Utf8(data + 1, size - 1);
  const std::u16string whole = Outcome(text, text.size() + 1);
  Check(Outcome(text, 1 + data[0] % 7) == whole);
  if (!whole.starts_with(u"value ")) return 0;
  // A Double may come back as the Decimal of its shortest text, so the
  // standard text settles on the second trip too.
  const auto trip = [](std::string_view standard) {
    return JSON::WriteStandard(JSON::ParseStrict(FromUtf8(standard)));
  };
  const std::string twice = trip(trip(ToUtf8(text)));
  Check(trip(twice) == twice);
  return 0;
}
