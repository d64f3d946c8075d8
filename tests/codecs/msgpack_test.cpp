#include "quorvel/msgpack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "test_util.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::FromHex;
using testing::ToHex;

std::string EncodeHex(const Value& v) {
  return ToHex(mMsgPack::EncodeBytes(v), 0, std::string::npos, true);
}

Value DecodeHex(std::string_view hex) {
  return mMsgPack::DecodeBytes(FromHex(hex));
}

// Something else that calls itself a CArray, reachable only by late binding.
class ForeignList final : public Object {
 public:
  static Ref<ForeignList> Create() { return Ref<ForeignList>(new ForeignList); }
  const ClassInfo& Class() const override {
    static const ClassInfo info = ClassBuilder<ForeignList>(u"ForeignList")
                                      .Get<&ForeignList::Count>(u"Count")
                                      .Get<&ForeignList::Item>(u"Item", {u"i"})
                                      .Build();
    return info;
  }
  std::u16string_view TypeName() const override { return u"CArray"; }
  int32_t Count() const { return 2; }
  Value Item(int32_t i) const { return Value(i * 10); }
};

TEST(MsgPackEncodeTest, ScalarsHaveTheirExactBytes) {
  EXPECT_EQ(EncodeHex(Value::Null()), "C0");
  EXPECT_EQ(EncodeHex(Value(true)), "C3");
  EXPECT_EQ(EncodeHex(Value(false)), "C2");
  EXPECT_EQ(EncodeHex(Value(int16_t{5})), "D2 05 00 00 00");
  EXPECT_EQ(EncodeHex(Value(int16_t{-2})), "D2 FE FF FF FF");
  EXPECT_EQ(EncodeHex(Value(-1)), "D2 FF FF FF FF");
  EXPECT_EQ(EncodeHex(Value(0x12345678)), "D2 78 56 34 12");
  EXPECT_EQ(EncodeHex(Value(1.0)), "CB 00 00 00 00 00 00 F0 3F");
  EXPECT_EQ(EncodeHex(Value(1.5f)), "CB 00 00 00 00 00 00 F8 3F");
  EXPECT_EQ(EncodeHex(Value::Currency(10000)), "C7 02 10 27 00 00 00 00 00 00");
  EXPECT_EQ(EncodeHex(Value::Currency(-1)), "C7 02 FF FF FF FF FF FF FF FF");
  // A Decimal goes as Currency, rounded to four places half to even.
  EXPECT_EQ(EncodeHex(Value::Decimal(*Decimal::Parse(u"1.23455"))),
            "C7 02 3A 30 00 00 00 00 00 00");
  EXPECT_EQ(EncodeHex(Value::Date(1.5)), "C7 01 00 00 00 00 00 00 F8 3F");
  EXPECT_EQ(EncodeHex(Value(u"")), "D9 00");
  EXPECT_EQ(EncodeHex(Value(u"abc")), "D9 03 61 62 63");
  // Windows-1252 text: the euro sign is 80, e-acute E9, and what the code
  // page lacks becomes '?'.
  EXPECT_EQ(EncodeHex(Value(u"\u20AC\u00E9\u65E5")), "D9 03 80 E9 3F");
}

TEST(MsgPackEncodeTest, DecimalsAndShortTextsHaveTheirExactBytes) {
  // Decimals of up to four places scale up exactly; beyond 2^49 units, or
  // past four places, they take the general conversion.
  const struct {
    const char16_t* decimal;
    const char* currency;  // little-endian, after C7 02
  } kDecimals[] = {
      {u"1.5", "98 3A 00 00 00 00 00 00"},
      {u"-0.0001", "FF FF FF FF FF FF FF FF"},
      {u"-0", "00 00 00 00 00 00 00 00"},
      {u"562949953421311", "F0 D8 FF FF FF FF 1F 4E"},
      {u"-562949953421311", "10 27 00 00 00 00 E0 B1"},
      {u"562949953421312", "00 00 00 00 00 00 20 4E"},
      {u"922337203685477.5807", "FF FF FF FF FF FF FF 7F"},
      {u"12345.67890", "15 CD 5B 07 00 00 00 00"},
  };
  for (const auto& c : kDecimals) {
    EXPECT_EQ(EncodeHex(Value::Decimal(*Decimal::Parse(c.decimal))),
              std::string("C7 02 ") + c.currency)
        << testing::U8(c.decimal);
  }
  ExpectRaisesStandard(mMsgPack::EncodeBytes(Value::Decimal(
                           *Decimal::Parse(u"922337203685477.5808"))),
                       6);
  // Texts on either side of four and eight units, with a unit that is not
  // its own byte (or is, beyond ASCII) first or last.
  const struct {
    const char16_t* text;
    const char* hex;
  } kTexts[] = {
      {u"abcdefg\u20AC", "D9 08 61 62 63 64 65 66 67 80"},
      {u"abcdefgh\u00E9", "D9 09 61 62 63 64 65 66 67 68 E9"},
      {u"abcdefg\u65E5", "D9 08 61 62 63 64 65 66 67 3F"},
      {u"abc\u00FF", "D9 04 61 62 63 FF"},
      {u"\u0081bcdef", "D9 06 81 62 63 64 65 66"},
      {u"\u0080bcdefghi", "D9 09 3F 62 63 64 65 66 67 68 69"},
      {u"abcdefghijkl\u01E9", "D9 0D 61 62 63 64 65 66 67 68 69 6A 6B 6C 3F"},
  };
  for (const auto& c : kTexts) {
    EXPECT_EQ(EncodeHex(Value(c.text)), c.hex) << testing::U8(c.text);
  }
}

