#include "quorvel/dictionary.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "test_util.h"

namespace quorvel {
namespace {

std::vector<std::u16string> KeysOf(const Value& keys) {
  std::vector<std::u16string> out;
  for (int32_t i = LBound(keys); i <= UBound(keys); ++i)
    out.emplace_back(ArrayItem(keys, i).string_view());
  return out;
}

using Keys = std::vector<std::u16string>;

TEST(DictionaryTest, RowsOfMembersByName) {
  Value d = CreateObject(u"Scripting.Dictionary");
  auto call = [&](std::u16string_view name, CallType t,
                  std::initializer_list<Value> args = {}) {
    return CallByName(d, name, t, args);
  };
  EXPECT_EQ(ToLong(call(u"Count", CallType::Get)), 0);
  EXPECT_EQ(ToLong(call(u"CompareMode", CallType::Get)), 0);
  Value keys = call(u"Keys", CallType::Method);
  EXPECT_EQ(VarType(keys), 8204);
  EXPECT_EQ(LBound(keys), 0);
  EXPECT_EQ(UBound(keys), -1);

  call(u"Add", CallType::Method, {Value(u"Name"), Value(1)});
  call(u"Add", CallType::Method, {Value(u"name"), Value(2)});
  call(u"Add", CallType::Method, {Value(u""), Value(3)});
  ExpectRaises(call(u"Add", CallType::Method, {Value(u"Name"), Value(9)}), 457,
               u"KxQuorvel",
               u"This key is already associated with an element of this "
               u"collection");
  EXPECT_EQ(ToLong(call(u"Item", CallType::Get, {Value(u"Name")})), 1);
  EXPECT_TRUE(ToBoolean(call(u"Exists", CallType::Method, {Value(u"")})));
  EXPECT_FALSE(ToBoolean(call(u"Exists", CallType::Method, {Value(u"NAME")})));

  // Reading an absent key inserts it with Empty, at the end.
  EXPECT_TRUE(call(u"", CallType::Get, {Value(u"new")}).IsEmpty());
  EXPECT_EQ(ToLong(call(u"Count", CallType::Get)), 4);
  EXPECT_EQ(KeysOf(call(u"Keys", CallType::Method)),
            (Keys{u"Name", u"name", u"", u"new"}));

  // Replacing keeps the place; removing keeps the others' order; a removed
  // key inserted again goes to the end.
  call(u"Item", CallType::Let, {Value(u"Name"), Value(10)});
  call(u"Remove", CallType::Method, {Value(u"name")});
  call(u"Item", CallType::Let, {Value(u"name"), Value(20)});
  EXPECT_EQ(KeysOf(call(u"Keys", CallType::Method)),
            (Keys{u"Name", u"", u"new", u"name"}));
  Value items = call(u"Items", CallType::Method);
  EXPECT_EQ(ToLong(ArrayItem(items, 0)), 10);
  EXPECT_EQ(ToLong(ArrayItem(items, 3)), 20);

  ExpectRaises(call(u"Remove", CallType::Method, {Value(u"absent")}), 32811,
               u"KxQuorvel", u"Element not found");
  EXPECT_EQ(ToLong(call(u"Count", CallType::Get)), 4);

  // Keys are Strings: other kinds are taken as their text.
  call(u"Add", CallType::Method, {Value(5), Value(u"five")});
  EXPECT_EQ(ToUtf8(ToText(call(u"Item", CallType::Get, {Value(u"5")}))),
            "five");

  call(u"Key", CallType::Let, {Value(u"new"), Value(u"renamed")});
  EXPECT_EQ(KeysOf(call(u"Keys", CallType::Method)),
            (Keys{u"Name", u"", u"renamed", u"name", u"5"}));
  ExpectRaisesStandard(
      call(u"Key", CallType::Let, {Value(u"absent"), Value(u"x")}),
      kErrElementNotFound);
  ExpectRaisesStandard(
      call(u"Key", CallType::Let, {Value(u"renamed"), Value(u"Name")}),
      kErrKeyExists);

  ExpectRaisesStandard(call(u"CompareMode", CallType::Let, {Value(1)}),
                       kErrInvalidCall);  // not empty
  call(u"RemoveAll", CallType::Method);
  EXPECT_EQ(ToLong(call(u"Count", CallType::Get)), 0);
  EXPECT_EQ(UBound(call(u"Keys", CallType::Method)), -1);
}

TEST(DictionaryTest, ValuesFollowTheStoreRule) {
  Ref<Dictionary> d = Dictionary::Create();
  Value inner = CreateObject(u"CDict");
  d->SetItem(u"obj", inner);
  d->LetItem(u"also", inner);  // a write by value of an object keeps it too
  d->Add(u"arr", MakeArray({Value(1)}));
  EXPECT_EQ(d->Item(u"obj").object(), inner.object());
  EXPECT_EQ(d->Item(u"also").object(), inner.object());
  Value arr = d->Item(u"arr");
  arr.array().Put(0, Value(2));
  EXPECT_EQ(ToLong(ArrayItem(d->Item(u"arr"), 0)), 1);
  ExpectRaisesStandard(d->SetItem(u"x", Value(1)), kErrObjectRequired);
  EXPECT_FALSE(d->Exists(u"x"));
  // Releasing the dictionary releases what only it held.
  const int32_t held = inner.object()->RefCount();
  d->RemoveAll();
  EXPECT_EQ(inner.object()->RefCount(), held - 2);
  // A value copied from inside the dictionary survives the entries growing.
  d->Add(u"first", Value(u"payload"));
  for (int i = 0; i < 100; ++i)
    d->LetItem(String(u"k" + std::u16string(1, char16_t(u'0' + i % 10)) +
                      std::u16string(1, char16_t(u'0' + i / 10))),
               *d->Find(u"first"));
  EXPECT_EQ(d->Item(u"k00").string_view(), u"payload");
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

TEST(DictionaryTest, TextModeMatchesIgnoringCase) {
  Ref<Dictionary> d = Dictionary::Create();
  d->LetCompareMode(1);
  d->Add(u"Stra\u00dfe", Value(1));
  EXPECT_TRUE(d->Exists(u"STRA\u1e9eE"));  // capital sharp s folds to sharp s
  EXPECT_TRUE(d->Exists(u"stra\u00dfe"));
  // Simple folding keeps sharp s apart from "ss".
  d->Add(u"STRASSE", Value(2));
  ExpectRaisesStandard(d->Add(u"strasse", Value(3)), kErrKeyExists);
  EXPECT_EQ(d->Count(), 2);
  EXPECT_EQ(ToLong(d->Item(u"sTrAsSe")), 2);

  // Database comparison (2) compares as text; nothing beyond it is a mode.
  Ref<Dictionary> db = Dictionary::Create();
  ExpectRaisesStandard(db->LetCompareMode(3), kErrInvalidCall);
  ExpectRaisesStandard(db->LetCompareMode(-1), kErrInvalidCall);
  db->LetCompareMode(2);
  EXPECT_EQ(db->CompareMode(), 1);
  db->Add(u"Key", Value(1));
  EXPECT_TRUE(db->Exists(u"KEY"));
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

TEST(DictionaryTest, EnumeratesKeysInOrder) {
  Value d = CreateObject(u"Scripting.Dictionary");
  for (auto k : {u"b", u"a", u"c"})
    CallByName(d, u"Add", CallType::Method, {Value(k), Value(1)});
  std::u16string seen;
  ForEachElement(d, [&](const Value& v) { seen += v.string_view(); });
  EXPECT_EQ(seen, u"bac");
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
    const Keys keys = KeysOf(d->Keys());
    EXPECT_EQ(keys.back(),
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
