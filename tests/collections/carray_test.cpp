#include "quorvel/carray.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
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

// The error of an index outside 0 to `highest`, named as it was passed.
std::u16string OutOfBounds(int64_t index, int32_t highest) {
  return u"Index (" + ToText(Value(static_cast<double>(index))).str() +
         u") is out of bounds (0 - " + ToText(Value(highest)).str() + u")";
}

class Negated : public ISortCallback {
 public:
  Value Apply(const Value& v) override { return Value(-ToLong(v)); }
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

// Indexes from 0, negative from the end; errors name the index as passed.
TEST(CArrayTest, IndexBoundaries) {
  Ref<CArray> a = CArray::Create();
  ExpectRaises(a->Item(0), 9, u"CArray",
               u"Index (0) is out of bounds (0 - -1)");
  ExpectRaises(a->Insert(-1, Value(1)), 9, u"CArray", OutOfBounds(-1, 0));
  ExpectRaises(a->Pop(), 9, u"CArray", u"Pop from empty list");
  a->Insert(0, Value(30));
  a->Insert(0, Value(10));
  a->Insert(a->Count(), Value(40));
  a->Insert(-1, Value(20));  // before the last
  EXPECT_EQ(Dump(*a), u"10|30|20|40|");
  EXPECT_EQ(a->Item(-4).long_value(), 10);
  ExpectRaises(a->Item(-5), 9, u"CArray", OutOfBounds(-5, 3));
  ExpectRaises(a->Item(4), 9, u"CArray", OutOfBounds(4, 3));
  ExpectRaises(a->Insert(5, Value(1)), 9, u"CArray", OutOfBounds(5, 4));
  ExpectRaises(a->Remove(INT32_MIN), 9, u"CArray",
               u"Index (-2147483648) is out of bounds (0 - 3)");
  EXPECT_EQ(a->Remove(1).long_value(), 30);
  EXPECT_EQ(a->Pop().long_value(), 40);
  EXPECT_EQ(Dump(*a), u"10|20|");
  // Item is the default member and takes any number, but not text.
  Value b = Value(a);
  EXPECT_EQ(ToLong(CallByName(b, u"", CallType::Get, {Value(-1.0)})), 20);
  ExpectRaises(CallByName(b, u"", CallType::Get, {Value(2)}), 9, u"CArray",
               OutOfBounds(2, 1));
}

// An element of the list itself, added at a growth point, stays alive.
TEST(CArrayTest, Growth) {
  Ref<CArray> a = CArray::Create();
  for (int32_t i = 0; i < 20; ++i) a->Add(Value(std::u16string(9, u'a' + i)));
  a->Add(a->Item(0));
  a->AddMultiple(std::vector<Value>(19, Value(7)));
  a->Insert(0, a->Item(20));
  EXPECT_EQ(Dump(*a).substr(0, 30), u"aaaaaaaaa|aaaaaaaaa|bbbbbbbbb|");
  EXPECT_EQ(a->capacity(), 80);  // from 20 by doubling
  // Past 20 * 2^26 the doubling overflows.
  ExpectRaisesStandard(a->EnsureCapacity(1342177281), kErrOverflow);
}

// Objects stay identical wherever stored or read; Set takes only objects.
TEST(CArrayTest, ObjectsStayIdentical) {
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
  EXPECT_EQ(list.Pop().object(), inner.object());
  ExpectRaisesStandard(
      CallByName(a, u"Item", CallType::Set, {Value(0), Value(5)}),
      kErrObjectRequired);
  CallByName(a, u"Item", CallType::Set, {Value(0), Value::Nothing()});
  EXPECT_TRUE(list.Item(0).IsNothing());
  CallByName(a, u"Item", CallType::Let, {Value(-1), Value(u"t")});
  EXPECT_EQ(list.Item(2).string_view(), u"t");
}

// Slice is inclusive, Missing or Empty meaning an end; Subset by length.
TEST(CArrayTest, SliceAndSubset) {
  Ref<CArray> a = Of({Value(10), Value(20), Value(30)});
  const Value m = Value::Missing();
  const std::tuple<Value, Value, int32_t, std::u16string_view> slices[] = {
      {m, m, 1, u"10|20|30|"},
      {Value(-1), Value(0), -1, u"30|20|10|"},
      {Value(), Value(2), 2, u"10|30|"},
      {m, m, -1, u""},
      {Value(2), Value(0), 1, u""},
      {Value(2), Value(0), INT32_MIN, u"30|"}};
  for (const auto& [start, finish, step, expected] : slices)
    EXPECT_EQ(Dump(*a->Slice(start, finish, step)), expected);
  ExpectRaises(a->Slice(Value(0), Value(2), 0), 5, u"CArray",
               u"Step cannot be zero");
  ExpectRaises(a->Slice(Value(0), Value(-4)), 9, u"CArray", OutOfBounds(-4, 2));
  ExpectRaisesStandard(a->Slice(Value::Null()), kErrInvalidUseOfNull);
  EXPECT_EQ(CArray::Create()->Slice(Value(9), Value(9), 0)->Count(), 0);

  const std::tuple<int32_t, int32_t, std::u16string_view> subsets[] = {
      {1, -1, u"20|30|"}, {-1, INT32_MAX, u"30|"}, {0, 0, u""}};
  for (const auto& [start, length, expected] : subsets)
    EXPECT_EQ(Dump(*a->Subset(start, length)), expected);
  ExpectRaises(a->Subset(0, -2), 9, u"CArray",
               u"Invalid value provided in length parameter (-2)");
  ExpectRaises(CArray::Create()->Subset(0), 9, u"CArray", OutOfBounds(0, -1));
}

TEST(CArrayTest, ExtendEnumerateAndConvert) {
  Value obj = CreateObject(u"Collection");
  Ref<CArray> src = Of({obj, Value(2)});
  // Extend takes a list (itself too) or an array, and nothing else.
  Ref<CArray> self = Of({Value(1), Value(2)});
  self->Extend(Value(self));
  self->Extend(MakeArray({Value(u"x"), Value(u"y")}, 1));
  EXPECT_EQ(Dump(*self), u"1|2|1|2|x|y|");
  self->Extend(MakeByteArray(std::vector<uint8_t>{7}));
  EXPECT_EQ(self->Item(-1).kind(), Kind::Byte);
  ExpectRaises(self->Extend(obj), 5, u"CArray",
               u"Unsupported source for Extend");
  EXPECT_EQ(self->Count(), 7);
  ExpectRaisesStandard(self->AddMultipleFromArray(Value(1)), kErrTypeMismatch);

  // An enumerator walks a snapshot taken when it was made.
  Value e = src->NewEnum();
  src->Add(Value(u"late"));
  std::vector<Value> seen;
  while (e.object_as<Enumerator>()->Next(seen.emplace_back())) {
  }
  seen.pop_back();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].object(), obj.object());

  Value none = CArray::Create()->ToArray();
  EXPECT_EQ(LBound(none), 0);
  EXPECT_EQ(UBound(none), -1);
  Value texts = Of({Value(1), Value(true), Value(2.5)})->ToStringArray();
  EXPECT_EQ(VarType(texts), 8192 + 8);
  EXPECT_EQ(testing::Joined(texts), u"1;True;2.5;");
  Value values = src->ToArray();
  EXPECT_EQ(VarType(values), 8192 + 12);
  EXPECT_EQ(ArrayItem(values, 0).object(), obj.object());
}

