// `CDict`: the public string-keyed dictionary class.
#ifndef QUORVEL_CDICT_H_
#define QUORVEL_CDICT_H_

#include <cstdint>
#include <string_view>

#include "quorvel/dictionary.h"
#include "quorvel/dispatch.h"
#include "quorvel/object.h"
#include "quorvel/value.h"

namespace quorvel {

// A map from String keys to Values that forwards every member to one
// `Dictionary` it owns and never hands out; it adds no storage, checks or
// errors of its own, so a failure is the dictionary's (457 for a present
// key on `Add`) and leaves the dictionary as that operation left it.
class CDict final : public Object {
 public:
  static Ref<CDict> Create();
  const ClassInfo& Class() const override;

  int32_t Count() const { return dict_->Count(); }
  bool Exists(std::u16string_view Key) const { return dict_->Exists(Key); }
  // Adds an entry; the result is always Empty. Raises 457 for a present key.
  Value Add(const String& Key, const Value& vValue);
  // Returns the value of `Key`, an object as the same reference; an absent
  // key is inserted with Empty.
  Value Item(const String& Key);
  // Stores an object Value (Nothing included) by reference, anything else by
  // value.
  void LetItem(const String& Key, const Value& NewValue);
  // Stores the object reference of `NewValue`; raises 424 for a non-object.
  void SetItem(const String& Key, const Value& NewValue);
  Value Keys() const { return dict_->Keys(); }
  // Puts a new empty dictionary in place of the old one.
  void Clear();

 private:
  CDict();

  Ref<Dictionary> dict_;
};

}  // namespace quorvel

#endif  // QUORVEL_CDICT_H_
