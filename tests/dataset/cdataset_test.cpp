#include "quorvel/cdataset.h"

#include <gtest/gtest.h>

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

// A dataset made by name with these columns and rows.
Value Table(std::initializer_list<const char16_t*> columns,
            std::initializer_list<std::vector<Value>> rows = {}) {
  Value ds = CreateObject(u"CDataset");
  for (const char16_t* c : columns) Call(ds, u"AddColumn", {Value(c)});
  for (const auto& row : rows) ds.object_as<CDataset>()->AddRow(row);
  return ds;
}

// The column names, then every cell: s:TEXT for a String, ~ for Null.
std::u16string Dump(const Value& ds) {
  const CDataset& d = *ds.object_as<CDataset>();
  std::u16string out;
  for (int32_t c = 1; c <= d.ColumnCount(); ++c)
    out += d.ColumnName(c).str() + (c < d.ColumnCount() ? u"|" : u"\n");
  for (int32_t r = 1; r <= d.RowCount(); ++r) {
    for (int32_t c = 1; c <= d.ColumnCount(); ++c) {
      const Value& v = d.Cell(r, c);
      out += v.IsNull() ? std::u16string(u"~")
                        : (v.IsString() ? u"s:" : u"?:") + ToText(v).str();
      out += c < d.ColumnCount() ? u"|" : u"\n";
    }
  }
  return out;
}

Value Loaded(std::u16string_view text, std::initializer_list<Value> more = {}) {
  Value ds = CreateObject(u"CDataset");
  std::vector<Value> args = {Value(text)};
  args.insert(args.end(), more.begin(), more.end());
  CallByName(ds, u"FromCSV", CallType::Method, std::span<Value>(args));
  return ds;
}

TEST(CDatasetTableTest, ColumnRulesAndTheirErrors) {
  Value ds = Table({u"Name", u"name", u" Name "});
  ExpectRaises(Call(ds, u"AddColumn", {Value(u"Name")}), 5, u"AddColumn",
               u"Column 'Name' already exist.");
  ExpectRaises(Call(ds, u"AddColumn", {Value(u"   ")}), 5, u"AddColumn",
               u"Column name cannot be empty.");
  // Names are kept untrimmed and matched exactly.
  EXPECT_EQ(ds.object_as<CDataset>()->ResolveColumn(Value(u" Name ")), 3);

  Call(ds, u"AddRow", {Value(1)});
  ExpectRaises(Call(ds, u"AddColumn", {Value(u"x")}), 5, u"AddColumn",
               u"Can't Add new column in non-empty dataset.");
  Call(ds, u"Clear");
  EXPECT_EQ(Dump(ds), u"");
  ExpectRaises(Call(ds, u"AddRow", {Value(1)}), 5, u"AddRow",
               u"No columns defined.");
  Call(ds, u"AddColumn", {Value(u"Name")});  // the old names are gone
}

TEST(CDatasetTableTest, RowsArePaddedCutAndReadByAbsoluteIndex) {
  Value ds = Table({u"a", u"b", u"c"});
  Call(ds, u"AddRow", {Value(1)});
  Call(ds, u"AddRow", {Value(1), Value(2), Value(3), Value(4)});
  Call(ds, u"AddRowArray", {MakeArray({Value(u"x"), Value(u"y")})});
  Call(ds, u"AddRowArray", {MakeArray({Value(7), Value(8), Value(9)}, -1)});
  Call(ds, u"AddRowArray", {MakeArray({})});  // no element at all
  // An array starting above 0 has no element 0; nothing is added.
  ExpectRaisesStandard(
      Call(ds, u"AddRowArray", {MakeArray({Value(1), Value(2)}, 1)}),
      kErrSubscript);
  ExpectRaisesStandard(Call(ds, u"AddRowArray", {Value(5)}), kErrTypeMismatch);
  const uint8_t bytes[] = {65, 66};  // read element by element
  Call(ds, u"AddRowArray", {MakeByteArray(bytes)});
  // Missing cells are Null, not Empty; values are stored as they come.
  EXPECT_EQ(Dump(ds),
            u"a|b|c\n?:1|~|~\n?:1|?:2|?:3\ns:x|s:y|~\n?:8|?:9|~\n~|~|~\n"
            u"?:65|?:66|~\n");
}

