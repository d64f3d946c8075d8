#include "quorvel/collection.h"

#include <gtest/gtest.h>

#include "quorvel/cqueue.h"
#include "quorvel/cstack.h"
#include "quorvel/enumerator.h"
#include "test_util.h"

namespace quorvel {
namespace {

Value Call(const Value& c, std::u16string_view name,
           std::initializer_list<Value> args = {},
           CallType type = CallType::Method) {
  return CallByName(c, name, type, args);
}

std::u16string Joined(const Value& c) {
  std::u16string out;
  ForEachElement(c, [&](const Value& v) { out += ToText(v).view(); });
  return out;
}

TEST(CollectionTest, PositionsFromOneAndError9Outside) {
  Value c = CreateObject(u"Collection");
  const Value m = Value::Missing();
  Call(c, u"Add", {Value(u"b")});
  Call(c, u"Add", {Value(u"d")});
  Call(c, u"Add", {Value(u"a"), m, Value(1)});     // before position 1
  Call(c, u"Add", {Value(u"c"), m, m, Value(2)});  // after 2
  EXPECT_EQ(Joined(c), u"abcd");
  EXPECT_EQ(Call(c, u"Item", {Value(4)}).string_view(), u"d");
  EXPECT_EQ(Call(c, u"", {Value(1.0)}, CallType::Get).string_view(), u"a");
  for (int bad : {0, 5}) {
    ExpectRaises(Call(c, u"Item", {Value(bad)}), 9, u"KxQuorvel",
                 u"Subscript out of range");
    ExpectRaisesStandard(Call(c, u"Remove", {Value(bad)}), kErrSubscript);
    ExpectRaisesStandard(Call(c, u"Add", {Value(u"x"), m, Value(bad)}),
                         kErrSubscript);
  }
  ExpectRaisesStandard(Call(c, u"Add", {Value(u"x"), m, Value(1), Value(1)}),
                       kErrInvalidCall);
  Call(c, u"Remove", {Value(1)});
  Call(c, u"Remove", {Value(3)});
  EXPECT_EQ(Joined(c), u"bc");
}

TEST(CollectionTest, KeysIgnoreCase) {
  Value c = CreateObject(u"Collection");
  Call(c, u"Add", {Value(1), Value(u"One")});
  Call(c, u"Add", {Value(3), Value(u"three")});
  Call(c, u"Add", {Value(2), Value(u"two"), Value(u"THREE")});
  EXPECT_EQ(Joined(c), u"123");
  EXPECT_EQ(ToLong(Call(c, u"Item", {Value(u"ONE")})), 1);
  ExpectRaisesStandard(Call(c, u"Add", {Value(4), Value(u"one")}),
                       kErrKeyExists);
  ExpectRaisesStandard(Call(c, u"Item", {Value(u"four")}), kErrInvalidCall);
  ExpectRaisesStandard(Call(c, u"Add", {Value(4), Value(4)}), kErrTypeMismatch);
  Call(c, u"Remove", {Value(u"two")});
  EXPECT_EQ(Joined(c), u"13");
  Ref<Collection> refs = Collection::Create();
  refs->Append(c);
  EXPECT_EQ(refs->At(1).object(), c.object());  // a reference, not a value
  ExpectRaisesStandard(LetValue(Value(refs)), kErrWrongArgumentCount);
}

TEST(EnumeratorTest, WalksByNameAndByCpp) {
  Value c = CreateObject(u"Collection");
  for (int i = 1; i <= 3; ++i) Call(c, u"Add", {Value(i)});
  Value e = Call(c, u"_NewEnum", {}, CallType::Get);
  ExpectRaisesStandard(Call(e, u"Current", {}, CallType::Get), kErrInvalidCall);
  EXPECT_TRUE(ToBoolean(Call(e, u"MoveNext")));
  EXPECT_EQ(ToLong(Call(e, u"Current", {}, CallType::Get)), 1);
  Value clone = Call(e, u"Clone");
  EXPECT_TRUE(ToBoolean(Call(e, u"Skip", {Value(2)})));
  EXPECT_FALSE(ToBoolean(Call(e, u"MoveNext")));
  ExpectRaisesStandard(Call(e, u"Current", {}, CallType::Get), kErrInvalidCall);
  EXPECT_TRUE(ToBoolean(Call(clone, u"MoveNext")));
  EXPECT_EQ(ToLong(Call(clone, u"Current", {}, CallType::Get)), 2);
  Call(e, u"Reset");
  EXPECT_FALSE(ToBoolean(Call(e, u"Skip", {Value(4)})));
}

// CStack and CQueue count positions from 1 at the bottom (a queue's front).
class StackQueueTest : public ::testing::TestWithParam<std::u16string_view> {
 protected:
  Value Call(std::u16string_view name, std::initializer_list<Value> args = {},
             CallType type = CallType::Method) {
    return CallByName(list_, name, type, args);
  }
  int32_t Count() { return ToLong(Call(u"Count", {}, CallType::Get)); }
  // The elements from position 1 up, as text.
  std::u16string Listed() {
    std::u16string out;
    for (int32_t i = 1, n = Count(); i <= n; ++i)
      out += ToText(Call(u"Item", {Value(i)}, CallType::Get)).view();
    return out;
  }

