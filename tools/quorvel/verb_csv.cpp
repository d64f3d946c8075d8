// `quorvel csv to-json|sort`: RFC 4180 CSV through a CDataset, as JSON or
// sorted by a column.
#include <algorithm>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "quorvel/compare.h"
#include "quorvel/csvloader.h"

namespace quorvel::cli {

namespace {

constexpr OptionSpec kOptions[] = {
    {"--separator", "S",
     "the field separator, one character (default ','; '\\t' for a tab)"},
    {"--no-header", "",
     "the first record is data; the columns are Col1, Col2, ..., as many as "
     "the longest record has, and shorter records are padded with empty "
     "cells (sort writes no header)"},
    {"--quote", "none",
     "quotes are plain text: no field is quoted, a double quote is a "
     "character like any other (sort then writes no quotes either)"},
    {"--comment", "CHAR",
     "skip the lines that begin with CHAR, one character (sort drops "
     "them)"},
    {"--column", "C", "the column to sort by, a name or else a number from 1",
     "sort"},
    {"--descending", "", "largest first", "sort"},
    {"--numeric", "",
     "compare the cells as numbers (empty cells first; a cell that is no "
     "number is an error)",
     "sort"},
};

constexpr VerbSpec kSpec = {
    "csv",
    "csv to-json [OPTIONS] [FILE|-]\n"
    "csv sort --column C [OPTIONS] [FILE|-]",
    "Reads CSV text as RFC 4180 defines it, UTF-8, from FILE or standard\n"
    "input: records end at LF, CR LF or CR; a field in double quotes may\n"
    "hold separators, line breaks and doubled double quotes; spaces belong\n"
    "to the fields; a byte order mark and empty lines are skipped. The\n"
    "header names the columns: an empty name becomes Col and the column's\n"
    "number, a repeated one gets _2, _3, ... A record with fewer fields\n"
    "than the header leaves the rest empty (null in JSON); one with more is\n"
    "an error, as is a stray double quote: \"quorvel: FILE:LINE:COLUMN: what\n"
    "went wrong (error 9)\", exit status 1. Without a header (--no-header)\n"
    "records may differ in length: the columns are as many as the longest\n"
    "has and shorter records are padded with empty cells. Tables that are\n"
    "not quite CSV, such as the tab-separated files of /usr/share/zoneinfo,\n"
    "read with --separator '\\t' --quote none --comment '#' --no-header.\n"
    "  to-json  writes an array of one object per record, every value a\n"
    "           JSON string\n"
    "  sort     writes the records ordered by one column, RFC 4180 CSV with\n"
    "           CR LF line ends; text is compared ignoring case, empty\n"
    "           cells first, and records that compare equal keep their order\n"
    "\n"
    "Both hold the whole table in memory.\n",
    kOptions,
};

// The field quoting of RFC 4180: a field holding the separator, a double
// quote, a CR or an LF goes between double quotes, its own doubled. Without
// `quotes` no field is quoted (none can hold a separator or a line break).
void PutField(std::u16string_view field, char16_t sep, bool quotes,
              std::string& line) {
  const bool quoted =
      quotes && field.find_first_of(std::u16string{sep, u'"', u'\r', u'\n'}) !=
                    std::u16string_view::npos;
  if (!quoted) {
    AppendUtf8(field, &line);
    return;
  }
  line += '"';
  for (size_t at = 0;;) {
    const size_t quote = field.find(u'"', at);
    AppendUtf8(field.substr(at, quote - at), &line);
    if (quote == std::u16string_view::npos) break;
    line += "\"\"";
    at = quote + 1;
  }
  line += '"';
}

// The value of a one-character option ("\t" for a tab); nothing when it
// is not given. Throws UsageError for anything else, a double quote or a
// line break.
std::optional<char16_t> Character(const Args& args, std::string_view option,
                                  const char* what) {
  const std::optional<std::string_view> s = args.Get(option);
  if (!s) return std::nullopt;
  if (*s == "\\t") return u'\t';
  const std::u16string units = FromUtf8(*s);
  if (units.size() != 1 || units[0] == u'"' || units[0] == u'\r' ||
      units[0] == u'\n') {
    args.Fail(std::string(what) +
              " is one character, not a double quote or a line break");
  }
  return units[0];
}

// A column argument names a column when one has that name, else counts
// from 1 when it is a number.
int32_t ColumnOf(const CDataset& ds, std::string_view column,
                 const Input& input) {
  const std::u16string name = FromUtf8(column);
  if (const int32_t c = ds.ResolveColumn(Value(name)); c != 0) return c;
  const bool digits =
      !column.empty() && column.size() <= 9 &&
      column.find_first_not_of("0123456789") == std::string_view::npos;
  if (digits) {
    const int32_t n = std::stoi(std::string(column));
    if (n >= 1 && n <= ds.ColumnCount()) return n;
  }
  throw Failure(input.name(),
                "no column " + Quote(column) + " in the CSV header",
                kErrInvalidCall);
}

// The sort keys of the numeric order: the cells as numbers, Null for empty
// ones.
std::vector<Value> NumericKeys(const CDataset& ds, int32_t column,
                               const Input& input) {
  std::vector<Value> keys(static_cast<size_t>(ds.RowCount()));
  for (int32_t r = 1; r <= ds.RowCount(); ++r) {
    const Value& cell = ds.Cell(r, column);
    Value& key = keys[static_cast<size_t>(r - 1)];
    if (cell.IsNull() || cell.string_view().empty()) {
      key = Value::Null();
      continue;
    }
    try {
      if (std::optional<Decimal> d = Decimal::Parse(cell.string_view())) {
        key = Value::Decimal(*d);
        continue;
      }
    } catch (const Error&) {
      key = ParseNumber(cell.string_view());  // beyond Decimal: a Double
      continue;
    }
    throw Failure(input.name(),
                  "record " + std::to_string(r) + ", column " +
                      Quote(ds.ColumnName(column).view()) + ": " +
                      Quote(cell.string_view()) + " is not a number",
                  kErrTypeMismatch);
  }
  return keys;
}

// Returns the record numbers in the order of the sort: stable, so records
// that compare equal keep their order.
std::vector<int32_t> SortedRows(const CDataset& ds, int32_t column,
                                const Args& args, const Input& input) {
  std::vector<int32_t> rows(static_cast<size_t>(ds.RowCount()));
  std::iota(rows.begin(), rows.end(), 1);
  const bool descending = args.Has("--descending");
  if (args.Has("--numeric")) {
    const std::vector<Value> keys = NumericKeys(ds, column, input);
    const auto rank = [&](int32_t a, int32_t b) {
      const Value& x = keys[static_cast<size_t>(a - 1)];
      const Value& y = keys[static_cast<size_t>(b - 1)];
      if (x.IsNull() || y.IsNull()) return x.IsNull() && !y.IsNull();
      return ValueLess(x, y);
    };
    std::stable_sort(rows.begin(), rows.end(), [&](int32_t a, int32_t b) {
      return descending ? rank(b, a) : rank(a, b);
    });
  } else {
    std::stable_sort(rows.begin(), rows.end(), [&](int32_t a, int32_t b) {
      const int32_t order =
          CDataset::CompareCells(ds.Cell(a, column), ds.Cell(b, column));
      return descending ? order > 0 : order < 0;
    });
  }
  return rows;
}

// Loads the input into `ds`; a fault becomes a Failure at its place.
void Load(Input& input, const CsvOptions& options, const CsvDialect& dialect,
          CDataset& ds) {
  InputText text(input);
  CsvLoader loader(ds, options, dialect);
  try {
    for (std::u16string_view piece; !(piece = text.Next()).empty();)
      loader.Feed(piece);
    loader.Finish();
  } catch (const Error& e) {
    if (loader.fault().empty()) throw;
    throw Failure(Place(input.name(), loader.line(), loader.column()),
                  ToUtf8(loader.fault()), e.number());
  }
}

void WriteJson(const CDataset& ds, Output& out) {
  JsonWriter writer(out, JSON::StandardStyle());
  JSON::StandardWriter& json = writer.events();
  json.BeginArray();
  for (int32_t r = 1; r <= ds.RowCount(); ++r) {
    json.BeginObject();
    for (int32_t c = 1; c <= ds.ColumnCount(); ++c) {
      json.Key(ds.ColumnName(c).view());
      const Value& cell = ds.Cell(r, c);
      if (cell.IsNull()) {
        json.Scalar(cell);
      } else {
        json.Text(cell.string_view());
      }
    }
    json.EndObject();
  }
  json.EndArray();
  writer.EndText();
}

void WriteCsv(const CDataset& ds, std::span<const int32_t> rows, bool header,
              char16_t sep, bool quotes, Output& out) {
  std::string line;
  const auto put_line = [&](auto field_of) {
    line.clear();
    for (int32_t c = 1; c <= ds.ColumnCount(); ++c) {
      if (c > 1) AppendUtf8(std::u16string_view(&sep, 1), &line);
      PutField(field_of(c), sep, quotes, line);
    }
    line += "\r\n";
    out.Write(line);
  };
  if (header) put_line([&](int32_t c) { return ds.ColumnName(c).view(); });
  for (int32_t r : rows) {
    put_line([&](int32_t c) {
      const Value& cell = ds.Cell(r, c);
      return cell.IsNull() ? std::u16string_view() : cell.string_view();
    });
  }
}

}  // namespace

int RunCsv(std::span<char*> raw) {
  const Args args(kSpec, raw);
  if (args.help()) return kExitOk;
  const std::string_view action = args.Action("to-json|sort");
  CsvOptions options;
  options.separator =
      Character(args, "--separator", "the separator").value_or(u',');
  options.has_header = !args.Has("--no-header");
  CsvDialect dialect;
  if (const std::optional<std::string_view> quote = args.Get("--quote")) {
    if (*quote != "none" && *quote != "\"")
      args.Fail("--quote takes none (or '\"', the default), not " +
                Quote(*quote));
    dialect.quotes = *quote != "none";
  }
  dialect.comment =
      Character(args, "--comment", "the comment character").value_or(0);
  if (dialect.comment == options.separator)
    args.Fail("the comment character is not the separator");
  dialect.uneven = !options.has_header;
  const std::optional<std::string_view> column = args.Get("--column");
  if (action == "sort" && !column) args.Fail("sort needs --column C");
  return Filter(args, action, [&](Input& input, Output& out) {
    Ref<CDataset> ds = CDataset::Create();
    Load(input, options, dialect, *ds);
    if (action == "to-json") {
      WriteJson(*ds, out);
    } else if (ds->ColumnCount() > 0) {
      const int32_t c = ColumnOf(*ds, *column, input);
      WriteCsv(*ds, SortedRows(*ds, c, args, input), options.has_header,
               options.separator, dialect.quotes, out);
    }
  });
}

}  // namespace quorvel::cli