TEST(MsgPackEncodeTest, StringLengthsSwitchFormAt256AndStopAt65535) {
  EXPECT_EQ(EncodeHex(Value(std::u16string(255, u'x'))).substr(0, 5), "D9 FF");
  Bytes b256 = mMsgPack::EncodeBytes(Value(std::u16string(256, u'x')));
  EXPECT_EQ(b256.size(), 259u);
  EXPECT_EQ(ToHex(b256, 0, 4, true), "DA 01 00 78");
  const std::u16string longest(65535, u'\u00FC');
  Bytes b = mMsgPack::EncodeBytes(Value(longest));
  ASSERT_EQ(b.size(), 65538u);
  EXPECT_EQ(ToHex(b, 0, 4, true), "DA FF FF FC");
  Value back = mMsgPack::DecodeBytes(b);
  EXPECT_TRUE(back.string_view() == longest);
  ExpectRaises(mMsgPack::EncodeBytes(Value(std::u16string(65536, u'x'))), 6,
               u"KxQuorvel",
               u"Overflow: a string holds at most 65,535 items in this "
               u"encoding (this one 65536)");
}

TEST(MsgPackEncodeTest, ContainersHaveTheirExactBytes) {
  Ref<CArray> list = CArray::Create();
  EXPECT_EQ(EncodeHex(Value(list)), "DC 00 00");
  list->Add(Value::Null());
  EXPECT_EQ(EncodeHex(Value(list)), "DC 00 01 C0");

  Ref<Dictionary> map = Dictionary::Create();
  map->Add(u"a", Value(1));
  EXPECT_EQ(EncodeHex(Value(map)), "DE 00 01 D9 01 61 D2 01 00 00 00");

  Ref<KxDocRec> rec = KxDocRec::Create();
  EXPECT_EQ(EncodeHex(Value(rec)), "C7 33 00 00");
  rec->LetDocID(u"DOC000001");  // not a field: not written
  rec->Add(u"b", Value(true));
  rec->Add(u"l", Value(list));
  EXPECT_EQ(EncodeHex(Value(rec)),
            "C7 33 00 02 D9 01 62 C3 D9 01 6C DC 00 01 C0");

  // Members keep their order; a shared member is written each time.
  Ref<CArray> outer = CArray::Create();
  outer->Add(Value(map));
  outer->Add(Value(map));
  EXPECT_EQ(EncodeHex(Value(outer)),
            "DC 00 02 DE 00 01 D9 01 61 D2 01 00 00 00 "
            "DE 00 01 D9 01 61 D2 01 00 00 00");

  // 300 members: the count is big-endian.
  Ref<CArray> many = CArray::Create();
  for (int i = 0; i < 300; ++i) many->Add(Value(true));
  EXPECT_EQ(EncodeHex(Value(many)).substr(0, 8), "DC 01 2C");

  // Something else named CArray is read through its members.
  EXPECT_EQ(EncodeHex(Value(ForeignList::Create())),
            "DC 00 02 D2 00 00 00 00 D2 0A 00 00 00");
}

TEST(MsgPackEncodeTest, ContainersChangedByAForeignMemberMidWayStaySound) {
  Ref<Dictionary> root = testing::RootWithAChangingList();
  // Exactly the promised two entries are written, the list as it was read
  // first; what comes second depends on where the map moved its entries.
  const std::string hex = EncodeHex(Value(root));
  EXPECT_EQ(hex.substr(0, 74),
            "DE 00 02 D9 04 6C 69 73 74 DC 00 02 DC 00 01 D2 07 00 00 00 D2 01 "
            "00 00 00");
  Value back = DecodeHex(hex);
  ASSERT_NE(back.object_as<Dictionary>(), nullptr);
  EXPECT_EQ(back.object_as<Dictionary>()->Count(), 2);
  EXPECT_EQ(root->Count(), 201);
}

