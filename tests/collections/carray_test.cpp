#include "quorvel/carray.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "test_util.h"

namespace quorvel {
namespace {

Ref<CArray> Of(std::initializer_list<Value> items) {
  Ref<CArray> a = CArray::Create();
  for (const Value& v : items) a->Add(v);
  return a;
}

// "1|a|Null|" style: the text of every element, for compact comparisons.
std::u16string Dump(const CArray& a) {
  std::u16string out;
  for (const Value& v : a) {
    out += v.IsNull() ? u"Null" : v.IsObject() ? u"Obj" : ToText(v).str();
    out += u'|';
  }
  return out;
}

std::vector<int32_t> Longs(const CArray& a) {
  std::vector<int32_t> out;
  for (const Value& v : a) out.push_back(v.long_value());
  return out;
}

// The error of an index outside 0 to `highest`, named as it was passed.
std::u16string OutOfBounds(int64_t index, int32_t highest) {
  return u"Index (" + ToText(Value(static_cast<double>(index))).str() +
         u") is out of bounds (0 - " + ToText(Value(highest)).str() + u")";
}

class ByLength : public ISortCallback {
 public:
  Value Apply(const Value& v) override {
    ++calls;
    return Value(static_cast<int32_t>(v.string_view().size()));
  }
  int calls = 0;
};

class ThrowsAfter : public ISortCallback {
 public:
  explicit ThrowsAfter(int n) : left_(n) {}
  Value Apply(const Value& v) override {
    if (--left_ < 0) ErrorRaise(1234, u"Client", u"stop");
    return v;
  }

