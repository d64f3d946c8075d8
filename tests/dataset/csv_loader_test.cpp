#include <gtest/gtest.h>

#include <string>

#include "quorvel/csvloader.h"
#include "test_util.h"

namespace quorvel {
namespace {

using testing::U8;

// The columns, then each row, as "name|name / cell|cell / ...", Null as ~.
std::string Dump(const CDataset& ds) {
  std::string out;
  for (int32_t c = 1; c <= ds.ColumnCount(); ++c)
    out += (c > 1 ? "|" : "") + U8(ds.ColumnName(c).view());
  for (int32_t r = 1; r <= ds.RowCount(); ++r) {
    out += " / ";
    for (int32_t c = 1; c <= ds.ColumnCount(); ++c) {
      const Value& v = ds.Cell(r, c);
      EXPECT_TRUE(v.IsNull() || v.IsString());
      out += (c > 1 ? "|" : "") + (v.IsNull() ? "~" : U8(v.string_view()));
    }
  }
  return out;
}

// Feeds `text` whole or one code unit at a time.
void Feed(CsvLoader& loader, std::u16string_view text, bool whole) {
  if (whole) loader.Feed(text);
  for (size_t i = 0; !whole && i < text.size(); ++i)
    loader.Feed(text.substr(i, 1));
  loader.Finish();
}

// Loads `text` whole and in pieces; both must agree.
std::string Load(std::u16string_view text, CsvOptions options = {},
                 CsvDialect dialect = {}) {
  std::string loaded[2];
  for (bool whole : {true, false}) {
    Ref<CDataset> ds = CDataset::Create();
    CsvLoader loader(*ds, options, dialect);
    Feed(loader, text, whole);
    loaded[whole] = Dump(*ds);
  }
  EXPECT_EQ(loaded[0], loaded[1]) << U8(text);
  return loaded[1];
}

TEST(CsvLoaderTest, ReadsRfc4180WithEveryLineEnd) {
  const std::pair<std::u16string_view, const char*> cases[] = {
      {u"a,b\n1,2\n", "a|b / 1|2"},
      {u"a,b\r1,2\r", "a|b / 1|2"},
      {u"\n\na,b\r\n\r\n\n1,2", "a|b / 1|2"},  // empty lines, no last end
      {u"a,b\n\"x,y\",\"say \"\"hi\"\"\"\n", "a|b / x,y|say \"hi\""},
      {u"a,b\n\"line\none\",\"cr\r\nlf\"\n", "a|b / line\none|cr\r\nlf"},
      {u"a\n\"\"\n", "a / "},                // one empty quoted field
      {u"a,b\n x , y \n", "a|b /  x | y "},  // spaces are kept
      {u"\uFEFFid,name\n1,\u00e9\u6771\n", "id|name / 1|\u00e9\u6771"},
      {u"a,b,c\n1\n1,2\n", "a|b|c / 1|~|~ / 1|2|~"},  // short records
      {u"a,,  ,b\n1,2,3,4\n", "a|Col2|Col3|b / 1|2|3|4"},
      {u"0,0,x,0\n", "0|0_2|x|0_3"},
      {u"a,a_2,a\n", "a|a_2|a_3"},
      {u"", ""},
  };
  for (const auto& [text, loaded] : cases) EXPECT_EQ(Load(text), loaded);
}

TEST(CsvLoaderTest, DialectsBesideRfc4180) {
  CsvOptions header, tabs;
  tabs.separator = u'\t';
  tabs.has_header = false;
  const CsvDialect plain = {.quotes = false};
  const CsvDialect comments = {.comment = u'#'};
  const CsvDialect table = {.quotes = false, .comment = u'#', .uneven = true};
  struct Case {
    std::u16string_view text;
    const CsvOptions& options;
    const CsvDialect& dialect;
    const char* loaded;
  };
  const Case cases[] = {
      {u"a,b\n\"x,y\"\n", header, plain, "a|b / \"x|y\""},
      {u"#c\r\na,b\n#x,y\n1,2\n #no\n#end", header, comments,
       "a|b / 1|2 /  #no|~"},
      {u"a\n\"#x\n#y\"\n", header, comments, "a / #x\n#y"},
      {u"# tz\n1\n1\t\"2\t3\n\n1\t2\n", tabs, table,
       "Col1|Col2|Col3 / 1|~|~ / 1|\"2|3 / 1|2|~"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Load(c.text, c.options, c.dialect), c.loaded);
  // A header still decides how long a record may be.
  Ref<CDataset> ds = CDataset::Create();
  CsvLoader loader(*ds, header, table);
  ExpectRaises(Feed(loader, u"a,b\n1,2,3\n", true), 9, u"CSV",
               u"Line 2, column 5: the record has 3 fields, more than the 2 "
               u"columns");
  const CsvDialect tab_comments = {.comment = u'\t'};
  ExpectRaises(CsvLoader(*ds, tabs, tab_comments), 5, u"CSV",
               u"The comment character cannot be a double quote, CR, LF or "
               u"the separator");
}

TEST(CsvLoaderTest, FaultsNameTheirPlace) {
  const struct {
    std::u16string_view text;
    int64_t line, column;
    const char* fault;
    int rows;  // loaded before the fault
  } cases[] = {
      {u"a,b\n1,2\n\"x\ny\",2,\n", 4, 6,
       "the record has 3 fields, more than the 2 columns", 1},
      {u"a,b\n1,\"2\"x\n", 2, 6, "text after the closing quote of a field", 0},
      {u"a,b\r\n1,2\"\r\n", 2, 4,
       "a double quote inside a field that does not begin with one", 0},
      {u"a,b\n1,\"open\n\n", 2, 3, "a quoted field is not closed", 0},
  };
  for (const auto& c : cases) {
    for (bool whole : {true, false}) {
      Ref<CDataset> ds = CDataset::Create();
      CsvLoader loader(*ds, CsvOptions());
      ExpectRaises(Feed(loader, c.text, whole), 9, u"CSV",
                   FromUtf8("Line " + std::to_string(c.line) + ", column " +
                            std::to_string(c.column) + ": " + c.fault));
      EXPECT_EQ(U8(loader.fault()), c.fault);
      EXPECT_EQ(loader.line(), c.line);
      EXPECT_EQ(loader.column(), c.column);
      EXPECT_EQ(ds->RowCount(), c.rows);
    }
  }
  CsvOptions quote;
  quote.separator = u'"';
  ExpectRaises(CDataset::Create()->FromCSVStandard(u"a", quote), 5, u"CSV",
               u"The separator cannot be a double quote, CR or LF");
}

TEST(CsvLoaderTest, ReplacesWhatTheDatasetHeld) {
  Ref<CDataset> ds = CDataset::Create();
  ds->FromCSV(String(u"x,y\r\n1,2\r\n"));
  ds->FromCSVStandard(u"a\n1\n2\n");
  EXPECT_EQ(Dump(*ds), "a / 1 / 2");
}

}  // namespace
}  // namespace quorvel