  Value list_ = CreateObject(GetParam());
  const bool lifo_ = GetParam() == u"CStack";
};

TEST_P(StackQueueTest, EndsPositionsAndBounds) {
  EXPECT_EQ(ToLong(Call(u"IsEmpty", {}, CallType::Get)), -1);
  Value popped = Call(u"Pop");  // an empty list pops ""
  EXPECT_EQ(VarType(popped), 8);
  EXPECT_EQ(popped.string_view(), u"");

  for (int i = 1; i <= 4; ++i) Call(u"Push", {Value(i)});
  EXPECT_EQ(ToLong(Call(u"IsEmpty", {}, CallType::Get)), 0);
  EXPECT_EQ(ToLong(Call(u"Pop")), lifo_ ? 4 : 1);
  EXPECT_EQ(Listed(), lifo_ ? u"123" : u"234");
  Call(u"Insert", {Value(9), Value(3)});  // before the third
  Call(u"Insert", {Value(8), Value(1)});  // at the bottom
  EXPECT_EQ(Listed(), lifo_ ? u"81293" : u"82394");
  for (int bad : {0, 6, -1}) {
    ExpectRaisesStandard(Call(u"Insert", {Value(7), Value(bad)}),
                         kErrSubscript);
    ExpectRaisesStandard(Call(u"Remove", {Value(bad)}), kErrSubscript);
    ExpectRaisesStandard(Call(u"Item", {Value(bad)}, CallType::Get),
                         kErrSubscript);
  }
  Call(u"Remove", {Value(2)});
  EXPECT_EQ(Listed(), lifo_ ? u"8293" : u"8394");
  EXPECT_EQ(ToLong(Call(u"Pop")), lifo_ ? 3 : 8);
  ExpectRaisesStandard(Call(u"", {Value(1)}, CallType::Get),
                       kErrNoSuchMember);  // no default member
}

// Objects go in as references but come out by value.
TEST_P(StackQueueTest, ObjectsComeOutByValue) {
  Value dict = CreateObject(u"Scripting.Dictionary");
  Call(u"Push", {Value(u"under")});
  Call(u"Push", {dict});
  Call(u"Push", {Value(u"over")});
  EXPECT_EQ(dict.object()->RefCount(), 2);  // held, not copied
  ExpectRaisesStandard(Call(u"Item", {Value(2)}, CallType::Get),
                       kErrWrongArgumentCount);
  Call(u"Remove", {Value(lifo_ ? 3 : 1)});
  ExpectRaisesStandard(Call(u"Pop"), kErrWrongArgumentCount);
  EXPECT_EQ(Count(), 2);
  Call(u"Insert", {CreateObject(u"CQueue"), Value(2)});
  ExpectRaisesStandard(Call(u"Item", {Value(2)}, CallType::Get),
                       kErrNoSuchMember);
  Call(u"Remove", {Value(2)});
  Call(u"Remove", {Value(lifo_ ? 2 : 1)});
  EXPECT_EQ(dict.object()->RefCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Lists, StackQueueTest,
                         ::testing::Values(u"CStack", u"CQueue"),
                         [](const auto& info) { return ToUtf8(info.param); });

}  // namespace
}  // namespace quorvel
