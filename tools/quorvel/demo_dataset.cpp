// The table scene of `quorvel demo`: a CDataset built, sorted, searched,
// filtered and written out, all through calls by name.
#include <string>

#include "cli.h"

namespace quorvel::cli {

namespace {

Value Call(const Value& ds, std::u16string_view name,
           std::initializer_list<Value> args = {}) {
  return CallByName(ds, name, CallType::Method, args);
}

// Prints the table as aligned columns, Null shown as (null).
void ShowTable(const Value& ds, std::u16string_view title) {
  PrintLine(std::u16string(u"  ") + std::u16string(title));
  const int32_t cols = ToLong(CallByName(ds, u"ColumnCount", CallType::Get));
  const int32_t rows = ToLong(CallByName(ds, u"RowCount", CallType::Get));
  const CDataset& typed = *ds.object_as<CDataset>();
  auto cell_text = [&](int32_t r, int32_t c) -> std::u16string {
    if (r == 0) return typed.ColumnName(c).str();
    Value v = CallByName(ds, u"Item", CallType::Get, {Value(r), Value(c)});
    return v.IsNull() ? u"(null)" : ToText(v).str();
  };
  for (int32_t r = 0; r <= rows; ++r) {
    std::u16string line = u"    ";
    for (int32_t c = 1; c <= cols; ++c) {
      std::u16string t = cell_text(r, c);
      line += t;
      if (c < cols) line.append(t.size() < 10 ? 10 - t.size() : 1, u' ');
    }
    PrintLine(line);
  }
}

}  // namespace

void DemoDataset() {
  PrintLine();
  PrintLine(u"CDataset, created and called by name");
  Value ds = CreateObject(u"CDataset");
  for (const char16_t* c : {u"name", u"city", u"age"})
    Call(ds, u"AddColumn", {Value(c)});
  Call(ds, u"AddRow", {Value(u"Ada"), Value(u"london"), Value(36)});
  Call(ds, u"AddRow", {Value(u"grace"), Value(u"Arlington"), Value(85)});
  Call(ds, u"AddRow", {Value(u"Linus"), Value(u"Helsinki")});
  Call(ds, u"AddRow", {Value(u"Barbara"), Value(u"Boston"), Value(81)});
  ShowTable(ds, u"four rows (a short row is padded with Null)");
  Call(ds, u"Sort", {Value(u"name")});
  ShowTable(ds, u"Sort(\"name\"): text ignores case");
  Call(ds, u"Sort", {Value(3), Value(true)});
  ShowTable(ds, u"Sort(3, True): descending, Null last");
  PrintLine(
      u"  Search(\"city\", \"BOSTON\")         " +
      ToText(Call(ds, u"Search", {Value(u"city"), Value(u"BOSTON")})).str());
  ShowTable(Call(ds, u"Filter", {Value(u"age"), Value::Null()}),
            u"Filter(\"age\", Null)");
  ShowTable(Call(ds, u"SelectColumns", {Value(u"age"), Value(u"name")}),
            u"SelectColumns(\"age\", \"name\")");
  std::u16string csv(Call(ds, u"ToCSV", {Value(u";")}).string_view());
  for (size_t at; (at = csv.find(u"\r\n")) != std::u16string::npos;)
    csv.replace(at, 2, u"\u21B5\n    ");
  csv.resize(csv.size() - 5);  // the last line break starts no new line
  PrintLine(u"  ToCSV(\";\"), CR LF shown as \u21B5:\n    " + csv);
  PrintLine(u"  ToJSON: " + Call(ds, u"ToJSON").string().str());
  try {
    Call(ds, u"AddColumn", {Value(u"extra")});
  } catch (const Error& e) {
    PrintLine(u"  AddColumn(\"extra\") with rows:   error " +
              ToText(Value(e.number())).str() + u" (" +
              std::u16string(e.source()) + u"): " +
              std::u16string(e.description()));
  }
}

}  // namespace quorvel::cli