 private:
  int left_;
};

class IsEven : public IFilterCallback {
 public:
  bool Test(const Value& v) override { return ToLong(v) % 2 == 0; }
};

// Indexes from 0, negative ones from the end; Insert takes Count (and 0 on
// an empty list) as the end. Errors name the index as passed.
TEST(CArrayTest, IndexBoundaries) {
  Ref<CArray> a = CArray::Create();
  ExpectRaises(a->Item(0), 9, u"CArray",
               u"Index (0) is out of bounds (0 - -1)");
  ExpectRaises(a->Insert(-1, Value(1)), 9, u"CArray", OutOfBounds(-1, 0));
  a->Insert(0, Value(30));
  a->Insert(0, Value(10));
  a->Insert(a->Count(), Value(40));
  a->Insert(-1, Value(20));  // before the last
  EXPECT_EQ(Longs(*a), (std::vector<int32_t>{10, 30, 20, 40}));
  EXPECT_EQ(a->Item(-1).long_value(), 40);
  EXPECT_EQ(a->Item(-4).long_value(), 10);
  ExpectRaises(a->Item(-5), 9, u"CArray", OutOfBounds(-5, 3));
  ExpectRaises(a->Item(4), 9, u"CArray", OutOfBounds(4, 3));
  ExpectRaises(a->Insert(5, Value(1)), 9, u"CArray", OutOfBounds(5, 4));
  ExpectRaises(a->Remove(INT32_MIN), 9, u"CArray",
               u"Index (-2147483648) is out of bounds (0 - 3)");
  EXPECT_EQ(a->Remove(1).long_value(), 30);
  EXPECT_EQ(a->Pop().long_value(), 40);
  EXPECT_EQ(Longs(*a), (std::vector<int32_t>{10, 20}));

  // The same through late binding; Item is the default member.
  Value b = CreateObject(u"KxQuorvel.CArray");
  ExpectRaises(CallByName(b, u"", CallType::Get, {Value(0)}), 9, u"CArray",
               OutOfBounds(0, -1));
  CallByName(b, u"Add", CallType::Method, {Value(u"x")});
  EXPECT_EQ(CallByName(b, u"", CallType::Get, {Value(-1.0)}).string_view(),
            u"x");
  EXPECT_EQ(
      CallByName(b, u"Remove", CallType::Method, {Value(0)}).string_view(),
      u"x");
  ExpectRaises(CallByName(b, u"Pop", CallType::Method), 9, u"CArray",
               u"Pop from empty list");
  ExpectRaisesStandard(CallByName(b, u"Item", CallType::Get, {Value(u"z")}),
                       kErrTypeMismatch);
}

// Room grows from 20 by doubling and never shrinks but on Clear; a list
// given exact room grows onto the same series.
TEST(CArrayTest, Growth) {
  Ref<CArray> a = CArray::Create();
  EXPECT_EQ(a->capacity(), 0);
  for (int32_t i = 0; i < 20; ++i) a->Add(Value(i));
  EXPECT_EQ(a->capacity(), 20);
  a->Add(Value(20));
  EXPECT_EQ(a->capacity(), 40);
  a->Clear();
  EXPECT_EQ(a->Count(), 0);
  EXPECT_EQ(a->capacity(), 0);
  a->AddMultiple({});
  EXPECT_EQ(a->capacity(), 0);
  a->AddMultiple(std::vector<Value>(50, Value(7)));
  EXPECT_EQ(a->capacity(), 80);
  a->EnsureCapacity(161);
  EXPECT_EQ(a->capacity(), 320);
  // Past 20 * 2^26 the doubling overflows; nothing changes.
  ExpectRaisesStandard(a->EnsureCapacity(1342177281), kErrOverflow);
  a->Remove(0);
  EXPECT_EQ(a->capacity(), 320);
  EXPECT_EQ(a->Count(), 49);
  for (int32_t exact : {1, 3, 20, 25, 40}) {
    Ref<CArray> e = CArray::Create();
    e->ReserveExact(exact);
    EXPECT_EQ(e->capacity(), exact);
    for (int32_t i = 0; i < exact; ++i) e->Add(Value(u"x"));
    EXPECT_EQ(e->capacity(), exact);
    EXPECT_EQ(e->Item(exact - 1).string(), u"x");
    e->Add(Value(1));
    EXPECT_EQ(e->capacity(), exact < 20 ? 20 : exact < 40 ? 40 : 80) << exact;
    EXPECT_EQ(e->Count(), exact + 1);
  }
  // A self-append of an element at the growth point keeps the element alive.
  Ref<CArray> c = CArray::Create();
  for (int32_t i = 0; i < 20; ++i)
    c->Add(Value(u"s" + std::u16string(1, u'a' + i % 26)));
  c->Add(c->Item(0));
  c->Insert(0, c->Item(-1));
  EXPECT_EQ(c->Item(0).string_view(), u"sa");
  EXPECT_EQ(c->Item(-1).string_view(), u"sa");
}

// Objects stay identical wherever they are stored or read; arrays are
// copied in and out; value assignment of an object reads its value.
TEST(CArrayTest, ObjectsStayIdenticalAndArraysAreCopies) {
  Value a = CreateObject(u"CArray");
  CArray& list = *a.object_as<CArray>();
  Value inner = CreateObject(u"Scripting.Dictionary");
  list.Add(inner);
  CallByName(a, u"AddMultiple", CallType::Method, {Value(1), inner});
  CallByName(a, u"Insert", CallType::Method, {Value(0), inner});
  CallByName(a, u"Item", CallType::Set, {Value(2), inner});
  for (int32_t i : {0, 1, 2, 3})
    EXPECT_EQ(CallByName(a, u"Item", CallType::Get, {Value(i)}).object(),
              inner.object());
  EXPECT_EQ(list.Remove(0).object(), inner.object());
  EXPECT_EQ(list.Pop().object(), inner.object());
  ExpectRaisesStandard(CallByName(a, u"Item", CallType::Let,
                                  {Value(0), Value(CArray::Create())}),
                       kErrWrongArgumentCount);
  ExpectRaisesStandard(
      CallByName(a, u"Item", CallType::Let, {Value(0), Value::Nothing()}),
      kErrObjectNotSet);
  ExpectRaisesStandard(
      CallByName(a, u"Item", CallType::Set, {Value(0), Value(5)}),
      kErrObjectRequired);
  CallByName(a, u"Item", CallType::Set, {Value(0), Value::Nothing()});
  EXPECT_TRUE(list.Item(0).IsNothing());
  CallByName(a, u"Item", CallType::Let, {Value(-1), Value(u"t")});
  EXPECT_EQ(list.Item(1).string_view(), u"t");

  Value arr = MakeArray({Value(1), Value(2)});
  list.Add(arr);
  arr.array().Put(0, Value(9));
  Value back = CallByName(a, u"Item", CallType::Get, {Value(-1)});
  EXPECT_EQ(ToLong(ArrayItem(back, 0)), 1);
  back.array().Put(0, Value(8));
  EXPECT_EQ(ToLong(ArrayItem(list.Item(-1), 0)), 1);
}

// Null first, numbers by value and before any text, text ignoring case,
// objects by their default value; what the comparison cannot order falls
// back to the texts.
TEST(CArrayTest, CompareValues) {
  const std::tuple<Value, Value, int32_t> cases[] = {
      {Value(2), Value(u"10"), -1}, {Value(u"abc"), Value(u"ABC"), 0},
      {Value(5), Value::Null(), 1}, {Value::Null(), Value::Null(), 0},
      {Value(), Value(0), 0},       {Value::Null(), Value(5), -1},
      {Value(2.5), Value(2), 1},    {Value(u"a"), Value(u"B"), -1},
      {Value(), Value(u""), 0},     {Value(int16_t{2}), Value(2.0), 0},
      {Value(true), Value(0), -1},  {Value(100), Value(u"5"), -1}};
  for (const auto& [a, b, expected] : cases)
    EXPECT_EQ(CArray::CompareValues(a, b), expected)
        << testing::U8(TypeName(a)) << " vs " << testing::U8(TypeName(b));
  ExpectRaisesStandard(CArray::CompareValues(MakeArray({}), Value(1)),
                       kErrTypeMismatch);
  ExpectRaisesStandard(CArray::CompareValues(Value::Nothing(), Value(1)),
                       kErrObjectNotSet);
  ExpectRaisesStandard(CArray::CompareValues(Value(1), Value(CArray::Create())),
                       kErrWrongArgumentCount);
}

// Slice from Start to Finish inclusive by Step (Missing or Empty: the ends;
// from 0 down to 2 is nothing); Subset by length, -1 for the rest.
TEST(CArrayTest, SliceAndSubset) {
  Ref<CArray> a = Of({Value(10), Value(20), Value(30)});
  const Value m = Value::Missing();
  const std::tuple<Value, Value, int32_t, std::u16string_view> slices[] = {
      {Value(0), Value(1), 1, u"10|20|"},      {m, m, 1, u"10|20|30|"},
      {Value(-1), Value(0), -1, u"30|20|10|"}, {Value(1), m, 1, u"20|30|"},
      {Value(), Value(2), 2, u"10|30|"},       {m, m, -1, u""},
      {Value(0), Value(2), INT32_MAX, u"10|"}, {Value(2), Value(0), 1, u""},
      {Value(2), Value(0), INT32_MIN, u"30|"}};
  for (const auto& [start, finish, step, expected] : slices)
    EXPECT_EQ(Dump(*a->Slice(start, finish, step)), expected);
  ExpectRaises(a->Slice(Value(0), Value(2), 0), 5, u"CArray",
               u"Step cannot be zero");
  ExpectRaises(a->Slice(Value(5), Value(0), 0), 9, u"CArray",
               OutOfBounds(5, 2));
  ExpectRaises(a->Slice(Value(0), Value(-4)), 9, u"CArray", OutOfBounds(-4, 2));
  ExpectRaisesStandard(a->Slice(Value::Null()), kErrInvalidUseOfNull);
  EXPECT_EQ(CArray::Create()->Slice(Value(9), Value(9), 0)->Count(), 0);
  Value by_name =
      CallByName(Value(a), u"Slice", CallType::Method, {m, Value(u"1")});
  EXPECT_EQ(Dump(*by_name.object_as<CArray>()), u"10|20|");

  const std::tuple<int32_t, int32_t, std::u16string_view> subsets[] = {
      {1, -1, u"20|30|"},
      {0, 2, u"10|20|"},
      {1, 10, u"20|30|"},
      {-1, INT32_MAX, u"30|"},
      {0, 0, u""}};
  for (const auto& [start, length, expected] : subsets)
    EXPECT_EQ(Dump(*a->Subset(start, length)), expected);
  EXPECT_EQ(a->Subset(0, 2)->capacity(), 20);
  ExpectRaises(a->Subset(0, -2), 9, u"CArray",
               u"Invalid value provided in length parameter (-2)");
  ExpectRaises(a->Subset(3, -2), 9, u"CArray", OutOfBounds(3, 2));
  ExpectRaises(CArray::Create()->Subset(0), 9, u"CArray", OutOfBounds(0, -1));
}

TEST(CArrayTest, ReverseCloneExtendEnumerateAndConvert) {
  Ref<CArray> even = Of({Value(1), Value(2), Value(3), Value(4)});
  even->Reverse();
  EXPECT_EQ(Dump(*even), u"4|3|2|1|");
  Ref<CArray> odd = Of({Value(1), Value(u"b"), Value(3)});
  odd->Reverse();
  EXPECT_EQ(Dump(*odd), u"3|b|1|");
  EXPECT_EQ(odd->Item(1).kind(), Kind::String);
  CArray::Create()->Reverse();

  // Clones share the objects but not the list.
  Value obj = CreateObject(u"Collection");
  Ref<CArray> src = Of({obj, Value(2)});
  Ref<CArray> copy = src->Clone();
  EXPECT_EQ(copy->Item(0).object(), obj.object());
  copy->Add(Value(3));
  copy->Remove(1);
  EXPECT_EQ(Dump(*src), u"Obj|2|");
  EXPECT_EQ(src->Copy()->Count(), 2);

  // Extend takes a list (itself too) or an array, and nothing else.
  Ref<CArray> self = Of({Value(1), Value(2)});
  self->Extend(Value(self));
  self->Extend(MakeArray({Value(u"x"), Value(u"y")}, 1));
  EXPECT_EQ(Dump(*self), u"1|2|1|2|x|y|");
  self->Extend(MakeByteArray(std::vector<uint8_t>{7}));
  EXPECT_EQ(self->Item(-1).kind(), Kind::Byte);
  for (const Value& bad : {Value(u"1,2"), Value::Nothing(), obj, Value(5),
                           CreateObject(u"Scripting.Dictionary")})
    ExpectRaises(self->Extend(bad), 5, u"CArray",
                 u"Unsupported source for Extend");
  EXPECT_EQ(self->Count(), 7);
  Value b = CreateObject(u"CArray");
  CallByName(b, u"AddMultiple", CallType::Method,
             {Value(1), Value(u"two"), Value(3.5)});
  CallByName(b, u"AddMultipleFromArray", CallType::Method,
             {MakeArray({Value(4), Value(5)}, 1)});
  CallByName(b, u"AddMultipleFromArray", CallType::Method, {MakeArray({}, 1)});
  EXPECT_EQ(Dump(*b.object_as<CArray>()), u"1|two|3.5|4|5|");
  ExpectRaisesStandard(
      CallByName(b, u"AddMultipleFromArray", CallType::Method, {Value(1)}),
      kErrTypeMismatch);

  // An enumerator walks a snapshot taken when it was made.
  Value e = src->NewEnum();
  src->Add(Value(u"late"));
  std::vector<Value> seen;
  ForEachElement(Value(src), [&](const Value& v) { seen.push_back(v); });
  EXPECT_EQ(seen.size(), 3u);
  seen.clear();
  while (e.object_as<Enumerator>()->Next(seen.emplace_back())) {
  }
  seen.pop_back();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].object(), obj.object());

