// Feeds arbitrary bytes to the strict UTF-8 codec. Well-formed text decodes
// and encodes back to the same bytes, whole and split in two pieces (the
// first byte picks where); for anything else the reported fault is exact:
// the bytes before it are UTF-8, its maximal subpart begins a sequence that
// the next byte (or the end) breaks, and the lenient decoder puts one U+FFFD
// there.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "quorvel/string.h"
#include "quorvel/utf8.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1),
                              size - 1);
  const size_t split = data[0] % (text.size() + 1);

  std::u16string whole;
  quorvel::Utf8Fault fault;
  const bool ok = quorvel::Utf8ToUtf16(text, &whole, &fault);
  const std::optional<quorvel::Utf8Fault> found = quorvel::FindUtf8Fault(text);
  Check(ok == !found.has_value());

  // Two pieces, the cut sequence carried over.
  std::u16string out(text.size(), u'\0');
  const quorvel::Utf8Step one =
      quorvel::DecodeUtf8(text.substr(0, split), out.data());
  if (one.stop != quorvel::Utf8Stop::kBad) {
    const std::string second =
        std::string(text.substr(one.read, split - one.read)) +
        std::string(text.substr(split));
    const quorvel::Utf8Step two =
        quorvel::DecodeUtf8(second, out.data() + one.written);
    Check((two.stop == quorvel::Utf8Stop::kEnd) == ok);
    if (ok) {
      out.resize(one.written + two.written);
      Check(out == whole);
    }
  } else {
    Check(!ok && one.read == fault.offset);
  }

  if (ok) {
    Check(quorvel::ToUtf8(whole) == text);
    quorvel::String s;
    Check(quorvel::Utf8ToString(text, &s) && s.view() == whole);
    Check(quorvel::FindLoneSurrogate(whole) == std::u16string_view::npos);
    Check(quorvel::FromUtf8(text) == whole);
    return 0;
  }
  Check(found->offset == fault.offset && found->length == fault.length);
  Check(fault.length >= 1 && fault.length <= 3);
  Check(fault.byte == static_cast<uint8_t>(text[fault.offset]));
  Check(!quorvel::FindUtf8Fault(text.substr(0, fault.offset)));
  // The maximal subpart is the longest prefix of a sequence there: a lead
  // byte and what may follow it, cut short alone, broken by the next byte.
  const std::string_view subpart = text.substr(fault.offset, fault.length);
  const uint8_t lead = fault.byte;
  std::u16string scratch(subpart.size() + 1, u'\0');
  const quorvel::Utf8Step alone = quorvel::DecodeUtf8(subpart, scratch.data());
  Check(alone.read == 0);
  Check((alone.stop == quorvel::Utf8Stop::kCut) ==
        (lead >= 0xC2 && lead <= 0xF4));
  Check(fault.length == 1 || alone.stop == quorvel::Utf8Stop::kCut);
  if (fault.offset + fault.length < text.size()) {
    const quorvel::Utf8Step longer = quorvel::DecodeUtf8(
        text.substr(fault.offset, fault.length + 1), scratch.data());
    Check(longer.stop == quorvel::Utf8Stop::kBad &&
          longer.bad_length == fault.length);
  }
  // ... and the lenient decoder replaces it with one U+FFFD.
  const std::u16string lenient = quorvel::FromUtf8(text);
  const std::u16string before = quorvel::FromUtf8(text.substr(0, fault.offset));
  Check(lenient.compare(0, before.size(), before) == 0);
  Check(lenient.size() > before.size() && lenient[before.size()] == 0xFFFD);
  Check(!quorvel::FindUtf8Fault(quorvel::ToUtf8(lenient)));
  return 0;
}
