#include "quorvel/value.h"

#include <gtest/gtest.h>

#include "quorvel/safearray.h"
#include "test_util.h"

namespace quorvel {
namespace {

TEST(ValueTest, KindsCodesAndTypeNames) {
  static_assert(sizeof(Value) == 16);
  const struct {
    Value v;
    int32_t code;
    std::u16string name;
  } rows[] = {{Value(), 0, u"Empty"},
              {Value::Byte(200), 17, u"Byte"},
              {Value(1.5), 5, u"Double"},
              {Value::Missing(), 10, u"Error"},
              {Value(u""), 8, u"String"},
              {Value::Nothing(), 9, u"Nothing"},
              {Value::Null(), 1, u"Null"},
              {Value(int16_t{-3}), 2, u"Integer"},
              {Value(1.5f), 4, u"Single"},
              {Value(int32_t{70000}), 3, u"Long"},
              {CreateObject(u"CDict"), 9, u"CDict"},
              {Value(true), 11, u"Boolean"},
              {Value::Currency(15000), 6, u"Currency"},
              {Value::Date(1.5), 7, u"Date"}},
    wide_rows[] = {
        {Value::Decimal(Decimal(0, 5, 1, true)), 14, u"Decimal"},
        {MakeArray({Value(1)}), 8204, u"Variant()"},
        {MakeByteArray(std::vector<uint8_t>{1, 2}), 8209, u"Byte()"},
        {Value(SafeArray(Kind::String, {{0, 2}})), 8200, u"String()"},
        {Value(SafeArray(Kind::Long, {{1, 2}})), 8195, u"Long()"}};
  auto check = [](const auto& r) {
    EXPECT_EQ(VarType(r.v), r.code) << ToUtf8(r.name);
    EXPECT_EQ(TypeName(r.v), r.name);
  };
  for (const auto& r : rows) check(r);
  for (const auto& r : wide_rows) check(r);
  EXPECT_EQ(Value(true).integer(), -1);
  EXPECT_EQ(Value::Missing().error_code(), static_cast<int32_t>(0x80020004u));
  EXPECT_EQ(Value::Decimal(Decimal(0xFFFFFFFF, ~0ull, 28, true)).decimal(),
            Decimal(0xFFFFFFFF, ~0ull, 28, true));
}

// A copy shares objects and text blocks but copies arrays.
TEST(ValueTest, StoreRuleSharesObjectsAndCopiesTheRest) {
  Value dict = CreateObject(u"CDict");
  const int32_t before = dict.object()->RefCount();
  {
    Value copy = dict;
    EXPECT_EQ(copy.object(), dict.object());
    EXPECT_EQ(dict.object()->RefCount(), before + 1);
    Value moved = std::move(copy);
    EXPECT_EQ(dict.object()->RefCount(), before + 1);
    EXPECT_TRUE(copy.IsEmpty());  // NOLINT: a moved-from Value is Empty
  }
  EXPECT_EQ(dict.object()->RefCount(), before);
  Value s(u"shared text");
  Value t = s;
  EXPECT_EQ(s.string_view().data(), t.string_view().data());

  Value a = MakeArray({Value(1), dict});
  Value b = a;
  b.array().Put(0, Value(2));
  Value c = LetValue(a);
  c.array().Put(0, Value(9));
  EXPECT_EQ(ToLong(ArrayItem(a, 0)), 1);
  EXPECT_EQ(ToLong(ArrayItem(b, 0)), 2);
  EXPECT_EQ(ArrayItem(b, 1).object(), dict.object());
  EXPECT_TRUE(LetValue(Value::Null()).IsNull());
  EXPECT_TRUE(LetValue(Value::Missing()).IsMissing());
  // Assignment over itself and over a holder of itself stays sound.
  Value self = a;
  self = self;
  self = ArrayItem(self, 1);
  EXPECT_EQ(self.object(), dict.object());
}

TEST(ValueTest, ArraysOfSeveralDimensionsAndAnyBounds) {
  SafeArray grid(Kind::Variant, {{-1, 3}, {5, 2}});
  EXPECT_EQ(grid.UpperBound(1), 1);
  const int32_t outside[] = {2, 5};
  ExpectRaisesStandard(grid.FlatIndex(outside), kErrSubscript);
  ExpectRaisesStandard(grid.LowerBound(3), kErrSubscript);
  Value v(std::move(grid));
  EXPECT_EQ(LBound(v, 2), 5);
  EXPECT_EQ(UBound(v, 2), 6);
  ExpectRaisesStandard(ArrayItem(v, 0), kErrSubscript);  // two dimensions

  Value empty = MakeArray({});
  EXPECT_EQ(LBound(empty), 0);
  EXPECT_EQ(UBound(empty), -1);
  Value based = MakeArray({Value(u"a"), Value(u"b")}, 1);
  EXPECT_EQ(ArrayItem(based, 2).string_view(), u"b");
  ExpectRaisesStandard(ArrayItem(based, 0), kErrSubscript);
  ExpectRaisesStandard(ArrayItem(based, 3), kErrSubscript);
  ExpectRaisesStandard(LBound(Value(1)), kErrTypeMismatch);
  ExpectRaisesStandard(ToBytes(based), kErrTypeMismatch);
  ExpectRaisesStandard(SafeArray(Kind::Double, {{0, 1}}), kErrInvalidCall);
  ExpectRaisesStandard(SafeArray(Kind::Variant, {{0, -1}}), kErrSubscript);
  ExpectRaisesStandard(SafeArray(Kind::Variant, {{INT32_MAX, 2}}),
                       kErrSubscript);

  // Typed arrays convert what they store; a failed store changes nothing.
  Value bytes = MakeByteArray(std::vector<uint8_t>{0, 255});
  EXPECT_EQ(ToBytes(bytes), (std::vector<uint8_t>{0, 255}));
  EXPECT_EQ(ArrayItem(bytes, 1).kind(), Kind::Byte);
  bytes.array().Put(0, Value(u"7"));
  ExpectRaisesStandard(bytes.array().Put(0, Value(256)), kErrOverflow);
  ExpectRaisesStandard(bytes.array().Put(0, Value(-1)), kErrOverflow);
  EXPECT_EQ(ToBytes(bytes)[0], 7);
  Value strings(SafeArray(Kind::String, {{0, 2}}));
  EXPECT_EQ(ArrayItem(strings, 0).kind(), Kind::String);
  strings.array().Put(1, Value(12));
  EXPECT_EQ(ArrayItem(strings, 1).string_view(), u"12");
  Value longs(SafeArray(Kind::Long, {{0, 1}}));
  longs.array().Put(0, Value(2.5));
  EXPECT_EQ(ArrayItem(longs, 0).kind(), Kind::Long);
  EXPECT_EQ(ArrayItem(longs, 0).long_value(), 2);
}

}  // namespace
}  // namespace quorvel