TEST(MsgPackEncodeTest, ContainersDroppedByAForeignMemberStayAliveTillWritten) {
  // root = {"outer": {"list": [changer, 1], "y": 2}}: reading the changer
  // drops "outer", the last other reference to the map and the list around
  // it, which are then still written to their end.
  Ref<Dictionary> root = Dictionary::Create();
  {
    Ref<Dictionary> outer = Dictionary::Create();
    Ref<CArray> list = CArray::Create();
    list->Add(Value(Ref<Object>(
        new testing::ListThatChangesItsHolder(root.get(), u"outer"))));
    list->Add(Value(1));
    outer->Add(u"list", Value(list));
    outer->Add(u"y", Value(2));
    root->Add(u"outer", Value(outer));
  }
  EXPECT_EQ(EncodeHex(Value(root)),
            "DE 00 01 D9 05 6F 75 74 65 72 DE 00 02 D9 04 6C 69 73 74 "
            "DC 00 02 DC 00 01 D2 07 00 00 00 D2 01 00 00 00 "
            "D9 01 79 D2 02 00 00 00");
  EXPECT_EQ(root->Count(), 200);
}

TEST(MsgPackEncodeTest, UnsupportedValuesRaise) {
  const std::u16string kind = u"Unsupported type";
  ExpectRaises(mMsgPack::EncodeBytes(Value()), 5, u"KxQuorvel", kind);
  ExpectRaises(mMsgPack::EncodeBytes(Value::Missing()), 5, u"KxQuorvel", kind);
  ExpectRaises(mMsgPack::EncodeBytes(Value::Byte(1)), 5, u"KxQuorvel", kind);
  ExpectRaises(mMsgPack::EncodeBytes(Value::ErrorCode(7)), 5, u"KxQuorvel",
               kind);
  ExpectRaises(mMsgPack::EncodeBytes(MakeArray({Value(1)})), 5, u"KxQuorvel",
               kind);
  const uint8_t raw[] = {1, 2};
  ExpectRaises(mMsgPack::EncodeBytes(MakeByteArray(raw)), 5, u"KxQuorvel",
               kind);
  ExpectRaises(mMsgPack::EncodeBytes(Value(CDict::Create())), 5, u"KxQuorvel",
               u"Unsupported type : CDict");
  ExpectRaises(mMsgPack::EncodeBytes(Value::Nothing()), 5, u"KxQuorvel",
               u"Unsupported type : Nothing");
  ExpectRaises(mMsgPack::EncodeBytes(CreateObject(u"Collection")), 5,
               u"KxQuorvel", u"Unsupported type : Collection");
  // Nested too: the whole encode fails, and appending leaves the output as
  // it was.
  Ref<Dictionary> map = Dictionary::Create();
  map->Add(u"ok", Value(1));
  map->Add(u"x", Value());
  Bytes out = {0xAA};
  ExpectRaises(mMsgPack::EncodeTo(Value(map), out), 5, u"KxQuorvel", kind);
  EXPECT_EQ(out, Bytes{0xAA});
  mMsgPack::EncodeTo(Value(true), out);
  EXPECT_EQ(ToHex(out, 0, std::string::npos, true), "AA C3");

  // A Decimal beyond the Currency range overflows.
  ExpectRaisesStandard(mMsgPack::EncodeBytes(Value::Decimal(
                           *Decimal::Parse(u"1000000000000000000"))),
                       6);
  // More members than two bytes can count.
  Ref<CArray> huge = CArray::Create();
  for (int i = 0; i < 65535; ++i) huge->Add(Value::Null());
  EXPECT_EQ(mMsgPack::EncodeBytes(Value(huge)).size(), 3u + 65535u);
  huge->Add(Value::Null());
  ExpectRaises(mMsgPack::EncodeBytes(Value(huge)), 6, u"KxQuorvel",
               u"Overflow: a container holds at most 65,535 items in this "
               u"encoding (this one 65536)");
}

TEST(MsgPackEncodeTest, CyclesAndDepthStopWithOutOfStackSpace) {
  Ref<CArray> self = CArray::Create();
  self->Add(Value(self));
  ExpectRaisesStandard(mMsgPack::EncodeBytes(Value(self)), 28);
  self->Clear();  // break the cycle so the list is released

  Ref<Dictionary> a = Dictionary::Create();
  Ref<KxDocRec> b = KxDocRec::Create();
  a->Add(u"b", Value(b));
  b->Add(u"a", Value(a));
  ExpectRaisesStandard(mMsgPack::EncodeBytes(Value(a)), 28);
  b->Clear();

  auto nest = [](int depth) {
    Ref<CArray> top = CArray::Create();
    Ref<CArray> at = top;
    for (int i = 1; i < depth; ++i) {
      Ref<CArray> inner = CArray::Create();
      at->Add(Value(inner));
      at = inner;
    }
    return Value(top);
  };
  EXPECT_EQ(mMsgPack::EncodeBytes(nest(mMsgPack::kMaxDepth)).size(),
            3u * mMsgPack::kMaxDepth);
  ExpectRaisesStandard(mMsgPack::EncodeBytes(nest(mMsgPack::kMaxDepth + 1)),
                       28);
}

