#include "quorvel/msgpack.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "test_util.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::FromHex;

std::string Hex(const Bytes& b) {
  return testing::ToHex(b, 0, std::string::npos, true);
}
std::string EncodeHex(const Value& v) { return Hex(mMsgPack::EncodeBytes(v)); }
Value DecodeHex(std::string_view hex) {
  return mMsgPack::DecodeBytes(FromHex(hex));
}
Value Dec(std::u16string_view text) {
  return Value::Decimal(*Decimal::Parse(text));
}
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
// A list of `depth` lists, each the only member of the one before.
Value Nest(int depth) {
  Value v = List({});
  for (int i = 1; i < depth; ++i) v = List({v});
  return v;
}

// The bytes of a String of ASCII text, written out by hand.
void AppendText(Bytes& out, const std::string& text) {
  const size_t n = text.size();
  if (n <= 255) {
    out.insert(out.end(), {0xD9, static_cast<uint8_t>(n)});
  } else {
    out.insert(out.end(),
               {0xDA, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
  }
  out.insert(out.end(), text.begin(), text.end());
}

TEST(MsgPackFormatTest, EachKindHasItsExactBytesBothWays) {
  Ref<KxDocRec> rec = KxDocRec::Create();
  rec->LetDocID(u"DOC000001");  // not a field: not written
  rec->Add(u"b", Value(true));
  rec->Add(u"l", List({Value::Null()}));
  Ref<Dictionary> removed = Dictionary::Create();
  for (const char16_t* k : {u"a", u"b", u"c"}) removed->Add(k, Value(k));
  removed->Remove(u"b");
  const Value a1 = Map({{u"a", Value(1)}});
  struct Case {
    Value value;
    const char* hex;
    int vartype;  // of what the bytes decode to
  };
  const Case cases[] = {
      {Value::Null(), "C0", 1},
      {Value(true), "C3", 11},
      {Value(false), "C2", 11},
      {Value(int16_t{-2}), "D2 FE FF FF FF", 3},
      {Value(0x12345678), "D2 78 56 34 12", 3},
      {Value(1.0), "CB 00 00 00 00 00 00 F0 3F", 5},
      {Value(1.5f), "CB 00 00 00 00 00 00 F8 3F", 5},
      {Value::Currency(10000), "C7 02 10 27 00 00 00 00 00 00", 6},
      {Value::Date(1.5), "C7 01 00 00 00 00 00 00 F8 3F", 7},
      // A Decimal goes as Currency: up to four places and 2^49 units by
      // scaling, beyond by the general conversion, rounded half to even.
      {Dec(u"1.23455"), "C7 02 3A 30 00 00 00 00 00 00", 6},
      {Dec(u"1.5"), "C7 02 98 3A 00 00 00 00 00 00", 6},
      {Dec(u"-0.0001"), "C7 02 FF FF FF FF FF FF FF FF", 6},
      {Dec(u"-0"), "C7 02 00 00 00 00 00 00 00 00", 6},
      {Dec(u"562949953421311"), "C7 02 F0 D8 FF FF FF FF 1F 4E", 6},
      {Dec(u"-562949953421311"), "C7 02 10 27 00 00 00 00 E0 B1", 6},
      {Dec(u"562949953421312"), "C7 02 00 00 00 00 00 00 20 4E", 6},
      {Dec(u"922337203685477.5807"), "C7 02 FF FF FF FF FF FF FF 7F", 6},
      {Dec(u"12345.67890"), "C7 02 15 CD 5B 07 00 00 00 00", 6},
      // Windows-1252 text: the euro sign is 80, e-acute E9, and what the
      // code page lacks is '?'; such units first or last, on either side of
      // four and eight units.
      {Value(u""), "D9 00", 8},
      {Value(u"\u20AC\u00E9\u65E5"), "D9 03 80 E9 3F", 8},
      {Value(u"abcdefg\u20AC"), "D9 08 61 62 63 64 65 66 67 80", 8},
      {Value(u"abcdefgh\u00E9"), "D9 09 61 62 63 64 65 66 67 68 E9", 8},
      {Value(u"abcdefg\u65E5"), "D9 08 61 62 63 64 65 66 67 3F", 8},
      {Value(u"abc\u00FF"), "D9 04 61 62 63 FF", 8},
      {Value(u"\u0081bcdef"), "D9 06 81 62 63 64 65 66", 8},
      {Value(u"\u0080bcdefghi"), "D9 09 3F 62 63 64 65 66 67 68 69", 8},
      {Value(u"abcdefghijkl\u01E9"),
       "D9 0D 61 62 63 64 65 66 67 68 69 6A 6B 6C 3F", 8},
      {List({}), "DC 00 00", 9},
      {Value(removed), "DE 00 02 D9 01 61 D9 01 61 D9 01 63 D9 01 63", 9},
      {Value(KxDocRec::Create()), "C7 33 00 00", 9},
      {Value(rec), "C7 33 00 02 D9 01 62 C3 D9 01 6C DC 00 01 C0", 9},
      // Members keep their order; a shared member is written each time.
      {List({a1, a1}),
       "DC 00 02 DE 00 01 D9 01 61 D2 01 00 00 00 DE 00 01 D9 01 61 D2 01 00 "
       "00 00",
       9},
  };
  // Read only: each decodes to what `value` is written as.
  const Case reads[] = {
      {Value(true), "C3 FF FF", 11},  // trailing bytes are not read
      {Value(INT32_MIN), "D2 00 00 00 80", 3},
      {Value(-1.0), "CB 00 00 00 00 00 00 F0 BF", 5},
      {Value(u"a\u20AC\u00FF"), "DA 00 03 61 80 FF", 8},
      // Bytes the code page leaves unassigned: the same code points.
      {Value(u"\u0081\u009D"), "D9 02 81 9D", 8},
      // Keys of other kinds become their text; keys keep their order.
      {Map({{u"True", Value::Null()}, {u"1.5", Value::Null()}}),
       "DE 00 02 C3 C0 CB 00 00 00 00 00 00 F8 3F C0", 9},
      {Map({{u"1", Value::Null()}}), "DE 00 01 D2 01 00 00 00 C0", 9},
  };
  const auto check = [](const Case& c, bool written) {
    SCOPED_TRACE(c.hex);
    if (written) {
      EXPECT_EQ(EncodeHex(c.value), c.hex);
    }
    const Value back = DecodeHex(c.hex);
    EXPECT_EQ(VarType(back), c.vartype);
    EXPECT_EQ(EncodeHex(back), EncodeHex(c.value));
  };
  for (const auto& c : cases) check(c, true);
  for (const auto& c : reads) check(c, false);
  const Value record = DecodeHex("C7 33 00 00");
  EXPECT_TRUE(record.object_as<KxDocRec>()->DocID().empty());
  EXPECT_TRUE(record.object_as<KxDocRec>()->DB().IsNothing());
  // What is read is new: one object held twice comes back as two.
  const Value two = DecodeHex(EncodeHex(List({a1, a1})));
  const CArray& t = *two.object_as<CArray>();
  EXPECT_NE(t.Item(0).object(), t.Item(1).object());
  EXPECT_NE(t.Item(0).object(), a1.object());
}

TEST(MsgPackEncodeTest, LargeEncodingsAreExactWhateverTheirSize) {
  // Megabytes of Strings of every length, 255, 256 and the longest among
  // them, so that no piece is lost, doubled or cut where the encoder's
  // buffers meet; the count is big-endian.
  Ref<CArray> list = CArray::Create();
  const int kCount = 20000;
  Bytes want = {0xDC, kCount >> 8, kCount & 0xFF};
  for (int i = 0; i < kCount; ++i) {
    const size_t length = i == 7000 || i == 7001   ? 65535
                          : i == 9000 || i == 9001 ? 255 + i % 2
                                                   : (i * 37) % 700;
    std::string text(length, static_cast<char>('a' + i % 26));
    if (!text.empty()) text[0] = static_cast<char>('0' + i % 10);
    list->Add(Value(FromUtf8(text)));
    AppendText(want, text);
  }
  const Bytes got = mMsgPack::EncodeBytes(Value(list));
  ASSERT_EQ(got.size(), want.size());
  EXPECT_TRUE(got == want);
  EXPECT_TRUE(mMsgPack::EncodeBytes(mMsgPack::DecodeBytes(got)) == want);
  const std::u16string longest(65535, u'\u00FC');
  const Bytes b = mMsgPack::EncodeBytes(Value(longest));
  EXPECT_EQ(Hex(Bytes(b.begin(), b.begin() + 4)), "DA FF FF FC");
  EXPECT_TRUE(mMsgPack::DecodeBytes(b).string_view() == longest);
  // Appending keeps what was there; a failure at the very end, after all
  // those bytes were produced, leaves the output exactly as it was.
  Bytes out = {0x01, 0x02};
  mMsgPack::EncodeTo(Value(list), out);
  EXPECT_TRUE(Bytes(out.begin() + 2, out.end()) == want);
  list->Add(Value());
  ExpectRaises(mMsgPack::EncodeTo(Value(list), out), 5, u"KxQuorvel",
               u"Unsupported type");
  EXPECT_EQ(out.size(), 2 + want.size());
}

TEST(MsgPackEncodeTest, ContainersChangedByAForeignMemberStaySound) {
  // A member that calls itself a CArray is read through its members; this
  // one drops "list" and grows the map while it is read. Exactly the
  // promised two entries are written, the list as it was read first.
  Ref<Dictionary> root = testing::RootWithAChangingList();
  const std::string hex = EncodeHex(Value(root));
  EXPECT_EQ(hex.substr(0, 74),
            "DE 00 02 D9 04 6C 69 73 74 DC 00 02 DC 00 01 D2 07 00 00 00 D2 01 "
            "00 00 00");
  EXPECT_EQ(DecodeHex(hex).object_as<Dictionary>()->Count(), 2);
  EXPECT_EQ(root->Count(), 201);
}

TEST(MsgPackEncodeTest, WhatTheFormCannotHoldIsRefused) {
  Ref<CArray> self = CArray::Create();
  self->Add(Value(self));
  Ref<Dictionary> a = Dictionary::Create();
  Ref<KxDocRec> b = KxDocRec::Create();
  a->Add(u"b", Value(b));
  b->Add(u"a", Value(a));
  const Value most = List(std::vector<Value>(65535, Value::Null()));
  EXPECT_EQ(mMsgPack::EncodeBytes(most).size(), 3u + 65535u);
  EXPECT_EQ(mMsgPack::EncodeBytes(Nest(mMsgPack::kMaxDepth)).size(),
            3u * mMsgPack::kMaxDepth);
  const std::u16string kind = u"Unsupported type";
  const std::u16string kOverflow(StandardDescription(6));
  const std::u16string kDeep(StandardDescription(28));
  const struct {
    Value value;
    int32_t number;
    std::u16string description;
  } cases[] = {
      {Value(), 5, kind},
      {Value::Missing(), 5, kind},
      {Value::Byte(1), 5, kind},
      {MakeArray({Value(1)}), 5, kind},
      {MakeByteArray(Bytes{1, 2}), 5, kind},
      {Value(CDict::Create()), 5, u"Unsupported type : CDict"},
      {Value::Nothing(), 5, u"Unsupported type : Nothing"},
      {CreateObject(u"Collection"), 5, u"Unsupported type : Collection"},
      // Nested too, after members that were fine: the whole encode fails.
      {Map({{u"ok", Value(1)}, {u"x", Value()}}), 5, kind},
      {List({Map({}), Value::Nothing(), Map({})}), 5,
       u"Unsupported type : Nothing"},
      {Dec(u"922337203685477.5808"), 6, kOverflow},
      {Value(std::u16string(65536, u'x')), 6,
       u"Overflow: a string holds at most 65,535 items in this encoding "
       u"(this one 65536)"},
      {List(std::vector<Value>(65536, Value::Null())), 6,
       u"Overflow: a container holds at most 65,535 items in this encoding "
       u"(this one 65536)"},
      // Cycles and depth stop with Out of stack space.
      {Value(self), 28, kDeep},
      {Value(a), 28, kDeep},
      {Nest(mMsgPack::kMaxDepth + 1), 28, kDeep},
  };
  for (const auto& c : cases) {
    Bytes out = {0xAA};
    ExpectRaises(mMsgPack::EncodeTo(c.value, out), c.number, u"KxQuorvel",
                 c.description);
    EXPECT_EQ(out, Bytes{0xAA});  // appending leaves the output as it was
  }
  self->Clear();  // break the cycles so the containers are released
  b->Clear();
}

TEST(MsgPackDecodeTest, BadInputRaises) {
  const struct {
    const char* hex;
    int32_t number;
    const char16_t* description;  // null: the number's standard one
  } cases[] = {
      {"93 01 02 03", 5, u"Unsupported MsgPack type: 93"},
      {"05", 5, u"Unsupported MsgPack type: 5"},
      {"C7 05", 5, u"Unsupported ext sub-type: 5"},
      {"C7 10", 5, u"Unsupported ext sub-type: 16"},
      {"C7 FF", 5, u"Unsupported ext sub-type: 255"},
      {"00", 5, u"Unsupported MsgPack type: 0"},
      // A bad member fails the whole decode.
      {"DC 00 02 C0 A0", 5, u"Unsupported MsgPack type: A0"},
      // A repeated key fails only once its value has been read: a broken
      // value reports its own error first.
      {"DE 00 02 D9 01 61 C0 D9 01 61 C1", 5, u"Unsupported MsgPack type: C1"},
      {"DE 00 02 D9 01 61 C0 D9 01 61 D2 01", 9, nullptr},
      {"DE 00 02 D9 01 61 C0 D9 01 61 C3", 457, nullptr},
      {"C7 33 00 02 D9 01 61 C0 D9 01 61 C3", 457, nullptr},
      {"C7 33 00 02 D9 01 61 C0 D9 01 61 DC 00 01 C3", 457, nullptr},
      // A key of another kind, converted, repeats a text key.
      {"DE 00 02 D9 01 31 C0 D2 01 00 00 00 C0", 457, nullptr},
      // Keys must convert to text.
      {"DE 00 01 C0 C0", 94, nullptr},
      {"DE 00 01 DC 00 00 C0", 450, nullptr},
      // Day numbers outside the date range (year 10000, NaN).
      {"C7 01 00 00 00 00 41 92 46 41", 6, nullptr},
      {"C7 01 00 00 00 00 00 00 F8 7F", 6, nullptr},
  };
  for (const auto& c : cases) {
    ExpectRaises(DecodeHex(c.hex), c.number, u"KxQuorvel",
                 c.description ? std::u16string_view(c.description)
                               : StandardDescription(c.number));
  }
  // The compact and wide forms of the published format are not read.
  for (const char* hex :
       {"7F", "E0", "A1 61", "90", "80", "C1", "C4 00", "C8 00 00 01",
        "CA 00 00 00 00", "CC 01", "D0 01", "D3 00 00 00 00 00 00 00 00",
        "D4 01 00", "DB 00 00 00 00", "DD 00 00 00 00", "DF 00 00 00 00"}) {
    ExpectRaises(DecodeHex(hex), 5, u"KxQuorvel",
                 u"Unsupported MsgPack type: " + FromUtf8({hex, 2}));
  }
  // Reads past the end, whether they start there or run over it.
  for (const char* hex :
       {"", "DC 00 02 C0", "D2 01 00 00", "CB 00", "D9", "D9 05 61 62", "DA 01",
        "DA 00 02 61", "DC 00", "DE 00 01 D9 01 61", "C7", "C7 01 00 00",
        "C7 02", "C7 33 00", "C7 33 00 01 D9 01 61", "DC FF FF C0"}) {
    ExpectRaisesStandard(DecodeHex(hex), 9);
  }
  // Nesting is bounded, however deep the input goes.
  const auto nested = [](int depth) {
    Bytes b;
    for (int i = 1; i < depth; ++i) b.insert(b.end(), {0xDC, 0x00, 0x01});
    b.insert(b.end(), {0xDE, 0x00, 0x00});
    return b;
  };
  const Bytes deepest = nested(mMsgPack::kMaxDepth);
  EXPECT_EQ(mMsgPack::EncodeBytes(mMsgPack::DecodeBytes(deepest)), deepest);
  ExpectRaisesStandard(mMsgPack::DecodeBytes(nested(mMsgPack::kMaxDepth + 1)),
                       28);
  ExpectRaisesStandard(mMsgPack::DecodeBytes(nested(1000000)), 28);
}

TEST(MsgPackDecodeTest, RepeatedTextsAndKeysComeBackExactly) {
  // Texts of every length up to 40 units, some repeated many times, some
  // once, with code-page characters among them, as members and as keys;
  // then maps of one shape and near misses of it (a key one byte off in its
  // last word, a prefix, a longer key, keys in another order), where each
  // place of a map expects the key it held in the map before.
  const auto text_of = [](int i) {
    std::u16string s;
    for (int k = 0; k < i % 41; ++k) {
      const int pick = (i * 7 + k * 13) % 29;
      s += pick == 0   ? u'\u20AC'
           : pick == 1 ? u'\u00E9'
           : pick == 2 ? u'\u0081'
                       : static_cast<char16_t>(u'a' + pick % 26);
    }
    return s;
  };
  Ref<CArray> all = CArray::Create();
  for (int i = 0; i < 6000; ++i) all->Add(Value(text_of(i % 7 ? i % 90 : i)));
  Ref<Dictionary> keyed = Dictionary::Create();
  for (int k = 0; k < 90; ++k)
    keyed->Add(ToText(Value(k)).str() + u"_" + text_of(k + 41),
               Value(text_of(k)));
  all->Add(Value(keyed));
  const std::u16string names[] = {
      u"identifier", u"identifies", u"identifier_long_enough_for_4w",
      u"id",         u"name",       u"city"};
  for (int j = 0; j < 300; ++j) {
    int keys[] = {0, 4, 5};
    if (j % 7 == 3) keys[0] = 1;
    if (j % 17 == 8) keys[0] = 3;
    if (j % 11 == 5) keys[1] = 2;
    if (j % 13 == 6) std::swap(keys[0], keys[2]);
    Ref<Dictionary> d = Dictionary::Create();
    for (int key : keys) d->Add(names[key], Value(j));
    all->Add(Value(d));
  }
  Bytes once = mMsgPack::EncodeBytes(Value(all));
  EXPECT_TRUE(mMsgPack::EncodeBytes(mMsgPack::DecodeBytes(once)) == once);
  // The same key twice in a map whose places expect other keys.
  once[2] += 1;
  once.insert(once.end(), {0xDE, 0x00, 0x02});
  for (const char* text : {"identifier", "x", "identifier", "x"})
    AppendText(once, text);
  ExpectRaisesStandard(mMsgPack::DecodeBytes(once), 457);
  // A key repeated after a thousand other texts were read in between.
  std::vector<Value> texts;
  for (int i = 0; i < 1000; ++i) texts.push_back(ToText(Value(i)));
  Bytes apart = FromHex("DE 00 02 D9 01 6B");
  const Bytes between = mMsgPack::EncodeBytes(List(std::move(texts)));
  apart.insert(apart.end(), between.begin(), between.end());
  AppendText(apart, "k");
  apart.push_back(0xC0);
  ExpectRaisesStandard(mMsgPack::DecodeBytes(apart), 457);
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
  for (size_t past : {b.size(), b.size() + 5}) {
    at = past;
    ExpectRaisesStandard(mMsgPack::DecodeAt(b, at), 9);
  }
  // The Value form counts from index 0 too.
  int32_t pos = 3;
  EXPECT_EQ(TypeName(mMsgPack::DecodeAt(MakeByteArray(b), pos)), u"CArray");
  EXPECT_EQ(pos, 7);
  pos = -1;
  ExpectRaisesStandard(mMsgPack::DecodeAt(MakeByteArray(b), pos), 9);
}

}  // namespace
}  // namespace quorvel
