// Loads arbitrary text as CSV into a CDataset and writes it back as CSV and
// JSON, then checks that a table of arbitrary trimmed values survives a trip
// through its own CSV text. The first input byte picks the header flag and
// the separator; the rest is UTF-8. Only quorvel::Error may escape the
// dataset; anything else, or a failed check, is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/cdataset.h"
#include "quorvel/error.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr std::u16string_view kSeparators[] = {u",", u";",  u"\t", u"::",
                                               u"",  u"\"", u" ",  u"\r"};

void LoadAndWrite(std::u16string_view text, bool header,
                  std::u16string_view sep) {
  auto ds = quorvel::CDataset::Create();
  try {
    ds->FromCSV(quorvel::String(text), header, quorvel::String(sep));
  } catch (const quorvel::Error& e) {
    Check(e.number() == quorvel::kErrInvalidCall && e.source() == u"AddColumn");
    Check(ds->RowCount() == 0);
  }
  for (int32_t r = 1; r <= ds->RowCount(); ++r) {
    for (int32_t c = 1; c <= ds->ColumnCount(); ++c) {
      const quorvel::Value& v = ds->Cell(r, c);
      Check(v.IsString() || v.IsNull());
    }
  }
  const quorvel::String csv = ds->ToCSV(quorvel::String(sep));
  Check(csv.view().ends_with(u"\r\n"));
  const quorvel::String json = ds->ToJSON();
  Check(json.view().starts_with(u"[") && json.view().ends_with(u"]"));
}

// Values without surrounding spaces or CR LF pairs, in two columns so that
// no row is blank, come back from their CSV text unchanged.
void RoundTrip(std::u16string_view text) {
  auto ds = quorvel::CDataset::Create();
  ds->AddColumn(quorvel::String(u"a"));
  ds->AddColumn(quorvel::String(u"b"));
  std::vector<std::u16string> values;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != u'\x01') continue;
    std::u16string v(text.substr(start, i - start));
    for (size_t at; (at = v.find(u"\r\n")) != std::u16string::npos;)
      v.erase(at, 1);
    while (!v.empty() && v.back() == u' ') v.pop_back();
    while (!v.empty() && v.front() == u' ') v.erase(0, 1);
    values.push_back(std::move(v));
    start = i + 1;
  }
  values.push_back(u"x");
  for (size_t k = 0; k + 1 < values.size(); k += 2) {
    std::vector<quorvel::Value> row = {quorvel::Value(values[k]),
                                       quorvel::Value(values[k + 1])};
    ds->AddRow(row);
  }
  const quorvel::String csv = ds->ToCSV();
  auto back = quorvel::CDataset::Create();
  back->FromCSV(csv);
  Check(back->RowCount() == ds->RowCount());
  for (int32_t r = 1; r <= ds->RowCount(); ++r) {
    for (int32_t c = 1; c <= 2; ++c) {
      Check(back->Cell(r, c).string_view() == ds->Cell(r, c).string_view());
    }
  }
  Check(back->ToCSV() == csv);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  const std::u16string text = quorvel::FromUtf8(
      std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  LoadAndWrite(text, (mode & 1) != 0, kSeparators[(mode >> 1) & 7]);
  RoundTrip(text);
  return 0;
}
