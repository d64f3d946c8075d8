// `CQuorvelPI`: the one class through which clients reach the text and byte
// codecs, and the same members as free functions.
#ifndef QUORVEL_CQUORVELPI_H_
#define QUORVEL_CQUORVELPI_H_

#include <cstdint>
#include <string_view>

#include "quorvel/dispatch.h"
#include "quorvel/object.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

namespace quorvel {

// Stateless: each member hands its arguments to one module entry and returns
// that entry's result unchanged; failures pass through untouched. Instances
// are interchangeable; `Global()` is the predeclared one that the free
// functions below use. Thread-safe, as it holds nothing.
class CQuorvelPI final : public Object {
 public:
  static Ref<CQuorvelPI> Create();
  static CQuorvelPI& Global();
  const ClassInfo& Class() const override;

  Value JSON_parse(std::u16string_view sJSON) const;
  Value JSON_ParseArray(std::u16string_view sJSON) const;
  Value JSON_ParseDict(std::u16string_view sJSON) const;
  // `obj` must be an object reference (Nothing included).
  String JSON_MakeJSON(const Ref<Object>& obj) const;
  Value MsgPack_Encode(const Value& v) const;
  Value MsgPack_Decode(const Value& v) const;
  String Base64_Encode(const Value& data) const;
  Value Base64_Decode(std::u16string_view s) const;
  Value LZSS_Encode(const Value& data) const;
  Value LZSS_Decode(const Value& data) const;
  String RC4_Encrypt(std::u16string_view s, std::u16string_view sKey) const;
  String RC4_Decrypt(std::u16string_view s, std::u16string_view sKey) const;
  bool Verhoeff_Validate(std::u16string_view s) const;
  int16_t Verhoeff_Generate(std::u16string_view s) const;

 private:
  CQuorvelPI() = default;
};

// The members of the predeclared instance, callable as free functions.
inline Value JSON_parse(std::u16string_view sJSON) {
  return CQuorvelPI::Global().JSON_parse(sJSON);
}
inline Value JSON_ParseArray(std::u16string_view sJSON) {
  return CQuorvelPI::Global().JSON_ParseArray(sJSON);
}
inline Value JSON_ParseDict(std::u16string_view sJSON) {
  return CQuorvelPI::Global().JSON_ParseDict(sJSON);
}
inline String JSON_MakeJSON(const Ref<Object>& obj) {
  return CQuorvelPI::Global().JSON_MakeJSON(obj);
}
inline Value MsgPack_Encode(const Value& v) {
  return CQuorvelPI::Global().MsgPack_Encode(v);
}
inline Value MsgPack_Decode(const Value& v) {
  return CQuorvelPI::Global().MsgPack_Decode(v);
}
inline String Base64_Encode(const Value& data) {
  return CQuorvelPI::Global().Base64_Encode(data);
}
inline Value Base64_Decode(std::u16string_view s) {
  return CQuorvelPI::Global().Base64_Decode(s);
}
inline Value LZSS_Encode(const Value& data) {
  return CQuorvelPI::Global().LZSS_Encode(data);
}
inline Value LZSS_Decode(const Value& data) {
  return CQuorvelPI::Global().LZSS_Decode(data);
}
inline String RC4_Encrypt(std::u16string_view s, std::u16string_view sKey) {
  return CQuorvelPI::Global().RC4_Encrypt(s, sKey);
}
inline String RC4_Decrypt(std::u16string_view s, std::u16string_view sKey) {
  return CQuorvelPI::Global().RC4_Decrypt(s, sKey);
}
inline bool Verhoeff_Validate(std::u16string_view s) {
  return CQuorvelPI::Global().Verhoeff_Validate(s);
}
inline int16_t Verhoeff_Generate(std::u16string_view s) {
  return CQuorvelPI::Global().Verhoeff_Generate(s);
}

}  // namespace quorvel

#endif  // QUORVEL_CQUORVELPI_H_
