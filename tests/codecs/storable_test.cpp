#include "quorvel/storable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <utility>

#include "test_util.h"
#include "testing/stored_values.h"

namespace quorvel {
namespace {

using T = StorableTarget;

Value List(std::vector<Value> items) {
  Ref<CArray> list = CArray::Create();
  for (Value& v : items) list->Add(std::move(v));
  return Value(list);
}
Value Map(std::initializer_list<std::pair<std::u16string, Value>> members) {
  Ref<Dictionary> map = Dictionary::Create();
  for (const auto& [key, v] : members) map->Add(String(key), v);
  return Value(map);
}
Value Dec(std::u16string_view text) {
  return Value::Decimal(*Decimal::Parse(text));
}
Value Text(size_t n) { return Value(std::u16string(n, u'a')); }
Value Fields(int32_t n) {
  Ref<Dictionary> map = Dictionary::Create();
  for (int32_t i = 0; i < n; ++i) map->Add(ToText(Value(i)), Value::Null());
  return Value(map);
}
Value Nested(int containers) {
  Value v = List({});
  for (int i = 1; i < containers; ++i) v = List({v});
  return v;
}

// Something else that calls itself a CArray, read only through its members.
class ForeignList final : public Object {
 public:
  const ClassInfo& Class() const override {
    static const ClassInfo info = ClassBuilder<ForeignList>(u"ForeignList")
                                      .Get<&ForeignList::Count>(u"Count")
                                      .Get<&ForeignList::Item>(u"Item", {u"i"})
                                      .Build();
    return info;
  }
  std::u16string_view TypeName() const override { return u"CArray"; }
  int32_t Count() const { return 3; }
  Value Item(int32_t i) const { return i == 1 ? Value() : Value(i); }
};

std::u16string Describe(const Value& v, T target) {
  const std::optional<StorableFault> fault = CheckStorable(v, target);
  return fault ? fault->description : u"exact";
}

TEST(StorableTest, EveryKindAtItsBoundariesAgainstEveryTarget) {
  std::u16string all_bytes;
  for (int b = 0; b < 256; ++b)
    all_bytes += UnitFromAnsi(static_cast<uint8_t>(b));
  Ref<KxDocRec> rec = KxDocRec::Create();
  rec->LetItem(String(u"when"), Value::Date(1e9));
  std::u16string deep_path;
  for (int i = 0; i < mMsgPack::kMaxDepth; ++i) deep_path += u"[0]";
  const std::u16string kKind = u", which a MessagePack encoding cannot hold";
  const std::u16string kNoByte = u" has no Windows-1252 byte";
  const std::u16string kCurrency = u" lies beyond the Currency range";
  const struct {
    Value value;
    T target;
    std::u16string description;
  } cases[] = {
      // Text: lengths, the code page's every byte, what has no byte.
      {Text(65535), T::kMsgPack, u"exact"},
      {Text(65536), T::kMsgPack,
       u"the value is 65536 characters long, more than the 65535 a "
       u"MessagePack string holds"},
      {Text(65536), T::kKvValue, u"exact"},
      {Text(32768), T::kKvKey,
       u"the key is 32768 characters long, more than the 32767 a KxKVDB key "
       u"holds"},
      {Value(all_bytes), T::kMsgPack, u"exact"},
      {Value(u"ab\u0099"), T::kText,
       u"character U+0099 at position 3 of the text" + kNoByte},
      {Value(u"a\U0001F600\u6771"), T::kKvValue,
       u"character U+1F600 (\U0001F600) at position 2 of the value" + kNoByte},
      {Value(std::u16string(u"ab\xD800")), T::kText,
       u"character U+D800 at position 3 of the text" + kNoByte},
      {Value(std::u16string(u"a\0b", 3)), T::kText, u"exact"},
      {Value(std::u16string(u"\u00E9\0\u6771", 3)), T::kRc4Text,
       u"character U+0000 at position 2 of the text would not come back from "
       u"RC4"},
      {Value(5), T::kKvKey,
       u"the key is Long, which would come back as a String"},
      {Value::Null(), T::kKvValue,
       u"the value is Null, which would come back as a String"},
      // Numbers: what a Currency holds, and what a Date the decoder takes.
      {Dec(u"1.2345"), T::kMsgPack, u"exact"},
      {Value::Decimal(Decimal(0, 123450000, 8, false)), T::kMsgPack, u"exact"},
      {Dec(u"0.123456"), T::kMsgPack,
       u"the number 0.123456 would be rounded to 4 decimal places"},
      {Dec(u"922337203685477.5807"), T::kMsgPack, u"exact"},
      {Dec(u"-922337203685477.5808"), T::kMsgPack, u"exact"},
      {Dec(u"922337203685477.5808"), T::kMsgPack,
       u"the number 922337203685477.5808" + kCurrency},
      {Dec(u"922337203685477.58075"), T::kMsgPack,
       u"the number 922337203685477.58075" + kCurrency},
      {Value::Date(2958465.5), T::kMsgPack, u"exact"},
      {Value::Date(1e9), T::kMsgPack,
       u"the Date with day number 1000000000 lies outside the range of Dates"},
      {Value(std::nan("")), T::kMsgPack, u"exact"},
      // Kinds without a form, and paths: identifiers joined by dots, any
      // other key as a JSON string.
      {Value(), T::kMsgPack, u"the value is Empty" + kKind},
      {List({Value(1), Value::Byte(1)}), T::kMsgPack,
       u"the value at [1] is Byte" + kKind},
      {Map({{u"m", Value::Missing()}}), T::kMsgPack,
       u"the value at m is Error" + kKind},
      {List({Value::Nothing()}), T::kMsgPack,
       u"the value at [0] is Nothing" + kKind},
      {List({MakeArray({})}), T::kMsgPack,
       u"the value at [0] is Variant()" + kKind},
      {Map({{u"c", Value(CDict::Create())}}), T::kMsgPack,
       u"the value at c is CDict" + kKind},
      {Value(Ref<Object>(new ForeignList)), T::kMsgPack,
       u"the value at [1] is Empty" + kKind},
      {Map({{u"_x1", List({Value(1), Map({{u"y", Value()}})})}}), T::kMsgPack,
       u"the value at _x1[1].y is Empty" + kKind},
      {Map({{u"address",
             Map({{u"city", List({Value(u"b"), Value(u"\u6771")})}})}}),
       T::kMsgPack,
       u"character U+6771 (\u6771) at position 1 of address.city[1]" + kNoByte},
      {Map({{u"q\"\\\n", Dec(u"0.123456")}}), T::kMsgPack,
       u"the number 0.123456 at "
       uR"(["q\"\\\u000A"])"
       u" would be rounded to 4 decimal places"},
      {Map({{u"a", Value(1)}, {u"\u6771 x", Value(1)}}), T::kMsgPack,
       u"character U+6771 (\u6771) at position 1 of the key of "
       u"[\"\u6771 x\"]" +
           kNoByte},
      {List({Map({{std::u16string(65536, u'k'), Value(1)}})}), T::kMsgPack,
       u"the key of [0]." + std::u16string(65536, u'k') +
           u" is 65536 characters long, more than the 65535 a MessagePack "
           u"string holds"},
      // Member counts and nesting.
      {List(std::vector<Value>(65535, Value::Null())), T::kMsgPack, u"exact"},
      {Map({{u"big", Fields(65536)}}), T::kMsgPack,
       u"the value at big has 65536 members, more than the 65535 a "
       u"MessagePack container holds"},
      {Nested(mMsgPack::kMaxDepth), T::kMsgPack, u"exact"},
      {Nested(mMsgPack::kMaxDepth + 1), T::kMsgPack,
       u"the value at " + deep_path +
           u" lies deeper than the 1000 nested containers a MessagePack "
           u"encoding holds"},
      // Documents.
      {Value(rec), T::kDocument,
       u"the Date with day number 1000000000 at when lies outside the range "
       u"of Dates"},
      {Fields(65535), T::kDocument, u"exact"},
      {List({}), T::kDocument,
       u"the document is CArray, not a KxDocRec or Dictionary"},
  };
  for (const auto& c : cases) {
    const std::u16string got = Describe(c.value, c.target);
    if (got != c.description) {
      ADD_FAILURE() << "expected " << testing::U8(c.description.substr(0, 200))
                    << "\n     got " << testing::U8(got.substr(0, 200));
    }
  }
}

