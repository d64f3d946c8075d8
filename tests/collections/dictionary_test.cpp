// Dictionary, and what CDict shares with it by name.
#include "quorvel/dictionary.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
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

// Objects stay identical, arrays are copies, clearing releases them.
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
  std::vector<Value> args = {Value(u"arr"), MakeArray({Value(1)})};
  CallByName(map_, u"Item", CallType::Let, std::span<Value>(args));
  Value stored = Call(u"Item", CallType::Get, {Value(u"arr")});
  stored.array().Put(0, Value(5));
  EXPECT_EQ(ToLong(ArrayItem(args[1], 0)), 1);
  EXPECT_EQ(ToLong(ArrayItem(Call(u"Item", CallType::Get, {Value(u"arr")}), 0)),
            1);
  EXPECT_EQ(Keys(), u"obj;set;none;arr;");

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
  EXPECT_EQ(ToLong(call(u"CompareMode", CallType::Get)), 0);
  for (const char16_t* k : {u"Name", u"name", u"", u"new"})
    call(u"Add", CallType::Method, {Value(k), Value(1)});
  // A removed key inserted again goes to the end; a number key is its text.
  call(u"Item", CallType::Let, {Value(u"Name"), Value(10)});
  call(u"Remove", CallType::Method, {Value(u"name")});
  call(u"Item", CallType::Let, {Value(u"name"), Value(20)});
  ExpectRaisesStandard(call(u"Remove", CallType::Method, {Value(u"absent")}),
                       kErrElementNotFound);
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
  std::u16string seen;  // a walk yields the keys, in order
  ForEachElement(Value(grown), [&](const Value& v) {
    if (seen.size() < 7) seen += v.string_view();
  });
  EXPECT_EQ(seen, u"firstk0");
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
  EXPECT_EQ(UBound(keys), n);
  EXPECT_EQ(ArrayItem(keys, 0).string_view(), u"");
  EXPECT_EQ(ArrayItem(keys, 1).string_view(), u"key-2");
  EXPECT_EQ(ArrayItem(keys, 2).string_view(), u"key-12");
  EXPECT_FALSE(d->Exists(u"key-2000"));
}

TEST(DictionaryTest, WalksByPositionThroughChanges) {
  Ref<Dictionary> d = Dictionary::Create();
  auto key = [](int i) { return Key("k", i); };
  for (int i = 0; i < 40; ++i) d->Add(key(i), Value(i));
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

  // Removing most entries compacts the storage under the walk, which ends.
  position = 0;
  int steps = 0;
  while (d->NextEntry(position) != nullptr) {
    if (++steps == 5) {
      for (int i = 0; i < 40; ++i)
        if (i != 30 && d->Exists(key(i).view())) d->Remove(key(i).view());
    }
    ASSERT_LE(steps, 42);
  }
  EXPECT_EQ(d->Count(), 2);
  size_t from_start = 0;
  EXPECT_EQ(d->NextEntry(from_start)->key.view(), u"k30");
  EXPECT_EQ(d->NextEntry(from_start)->key.view(), u"late");
  EXPECT_EQ(d->NextEntry(from_start), nullptr);
}

// Maps filled by AppendDistinct index on the first keyed access, any thread.
TEST(DictionaryTest, IndexBuiltOnFirstKeyedAccess) {
  enum class First { kFind, kThreads, kAdd, kLetKey };
  const struct {
    size_t count;
    int32_t mode;
    First first;
  } kCases[] = {{3, 0, First::kFind},    {8, 0, First::kFind},
                {9, 0, First::kThreads}, {40, 0, First::kThreads},
                {40, 1, First::kAdd},    {12, 1, First::kLetKey}};
  auto key = [](size_t i) { return FromUtf8("Key" + std::to_string(i)); };
  for (const auto& c : kCases) {
    Ref<Dictionary> d = Dictionary::Create();
    d->LetCompareMode(c.mode);
    d->Reserve(c.count);
    if (c.count % 2 == 0) {  // in one step
      std::vector<Dictionary::Entry> entries;
      for (size_t i = 0; i < c.count; ++i)
        entries.push_back({key(i), Value(int32_t(i))});
      d->TakeDistinct(entries.data(), entries.size());
    } else {
      for (size_t i = 0; i < c.count; ++i)
        d->AppendDistinct(key(i), Value(int32_t(i)));
    }
    if (c.first == First::kThreads) {
      std::vector<std::thread> readers;
      std::vector<int> found(4, 0);
      for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&, t] {
          for (size_t i = 0; i < c.count; ++i) found[t] += d->Exists(key(i));
        });
      }
      for (std::thread& t : readers) t.join();
      EXPECT_EQ(found, std::vector<int>(4, static_cast<int>(c.count)));
    } else if (c.first == First::kAdd) {
      ExpectRaisesStandard(d->Add(u"KEY2", Value(0)), kErrKeyExists);
    } else if (c.first == First::kLetKey) {
      ExpectRaisesStandard(d->LetKey(u"key1", key(2)), kErrKeyExists);
      d->LetKey(u"KEY1", u"one");
      d->LetKey(u"one", key(1));
    }
    // Whatever came first, keys are found and keep the order of appending.
    EXPECT_EQ(d->Count(), static_cast<int32_t>(c.count));
    for (size_t i = 0; i < c.count; ++i) {
      const Value* v = d->Find(key(i));
      ASSERT_TRUE(v != nullptr && ToLong(*v) == static_cast<int32_t>(i));
    }
    EXPECT_EQ(d->Find(u"absent"), nullptr);
    const Value keys = d->Keys();
    EXPECT_EQ(ArrayItem(keys, UBound(keys)).string_view(), key(c.count - 1));
    d->AppendDistinct(u"late", Value(1));
    Dictionary::Entry later[] = {{u"later", Value(2)}, {u"last", Value(3)}};
    d->TakeDistinct(later, 2);  // into an indexed map
    EXPECT_TRUE(d->Exists(u"late"));
    EXPECT_EQ(ToLong(*d->Find(u"last")), 3);
    EXPECT_EQ(d->Count(), static_cast<int32_t>(c.count) + 3);
  }
}

}  // namespace
}  // namespace quorvel
