#include <gtest/gtest.h>

#include <string>

#include "quorvel/cdataset.h"
#include "test_util.h"

namespace quorvel {
namespace {

Value Call(const Value& ds, std::u16string_view name,
           std::initializer_list<Value> args = {}) {
  return CallByName(ds, name, CallType::Method, args);
}

Value Loaded(std::u16string_view text, std::initializer_list<Value> more = {}) {
  Value ds = CreateObject(u"CDataset");
  std::vector<Value> args = {Value(text)};
  args.insert(args.end(), more.begin(), more.end());
  CallByName(ds, u"FromCSV", CallType::Method, std::span<Value>(args));
  return ds;
}

// Every cell as kind-tagged text: s:TEXT for a String, ~ for Null.
std::u16string Dump(const Value& ds) {
  const CDataset& d = *ds.object_as<CDataset>();
  std::u16string out;
  for (int32_t c = 1; c <= d.ColumnCount(); ++c) {
    out += d.ColumnName(c).view();
    out += c < d.ColumnCount() ? u"|" : u"\n";
  }
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

TEST(CDatasetCsvTest, WritesQuotingOnlyWhereNeeded) {
  Value ds = CreateObject(u"CDataset");
  EXPECT_EQ(Call(ds, u"ToCSV").string_view(), u"\r\n");
  EXPECT_EQ(Call(ds, u"ToJSON").string_view(), u"[]");
  Call(ds, u"AddColumn", {Value(u"Name")});
  Call(ds, u"AddColumn", {Value(u"Note")});
  EXPECT_EQ(Call(ds, u"ToJSON").string_view(), u"[]");
  Call(ds, u"AddRow", {Value(u"Ann"), Value(u"a,b")});
  EXPECT_EQ(Call(ds, u"ToCSV").string_view(), u"Name,Note\r\nAnn,\"a,b\"\r\n");
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
  // A separator of several characters is searched as a whole.
  EXPECT_EQ(Call(ds, u"ToCSV", {Value(u"::")}).string_view().substr(0, 24),
            u"Name::Note\r\nAnn::a,b\r\n\"H");
}

TEST(CDatasetCsvTest, JsonEscapesFiveCharactersAndWritesStringsOnly) {
  Value ds = CreateObject(u"CDataset");
  Call(ds, u"AddColumn", {Value(u"a")});
  Call(ds, u"AddColumn", {Value(u"b\"\\")});
  Call(ds, u"AddRow", {Value(1), Value::Null()});
  Call(ds, u"AddRow", {Value(u"\\ \" \r \n \t \b \f é \x1f"), Value(false)});
  EXPECT_EQ(Call(ds, u"ToJSON").string_view(),
            u"[{\"a\":\"1\",\"b\\\"\\\\\":\"\"},"
            u"{\"a\":\"\\\\ \\\" \\r \\n \\t \b \f é \x1f\","
            u"\"b\\\"\\\\\":\"False\"}]");
}

TEST(CDatasetCsvTest, ObjectsAndArraysHaveNoTextForm) {
  Value ds = CreateObject(u"CDataset");
  Call(ds, u"AddColumn", {Value(u"x")});
  Call(ds, u"AddRow", {Value(u"ok")});
  Call(ds, u"AddRow", {CreateObject(u"CDict")});
  ExpectRaisesStandard(Call(ds, u"ToCSV"), kErrWrongArgumentCount);
  ExpectRaisesStandard(Call(ds, u"ToJSON"), kErrWrongArgumentCount);
  CallByName(ds, u"Item", CallType::Let,
             {Value(2), Value(1), CreateObject(u"CStack")});
  ExpectRaisesStandard(Call(ds, u"ToCSV"), kErrNoSuchMember);
  CallByName(ds, u"Item", CallType::Let,
             {Value(2), Value(1), MakeArray({Value(1)})});
  ExpectRaisesStandard(Call(ds, u"ToJSON"), kErrTypeMismatch);
  EXPECT_EQ(ToLong(CallByName(ds, u"RowCount", CallType::Get)), 2);
}

TEST(CDatasetCsvTest, ReadsHeaderRowsQuotesAndBlankLines) {
  EXPECT_EQ(Dump(Loaded(u"id,name\r\n1,Ann\r\n\r\n2,Bob")),
            u"id|name\ns:1|s:Ann\ns:2|s:Bob\n");
  EXPECT_EQ(Dump(Loaded(u"1,2,3\r\n4,5", {Value(false)})),
            u"Col1|Col2|Col3\ns:1|s:2|s:3\ns:4|s:5|~\n");
  // Quotes keep separators and spaces; spaces outside quotes go; a quote
  // anywhere toggles; pairs of quotes inside become one.
  EXPECT_EQ(
      Dump(Loaded(u"h1,h2,h3\r\n x , \" a,b \" ,\"He said \"\"hi\"\"\"\r\n"
                  u"a\"b,c\"d,\"\"\"\",\"")),
      u"h1|h2|h3\ns:x|s: a,b |s:He said \"hi\"\n"
      u"s:a\"b,c\"d|s:\"|s:\"\n");
  // An unclosed quote runs to the end of the line.
  EXPECT_EQ(Dump(Loaded(u"a,b\r\n1,\"2,3", {Value(true)})),
            u"a|b\ns:1|s:\"2,3\n");
  // Header names are trimmed, quoted or not; extra fields are ignored.
  EXPECT_EQ(Dump(Loaded(u" \" p \" ;q\r\n1;2;3", {Value(true), Value(u";")})),
            u"p|q\ns:1|s:2\n");
  // Lines end at CR LF only: LF-only text is one line, lone CRs stay.
  EXPECT_EQ(Dump(Loaded(u"a,b\nc,d\re", {Value(false)})),
            u"Col1|Col2|Col3\ns:a|s:b\nc|s:d\re\n");
  // CR LF inside quotes still ends the line, so such a field is split.
  Value written = CreateObject(u"CDataset");
  Call(written, u"AddColumn", {Value(u"v")});
  Call(written, u"AddRow", {Value(u"one\r\ntwo")});
  Value back = Loaded(Call(written, u"ToCSV").string_view());
  EXPECT_EQ(Dump(back), u"v\ns:\"one\ns:two\"\n");
  // A separator of several characters never splits a line.
  EXPECT_EQ(Dump(Loaded(u"a::b\r\n1::2", {Value(true), Value(u"::")})),
            u"a::b\ns:1::2\n");
  // Header only: columns, no rows.
  EXPECT_EQ(Dump(Loaded(u"x,y\r\n")), u"x|y\n");
}

TEST(CDatasetCsvTest, BadInputLeavesWhatWasLoaded) {
  for (const char16_t* blank : {u"", u"   ", u"\r\n \r\n", u" \r\n"}) {
    Value ds = Loaded(blank);
    EXPECT_EQ(Dump(ds), u"") << ::quorvel::testing::U8(blank);
  }
  // Loading replaces whatever was there.
  Value ds = Loaded(u"a\r\n1");
  Call(ds, u"FromCSV", {Value(u"  ")});
  EXPECT_EQ(ToLong(CallByName(ds, u"ColumnCount", CallType::Get)), 0);

  Value bad = CreateObject(u"CDataset");
  ExpectRaises(Call(bad, u"FromCSV", {Value(u"a,,b\r\n1,2,3")}), 5,
               u"AddColumn", u"Column name cannot be empty.");
  EXPECT_EQ(Dump(bad), u"a\n");
  ExpectRaises(Call(bad, u"FromCSV", {Value(u"a,b,\" a\"\r\n1,2,3")}), 5,
               u"AddColumn", u"Column 'a' already exist.");
  EXPECT_EQ(Dump(bad), u"a|b\n");
  ExpectRaises(Call(bad, u"FromCSV", {Value(u"x,\"\"\r\n1,2")}), 5,
               u"AddColumn", u"Column name cannot be empty.");
  EXPECT_EQ(Dump(bad), u"x\n");
}

TEST(CDatasetCsvTest, RoundTripKeepsTrimmedValues) {
  Value ds = CreateObject(u"CDataset");
  Call(ds, u"AddColumn", {Value(u"k, 1")});
  Call(ds, u"AddColumn", {Value(u"q\"2")});
  const char16_t* values[] = {
      u"plain",         u"with,comma", u"\"quoted\"", u"",
      u"in \"middle\"", u"lone\rcr",   u"lone\nlf",   u"é"};
  for (const char16_t* a : values)
    Call(ds, u"AddRow", {Value(a), Value(std::u16string(a) + u"!")});
  Value text = Call(ds, u"ToCSV");
  Value back = Loaded(text.string_view());
  EXPECT_EQ(Dump(back), Dump(ds));
  EXPECT_EQ(Call(back, u"ToCSV").string_view(), text.string_view());
  EXPECT_EQ(Call(back, u"ToJSON").string_view(),
            Call(ds, u"ToJSON").string_view());
}

}  // namespace
}  // namespace quorvel
