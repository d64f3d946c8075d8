// Dictionary, and what CDict shares with it by name.
#include "quorvel/dictionary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quorvel/cdict.h"
#include "test_util.h"

namespace quorvel {
namespace {

using testing::Joined;

String Key(const char* prefix, int i) {
  return String(FromUtf8(prefix + std::to_string(i)));
}

// Both maps by name: CDict and Scripting.Dictionary, whose Clear and
// RemoveAll are one member under two names.
class MapTest : public ::testing::TestWithParam<std::u16string_view> {
 protected:
  Value Call(std::u16string_view name, CallType t,
             std::initializer_list<Value> args = {}) {
    return CallByName(map_, name, t, args);
  }
  std::u16string Keys() { return Joined(Call(u"Keys", CallType::Get)); }

  Value map_ = CreateObject(GetParam());
  std::u16string_view clear_ = GetParam() == u"CDict" ? u"Clear" : u"RemoveAll";
};

// Keys match exactly and keep their order; reading an absent key adds it.
TEST_P(MapTest, KeysInOrderAndAbsentKeysReadAsEmpty) {
  Value keys = Call(u"Keys", CallType::Get);
  EXPECT_EQ(VarType(keys), 8204);
  EXPECT_EQ(UBound(keys), -1);
  Call(u"Add", CallType::Method, {Value(u"Name"), Value(1)});
  EXPECT_FALSE(ToBoolean(Call(u"Exists", CallType::Method, {Value(u"name")})));
  Call(u"Add", CallType::Method, {Value(u"name"), Value(2)});
  ExpectRaisesStandard(
      Call(u"Add", CallType::Method, {Value(u"Name"), Value(3)}),
      kErrKeyExists);
  EXPECT_EQ(ToLong(Call(u"Item", CallType::Get, {Value(u"Name")})), 1);
  EXPECT_TRUE(Call(u"Item", CallType::Get, {Value(u"b")}).IsEmpty());
  EXPECT_TRUE(ToBoolean(Call(u"Exists", CallType::Method, {Value(u"b")})));
  EXPECT_TRUE(Call(u"", CallType::Get, {Value(u"")}).IsEmpty());
  Call(u"Item", CallType::Let, {Value(u"Name"), Value(u"one")});
  EXPECT_EQ(Keys(), u"Name;name;b;;");  // a write keeps the place
}

// Objects stay identical and clearing releases them.
TEST_P(MapTest, ValuesFollowTheStoreRule) {
  Value inner = CreateObject(u"Scripting.Dictionary");
  const int32_t alone = inner.object()->RefCount();
  Call(u"Item", CallType::Let, {Value(u"obj"), inner});
  Call(u"Item", CallType::Set, {Value(u"set"), inner});
  for (const char16_t* key : {u"obj", u"set"})
    EXPECT_EQ(Call(u"Item", CallType::Get, {Value(key)}).object(),
              inner.object());
  Call(u"Item", CallType::Let, {Value(u"none"), Value::Nothing()});
  EXPECT_TRUE(Call(u"Item", CallType::Get, {Value(u"none")}).IsNothing());
  ExpectRaisesStandard(Call(u"Item", CallType::Set, {Value(u"z"), Value(1)}),
                       kErrObjectRequired);
  EXPECT_EQ(Keys(), u"obj;set;none;");

  Call(clear_, CallType::Method);
  EXPECT_EQ(inner.object()->RefCount(), alone);
  EXPECT_EQ(Keys(), u"");
  ExpectRaisesStandard(LetValue(map_), kErrWrongArgumentCount);
}

INSTANTIATE_TEST_SUITE_P(Maps, MapTest,
                         ::testing::Values(u"CDict", u"Scripting.Dictionary"),
                         [](const auto& info) {
                           return info.index == 0 ? "CDict" : "Dictionary";
                         });

TEST(DictionaryTest, RemoveRenameItemsAndCompareMode) {
  Value d = CreateObject(u"Scripting.Dictionary");
  auto call = [&](std::u16string_view name, CallType t,
                  std::initializer_list<Value> args = {}) {
    return CallByName(d, name, t, args);
  };
  for (const char16_t* k : {u"Name", u"name", u"", u"new"})
    call(u"Add", CallType::Method, {Value(k), Value(1)});
  // A removed key inserted again goes to the end; a number key is its text.
  call(u"Item", CallType::Let, {Value(u"Name"), Value(10)});
  call(u"Remove", CallType::Method, {Value(u"name")});
  call(u"Item", CallType::Let, {Value(u"name"), Value(20)});
  call(u"Add", CallType::Method, {Value(5), Value(u"five")});
  EXPECT_EQ(Joined(call(u"Items", CallType::Method)), u"10;1;1;20;five;");
  call(u"Key", CallType::Let, {Value(u"new"), Value(u"renamed")});
  EXPECT_EQ(Joined(call(u"Keys", CallType::Method)), u"Name;;renamed;name;5;");
  ExpectRaisesStandard(
      call(u"Key", CallType::Let, {Value(u"absent"), Value(u"x")}),
      kErrElementNotFound);
  ExpectRaisesStandard(
      call(u"Key", CallType::Let, {Value(u"renamed"), Value(u"Name")}),
      kErrKeyExists);
  ExpectRaisesStandard(call(u"CompareMode", CallType::Let, {Value(1)}),
                       kErrInvalidCall);  // not empty

  // Mode 2 compares as text, folding capital sharp s simply, never to "ss".
  Ref<Dictionary> text = Dictionary::Create();
  ExpectRaisesStandard(text->LetCompareMode(3), kErrInvalidCall);
  text->LetCompareMode(2);
  EXPECT_EQ(text->CompareMode(), 1);
  text->Add(u"Stra\u00dfe", Value(1));
  EXPECT_TRUE(text->Exists(u"STRA\u1e9eE"));
  text->Add(u"STRASSE", Value(2));
  ExpectRaisesStandard(text->Add(u"strasse", Value(3)), kErrKeyExists);

  // A value copied from inside the dictionary survives the entries growing.
  Ref<Dictionary> grown = Dictionary::Create();
  grown->Add(u"first", Value(u"payload"));
  for (int i = 0; i < 100; ++i)
    grown->LetItem(Key("k", i), *grown->Find(u"first"));
  EXPECT_EQ(grown->Item(u"k99").string_view(), u"payload");
}

TEST(DictionaryTest, StaysCorrectThroughHeavyRemoval) {
  Ref<Dictionary> d = Dictionary::Create();
  auto key = [](int i) { return Key("key-", i); };
  const int n = 2000;
  // An empty key holding Empty, among removed entries, is still an entry.
  d->Add(String(), Value());
  for (int i = 0; i < n; ++i) d->Add(key(i), Value(i));
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < n; ++i)
      if (i % 10 != round) d->Remove(key(i));
    for (int i = 0; i < n; ++i)
      if (i % 10 != round) d->Add(key(i), Value(i + 1));
  }
  EXPECT_EQ(d->Count(), n + 1);
  for (int i = 0; i < n; ++i) {
    const Value* v = d->Find(key(i));
    ASSERT_TRUE(v != nullptr && ToLong(*v) == i + 1) << i;
  }
  // Survivors of the last round come first, in their original order.
  Value keys = d->Keys();
  EXPECT_EQ(ArrayItem(keys, 0).string_view(), u"");
  EXPECT_EQ(ArrayItem(keys, 1).string_view(), u"key-2");
  EXPECT_EQ(ArrayItem(keys, 2).string_view(), u"key-12");
}

