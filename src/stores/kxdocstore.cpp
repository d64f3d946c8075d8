#include "quorvel/kxdocstore.h"

#include <array>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include "quorvel/compare.h"
#include "quorvel/error.h"
#include "quorvel/safearray.h"
#include "stores/doc_rules.h"

namespace quorvel {

namespace internal {

namespace {

// Letters that case folding maps onto another lower-case letter although
// they are not capitals themselves (micro sign, long s, final sigma, the
// Greek symbol variants, title-case digraphs, sharp s capital, ...). They
// must not be chosen as the upper case of what they fold to.
bool FoldsButIsNotCapital(char16_t c) {
  switch (c) {
    case 0x00B5:
    case 0x017F:
    case 0x01C5:
    case 0x01C8:
    case 0x01CB:
    case 0x01F2:
    case 0x0345:
    case 0x03C2:
    case 0x03D0:
    case 0x03D1:
    case 0x03D5:
    case 0x03D6:
    case 0x03F0:
    case 0x03F1:
    case 0x03F5:
    case 0x1E9B:
    case 0x1E9E:
    case 0x1FBE:
      return true;
    default:
      // Cherokee folds its small letters onto the capitals.
      return (c >= 0x13F8 && c <= 0x13FD) || (c >= 0xAB70 && c <= 0xABBF);
  }
}

// The upper case of every code unit of the basic plane, derived from the
// case folding the text comparison already uses so that the two never
// disagree: the upper case of a letter is the smallest capital that folds
// to it.
const std::array<char16_t, 0x10000>& UpperTable() {
  static const std::unique_ptr<std::array<char16_t, 0x10000>> table = [] {
    auto t = std::make_unique<std::array<char16_t, 0x10000>>();
    for (uint32_t c = 0; c < 0x10000; ++c) (*t)[c] = static_cast<char16_t>(c);
    for (uint32_t c = 0x10000; c-- > 0;) {
      if (c >= 0xD800 && c <= 0xDFFF) continue;
      char16_t unit = static_cast<char16_t>(c);
      char32_t folded = FoldCase(c);
      if (folded == c || folded > 0xFFFF || FoldsButIsNotCapital(unit))
        continue;
      // Walking downwards leaves the smallest capital in place.
      (*t)[folded] = unit;
    }
    // The small and title-case variants go up with the letter they fold to.
    for (uint32_t c = 0; c < 0x10000; ++c) {
      char16_t unit = static_cast<char16_t>(c);
      if (c != 0x1E9E && FoldsButIsNotCapital(unit) && FoldCase(c) <= 0xFFFF)
        (*t)[c] = (*t)[FoldCase(c)];
    }
    // Cherokee small letters go up to the capitals they fold to.
    for (uint32_t c = 0x13F8; c <= 0x13FD; ++c)
      (*t)[c] = static_cast<char16_t>(FoldCase(c));
    for (uint32_t c = 0xAB70; c <= 0xABBF; ++c)
      (*t)[c] = static_cast<char16_t>(FoldCase(c));
    return t;
  }();
  return *table;
}

}  // namespace

String NormalizeDocId(std::u16string_view id) {
  size_t first = id.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return String();
  size_t last = id.find_last_not_of(u' ');
  std::u16string_view trimmed = id.substr(first, last - first + 1);
  bool ascii = true;
  for (char16_t c : trimmed) ascii = ascii && c < 0x80;
  if (ascii) {
    return String::Build(trimmed.size(), [&](char16_t* out) {
      for (char16_t c : trimmed)
        *out++ = (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
    });
  }
  const auto& upper = UpperTable();
  return String::Build(trimmed.size(), [&](char16_t* out) {
    for (char16_t c : trimmed) *out++ = upper[c];
  });
}

String GeneratedDocId(int32_t counter) {
  std::string digits = std::to_string(counter);
  if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
  std::u16string id = u"DOC";
  id.append(digits.begin(), digits.end());
  return String(id);
}

int32_t NextDocCounter(int32_t counter) {
  if (counter == std::numeric_limits<int32_t>::max()) {
    RaiseOverflow(u"", u"the document id counter stops at 2,147,483,647");
  }
  return counter + 1;
}

bool DocValuesEqual(const Value& a, const Value& b) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() && b.IsNull();
  if (VarType(a) != VarType(b) || a.IsObject()) return false;
  return Compare(a, b) == Comparison::Equal;
}

Value DocIdArray(std::vector<String>&& ids) {
  if (ids.empty()) return Value(SafeArray());
  SafeArray out(Kind::String, {{0, static_cast<int32_t>(ids.size())}});
  for (size_t i = 0; i < ids.size(); ++i)
    out.values()[i] = Value(std::move(ids[i]));
  return Value(std::move(out));
}

}  // namespace internal

namespace {

// Reads a document's field through whatever object is stored: a dictionary
// directly, any other object by late binding.
bool DocHasField(const Value& doc, const String& field) {
  if (auto* dict = doc.object_as<Dictionary>()) return dict->Exists(field);
  return ToBoolean(
      CallByName(doc, u"Exists", CallType::Method, {Value(field)}));
}

Value DocField(const Value& doc, const String& field) {
  if (auto* dict = doc.object_as<Dictionary>()) return dict->Item(field);
  return CallByName(doc, u"Item", CallType::Get, {Value(field)});
}

}  // namespace

KxDocStore::KxDocStore() : docs_(Dictionary::Create()) {}

Ref<KxDocStore> KxDocStore::Create() { return Ref<KxDocStore>(new KxDocStore); }

const ClassInfo& KxDocStore::Class() const {
  static const ClassInfo info =
      ClassBuilder<KxDocStore>(u"KxDocStore")
          .Method<&KxDocStore::AddDoc>(u"AddDoc", {Opt(u"id")})
          .Get<&KxDocStore::Item>(u"Item", {u"id"})
          .Let<&KxDocStore::LetItem>(u"Item", {u"id", u"doc"})
          .Set<&KxDocStore::LetItem>(u"Item", {u"id", u"doc"})
          .Method<&KxDocStore::Remove>(u"Remove", {u"id"})
          .Method<&KxDocStore::Exists>(u"Exists", {u"id"})
          .Get<&KxDocStore::Count>(u"Count")
          .Method<&KxDocStore::Clear>(u"Clear")
          .Get<&KxDocStore::Keys>(u"Keys")
          .Method<&KxDocStore::SetField>(u"SetField",
                                         {u"id", u"FieldName", u"Value"})
          .Method<&KxDocStore::GetField>(
              u"GetField", {u"id", u"FieldName", Opt(u"defaultValue")})
          .Method<&KxDocStore::FindIds>(u"FindIds", {u"FieldName", u"Value"})
          .Default(u"Item")
          .Build();
  return info;
}

Ref<Dictionary> KxDocStore::AddDoc(const String& id) {
  Ref<Dictionary> doc = Dictionary::Create();
  String key = id;
  if (key.empty()) {
    key = internal::GeneratedDocId(next_id_);
    next_id_ = internal::NextDocCounter(next_id_);
  }
  key = internal::NormalizeDocId(key);
  if (docs_->Exists(key)) {
    ErrorRaise(kErrGeneralFailure, u"CDocStore",
               u"Document already exists: " + key.str());
  }
  docs_->LetItem(key, Value(doc));
  doc->LetItem(String(u"_id"), Value(key));
  return doc;
}

Value KxDocStore::Item(const String& id) const {
  const Value* doc = docs_->Find(internal::NormalizeDocId(id));
  return doc != nullptr ? *doc : Value::Nothing();
}

void KxDocStore::LetItem(const String& id, Ref<Object> doc) {
  docs_->LetItem(internal::NormalizeDocId(id), Value(std::move(doc)));
}

void KxDocStore::Remove(const String& id) {
  String key = internal::NormalizeDocId(id);
  if (docs_->Exists(key)) docs_->Remove(key);
}

bool KxDocStore::Exists(const String& id) const {
  return docs_->Exists(internal::NormalizeDocId(id));
}

void KxDocStore::Clear() {
  // Swap first so that documents released with the old dictionary see the
  // store already empty.
  Ref<Dictionary> old = std::exchange(docs_, Dictionary::Create());
  next_id_ = 1;
}

void KxDocStore::SetField(const String& id, const String& FieldName,
                          const Value& vValue) {
  Value doc = Item(id);
  if (doc.IsNothing()) RaiseStandard(kErrObjectNotSet);
  if (auto* dict = doc.object_as<Dictionary>()) {
    dict->LetItem(FieldName, vValue);
    return;
  }
  CallByName(doc, u"Item", CallType::Let, {Value(FieldName), vValue});
}

Value KxDocStore::GetField(const String& id, const String& FieldName,
                           const Value& defaultValue) const {
  const Value* doc = docs_->Find(internal::NormalizeDocId(id));
  if (doc != nullptr && DocHasField(*doc, FieldName))
    return DocField(*doc, FieldName);
  return defaultValue;
}

Value KxDocStore::FindIds(const String& FieldName, const Value& vValue) const {
  std::vector<String> matches;
  for (const Dictionary::Entry& entry : *docs_) {
    if (entry.value.IsNothing()) RaiseStandard(kErrObjectNotSet);
    auto* dict = entry.value.object_as<Dictionary>();
    if (dict == nullptr) RaiseStandard(kErrTypeMismatch);
    const Value* field = dict->Find(FieldName);
    if (field != nullptr && internal::DocValuesEqual(*field, vValue))
      matches.push_back(entry.key);
  }
  return internal::DocIdArray(std::move(matches));
}

}  // namespace quorvel
