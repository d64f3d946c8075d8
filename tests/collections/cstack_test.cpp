#include "quorvel/cstack.h"

#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace quorvel {
namespace {

Value Call(const Value& s, std::u16string_view name,
           std::initializer_list<Value> args = {},
           CallType type = CallType::Method) {
  return CallByName(s, name, type, args);
}

// The elements from position 1 up, as text.
std::u16string Listed(const Value& s) {
  std::u16string out;
  const int32_t n = ToLong(Call(s, u"Count", {}, CallType::Get));
  for (int32_t i = 1; i <= n; ++i)
    out += ToText(Call(s, u"Item", {Value(i)}, CallType::Get)).view();
  return out;
}

TEST(CStackTest, LastInFirstOutWithPositionsFromTheBottom) {
  Value s = CreateObject(u"CStack");
  EXPECT_EQ(TypeName(s), u"CStack");
  EXPECT_EQ(ToLong(Call(s, u"IsEmpty", {}, CallType::Get)), -1);
  Value popped = Call(s, u"Pop");
  EXPECT_EQ(VarType(popped), 8);
  EXPECT_EQ(popped.string_view(), u"");
  EXPECT_EQ(ToLong(Call(s, u"Count", {}, CallType::Get)), 0);
  ExpectRaisesStandard(Call(s, u"Insert", {Value(9), Value(1)}), kErrSubscript);

  for (int i = 1; i <= 3; ++i) Call(s, u"Push", {Value(i)});
  EXPECT_EQ(ToLong(Call(s, u"IsEmpty", {}, CallType::Get)), 0);
  EXPECT_EQ(ToLong(Call(s, u"Pop")), 3);
  EXPECT_EQ(ToLong(Call(s, u"Pop")), 2);
  EXPECT_EQ(ToLong(Call(s, u"Item", {Value(1)}, CallType::Get)), 1);
  EXPECT_EQ(ToLong(Call(s, u"Count", {}, CallType::Get)), 1);

  Call(s, u"Push", {Value(2)});
  Call(s, u"Push", {Value(3)});
  Call(s, u"Insert", {Value(9), Value(3)});  // below the top
  EXPECT_EQ(Listed(s), u"1293");
  Call(s, u"Insert", {Value(8), Value(1)});  // at the bottom
  EXPECT_EQ(Listed(s), u"81293");
  EXPECT_EQ(ToLong(Call(s, u"Pop")), 3);
  EXPECT_EQ(ToLong(Call(s, u"Pop")), 9);
  for (int bad : {0, 4, -1}) {
    ExpectRaisesStandard(Call(s, u"Insert", {Value(7), Value(bad)}),
                         kErrSubscript);
    ExpectRaisesStandard(Call(s, u"Remove", {Value(bad)}), kErrSubscript);
    ExpectRaisesStandard(Call(s, u"Item", {Value(bad)}, CallType::Get),
                         kErrSubscript);
  }
  EXPECT_EQ(Listed(s), u"812");
  // The Index argument is left as it was.
  std::vector<Value> args = {Value(2)};
  CallByName(s, u"Remove", CallType::Method, std::span<Value>(args));
  EXPECT_EQ(ToLong(args[0]), 2);
  EXPECT_EQ(Listed(s), u"82");
  ExpectRaisesStandard(Call(s, u""), kErrNoSuchMember);  // no default member
}

TEST(CStackTest, ObjectsGoInButComeOutByValueAssignment) {
  Value s = CreateObject(u"CStack");
  Value dict = CreateObject(u"Scripting.Dictionary");
  Call(s, u"Push", {Value(u"under")});
  Call(s, u"Push", {dict});
  EXPECT_EQ(dict.object()->RefCount(), 2);  // held, not copied
  ExpectRaisesStandard(Call(s, u"Pop"), kErrWrongArgumentCount);
  ExpectRaisesStandard(Call(s, u"Item", {Value(2)}, CallType::Get),
                       kErrWrongArgumentCount);
  EXPECT_EQ(ToLong(Call(s, u"Count", {}, CallType::Get)), 2);
  Call(s, u"Insert", {CreateObject(u"CQueue"), Value(2)});
  ExpectRaisesStandard(Call(s, u"Item", {Value(2)}, CallType::Get),
                       kErrNoSuchMember);
  Call(s, u"Remove", {Value(3)});
  Call(s, u"Remove", {Value(2)});
  EXPECT_EQ(dict.object()->RefCount(), 1);
  // Arrays are copied on the way in and out.
  Value arr = MakeArray({Value(1)});
  Call(s, u"Push", {arr});
  arr.array().Put(0, Value(2));
  EXPECT_EQ(ToLong(ArrayItem(Call(s, u"Pop"), 0)), 1);
  EXPECT_EQ(Call(s, u"Pop").string_view(), u"under");
}

}  // namespace
}  // namespace quorvel
