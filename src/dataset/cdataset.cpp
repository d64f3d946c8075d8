// CDataset's table: columns, rows, cells, copies.
#include "quorvel/cdataset.h"

#include <limits>
#include <new>
#include <utility>

#include "core/std_exceptions.h"
#include "quorvel/convert.h"
#include "quorvel/error.h"
#include "quorvel/safearray.h"

namespace quorvel {

namespace {

constexpr std::u16string_view kAddColumn = u"AddColumn";
constexpr std::u16string_view kAddRow = u"AddRow";
constexpr int32_t kFirstCapacity = 20;

bool IsBlank(std::u16string_view s) {
  for (char16_t c : s) {
    if (c != u' ') return false;
  }
  return true;
}

}  // namespace

CDataset::CDataset() : index_(Dictionary::Create()) {}

Ref<CDataset> CDataset::Create() { return Ref<CDataset>(new CDataset); }

const ClassInfo& CDataset::Class() const {
  static const ClassInfo info =
      ClassBuilder<CDataset>(u"CDataset")
          .Method<&CDataset::AddColumn>(u"AddColumn", {u"colName"})
          .Method<&CDataset::AddRow>(u"AddRow", {u"Values"})
          .Method<&CDataset::AddRowArray>(u"AddRowArray", {u"Values"})
          .Get<&CDataset::RowCount>(u"RowCount")
          .Get<&CDataset::ColumnCount>(u"ColumnCount")
          .Get<&CDataset::Item>(u"Item", {u"Row", u"Col"})
          .Let<&CDataset::LetItem>(u"Item", {u"Row", u"Col", u"NewValue"})
          .Method<&CDataset::Sort>(u"Sort",
                                   {u"Col", Opt(u"Descending", Value(false))})
          .Method<&CDataset::Search>(u"Search", {u"Col", u"Value"})
          .Method<&CDataset::Filter>(u"Filter", {u"Col", u"Value"})
          .Method<&CDataset::ToCSV>(u"ToCSV", {Opt(u"Separator", Value(u","))})
          .Method<&CDataset::FromCSV>(
              u"FromCSV", {u"CSVText", Opt(u"HasHeader", Value(true)),
                           Opt(u"Separator", Value(u","))})
          .Method<&CDataset::ToJSON>(u"ToJSON")
          .Method<&CDataset::Clone>(u"Clone")
          .Method<&CDataset::SelectColumns>(u"SelectColumns", {u"Columns"})
          .Method<&CDataset::Clear>(u"Clear")
          .Default(u"Item")
          .Build();
  return info;
}

int32_t CDataset::ResolveColumn(const Value& Col) const {
  switch (Col.kind()) {
    case Kind::String: {
      const Value* number = index_->Find(Col.string_view());
      return number == nullptr ? 0 : number->long_value();
    }
    case Kind::Integer:
    case Kind::Long:
    case Kind::Single:
    case Kind::Double:
    case Kind::Currency:
    case Kind::Decimal:
    case Kind::Byte: {
      const int32_t c = ToLong(Col);
      return c >= 1 && c <= column_count_ ? c : 0;
    }
    default:
      return 0;
  }
}

void CDataset::EnsureRowCapacity(int64_t required) {
  if (required <= capacity_) return;
  int64_t grown = capacity_ == 0 ? kFirstCapacity : int64_t{capacity_} * 2;
  while (grown < required) grown *= 2;
  if (grown > std::numeric_limits<int32_t>::max()) RaiseStandard(kErrOverflow);
  capacity_ = static_cast<int32_t>(grown);
}

template <class Fill>
void CDataset::AppendRow(Fill&& fill) {
  EnsureRowCapacity(int64_t{row_count_} + 1);
  const size_t width = static_cast<size_t>(column_count_);
  const size_t base = cells_.size();
  try {
    internal::TranslateStdExceptions([&] {
      // The storage follows the row capacity, so appends in between never
      // move the cells.
      const size_t wanted = static_cast<size_t>(capacity_) * width;
      if (cells_.capacity() < wanted) cells_.reserve(wanted);
      if (order_.capacity() < static_cast<size_t>(capacity_))
        order_.reserve(static_cast<size_t>(capacity_));
      cells_.resize(base + width);
      fill(&cells_[base]);
    });
  } catch (...) {
    cells_.resize(base);
    throw;
  }
  order_.push_back(static_cast<uint32_t>(row_count_));
  ++row_count_;
}

void CDataset::AddColumn(const String& colName) {
  if (row_count_ > 0)
    ErrorRaise(kErrInvalidCall, kAddColumn,
               u"Can't Add new column in non-empty dataset.");
  if (IsBlank(colName.view()))
    ErrorRaise(kErrInvalidCall, kAddColumn, u"Column name cannot be empty.");
  if (index_->Find(colName.view()) != nullptr) {
    std::u16string text = u"Column '";
    text += colName.view();
    text += u"' already exist.";
    ErrorRaise(kErrInvalidCall, kAddColumn, text);
  }
  names_.push_back(colName);
  try {
    index_->Add(colName, Value(column_count_ + 1));
  } catch (...) {
    names_.pop_back();
    throw;
  }
  ++column_count_;
  if (capacity_ < kFirstCapacity) EnsureRowCapacity(kFirstCapacity);
}

void CDataset::AddRow(std::span<const Value> Values) {
  if (column_count_ == 0)
    ErrorRaise(kErrInvalidCall, kAddRow, u"No columns defined.");
  AppendRow([&](Value* cells) {
    for (int32_t c = 0; c < column_count_; ++c) {
      cells[c] =
          static_cast<size_t>(c) < Values.size() ? Values[c] : Value::Null();
    }
  });
}

void CDataset::AddRowArray(const Value& Values) {
  if (column_count_ == 0)
    ErrorRaise(kErrInvalidCall, kAddRow, u"No columns defined.");
  if (!Values.IsArray()) RaiseStandard(kErrTypeMismatch);
  const SafeArray& array = Values.array();
  if (array.dimensions() != 1) RaiseStandard(kErrSubscript);
  const int64_t lower = array.LowerBound();
  const int64_t upper = lower + array.bounds()[0].count - 1;
  // Element c - 1 is read for every column up to the upper bound, so an
  // array that reaches 0 or above must start at or below 0. Checked before
  // the row is counted, so a failure leaves the table as it was.
  if (upper >= 0 && lower > 0) RaiseStandard(kErrSubscript);
  const bool packed = array.element_kind() == Kind::Byte;
  AppendRow([&](Value* cells) {
    for (int32_t c = 0; c < column_count_; ++c) {
      if (c > upper) {
        cells[c] = Value::Null();
        continue;
      }
      const size_t flat = static_cast<size_t>(c - lower);
      cells[c] = packed ? array.Get(flat) : array.values()[flat];
    }
  });
}

void CDataset::AppendCopy(const Value* from) {
  AppendRow([&](Value* cells) {
    for (int32_t c = 0; c < column_count_; ++c) cells[c] = from[c];
  });
}

void CDataset::AppendFields(std::vector<Value>& fields) {
  AppendRow([&](Value* cells) {
    for (int32_t c = 0; c < column_count_; ++c) {
      cells[c] = static_cast<size_t>(c) < fields.size() ? std::move(fields[c])
                                                        : Value::Null();
    }
  });
}

Value CDataset::Item(int32_t Row, const Value& Col) const {
  const int32_t c = ResolveColumn(Col);
  if (c == 0 || Row < 1 || Row > row_count_) return Value::Null();
  return Cell(Row, c);
}

void CDataset::LetItem(int32_t Row, const Value& Col, const Value& NewValue) {
  const int32_t c = ResolveColumn(Col);
  if (c == 0 || Row < 1 || Row > row_count_) return;
  RowCells(Row)[c - 1] = NewValue;
}

std::vector<Value> CDataset::GetRowValues(int32_t row) const {
  const Value* cells = RowCells(row);
  return std::vector<Value>(cells, cells + column_count_);
}

Ref<CDataset> CDataset::Clone() const {
  Ref<CDataset> copy = Create();
  for (const String& name : names_) copy->AddColumn(name);
  copy->EnsureRowCapacity(row_count_);
  for (int32_t r = 1; r <= row_count_; ++r) {
    copy->AppendCopy(RowCells(r));
  }
  return copy;
}

Ref<CDataset> CDataset::SelectColumns(std::span<const Value> Columns) const {
  Ref<CDataset> selected = Create();
  std::vector<int32_t> picked;
  for (const Value& column : Columns) {
    const int32_t c = ResolveColumn(column);
    if (c == 0) continue;
    selected->AddColumn(names_[c - 1]);
    picked.push_back(c - 1);
  }
  if (picked.empty()) return selected;
  selected->EnsureRowCapacity(row_count_);
  for (int32_t r = 1; r <= row_count_; ++r) {
    const Value* from = RowCells(r);
    selected->AppendRow([&](Value* cells) {
      for (size_t k = 0; k < picked.size(); ++k) cells[k] = from[picked[k]];
    });
  }
  return selected;
}

void CDataset::Clear() {
  // Swap everything out first, so that objects released with the old
  // content see this dataset already empty.
  std::vector<Value> cells = std::exchange(cells_, {});
  std::vector<String> names = std::exchange(names_, {});
  Ref<Dictionary> index = std::exchange(index_, Dictionary::Create());
  order_ = {};
  column_count_ = 0;
  row_count_ = 0;
  capacity_ = 0;
}

}  // namespace quorvel
