// `KxDocStore`: documents kept in memory by identifier, each one a platform
// dictionary that clients read and change directly.
#ifndef QUORVEL_KXDOCSTORE_H_
#define QUORVEL_KXDOCSTORE_H_

#include <cstdint>
#include <string_view>

#include "quorvel/dictionary.h"
#include "quorvel/dispatch.h"
#include "quorvel/object.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

namespace quorvel {

// An in-memory document store. Documents are held by reference, never
// copied: `AddDoc` and `Item` hand out the stored object, so a change made
// through it is the store's content. Identifiers are normalised (blanks
// trimmed, letters upper-cased) by every member that takes one, so "doc1"
// and " DOC1 " name one document. Documents keep insertion order.
//
// Failures: `AddDoc` of a present identifier raises hex 800403E9 with source
// "CDocStore"; `SetField` of an absent identifier raises 91; the id counter
// passing 2,147,483,647 raises 6. A raising member changes nothing except
// that a generated identifier stays consumed. Thread-compatible.
class KxDocStore final : public Object {
 public:
  static Ref<KxDocStore> Create();
  const ClassInfo& Class() const override;

  // Creates and stores a new document holding only "_id" and returns it. An
  // empty `id` takes the next generated identifier (DOC000001, ...).
  Ref<Dictionary> AddDoc(const String& id = String());
  // Returns the document stored under `id`, the same object every time, or
  // Nothing.
  Value Item(const String& id) const;
  // Stores `doc` (any object, Nothing included) under `id`, replacing and
  // releasing what was there. Serves both the value and the reference write.
  void LetItem(const String& id, Ref<Object> doc);
  // Removes the document under `id`; an absent one is no error.
  void Remove(const String& id);
  bool Exists(const String& id) const;
  int32_t Count() const { return docs_->Count(); }
  // Drops every document and restarts the generated identifiers at 1.
  void Clear();
  // Returns the identifiers, upper-cased, in insertion order.
  Value Keys() const { return docs_->Keys(); }
  // Writes one field of a stored document; raises 91 when there is none.
  void SetField(const String& id, const String& FieldName, const Value& vValue);
  // Returns one field of a stored document, or `defaultValue` (Missing when
  // omitted) when the document or the field is absent.
  Value GetField(const String& id, const String& FieldName,
                 const Value& defaultValue = Value::Missing()) const;
  // Returns the identifiers of the documents whose field equals `vValue`
  // (same kind and equal, case-sensitive), as an array of Strings; no match
  // gives an empty array of Values. Raises 13 on reaching a stored object
  // that is not a dictionary.
  Value FindIds(const String& FieldName, const Value& vValue) const;

 private:
  KxDocStore();

  Ref<Dictionary> docs_;
  int32_t next_id_ = 1;
};

}  // namespace quorvel

#endif  // QUORVEL_KXDOCSTORE_H_
