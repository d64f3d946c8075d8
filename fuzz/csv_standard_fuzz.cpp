// RFC 4180 CSV whole and in pieces (byte 0 picks piece, header, separator)
// loads alike or fails alike with 9; wide tables survive their own CSV.
#include "fuzz_util.h"
#include "quorvel/cdataset.h"
#include "quorvel/csvloader.h"

using namespace quorvel;
using namespace quorvel::fuzz;

namespace {

// The table as CSV text, or the fault's description.
std::u16string Outcome(std::u16string_view text, size_t piece,
                       const CsvOptions& options) {
  auto ds = CDataset::Create();
  CsvLoader loader(*ds, options);
  try {
    for (size_t at = 0; at < text.size(); at += piece)
      loader.Feed(text.substr(at, piece));
    loader.Finish();
  } catch (const Error& e) {
    Check(e.number() == kErrSubscript && e.source() == u"CSV" &&
          !loader.fault().empty());
    return u"fault " + std::u16string(e.description());
  }
  return ds->ToCSV(String(std::u16string_view(&options.separator, 1))).str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static constexpr char16_t kSeparators[] = {u',', u';', u'\t', u' '};
  CsvOptions options;
  options.separator = kSeparators[data[0] & 3];
  options.has_header = (data[0] & 4) != 0;
  const std::u16string text = Utf8(data + 1, size - 1);
  const std::u16string whole = Outcome(text, text.size() + 1, options);
  Check(Outcome(text, 1 + (data[0] >> 3), options) == whole);
  if (whole.starts_with(u"fault ")) return 0;
  auto ds = CDataset::Create();
  ds->FromCSVStandard(text, options);
  // One column can write an empty value as an empty line, which reads as
  // nothing; a leading U+FEFF is taken for a byte order mark.
  if (ds->ColumnCount() < 2 || whole.starts_with(u"\uFEFF")) return 0;
  options.has_header = true;
  Check(Outcome(whole, whole.size() + 1, options) == whole);
  return 0;
}