// The bytes of a String of ASCII text, written out by hand.
void AppendText(Bytes& out, const std::string& text) {
  if (text.size() <= 255) {
    out.insert(out.end(), {0xD9, static_cast<uint8_t>(text.size())});
  } else {
    out.insert(out.end(), {0xDA, static_cast<uint8_t>(text.size() >> 8),
                           static_cast<uint8_t>(text.size())});
  }
  out.insert(out.end(), text.begin(), text.end());
}

TEST(MsgPackEncodeTest, LargeEncodingsAreExactWhateverTheirSize) {
  // Several megabytes in pieces of every size, the longest String among
  // them, so that no piece is lost, doubled or cut where the encoder's
  // buffers meet.
  Ref<CArray> list = CArray::Create();
  Bytes want;
  const int kCount = 20000;
  want.insert(want.end(), {0xDC, kCount >> 8, kCount & 0xFF});
  for (int i = 0; i < kCount; ++i) {
    const size_t length = i == 7000 || i == 7001 ? 65535 : (i * 37) % 700;
    std::string text(length, static_cast<char>('a' + i % 26));
    if (!text.empty()) text[0] = static_cast<char>('0' + i % 10);
    list->Add(Value(FromUtf8(text)));
    AppendText(want, text);
  }
  // Code-page characters anywhere in a run of ASCII.
  EXPECT_EQ(EncodeHex(Value(u"abcdefg\u20AChijklmn\u00E9opqrstu\u65E5vw")),
            "D9 1A 61 62 63 64 65 66 67 80 68 69 6A 6B 6C 6D 6E E9 "
            "6F 70 71 72 73 74 75 3F 76 77");
  const Bytes got = mMsgPack::EncodeBytes(Value(list));
  ASSERT_EQ(got.size(), want.size());
  EXPECT_TRUE(got == want);

  // Appending keeps what was there; a failure at the very end, after all
  // those bytes were produced, leaves the output exactly as it was.
  Bytes out = {0x01, 0x02};
  mMsgPack::EncodeTo(Value(list), out);
  ASSERT_EQ(out.size(), 2 + want.size());
  EXPECT_TRUE(std::equal(want.begin(), want.end(), out.begin() + 2));
  list->Add(Value());
  ExpectRaises(mMsgPack::EncodeTo(Value(list), out), 5, u"KxQuorvel",
               u"Unsupported type");
  EXPECT_EQ(out.size(), 2 + want.size());
  EXPECT_TRUE(std::equal(want.begin(), want.end(), out.begin() + 2));
}

TEST(MsgPackEncodeTest, ListsOfContainersAreWrittenMemberByMember) {
  // A long list mixing maps (one with removed keys), records, lists, empty
  // containers and scalars is its header followed by each member's own
  // encoding, in order.
  Ref<CArray> list = CArray::Create();
  Bytes want = {0xDC, 0x00, 0x00};
  for (int i = 0; i < 40; ++i) {
    Value member;
    switch (i % 6) {
      case 0: {
        Ref<Dictionary> d = Dictionary::Create();
        for (int k = 0; k < 12; ++k)
          d->Add(u"key" + ToText(Value(k)).str(), Value(i * 100 + k));
        if (i % 12 == 0) {
          d->Remove(u"key0");
          d->Remove(u"key5");
        }
        member = Value(d);
        break;
      }
      case 1: {
        Ref<KxDocRec> r = KxDocRec::Create();
        r->Add(u"n", Value(i));
        r->Add(u"t", Value(u"text"));
        member = Value(r);
        break;
      }
      case 2: {
        Ref<CArray> inner = CArray::Create();
        for (int k = 0; k < i % 5; ++k) inner->Add(Value(k));
        member = Value(inner);
        break;
      }
      case 3:
        member = Value(Dictionary::Create());
        break;
      case 4:
        member = Value(u"s" + ToText(Value(i)).str());
        break;
      default:
        member = Value(i * 0.5);
    }
    list->Add(member);
    const Bytes one = mMsgPack::EncodeBytes(member);
    want.insert(want.end(), one.begin(), one.end());
  }
  want[2] = 40;
  EXPECT_EQ(ToHex(mMsgPack::EncodeBytes(Value(list))), ToHex(want));

  // Nothing far down the list still fails the whole encode.
  list->Add(Value::Nothing());
  list->Add(Value(Dictionary::Create()));
  ExpectRaises(mMsgPack::EncodeBytes(Value(list)), 5, u"KxQuorvel",
               u"Unsupported type : Nothing");
}

