// CStack and CQueue: one list, positions counted from 1 at the bottom (the
// front of a queue), Pop taking from the top of a stack and the front of a
// queue.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>

#include "quorvel/cqueue.h"
#include "quorvel/cstack.h"
#include "test_util.h"

namespace quorvel {
namespace {

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
  EXPECT_EQ(TypeName(list_), GetParam());
  EXPECT_EQ(ToLong(Call(u"IsEmpty", {}, CallType::Get)), -1);
  Value popped = Call(u"Pop");  // an empty list pops ""
  EXPECT_EQ(VarType(popped), 8);
  EXPECT_EQ(popped.string_view(), u"");
  EXPECT_EQ(Count(), 0);
  ExpectRaisesStandard(Call(u"Insert", {Value(9), Value(1)}), kErrSubscript);

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
  // The Index argument is left as it was.
  std::vector<Value> args = {Value(2)};
  CallByName(list_, u"Remove", CallType::Method, std::span<Value>(args));
  EXPECT_EQ(ToLong(args[0]), 2);
  EXPECT_EQ(Listed(), lifo_ ? u"8293" : u"8394");
  EXPECT_EQ(ToLong(Call(u"Pop")), lifo_ ? 3 : 8);
  EXPECT_EQ(Count(), 3);
  ExpectRaisesStandard(Call(u""), kErrNoSuchMember);  // no default member
  ExpectRaisesStandard(Call(u"", {Value(1)}, CallType::Get), kErrNoSuchMember);
}

// Objects go in as references but come out by value assignment, which they
// refuse; arrays are copied on the way in and out.
TEST_P(StackQueueTest, ObjectsAndArrays) {
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
  Value arr = MakeArray({Value(1)});
  Call(u"Push", {arr});
  arr.array().Put(0, Value(2));
  Value out = Call(u"Item", {Value(2)}, CallType::Get);
  out.array().Put(0, Value(3));
  EXPECT_EQ(ToLong(ArrayItem(Call(u"Item", {Value(2)}, CallType::Get), 0)), 1);
  Call(u"Remove", {Value(1)});
  EXPECT_EQ(ToLong(ArrayItem(Call(u"Pop"), 0)), 1);
}

// Random pushes, pops, inserts and removes on both halves, checked against
// a model after every step, so moves towards either end and pops from a
// list emptied and refilled are all exercised.
TEST_P(StackQueueTest, MatchesADequeModelThroughEveryOperation) {
  std::deque<int32_t> model;
  std::mt19937 rng(3);
  for (int step = 0; step < 4000; ++step) {
    const uint32_t op = rng() % 10;
    const int32_t v = static_cast<int32_t>(rng() % 1000);
    if (op < 4) {
      Call(u"Push", {Value(v)});
      model.push_back(v);
    } else if (op < 7) {
      Value got = Call(u"Pop");
      if (model.empty()) {
        ASSERT_EQ(got.string_view(), u"");
      } else {
        ASSERT_EQ(ToLong(got), lifo_ ? model.back() : model.front());
        lifo_ ? model.pop_back() : model.pop_front();
      }
    } else if (!model.empty()) {
      const int32_t at = static_cast<int32_t>(rng() % model.size());
      if (op < 9) {
        Call(u"Insert", {Value(v), Value(at + 1)});
        model.insert(model.begin() + at, v);
      } else {
        Call(u"Remove", {Value(at + 1)});
        model.erase(model.begin() + at);
      }
    }
    ASSERT_EQ(Count(), static_cast<int32_t>(model.size()));
    for (size_t k = 0; k < model.size(); k += 7)
      ASSERT_EQ(ToLong(Call(u"Item", {Value(int32_t(k) + 1)}, CallType::Get)),
                model[k]);
  }
}

INSTANTIATE_TEST_SUITE_P(Lists, StackQueueTest,
                         ::testing::Values(u"CStack", u"CQueue"),
                         [](const auto& info) { return ToUtf8(info.param); });

}  // namespace
}  // namespace quorvel
