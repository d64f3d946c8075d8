#include "quorvel/cquorvelpi.h"

#include "quorvel/base64.h"
#include "quorvel/json.h"
#include "quorvel/lzss.h"
#include "quorvel/msgpack.h"
#include "quorvel/rc4.h"
#include "quorvel/verhoeff.h"

namespace quorvel {

Ref<CQuorvelPI> CQuorvelPI::Create() { return Ref<CQuorvelPI>(new CQuorvelPI); }

CQuorvelPI& CQuorvelPI::Global() {
  // Never released: the instance lives as long as the process, as the
  // platform's predeclared one does.
  static CQuorvelPI* const instance = [] {
    CQuorvelPI* pi = new CQuorvelPI;
    pi->AddRef();
    return pi;
  }();
  return *instance;
}

const ClassInfo& CQuorvelPI::Class() const {
  static const ClassInfo info =
      ClassBuilder<CQuorvelPI>(u"CQuorvelPI")
          .Method<&CQuorvelPI::JSON_parse>(u"JSON_parse", {u"sJSON"})
          .Method<&CQuorvelPI::JSON_ParseArray>(u"JSON_ParseArray", {u"sJSON"})
          .Method<&CQuorvelPI::JSON_ParseDict>(u"JSON_ParseDict", {u"sJSON"})
          .Method<&CQuorvelPI::JSON_MakeJSON>(u"JSON_MakeJSON", {u"obj"})
          .Method<&CQuorvelPI::MsgPack_Encode>(u"MsgPack_Encode", {u"v"})
          .Method<&CQuorvelPI::MsgPack_Decode>(u"MsgPack_Decode", {u"v"})
          .Method<&CQuorvelPI::Base64_Encode>(u"Base64_Encode", {u"data"})
          .Method<&CQuorvelPI::Base64_Decode>(u"Base64_Decode", {u"s"})
          .Method<&CQuorvelPI::LZSS_Encode>(u"LZSS_Encode", {u"data"})
          .Method<&CQuorvelPI::LZSS_Decode>(u"LZSS_Decode", {u"data"})
          .Method<&CQuorvelPI::RC4_Encrypt>(u"RC4_Encrypt", {u"s", u"sKey"})
          .Method<&CQuorvelPI::RC4_Decrypt>(u"RC4_Decrypt", {u"s", u"sKey"})
          .Method<&CQuorvelPI::Verhoeff_Validate>(u"Verhoeff_Validate", {u"s"})
          .Method<&CQuorvelPI::Verhoeff_Generate>(u"Verhoeff_Generate", {u"s"})
          .Build();
  return info;
}

Value CQuorvelPI::JSON_parse(std::u16string_view sJSON) const {
  return JSON::Parse(sJSON);
}
Value CQuorvelPI::JSON_ParseArray(std::u16string_view sJSON) const {
  return JSON::ParseArray(sJSON);
}
Value CQuorvelPI::JSON_ParseDict(std::u16string_view sJSON) const {
  return JSON::ParseDict(sJSON);
}
String CQuorvelPI::JSON_MakeJSON(const Ref<Object>& obj) const {
  return JSON::WriteJSON(Value(obj));
}
Value CQuorvelPI::MsgPack_Encode(const Value& v) const {
  return mMsgPack::Encode(v);
}
Value CQuorvelPI::MsgPack_Decode(const Value& v) const {
  return mMsgPack::Decode(v);
}
String CQuorvelPI::Base64_Encode(const Value& data) const {
  return mBase64::Encode(data);
}
Value CQuorvelPI::Base64_Decode(std::u16string_view s) const {
  return mBase64::Decode(s);
}
Value CQuorvelPI::LZSS_Encode(const Value& data) const {
  return mLZSS::Encode(data);
}
Value CQuorvelPI::LZSS_Decode(const Value& data) const {
  return mLZSS::Decode(data);
}
String CQuorvelPI::RC4_Encrypt(std::u16string_view s,
                               std::u16string_view sKey) const {
  return mRC4::Encrypt(s, sKey);
}
String CQuorvelPI::RC4_Decrypt(std::u16string_view s,
                               std::u16string_view sKey) const {
  return mRC4::Decrypt(s, sKey);
}
bool CQuorvelPI::Verhoeff_Validate(std::u16string_view s) const {
  return mVerhoeff::Validate(s);
}
int16_t CQuorvelPI::Verhoeff_Generate(std::u16string_view s) const {
  return mVerhoeff::Generate(s);
}

}  // namespace quorvel
