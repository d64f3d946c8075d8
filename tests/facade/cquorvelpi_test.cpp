#include "quorvel/cquorvelpi.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quorvel {
namespace {

Value Call(const Value& pi, std::u16string_view name,
           std::initializer_list<Value> args) {
  return CallByName(pi, name, CallType::Method, args);
}

// Each codec's pair of members by name gives back what went in.
TEST(CQuorvelPITest, RoundTripsThroughEveryCodecByName) {
  Value pi = CreateObject(u"KxQuorvel.CQuorvelPI");
  Value bytes = MakeByteArray(std::vector<uint8_t>{0, 1, 2, 255, 2, 1, 0});
  for (auto [encode, decode] : {std::pair(u"LZSS_Encode", u"LZSS_Decode"),
                                std::pair(u"Base64_Encode", u"Base64_Decode")})
    EXPECT_EQ(ToBytes(Call(pi, decode, {Call(pi, encode, {bytes})})),
              ToBytes(bytes));
  Value hex =
      Call(pi, u"RC4_Encrypt", {Value(u"Attack at dawn"), Value(u"Secret")});
  EXPECT_EQ(ToText(Call(pi, u"RC4_Decrypt", {hex, Value(u"Secret")})),
            u"Attack at dawn");
  EXPECT_EQ(ToLong(Call(pi, u"Verhoeff_Generate", {Value(u"236")})), 3);
  EXPECT_TRUE(ToBoolean(Call(pi, u"Verhoeff_Validate", {Value(u"2363")})));
  Value tree = Call(pi, u"JSON_parse", {Value(u"{\"a\":[1,\"x\",null]}")});
  Value back =
      Call(pi, u"MsgPack_Decode", {Call(pi, u"MsgPack_Encode", {tree})});
  EXPECT_EQ(ToText(Call(pi, u"JSON_MakeJSON", {back})),
            u"{\"a\":[1,\"x\",null]}");
}

TEST(CQuorvelPITest, FailuresPassThroughUnchanged) {
  Value pi = CreateObject(u"CQuorvelPI");
  ExpectRaises(Call(pi, u"JSON_ParseDict", {Value(u"[1]")}), 9, u"JSON",
               u"Can't parse dictionary. Invalid JSON : [1]");
  ExpectRaisesStandard(Call(pi, u"JSON_MakeJSON", {Value(5)}), 13);
  // The free functions are the predeclared instance's members.
  EXPECT_TRUE(JSON_parse(u"42").IsNothing());
  EXPECT_EQ(Verhoeff_Generate(u"12345"), 1);
  EXPECT_EQ(&CQuorvelPI::Global(), &CQuorvelPI::Global());
}

}  // namespace
}  // namespace quorvel
