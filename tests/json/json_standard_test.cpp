#include "quorvel/json_standard.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "quorvel/collection.h"
#include "quorvel/kxdocrec.h"
#include "test_util.h"

namespace quorvel {
namespace {

using JSON::StandardStyle;
using JSON::WriteStandard;

std::string Ascii(const Value& v) { return WriteStandard(v, {0, true}); }

Value Dict(std::initializer_list<std::pair<const char16_t*, Value>> members) {
  Ref<Dictionary> d = Dictionary::Create();
  for (const auto& [key, value] : members) d->Add(String(key), value);
  return Value(Ref<Object>(d));
}

Value List(std::initializer_list<Value> items) {
  Ref<CArray> a = CArray::Create();
  for (const Value& v : items) a->Add(v);
  return Value(Ref<Object>(a));
}

TEST(JSONStandardTest, ScalarsInTheirStandardForms) {
  const double ms = 1.0 / 86400000;
  const struct {
    Value value;
    const char* text;
  } cases[] = {
      {Value(), "null"},
      {Value::Null(), "null"},
      {Value::Nothing(), "null"},
      {Value(true), "true"},
      {Value(false), "false"},
      {Value(int16_t{-32768}), "-32768"},
      {Value(std::numeric_limits<int32_t>::min()), "-2147483648"},
      {Value::Byte(255), "255"},
      {Value::Currency(12345), "1.2345"},
      {Value::Currency(-10000), "-1"},
      {Value::Currency(std::numeric_limits<int64_t>::min()),
       "-922337203685477.5808"},
      {Value::Currency(0), "0"},
      {Value::Decimal(*Decimal::Parse(u"1.50")), "1.5"},
      {Value::Decimal(Decimal(0, 0, 0, true)), "-0"},
      {Value::Decimal(Decimal(0, 0, 5, false)), "0"},
      {Value::Decimal(Decimal(0, 1200, 2, true)), "-12"},
      {Value::Decimal(Decimal(0, 5, 28, false)),
       "0.0000000000000000000000000005"},
      {Value::Decimal(Decimal(0xFFFFFFFF, ~uint64_t{0}, 0, false)),
       "79228162514264337593543950335"},
      {Value::Decimal(Decimal(0xFFFFFFFF, ~uint64_t{0}, 1, true)),
       "-7922816251426433759354395033.5"},
      {Value::Decimal(Decimal(1, 0, 20, false)), "0.18446744073709551616"},
      {Value(0.1), "0.1"},
      {Value(-0.0), "-0"},
      {Value(1e300), "1e+300"},
      {Value(5e-324), "5e-324"},
      {Value(-123456789.125), "-123456789.125"},
      {Value(0.1f), "0.1"},
      {Value(std::numeric_limits<float>::max()), "3.4028235e+38"},
      {Value::Date(45000), "\"2023-03-15\""},
      {Value::Date(45000.5), "\"2023-03-15T12:00:00\""},
      {Value::Date(45000.5 + 123 * ms), "\"2023-03-15T12:00:00.123\""},
      {Value::Date(45000 + 7 * ms), "\"2023-03-15T00:00:00.007\""},
      {Value::Date(-1.25), "\"1899-12-29T06:00:00\""},
      {Value::Date(0), "\"1899-12-30\""},
      {Value::Date(45000.9999999999), "\"2023-03-16\""},
      {Value::Date(2958465.99999999), "\"9999-12-31T23:59:59.999\""},
      {Value::Date(2958465.999999996), "\"9999-12-31T23:59:59.999\""},
      {Value(u"plain"), "\"plain\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WriteStandard(c.value), c.text) << c.text;
    EXPECT_EQ(WriteStandard(c.value, {4, false}), c.text) << c.text;
  }
}

TEST(JSONStandardTest, StringsEscapedInBothForms) {
  const struct {
    std::u16string text;
    const char* utf8;
    const char* ascii;
  } cases[] = {
      {u"\"\\/\b\f\n\r\t", R"("\"\\/\b\f\n\r\t")", R"("\"\\/\b\f\n\r\t")"},
      {std::u16string(u"\0\x01\x1F\x7F ~", 6),
       "\"\\u0000\\u0001\\u001f\\u007f ~\"", R"("\u0000\u0001\u001f\u007f ~")"},
      {u"\u00E9\u07FF\u0800\u20AC\uFFFF\U0001F600\U0010FFFF",
       "\"\xC3\xA9\xDF\xBF\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF\xF0\x9F\x98\x80"
       "\xF4\x8F\xBF\xBF\"",
       R"("\u00e9\u07ff\u0800\u20ac\uffff\ud83d\ude00\udbff\udfff")"},
      {std::u16string{0xD800}, R"("\ud800")", R"("\ud800")"},
      {std::u16string{u'a', 0xDC00, 0xD800, u'b'}, R"("a\udc00\ud800b")",
       R"("a\udc00\ud800b")"},
      {std::u16string{0xD83D, u'x', 0xDE00}, R"("\ud83dx\ude00")",
       R"("\ud83dx\ude00")"},
      // Past the eight-unit steps: a special in every lane.
      {u"abcdefg\"hijklmn\\opqrstu\nvwxyz01\u00E9",
       "\"abcdefg\\\"hijklmn\\\\opqrstu\\nvwxyz01\xC3\xA9\"",
       R"("abcdefg\"hijklmn\\opqrstu\nvwxyz01\u00e9")"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WriteStandard(Value(c.text)), c.utf8) << c.ascii;
    EXPECT_EQ(Ascii(Value(c.text)), c.ascii);
  }
  // Pieces: a pair split between two is one character, a lone half is
  // escaped.
  JSON::StandardWriter writer;
  writer.BeginArray();
  writer.TextPiece(u"a\xD83D", false);
  writer.TextPiece(
      u"\xDE00"
      u"b",
      true);
  writer.TextPiece(u"\xD800", false);
  writer.TextPiece(u"x", false);
  writer.TextPiece(u"", true);
  writer.EndArray();
  EXPECT_EQ(writer.Take(),
            "[\"a\xF0\x9F\x98\x80"
            "b\",\"\\ud800x\"]");
  // A long string whose pair straddles the writer's steps of 4096 units.
  for (size_t before : {4094u, 4095u, 4096u, 8191u}) {
    const std::u16string text = std::u16string(before, u'a') + u"\U0001F600b";
    EXPECT_EQ(WriteStandard(Value(text)), "\"" + std::string(before, 'a') +
                                              "\xF0\x9F\x98\x80"
                                              "b\"")
        << before;
  }
}

TEST(JSONStandardTest, ContainersCompactAndIndented) {
  Ref<Collection> bag = Collection::Create();
  bag->Append(Value(1));
  bag->Append(Value(u"two"));
  Ref<KxDocRec> rec = KxDocRec::Create();
  rec->LetItem(String(u"n"), Value(2.5));
  const Value tree = Dict({
      {u"list", List({Value(1), List({}), Dict({})})},
      {u"bag", Value(Ref<Object>(bag))},
      {u"rec", Value(Ref<Object>(rec))},
      {u"array", MakeArray({Value(true), Value::Null()})},
      {u"k\"\u00E9", Value(u"v")},
  });
  EXPECT_EQ(WriteStandard(tree),
            "{\"list\":[1,[],{}],\"bag\":[1,\"two\"],\"rec\":{\"n\":2.5},"
            "\"array\":[true,null],\"k\\\"\xC3\xA9\":\"v\"}");
  EXPECT_EQ(WriteStandard(tree, {2, true}),
            "{\n"
            "  \"list\": [\n"
            "    1,\n"
            "    [],\n"
            "    {}\n"
            "  ],\n"
            "  \"bag\": [\n"
            "    1,\n"
            "    \"two\"\n"
            "  ],\n"
            "  \"rec\": {\n"
            "    \"n\": 2.5\n"
            "  },\n"
            "  \"array\": [\n"
            "    true,\n"
            "    null\n"
            "  ],\n"
            "  \"k\\\"\\u00e9\": \"v\"\n"
            "}");
  EXPECT_EQ(WriteStandard(List({List({Value(1)})}), {1, false}),
            "[\n [\n  1\n ]\n]");
  EXPECT_EQ(WriteStandard(MakeArray({}), {3, false}), "[]");
}

TEST(JSONStandardTest, RefusesWhatJsonCannotHold) {
  const char16_t kNotFinite[] = u"JSON has no form for NaN or an infinity";
  const double inf = std::numeric_limits<double>::infinity();
  for (const Value& v :
       {Value(std::nan("")), Value(inf), Value(-inf),
        Value(std::numeric_limits<float>::infinity()), List({Value(inf)})}) {
    ExpectRaises(WriteStandard(v), kErrInvalidCall, u"JSON", kNotFinite);
  }
  SafeArray square(Kind::Variant, {{0, 2}, {0, 2}});
  for (const Value& v :
       {Value::ErrorCode(5), Value::Missing(), Value(std::move(square)),
        Value(Ref<Object>(CDict::Create())),
        Dict({{u"a", Value::Missing()}})}) {
    ExpectRaisesStandard(WriteStandard(v), kErrTypeMismatch);
  }
  ExpectRaisesStandard(WriteStandard(Value::Date(2958466)), kErrOverflow);
  // A container that holds itself is stopped at the nesting limit.
  Ref<CArray> loop = CArray::Create();
  loop->Add(Value(Ref<Object>(loop)));
  ExpectRaisesStandard(WriteStandard(Value(Ref<Object>(loop))), kErrOutOfStack);
  loop->Clear();
  for (int indent : {-1, JSON::kMaxIndent + 1}) {
    const StandardStyle style{indent, false};
    ExpectRaises(JSON::StandardWriter writer(style), kErrInvalidCall, u"JSON",
                 u"the indent must be 0 to 16");
  }
}

TEST(JSONStandardTest, DoublesTakeTheShortestRoundTrip) {
  // Written through the events, so one writer serves every number.
  std::mt19937_64 rng(7);
  JSON::StandardWriter writer;
  std::vector<double> written;
  writer.BeginArray();
  writer.Scalar(Value(-0.0));
  written.push_back(-0.0);
  while (written.size() < static_cast<size_t>(testing::Scaled(1000000))) {
    const double d = std::bit_cast<double>(rng());
    if (!std::isfinite(d)) continue;
    writer.Scalar(Value(d));
    written.push_back(d);
  }
  writer.EndArray();
  const std::string text = writer.Take();
  const char* p = text.data() + 1;
  for (const double d : written) {
    double back;
    const std::from_chars_result r =
        std::from_chars(p, text.data() + text.size(), back);
    ASSERT_EQ(r.ec, std::errc()) << std::string(p, 30);
    ASSERT_EQ(std::bit_cast<uint64_t>(back), std::bit_cast<uint64_t>(d))
        << std::string(p, r.ptr);
    char shortest[32];
    const std::to_chars_result s = std::to_chars(shortest, shortest + 32, d);
    ASSERT_EQ(std::string_view(p, r.ptr), std::string_view(shortest, s.ptr));
    p = r.ptr + 1;  // past ',' or ']'
  }
  EXPECT_EQ(p, text.data() + text.size());
}

// Whether two trees hold the same: numbers by value and sign (a Double
// that a Decimal holds exactly comes back as one), the rest by kind.
bool Same(const Value& a, const Value& b) {
  const auto is_number = [](const Value& v) {
    return v.kind() == Kind::Long || v.kind() == Kind::Double ||
           v.kind() == Kind::Decimal;
  };
  if (is_number(a) && is_number(b)) {
    const auto negative = [](const Value& v) {
      return v.kind() == Kind::Decimal ? v.decimal().negative()
                                       : std::signbit(ToDouble(v));
    };
    return ToDouble(a) == ToDouble(b) && negative(a) == negative(b);
  }
  if (a.kind() != b.kind()) return false;
  if (!a.IsObject()) {
    return a.kind() != Kind::String || a.string_view() == b.string_view();
  }
  if (const auto* da = dynamic_cast<const Dictionary*>(a.object())) {
    const auto* db = dynamic_cast<const Dictionary*>(b.object());
    if (db == nullptr || da->Count() != db->Count()) return false;
    auto ia = da->begin();
    for (auto ib = db->begin(); ib != db->end(); ++ia, ++ib) {
      if (ia->key != ib->key || !Same(ia->value, ib->value)) return false;
    }
    return true;
  }
  const auto* la = dynamic_cast<const CArray*>(a.object());
  const auto* lb = dynamic_cast<const CArray*>(b.object());
  if (la == nullptr || lb == nullptr || la->Count() != lb->Count())
    return false;
  for (int32_t i = 0; i < la->Count(); ++i) {
    if (!Same(la->begin()[i], lb->begin()[i])) return false;
  }
  return true;
}

Value RandomTree(std::mt19937& rng, int depth) {
  const auto text = [&] {
    static const char16_t kUnits[] = {u'a', u'"',   u'\\',  u'\n',  0x01,  0x7F,
                                      0xE9, 0x20AC, 0xD83D, 0xDE00, 0xFFFF};
    std::u16string s;
    for (int n = rng() % 12; n > 0; --n) s += kUnits[rng() % 11];
    return s;
  };
  switch (rng() % (depth < 4 ? 9 : 6)) {
    case 0:
      return Value(text());
    case 1:
      return Value::Decimal(
          Decimal(rng() % 3 == 0 ? rng() : 0, (uint64_t{rng()} << 32) | rng(),
                  static_cast<uint8_t>(rng() % 29), rng() % 2));
    case 2: {
      double d;
      do {
        d = std::bit_cast<double>((uint64_t{rng()} << 32) | rng());
      } while (!std::isfinite(d));
      return Value(d);
    }
    case 3:
      return Value(rng() % 2 == 0);
    case 4:
      return Value::Null();
    case 5:
      return Value(static_cast<int32_t>(rng()));
    case 6:
    case 7: {
      Ref<Dictionary> d = Dictionary::Create();
      for (int n = rng() % 5; n > 0; --n)
        d->Slot(String(text())) = RandomTree(rng, depth + 1);
      return Value(Ref<Object>(d));
    }
    default: {
      Ref<CArray> a = CArray::Create();
      for (int n = rng() % 5; n > 0; --n) a->Add(RandomTree(rng, depth + 1));
      return Value(Ref<Object>(a));
    }
  }
}

TEST(JSONStandardTest, RandomTreesReadBackStrictlyAsTheyWere) {
  std::mt19937 rng(11);
  for (int i = 0; i < testing::Scaled(2000); ++i) {
    const Value tree = RandomTree(rng, 0);
    const StandardStyle style{static_cast<int>(rng() % 3), rng() % 2 == 0};
    const std::string text = WriteStandard(tree, style);
    const std::u16string wide = FromUtf8(text);
    Value back;
    ASSERT_NO_THROW(back = JSON::ParseStrict(wide)) << text;
    ASSERT_TRUE(Same(tree, back)) << text;
    // Read back and streamed through again, the text is the same.
    if (style.indent == 0 && !style.ascii) {
      JSON::TextPieces source(wide, 1 + rng() % 9);
      JSON::StrictReader reader(source);
      JSON::StandardWriter writer;
      reader.Read(writer);
      EXPECT_EQ(writer.Take(), WriteStandard(back));
    }
  }
}

}  // namespace
}  // namespace quorvel
