// The codecs that take a Byte array Value read it the same way; one table
// runs the same argument checks on each.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "test_util.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;

// What a form gave: a Byte array as its hex digits (after checking it is a
// new zero-based Byte array), anything else as its text.
std::string Shown(const Value& v) {
  if (!v.IsArray()) return testing::U8(ToText(v));
  EXPECT_EQ(VarType(v), 8192 + 17);
  EXPECT_EQ(LBound(v), 0);
  return testing::ToHex(ToBytes(v));
}

TEST(ByteArrayFormsTest, EveryCodecChecksItsArgumentAlike) {
  const struct {
    const char* name;
    std::function<Value(const Value&)> form;
    const char* empty;      // what no bytes give, or null for error 9
    const char* from_zero;  // what bytes FF, then from index 0 C3 61, give
  } forms[] = {
      {"LZSS.Encode", &mLZSS::Encode, nullptr, "03C361"},
      {"LZSS.Decode", &mLZSS::Decode, nullptr, "61"},
      {"Base64.Encode",
       [](const Value& v) { return Value(mBase64::Encode(v)); }, "", "w2E="},
      {"MsgPack.Decode", &mMsgPack::Decode, nullptr, "True"},
  };
  for (const auto& f : forms) {
    SCOPED_TRACE(f.name);
    ExpectRaisesStandard(f.form(Value()), 9);  // never allocated
    ExpectRaisesStandard(f.form(Value(SafeArray(Bytes{0xC3, 0x61}, 1))), 9);
    ExpectRaisesStandard(f.form(Value(SafeArray(Kind::Byte, {{0, 2}, {0, 2}}))),
                         9);
    ExpectRaisesStandard(f.form(Value(5)), 13);
    ExpectRaisesStandard(f.form(Value(u"0161")), 13);
    ExpectRaisesStandard(f.form(MakeArray({Value(1)})), 13);
    if (f.empty) {
      EXPECT_EQ(Shown(f.form(MakeByteArray(Bytes()))), f.empty);
    } else {
      ExpectRaisesStandard(f.form(MakeByteArray(Bytes())), 9);
    }
    // Elements below index 0 are not read; the argument is left as it was.
    const Value arg(SafeArray(Bytes{0xFF, 0xC3, 0x61}, -1));
    EXPECT_EQ(Shown(f.form(arg)), f.from_zero);
    EXPECT_EQ(testing::ToHex(arg.array().bytes()), "FFC361");
  }
  EXPECT_EQ(Shown(mBase64::Decode(u"TWFu")), "4D616E");
  EXPECT_EQ(Shown(mMsgPack::Encode(Value(7))), "D207000000");
}

}  // namespace
}  // namespace quorvel
