#include "quorvel/cdict.h"

#include "quorvel/error.h"

namespace quorvel {

CDict::CDict() : dict_(Dictionary::Create()) {}

Ref<CDict> CDict::Create() { return Ref<CDict>(new CDict); }

const ClassInfo& CDict::Class() const {
  static const ClassInfo info =
      ClassBuilder<CDict>(u"CDict")
          .Get<&CDict::Count>(u"Count")
          .Method<&CDict::Exists>(u"Exists", {u"Key"})
          .Method<&CDict::Add>(u"Add", {u"Key", u"Value"})
          .Get<&CDict::Item>(u"Item", {u"Key"})
          .Let<&CDict::LetItem>(u"Item", {u"Key", u"NewValue"})
          .Set<&CDict::SetItem>(u"Item", {u"Key", u"NewValue"})
          .Get<&CDict::Keys>(u"Keys")
          .Method<&CDict::Clear>(u"Clear")
          .Default(u"Item")
          .Build();
  return info;
}

Value CDict::Add(const String& Key, const Value& vValue) {
  dict_->Add(Key, vValue);
  return Value();
}

Value CDict::Item(const String& Key) {
  // The store rule hands an object entry back as the same reference and
  // anything else as a copy, which is all the two-step read of an object
  // entry amounts to.
  return dict_->Item(Key);
}

void CDict::LetItem(const String& Key, const Value& NewValue) {
  dict_->LetItem(Key, NewValue);
}

void CDict::SetItem(const String& Key, const Value& NewValue) {
  dict_->SetItem(Key, NewValue);
}

void CDict::Clear() {
  // Swap first so that values released with the old dictionary see this
  // one already empty.
  Ref<Dictionary> old = std::exchange(dict_, Dictionary::Create());
}

}  // namespace quorvel