// IndexOf starts at 1 and answers 0 for nothing, so Contains misses item 0.
TEST(CArrayTest, Searching) {
  Ref<CArray> a = Of({Value(u"a"), Value(u"b"), Value(u"B")});
  EXPECT_EQ(a->IndexOf(Value(u"b")), 1);
  EXPECT_EQ(a->IndexOf(Value(u"a")), 0);
  EXPECT_EQ(a->IndexOf(Value(u"a"), 0), 0);
  EXPECT_EQ(a->IndexOf(Value(u"B"), -1), 2);
  ExpectRaises(a->IndexOf(Value(u"a"), 3), 9, u"CArray", OutOfBounds(3, 2));
  ExpectRaises(Of({Value(u"a")})->Contains(Value(u"a")), 9, u"CArray",
               OutOfBounds(1, 0));
  Ref<CArray> ab = Of({Value(u"a"), Value(u"b")});
  EXPECT_FALSE(ab->Contains(Value(u"a")));
  EXPECT_TRUE(ab->Contains(Value(u"B")));
  // Empty matches 0, never Null; objects compare by their default value.
  EXPECT_EQ(Of({Value::Null(), Value(0), Value::Null()})->CountOf(Value()), 1);
  EXPECT_EQ(ab->Search(Value(u"z")), 0);
  ExpectRaisesStandard(Of({Value(1), CArray::Create()})->Search(Value(2)),
                       kErrWrongArgumentCount);
  ExpectRaisesStandard(Of({Value::Nothing()})->CountOf(Value(1)),
                       kErrObjectNotSet);
}

