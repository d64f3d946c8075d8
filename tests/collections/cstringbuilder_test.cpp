#include "quorvel/cstringbuilder.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quorvel {
namespace {

int32_t Long(const Value& sb, std::u16string_view name) {
  return ToLong(CallByName(sb, name, CallType::Get));
}

TEST(cStringBuilderTest, GrowsInWholeChunksAndRaisesTheStepForLongAppends) {
  Value sb = CreateObject(u"cStringBuilder");
  EXPECT_EQ(Long(sb, u"ChunkSize"), 8192);
  CallByName(sb, u"Append", CallType::Method, {Value(u"")});
  EXPECT_EQ(Long(sb, u"Capacity"), 0);  // nothing to add, nothing grown
  CallByName(sb, u"Append", CallType::Method, {Value(u"abc")});
  // Exactly filling the room does not grow; one more character does.
  CallByName(sb, u"AppendByVal", CallType::Method,
             {Value(std::u16string(8189, u'x'))});
  EXPECT_EQ(Long(sb, u"Capacity"), 8192);
  CallByName(sb, u"Append", CallType::Method, {Value(u"y")});
  EXPECT_EQ(Long(sb, u"Capacity"), 16384);
  EXPECT_EQ(Long(sb, u"length"), 8193);
  EXPECT_EQ(
      CallByName(sb, u"ToString", CallType::Get).string_view().substr(0, 4),
      u"abcx");

  auto big = cStringBuilder::Create();
  big->Append(std::u16string(10000, u'z'));
  EXPECT_EQ(big->Capacity(), 10050);
  big->Append(std::u16string(51, u'z'));  // 10,051 > 10,050: one more step
  EXPECT_EQ(big->Capacity(), 20100);

  auto set = cStringBuilder::Create();
  set->LetTheString(std::u16string(20000, u'q'));
  EXPECT_EQ(set->Capacity(), 24576);
  EXPECT_EQ(set->ChunkSize(), 8192);  // a whole string raises no step
  set->LetTheString(u"");
  EXPECT_EQ(set->Capacity(), 0);
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
  EXPECT_EQ(find({Value(u"d")}), 0);
  EXPECT_EQ(find({Value(u"C")}), 3);  // text mode by default
  EXPECT_EQ(find({Value(u"C"), Value(1), Value(0)}), 0);
  EXPECT_EQ(find({Value(u"  ")}), 0);  // spare room is never searched
  EXPECT_EQ(find({Value(u"c"), Value(4)}), 0);
  EXPECT_EQ(find({Value(u""), Value(2)}), 2);
  ExpectRaisesStandard(find({Value(u"a"), Value(1), Value(2)}), 5);
  CallByName(sb, u"TheString", CallType::Let, {Value(u"abcabc")});
  EXPECT_EQ(find({Value(u"b"), Value(3)}), 5);
  EXPECT_EQ(find({Value(u"b"), Value(0)}), 2);
  EXPECT_EQ(find({Value(u"BC"), Value(3), Value(1)}), 5);
}

TEST(cStringBuilderTest, HeapMinimizeKeepsAtMostOneChunkOfRoom) {
  auto sb = cStringBuilder::Create();
  sb->Append(std::u16string(20, u'a'));
  sb->Remove(0, 15);
  sb->HeapMinimize();
  EXPECT_EQ(sb->Capacity(), 8192);
  sb->LetTheString(std::u16string(40000, u'b'));  // 5 steps: 40,960
  sb->Remove(0, 39990);                           // 10 left
  sb->HeapMinimize();
  EXPECT_EQ(sb->Capacity(), 8192);
  EXPECT_EQ(sb->view(), std::u16string(10, u'b'));
  sb->LetChunkSize(100);
  sb->HeapMinimize();
  EXPECT_EQ(sb->Capacity(), 92);  // 8,192 - 81 * 100: 82 spare, not over 100
}

TEST(cStringBuilderTest, ChunkSizeLimits) {
  Value sb = CreateObject(u"cStringBuilder");
  ExpectRaisesStandard(
      CallByName(sb, u"ChunkSize", CallType::Let, {Value(1073741824)}), 6);
  ExpectRaisesStandard(CallByName(sb, u"ChunkSize", CallType::Let, {Value(0)}),
                       5);
  EXPECT_EQ(Long(sb, u"ChunkSize"), 8192);
  CallByName(sb, u"ChunkSize", CallType::Let, {Value(1073741823)});
  // One step of the largest chunk fits; a second would pass the byte range.
  CallByName(sb, u"Append", CallType::Method, {Value(u"x")});
  EXPECT_EQ(Long(sb, u"Capacity"), 1073741823);
}

}  // namespace
}  // namespace quorvel
