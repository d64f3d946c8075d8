#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "core/bulk_scope.h"
#include "quorvel/carray.h"
#include "quorvel/convert.h"
#include "quorvel/dictionary.h"
#include "quorvel/json.h"
#include "quorvel/json_strict.h"
#include "quorvel/msgpack.h"

namespace quorvel {
namespace {

// Records as the writer gives them; every 400th has a text past a bulk node.
std::u16string Document(int records) {
  std::u16string text = u"[";
  for (int i = 0; i < records; ++i) {
    const std::u16string n = FromUtf8(std::to_string(i));
    if (i > 0) text += u',';
    text += u"{\"id\":\"" + n + u"\",\"name\":\"user " + n +
            u"\",\"tags\":[\"a\",\"b\"],\"nested\":{\"k\":\"v" + n +
            u"\"},\"n\":" + n + u",\"ok\":true,\"none\":null";
    if (i % 400 == 0) {
      text += u",\"long\":\"";
      for (int k = 0; k < 700; ++k) text += u"\\u00E9ab";
      text += u'"';
    }
    text += u'}';
  }
  return text + u"]";
}

Value ReadMsgPack(std::u16string_view text) {
  const std::vector<uint8_t> bytes = mMsgPack::EncodeBytes(JSON::Parse(text));
  return mMsgPack::DecodeBytes(bytes);
}

template <class T>
Ref<T> Member(const Value& v) {
  return Ref<T>(v.object_as<T>());
}

std::u16string Json(const Value& v) {
  return std::u16string(JSON::WriteJSON(v).view());
}

const struct {
  const char* name;
  Value (*read)(std::u16string_view);
} kReaders[] = {{"JSON", JSON::Parse},
                {"strict JSON", JSON::ParseStrict},
                {"MessagePack", ReadMsgPack}};

// From heap blocks (400 records) and over two mapped chunks (8,000).
TEST(BulkMemoryTest, NodesOutliveTheirTree) {
  for (int records : {400, 8000}) {
    const std::u16string text = Document(records);
    for (const auto& reader : kReaders) {
      SCOPED_TRACE(std::string(reader.name) + ", " + std::to_string(records));
      Value root = reader.read(text);
      ASSERT_TRUE(Json(root) == text);
      Ref<Dictionary> kept = Member<Dictionary>(Member<CArray>(root)->Item(7));
      ASSERT_TRUE(kept);
      ASSERT_TRUE(internal::IsBulkNode(kept.get()));
      Ref<CArray> tags = Member<CArray>(*kept->Find(u"tags"));
      const String name = kept->Find(u"name")->string();
      EXPECT_TRUE(internal::IsBulkNode(name.rep()));

      root = Value();
      // Changed afterwards: storage grows out of the block, entries go.
      for (int i = 0; i < 30; ++i) {
        kept->Add(FromUtf8("extra" + std::to_string(i)), Value(i));
        tags->Add(Value(name));
      }
      kept->Remove(u"id");
      EXPECT_EQ(kept->Count(), 36);
      EXPECT_EQ(kept->Find(u"name")->string(), u"user 7");
      EXPECT_EQ(tags->Item(1).string(), u"b");
      EXPECT_EQ(tags->Item(31).string(), u"user 7");
      Ref<Dictionary> nested = Member<Dictionary>(*kept->Find(u"nested"));
      EXPECT_EQ(nested->Find(u"k")->string(), u"v7");

      // Dropped on another thread while this one reads on.
      Value next = reader.read(text);
      std::thread dropper([k = std::move(kept), t = std::move(tags),
                           n = std::move(nested),
                           v = std::move(next)]() mutable {
        v = Value();
        n = nullptr;
        t = nullptr;
        k = nullptr;
      });
      Value last = reader.read(text);
      dropper.join();
      EXPECT_EQ(Member<CArray>(last)->Count(), records);
    }
  }
}

}  // namespace
}  // namespace quorvel
