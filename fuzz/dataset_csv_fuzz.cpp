// CDataset::FromCSV (byte 0 picks header and separator) loads only text and
// writes back.
#include "fuzz_util.h"
#include "quorvel/cdataset.h"
#include "quorvel/value.h"

using namespace quorvel;
using namespace quorvel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static constexpr std::u16string_view kSeparators[] = {
      u",", u";", u"\t", u"::", u"", u"\"", u" ", u"\r"};
  const String sep(kSeparators[(data[0] >> 1) & 7]);
  const std::u16string text = Utf8(data + 1, size - 1);
  auto ds = CDataset::Create();
  try {
    ds->FromCSV(String(text), (data[0] & 1) != 0, sep);
  } catch (const Error& e) {
    Check(e.number() == kErrInvalidCall && e.source() == u"AddColumn" &&
          ds->RowCount() == 0);
  }
  for (int32_t r = 1; r <= ds->RowCount(); ++r)
    for (int32_t c = 1; c <= ds->ColumnCount(); ++c)
      Check(ds->Cell(r, c).IsString() || ds->Cell(r, c).IsNull());
  Check(ds->ToCSV(sep).view().ends_with(u"\r\n"));
  const String json = ds->ToJSON();
  Check(json.view().starts_with(u"[") && json.view().ends_with(u"]"));
  return 0;
}
