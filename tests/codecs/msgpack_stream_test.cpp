#include "quorvel/msgpack_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "testing/stored_values.h"

namespace quorvel {
namespace {

using E = mMsgPack::StreamEncoder;

// Writes text, ASCII through AsciiText.
void StreamText(std::u16string_view text, E& e) {
  if (std::all_of(text.begin(), text.end(),
                  [](char16_t c) { return c < 0x80; }))
    return e.AsciiText(std::string(text.begin(), text.end()));
  e.Text(text);
}

// Writes `v` through the events as EncodeBytes walks it; false for a
// document record, which has no event of its own.
bool Stream(const Value& v, E& e) {
  if (const auto* list = v.object_as<CArray>()) {
    e.BeginList(list->Count());
    for (const Value& item : *list)
      if (!Stream(item, e)) return false;
    e.End();
  } else if (const auto* map = v.object_as<Dictionary>()) {
    e.BeginMap(map->Count());
    for (const Dictionary::Entry& entry : *map) {
      StreamText(entry.key.view(), e);
      if (!Stream(entry.value, e)) return false;
    }
    e.End();
  } else if (v.object_as<KxDocRec>() != nullptr) {
    return false;
  } else if (v.IsString()) {
    StreamText(v.string_view(), e);
  } else {
    e.Scalar(v);
  }
  return true;
}

TEST(MsgPackStreamTest, WritesTheBytesEncodeBytesWrites) {
  testing::RandomValues random(20240612);
  int compared = 0;
  for (int i = 0; i < 4000; ++i) {
    const Value v = random.Any();
    std::vector<uint8_t> streamed, encoded;
    int32_t stream_error = 0, encode_error = 0;
    try {
      E e(streamed);
      if (!Stream(v, e)) continue;
      e.Commit();
    } catch (const Error& error) {
      stream_error = error.number();
    }
    try {
      encoded = mMsgPack::EncodeBytes(v, {});
    } catch (const Error& error) {
      encode_error = error.number();
    }
    ASSERT_EQ(stream_error, encode_error) << i;
    ASSERT_EQ(streamed, encoded) << i;
    ++compared;
  }
  EXPECT_GT(compared, 2000);
}

TEST(MsgPackStreamTest, CountsDepthAndKindsAreChecked) {
  // Each raises its number and leaves the output as it was.
  const Value one(1);
  const std::u16string most(65536, u'x');
  const struct {
    std::function<void(E&)> events;
    int32_t error;
  } cases[] = {
      {[&](E& e) { e.BeginList(2), e.Scalar(one), e.End(); }, 9},
      {[&](E& e) { e.BeginList(1), e.Scalar(one), e.Text(u""); }, 9},
      {[&](E& e) { e.BeginMap(1), e.Text(u"k"), e.End(); }, 9},
      {[&](E& e) { e.BeginList(0), e.Commit(); }, 9},
      {[&](E& e) { e.End(); }, 9},
      {[&](E& e) { e.Scalar(one), e.Scalar(one); }, 9},
      {[&](E& e) { e.Commit(); }, 9},
      {[&](E& e) { e.BeginList(65536); }, 6},
      {[&](E& e) { e.BeginMap(-1); }, 6},
      {[&](E& e) { e.Text(most); }, 6},
      {[&](E& e) { e.AsciiText(std::string(most.begin(), most.end())); }, 6},
      {[&](E& e) { e.Scalar(Value()); }, 5},
      {[&](E& e) { e.Scalar(Value::Byte(1)); }, 5},
      {[&](E& e) { e.Scalar(Value(Ref<Object>(CArray::Create()))); }, 5},
      {[&](E& e) {
         for (int d = 0; d <= mMsgPack::kMaxDepth; ++d) e.BeginList(1);
       },
       28},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::vector<uint8_t> out{0xAA};
    try {
      E e(out);
      cases[i].events(e);
      ADD_FAILURE() << "case " << i << " raised nothing";
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), cases[i].error) << "case " << i;
    }
    EXPECT_EQ(out, std::vector<uint8_t>{0xAA}) << "case " << i;
  }
  // The deepest the dialect holds is written.
  std::vector<uint8_t> out;
  E e(out);
  for (int d = 0; d < mMsgPack::kMaxDepth; ++d)
    e.BeginList(d + 1 < mMsgPack::kMaxDepth);
  for (int d = 0; d < mMsgPack::kMaxDepth; ++d) e.End();
  e.Commit();
  EXPECT_EQ(out.size(), 3u * mMsgPack::kMaxDepth);
}

}  // namespace
}  // namespace quorvel
