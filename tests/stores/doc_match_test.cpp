#include "stores/doc_match.h"

#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "quorvel/decimal.h"
#include "stores/doc_rules.h"
#include "stores/store_file_test.h"

namespace quorvel {
namespace {

using internal::DocFieldMatcher;
using Result = DocFieldMatcher::Result;
using testing::FromHex;
using testing::Joined;

Value NaN(uint64_t payload) {
  return Value(std::bit_cast<double>(0x7FF8000000000000u | payload));
}

// Values a document can hold, chosen so that many are numerically equal
// across kinds or equal only in some bits.
std::vector<Value> StoredValues() {
  Ref<CArray> list = CArray::Create();
  list->Add(Value(5));
  Ref<Dictionary> map = Dictionary::Create();
  map->LetItem(String(u"n"), Value(5));
  Ref<KxDocRec> inner = KxDocRec::Create();
  inner->fields().LetItem(String(u"n"), Value(5));
  const double inf = std::numeric_limits<double>::infinity();
  return {Value::Null(), Value(true), Value(false), Value(5), Value(0),
          Value(-1), Value(int16_t{5}), Value(5.0f), Value(5.0), Value(0.0),
          Value(-0.0), NaN(0), NaN(1), Value(0.1), Value(inf),
          Value::Currency(50000), Value::Currency(0),
          Value::Decimal(*Decimal::Parse(u"5.00")), Value::Date(5),
          Value::Date(0), Value::Date(-0.0), Value(u"5"), Value(u""),
          Value(u"city"), Value(u"City"), Value(u"\u00e9\u20ac\u00ff"),
          // A C1 control, which Windows-1252 has no byte for.
          Value(u"\u0081"), Value(list), Value(map), Value(inner)};
}

// Long enough for a record to cross the read window's 4 and 64 KiB steps.
String LongText(std::mt19937& rng) {
  static constexpr char16_t kUnits[] = u"ab \u00e9\u20ac\u0178";
  std::u16string text(std::uniform_int_distribution<int>(3000, 65535)(rng),
                      u'a');
  for (char16_t& c : text) c = kUnits[rng() % 6];
  return String(text);
}

class DocFieldMatcherTest : public testing::StoreFileTest<quorvel::KxDocsDB> {
 protected:
  // Expects every search to find what DocValuesEqual finds over the
  // documents as GetDoc gives them (decoded, or cached).
  static void ExpectSearchesAgree(KxDocsDB& db,
                                  const std::vector<String>& names,
                                  const std::vector<Value>& queries) {
    std::vector<std::pair<String, Ref<KxDocRec>>> docs;
    const Value keys = db.Keys();
    for (const Value& key : keys.array().values())
      docs.emplace_back(key.string(), db.GetDoc(key.string(), false));
    for (const String& name : names) {
      for (size_t q = 0; q < queries.size(); ++q) {
        std::u16string expected;
        for (const auto& [id, rec] : docs) {
          const Value* field = rec->fields().Find(name);
          if (field != nullptr && internal::DocValuesEqual(*field, queries[q]))
            expected += id.str() + u";";
        }
        EXPECT_EQ(testing::U8(Joined(db.FindIds(name, queries[q]))),
                  testing::U8(expected))
            << testing::U8(name) << " " << q;
      }
    }
  }
};

TEST_F(DocFieldMatcherTest, EncodedSearchAgreesWithDecodedRecords) {
  std::mt19937 rng(20240611);
  const std::vector<String> names = {u"n",    u"N",         u"city",
                                     u"City", u"c\u00efty", u"\u20ac",
                                     u"",     u"\u6771",    u"missing"};
  const std::vector<Value> stored = StoredValues();
  std::vector<Value> queries = stored;
  for (Value v : {Value(), Value::Byte(5), Value::Nothing(), Value(u"\u6771"),
                  Value::Decimal(Decimal::FromInt64(5)), MakeArray({Value(5)})})
    queries.push_back(v);
  {
    auto db = Open();
    for (int i = 0; i < 160; ++i) {
      Ref<KxDocRec> rec = db->AddDoc();
      const int fields = static_cast<int>(rng() % 6);
      for (int f = 0; f < fields; ++f) {
        // The unmappable name stays a query only.
        const String& name = names[rng() % 7];
        const Value value = rng() % 16 == 0 ? Value(LongText(rng))
                                            : stored[rng() % stored.size()];
        rec->fields().LetItem(name, value);
        if (value.IsString() && value.string().size() > 3000 &&
            queries.size() < stored.size() + 10)
          queries.push_back(value);
      }
      rec->Save();
    }
  }
  auto db = Open();
  ExpectSearchesAgree(*db, names, queries);
  // Saved through this object, a record is searched as it is in memory,
  // where an Integer is still an Integer and a changed field counts.
  const Value keys = db->Keys();
  for (int32_t i = 0; i <= UBound(keys); i += 3) {
    Ref<KxDocRec> rec = db->GetDoc(ArrayItem(keys, i).string(), false);
    rec->fields().LetItem(String(u"n"), stored[rng() % stored.size()]);
    rec->Save();
    rec->fields().LetItem(String(u"N"), Value(int16_t{5}));
  }
  ExpectSearchesAgree(*db, names, queries);
}

TEST(DocFieldMatcherBytesTest, WalksAndComparesTheEncodedBody) {
  const std::string deep_arrays = [] {
    std::string hex;
    for (int i = 0; i < 999; ++i) hex += "DC0001";
    return hex;
  }();
  const struct {
    const char16_t* name;
    Value query;
    std::string body;
    Result expected;
  } kCases[] = {
      {u"n", Value(5), "C733 0001 D9016E D205000000", Result::kMatch},
      {u"n", Value(5), "C733 0001 DA00016E D205000000", Result::kMatch},
      {u"n", Value(5), "C733 0001 D9014E D205000000", Result::kNoMatch},
      {u"n", Value(5), "C733 0001 D9016E D206000000", Result::kNoMatch},
      {u"n", Value(5), "C733 0000 FFFF", Result::kNoMatch},
      // Damage anywhere, and what only the decoder reads, stay undecided.
      {u"n", Value(5), "C733 0001 D9016E D2050000", Result::kUndecided},
      {u"n", Value(5), "C733 0002 D9016E D205000000 D90178 C1",
       Result::kUndecided},
      {u"n", Value(5), "C733 0002 D9016E D205000000 D9016E C0",
       Result::kUndecided},
      {u"n", Value(5), "C733 0001 D201000000 D205000000", Result::kUndecided},
      {u"n", Value(5), "DE0001 D9016E D205000000", Result::kUndecided},
      {u"n", Value(5), "C733 0001 D9016E C70300", Result::kUndecided},
      {u"x", Value(5), "C733 0001 D90178" + deep_arrays + "C0",
       Result::kNoMatch},
      {u"x", Value(5), "C733 0001 D90178" + deep_arrays + "DC0001C0",
       Result::kUndecided},
      // Text compares by payload, whichever length form carries it.
      {u"s", Value(u"ab"), "C733 0001 D90173 DA00026162", Result::kMatch},
      {u"s", Value(u"ab"), "C733 0001 D90173 D9024142", Result::kNoMatch},
      {u"s", Value(u"\u20ac"), "C733 0001 D90173 D90180", Result::kMatch},
      {u"s", Value(u"\u0080"), "C733 0001 D90173 D90180", Result::kNoMatch},
      // Bits that differ yet compare equal, and a Date only as a Date.
      {u"d", Value(0.0), "C733 0001 D90164 CB0000000000000080", Result::kMatch},
      {u"d", NaN(1), "C733 0001 D90164 CB000000000000F87F", Result::kMatch},
      {u"d", NaN(0), "C733 0001 D90164 CB000000000000F8FF", Result::kMatch},
      {u"d", Value(1.0), "C733 0001 D90164 CB0000000000000000",
       Result::kNoMatch},
      {u"d", Value::Date(0), "C733 0001 D90164 C7010000000000000080",
       Result::kMatch},
      {u"d", Value(0.0), "C733 0001 D90164 C7010000000000000000",
       Result::kNoMatch},
      {u"c", Value::Currency(5), "C733 0001 D90163 C7020500000000000000",
       Result::kMatch},
      {u"c", Value(true), "C733 0001 D90163 C3", Result::kMatch},
      {u"c", Value(true), "C733 0001 D90163 C2", Result::kNoMatch},
      {u"c", Value::Null(), "C733 0001 D90163 C0", Result::kMatch},
      {u"c", Value(), "C733 0001 D90163 C0", Result::kNoMatch},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(DocFieldMatcher(c.name, c.query).Match(FromHex(c.body)),
              c.expected)
        << c.body;
  // A Date outside the calendar raises as decoding it does, in any field.
  const DocFieldMatcher matcher(u"n", Value(5));
  ExpectRaisesStandard(
      matcher.Match(FromHex("C733 0001 D90178 C701000000000000F07F")),
      kErrOverflow);
}

TEST_F(DocFieldMatcherTest, RecordsTheBytesCannotDecideAreDecoded) {
  {
    auto db = Open();
    for (const char16_t* id : {u"A", u"B", u"C", u"D"}) {
      Ref<KxDocRec> rec = db->AddDoc(String(id));
      rec->fields().LetItem(String(u"xyz"), Value(5));
      rec->Save();
    }
  }
  auto db = Open();
  Bytes file = FileBytes();
  // The records in order: A, B, C, D; each body is the same 15 bytes.
  const Bytes body = FromHex("C733 0001 D90378797A D205000000");
  std::vector<size_t> at;
  for (size_t i = 0; i + body.size() <= file.size(); ++i)
    if (std::equal(body.begin(), body.end(), file.begin() + i)) at.push_back(i);
  ASSERT_EQ(at.size(), 4u);
  // B's name becomes the number 5, which the decoder reads as "5"; C loses
  // its signature and is no document.
  const Bytes long_name = FromHex("D205000000");
  std::copy(long_name.begin(), long_name.end(), file.begin() + at[1] + 4);
  file[at[2] - 19 - 1] = 0;
  WriteFile(file);
  EXPECT_EQ(Joined(db->FindIds(u"xyz", Value(5))), u"A;D;");
  EXPECT_EQ(Joined(db->FindIds(u"5", Value(5))), u"B;");
  // D's value becomes a type the decoder refuses: the search raises as
  // reading D does.
  file[at[3] + 9] = 0xC1;
  WriteFile(file);
  // The record starts 20 bytes before its body: a 15-byte header, the
  // 1-character id and the body's length.
  const std::u16string damaged =
      u"Document D at offset " + FromUtf8(std::to_string(at[3] - 20)) +
      u" cannot be read: Unsupported MsgPack type: C1";
  ExpectRaises(db->GetDoc(u"D"), kErrInvalidCall, u"KxDocsDB", damaged);
  ExpectRaises(db->FindIds(u"xyz", Value(5)), kErrInvalidCall, u"KxDocsDB",
               damaged);
}

}  // namespace
}  // namespace quorvel
