// The MessagePack dialect, and the check of what stored forms hold exactly.
#include "quorvel/msgpack.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "quorvel/msgpack_stream.h"
#include "quorvel/storable.h"
#include "test_util.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::FromHex;
using T = StorableTarget;

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
      // A Decimal goes as Currency, rounded half to even, past 2^49 too.
      {Dec(u"1.23455"), "C7 02 3A 30 00 00 00 00 00 00", 6},
      {Dec(u"-0.0001"), "C7 02 FF FF FF FF FF FF FF FF", 6},
      {Dec(u"-0"), "C7 02 00 00 00 00 00 00 00 00", 6},
      {Dec(u"562949953421311"), "C7 02 F0 D8 FF FF FF FF 1F 4E", 6},
      {Dec(u"562949953421312"), "C7 02 00 00 00 00 00 00 20 4E", 6},
      {Dec(u"922337203685477.5807"), "C7 02 FF FF FF FF FF FF FF 7F", 6},
      {Dec(u"12345.67890"), "C7 02 15 CD 5B 07 00 00 00 00", 6},
      // Windows-1252 text around the four- and eight-unit steps; else '?'.
      {Value(u""), "D9 00", 8},
      {Value(u"\u20AC\u00E9\u65E5"), "D9 03 80 E9 3F", 8},
      {Value(u"abcdefg\u20AC"), "D9 08 61 62 63 64 65 66 67 80", 8},
      {Value(u"abcdefgh\u00E9"), "D9 09 61 62 63 64 65 66 67 68 E9", 8},
      {Value(u"abcdefg\u65E5"), "D9 08 61 62 63 64 65 66 67 3F", 8},
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
  EXPECT_TRUE(DecodeHex("C7 33 00 00").object_as<KxDocRec>()->DocID().empty());
  // What is read is new: one object held twice comes back as two.
  const Value two = DecodeHex(EncodeHex(List({a1, a1})));
  const CArray& t = *two.object_as<CArray>();
  EXPECT_NE(t.Item(0).object(), t.Item(1).object());
  EXPECT_NE(t.Item(0).object(), a1.object());
}

TEST(MsgPackEncodeTest, LargeEncodingsAreExactWhateverTheirSize) {
  // Megabytes of Strings of every length across the encoder's buffers.
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
  // Appending keeps what was there, and so does a failure at the end.
  Bytes out = {0x01, 0x02};
  mMsgPack::EncodeTo(Value(list), out);
  EXPECT_TRUE(Bytes(out.begin() + 2, out.end()) == want);
  list->Add(Value());
  ExpectRaises(mMsgPack::EncodeTo(Value(list), out), 5, u"KxQuorvel",
               u"Unsupported type");
  EXPECT_EQ(out.size(), 2 + want.size());
}