TEST(DictionaryTest, WalksByPositionThroughChanges) {
  Ref<Dictionary> d = Dictionary::Create();
  for (int i = 0; i < 40; ++i) d->Add(Key("k", i), Value(i));
  d->Remove(u"k1");  // a hole the walk must pass over
  std::string seen;
  size_t position = 0;
  while (const Dictionary::Entry* e = d->NextEntry(position)) {
    const int i = ToLong(e->value);
    seen += std::to_string(i) + ",";
    if (i == 2) d->Add(u"late", Value(99));  // met at the end
    if (i == 3) d->Remove(u"k4");            // not met at all
  }
  std::string expected = "0,2,3,";
  for (int i = 5; i < 40; ++i) expected += std::to_string(i) + ",";
  EXPECT_EQ(seen, expected + "99,");
}

// Maps filled by AppendDistinct (odd counts) or TakeDistinct index on the
// first keyed access: a Find, an Add or a LetKey.
TEST(DictionaryTest, IndexBuiltOnFirstKeyedAccess) {
  auto key = [](size_t i) { return FromUtf8("Key" + std::to_string(i)); };
  for (size_t count : {8, 9, 40, 13}) {
    Ref<Dictionary> d = Dictionary::Create();
    d->LetCompareMode(count > 10 ? 1 : 0);
    d->Reserve(count);
    std::vector<Dictionary::Entry> entries;
    for (size_t i = 0; i < count; ++i) {
      if (count % 2) d->AppendDistinct(key(i), Value(int32_t(i)));
      if (count % 2 == 0) entries.push_back({key(i), Value(int32_t(i))});
    }
    if (!entries.empty()) d->TakeDistinct(entries.data(), entries.size());
    if (count == 40)
      ExpectRaisesStandard(d->Add(u"KEY2", Value(0)), kErrKeyExists);
    if (count == 13) {
      ExpectRaisesStandard(d->LetKey(u"key1", key(2)), kErrKeyExists);
      d->LetKey(u"KEY1", u"one");
      d->LetKey(u"one", key(1));
    }
    // Whatever came first, keys are found and keep the order of appending.
    for (size_t i = 0; i < count; ++i) {
      const Value* v = d->Find(key(i));
      ASSERT_TRUE(v != nullptr && ToLong(*v) == static_cast<int32_t>(i));
    }
    EXPECT_EQ(d->Find(u"absent"), nullptr);
    const Value keys = d->Keys();
    EXPECT_EQ(ArrayItem(keys, UBound(keys)).string_view(), key(count - 1));
    d->AppendDistinct(u"late", Value(1));
    Dictionary::Entry later[] = {{u"later", Value(2)}, {u"last", Value(3)}};
    d->TakeDistinct(later, 2);  // into an indexed map
    EXPECT_TRUE(d->Exists(u"late"));
    EXPECT_EQ(ToLong(*d->Find(u"last")), 3);
    EXPECT_EQ(d->Count(), static_cast<int32_t>(count) + 3);
  }
}

}  // namespace
}  // namespace quorvel