// Callbacks derived in C++ or made by name; errors leave the list alone.
TEST(CArrayTest, Callbacks) {
  Ref<CArray> numbers = Of({Value(1), Value(2), Value(3), Value(4)});
  EXPECT_EQ(Dump(*numbers->Map(MakeRef<Negated>())), u"-1|-2|-3|-4|");
  EXPECT_EQ(Dump(*numbers->Filter(MakeRef<IsEven>())), u"2|4|");

  Value plain_sort = CreateObject(u"ISortCallback");
  Value plain_filter = CreateObject(u"IFilterCallback");
  Value list = Value(numbers);
  Value mapped = CallByName(list, u"Map", CallType::Method, {plain_sort});
  EXPECT_EQ(Dump(*mapped.object_as<CArray>()), u"||||");
  Value filtered =
      CallByName(list, u"Filter", CallType::Method, {plain_filter});
  EXPECT_EQ(filtered.object_as<CArray>()->Count(), 0);
  // A derived class reached by name is called through its override.
  Ref<CArray> sorted = numbers->Clone();
  Value derived = Value(Ref<ISortCallback>(MakeRef<Negated>()));
  CallByName(Value(sorted), u"SortByKey", CallType::Method, {derived});
  EXPECT_EQ(Dump(*sorted), u"4|3|2|1|");

  const std::tuple<std::u16string_view, Value, int32_t> wrong[] = {
      {u"Map", CreateObject(u"Scripting.Dictionary"), kErrTypeMismatch},
      {u"Map", Value::Nothing(), kErrObjectNotSet}};
  for (const auto& [member, callback, error] : wrong)
    ExpectRaisesStandard(CallByName(list, member, CallType::Method, {callback}),
                         error);
  ExpectRaises(numbers->Map(MakeRef<ThrowsAfter>(2)), 1234, u"Client", u"stop");
  EXPECT_EQ(Dump(*numbers), u"1|2|3|4|");
}

// Both sorts, both directions, over scattered distinct and paired keys.
TEST(CArrayTest, SortsBothWays) {
  for (int32_t n : {2, 17, 1000}) {
    for (int32_t tie : {1, 2}) {
      for (bool descending : {false, true}) {
        Ref<CArray> a = CArray::Create();
        for (int32_t i = 0; i < n; ++i) a->Add(Value(i * 7919 % n / tie));
        Ref<CArray> keyed = a->Clone();
        a->Sort(descending);
        keyed->SortByKey(MakeRef<Negated>(), !descending);
        for (int32_t i = 0; i < n; ++i) {
          const int32_t want = (descending ? n - 1 - i : i) / tie;
          ASSERT_EQ(a->Item(i).long_value(), want);
          ASSERT_EQ(keyed->Item(i).long_value(), want);
        }
      }
    }
  }
  Ref<CArray> kinds = Of({Value::Null(), Value(2), Value(u"x"), Value(1)});
  CallByName(Value(kinds), u"Sort", CallType::Method);
  EXPECT_EQ(Dump(*kinds), u"Null|1|2|x|");
  CallByName(Value(kinds), u"Sort", CallType::Method, {Value(true)});
  EXPECT_EQ(Dump(*kinds), u"x|2|1|Null|");
}

