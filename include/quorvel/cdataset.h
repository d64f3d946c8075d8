// `CDataset`: a table of named columns and 1-based rows of Values, with
// sorting, searching, filtering and CSV and JSON text forms.
#ifndef QUORVEL_CDATASET_H_
#define QUORVEL_CDATASET_H_

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "quorvel/dictionary.h"
#include "quorvel/dispatch.h"
#include "quorvel/object.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

namespace quorvel {

// How `CDataset::FromCSVStandard` and `CsvLoader` read CSV text.
struct CsvOptions {
  char16_t separator = u',';
  // The first record names the columns; otherwise they are Col1, Col2, ...
  bool has_header = true;
};

// A table: an ordered list of uniquely (case-sensitively) named columns and a
// list of rows, each holding one Value per column. Columns are declared while
// the table has no rows; rows are then appended in amortised constant time.
// Rows and columns are numbered from 1; a column argument is a name (a
// String) or a number (any numeric kind but Date and Boolean).
//
// Cells follow the store rule: an object is a shared reference, anything
// else a private copy. Rows are stored once and reached through a row order,
// so sorting moves row numbers, never cells or text.
//
// A member that raises leaves the table as it was, except `FromCSV`, which
// keeps what it loaded before the failure. Thread-compatible.
class CDataset final : public Object {
 public:
  static Ref<CDataset> Create();
  const ClassInfo& Class() const override;

  // Appends a column. Raises 5 (source "AddColumn") when the table has rows,
  // when the name is empty or only spaces, or when the exact name is present.
  void AddColumn(const String& colName);
  // Appends a row of the given values (see `AddRowArray`).
  void AddRow(std::span<const Value> Values);
  // Appends a row: column c takes the element at absolute index c - 1 of the
  // one-dimensional array `Values`, or Null past its upper bound; elements
  // past the last column are ignored. Raises 5 (source "AddRow") when there
  // are no columns, 13 for a non-array, 9 for an array that has indices at or
  // above 0 but no element 0, or more than one dimension, 6 when the row
  // capacity cannot double within 32 bits. Nothing changes when it raises.
  void AddRowArray(const Value& Values);
  int32_t RowCount() const { return row_count_; }
  int32_t ColumnCount() const { return column_count_; }
  // Returns the cell at `Row` in the column `Col` names by the store rule, or
  // Null when either names nothing. Raises only what `ResolveColumn` raises.
  Value Item(int32_t Row, const Value& Col) const;
  // Stores `NewValue` in a cell by the store rule; does nothing when `Row`
  // or `Col` names nothing.
  void LetItem(int32_t Row, const Value& Col, const Value& NewValue);

  // Orders the rows by their cells in one column, Null first (last when
  // `Descending`), Strings ignoring case. Not stable. Does nothing when the
  // column names nothing or there are fewer than two rows. When comparing two
  // cells raises, the error reaches the caller and the rows are as before.
  void Sort(const Value& Col, bool Descending = false);
  // Returns the number of the first row whose cell in `Col` compares equal
  // to `value` (Null finds Null), or 0.
  int32_t Search(const Value& Col, const Value& value) const;
  // Returns a new dataset with every column and copies of the matching rows;
  // one without columns when `Col` names nothing.
  Ref<CDataset> Filter(const Value& Col, const Value& value) const;

  // Returns the header line and one line per row, each ended by CR LF;
  // a field holding the separator, a double quote, a CR or an LF is quoted.
  // Raises the conversion error of a cell that has no text form.
  String ToCSV(const String& Separator = String(u",")) const;
  // Replaces the content with the text's lines (split at CR LF only), every
  // value a String. Raises the errors of `AddColumn` for a bad header.
  void FromCSV(const String& CSVText, bool HasHeader = true,
               const String& Separator = String(u","));
  // Replaces the content with CSV text read as RFC 4180 defines it, every
  // value a String (see `CsvLoader`, which does the reading). Raises 9,
  // source "CSV", "Line L, column C: " and the fault for text that is not
  // CSV or a record with more fields than there are columns; the table then
  // holds the rows before it.
  void FromCSVStandard(std::u16string_view CSVText,
                       const CsvOptions& options = {});
  // Returns an array of one object per row, every value a JSON string.
  String ToJSON() const;

  // Returns a new dataset with the same columns and rows (objects shared).
  Ref<CDataset> Clone() const;
  // Returns a new dataset of the columns the arguments name, in argument
  // order; arguments that name no column are skipped. Raises 5 (source
  // "AddColumn") when two arguments name the same column.
  Ref<CDataset> SelectColumns(std::span<const Value> Columns) const;
  // Removes every column and row.
  void Clear();

  // C++ access beside the late-bound members.
  //
  // Returns the column number `Col` names, or 0. Raises 6 for a number
  // outside the 32-bit range.
  int32_t ResolveColumn(const Value& Col) const;
  // Returns the name of column `col` (1 to ColumnCount).
  const String& ColumnName(int32_t col) const { return names_[col - 1]; }
  // Returns the cell at row `row` (1 to RowCount) and column `col` (1 to
  // ColumnCount) without copying it.
  const Value& Cell(int32_t row, int32_t col) const {
    return cells_[static_cast<size_t>(order_[row - 1]) * column_count_ + col -
                  1];
  }
  // Returns the number of rows the table holds before it grows again.
  int32_t capacity() const { return capacity_; }

  // The three-way comparison of `Sort`, `Search` and `Filter`: Null first,
  // Strings ignoring case, everything else by the Value comparison.
  static int32_t CompareCells(const Value& a, const Value& b);

 private:
  friend class CsvLoader;  // appends the fields it read with AppendFields
  CDataset();

  // Grows the row capacity by doubling from 20 until it holds `required`
  // rows; raises 6 when that passes the 32-bit range.
  void EnsureRowCapacity(int64_t required);
  // Appends a row whose cells `fill(Value* cells)` writes; the cells arrive
  // Empty. Nothing changes when `fill` raises.
  template <class Fill>
  void AppendRow(Fill&& fill);
  // Appends a row of copies of `from[0..ColumnCount)`.
  void AppendCopy(const Value* from);
  // Appends a row of Strings, moved in, padded with Null.
  void AppendFields(std::vector<Value>& fields);
  // Returns copies of the cells of row `row`.
  std::vector<Value> GetRowValues(int32_t row) const;
  Value* RowCells(int32_t row) {
    return &cells_[static_cast<size_t>(order_[row - 1]) * column_count_];
  }
  const Value* RowCells(int32_t row) const {
    return &cells_[static_cast<size_t>(order_[row - 1]) * column_count_];
  }

  std::vector<String> names_;
  Ref<Dictionary> index_;  // column name -> column number (a Long)
  int32_t column_count_ = 0;
  int32_t row_count_ = 0;
  int32_t capacity_ = 20;
  // The rows in the order they were added, `column_count_` cells each.
  std::vector<Value> cells_;
  // Row r (from 1) is stored at position order_[r - 1] of `cells_`.
  std::vector<uint32_t> order_;
};

}  // namespace quorvel

#endif  // QUORVEL_CDATASET_H_
