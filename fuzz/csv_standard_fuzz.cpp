// Loads arbitrary text as RFC 4180 CSV whole and in pieces (the first byte
// picks the piece size, the header flag and the separator): both must load
// the same table or stop at the same fault, and the only errors are 9 from
// the reader. A loaded table of two or more columns survives a trip through
// its own CSV text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "quorvel/cdataset.h"
#include "quorvel/csvloader.h"
#include "quorvel/error.h"
#include "quorvel/string.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr char16_t kSeparators[] = {u',', u';', u'\t', u' '};

// The table as CSV text, or the fault's description.
std::u16string Outcome(std::u16string_view text, size_t piece,
                       const quorvel::CsvOptions& options) {
  auto ds = quorvel::CDataset::Create();
  quorvel::CsvLoader loader(*ds, options);
  try {
    for (size_t at = 0; at < text.size(); at += piece)
      loader.Feed(text.substr(at, piece));
    loader.Finish();
  } catch (const quorvel::Error& e) {
    Check(e.number() == quorvel::kErrSubscript && e.source() == u"CSV");
    Check(!loader.fault().empty());
    return u"fault " + std::u16string(e.description());
  }
  return ds->ToCSV(quorvel::String(std::u16string_view(&options.separator, 1)))
      .str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  quorvel::CsvOptions options;
  options.separator = kSeparators[data[0] & 3];
  options.has_header = (data[0] & 4) != 0;
  const size_t piece = 1 + (data[0] >> 3);
  const std::u16string text = quorvel::FromUtf8(
      std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  const std::u16string whole = Outcome(text, text.size() + 1, options);
  Check(Outcome(text, piece, options) == whole);
  if (whole.starts_with(u"fault ")) return 0;
  auto ds = quorvel::CDataset::Create();
  ds->FromCSVStandard(text, options);
  // One column can write an empty value as an empty line, which reads as
  // nothing; a leading U+FEFF is taken for a byte order mark.
  if (ds->ColumnCount() < 2 || whole.starts_with(u"\uFEFF")) return 0;
  quorvel::CsvOptions again = options;
  again.has_header = true;
  Check(Outcome(whole, whole.size() + 1, again) == whole);
  return 0;
}