TEST(MsgPackDecodeTest, ScalarsComeBackWithTheirKinds) {
  EXPECT_EQ(VarType(DecodeHex("C0")), 1);
  Value t = DecodeHex("C3 FF FF");  // trailing bytes are not read
  EXPECT_EQ(VarType(t), 11);
  EXPECT_TRUE(t.boolean());
  EXPECT_FALSE(DecodeHex("C2").boolean());
  Value five = DecodeHex("D2 05 00 00 00");
  EXPECT_EQ(VarType(five), 3);
  EXPECT_EQ(five.long_value(), 5);
  EXPECT_EQ(DecodeHex("D2 00 00 00 80").long_value(), INT32_MIN);
  Value d = DecodeHex("CB 00 00 00 00 00 00 F0 BF");
  EXPECT_EQ(VarType(d), 5);
  EXPECT_EQ(d.double_value(), -1.0);
  Value cy = DecodeHex("C7 02 10 27 00 00 00 00 00 00");
  EXPECT_EQ(VarType(cy), 6);
  EXPECT_EQ(cy.currency(), 10000);
  Value date = DecodeHex("C7 01 00 00 00 00 00 00 F8 3F");
  EXPECT_EQ(VarType(date), 7);
  EXPECT_EQ(date.date(), 1.5);
  Value empty = DecodeHex("D9 00");
  EXPECT_EQ(VarType(empty), 8);
  EXPECT_TRUE(empty.string_view().empty());
  EXPECT_TRUE(DecodeHex("DA 00 03 61 80 FF").string_view() == u"a\u20AC\u00FF");
  // Bytes the code page leaves unassigned come back as the same code points.
  EXPECT_TRUE(DecodeHex("D9 02 81 9D").string_view() == u"\u0081\u009D");
}

TEST(MsgPackDecodeTest, ContainersAreNewObjects) {
  Value list = DecodeHex("DC 00 00");
  EXPECT_EQ(TypeName(list), u"CArray");
  EXPECT_EQ(list.object_as<CArray>()->Count(), 0);

  Value map = DecodeHex("DE 00 01 D2 01 00 00 00 C0");
  ASSERT_EQ(TypeName(map), u"Dictionary");
  Dictionary* d = map.object_as<Dictionary>();
  EXPECT_EQ(d->Count(), 1);
  ASSERT_NE(d->Find(u"1"), nullptr);
  EXPECT_TRUE(d->Find(u"1")->IsNull());

  Value rec = DecodeHex("C7 33 00 00");
  ASSERT_EQ(TypeName(rec), u"KxDocRec");
  EXPECT_EQ(rec.object_as<KxDocRec>()->Count(), 0);
  EXPECT_TRUE(rec.object_as<KxDocRec>()->DocID().empty());
  EXPECT_TRUE(rec.object_as<KxDocRec>()->DB().IsNothing());

  Value rec2 = DecodeHex("C7 33 00 02 D9 01 62 C3 D9 01 61 D2 02 00 00 00");
  EXPECT_EQ(ToText(rec2.object_as<KxDocRec>()->Keys().array().values()[0]),
            u"b");
  EXPECT_EQ(rec2.object_as<KxDocRec>()->Item(u"a").long_value(), 2);
  // Keys of other kinds become their text.
  Value keyed = DecodeHex("DE 00 02 C3 C0 CB 00 00 00 00 00 00 F8 3F C0");
  EXPECT_NE(keyed.object_as<Dictionary>()->Find(u"True"), nullptr);
  EXPECT_NE(keyed.object_as<Dictionary>()->Find(u"1.5"), nullptr);
}

