// JSON for the verbs: strict reads whose faults name their place, and the
// style of the library's standard writer the options ask for.
#include "cli.h"

namespace quorvel::cli {

void JsonSource::Read(JSON::StrictHandler& handler) {
  try {
    reader_.Read(handler);
  } catch (const Error& e) {
    if (reader_.fault().empty()) throw;
    throw Failure(Place(input_.name(), reader_.line(), reader_.column()),
                  ToUtf8(reader_.fault()), e.number());
  }
}

JSON::StandardStyle StyleFrom(const Args& args) {
  JSON::StandardStyle style;
  style.indent =
      static_cast<int>(args.GetInt("--indent", 0, 0, JSON::kMaxIndent));
  style.ascii = args.Has("--ascii");
  return style;
}

}  // namespace quorvel::cli
