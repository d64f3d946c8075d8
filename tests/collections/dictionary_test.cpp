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

// Both maps by name: CDict and Scripting.Dictionary, whose Clear and
// RemoveAll are one member under two names.
class MapTest : public ::testing::TestWithParam<std::u16string_view> {
 protected:
  Value Call(std::u16string_view name, CallType t,
             std::initializer_list<Value> args = {}) {
    return CallByName(map_, name, t, args);
  }
  std::u16string Keys() { return Joined(Call(u"Keys", CallType::Get)); }
  int32_t Count() { return ToLong(Call(u"Count", CallType::Get)); }

  Value map_ = CreateObject(GetParam());
  std::u16string_view clear_ = GetParam() == u"CDict" ? u"Clear" : u"RemoveAll";
};

// Keys match code unit for code unit and keep their order; reading an
// absent key (the default member too) inserts it with Empty at the end.
TEST_P(MapTest, KeysInOrderAndAbsentKeysReadAsEmpty) {
  Value keys = Call(u"Keys", CallType::Get);
  EXPECT_EQ(VarType(keys), 8204);
  EXPECT_EQ(LBound(keys), 0);
  EXPECT_EQ(UBound(keys), -1);
  EXPECT_TRUE(
      Call(u"Add", CallType::Method, {Value(u"Name"), Value(1)}).IsEmpty());
  EXPECT_FALSE(ToBoolean(Call(u"Exists", CallType::Method, {Value(u"name")})));
  Call(u"Add", CallType::Method, {Value(u"name"), Value(2)});
  ExpectRaisesStandard(
      Call(u"Add", CallType::Method, {Value(u"Name"), Value(3)}),
      kErrKeyExists);
  EXPECT_EQ(ToLong(Call(u"Item", CallType::Get, {Value(u"Name")})), 1);
  EXPECT_TRUE(Call(u"Item", CallType::Get, {Value(u"b")}).IsEmpty());
  EXPECT_TRUE(ToBoolean(Call(u"Exists", CallType::Method, {Value(u"b")})));
  EXPECT_TRUE(Call(u"", CallType::Get, {Value(u"")}).IsEmpty());
  EXPECT_EQ(Count(), 4);
  Call(u"Item", CallType::Let, {Value(u"Name"), Value(u"one")});
  EXPECT_EQ(Keys(), u"Name;name;b;;");  // a write keeps the place
}

// Objects stay identical, even through a write by value; arrays are copied
// in and out; clearing releases what only the map held.
TEST_P(MapTest, ValuesFollowTheStoreRule) {
  Value inner = CreateObject(u"Scripting.Dictionary");
  const int32_t alone = inner.object()->RefCount();
  Call(u"Item", CallType::Let, {Value(u"obj"), inner});
  Call(u"Item", CallType::Set, {Value(u"set"), inner});
  CallByName(inner, u"Add", CallType::Method, {Value(u"k"), Value(7)});
  for (const char16_t* key : {u"obj", u"set"}) {
    Value back = Call(u"Item", CallType::Get, {Value(key)});
    EXPECT_EQ(back.object(), inner.object());
    EXPECT_EQ(ToLong(CallByName(back, u"Item", CallType::Get, {Value(u"k")})),
              7);
  }
  Call(u"Item", CallType::Let, {Value(u"none"), Value::Nothing()});
  EXPECT_TRUE(Call(u"Item", CallType::Get, {Value(u"none")}).IsNothing());
  ExpectRaisesStandard(Call(u"Item", CallType::Set, {Value(u"z"), Value(1)}),
                       kErrObjectRequired);
  EXPECT_FALSE(ToBoolean(Call(u"Exists", CallType::Method, {Value(u"z")})));
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
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(UBound(Call(u"Keys", CallType::Get)), -1);
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
  // Removing keeps the others' order; a removed key inserted again goes to
  // the end; other kinds of key are taken as their text.
  call(u"Item", CallType::Let, {Value(u"Name"), Value(10)});
  call(u"Remove", CallType::Method, {Value(u"name")});
  call(u"Item", CallType::Let, {Value(u"name"), Value(20)});
  ExpectRaisesStandard(call(u"Remove", CallType::Method, {Value(u"absent")}),
                       kErrElementNotFound);
  call(u"Add", CallType::Method, {Value(5), Value(u"five")});
  EXPECT_EQ(ToUtf8(ToText(call(u"Item", CallType::Get, {Value(u"5")}))),
            "five");
  Value items = call(u"Items", CallType::Method);
  EXPECT_EQ(ToLong(ArrayItem(items, 0)), 10);
  EXPECT_EQ(ToLong(ArrayItem(items, 3)), 20);
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
  EXPECT_EQ(ToLong(call(u"Count", CallType::Get)), 5);

  // Text mode folds simply: capital sharp s to sharp s, never to "ss";
  // database comparison (2) compares as text; nothing beyond it is a mode.
  Ref<Dictionary> text = Dictionary::Create();
  ExpectRaisesStandard(text->LetCompareMode(3), kErrInvalidCall);
  ExpectRaisesStandard(text->LetCompareMode(-1), kErrInvalidCall);
  text->LetCompareMode(2);
  EXPECT_EQ(text->CompareMode(), 1);
  text->Add(u"Stra\u00dfe", Value(1));
  EXPECT_TRUE(text->Exists(u"STRA\u1e9eE"));
  EXPECT_TRUE(text->Exists(u"stra\u00dfe"));
  text->Add(u"STRASSE", Value(2));
  ExpectRaisesStandard(text->Add(u"strasse", Value(3)), kErrKeyExists);
  EXPECT_EQ(text->Count(), 2);
  EXPECT_EQ(ToLong(text->Item(u"sTrAsSe")), 2);

  // A value copied from inside the dictionary survives the entries growing.
  Ref<Dictionary> grown = Dictionary::Create();
  grown->Add(u"first", Value(u"payload"));
  for (int i = 0; i < 100; ++i)
    grown->LetItem(String(u"k" + std::u16string(1, char16_t(u'0' + i % 10)) +
                          std::u16string(1, char16_t(u'0' + i / 10))),
                   *grown->Find(u"first"));
  EXPECT_EQ(grown->Item(u"k00").string_view(), u"payload");
  std::u16string seen;
  ForEachElement(Value(grown), [&](const Value& v) {
    if (seen.size() < 8) seen += v.string_view();
  });
  EXPECT_EQ(seen, u"firstk00");  // the keys, in order
}