TEST(StorableTest, FaultTellsReasonPlaceAndCharacter) {
  std::optional<StorableFault> f = CheckStorableText(u"a\U0001F600b", T::kText);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->reason, StorableReason::kCharacter);
  EXPECT_EQ(f->index, 1u);
  EXPECT_EQ(f->position, 2u);
  EXPECT_EQ(f->character, U'\U0001F600');
  EXPECT_EQ(f->path, u"");
  f = CheckStorable(Map({{u"k", Map({{u"x\u6771", Value(1)}})}}), T::kMsgPack);
  ASSERT_TRUE(f);
  EXPECT_TRUE(f->in_key);
  EXPECT_EQ(testing::U8(f->path), "k[\"x\u6771\"]");
  EXPECT_EQ(f->index, 1u);
  f = CheckStorable(Map({{u"p", Dec(u"1E+20")}}), T::kDocument);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->reason, StorableReason::kNumber);
  EXPECT_EQ(f->number, NumberLoss::kBeyondCurrency);
  EXPECT_EQ(f->path, u"p");
  f = CheckStorableText(u"abc", T::kDocument, u"the body");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->reason, StorableReason::kKind);
  EXPECT_EQ(f->description,
            u"the body is String, not a KxDocRec or Dictionary");
  // A container that holds itself is named where it starts.
  Ref<CArray> list = CArray::Create();
  list->Add(Value(1));
  list->Add(Value(list));
  Ref<CArray> inner = CArray::Create();
  inner->Add(Value(inner));
  const Value outer = Map({{u"x", Value(inner)}});
  f = CheckStorable(Value(list), T::kMsgPack);
  ASSERT_TRUE(f);
  EXPECT_TRUE(f->holds_itself);
  EXPECT_EQ(f->description, u"the value holds itself");
  f = CheckStorable(outer, T::kDocument);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->reason, StorableReason::kDepth);
  EXPECT_EQ(f->description, u"the value at x holds itself");
  ExpectRaises(RequireStorable(outer, T::kMsgPack, u"Src"), 5, u"Src",
               u"the value at x holds itself");
  list->Clear();
  inner->Clear();
}

