#include "quorvel/cdict.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quorvel {
namespace {

class CDictTest : public ::testing::Test {
 protected:
  Value Call(std::u16string_view name, CallType t,
             std::initializer_list<Value> args = {}) {
    return CallByName(dict_, name, t, args);
  }
  std::u16string Keys() {
    Value keys = Call(u"Keys", CallType::Get);
    std::u16string out;
    for (int32_t i = LBound(keys); i <= UBound(keys); ++i) {
      out += ArrayItem(keys, i).string_view();
      out += u';';
    }
    return out;
  }
  Value dict_ = CreateObject(u"CDict");
};

TEST_F(CDictTest, ReadingAnAbsentKeyInsertsEmptyAtTheEnd) {
  EXPECT_TRUE(
      Call(u"Add", CallType::Method, {Value(u"a"), Value(1)}).IsEmpty());
  EXPECT_TRUE(Call(u"Item", CallType::Get, {Value(u"b")}).IsEmpty());
  EXPECT_TRUE(ToBoolean(Call(u"Exists", CallType::Method, {Value(u"b")})));
  EXPECT_EQ(ToLong(Call(u"Count", CallType::Get)), 2);
  EXPECT_EQ(Keys(), u"a;b;");
  EXPECT_TRUE(Call(u"", CallType::Get, {Value(u"")}).IsEmpty());  // default
  EXPECT_EQ(Keys(), u"a;b;;");
}

TEST_F(CDictTest, KeysAreCaseSensitiveAndDuplicatesRaise457) {
  Call(u"Add", CallType::Method, {Value(u"Name"), Value(1)});
  EXPECT_FALSE(ToBoolean(Call(u"Exists", CallType::Method, {Value(u"name")})));
  Call(u"Add", CallType::Method, {Value(u"name"), Value(2)});
  EXPECT_EQ(ToLong(Call(u"Count", CallType::Get)), 2);
  ExpectRaises(Call(u"Add", CallType::Method, {Value(u"Name"), Value(3)}), 457,
               u"KxQuorvel",
               u"This key is already associated with an element of this "
               u"collection");
  EXPECT_EQ(ToLong(Call(u"Item", CallType::Get, {Value(u"Name")})), 1);
  EXPECT_EQ(ToLong(Call(u"Count", CallType::Get)), 2);
}

TEST_F(CDictTest, WritesKeepPlacesAndObjectsStayIdentical) {
  Call(u"Add", CallType::Method, {Value(u"x"), Value(1)});
  Call(u"Add", CallType::Method, {Value(u"y"), Value(2)});
  Call(u"Item", CallType::Let, {Value(u"x"), Value(u"one")});
  EXPECT_EQ(Keys(), u"x;y;");
  Value inner = CreateObject(u"Scripting.Dictionary");
  Call(u"Item", CallType::Let, {Value(u"obj"), inner});  // value write
  CallByName(inner, u"Add", CallType::Method, {Value(u"k"), Value(7)});
  Value back = Call(u"Item", CallType::Get, {Value(u"obj")});
  EXPECT_EQ(back.object(), inner.object());
  EXPECT_EQ(ToLong(CallByName(back, u"Item", CallType::Get, {Value(u"k")})), 7);
  Call(u"Item", CallType::Let, {Value(u"none"), Value::Nothing()});
  EXPECT_TRUE(Call(u"Item", CallType::Get, {Value(u"none")}).IsNothing());
  Call(u"Item", CallType::Set, {Value(u"y"), inner});
  EXPECT_EQ(Call(u"Item", CallType::Get, {Value(u"y")}).object(),
            inner.object());
  EXPECT_EQ(Keys(), u"x;y;obj;none;");
  ExpectRaisesStandard(Call(u"Item", CallType::Set, {Value(u"z"), Value(1)}),
                       kErrObjectRequired);
  // The caller's Value is never changed.
  std::vector<Value> args = {Value(u"arr"), MakeArray({Value(1)})};
  CallByName(dict_, u"Item", CallType::Let, std::span<Value>(args));
  Value stored = Call(u"Item", CallType::Get, {Value(u"arr")});
  stored.array().Put(0, Value(5));
  EXPECT_EQ(ToLong(ArrayItem(args[1], 0)), 1);
  EXPECT_EQ(ToLong(ArrayItem(Call(u"Item", CallType::Get, {Value(u"arr")}), 0)),
            1);
}

TEST_F(CDictTest, ClearStartsOverAndReleasesValues) {
  Value inner = CreateObject(u"CDict");
  Call(u"Add", CallType::Method, {Value(u"o"), inner});
  const int32_t held = inner.object()->RefCount();
  Call(u"Clear", CallType::Method);
  EXPECT_EQ(inner.object()->RefCount(), held - 1);
  EXPECT_EQ(ToLong(Call(u"Count", CallType::Get)), 0);
  Value keys = Call(u"Keys", CallType::Get);
  EXPECT_EQ(LBound(keys), 0);
  EXPECT_EQ(UBound(keys), -1);
  ExpectRaisesStandard(LetValue(dict_), kErrWrongArgumentCount);
}

}  // namespace
}  // namespace quorvel