  Value none = CArray::Create()->ToArray();
  EXPECT_EQ(LBound(none), 0);
  EXPECT_EQ(UBound(none), -1);
  Value texts = CArray::Create()->ToStringArray();
  EXPECT_EQ(VarType(texts), 8192 + 8);
  EXPECT_EQ(UBound(texts), -1);
  texts = Of({Value(1), Value(true), Value(2.5)})->ToStringArray();
  EXPECT_EQ(VarType(texts), 8192 + 8);
  EXPECT_EQ(testing::Joined(texts), u"1;True;2.5;");
  ExpectRaisesStandard(Of({Value(1), Value::Null()})->ToStringArray(),
                       kErrInvalidUseOfNull);
  Value values = src->ToArray();
  EXPECT_EQ(VarType(values), 8192 + 12);
  EXPECT_EQ(ArrayItem(values, 0).object(), obj.object());
}

// IndexOf starts at 1 by default and answers 0 when nothing matches, so
// Contains never sees element 0; matching is CompareValues'.
TEST(CArrayTest, Searching) {
  Ref<CArray> a = Of({Value(u"a"), Value(u"b"), Value(u"B")});
  EXPECT_EQ(a->IndexOf(Value(u"b")), 1);
  EXPECT_EQ(a->IndexOf(Value(u"a")), 0);
  EXPECT_EQ(a->IndexOf(Value(u"a"), 0), 0);
  EXPECT_EQ(a->IndexOf(Value(u"x"), 0), 0);
  EXPECT_EQ(a->IndexOf(Value(u"B"), -1), 2);
  ExpectRaises(a->IndexOf(Value(u"a"), 3), 9, u"CArray", OutOfBounds(3, 2));
  ExpectRaises(Of({Value(u"a")})->Contains(Value(u"a")), 9, u"CArray",
               OutOfBounds(1, 0));
  ExpectRaises(CArray::Create()->Contains(Value(1)), 9, u"CArray",
               OutOfBounds(1, -1));
  Ref<CArray> ab = Of({Value(u"a"), Value(u"b")});
  EXPECT_FALSE(ab->Contains(Value(u"a")));
  EXPECT_TRUE(ab->Contains(Value(u"B")));
  EXPECT_EQ(Of({Value(u"a"), Value(u"A"), Value(u"b")})->CountOf(Value(u"A")),
            2);
  Ref<CArray> mixed = Of({Value::Null(), Value(0), Value(), Value(u""),
                          Value::Null(), Value(u"0")});
  EXPECT_EQ(mixed->CountOf(Value::Null()), 2);
  EXPECT_EQ(mixed->CountOf(Value()), 3);   // Empty matches 0 and ""
  EXPECT_EQ(mixed->CountOf(Value(0)), 2);  // never the String "0"
  EXPECT_EQ(ab->Search(Value(u"b")), 1);
  EXPECT_EQ(ab->Search(Value(u"z")), 0);
  EXPECT_EQ(CArray::Create()->Search(Value(1)), 0);
  EXPECT_EQ(CArray::Create()->CountOf(Value(1)), 0);
  EXPECT_EQ(ToLong(CallByName(Value(ab), u"Contains", CallType::Method,
                              {Value(u"b")})),
            -1);
  ExpectRaisesStandard(Of({Value(1), CArray::Create()})->Search(Value(2)),
                       kErrWrongArgumentCount);
}

