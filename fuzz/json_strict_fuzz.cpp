// Feeds arbitrary text to the strict JSON reader whole and in pieces (the
// first byte picks their size): both must read the same value or stop at
// the same fault, and the only error is 9. What reads writes as text the
// reader reads again, with the compact writer and with the standard one.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "quorvel/error.h"
#include "quorvel/json.h"
#include "quorvel/json_standard.h"
#include "quorvel/json_strict.h"
#include "quorvel/string.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Notes a key that the compact writer, which leaves keys unescaped, would
// not write as JSON.
class KeyWatcher : public quorvel::JSON::TreeBuilder {
 public:
  void Key(std::u16string_view name) override {
    for (char16_t c : name) awkward |= c == u'"' || c == u'\\' || c < 0x20;
    TreeBuilder::Key(name);
  }
  bool awkward = false;
};

// The compact text of the value read, or the fault's description.
std::u16string Outcome(std::u16string_view text, size_t piece,
                       bool* awkward = nullptr) {
  quorvel::JSON::TextPieces source(text, piece);
  quorvel::JSON::StrictReader reader(source);
  KeyWatcher builder;
  try {
    reader.Read(builder);
  } catch (const quorvel::Error& e) {
    Check(e.number() == quorvel::kErrSubscript && e.source() == u"JSON");
    Check(!reader.fault().empty());
    return u"fault " + std::u16string(e.description());
  }
  if (awkward != nullptr) *awkward = builder.awkward;
  return u"value " + quorvel::JSON::WriteJSON(builder.Take()).str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 7;
  const std::u16string text = quorvel::FromUtf8(
      std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  bool awkward = false;
  const std::u16string whole = Outcome(text, text.size() + 1, &awkward);
  Check(Outcome(text, piece) == whole);
  // The compact writer's text of a tree without keys that need escaping
  // reads back; its Doubles keep 15 digits, so one more trip settles it.
  if (whole.starts_with(u"value ") && !awkward) {
    const std::u16string once = Outcome(whole.substr(6), whole.size());
    Check(once.starts_with(u"value "));
    Check(Outcome(once.substr(6), once.size()) == once);
  }
  // The standard writer's text reads back; a Double may come back as the
  // Decimal of its shortest text, so the second trip settles it.
  if (whole.starts_with(u"value ")) {
    const auto trip = [](std::string_view standard) {
      return quorvel::JSON::WriteStandard(
          quorvel::JSON::ParseStrict(quorvel::FromUtf8(standard)));
    };
    const std::string twice = trip(trip(quorvel::ToUtf8(text)));
    Check(trip(twice) == twice);
  }
  return 0;
}
