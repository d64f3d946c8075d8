// CDataset::FromCSV (byte 0 picks header and separator) writes back; the
// text's trimmed pieces survive a trip through their CSV.
#include "fuzz_util.h"
#include "quorvel/cdataset.h"
#include "quorvel/value.h"

using namespace quorvel;
using namespace quorvel::fuzz;

namespace {

void LoadAndWrite(std::u16string_view text, bool header,
                  std::u16string_view sep) {
  auto ds = CDataset::Create();
  try {
    ds->FromCSV(String(text), header, String(sep));
  } catch (const Error& e) {
    Check(e.number() == kErrInvalidCall && e.source() == u"AddColumn" &&
          ds->RowCount() == 0);
  }
  for (int32_t r = 1; r <= ds->RowCount(); ++r)
    for (int32_t c = 1; c <= ds->ColumnCount(); ++c)
      Check(ds->Cell(r, c).IsString() || ds->Cell(r, c).IsNull());
  Check(ds->ToCSV(String(sep)).view().ends_with(u"\r\n"));
  const String json = ds->ToJSON();
  Check(json.view().starts_with(u"[") && json.view().ends_with(u"]"));
}

// Values without surrounding spaces or CR LF pairs, in two columns so that
// no row is blank, come back unchanged.
void RoundTrip(std::u16string_view text) {
  auto ds = CDataset::Create();
  ds->AddColumn(String(u"a"));
  ds->AddColumn(String(u"b"));
  std::vector<std::u16string> values;
  for (size_t start = 0, i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != u'\x01') continue;
    std::u16string v(text.substr(start, i - start));
    for (size_t at; (at = v.find(u"\r\n")) != std::u16string::npos;)
      v.erase(at, 1);
    v.erase(0, std::min(v.size(), v.find_first_not_of(u' ')));
    v.erase(v.find_last_not_of(u' ') + 1);
    values.push_back(std::move(v));
    start = i + 1;
  }
  values.push_back(u"x");
  for (size_t k = 0; k + 1 < values.size(); k += 2) {
    std::vector<Value> row = {Value(values[k]), Value(values[k + 1])};
    ds->AddRow(row);
  }
  const String csv = ds->ToCSV();
  auto back = CDataset::Create();
  back->FromCSV(csv);
  Check(back->RowCount() == ds->RowCount() && back->ToCSV() == csv);
  for (int32_t r = 1; r <= ds->RowCount(); ++r)
    for (int32_t c = 1; c <= 2; ++c)
      Check(back->Cell(r, c).string_view() == ds->Cell(r, c).string_view());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static constexpr std::u16string_view kSeparators[] = {
      u",", u";", u"\t", u"::", u"", u"\"", u" ", u"\r"};
  const std::u16string text = Utf8(data + 1, size - 1);
  LoadAndWrite(text, (data[0] & 1) != 0, kSeparators[(data[0] >> 1) & 7]);
  RoundTrip(text);
  return 0;
}