// Callbacks derived in C++ and made by name; an object that is not the
// interface is a type mismatch; a callback's error leaves the list alone.
TEST(CArrayTest, Callbacks) {
  Ref<CArray> words = Of({Value(u"ccc"), Value(u"a"), Value(u"bb")});
  EXPECT_EQ(Dump(*words->Map(MakeRef<ByLength>())), u"3|1|2|");
  Ref<CArray> numbers = Of({Value(1), Value(2), Value(3), Value(4)});
  EXPECT_EQ(Dump(*numbers->Filter(MakeRef<IsEven>())), u"2|4|");

  Value plain_sort = CreateObject(u"ISortCallback");
  Value plain_filter = CreateObject(u"IFilterCallback");
  EXPECT_TRUE(CallByName(plain_sort, u"Apply", CallType::Method, {Value(42)})
                  .IsEmpty());
  Value tested =
      CallByName(plain_filter, u"Test", CallType::Method, {Value(42)});
  EXPECT_EQ(VarType(tested), 11);
  EXPECT_FALSE(ToBoolean(tested));
  Value list = Value(numbers);
  Value mapped = CallByName(list, u"Map", CallType::Method, {plain_sort});
  EXPECT_EQ(Dump(*mapped.object_as<CArray>()), u"||||");
  Value filtered =
      CallByName(list, u"Filter", CallType::Method, {plain_filter});
  EXPECT_EQ(filtered.object_as<CArray>()->Count(), 0);
  // A derived class reached by name is called through its override.
  Value derived = Value(Ref<ISortCallback>(MakeRef<ByLength>()));
  CallByName(Value(words), u"SortByKey", CallType::Method, {derived});
  EXPECT_EQ(Dump(*words), u"a|bb|ccc|");

  const std::tuple<std::u16string_view, Value, int32_t> wrong[] = {
      {u"Map", CreateObject(u"Scripting.Dictionary"), kErrTypeMismatch},
      {u"Filter", plain_sort, kErrTypeMismatch},
      {u"SortByKey", Value(1), kErrTypeMismatch},
      {u"Map", Value::Nothing(), kErrObjectNotSet}};
  for (const auto& [member, callback, error] : wrong)
    ExpectRaisesStandard(CallByName(list, member, CallType::Method, {callback}),
                         error);
  EXPECT_EQ(CArray::Create()->Map(nullptr)->Count(), 0);
  ExpectRaises(numbers->Map(MakeRef<ThrowsAfter>(2)), 1234, u"Client", u"stop");
  EXPECT_EQ(Dump(*numbers), u"1|2|3|4|");
}