TEST(MsgPackDecodeTest, BadInputRaises) {
  struct Case {
    const char* hex;
    int32_t number;
    const char16_t* description;
  };
  const Case cases[] = {
      {"93 01 02 03", 5, u"Unsupported MsgPack type: 93"},
      {"05", 5, u"Unsupported MsgPack type: 5"},
      {"CC 01", 5, u"Unsupported MsgPack type: CC"},
      {"C7 05", 5, u"Unsupported ext sub-type: 5"},
      {"C7 10", 5, u"Unsupported ext sub-type: 16"},
      {"C7 FF", 5, u"Unsupported ext sub-type: 255"},
      // The compact and wide forms of the published format are not read.
      {"00", 5, u"Unsupported MsgPack type: 0"},
      {"7F", 5, u"Unsupported MsgPack type: 7F"},
      {"E0", 5, u"Unsupported MsgPack type: E0"},
      {"A1 61", 5, u"Unsupported MsgPack type: A1"},
      {"90", 5, u"Unsupported MsgPack type: 90"},
      {"80", 5, u"Unsupported MsgPack type: 80"},
      {"C1", 5, u"Unsupported MsgPack type: C1"},
      {"C4 00", 5, u"Unsupported MsgPack type: C4"},
      {"C8 00 00 01", 5, u"Unsupported MsgPack type: C8"},
      {"CA 00 00 00 00", 5, u"Unsupported MsgPack type: CA"},
      {"D0 01", 5, u"Unsupported MsgPack type: D0"},
      {"D3 00 00 00 00 00 00 00 00", 5, u"Unsupported MsgPack type: D3"},
      {"D4 01 00", 5, u"Unsupported MsgPack type: D4"},
      {"DB 00 00 00 00", 5, u"Unsupported MsgPack type: DB"},
      {"DD 00 00 00 00", 5, u"Unsupported MsgPack type: DD"},
      {"DF 00 00 00 00", 5, u"Unsupported MsgPack type: DF"},
      // A bad member fails the whole decode.
      {"DC 00 02 C0 A0", 5, u"Unsupported MsgPack type: A0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex);
    ExpectRaises(DecodeHex(c.hex), c.number, u"KxQuorvel", c.description);
  }

  // Reads past the end, whether they start there or run over it.
  for (const char* hex :
       {"", "DC 00 02 C0", "D2 01 00 00", "CB 00", "D9", "D9 05 61 62", "DA 01",
        "DA 00 02 61", "DC 00", "DE 00 01 D9 01 61", "C7", "C7 01 00 00",
        "C7 02", "C7 33 00", "C7 33 00 01 D9 01 61", "DC FF FF C0"}) {
    SCOPED_TRACE(hex);
    ExpectRaisesStandard(DecodeHex(hex), 9);
  }

  ExpectRaisesStandard(DecodeHex("DE 00 02 D9 01 61 C0 D9 01 61 C3"), 457);
  ExpectRaisesStandard(DecodeHex("C7 33 00 02 D9 01 61 C0 D9 01 61 C3"), 457);
  // Keys must convert to text.
  ExpectRaisesStandard(DecodeHex("DE 00 01 C0 C0"), 94);
  ExpectRaisesStandard(DecodeHex("DE 00 01 DC 00 00 C0"), 450);
  // Day numbers outside the date range (year 10000, NaN).
  ExpectRaisesStandard(DecodeHex("C7 01 00 00 00 00 41 92 46 41"), 6);
  ExpectRaisesStandard(DecodeHex("C7 01 00 00 00 00 00 00 F8 7F"), 6);
}

TEST(MsgPackDecodeTest, TextsComeBackExactlyHoweverOftenTheyRepeat) {
  // Texts of every length up to 40 bytes, some repeated many times, some
  // once, with code-page bytes among them, as list members and as keys.
  const auto text_of = [](int i) {
    std::string bytes;
    const int length = i % 41;
    for (int k = 0; k < length; ++k) {
      const int pick = (i * 7 + k * 13) % 29;
      bytes += static_cast<char>(pick == 0   ? 0x80
                                 : pick == 1 ? 0xE9
                                 : pick == 2 ? 0x81
                                             : 'a' + pick % 26);
    }
    return bytes;
  };
  const auto widened = [](const std::string& bytes) {
    std::u16string units;
    for (char c : bytes) {
      const auto b = static_cast<uint8_t>(c);
      units += b == 0x80 ? u'\u20AC' : static_cast<char16_t>(b);
    }
    return units;
  };
  std::vector<int> picks;
  for (int i = 0; i < 6000; ++i) picks.push_back(i % 7 == 0 ? i : i % 90);
  Bytes list = {0xDC, static_cast<uint8_t>(picks.size() >> 8),
                static_cast<uint8_t>(picks.size() & 0xFF)};
  for (int pick : picks) AppendText(list, text_of(pick));
  Value back = mMsgPack::DecodeBytes(list);
  const CArray& items = *back.object_as<CArray>();
  ASSERT_EQ(items.Count(), static_cast<int32_t>(picks.size()));
  for (size_t i = 0; i < picks.size(); ++i) {
    ASSERT_TRUE(items.Item(static_cast<int32_t>(i)).string_view() ==
                widened(text_of(picks[i])))
        << "member " << i;
  }

  Bytes map = {0xDE, 0x00, 90};
  for (int k = 0; k < 90; ++k) {
    AppendText(map, std::to_string(k) + "_" + text_of(k + 41));
    AppendText(map, text_of(k));
  }
  Value keyed = mMsgPack::DecodeBytes(map);
  const Dictionary& d = *keyed.object_as<Dictionary>();
  ASSERT_EQ(d.Count(), 90);
  int k = 0;
  for (const Dictionary::Entry& e : d) {
    EXPECT_TRUE(e.key.view() ==
                widened(std::to_string(k) + "_" + text_of(k + 41)))
        << "key " << k;
    EXPECT_TRUE(e.value.string_view() == widened(text_of(k))) << "value " << k;
    ++k;
  }

  // Maps of one shape and its near misses (a key one byte off in its last
  // word, a prefix, a longer key, keys in another order): each place of a
  // map expects the key it held in the map before.
  const std::vector<std::string> names = {
      "identifier", "identifies", "identifier_long_enough_for_4w",
      "id",         "name",       "city"};
  std::vector<std::vector<int>> shapes;
  Bytes maps = {0xDC, 0x01, 0x2C};
  for (int j = 0; j < 300; ++j) {
    std::vector<int> keys = {0, 4, 5};
    if (j % 7 == 3) keys[0] = 1;
    if (j % 17 == 8) keys[0] = 3;
    if (j % 11 == 5) keys[1] = 2;
    if (j % 13 == 6) std::swap(keys[0], keys[2]);
    maps.insert(maps.end(), {0xDE, 0x00, 0x03});
    for (int key : keys) {
      AppendText(maps, names[key]);
      AppendText(maps, std::to_string(j));
    }
    shapes.push_back(keys);
  }
  Value records = mMsgPack::DecodeBytes(maps);
  for (int j = 0; j < 300; ++j) {
    const Dictionary& r =
        *records.object_as<CArray>()->Item(j).object_as<Dictionary>();
    int place = 0;
    for (const Dictionary::Entry& e : r) {
      ASSERT_TRUE(e.key.view() == widened(names[shapes[j][place++]]))
          << "map " << j << " place " << place;
    }
  }
  // The same key twice in a map whose places expect other keys.
  maps[2] = 0x2D;
  maps.insert(maps.end(), {0xDE, 0x00, 0x02});
  for (int k = 0; k < 2; ++k) {
    AppendText(maps, names[0]);
    AppendText(maps, "x");
  }
  ExpectRaisesStandard(mMsgPack::DecodeBytes(maps), 457);

  // A repeated key fails only once its value has been read: a broken value
  // reports its own error first.
  ExpectRaises(DecodeHex("DE 00 02 D9 01 61 C0 D9 01 61 C1"), 5, u"KxQuorvel",
               u"Unsupported MsgPack type: C1");
  ExpectRaisesStandard(DecodeHex("DE 00 02 D9 01 61 C0 D9 01 61 D2 01"), 9);
  ExpectRaisesStandard(
      DecodeHex("C7 33 00 02 D9 01 61 C0 D9 01 61 DC 00 01 C3"), 457);
  // A key of another kind, converted, repeats a text key.
  ExpectRaisesStandard(DecodeHex("DE 00 02 D9 01 31 C0 D2 01 00 00 00 C0"),
                       457);
  // A key repeated after a thousand other texts were read in between.
  Bytes apart = FromHex("DE 00 02 D9 01 6B DC 03 E8");
  for (int i = 0; i < 1000; ++i) AppendText(apart, std::to_string(i));
  AppendText(apart, "k");
  apart.push_back(0xC0);
  ExpectRaisesStandard(mMsgPack::DecodeBytes(apart), 457);
}

TEST(MsgPackDecodeTest, NestingDepthIsBounded) {
  auto nested = [](int depth) {
    Bytes b;
    for (int i = 1; i < depth; ++i) b.insert(b.end(), {0xDC, 0x00, 0x01});
    b.insert(b.end(), {0xDE, 0x00, 0x00});
    return b;
  };
  Value deep = mMsgPack::DecodeBytes(nested(mMsgPack::kMaxDepth));
  EXPECT_EQ(mMsgPack::EncodeBytes(deep), nested(mMsgPack::kMaxDepth));
  ExpectRaisesStandard(mMsgPack::DecodeBytes(nested(mMsgPack::kMaxDepth + 1)),
                       28);
  // Far deeper than any stack would take: still a clean error.
  ExpectRaisesStandard(mMsgPack::DecodeBytes(nested(1000000)), 28);
}

TEST(MsgPackDecodeTest, DecodeAtAdvancesPastOneValue) {
  const Bytes b = FromHex("D9 01 61 DC 00 01 C3 C0 C7 05");
  size_t at = 0;
  EXPECT_TRUE(mMsgPack::DecodeAt(b, at).string_view() == u"a");
  EXPECT_EQ(at, 3u);
  EXPECT_EQ(TypeName(mMsgPack::DecodeAt(b, at)), u"CArray");
  EXPECT_EQ(at, 7u);
  EXPECT_TRUE(mMsgPack::DecodeAt(b, at).IsNull());
  EXPECT_EQ(at, 8u);
  ExpectRaises(mMsgPack::DecodeAt(b, at), 5, u"KxQuorvel",
               u"Unsupported ext sub-type: 5");
  EXPECT_EQ(at, 8u);  // unchanged by a failure
  at = b.size();
  ExpectRaisesStandard(mMsgPack::DecodeAt(b, at), 9);
  at = b.size() + 5;
  ExpectRaisesStandard(mMsgPack::DecodeAt(b, at), 9);

  // The Value forms take Byte arrays indexed from 0.
  Value bytes = MakeByteArray(b);
  int32_t pos = 3;
  EXPECT_EQ(TypeName(mMsgPack::DecodeAt(bytes, pos)), u"CArray");
  EXPECT_EQ(pos, 7);
  pos = -1;
  ExpectRaisesStandard(mMsgPack::DecodeAt(bytes, pos), 9);
  EXPECT_TRUE(mMsgPack::Decode(bytes).string_view() == u"a");
  ExpectRaisesStandard(mMsgPack::Decode(Value()), 9);
  ExpectRaisesStandard(mMsgPack::Decode(MakeByteArray(Bytes{})), 9);
  ExpectRaisesStandard(mMsgPack::Decode(Value(SafeArray(Bytes{0xC3, 0xC3}, 1))),
                       9);
  ExpectRaisesStandard(mMsgPack::Decode(Value(u"C3")), 13);
  Value encoded = mMsgPack::Encode(Value(7));
  EXPECT_EQ(VarType(encoded), 8192 + 17);
  EXPECT_EQ(LBound(encoded), 0);
  EXPECT_EQ(UBound(encoded), 4);
}

TEST(MsgPackRoundTripTest, StructuresComeBackEqualButNew) {
  Ref<Dictionary> root = Dictionary::Create();
  Ref<CArray> people = CArray::Create();
  for (int i = 0; i < 3; ++i) {
    Ref<Dictionary> p = Dictionary::Create();
    p->Add(u"zeta", Value(i));
    p->Add(u"alpha", Value(u"né" + std::u16string(i, u'x')));
    p->Add(u"when", Value::Date(45000.25 + i));
    people->Add(Value(p));
  }
  root->Add(u"people", Value(people));
  root->Add(u"int", Value(int16_t{7}));
  root->Add(u"single", Value(0.5f));
  root->Add(u"dec", Value::Decimal(*Decimal::Parse(u"2.5")));
  root->Add(u"cy", Value::Currency(-123456789));
  root->Add(u"rec", Value(KxDocRec::Create()));

  const Bytes once = mMsgPack::EncodeBytes(Value(root));
  Value back = mMsgPack::DecodeBytes(once);
  EXPECT_EQ(mMsgPack::EncodeBytes(back), once);
  ASSERT_EQ(TypeName(back), u"Dictionary");
  Dictionary& d = *back.object_as<Dictionary>();
  EXPECT_NE(&d, root.get());
  EXPECT_EQ(ToText(ArrayItem(d.Keys(), 0)), u"people");
  EXPECT_EQ(ToText(ArrayItem(d.Keys(), 5)), u"rec");
  EXPECT_EQ(VarType(*d.Find(u"int")), 3);
  EXPECT_EQ(VarType(*d.Find(u"single")), 5);
  EXPECT_EQ(VarType(*d.Find(u"dec")), 6);
  EXPECT_EQ(d.Find(u"dec")->currency(), 25000);
  EXPECT_EQ(d.Find(u"cy")->currency(), -123456789);
  EXPECT_EQ(TypeName(*d.Find(u"rec")), u"KxDocRec");
  CArray* list = d.Find(u"people")->object_as<CArray>();
  ASSERT_NE(list, nullptr);
  EXPECT_NE(list, people.get());
  ASSERT_EQ(list->Count(), 3);
  Dictionary* third = list->Item(2).object_as<Dictionary>();
  EXPECT_EQ(ToText(ArrayItem(third->Keys(), 0)), u"zeta");
  EXPECT_TRUE(third->Find(u"alpha")->string_view() == u"néxx");
  EXPECT_EQ(third->Find(u"when")->date(), 45002.25);

  // One object held twice comes back as two objects.
  Ref<CArray> twice = CArray::Create();
  Ref<CArray> shared = CArray::Create();
  twice->Add(Value(shared));
  twice->Add(Value(shared));
  Value two = mMsgPack::DecodeBytes(mMsgPack::EncodeBytes(Value(twice)));
  CArray* t = two.object_as<CArray>();
  EXPECT_NE(t->Item(0).object(), t->Item(1).object());
}

}  // namespace
}  // namespace quorvel
