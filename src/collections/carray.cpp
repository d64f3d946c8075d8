// CArray: storage, element access and the sequence operations, and the
// member table that late binding calls through.
#include "quorvel/carray.h"

#include <algorithm>
#include <bit>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/std_exceptions.h"
#include "quorvel/collection.h"
#include "quorvel/compare.h"
#include "quorvel/convert.h"
#include "quorvel/enumerator.h"
#include "quorvel/error.h"
#include "quorvel/safearray.h"

namespace quorvel {

namespace {

constexpr std::u16string_view kSource = u"CArray";
constexpr int32_t kFirstCapacity = 20;

std::u16string DecimalText(int64_t n) {
  std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

// A Value counts as an omitted bound when it is Empty or Missing.
bool Given(const Value& v) { return !v.IsEmpty() && !v.IsMissing(); }

// Throws 424 unless `v` holds an object reference (Nothing included).
void RequireObject(const Value& v) {
  if (!v.IsObject()) RaiseStandard(kErrObjectRequired);
}

}  // namespace

Ref<CArray> CArray::Create() { return FirstRef(new CArray); }

const ClassInfo& CArray::Class() const {
  using AddFn = void (CArray::*)(const Value&);
  static const ClassInfo info =
      ClassBuilder<CArray>(u"CArray")
          .Method<static_cast<AddFn>(&CArray::Add)>(u"Add", {u"vValue"})
          .Method<&CArray::AddMultiple>(u"AddMultiple", {u"Values"})
          .Method<&CArray::AddMultipleFromArray>(u"AddMultipleFromArray",
                                                 {u"Values"})
          .Method<&CArray::Clear>(u"Clear")
          .Get<&CArray::Count>(u"Count")
          .Get<&CArray::Item>(u"Item", {u"Index"})
          .Let<&CArray::LetItem>(u"Item", {u"Index", u"NewValue"})
          .Set<&CArray::SetItem>(u"Item", {u"Index", u"NewValue"})
          .Method<&CArray::Insert>(u"Insert", {u"Index", u"vValue"})
          .Method<&CArray::Remove>(u"Remove", {u"Index"})
          .Method<&CArray::Pop>(u"Pop")
          .Method<&CArray::Extend>(u"Extend", {u"Source"})
          .Method<&CArray::Slice>(
              u"Slice", {Opt(u"Start"), Opt(u"Finish"), Opt(u"Step", Value(1))})
          .Method<&CArray::Subset>(u"Subset",
                                   {u"StartIndex", Opt(u"length", Value(-1))})
          .Method<&CArray::Reverse>(u"Reverse")
          .Method<&CArray::Copy>(u"Copy")
          .Method<&CArray::Clone>(u"Clone")
          .Get<&CArray::NewEnum>(u"NewEnum")
          .Get<&CArray::NewEnum>(u"_NewEnum")
          .Method<&CArray::ToArray>(u"ToArray")
          .Method<&CArray::ToStringArray>(u"ToStringArray")
          .Method<&CArray::Map>(u"Map", {u"Callback"})
          .Method<&CArray::Filter>(u"Filter", {u"Callback"})
          .Method<&CArray::IndexOf>(u"IndexOf",
                                    {u"Value", Opt(u"Start", Value(1))})
          .Method<&CArray::Contains>(u"Contains", {u"Value"})
          .Method<&CArray::CountOf>(u"CountOf", {u"Value"})
          .Method<&CArray::Search>(u"Search", {u"Value"})
          .Method<&CArray::Sort>(u"Sort", {Opt(u"Descending", Value(false))})
          .Method<&CArray::SortByKey>(
              u"SortByKey", {u"Callback", Opt(u"Descending", Value(false))})
          .Method<&CArray::BinarySearch>(
              u"BinarySearch", {u"Value", Opt(u"Descending", Value(false))})
          .Method<&CArray::ToString>(u"ToString", {Opt(u"sep", Value(u", "))})
          .Method<&CArray::JoinValues>(u"JoinValues",
                                       {Opt(u"Delimiter", Value(u","))})
          .Method<&CArray::ToCSV>(u"ToCSV", {Opt(u"Separator", Value(u","))})
          .Method<&CArray::FromCSV>(
              u"FromCSV", {u"CSVText", Opt(u"Separator", Value(u","))})
          .Method<&CArray::ToJSON>(u"ToJSON")
          .Default(u"Item")
          .Build();
  return info;
}

CArray::~CArray() { Clear(); }

Error CArray::IndexError(int32_t index, int32_t highest) {
  return Error(kErrSubscript, kSource,
               u"Index (" + DecimalText(index) + u") is out of bounds (0 - " +
                   DecimalText(highest) + u")");
}

void CArray::EnsureCapacity(int32_t required) {
  if (capacity_ >= required) return;
  // A list given exact room grows onto the series as if it had been filled
  // by Add.
  const bool on_series =
      capacity_ % kFirstCapacity == 0 &&
      std::has_single_bit(static_cast<uint32_t>(capacity_ / kFirstCapacity));
  int64_t n = on_series ? capacity_ : kFirstCapacity;
  while (n < required) {
    n *= 2;
    if (n > INT32_MAX) RaiseStandard(kErrOverflow);
  }
  Value* grown = internal::TranslateStdExceptions([n] {
    return static_cast<Value*>(
        internal::AllocateNode(static_cast<size_t>(n) * sizeof(Value)));
  });
  // Moving a Value copies its bits and never touches a count, so relocating
  // the elements cannot fail part-way.
  std::uninitialized_move(items_, items_ + count_, grown);
  std::destroy(items_, items_ + count_);
  internal::FreeNode(items_);
  items_ = grown;
  capacity_ = static_cast<int32_t>(n);
}

void CArray::ReserveExact(int32_t count) {
  if (capacity_ != 0 || count <= 0) return;
  items_ = internal::TranslateStdExceptions([count] {
    return static_cast<Value*>(
        internal::AllocateNode(static_cast<size_t>(count) * sizeof(Value)));
  });
  capacity_ = count;
}

void CArray::AddGrowing(Value&& v) {
  // `v` is already a copy, so an argument that aliased an element survives
  // the move of the storage.
  EnsureCapacity(count_ == INT32_MAX ? INT32_MAX : count_ + 1);
  new (items_ + count_) Value(std::move(v));
  ++count_;
}

void CArray::AddMultiple(std::span<const Value> values) {
  if (values.empty()) return;
  // Copies first: the Values may be elements of this very list.
  std::vector<Value> copies(values.begin(), values.end());
  int64_t required = static_cast<int64_t>(count_) + copies.size();
  if (required > INT32_MAX) RaiseStandard(kErrOverflow);
  EnsureCapacity(static_cast<int32_t>(required));
  for (Value& v : copies) Add(std::move(v));
}

void CArray::AddMultipleFromArray(const Value& Values) {
  if (!Values.IsArray()) RaiseStandard(kErrTypeMismatch);
  const SafeArray& source = Values.array();
  if (source.element_kind() != Kind::Variant) RaiseStandard(kErrTypeMismatch);
  if (source.size() == 0) return;
  // Reading a many-dimensioned array with one index is out of range.
  if (source.dimensions() != 1) RaiseStandard(kErrSubscript);
  AddMultiple(source.values());
}

void CArray::Clear() {
  // Detach first so that an element whose release reaches back into this
  // list finds it already empty.
  Value* old = std::exchange(items_, nullptr);
  int32_t old_count = std::exchange(count_, 0);
  capacity_ = 0;
  std::destroy(old, old + old_count);
  internal::FreeNode(old);
}

void CArray::LetItem(int32_t Index, const Value& NewValue) {
  int32_t i = NormalizeIndex(Index, false);
  Value v = LetValue(NewValue);
  Slot(i) = std::move(v);
}

void CArray::SetItem(int32_t Index, const Value& NewValue) {
  RequireObject(NewValue);
  int32_t i = NormalizeIndex(Index, false);
  items_[i] = NewValue;
}

void CArray::Insert(int32_t Index, const Value& vValue) {
  int32_t i = NormalizeIndex(Index, true);
  Value v(vValue);
  if (i == count_) return Add(std::move(v));
  EnsureCapacity(count_ + 1);
  new (items_ + count_) Value(std::move(items_[count_ - 1]));
  std::move_backward(items_ + i, items_ + count_ - 1, items_ + count_);
  items_[i] = std::move(v);
  ++count_;
}

Value CArray::Remove(int32_t Index) {
  int32_t i = NormalizeIndex(Index, false);
  Value result = std::move(items_[i]);
  std::move(items_ + i + 1, items_ + count_, items_ + i);
  std::destroy_at(items_ + count_ - 1);
  --count_;
  return result;
}

Value CArray::Pop() {
  if (count_ == 0) ErrorRaise(kErrSubscript, kSource, u"Pop from empty list");
  return Remove(count_ - 1);
}

void CArray::Extend(const Value& Source) {
  Object* o = Source.IsObject() ? Source.object() : nullptr;
  if (o != nullptr && o->TypeName() == kSource) {
    Value keep(Source);  // the source may be this list, or held only here
    if (auto* list = dynamic_cast<CArray*>(o)) {
      int32_t n = list->count_;
      int64_t required = static_cast<int64_t>(count_) + n;
      if (required > INT32_MAX) RaiseStandard(kErrOverflow);
      EnsureCapacity(static_cast<int32_t>(required));
      for (int32_t i = 0; i < n; ++i) Add(list->Item(i));
      return;
    }
    // Any other object that calls itself "CArray" is read by name.
    int32_t n = ToLong(CallByName(keep, u"Count", CallType::Get));
    for (int32_t i = 0; i < n; ++i)
      Add(CallByName(keep, u"Item", CallType::Get, {Value(i)}));
    return;
  }
  if (Source.IsArray()) {
    Value keep(Source);  // a copy, in case it is an element of this list
    const SafeArray& source = keep.array();
    if (source.size() == 0) return;
    if (source.dimensions() != 1) RaiseStandard(kErrSubscript);
    for (size_t k = 0; k < source.size(); ++k) Add(source.Get(k));
    return;
  }
  ErrorRaise(kErrInvalidCall, kSource, u"Unsupported source for Extend");
}

Ref<CArray> CArray::Slice(const Value& Start, const Value& Finish,
                          int32_t Step) {
  Ref<CArray> result = Create();
  if (count_ == 0) return result;
  int32_t s = Given(Start) ? NormalizeIndex(ToLong(Start), false) : 0;
  int32_t f =
      Given(Finish) ? NormalizeIndex(ToLong(Finish), false) : count_ - 1;
  if (Step == 0) ErrorRaise(kErrInvalidCall, kSource, u"Step cannot be zero");
  // 64-bit steps: the index past the last one taken may not fit a Long.
  int64_t step = Step;
  int64_t n = 0;
  if (step > 0 && s <= f) n = (static_cast<int64_t>(f) - s) / step + 1;
  if (step < 0 && s >= f) n = (static_cast<int64_t>(s) - f) / -step + 1;
  if (n == 0) return result;
  result->EnsureCapacity(static_cast<int32_t>(n));
  for (int64_t k = 0, i = s; k < n; ++k, i += step)
    result->Add(items_[static_cast<int32_t>(i)]);
  return result;
}

Ref<CArray> CArray::Subset(int32_t StartIndex, int32_t length) {
  int32_t s = NormalizeIndex(StartIndex, false);
  int64_t e = count_ - 1;
  if (length != -1) {
    if (length < -1) {
      ErrorRaise(kErrSubscript, kSource,
                 u"Invalid value provided in length parameter (" +
                     DecimalText(length) + u")");
    }
    e = std::min<int64_t>(static_cast<int64_t>(s) + length - 1, count_ - 1);
  }
  Ref<CArray> result = Create();
  if (e - s + 1 > 0) result->EnsureCapacity(static_cast<int32_t>(e - s + 1));
  for (int64_t i = s; i <= e; ++i) result->Add(items_[i]);
  return result;
}

void CArray::Reverse() {
  for (int32_t i = 0, j = count_ - 1; i < j; ++i, --j)
    items_[i].swap(items_[j]);
}

Ref<CArray> CArray::Clone() const {
  Ref<CArray> result = Create();
  if (count_ > 0) result->EnsureCapacity(count_);
  for (int32_t i = 0; i < count_; ++i) result->Add(items_[i]);
  return result;
}

Value CArray::NewEnum() const {
  Ref<Collection> snapshot = Collection::Create();
  for (int32_t i = 0; i < count_; ++i) snapshot->Append(items_[i]);
  return Value(Enumerator::Over(std::move(snapshot)));
}

Value CArray::ToArray() const {
  std::vector<Value> copies(items_, items_ + count_);
  return MakeArray(std::move(copies));
}

Value CArray::ToStringArray() const {
  SafeArray texts(Kind::String, {{0, count_}});
  // The text of an object element runs client code that may change this
  // list; each element is read afresh and copied before it is converted.
  for (int32_t i = 0; i < count_ && static_cast<size_t>(i) < texts.size();
       ++i) {
    Value element = items_[i];
    texts.values()[i] = Value(ToText(element));
  }
  return Value(std::move(texts));
}

Ref<CArray> CArray::Map(const Ref<ISortCallback>& Callback) const {
  Ref<CArray> result = Create();
  for (int32_t i = 0, n = count_; i < n && i < count_; ++i) {
    if (!Callback) RaiseStandard(kErrObjectNotSet);
    Value element = items_[i];
    result->Add(Callback->Apply(element));
  }
  return result;
}

Ref<CArray> CArray::Filter(const Ref<IFilterCallback>& Callback) const {
  Ref<CArray> result = Create();
  for (int32_t i = 0, n = count_; i < n && i < count_; ++i) {
    if (!Callback) RaiseStandard(kErrObjectNotSet);
    Value element = items_[i];
    if (Callback->Test(element)) result->Add(std::move(element));
  }
  return result;
}

int32_t CArray::IndexOf(const Value& value, int32_t Start) const {
  int32_t s = NormalizeIndex(Start, false);
  for (int32_t i = s, n = count_; i < n && i < count_; ++i) {
    if (CompareValues(items_[i], value) == 0) return i;
  }
  return 0;
}

bool CArray::Contains(const Value& value) const {
  return IndexOf(value, 1) >= 1;
}

int32_t CArray::CountOf(const Value& value) const {
  int32_t matches = 0;
  for (int32_t i = 0, n = count_; i < n && i < count_; ++i) {
    if (CompareValues(items_[i], value) == 0) ++matches;
  }
  return matches;
}

int32_t CArray::Search(const Value& value) const {
  for (int32_t i = 0, n = count_; i < n && i < count_; ++i) {
    if (CompareValues(items_[i], value) == 0) return i;
  }
  return 0;
}

int32_t CArray::CompareGeneral(const Value& a, const Value& b) {
  if (a.IsNull()) return b.IsNull() ? 0 : -1;
  if (b.IsNull()) return 1;
  if (!a.IsObject() && !b.IsObject()) {
    if (a.IsString() && b.IsString())
      return CompareText(a.string_view(), b.string_view(), CompareMode::Text);
    try {
      switch (Compare(a, b)) {
        case Comparison::Less:
          return -1;
        case Comparison::Greater:
          return 1;
        default:
          return 0;
      }
    } catch (const Error&) {
      // Falls back to the texts below, which raise what cannot be compared.
    }
    return CompareText(ToText(a), ToText(b), CompareMode::Text);
  }
  // An object's default member may change the list that holds it, so work
  // on copies. The first failure is dropped and the texts tried again.
  Value left(a);
  Value right(b);
  try {
    return CompareText(ToText(left), ToText(right), CompareMode::Text);
  } catch (const Error&) {
  }
  return CompareText(ToText(left), ToText(right), CompareMode::Text);
}

}  // namespace quorvel