TEST(MsgPackEncodeTest, ContainersChangedByAForeignMemberStaySound) {
  // The list drops "list" from the map and grows it while it is read.
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
  const std::u16string kind = u"Unsupported type";
  const std::u16string kDeep(StandardDescription(28));
  const struct {
    Value value;
    int32_t number;
    std::u16string description;
  } cases[] = {
      {Value(), 5, kind},
      {Value(CDict::Create()), 5, u"Unsupported type : CDict"},
      {Value::Nothing(), 5, u"Unsupported type : Nothing"},
      // Nested too, after members that were fine: the whole encode fails.
      {Map({{u"ok", Value(1)}, {u"x", Value()}}), 5, kind},
      {Dec(u"922337203685477.5808"), 6, std::u16string(StandardDescription(6))},
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
      {"C7 10", 5, u"Unsupported ext sub-type: 16"},
      // A bad member fails the whole decode.
      {"DC 00 02 C0 A0", 5, u"Unsupported MsgPack type: A0"},
      // A repeated key fails once its value is read, sound or not.
      {"DE 00 02 D9 01 61 C0 D9 01 61 C1", 5, u"Unsupported MsgPack type: C1"},
      {"DE 00 02 D9 01 61 C0 D9 01 61 D2 01", 9, nullptr},
      {"DE 00 02 D9 01 61 C0 D9 01 61 C3", 457, nullptr},
      // A key of another kind, converted, repeats a text key.
      {"DE 00 02 D9 01 31 C0 D2 01 00 00 00 C0", 457, nullptr},
      // Keys must convert to text.
      {"DE 00 01 C0 C0", 94, nullptr},
      {"DE 00 01 DC 00 00 C0", 450, nullptr},
      // A day number outside the date range (NaN).
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
}

TEST(MsgPackDecodeTest, RepeatedTextsAndKeysComeBackExactly) {
  // Where each place expects its last key: keys one byte off, prefixes.
  const std::u16string names[] = {
      u"identifier", u"identifies", u"identifier_long_enough_for_4w",
      u"id",         u"name\u20AC", u"city\u00E9\u0081"};
  Ref<CArray> all = CArray::Create();
  for (int j = 0; j < 300; ++j) {
    int keys[] = {0, 4, 5};
    if (j % 7 == 3) keys[0] = 1;
    if (j % 17 == 8) keys[0] = 3;
    if (j % 11 == 5) keys[1] = 2;
    if (j % 13 == 6) std::swap(keys[0], keys[2]);
    Ref<Dictionary> d = Dictionary::Create();
    for (int key : keys) d->Add(names[key], Value(names[(j + key) % 6]));
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

using E = mMsgPack::StreamEncoder;

TEST(MsgPackStreamTest, CountsDepthAndKindsAreChecked) {
  // Each raises its number and leaves the output as it was.
  const Value one(1);
  const std::u16string most(65536, u'x');
  const struct {
    std::function<void(E&)> events;
    int32_t error;
  } cases[] = {
      {[&](E& e) { e.BeginList(2), e.Scalar(one), e.End(); }, 9},
      {[&](E& e) { e.BeginList(0), e.Commit(); }, 9},
      {[&](E& e) { e.Scalar(one), e.Scalar(one); }, 9},
      {[&](E& e) { e.BeginList(65536); }, 6},
      {[&](E& e) { e.BeginMap(-1); }, 6},
      {[&](E& e) { e.Text(most); }, 6},
      {[&](E& e) { e.Scalar(Value()); }, 5},
      {[&](E& e) {
         for (int d = 0; d <= mMsgPack::kMaxDepth; ++d) e.BeginList(1);
       },
       28},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    Bytes out{0xAA};
    try {
      E e(out);
      cases[i].events(e);
      ADD_FAILURE() << "case " << i << " raised nothing";
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), cases[i].error) << "case " << i;
    }
    EXPECT_EQ(out, Bytes{0xAA}) << "case " << i;
  }
  // The deepest the dialect holds, texts on each side of a one-byte length.
  const std::u16string wide(256, u'\u00E9');
  Value deepest = List({Value(std::u16string(255, u'a')), Value(wide)});
  for (int d = 1; d < mMsgPack::kMaxDepth; ++d) deepest = List({deepest});
  Bytes out;
  E e(out);
  for (int d = 1; d < mMsgPack::kMaxDepth; ++d) e.BeginList(1);
  e.BeginList(2);
  e.AsciiText(std::string(255, 'a'));
  e.Text(wide);
  for (int d = 0; d < mMsgPack::kMaxDepth; ++d) e.End();
  e.Commit();
  EXPECT_EQ(out, mMsgPack::EncodeBytes(deepest));
}

Value Text(size_t n) { return Value(std::u16string(n, u'a')); }
Value Fields(int32_t n) {
  Ref<Dictionary> map = Dictionary::Create();
  for (int32_t i = 0; i < n; ++i) map->Add(ToText(Value(i)), Value::Null());
  return Value(map);
}

std::u16string Describe(const Value& v, T target) {
  const std::optional<StorableFault> fault = CheckStorable(v, target);
  return fault ? fault->description : u"exact";
}

TEST(StorableTest, EveryKindAtItsBoundariesAgainstEveryTarget) {
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
      {Text(65535), T::kMsgPack, u"exact"},
      {Text(65536), T::kMsgPack,
       u"the value is 65536 characters long, more than the 65535 a "
       u"MessagePack string holds"},
      {Text(65536), T::kKvValue, u"exact"},
      {Text(32768), T::kKvKey,
       u"the key is 32768 characters long, more than the 32767 a KxKVDB key "
       u"holds"},
      {Value(u"a\U0001F600\u6771"), T::kKvValue,
       u"character U+1F600 (\U0001F600) at position 2 of the value" + kNoByte},
      {Value(std::u16string(u"\u00E9\0\u6771", 3)), T::kRc4Text,
       u"character U+0000 at position 2 of the text would not come back from "
       u"RC4"},
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
      // Paths: identifiers joined by dots, any other key as a JSON string.
      {Value(), T::kMsgPack, u"the value is Empty" + kKind},
      {List({Value(1), Value::Byte(1)}), T::kMsgPack,
       u"the value at [1] is Byte" + kKind},
      {Map({{u"m", Value::Missing()}}), T::kMsgPack,
       u"the value at m is Error" + kKind},
      {Map({{u"_x1", List({Value(1), Map({{u"y", Value()}})})}}), T::kMsgPack,
       u"the value at _x1[1].y is Empty" + kKind},
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
      {List(std::vector<Value>(65535, Value::Null())), T::kMsgPack, u"exact"},
      {Map({{u"big", Fields(65536)}}), T::kMsgPack,
       u"the value at big has 65536 members, more than the 65535 a "
       u"MessagePack container holds"},
      {Nest(mMsgPack::kMaxDepth), T::kMsgPack, u"exact"},
      {Nest(mMsgPack::kMaxDepth + 1), T::kMsgPack,
       u"the value at " + deep_path +
           u" lies deeper than the 1000 nested containers a MessagePack "
           u"encoding holds"},
      {Value(rec), T::kDocument,
       u"the Date with day number 1000000000 at when lies outside the range "
       u"of Dates"},
      {Fields(65535), T::kDocument, u"exact"},
      {List({}), T::kDocument,
       u"the document is CArray, not a KxDocRec or Dictionary"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(testing::U8(Describe(c.value, c.target)),
              testing::U8(c.description));
}

TEST(StorableTest, FaultTellsPlaceKeyAndCycle) {
  std::optional<StorableFault> f =
      CheckStorable(Map({{u"k", Map({{u"x\u6771", Value(1)}})}}), T::kMsgPack);
  ASSERT_TRUE(f);
  EXPECT_TRUE(f->in_key);
  EXPECT_EQ(testing::U8(f->path), "k[\"x\u6771\"]");
  EXPECT_EQ(
      CheckStorableText(u"abc", T::kDocument, u"the body").value().description,
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
  EXPECT_EQ(CheckStorable(outer, T::kDocument).value().reason,
            StorableReason::kDepth);
  ExpectRaises(RequireStorable(outer, T::kMsgPack, u"Src"), 5, u"Src",
               u"the value at x holds itself");
  list->Clear();
  inner->Clear();
}

TEST(StorableTest, ExactEncodesRefuseWhereDefaultsLose) {
  const Value price = Map({{u"price", Dec(u"0.123456")}});
  const std::u16string rounded =
      u"the number 0.123456 at price would be rounded to 4 decimal places";
  const std::u16string no_byte =
      u"character U+6771 (\u6771) at position 2 of the text has no "
      u"Windows-1252 byte";
  EXPECT_EQ(mMsgPack::EncodeBytes(price).size(), 20u);
  Bytes out = {1, 2};
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
  // A scope makes every form exact on its own thread while any scope lives.
  const Value pi = Value(Ref<CQuorvelPI>(&CQuorvelPI::Global()));
  {
    ExactScope outer;
    { ExactScope inner; }
    ASSERT_TRUE(ExactScope::Active());
    ExpectRaises(mMsgPack::EncodeBytes(price), 5, u"KxQuorvel", rounded);
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
