#include "quorvel/cquorvelpi.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quorvel {
namespace {

Value Call(const Value& pi, std::u16string_view name,
           std::initializer_list<Value> args) {
  return CallByName(pi, name, CallType::Method, args);
}

TEST(CQuorvelPITest, RoundTripsThroughEveryCodecByName) {
  Value pi = CreateObject(u"KxQuorvel.CQuorvelPI");
  Value bytes = MakeByteArray(std::vector<uint8_t>{0, 1, 2, 255, 2, 1, 0});
  EXPECT_EQ(
      ToBytes(Call(pi, u"LZSS_Decode", {Call(pi, u"LZSS_Encode", {bytes})})),
      ToBytes(bytes));
  Value text = Call(pi, u"Base64_Encode", {bytes});
  EXPECT_EQ(ToBytes(Call(pi, u"Base64_Decode", {text})), ToBytes(bytes));
  Value hex =
      Call(pi, u"RC4_Encrypt", {Value(u"Attack at dawn"), Value(u"Secret")});
  EXPECT_EQ(ToText(hex), u"45A01F645FC35B383552544B9BF5");
  EXPECT_EQ(ToText(Call(pi, u"RC4_Decrypt", {hex, Value(u"Secret")})),
            u"Attack at dawn");
  Value digit = Call(pi, u"Verhoeff_Generate", {Value(u"236")});
  EXPECT_EQ(VarType(digit), 2);  // Integer
  EXPECT_EQ(ToLong(digit), 3);
  EXPECT_TRUE(ToBoolean(Call(pi, u"Verhoeff_Validate", {Value(u"2363")})));
  EXPECT_FALSE(ToBoolean(Call(pi, u"Verhoeff_Validate", {Value(u"2364")})));

  Value tree = Call(pi, u"JSON_parse", {Value(u"{\"a\":[1,\"x\",null]}")});
  EXPECT_EQ(ToText(Call(pi, u"JSON_MakeJSON", {tree})),
            u"{\"a\":[1,\"x\",null]}");
  Value packed = Call(pi, u"MsgPack_Encode", {tree});
  EXPECT_EQ(ToText(Call(pi, u"JSON_MakeJSON",
                        {Call(pi, u"MsgPack_Decode", {packed})})),
            u"{\"a\":[1,\"x\",null]}");
  EXPECT_EQ(ToText(Call(pi, u"JSON_MakeJSON", {Value::Nothing()})), u"null");
}

TEST(CQuorvelPITest, FailuresPassThroughUnchanged) {
  Value pi = CreateObject(u"CQuorvelPI");
  ExpectRaises(Call(pi, u"JSON_ParseDict", {Value(u"[1]")}), 9, u"JSON",
               u"Can't parse dictionary. Invalid JSON : [1]");
  ExpectRaisesStandard(Call(pi, u"JSON_MakeJSON", {Value(5)}), 13);
  ExpectRaisesStandard(Call(pi, u"RC4_Encrypt", {Value(u"x"), Value(u"")}), 11);
  // The free functions are the predeclared instance's members.
  EXPECT_TRUE(JSON_parse(u"42").IsNothing());
  EXPECT_EQ(Verhoeff_Generate(u"12345"), 1);
  EXPECT_EQ(&CQuorvelPI::Global(), &CQuorvelPI::Global());
}

}  // namespace
}  // namespace quorvel
