// `KxDocRec`: one document of a document database, a String-keyed map of
// field values with an identifier and a link to the database it saves into.
#ifndef QUORVEL_KXDOCREC_H_
#define QUORVEL_KXDOCREC_H_

#include <cstdint>
#include <string_view>

#include "quorvel/dictionary.h"
#include "quorvel/dispatch.h"
#include "quorvel/object.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

namespace quorvel {

class KxDocRec;
class KxDocsDB;

// What a record needs from the database it belongs to. A database derives
// from it and attaches itself to the records it hands out; the record keeps
// only a plain pointer, so a database and the records in its cache do not
// keep each other alive. The database must detach (`AttachStore(nullptr)`)
// every record that still points at it before it goes away.
class DocStoreLink {
 public:
  virtual ~DocStoreLink() = default;
  // Appends `rec` to the store under its DocID. Called by `KxDocRec::Save`.
  virtual void SaveDoc(KxDocRec& rec) = 0;
  // Returns the store as an object Value (what `DB` reads).
  virtual Value AsValue() = 0;
  // Called when a client attaches `rec` through `DB`, so that the store can
  // remember to detach it when it is destroyed. A store that cannot outlive
  // its records may ignore it.
  virtual void TrackRecord(KxDocRec& rec) { (void)rec; }
};

// A map of field names to Values with the members and behaviour of `CDict`,
// plus `DocID`, `DB` and `Save`. The fields live in one `Dictionary` owned by
// the record (replaced by a new one on `Clear`); `DocID` and `DB` are not
// fields. Values follow the store rule: objects are shared, everything else
// copied. A member that raises leaves the record as it was. `DB` does not
// own the database (see `DocStoreLink`). Thread-compatible.
class KxDocRec final : public Object, public FieldMap {
 public:
  static Ref<KxDocRec> Create();
  const ClassInfo& Class() const override;
  ~KxDocRec() override = default;

  // The identifier, stored exactly as given: no trimming, no case change.
  String DocID() const { return doc_id_; }
  void LetDocID(const String& NewValue) { doc_id_ = NewValue; }

  // Returns the attached database, or Nothing.
  Value DB() const;
  // Attaches the record to a database object (one that is a
  // `DocStoreLink`), or detaches it for Nothing. Raises 424 for a Value that
  // holds no object and 13 for an object that is not a database.
  void SetDB(const Value& NewValue);

  int32_t Count() const { return fields_->Count(); }
  bool Exists(std::u16string_view Key) const { return fields_->Exists(Key); }
  // Adds a field; the result is always Empty. Raises 457 for a present key.
  Value Add(const String& Key, const Value& vValue);
  // Returns the value of `Key`, an object as the same reference; an absent
  // key is inserted with Empty.
  Value Item(const String& Key) { return fields_->Item(Key); }
  // Stores an object Value (Nothing included) by reference, anything else
  // by value; inserts or replaces.
  void LetItem(const String& Key, const Value& NewValue) {
    fields_->LetItem(Key, NewValue);
  }
  // Stores the object reference of `NewValue`; raises 424 for a non-object.
  void SetItem(const String& Key, const Value& NewValue) {
    fields_->SetItem(Key, NewValue);
  }
  // Returns a zero-based array of the field names in insertion order.
  Value Keys() const { return fields_->Keys(); }
  // Puts a new empty fields dictionary in place; `DocID` and `DB` stay.
  void Clear();
  // Writes the record into its database under `DocID`. Raises -2147220502
  // (source "CDocRec") when no database is attached, and passes on what the
  // database's save raises.
  void Save();

  // C++ access for the serializers and the database.
  Dictionary& fields() override { return *fields_; }
  const Dictionary& fields() const override { return *fields_; }
  // Sets or clears the database without telling it; for the database itself.
  void AttachStore(DocStoreLink* store) { store_ = store; }
  DocStoreLink* store() const { return store_; }
  // Whether the database handed this record out as a new document that no
  // save has stored yet; for the database itself.
  bool unsaved_new() const { return unsaved_new_; }
  void set_unsaved_new(bool unsaved_new) { unsaved_new_ = unsaved_new; }

 private:
  KxDocRec();

  Ref<Dictionary> fields_;
  String doc_id_;
  DocStoreLink* store_ = nullptr;  // not owned; see DocStoreLink
  bool unsaved_new_ = false;
};

}  // namespace quorvel

#endif  // QUORVEL_KXDOCREC_H_