// The check says "exact" exactly when the value decodes to the same.
TEST(StorableTest, AgreesWithWhatMessagePackGivesBack) {
  testing::RandomValues random(20240611);
  int exact_seen = 0;
  for (int i = 0; i < testing::Scaled(12000); ++i) {
    const Value v = random.Any();
    const bool exact = !CheckStorable(v, T::kMsgPack);
    bool same = false;
    try {
      same = testing::SameStored(
          v, mMsgPack::DecodeBytes(mMsgPack::EncodeBytes(v)));
    } catch (const Error&) {
    }
    exact_seen += exact;
    ASSERT_EQ(exact, same) << "value " << i << ": "
                           << testing::U8(Describe(v, T::kMsgPack));
  }
  // Both answers are common enough for the comparison to mean something.
  EXPECT_GT(exact_seen, testing::Scaled(12000) / 5);
  EXPECT_LT(exact_seen, testing::Scaled(12000) * 4 / 5);
}

TEST(StorableTest, ExactEncodesRefuseWhereDefaultsLose) {
  const Value price = Map({{u"price", Dec(u"0.123456")}});
  const std::u16string rounded =
      u"the number 0.123456 at price would be rounded to 4 decimal places";
  const std::u16string no_byte =
      u"character U+6771 (\u6771) at position 2 of the text has no "
      u"Windows-1252 byte";
  EXPECT_EQ(mMsgPack::EncodeBytes(price).size(), 20u);
  std::vector<uint8_t> out = {1, 2};
  ExpectRaises(mMsgPack::EncodeTo(price, out, {.exact = true}), 5, u"KxQuorvel",
               rounded);
  EXPECT_EQ(out.size(), 2u);
  EXPECT_EQ(mRC4::Encrypt(u"a\u6771", u"k"), mRC4::Encrypt(u"a?", u"k"));
  const mRC4::CryptOptions exact{.exact = true};
  ExpectRaises(mRC4::Encrypt(u"a\u6771", u"k", exact), 5, u"KxQuorvel",
               no_byte);
  ExpectRaises(mRC4::Encrypt(u"a", u"k\u20AC\u0080", exact), 5, u"KxQuorvel",
               u"character U+0080 at position 3 of the key has no "
               u"Windows-1252 byte");
  ExpectRaisesStandard(mRC4::Encrypt(u"\u6771", u"", exact), 11);
  EXPECT_EQ(mRC4::Encrypt(u"\u00E9t\u00E9", u"cl\u00E9", exact),
            mRC4::Encrypt(u"\u00E9t\u00E9", u"cl\u00E9"));
  // A scope makes the plain forms and the late-bound members exact on its
  // own thread only, for as long as any scope lives.
  const Value pi = Value(Ref<CQuorvelPI>(&CQuorvelPI::Global()));
  {
    ExactScope outer;
    { ExactScope inner; }
    ASSERT_TRUE(ExactScope::Active());
    ExpectRaises(mMsgPack::EncodeBytes(price), 5, u"KxQuorvel", rounded);
    ExpectRaises(CallByName(pi, u"MsgPack_Encode", CallType::Method, {price}),
                 5, u"KxQuorvel", rounded);
    ExpectRaises(CallByName(pi, u"RC4_Encrypt", CallType::Method,
                            {Value(u"x\u6771"), Value(u"k")}),
                 5, u"KxQuorvel", no_byte);
    EXPECT_EQ(mMsgPack::EncodeBytes(price, {}).size(), 20u);
    bool elsewhere = true;
    std::thread([&] { elsewhere = ExactScope::Active(); }).join();
    EXPECT_FALSE(elsewhere);
  }
  EXPECT_FALSE(ExactScope::Active());
  EXPECT_EQ(ToBytes(mMsgPack::Encode(price)).size(), 20u);
}

}  // namespace
}  // namespace quorvel
