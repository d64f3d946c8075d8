#include "quorvel/cstringbuilder.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quorvel {
namespace {

int32_t Long(const Value& sb, std::u16string_view name) {
  return ToLong(CallByName(sb, name, CallType::Get));
}

TEST(cStringBuilderTest, GrowsInWholeChunks) {
  Value sb = CreateObject(u"cStringBuilder");
  CallByName(sb, u"Append", CallType::Method, {Value(u"abc")});
  CallByName(sb, u"AppendByVal", CallType::Method,
             {Value(std::u16string(8189, u'x'))});
  EXPECT_EQ(Long(sb, u"Capacity"), 8192);  // exactly full does not grow
  CallByName(sb, u"Append", CallType::Method, {Value(u"y")});
  EXPECT_EQ(Long(sb, u"Capacity"), 16384);
  EXPECT_EQ(Long(sb, u"length"), 8193);
  EXPECT_EQ(
      CallByName(sb, u"ToString", CallType::Get).string_view().substr(0, 4),
      u"abcx");
}

TEST(cStringBuilderTest, InsertAndRemoveTakeZeroBasedPositions) {
  auto sb = cStringBuilder::Create();
  sb->Append(u"bd");
  sb->Insert(0, u"a");
  sb->Insert(2, u"c");
  sb->Insert(4, u"e");  // at length: appends
  EXPECT_EQ(sb->view(), u"abcde");
  ExpectRaisesStandard(sb->Insert(6, u"x"), 9);
  ExpectRaises(sb->Insert(-1, u"x"), 9, u"KxQuorvel",
               u"Subscript out of range");
  // Inserting a view of its own content stays correct across a regrow.
  sb->LetChunkSize(1);
  sb->Insert(1, sb->view());
  EXPECT_EQ(sb->view(), u"aabcdebcde");
  sb->Remove(1, 5);
  EXPECT_EQ(sb->view(), u"abcde");
  int32_t capacity = sb->Capacity();
  ExpectRaisesStandard(sb->Remove(2, 5), 9);
  ExpectRaisesStandard(sb->Remove(0, -1), 9);
  ExpectRaisesStandard(sb->Remove(6, 0), 9);
  sb->Remove(5, 0);
  CallByName(Value(Ref<Object>(sb)), u"Remove", CallType::Method,
             {Value(0), Value(5)});
  EXPECT_EQ(sb->length(), 0);
  EXPECT_EQ(sb->Capacity(), capacity);
}

TEST(cStringBuilderTest, FindIsOneBasedAndSeesOnlyTheContent) {
  Value sb = CreateObject(u"cStringBuilder");
  auto find = [&](std::initializer_list<Value> args) {
    return ToLong(CallByName(sb, u"Find", CallType::Method, args));
  };
  CallByName(sb, u"TheString", CallType::Let, {Value(u"abc")});
  EXPECT_EQ(find({Value(u"c")}), 3);
  EXPECT_EQ(find({Value(u"C")}), 3);  // text mode by default
  EXPECT_EQ(find({Value(u"C"), Value(1), Value(0)}), 0);
  EXPECT_EQ(find({Value(u"  ")}), 0);  // spare room is never searched
  EXPECT_EQ(find({Value(u"c"), Value(4)}), 0);
  EXPECT_EQ(find({Value(u""), Value(2)}), 2);
  ExpectRaisesStandard(find({Value(u"a"), Value(1), Value(2)}), 5);
  CallByName(sb, u"TheString", CallType::Let, {Value(u"abcabc")});
  EXPECT_EQ(find({Value(u"b"), Value(3)}), 5);
}

TEST(cStringBuilderTest, ChunkSizeLimits) {
  Value sb = CreateObject(u"cStringBuilder");
  ExpectRaisesStandard(
      CallByName(sb, u"ChunkSize", CallType::Let, {Value(1073741824)}), 6);
  ExpectRaisesStandard(CallByName(sb, u"ChunkSize", CallType::Let, {Value(0)}),
                       5);
  EXPECT_EQ(Long(sb, u"ChunkSize"), 8192);
  CallByName(sb, u"ChunkSize", CallType::Let, {Value(1073741823)});
}

}  // namespace
}  // namespace quorvel