TEST(CDatasetTableTest, ItemNeverFailsForABadRowOrColumn) {
  Value ds = Table({u"A", u"2"}, {{Value(u"a1"), Value(u"b1")},
                                  {Value(u"a2"), Value(u"b2")}});
  const Value bad_cols[] = {Value(u"Z"), Value(0), Value(3), Value(true),
                            Value::Date(2.0)};
  for (const Value& col : bad_cols) {
    EXPECT_TRUE(Get(ds, 1, col).IsNull());
    CallByName(ds, u"Item", CallType::Let, {Value(1), col, Value(u"z")});
  }
  for (int32_t row : {0, 3}) {
    EXPECT_TRUE(Get(ds, row, Value(1)).IsNull());
    CallByName(ds, u"Item", CallType::Let, {Value(row), Value(1), Value(9)});
  }
  EXPECT_EQ(Dump(ds), u"A|2\ns:a1|s:b1\ns:a2|s:b2\n");
  // Numbers of any kind but Date and Boolean address by position, to even.
  CallByName(ds, u"Item", CallType::Let, {Value(2), Value(u"2"), Value(u"n")});
  EXPECT_EQ(ToText(Get(ds, 2, Value(int16_t{2}))).view(), u"n");
  EXPECT_EQ(ToText(Get(ds, 1, Value(1.5))).view(), u"b1");
  EXPECT_EQ(ToText(Get(ds, 1, Value(2.5))).view(), u"b1");
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

TEST(CDatasetTableTest, SelectColumnsFollowsArgumentOrder) {
  Value ds = Table({u"A", u"B", u"C"}, {{Value(1), Value(2), Value(3)},
                                        {Value(4), Value(5), Value(6)}});
  Value picked =
      Call(ds, u"SelectColumns", {Value(u"B"), Value(u"nope"), Value(1)});
  EXPECT_EQ(Dump(picked), u"B|A\n?:2|?:1\n?:5|?:4\n");
  Value none = Call(ds, u"SelectColumns", {Value(u"x")});
  EXPECT_EQ(Dump(none) + Dump(Call(ds, u"SelectColumns")), u"");
  ExpectRaises(Call(ds, u"SelectColumns", {Value(u"A"), Value(1)}), 5,
               u"AddColumn", u"Column 'A' already exist.");
  // A clone's cells are its own.
  Value copy = Call(ds, u"Clone");
  CallByName(copy, u"Item", CallType::Let, {Value(1), Value(1), Value(9)});
  EXPECT_EQ(Dump(copy), u"A|B|C\n?:9|?:2|?:3\n?:4|?:5|?:6\n");
  EXPECT_EQ(Dump(ds), u"A|B|C\n?:1|?:2|?:3\n?:4|?:5|?:6\n");
}

// Whole rows move; Null comes first; text ignores case. Each kind of key
// column (whole numbers, text, mixed) sorts its own way.
TEST(CDatasetSortTest, WholeRowsMoveBothWaysWithNullsAtTheEnds) {
  Value ds = Table({u"n", u"t", u"m"}, {{Value(3), Value(u"c"), Value(3)},
                                        {Value::Null(), Value::Null()},
                                        {Value(1), Value(u"a"), Value(1.5)},
                                        {Value(2), Value(u"B"), Value(u"x")}});
  const CDataset& rows = *ds.object_as<CDataset>();
  const std::tuple<Value, bool, std::u16string_view> sorts[] = {
      {Value(u"n"), false, u"~123"},
      {Value(3), false, u"~132"},
      {Value(u"t"), true, u"321~"},
      {Value(u"N"), false, u"321~"},
      {Value(9), false, u"321~"}};  // the last two name nothing
  for (const auto& [column, descending, order] : sorts) {
    Call(ds, u"Sort", {column, Value(descending)});
    std::u16string seen;
    for (int32_t r = 1; r <= 4; ++r)
      seen += rows.Cell(r, 1).IsNull() ? u"~" : ToText(rows.Cell(r, 1)).str();
    EXPECT_EQ(seen, order);
  }
  EXPECT_EQ(Dump(ds),
            u"n|t|m\n?:3|s:c|?:3\n?:2|s:B|s:x\n?:1|s:a|?:1.5\n~|~|~\n");
  EXPECT_EQ(ToLong(Call(ds, u"Search", {Value(u"t"), Value(u"b")})), 2);
  EXPECT_EQ(ToLong(Call(ds, u"Search", {Value(u"t"), Value(u"kiwi")})), 0);
  EXPECT_EQ(ToLong(Call(ds, u"Search", {Value(u"nope"), Value(u"a")})), 0);

  // An object key cannot be compared: the rows are left in their order.
  CallByName(ds, u"Item", CallType::Let,
             {Value(2), Value(3), CreateObject(u"CDict")});
  ExpectRaisesStandard(Call(ds, u"Sort", {Value(3)}), kErrWrongArgumentCount);
  ExpectRaisesStandard(Call(ds, u"Search", {Value(3), Value(1)}),
                       kErrWrongArgumentCount);
  EXPECT_EQ(ToLong(rows.Cell(1, 1)), 3);
  EXPECT_EQ(ToLong(rows.Cell(2, 1)), 2);
}

TEST(CDatasetSortTest, SearchAndFilterMatchNullAndNumbersAcrossKinds) {
  Value ds = Table({u"id", u"v"}, {{Value(1), Value(u"a")},
                                   {Value(2)},
                                   {Value(2.0), Value(u"A")},
                                   {Value::Null(), Value(u"n")}});
  EXPECT_EQ(ToLong(Call(ds, u"Search", {Value(1), Value(int16_t{2})})), 2);
  EXPECT_EQ(ToLong(Call(ds, u"Search", {Value(u"id"), Value::Null()})), 4);

  Value twos = Call(ds, u"Filter", {Value(1), Value(2)});
  EXPECT_EQ(Dump(twos), u"id|v\n?:2|~\n?:2|s:A\n");
  EXPECT_EQ(Dump(Call(ds, u"Filter", {Value(u"v"), Value::Null()})),
            u"id|v\n?:2|~\n");
  EXPECT_EQ(Dump(Call(ds, u"Filter", {Value(u"v"), Value(u"a")})),
            u"id|v\n?:1|s:a\n?:2|s:A\n");
  EXPECT_EQ(Dump(Call(ds, u"Filter", {Value(u"x"), Value(1)})), u"");
  // The result is independent of its source.
  CallByName(twos, u"Item", CallType::Let, {Value(1), Value(2), Value(u"q")});
  EXPECT_TRUE(Get(ds, 2, Value(2)).IsNull());
}

TEST(CDatasetCsvTest, WritesQuotingOnlyWhereNeeded) {
  Value ds = CreateObject(u"CDataset");
  EXPECT_EQ(Call(ds, u"ToCSV").string_view(), u"\r\n");
  Call(ds, u"AddColumn", {Value(u"Name")});
  Call(ds, u"AddColumn", {Value(u"Note")});
  EXPECT_EQ(Call(ds, u"ToJSON").string_view(), u"[]");
  Call(ds, u"AddRow", {Value(u"Ann"), Value(u"a,b")});
  Call(ds, u"AddRow", {Value(u"He said \"hi\""), Value(u"x\ny")});
  Call(ds, u"AddRow", {Value::Null(), Value()});
  Call(ds, u"AddRow", {Value(u"semi;colon"), Value(u"cr\rhere")});
  Call(ds, u"AddRow", {Value(true), Value(2.5)});
  EXPECT_EQ(Call(ds, u"ToCSV").string_view(),
            u"Name,Note\r\nAnn,\"a,b\"\r\n\"He said \"\"hi\"\"\",\"x\ny\"\r\n"
            u",\r\nsemi;colon,\"cr\rhere\"\r\nTrue,2.5\r\n");
  EXPECT_EQ(Call(ds, u"ToCSV", {Value(u";")}).string_view(),
            u"Name;Note\r\nAnn;a,b\r\n\"He said \"\"hi\"\"\";\"x\ny\"\r\n"
            u";\r\n\"semi;colon\";\"cr\rhere\"\r\nTrue;2.5\r\n");
}

// JSON writes every value as a String; objects and arrays have no text.
TEST(CDatasetCsvTest, JsonAndWhatHasNoTextForm) {
  Value ds = Table({u"a", u"b\"\\"});
  Call(ds, u"AddRow", {Value(1), Value::Null()});
  Call(ds, u"AddRow", {Value(u"\\ \" \r \n \t \b \f é \x1f"), Value(false)});
  EXPECT_EQ(Call(ds, u"ToJSON").string_view(),
            u"[{\"a\":\"1\",\"b\\\"\\\\\":\"\"},"
            u"{\"a\":\"\\\\ \\\" \\r \\n \\t \b \f é \x1f\","
            u"\"b\\\"\\\\\":\"False\"}]");
  CallByName(ds, u"Item", CallType::Let,
             {Value(2), Value(1), CreateObject(u"CDict")});
  ExpectRaisesStandard(Call(ds, u"ToJSON"), kErrWrongArgumentCount);
  CallByName(ds, u"Item", CallType::Let,
             {Value(2), Value(1), CreateObject(u"CStack")});
  ExpectRaisesStandard(Call(ds, u"ToCSV"), kErrNoSuchMember);
  CallByName(ds, u"Item", CallType::Let,
             {Value(2), Value(1), MakeArray({Value(1)})});
  ExpectRaisesStandard(Call(ds, u"ToJSON"), kErrTypeMismatch);
}

TEST(CDatasetCsvTest, ReadsHeaderRowsQuotesAndBlankLines) {
  const std::pair<Value, std::u16string_view> cases[] = {
      {Loaded(u"id,name\r\n1,Ann\r\n\r\n2,Bob"),
       u"id|name\ns:1|s:Ann\ns:2|s:Bob\n"},
      {Loaded(u"1,2,3\r\n4,5", {Value(false)}),
       u"Col1|Col2|Col3\ns:1|s:2|s:3\ns:4|s:5|~\n"},
      // Quotes keep separators and spaces; a quote anywhere toggles.
      {Loaded(u"h1,h2,h3\r\n x , \" a,b \" ,\"He said \"\"hi\"\"\"\r\n"
              u"a\"b,c\"d,\"\"\"\",\""),
       u"h1|h2|h3\ns:x|s: a,b |s:He said \"hi\"\ns:a\"b,c\"d|s:\"|s:\"\n"},
      // An unclosed quote runs to the end of the line.
      {Loaded(u"a,b\r\n1,\"2,3"), u"a|b\ns:1|s:\"2,3\n"},
      // Header names are trimmed, quoted or not; extra fields are ignored.
      {Loaded(u" \" p \" ;q\r\n1;2;3", {Value(true), Value(u";")}),
       u"p|q\ns:1|s:2\n"},
      // Lines end at CR LF only: LF-only text is one line, lone CRs stay.
      {Loaded(u"a,b\nc,d\re", {Value(false)}),
       u"Col1|Col2|Col3\ns:a|s:b\nc|s:d\re\n"},
      // A separator of several characters never splits a line.
      {Loaded(u"a::b\r\n1::2", {Value(true), Value(u"::")}), u"a::b\ns:1::2\n"},
      {Loaded(u"\r\n \r\n"), u""}};
  for (const auto& [ds, dump] : cases) EXPECT_EQ(Dump(ds), dump);

  // Loading replaces what was there; a bad header stops at its column.
  Value bad = Loaded(u"z\r\n1");
  ExpectRaises(Call(bad, u"FromCSV", {Value(u"a,b,\" a\"\r\n1,2,3")}), 5,
               u"AddColumn", u"Column 'a' already exist.");
  EXPECT_EQ(Dump(bad), u"a|b\n");
}

// A value holding CR LF does not come back: the line ends there.
TEST(CDatasetCsvTest, CrLfSplitsAQuotedValue) {
  Value split = Table({u"v"}, {{Value(u"one\r\ntwo")}});
  EXPECT_EQ(Dump(Loaded(Call(split, u"ToCSV").string_view())),
            u"v\ns:\"one\ns:two\"\n");
}

}  // namespace
}  // namespace quorvel