// Whatever stops a sort, the list still holds 0 to n - 1 (and any arrays).
void ExpectPermutationOf(const CArray& a, int32_t n) {
  std::vector<int32_t> left, all(n);
  for (const Value& v : a)
    if (!v.IsArray()) left.push_back(v.long_value());
  std::sort(left.begin(), left.end());
  std::iota(all.begin(), all.end(), 0);
  EXPECT_EQ(left, all);
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
  Ref<CArray> a = CArray::Create();
  for (int32_t v : value) a->Add(Value(v < 0 ? next++ : v));
  ExpectRaisesStandard(a->Sort(), kErrSubscript);
  ExpectPermutationOf(*a, n);

  // A comparison that fails part-way loses nothing.
  Ref<CArray> b = CArray::Create();
  for (int32_t k = 0; k < 200; ++k) b->Add(Value((k * 37) % 200));
  b->Insert(150, MakeArray({Value(1)}));
  ExpectRaisesStandard(b->Sort(), kErrTypeMismatch);
  ExpectPermutationOf(*b, 200);
  EXPECT_EQ(b->Count(), 201);
}

// BinarySearch answers 0 when absent (or sorted the other way).
TEST(CArrayTest, SortByKeyAndBinarySearch) {
  Ref<CArray> up = Of({Value(1), Value(3), Value(5), Value(7)});
  Ref<CArray> down = Of({Value(7), Value(5), Value(3), Value(1)});
  const std::tuple<CArray*, Value, bool, int32_t> searches[] = {
      {up.get(), Value(3.0), false, 1},
      {up.get(), Value(4), false, 0},
      {down.get(), Value(1), true, 3},
      {down.get(), Value(3), false, 0}};
  for (const auto& [list, value, descending, expected] : searches)
    EXPECT_EQ(list->BinarySearch(value, descending), expected);
  EXPECT_EQ(CArray::Create()->BinarySearch(Value(1)), 0);
}

// Members answer by name with their declared parameters and defaults.
TEST(CArrayTest, MembersByName) {
  Value a = CreateObject(u"carray");
  auto call = [&](std::u16string_view name,
                  std::initializer_list<Value> args = {}) {
    return CallByName(a, name, CallType::Method, args);
  };
  call(u"FromCSV", {Value(u"3;1;2"), Value(u";")});
  EXPECT_EQ(call(u"ToString").string_view(), u"[\"3\", \"1\", \"2\"]");
  call(u"Sort");
  EXPECT_EQ(call(u"JoinValues").string_view(), u"1,2,3");
  EXPECT_EQ(call(u"ToCSV", {Value(u"|")}).string_view(), u"1|2|3");
  EXPECT_EQ(call(u"ToJSON").string_view(), u"[\"1\",\"2\",\"3\"]");
  EXPECT_EQ(ToLong(call(u"IndexOf", {Value(u"3"), Value::Missing()})), 2);
  EXPECT_EQ(ToLong(call(u"CountOf", {Value(u"1")})), 1);
  EXPECT_EQ(Dump(*call(u"Subset", {Value(1)}).object_as<CArray>()), u"2|3|");
  EXPECT_EQ(TypeName(CallByName(a, u"NewEnum", CallType::Get)), u"Enumerator");
  call(u"AddMultipleFromArray", {MakeArray({Value(0)}, 1)});
  call(u"Insert", {Value(0), Value(9)});
  EXPECT_EQ(ToLong(call(u"Remove", {Value(-1)})), 0);
  EXPECT_EQ(ToLong(call(u"Pop")), 3);
  call(u"Reverse");
  EXPECT_EQ(ToLong(call(u"Search", {Value(9)})), 2);
  EXPECT_EQ(Dump(*call(u"Copy").object_as<CArray>()), u"2|1|9|");
  ExpectRaisesStandard(LetValue(a), kErrWrongArgumentCount);
}

