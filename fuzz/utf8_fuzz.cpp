// Strict UTF-8: good text round-trips whole and cut in two (byte 0 picks
// where); a fault is exact, its maximal subpart one U+FFFD when lenient.
#include <optional>

#include "fuzz_util.h"
#include "quorvel/utf8.h"

using namespace quorvel;
using namespace quorvel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text = Narrow(data + 1, size - 1);
  const size_t split = data[0] % (text.size() + 1);
  std::u16string whole;
  Utf8Fault fault;
  const bool ok = Utf8ToUtf16(text, &whole, &fault);
  const std::optional<Utf8Fault> found = FindUtf8Fault(text);
  Check(ok == !found.has_value());

  // Two pieces, the cut sequence carried over.
  std::u16string out(text.size(), u'\0');
  const Utf8Step one = DecodeUtf8(text.substr(0, split), out.data());
  if (one.stop != Utf8Stop::kBad) {
    const Utf8Step two =
        DecodeUtf8(text.substr(one.read), out.data() + one.written);
    Check((two.stop == Utf8Stop::kEnd) == ok);
    out.resize(one.written + two.written);
    Check(!ok || out == whole);
  } else {
    Check(!ok && one.read == fault.offset);
  }

  if (ok) {
    String s;
    Check(ToUtf8(whole) == text && Utf8ToString(text, &s) &&
          s.view() == whole && FromUtf8(text) == whole &&
          FindLoneSurrogate(whole) == std::u16string_view::npos);
    return 0;
  }
  Check(found->offset == fault.offset && found->length == fault.length &&
        fault.length >= 1 && fault.length <= 3 &&
        fault.byte == static_cast<uint8_t>(text[fault.offset]) &&
        !FindUtf8Fault(text.substr(0, fault.offset)));
  const std::u16string lenient = FromUtf8(text);
  const std::u16string before = FromUtf8(text.substr(0, fault.offset));
  Check(lenient.compare(0, before.size(), before) == 0 &&
        lenient.size() > before.size() && lenient[before.size()] == 0xFFFD &&
        !FindUtf8Fault(ToUtf8(lenient)));
  return 0;
}