// Sorted and reversed, equal and few distinct keys, random; sizes on both
// sides of the insertion step; both directions, against std::sort.
TEST(CArrayTest, SortMatchesTheModel) {
  std::mt19937 rng(12345);
  const std::function<int32_t(int32_t, int32_t)> shapes[] = {
      [](int32_t i, int32_t) { return i; },
      [](int32_t i, int32_t n) { return n - i; },
      [](int32_t, int32_t) { return 7; },
      [&](int32_t, int32_t) { return int32_t(rng() % 1000000); },
      [&](int32_t, int32_t) { return int32_t(rng() % 3); }};
  for (int32_t n :
       {0, 1, 2, 3, 4, 5, 7, 8, 16, 17, 31, 100, 257, 1000, 20000}) {
    for (size_t shape = 0; shape < std::size(shapes); ++shape) {
      for (bool descending : {false, true}) {
        Ref<CArray> a = CArray::Create();
        std::vector<int32_t> expected;
        for (int32_t i = 0; i < n; ++i) {
          expected.push_back(shapes[shape](i, n));
          a->Add(Value(expected.back()));
        }
        std::sort(expected.begin(), expected.end());
        if (descending) std::reverse(expected.begin(), expected.end());
        a->Sort(descending);
        ASSERT_EQ(Longs(*a), expected) << n << " " << shape << descending;
      }
    }
  }
  Ref<CArray> text = Of({Value(u"b"), Value(u"A"), Value(u"a"), Value(u"B")});
  text->Sort();
  EXPECT_EQ(CArray::CompareValues(text->Item(1), Value(u"a")), 0);
  EXPECT_EQ(CArray::CompareValues(text->Item(2), Value(u"b")), 0);
  Ref<CArray> kinds = Of({Value::Null(), Value(2), Value(u"x"), Value(1)});
  CallByName(Value(kinds), u"Sort", CallType::Method);
  EXPECT_EQ(Dump(*kinds), u"Null|1|2|x|");
  CallByName(Value(kinds), u"Sort", CallType::Method, {Value(true)});
  EXPECT_EQ(Dump(*kinds), u"x|2|1|Null|");
}

