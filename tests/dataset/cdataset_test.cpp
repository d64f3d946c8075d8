#include "quorvel/cdataset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "test_util.h"

namespace quorvel {
namespace {

Value Call(const Value& ds, std::u16string_view name,
           std::initializer_list<Value> args = {},
           CallType type = CallType::Method) {
  return CallByName(ds, name, type, args);
}

Value Get(const Value& ds, int32_t row, const Value& col) {
  return CallByName(ds, u"Item", CallType::Get, {Value(row), col});
}

Value NewDataset(std::initializer_list<const char16_t*> columns) {
  Value ds = CreateObject(u"CDataset");
  for (const char16_t* c : columns) Call(ds, u"AddColumn", {Value(c)});
  return ds;
}

// Returns column `col` of every row as text, Null as "~", joined by spaces.
std::u16string Column(const Value& ds, const Value& col) {
  std::u16string out;
  const int32_t rows = ToLong(Call(ds, u"RowCount", {}, CallType::Get));
  for (int32_t r = 1; r <= rows; ++r) {
    if (r > 1) out += u' ';
    Value v = Get(ds, r, col);
    out += v.IsNull() ? u"~" : ToText(v).str();
  }
  return out;
}

TEST(CDatasetTableTest, ColumnRulesAndTheirErrors) {
  Value ds = NewDataset({u"Name", u"name", u" Name "});
  EXPECT_EQ(ToLong(Call(ds, u"ColumnCount", {}, CallType::Get)), 3);
  ExpectRaises(Call(ds, u"AddColumn", {Value(u"Name")}), 5, u"AddColumn",
               u"Column 'Name' already exist.");
  ExpectRaises(Call(ds, u"AddColumn", {Value(u"   ")}), 5, u"AddColumn",
               u"Column name cannot be empty.");
  ExpectRaises(Call(ds, u"AddColumn", {Value(u"")}), 5, u"AddColumn",
               u"Column name cannot be empty.");
  EXPECT_EQ(ToLong(Call(ds, u"ColumnCount", {}, CallType::Get)), 3);
  // Names are kept untrimmed and matched exactly.
  auto& typed = *ds.object_as<CDataset>();
  EXPECT_EQ(typed.ColumnName(3).view(), u" Name ");
  EXPECT_EQ(typed.ResolveColumn(Value(u" Name ")), 3);
  EXPECT_EQ(typed.ResolveColumn(Value(u"NAME")), 0);

  Call(ds, u"AddRow", {Value(1)});
  ExpectRaises(Call(ds, u"AddColumn", {Value(u"x")}), 5, u"AddColumn",
               u"Can't Add new column in non-empty dataset.");
  Call(ds, u"Clear");
  EXPECT_EQ(ToLong(Call(ds, u"ColumnCount", {}, CallType::Get)), 0);
  EXPECT_EQ(ToLong(Call(ds, u"RowCount", {}, CallType::Get)), 0);
  EXPECT_EQ(typed.capacity(), 0);
  ExpectRaises(Call(ds, u"AddRow", {Value(1)}), 5, u"AddRow",
               u"No columns defined.");
  ExpectRaises(Call(ds, u"AddRowArray", {MakeArray({Value(1)})}), 5, u"AddRow",
               u"No columns defined.");
  Call(ds, u"AddColumn", {Value(u"Name")});  // the old names are gone
  EXPECT_EQ(typed.capacity(), 20);
}

TEST(CDatasetTableTest, RowsArePaddedCutAndReadByAbsoluteIndex) {
  Value ds = NewDataset({u"a", u"b", u"c"});
  Call(ds, u"AddRow", {Value(1)});
  Call(ds, u"AddRow", {Value(1), Value(2), Value(3), Value(4)});
  Call(ds, u"AddRow");
  Call(ds, u"AddRowArray", {MakeArray({Value(u"x"), Value(u"y")})});
  Call(ds, u"AddRowArray", {MakeArray({Value(7), Value(8), Value(9)}, -1)});
  Call(ds, u"AddRowArray", {MakeArray({})});  // no element at all
  EXPECT_EQ(Column(ds, Value(u"a")), u"1 1 ~ x 8 ~");
  EXPECT_EQ(Column(ds, Value(u"b")), u"~ 2 ~ y 9 ~");
  EXPECT_EQ(Column(ds, Value(u"c")), u"~ 3 ~ ~ ~ ~");
  EXPECT_EQ(VarType(Get(ds, 1, Value(u"b"))), 1);  // Null, not Empty
  // Values are stored as they come: nothing is converted.
  EXPECT_EQ(VarType(Get(ds, 4, Value(u"a"))), 8);
  EXPECT_EQ(VarType(Get(ds, 2, Value(u"a"))), 3);

  // An array starting above 0 has no element 0; nothing is added.
  ExpectRaisesStandard(
      Call(ds, u"AddRowArray", {MakeArray({Value(1), Value(2)}, 1)}),
      kErrSubscript);
  ExpectRaisesStandard(Call(ds, u"AddRowArray", {MakeArray({}, 5)}),
                       kErrSubscript);
  ExpectRaisesStandard(Call(ds, u"AddRowArray", {Value(5)}), kErrTypeMismatch);
  EXPECT_EQ(ToLong(Call(ds, u"RowCount", {}, CallType::Get)), 6);
  // A byte array is read element by element.
  const uint8_t bytes[] = {65, 66};
  Call(ds, u"AddRowArray", {MakeByteArray(bytes)});
  EXPECT_EQ(ToLong(Get(ds, 7, Value(u"b"))), 66);
}

TEST(CDatasetTableTest, ItemNeverFailsForABadRowOrColumn) {
  Value ds = NewDataset({u"A", u"2"});
  Call(ds, u"AddRow", {Value(u"a1"), Value(u"b1")});
  Call(ds, u"AddRow", {Value(u"a2"), Value(u"b2")});
  const Value bad_cols[] = {Value(u"Z"), Value(0),      Value(3),
                            Value(-1),   Value(true),   Value::Date(2.0),
                            Value(),     Value::Null(), MakeArray({Value(1)})};
  for (const Value& col : bad_cols) {
    EXPECT_TRUE(Get(ds, 1, col).IsNull()) << VarType(col);
    CallByName(ds, u"Item", CallType::Let, {Value(1), col, Value(u"z")});
  }
  for (int32_t row : {0, 3, -5}) {
    EXPECT_TRUE(Get(ds, row, Value(1)).IsNull()) << row;
    CallByName(ds, u"Item", CallType::Let, {Value(row), Value(1), Value(9)});
  }
  EXPECT_EQ(Column(ds, Value(1)), u"a1 a2");
  EXPECT_EQ(Column(ds, Value(2)), u"b1 b2");
  // A number addresses by position, a String by name; fractions round to
  // even, and any numeric kind but Date and Boolean counts.
  CallByName(ds, u"Item", CallType::Let, {Value(2), Value(u"2"), Value(u"n")});
  EXPECT_EQ(ToText(Get(ds, 2, Value(int16_t{2}))).view(), u"n");
  EXPECT_EQ(ToText(Get(ds, 1, Value(1.5))).view(), u"b1");
  EXPECT_EQ(ToText(Get(ds, 1, Value(2.5))).view(), u"b1");
  EXPECT_EQ(ToText(Get(ds, 1, Value::Currency(10000))).view(), u"a1");
  EXPECT_EQ(ToText(Get(ds, 1, Value::Byte(1))).view(), u"a1");
  EXPECT_TRUE(Get(ds, 1, Value(0.4)).IsNull());
  ExpectRaisesStandard(Get(ds, 1, Value(3e9)), kErrOverflow);
  // The default member is Item, and there is no reference-assigning form.
  EXPECT_EQ(
      ToText(CallByName(ds, u"", CallType::Get, {Value(1), Value(1)})).view(),
      u"a1");
  ExpectRaisesStandard(
      CallByName(ds, u"Item", CallType::Set, {Value(1), Value(1), ds}),
      kErrNoSuchMember);
  ExpectRaisesStandard(LetValue(ds), kErrWrongArgumentCount);
}

TEST(CDatasetTableTest, CapacityDoublesAndObjectsAreShared) {
  auto ds = CDataset::Create();
  ds->AddColumn(u"n");
  ds->AddColumn(u"o");
  EXPECT_EQ(ds->capacity(), 20);
  Value inner = CreateObject(u"Scripting.Dictionary");
  for (int32_t i = 1; i <= 20; ++i) ds->AddRow(std::vector<Value>{Value(i)});
  EXPECT_EQ(ds->capacity(), 20);
  ds->AddRow(std::vector<Value>{Value(21), inner});
  EXPECT_EQ(ds->capacity(), 40);
  for (int32_t i = 22; i <= 81; ++i) ds->AddRow(std::vector<Value>{Value(i)});
  EXPECT_EQ(ds->capacity(), 160);
  for (int32_t r = 1; r <= 81; ++r) EXPECT_EQ(ToLong(ds->Cell(r, 1)), r);

  Ref<CDataset> copy = ds->Clone();
  EXPECT_EQ(copy->RowCount(), 81);
  EXPECT_EQ(copy->Item(21, Value(u"o")).object(), inner.object());
  EXPECT_EQ(ds->Item(21, Value(u"o")).object(), inner.object());
  // Cells are independent copies otherwise.
  copy->LetItem(1, Value(1), Value(u"changed"));
  EXPECT_EQ(ToLong(ds->Item(1, Value(1))), 1);
  // An array in a cell comes back as a copy.
  ds->LetItem(2, Value(2), MakeArray({Value(1)}));
  Value arr = ds->Item(2, Value(2));
  arr.array().Put(0, Value(5));
  EXPECT_EQ(ToLong(ArrayItem(ds->Item(2, Value(2)), 0)), 1);
}

TEST(CDatasetTableTest, SelectColumnsFollowsArgumentOrder) {
  Value ds = NewDataset({u"A", u"B", u"C"});
  Call(ds, u"AddRow", {Value(1), Value(2), Value(3)});
  Call(ds, u"AddRow", {Value(4), Value(5), Value(6)});
  Value picked =
      Call(ds, u"SelectColumns", {Value(u"B"), Value(u"nope"), Value(1)});
  EXPECT_EQ(TypeName(picked), u"CDataset");
  EXPECT_EQ(ToLong(Call(picked, u"ColumnCount", {}, CallType::Get)), 2);
  EXPECT_EQ(picked.object_as<CDataset>()->ColumnName(1).view(), u"B");
  EXPECT_EQ(Column(picked, Value(1)), u"2 5");
  EXPECT_EQ(Column(picked, Value(2)), u"1 4");
  Value none = Call(ds, u"SelectColumns", {Value(u"x")});
  EXPECT_EQ(ToLong(Call(none, u"ColumnCount", {}, CallType::Get)), 0);
  EXPECT_EQ(ToLong(Call(none, u"RowCount", {}, CallType::Get)), 0);
  Value empty = Call(ds, u"SelectColumns");
  EXPECT_EQ(ToLong(Call(empty, u"ColumnCount", {}, CallType::Get)), 0);
  ExpectRaises(Call(ds, u"SelectColumns", {Value(u"A"), Value(1)}), 5,
               u"AddColumn", u"Column 'A' already exist.");
}

TEST(CDatasetSortTest, WholeRowsMoveBothWaysWithNullsAtTheEnds) {
  Value ds = NewDataset({u"A", u"B"});
  Call(ds, u"AddRow", {Value(3), Value(u"x")});
  Call(ds, u"AddRow", {Value(1), Value(u"y")});
  Call(ds, u"AddRow", {Value(2), Value(u"z")});
  Call(ds, u"Sort", {Value(u"A")});
  EXPECT_EQ(Column(ds, Value(u"A")), u"1 2 3");
  EXPECT_EQ(Column(ds, Value(u"B")), u"y z x");
  Call(ds, u"Sort", {Value(2), Value(true)});
  EXPECT_EQ(Column(ds, Value(u"B")), u"z y x");
  EXPECT_EQ(Column(ds, Value(u"A")), u"2 1 3");
  // Columns that name nothing leave the order alone.
  Call(ds, u"Sort", {Value(u"a")});
  Call(ds, u"Sort", {Value(9)});
  EXPECT_EQ(Column(ds, Value(u"A")), u"2 1 3");

  // 37 rows use both the partitioning and the insertion step; keys of
  // mixed kinds go through the general comparison, one kind through the
  // narrow ones, and every row keeps its partner cell.
  std::mt19937 rng(7);
  for (int kind = 0; kind < 3; ++kind) {
    Value big = NewDataset({u"k", u"partner"});
    std::vector<int> keys;
    for (int i = 0; i < 37; ++i) {
      const int key = static_cast<int>(rng() % 12);
      keys.push_back(key);
      Value cell = key == 0    ? Value::Null()
                   : kind == 0 ? Value(key)
                   : kind == 1 ? Value(std::u16string(1, u'a' + key))
                               : (key % 2 ? Value(double(key)) : Value(key));
      Call(big, u"AddRow", {cell, Value(key)});
    }
    std::vector<int> sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    for (bool desc : {false, true}) {
      Call(big, u"Sort", {Value(u"k"), Value(desc)});
      for (int r = 1; r <= 37; ++r) {
        const int want = desc ? sorted[37 - r] : sorted[r - 1];
        const Value key = Get(big, r, Value(u"k"));
        EXPECT_EQ(ToLong(Get(big, r, Value(u"partner"))), want)
            << kind << desc << r;
        EXPECT_EQ(key.IsNull(), want == 0) << kind << desc << r;
      }
    }
  }
}

TEST(CDatasetSortTest, TextIgnoresCaseAndBadComparisonsKeepTheRows) {
  Value ds = NewDataset({u"fruit"});
  for (const char16_t* f : {u"cherry", u"Banana", u"apple"})
    Call(ds, u"AddRow", {Value(f)});
  Call(ds, u"Sort", {Value(1)});
  EXPECT_EQ(Column(ds, Value(1)), u"apple Banana cherry");
  EXPECT_EQ(ToLong(Call(ds, u"Search", {Value(u"fruit"), Value(u"BANANA")})),
            2);
  EXPECT_EQ(ToLong(Call(ds, u"Search", {Value(u"fruit"), Value(u"kiwi")})), 0);
  EXPECT_EQ(ToLong(Call(ds, u"Search", {Value(u"nope"), Value(u"apple")})), 0);

  // An object key cannot be compared: the error reaches the caller and the
  // rows are left in their order.
  Value objs = NewDataset({u"k"});
  for (int i = 0; i < 15; ++i) Call(objs, u"AddRow", {Value(15 - i)});
  CallByName(objs, u"Item", CallType::Let,
             {Value(8), Value(1), CreateObject(u"CDict")});
  ExpectRaisesStandard(Call(objs, u"Sort", {Value(1)}), kErrWrongArgumentCount);
  const CDataset& rows = *objs.object_as<CDataset>();
  for (int32_t r = 1; r <= 15; ++r) {
    if (r != 8) EXPECT_EQ(ToLong(rows.Cell(r, 1)), 16 - r);
  }
  EXPECT_EQ(TypeName(rows.Cell(8, 1)), u"CDict");
  ExpectRaisesStandard(Call(objs, u"Search", {Value(1), Value(1)}),
                       kErrWrongArgumentCount);
}

TEST(CDatasetSortTest, SearchAndFilterMatchNullAndNumbersAcrossKinds) {
  Value ds = NewDataset({u"id", u"v"});
  Call(ds, u"AddRow", {Value(1), Value(u"a")});
  Call(ds, u"AddRow", {Value(2)});
  Call(ds, u"AddRow", {Value(2.0), Value(u"A")});
  Call(ds, u"AddRow", {Value::Null(), Value(u"n")});
  EXPECT_EQ(ToLong(Call(ds, u"Search", {Value(1), Value(int16_t{2})})), 2);
  EXPECT_EQ(ToLong(Call(ds, u"Search", {Value(u"v"), Value::Null()})), 2);
  EXPECT_EQ(ToLong(Call(ds, u"Search", {Value(u"id"), Value::Null()})), 4);

  Value twos = Call(ds, u"Filter", {Value(1), Value(2)});
  EXPECT_EQ(ToLong(Call(twos, u"RowCount", {}, CallType::Get)), 2);
  EXPECT_EQ(Column(twos, Value(u"v")), u"~ A");
  Value nulls = Call(ds, u"Filter", {Value(u"v"), Value::Null()});
  EXPECT_EQ(Column(nulls, Value(u"id")), u"2");
  Value as = Call(ds, u"Filter", {Value(u"v"), Value(u"a")});
  EXPECT_EQ(Column(as, Value(u"id")), u"1 2");
  Value none = Call(ds, u"Filter", {Value(u"v"), Value(u"zz")});
  EXPECT_EQ(ToLong(Call(none, u"ColumnCount", {}, CallType::Get)), 2);
  EXPECT_EQ(ToLong(Call(none, u"RowCount", {}, CallType::Get)), 0);
  Value nocol = Call(ds, u"Filter", {Value(u"x"), Value(1)});
  EXPECT_EQ(ToLong(Call(nocol, u"ColumnCount", {}, CallType::Get)), 0);
  // The result is independent of its source.
  CallByName(twos, u"Item", CallType::Let, {Value(1), Value(2), Value(u"q")});
  EXPECT_TRUE(Get(ds, 2, Value(2)).IsNull());
}

TEST(CDatasetSortTest, LargeAndAdversarialInputsSortWithinBounds) {
  // Many equal keys, already sorted, reversed and organ-pipe orders: the
  // sort must finish and order every one of them.
  const int n = 20000;
  for (int shape = 0; shape < 4; ++shape) {
    auto ds = CDataset::Create();
    ds->AddColumn(u"k");
    for (int i = 0; i < n; ++i) {
      const int key = shape == 0   ? i % 3
                      : shape == 1 ? i
                      : shape == 2 ? n - i
                                   : (i < n / 2 ? i : n - i);
      ds->AddRow(std::vector<Value>{Value(key)});
    }
    ds->Sort(Value(1), shape % 2 == 1);
    for (int r = 2; r <= n; ++r) {
      const int32_t a = ToLong(ds->Cell(r - 1, 1));
      const int32_t b = ToLong(ds->Cell(r, 1));
      if (shape % 2 == 1 ? a < b : a > b) {
        ADD_FAILURE() << "shape " << shape << " row " << r;
        break;
      }
    }
  }
}

}  // namespace
}  // namespace quorvel
