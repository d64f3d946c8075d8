// `quorvel csv`: CSV text through a CDataset, as JSON or sorted by a column.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "cli.h"

namespace quorvel::cli {

namespace {

int CsvUsage() {
  std::fprintf(
      stderr,
      "usage: quorvel csv to-json [--no-header] [--separator S] [FILE|-]\n"
      "       quorvel csv sort --column C [--descending] [--no-header]\n"
      "                        [--separator S] [FILE|-]\n"
      "Reads UTF-8 CSV (lines end with CR LF) from FILE or standard input.\n"
      "to-json writes one JSON object per row, every value a string; sort\n"
      "writes the rows ordered by column C (a name, or else a number from\n"
      "1), text compared ignoring case, empty cells first.\n");
  return 2;
}

struct CsvOptions {
  std::string_view action;
  std::string_view file = "-";
  std::string_view column;
  std::u16string separator = u",";
  bool header = true;
  bool descending = false;
};

// Returns false (after saying why) for arguments that do not parse.
bool ParseCsvArgs(std::span<char*> args, CsvOptions& o) {
  if (args.empty()) return false;
  o.action = args[0];
  if (o.action != "to-json" && o.action != "sort") {
    std::fprintf(stderr, "quorvel csv: unknown action '%s'\n", args[0]);
    return false;
  }
  bool have_file = false;
  for (size_t i = 1; i < args.size(); ++i) {
    std::string_view a = args[i];
    if (a == "--no-header") {
      o.header = false;
    } else if (a == "--descending" && o.action == "sort") {
      o.descending = true;
    } else if ((a == "--separator" ||
                (a == "--column" && o.action == "sort")) &&
               i + 1 < args.size()) {
      std::string_view v = args[++i];
      if (a == "--column") {
        o.column = v;
      } else {
        o.separator = FromUtf8(v);
      }
    } else if (!have_file && (a == "-" || !a.starts_with("--"))) {
      o.file = a;
      have_file = true;
    } else {
      std::fprintf(stderr, "quorvel csv: unexpected argument '%s'\n", args[i]);
      return false;
    }
  }
  if (o.action == "sort" && o.column.empty()) {
    std::fprintf(stderr, "quorvel csv sort: --column is required\n");
    return false;
  }
  return true;
}

// A column argument names a column when one has that name, else counts
// from 1 when it is a number.
Value ColumnArgument(const CDataset& ds, std::string_view column) {
  Value name(FromUtf8(column));
  if (ds.ResolveColumn(name) != 0) return name;
  bool digits = column.size() <= 9;
  for (char c : column) digits &= c >= '0' && c <= '9';
  if (digits && ds.ResolveColumn(Value(std::stoi(std::string(column)))) != 0)
    return Value(std::stoi(std::string(column)));
  std::u16string why = u"No column '";
  why += name.string_view();
  why += u"' in the CSV header";
  ErrorRaise(kErrInvalidCall, u"", why);
}

}  // namespace

int RunCsv(std::span<char*> args) {
  CsvOptions o;
  if (!ParseCsvArgs(args, o)) return CsvUsage();
  std::u16string text;
  if (!ReadTextInput(o.file, &text)) return 1;
  Ref<CDataset> ds = CDataset::Create();
  ds->FromCSV(String(text), o.header, String(o.separator));
  if (o.action == "to-json") {
    PrintLine(ds->ToJSON());
    return 0;
  }
  ds->Sort(ColumnArgument(*ds, o.column), o.descending);
  String csv = ds->ToCSV(String(o.separator));
  std::u16string_view out = csv.view();
  // Input without a header gets none back: drop the generated Col1.. line.
  if (!o.header) out.remove_prefix(out.find(u"\r\n") + 2);
  Print(out);
  return 0;
}

}  // namespace quorvel::cli
