#include "quorvel/kxdocrec.h"

#include <utility>

#include "quorvel/error.h"

namespace quorvel {

KxDocRec::KxDocRec() : fields_(Dictionary::Create()) {}

Ref<KxDocRec> KxDocRec::Create() { return Ref<KxDocRec>(new KxDocRec); }

const ClassInfo& KxDocRec::Class() const {
  static const ClassInfo info =
      ClassBuilder<KxDocRec>(u"KxDocRec")
          .Get<&KxDocRec::DocID>(u"DocID")
          .Let<&KxDocRec::LetDocID>(u"DocID", {u"NewValue"})
          .Get<&KxDocRec::DB>(u"DB")
          .Set<&KxDocRec::SetDB>(u"DB", {u"NewValue"})
          .Get<&KxDocRec::Count>(u"Count")
          .Method<&KxDocRec::Exists>(u"Exists", {u"Key"})
          .Method<&KxDocRec::Add>(u"Add", {u"Key", u"Value"})
          .Get<&KxDocRec::Item>(u"Item", {u"Key"})
          .Let<&KxDocRec::LetItem>(u"Item", {u"Key", u"NewValue"})
          .Set<&KxDocRec::SetItem>(u"Item", {u"Key", u"NewValue"})
          .Get<&KxDocRec::Keys>(u"Keys")
          .Method<&KxDocRec::Clear>(u"Clear")
          .Method<&KxDocRec::Save>(u"Save")
          .Default(u"Item")
          .Build();
  return info;
}

Value KxDocRec::DB() const {
  return store_ != nullptr ? store_->AsValue() : Value::Nothing();
}

void KxDocRec::SetDB(const Value& NewValue) {
  if (!NewValue.IsObject()) RaiseStandard(kErrObjectRequired);
  if (NewValue.IsNothing()) {
    store_ = nullptr;
    return;
  }
  auto* store = dynamic_cast<DocStoreLink*>(NewValue.object());
  if (store == nullptr) RaiseStandard(kErrTypeMismatch);
  store->TrackRecord(*this);
  store_ = store;
}

Value KxDocRec::Add(const String& Key, const Value& vValue) {
  fields_->Add(Key, vValue);
  return Value();
}

void KxDocRec::Clear() {
  // Swap first so that values released with the old fields see this record
  // already empty.
  Ref<Dictionary> old = std::exchange(fields_, Dictionary::Create());
}

void KxDocRec::Save() {
  if (store_ == nullptr)
    ErrorRaise(kErrRecordDetached, u"CDocRec",
               u"Can't save. Record is not attached to a DB.");
  // The caller's reference keeps this record alive through the save.
  store_->SaveDoc(*this);
}

}  // namespace quorvel