TEST(DictionaryTest, StaysCorrectThroughHeavyRemoval) {
  Ref<Dictionary> d = Dictionary::Create();
  auto key = [](int i) { return String(FromUtf8("key-" + std::to_string(i))); };
  const int n = 20000;
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
    ASSERT_NE(v, nullptr) << i;
    EXPECT_EQ(ToLong(*v), i + 1) << i;
  }
  // Survivors of the last round come first, in their original order.
  Value keys = d->Keys();
  EXPECT_EQ(UBound(keys), n);
  EXPECT_EQ(ArrayItem(keys, 0).string_view(), u"");
  EXPECT_EQ(ArrayItem(keys, 1).string_view(), u"key-2");
  EXPECT_EQ(ArrayItem(keys, 2).string_view(), u"key-12");
  EXPECT_FALSE(d->Exists(u"key-20000"));
}

TEST(DictionaryTest, WalksByPositionThroughChanges) {
  Ref<Dictionary> d = Dictionary::Create();
  auto key = [](int i) { return String(FromUtf8("k" + std::to_string(i))); };
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

  // Removing most entries compacts the storage under the walk: the walk
  // stays within the entries that exist and ends.
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

// Maps filled by AppendDistinct index their keys on the first keyed access,
// whichever member makes it, and from several threads at once.
TEST(DictionaryTest, IndexBuiltOnFirstKeyedAccess) {
  enum class First { kFind, kThreads, kSlot, kAdd, kRemove, kLetKey };
  const struct {
    size_t count;
    int32_t mode;
    First first;
  } kCases[] = {{3, 0, First::kFind},     {8, 0, First::kSlot},
                {9, 0, First::kThreads},  {40, 0, First::kFind},
                {40, 0, First::kThreads}, {40, 1, First::kAdd},
                {40, 0, First::kRemove},  {12, 1, First::kLetKey}};
  auto key = [](size_t i) { return FromUtf8("Key" + std::to_string(i)); };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message()
                 << c.count << " keys, mode " << c.mode << ", first "
                 << static_cast<int>(c.first));
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
    const std::u16string probe = c.mode == 1 ? u"KEY2" : u"Key2";
    switch (c.first) {
      case First::kFind:
        EXPECT_EQ(ToLong(*d->Find(probe)), 2);
        break;
      case First::kThreads: {
        std::vector<std::thread> readers;
        std::vector<int> found(4, 0);
        for (int t = 0; t < 4; ++t) {
          readers.emplace_back([&, t] {
            for (size_t i = 0; i < c.count; ++i)
              found[t] += d->Exists(key(i)) ? 1 : 0;
          });
        }
        for (std::thread& t : readers) t.join();
        EXPECT_EQ(found, std::vector<int>(4, static_cast<int>(c.count)));
        break;
      }
      case First::kSlot: {
        bool inserted = true;
        EXPECT_EQ(ToLong(d->Slot(key(2), &inserted)), 2);
        EXPECT_FALSE(inserted);
        break;
      }
      case First::kAdd:
        ExpectRaisesStandard(d->Add(probe, Value(0)), kErrKeyExists);
        break;
      case First::kRemove:
        d->Remove(key(0));
        ExpectRaisesStandard(d->Remove(key(0)), kErrElementNotFound);
        d->Add(key(0), Value(0));  // back, at the end
        break;
      case First::kLetKey:
        ExpectRaisesStandard(d->LetKey(u"key1", key(2)), kErrKeyExists);
        d->LetKey(u"KEY1", u"one");
        d->LetKey(u"one", key(1));
        break;
    }
    // Whatever came first, every key is found, absent ones are not, and the
    // order is the order of appending.
    EXPECT_EQ(d->Count(), static_cast<int32_t>(c.count));
    for (size_t i = 0; i < c.count; ++i) {
      ASSERT_NE(d->Find(key(i)), nullptr) << i;
      EXPECT_EQ(ToLong(*d->Find(key(i))), static_cast<int32_t>(i));
    }
    EXPECT_EQ(d->Find(u"absent"), nullptr);
    const Value keys = d->Keys();
    EXPECT_EQ(ArrayItem(keys, UBound(keys)).string_view(),
              c.first == First::kRemove ? key(0) : key(c.count - 1));
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
