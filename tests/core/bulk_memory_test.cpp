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

// Records of texts, numbers, Booleans, Null, lists and maps, in the form the
// writer gives them; every 400th holds a text past the largest bulk node.
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

// Megabytes through every reader, over many blocks and chunks, written back
// as read; records kept after their tree is gone, written again.
TEST(BulkMemoryTest, LargeTreesReadBackExactly) {
  const std::u16string text = Document(20000);
  ASSERT_GT(text.size() * 2, size_t{4} << 20);
  for (const auto& reader : kReaders) {
    SCOPED_TRACE(reader.name);
    Value read = reader.read(text);
    ASSERT_TRUE(Json(read) == text);
    std::vector<Value> kept;
    std::vector<std::u16string> written;
    const CArray& got = *read.object_as<CArray>();
    for (int32_t i = 0; i < got.Count(); i += 97) {
      kept.push_back(got.begin()[i]);
      written.push_back(Json(kept.back()));
    }
    read = Value();
    for (size_t j = 0; j < kept.size(); ++j)
      EXPECT_TRUE(Json(kept[j]) == written[j]) << j;
  }
}

// Nodes outlive their tree, move, change and die on another thread, from
// heap blocks (400 records) and from mapped chunks (8,000: over two chunks).
TEST(BulkMemoryTest, NodesOutliveTheirTree) {
  for (int records : {400, 8000}) {
    const std::u16string text = Document(records);
    for (const auto& reader : kReaders) {
      SCOPED_TRACE(std::string(reader.name) + ", " + std::to_string(records));
      Value root = reader.read(text);
      Ref<Dictionary> kept = Member<Dictionary>(Member<CArray>(root)->Item(7));
      ASSERT_TRUE(kept);
      ASSERT_TRUE(internal::IsBulkNode(kept.get()));
      Ref<CArray> tags = Member<CArray>(*kept->Find(u"tags"));
      const String name = kept->Find(u"name")->string();
      EXPECT_TRUE(internal::IsBulkNode(name.rep()));

      // Into another tree, then both trees gone.
      Value other = reader.read(text);
      Member<CArray>(other)->SetItem(0, Value(Ref<Object>(kept)));
      root = Value();
      other = Value();
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

// Nodes dropped by another thread while the scope still fills their block
// or chunk; small input and nested scopes take no blocks.
TEST(BulkMemoryTest, ScopeRules) {
  {
    internal::BulkScope small(internal::BulkScope::kLeastInput - 1);
    EXPECT_EQ(internal::BulkScope::Current(), nullptr);
    EXPECT_FALSE(internal::IsBulkNode(String(u"heap").rep()));
  }
  // 16 bytes a text: 2.4 MiB, over two chunks when chunked.
  constexpr int kTexts = 150000;
  for (size_t input : {internal::BulkScope::kLeastInput,
                       internal::BulkScope::kLeastChunkedInput}) {
    SCOPED_TRACE(input);
    std::vector<String> texts;
    {
      internal::BulkScope scope(input);
      internal::BulkScope nested(internal::BulkScope::kLeastInput);
      EXPECT_EQ(internal::BulkScope::Current(), &scope);
      std::vector<String> theirs;
      for (int i = 0; i < kTexts; ++i) {
        (i % 2 ? theirs : texts).emplace_back(FromUtf8(std::to_string(i)));
      }
      EXPECT_TRUE(internal::IsBulkNode(texts.back().rep()));
      // Larger than a bulk node: from the heap.
      EXPECT_FALSE(internal::IsBulkNode(
          String(std::u16string(internal::BulkScope::kLargestNode, u'x'))
              .rep()));
      std::thread dropper([&theirs] { theirs.clear(); });
      for (int i = 0; i < kTexts; ++i) texts.emplace_back(u"more");
      dropper.join();
    }
    EXPECT_EQ(internal::BulkScope::Current(), nullptr);
    EXPECT_EQ(texts[0], u"0");
    EXPECT_EQ(texts[kTexts / 2 - 1],
              String(FromUtf8(std::to_string(kTexts - 2))));
    EXPECT_EQ(texts.back(), u"more");
  }
}

}  // namespace
}  // namespace quorvel