// Whatever stops a sort, the list holds the same elements.
void ExpectPermutationOf(const CArray& a, int32_t n, int arrays = 0) {
  std::vector<int32_t> left;
  for (const Value& v : a) {
    if (v.IsArray()) {
      --arrays;
    } else {
      left.push_back(v.long_value());
    }
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(arrays, 0);
  ASSERT_EQ(left.size(), size_t(n));
  for (int32_t k = 0; k < n; ++k) ASSERT_EQ(left[k], k);
}

TEST(CArrayTest, SortFailuresLeaveAPermutation) {
  // Pivots that keep two elements on the left and the rest on the right
  // leave one more range waiting per step; the 129th waiting range is one
  // too many for the 256-entry stack.
  const int32_t n = 500;
  std::vector<int32_t> slot_of(n);  // original slot now at each position
  for (int32_t k = 0; k < n; ++k) slot_of[k] = k;
  std::vector<int32_t> value(n, -1);
  int32_t next = 0;
  for (int32_t lo = 0, hi = n - 1; hi - lo >= 6; lo += 3) {
    int32_t mid = lo + (hi - lo) / 2;
    value[slot_of[lo]] = next++;
    value[slot_of[lo + 1]] = next++;
    value[slot_of[mid]] = next++;
    std::swap(slot_of[lo + 2], slot_of[mid]);
  }
  for (int32_t& v : value) {
    if (v < 0) v = next++;
  }
  Ref<CArray> a = CArray::Create();
  for (int32_t v : value) a->Add(Value(v));
  ExpectRaisesStandard(a->Sort(), kErrSubscript);
  ExpectPermutationOf(*a, n);
  // One element fewer on the left per step stays within the stack.
  Ref<CArray> fine = CArray::Create();
  for (int32_t k = 0; k < n; ++k) fine->Add(Value(k % 2 ? k : n - k));
  fine->Sort();

  // A comparison or a key that fails part-way loses nothing.
  Ref<CArray> b = CArray::Create();
  for (int32_t k = 0; k < 200; ++k) b->Add(Value((k * 37) % 200));
  b->Insert(150, MakeArray({Value(1)}));
  ExpectRaisesStandard(b->Sort(), kErrTypeMismatch);
  ExpectPermutationOf(*b, 200, 1);
  Ref<CArray> c = CArray::Create();
  for (int32_t k = 0; k < 100; ++k) c->Add(Value((k * 53) % 100));
  ExpectRaises(c->SortByKey(MakeRef<ThrowsAfter>(300)), 1234, u"Client",
               u"stop");
  ExpectPermutationOf(*c, 100);
}

TEST(CArrayTest, SortByKeyAndBinarySearch) {
  Ref<CArray> words = Of({Value(u"ccc"), Value(u"a"), Value(u"bb")});
  Ref<ByLength> by_length = MakeRef<ByLength>();
  words->SortByKey(by_length, true);
  EXPECT_EQ(Dump(*words), u"ccc|bb|a|");
  Ref<CArray> one = Of({Value(u"x")});
  by_length->calls = 0;
  one->SortByKey(by_length);
  one->SortByKey(nullptr);
  EXPECT_EQ(by_length->calls, 0);
  // Keys are not remembered: input already in key order costs
  // n + (n - 1) + ... + 2 calls.
  Ref<CArray> ordered = CArray::Create();
  for (int n = 1; n <= 10; ++n) ordered->Add(Value(std::u16string(n, u'q')));
  ordered->SortByKey(by_length);
  EXPECT_EQ(by_length->calls, 54);
  std::mt19937 rng(7);
  for (int32_t n : {2, 3, 50, 600}) {
    for (bool descending : {false, true}) {
      Ref<CArray> a = CArray::Create();
      std::vector<int32_t> expected;
      for (int32_t i = 0; i < n; ++i) {
        expected.push_back(static_cast<int32_t>(rng() % 40));
        a->Add(Value(std::u16string(expected.back(), u'z')));
      }
      std::sort(expected.begin(), expected.end());
      a->SortByKey(by_length, descending);
      if (descending) std::reverse(expected.begin(), expected.end());
      for (int32_t i = 0; i < n; ++i)
        ASSERT_EQ(a->Item(i).string_view().size(), size_t(expected[i]));
    }
  }

  // The index found, 0 when absent (or sorted the other way).
  Ref<CArray> up = Of({Value(1), Value(3), Value(5), Value(7)});
  Ref<CArray> down = Of({Value(7), Value(5), Value(3), Value(1)});
  const std::tuple<CArray*, Value, bool, int32_t> searches[] = {
      {up.get(), Value(5), false, 2}, {up.get(), Value(3.0), false, 1},
      {up.get(), Value(4), false, 0}, {down.get(), Value(1), true, 3},
      {up.get(), Value(7), false, 3}, {down.get(), Value(3), false, 0},
      {down.get(), Value(7), true, 0}};
  for (const auto& [list, value, descending, expected] : searches)
    EXPECT_EQ(list->BinarySearch(value, descending), expected);
  EXPECT_EQ(CArray::Create()->BinarySearch(Value(1)), 0);
  Ref<CArray> big = CArray::Create();
  for (int32_t i = 0; i < 1000; ++i) big->Add(Value(i * 2));
  for (int32_t i = 1; i < 1000; ++i) {
    ASSERT_EQ(big->BinarySearch(Value(i * 2)), i);
    ASSERT_EQ(big->BinarySearch(Value(i * 2 + 1)), 0);
  }
}

// Every member answers by name with its declared parameters and defaults.
TEST(CArrayTest, EveryMemberByName) {
  Value a = CreateObject(u"carray");
  auto call = [&](std::u16string_view name,
                  std::initializer_list<Value> args = {}) {
    return CallByName(a, name, CallType::Method, args);
  };
  auto count = [](const Value& v) {
    return ToLong(CallByName(v, u"Count", CallType::Get));
  };
  call(u"FromCSV", {Value(u"3;1;2"), Value(u";")});
  EXPECT_EQ(count(a), 3);
  EXPECT_EQ(call(u"ToString").string_view(), u"[\"3\", \"1\", \"2\"]");
  call(u"Clear");
  call(u"Add", {Value(3)});
  call(u"AddMultiple", {Value(1), Value(2)});
  call(u"Sort");
  EXPECT_EQ(call(u"JoinValues").string_view(), u"1,2,3");
  EXPECT_EQ(call(u"ToCSV", {Value(u"|")}).string_view(), u"1|2|3");
  EXPECT_EQ(call(u"ToJSON").string_view(), u"[\"1\",\"2\",\"3\"]");
  EXPECT_EQ(call(u"ToString", {Value(u"|")}).string_view(), u"[1|2|3]");
  call(u"Reverse");
  EXPECT_EQ(ToLong(call(u"Search", {Value(1)})), 2);
  EXPECT_EQ(ToLong(call(u"CountOf", {Value(1)})), 1);
  EXPECT_EQ(ToLong(call(u"IndexOf", {Value(3), Value(0)})), 0);
  EXPECT_EQ(ToLong(call(u"IndexOf", {Value(1), Value::Missing()})), 2);
  EXPECT_EQ(ToLong(call(u"BinarySearch", {Value(2), Value(true)})), 1);
  EXPECT_EQ(count(call(u"Subset", {Value(1)})), 2);
  EXPECT_EQ(count(call(u"Clone")), 3);
  EXPECT_EQ(count(call(u"Copy")), 3);
  EXPECT_EQ(UBound(call(u"ToArray")), 2);
  EXPECT_EQ(UBound(call(u"ToStringArray")), 2);
  EXPECT_EQ(TypeName(CallByName(a, u"NewEnum", CallType::Get)), u"Enumerator");
  call(u"Extend", {MakeArray({Value(0)})});
  call(u"Insert", {Value(0), Value(9)});
  EXPECT_EQ(ToLong(call(u"Remove", {Value(-1)})), 0);
  EXPECT_EQ(ToLong(call(u"Pop")), 1);
  EXPECT_EQ(ToLong(CallByName(a, u"Item", CallType::Get, {Value(0)})), 9);
  ExpectRaisesStandard(call(u"Add"), kErrWrongArgumentCount);
  ExpectRaisesStandard(call(u"Nosuch"), kErrNoSuchMember);
  ExpectRaisesStandard(LetValue(a), kErrWrongArgumentCount);
}

}  // namespace
}  // namespace quorvel