TEST(CArrayTextTest, DisplayJoinedAndJsonForms) {
  EXPECT_EQ(CArray::Create()->ToString(u"|").view(), u"[]");
  Ref<CArray> mixed = Of({Value(u"a\"b"), Value(CArray::Create()),
                          Value::Nothing(), Value(), Value(true), Value(0.5)});
  EXPECT_EQ(mixed->ToString().view(),
            u"[\"a\"b\", [Object], [Object], , True, 0.5]");
  ExpectRaisesStandard(Of({Value(1), Value::Null()})->ToString(),
                       kErrInvalidUseOfNull);
  ExpectRaisesStandard(Of({MakeArray({})})->ToString(), kErrTypeMismatch);

  EXPECT_EQ(Of({Value(u"a,b"), Value(u"\"")})->JoinValues(u"; ").view(),
            u"a,b; \"");
  ExpectRaisesStandard(Of({Value::Nothing()})->JoinValues(), kErrObjectNotSet);

  // JSON writes every element as an escaped String.
  EXPECT_EQ(CArray::Create()->ToJSON().view(), u"[]");
  std::u16string controls = u"a\"\\/\b\f\n\r\t";
  controls += char16_t{1};
  controls += u"\u00e9\u2028";
  EXPECT_EQ(Of({Value(controls), Value(), Value(true)})->ToJSON().view(),
            u"[\"a\\\"\\\\/\\b\\f\\n\\r\\t\x01\u00e9\u2028\",\"\",\"True\"]");
  ExpectRaisesStandard(Of({Value(CArray::Create())})->ToJSON(),
                       kErrWrongArgumentCount);
}

TEST(CArrayTextTest, CsvQuotingAndReading) {
  EXPECT_EQ(Of({Value(u"say \"hi\""), Value(1.5)})->ToCSV().view(),
            u"\"say \"\"hi\"\"\",1.5");
  // The comma decides, whatever the separator; a lone CR or LF does not.
  EXPECT_EQ(Of({Value(u"a;b"), Value(u"c")})->ToCSV(u";").view(), u"a;b;c");
  EXPECT_EQ(Of({Value(u"a,b")})->ToCSV(u";").view(), u"\"a,b\"");
  EXPECT_EQ(Of({Value(u"l1\r\nl2"), Value(u"r\rn\n")})->ToCSV().view(),
            u"\"l1\r\nl2\",r\rn\n");

  Ref<CArray> a = Of({Value(99)});
  const std::tuple<std::u16string_view, std::u16string_view,
                   std::u16string_view>
      reads[] = {{u"a,b\r\nc", u",", u"a|b|c|"},
                 {u"\"x\",\"y\"\"z\"", u",", u"x|y\"z|"},
                 {u"\"p,q\"", u",", u"\"p|q\"|"},  // quotes do not protect
                 {u"  a\rb ,\nc \r\n\r\n   \r\n , \"\" ,\" \",\"", u",",
                  u"a\rb|\nc||| |\"|"},
                 {u"a,b", u"", u"a,b|"},
                 {u"x::y::", u"::", u"x|y||"},
                 {u"   ", u",", u""}};
  for (const auto& [text, separator, fields] : reads) {
    a->FromCSV(text, separator);
    EXPECT_EQ(Dump(*a), fields);
  }
}

}  // namespace
}  // namespace quorvel
