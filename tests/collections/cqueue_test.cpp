#include "quorvel/cqueue.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>

#include "test_util.h"

namespace quorvel {
namespace {

Value Call(const Value& q, std::u16string_view name,
           std::initializer_list<Value> args = {},
           CallType type = CallType::Method) {
  return CallByName(q, name, type, args);
}

TEST(CQueueTest, FirstInFirstOutWithPositionsFromTheFront) {
  Value q = CreateObject(u"CQueue");
  EXPECT_EQ(ToLong(Call(q, u"IsEmpty", {}, CallType::Get)), -1);
  EXPECT_EQ(VarType(Call(q, u"Pop")), 8);
  EXPECT_EQ(ToLong(Call(q, u"Count", {}, CallType::Get)), 0);
  ExpectRaisesStandard(Call(q, u"Insert", {Value(9), Value(1)}), kErrSubscript);
  for (int i = 1; i <= 3; ++i) Call(q, u"Push", {Value(i)});
  EXPECT_EQ(ToLong(Call(q, u"Pop")), 1);
  EXPECT_EQ(ToLong(Call(q, u"Pop")), 2);
  EXPECT_EQ(ToLong(Call(q, u"Item", {Value(1)}, CallType::Get)), 3);
  Call(q, u"Push", {Value(4)});
  Call(q, u"Push", {Value(5)});
  Call(q, u"Insert", {Value(9), Value(1)});  // next to leave
  ExpectRaisesStandard(Call(q, u"Insert", {Value(9), Value(5)}), kErrSubscript);
  ExpectRaisesStandard(Call(q, u"Remove", {Value(0)}), kErrSubscript);
  Call(q, u"Remove", {Value(3)});
  EXPECT_EQ(ToLong(Call(q, u"Count", {}, CallType::Get)), 3);
  EXPECT_EQ(ToLong(Call(q, u"Pop")), 9);
  EXPECT_EQ(ToLong(Call(q, u"Pop")), 3);
  EXPECT_EQ(ToLong(Call(q, u"Pop")), 5);
  EXPECT_EQ(ToLong(Call(q, u"IsEmpty", {}, CallType::Get)), -1);

  Value dict = CreateObject(u"CDict");
  Call(q, u"Push", {dict});
  Call(q, u"Push", {Value(1)});
  ExpectRaisesStandard(Call(q, u"Pop"), kErrWrongArgumentCount);
  EXPECT_EQ(ToLong(Call(q, u"Count", {}, CallType::Get)), 2);
  Call(q, u"Remove", {Value(1)});
  EXPECT_EQ(ToLong(Call(q, u"Pop")), 1);
  EXPECT_EQ(dict.object()->RefCount(), 1);
  ExpectRaisesStandard(Call(q, u"", {Value(1)}, CallType::Get),
                       kErrNoSuchMember);
}

TEST(CQueueTest, MatchesADequeModelThroughEveryOperation) {
  // Random pushes, pops, inserts and removes on both halves, checked
  // against a model after every step, so moves towards either end and
  // pops from a queue emptied and refilled are all exercised.
  auto q = CQueue::Create();
  std::deque<int32_t> model;
  std::mt19937 rng(3);
  for (int step = 0; step < 4000; ++step) {
    const uint32_t op = rng() % 10;
    const int32_t v = static_cast<int32_t>(rng() % 1000);
    if (op < 4) {
      q->Push(Value(v));
      model.push_back(v);
    } else if (op < 7) {
      Value got = q->Pop();
      if (model.empty()) {
        ASSERT_EQ(got.string_view(), u"");
      } else {
        ASSERT_EQ(ToLong(got), model.front());
        model.pop_front();
      }
    } else if (!model.empty()) {
      const int32_t at = static_cast<int32_t>(rng() % model.size());
      if (op < 9) {
        q->Insert(Value(v), at + 1);
        model.insert(model.begin() + at, v);
      } else {
        q->Remove(at + 1);
        model.erase(model.begin() + at);
      }
    }
    ASSERT_EQ(q->Count(), static_cast<int32_t>(model.size()));
    for (size_t k = 0; k < model.size(); k += 7)
      ASSERT_EQ(ToLong(q->Item(static_cast<int32_t>(k) + 1)), model[k]);
  }
}

}  // namespace
}  // namespace quorvel
