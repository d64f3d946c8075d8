#include <gtest/gtest.h>

#include "quorvel/carray.h"
#include "test_util.h"

namespace quorvel {
namespace {

Ref<CArray> Of(std::initializer_list<Value> items) {
  Ref<CArray> a = CArray::Create();
  for (const Value& v : items) a->Add(v);
  return a;
}

std::u16string Fields(const CArray& a) {
  std::u16string out;
  for (const Value& v : a) {
    EXPECT_EQ(v.kind(), Kind::String);
    out += u'<';
    out += v.string_view();
    out += u'>';
  }
  return out;
}

TEST(CArrayTextTest, DisplayAndJoinedForms) {
  EXPECT_EQ(CArray::Create()->ToString().view(), u"[]");
  EXPECT_EQ(CArray::Create()->ToString(u"|").view(), u"[]");
  Ref<CArray> nums = Of({Value(1), Value(2), Value(3)});
  EXPECT_EQ(nums->ToString().view(), u"[1, 2, 3]");
  EXPECT_EQ(nums->ToString(u"|").view(), u"[1|2|3]");
  Ref<CArray> mixed = Of({Value(u"a\"b"), Value(CArray::Create()),
                          Value::Nothing(), Value(), Value(true), Value(0.5)});
  EXPECT_EQ(mixed->ToString().view(),
            u"[\"a\"b\", [Object], [Object], , True, 0.5]");
  ExpectRaisesStandard(Of({Value(1), Value::Null()})->ToString(),
                       kErrInvalidUseOfNull);
  ExpectRaisesStandard(Of({MakeArray({})})->ToString(), kErrTypeMismatch);

  EXPECT_EQ(Of({Value(1), Value(u"a"), Value(2)})->JoinValues().view(),
            u"1,a,2");
  EXPECT_EQ(Of({Value(u"a,b"), Value(u"\"")})->JoinValues(u"; ").view(),
            u"a,b; \"");
  EXPECT_EQ(CArray::Create()->JoinValues().view(), u"");
  ExpectRaisesStandard(Of({Value(1), Value(CArray::Create())})->JoinValues(),
                       kErrWrongArgumentCount);
  ExpectRaisesStandard(Of({Value::Nothing()})->JoinValues(), kErrObjectNotSet);
}

TEST(CArrayTextTest, CsvQuotingAndReading) {
  EXPECT_EQ(Of({Value(u"a,b"), Value(u"c")})->ToCSV().view(), u"\"a,b\",c");
  EXPECT_EQ(Of({Value(u"say \"hi\""), Value(1.5)})->ToCSV().view(),
            u"\"say \"\"hi\"\"\",1.5");
  // The comma decides, whatever the separator; a lone CR or LF does not.
  EXPECT_EQ(Of({Value(u"a;b"), Value(u"c")})->ToCSV(u";").view(), u"a;b;c");
  EXPECT_EQ(Of({Value(u"a,b")})->ToCSV(u";").view(), u"\"a,b\"");
  EXPECT_EQ(Of({Value(u"l1\r\nl2"), Value(u"r\rn\n")})->ToCSV().view(),
            u"\"l1\r\nl2\",r\rn\n");
  EXPECT_EQ(CArray::Create()->ToCSV().view(), u"");
  ExpectRaisesStandard(Of({Value::Null()})->ToCSV(), kErrInvalidUseOfNull);

  Ref<CArray> a = Of({Value(99)});
  a->FromCSV(u"a,b\r\nc");
  EXPECT_EQ(Fields(*a), u"<a><b><c>");
  a->FromCSV(u"\"x\",\"y\"\"z\"");
  EXPECT_EQ(Fields(*a), u"<x><y\"z>");
  a->FromCSV(u"\"p,q\"");  // quotes do not protect the separator
  EXPECT_EQ(Fields(*a), u"<\"p><q\">");
  a->FromCSV(u"1, 2");
  EXPECT_EQ(Fields(*a), u"<1><2>");
  a->FromCSV(u"   ");
  EXPECT_EQ(a->Count(), 0);
  a->FromCSV(u"  a\rb ,\nc \r\n\r\n   \r\n , \"\" ,\" \",\"");
  EXPECT_EQ(Fields(*a), u"<a\rb><\nc><><>< ><\">");
  a->FromCSV(u"a;b,c", u";");
  EXPECT_EQ(Fields(*a), u"<a><b,c>");
  a->FromCSV(u"a,b", u"");
  EXPECT_EQ(Fields(*a), u"<a,b>");
  a->FromCSV(u"x::y::", u"::");
  EXPECT_EQ(Fields(*a), u"<x><y><>");

  // Fields without separators, line breaks or outer blanks survive a trip.
  Ref<CArray> out = Of({Value(u"plain"), Value(u"q\"uote"), Value(u"\"both\""),
                        Value(u"in ner"), Value(u"")});
  Ref<CArray> back = CArray::Create();
  back->FromCSV(out->ToCSV(u"\t"), u"\t");
  EXPECT_EQ(Fields(*back), u"<plain><q\"uote><\"both\"><in ner><>");

  Value by_name = CreateObject(u"CArray");
  CallByName(by_name, u"FromCSV", CallType::Method,
             {Value(u"k|v"), Value(u"|")});
  EXPECT_EQ(CallByName(by_name, u"ToCSV", CallType::Method).string_view(),
            u"k,v");
}

TEST(CArrayTextTest, JsonWritesEveryElementAsAnEscapedString) {
  EXPECT_EQ(CArray::Create()->ToJSON().view(), u"[]");
  EXPECT_EQ(Of({Value(1), Value(u"a\"b"), Value(true)})->ToJSON().view(),
            u"[\"1\",\"a\\\"b\",\"True\"]");
  std::u16string controls = u"\\/\b\f\n\r\t";
  controls += char16_t{1};
  controls += u"\u00e9\u2028";
  EXPECT_EQ(Of({Value(controls), Value()})->ToJSON().view(),
            u"[\"\\\\/\\b\\f\\n\\r\\t\x01\u00e9\u2028\",\"\"]");
  ExpectRaisesStandard(Of({Value(1), Value::Null()})->ToJSON(),
                       kErrInvalidUseOfNull);
  ExpectRaisesStandard(Of({Value(CArray::Create())})->ToJSON(),
                       kErrWrongArgumentCount);
}

}  // namespace
}  // namespace quorvel
