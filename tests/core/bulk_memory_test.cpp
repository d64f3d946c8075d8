#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/bulk_scope.h"
#include "quorvel/carray.h"
#include "quorvel/codepage.h"
#include "quorvel/convert.h"
#include "quorvel/dictionary.h"
#include "quorvel/json.h"
#include "quorvel/json_strict.h"
#include "quorvel/msgpack.h"

namespace quorvel {
namespace {

// Records of strings, lists and maps; large enough to be read in bulk.
std::u16string Document(int records) {
  std::u16string text = u"[";
  for (int i = 0; i < records; ++i) {
    const std::u16string n = FromUtf8(std::to_string(i));
    if (i > 0) text += u',';
    text += u"{\"id\":\"" + n + u"\",\"name\":\"user " + n +
            u"\",\"tags\":[\"a\",\"b\"],\"nested\":{\"k\":\"v" + n + u"\"}}";
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

// A random tree as its own model: records of random size holding texts of
// 0 to 1,500 units (past the largest bulk node now and then), non-ASCII and
// astral ones when `wide`, else Windows-1252 ones that MessagePack keeps;
// integers, Booleans, Null and lists.
class ModelTree {
 public:
  ModelTree(uint32_t seed, bool wide) : rng_(seed), wide_(wide) {}

  Value Records(int count) {
    Ref<CArray> list = CArray::Create();
    for (int i = 0; i < count; ++i) {
      Ref<Dictionary> record = Dictionary::Create();
      for (int k = 0, n = 1 + Below(12); k < n; ++k)
        record->Add(Key(k), Leaf(1));
      list->Add(Value(record));
    }
    return Value(list);
  }

  // JSON text of a model tree, escaping some units of its texts and writing
  // others raw; keys are written as they stand.
  std::u16string Json(const Value& v, bool key = false) {
    if (key) return u'"' + std::u16string(v.string().view()) + u'"';
    if (v.IsString()) {
      std::u16string out = u"\"";
      for (char16_t c : v.string().view()) {
        if (c == u'"' || c == u'\\') {
          out += u'\\';
          out += c;
        } else if (c < 0x20 || Below(8) == 0) {
          static const char16_t kHex[] = u"0123456789abcdef";
          out += u"\\u";
          for (int shift = 12; shift >= 0; shift -= 4)
            out += kHex[(c >> shift) & 15];
        } else {
          out += c;
        }
      }
      return out + u'"';
    }
    if (v.IsNull()) return u"null";
    if (v.kind() == Kind::Boolean) return v.boolean() ? u"true" : u"false";
    if (const auto* list = v.object_as<CArray>()) {
      std::u16string out = u"[";
      for (const Value& e : *list)
        out += (out.size() > 1 ? u"," : u"") + Json(e);
      return out + u']';
    }
    if (const auto* map = v.object_as<Dictionary>()) {
      std::u16string out = u"{";
      for (const Dictionary::Entry& e : *map)
        out += (out.size() > 1 ? u"," : u"") + Json(Value(e.key), true) + u':' +
               Json(e.value);
      return out + u'}';
    }
    return FromUtf8(std::to_string(static_cast<int64_t>(ToDouble(v))));
  }

 private:
  int Below(int n) { return static_cast<int>(rng_() % n); }

  std::u16string Units(int n) {
    std::u16string s;
    for (int i = 0; i < n; ++i) {
      const int pick = Below(10);
      if (!wide_) {
        s += pick < 7 ? char16_t(0x20 + Below(0x5F))
                      : UnitFromAnsi(static_cast<uint8_t>(0xA0 + Below(0x60)));
      } else if (pick < 5) {
        s += char16_t(0x20 + Below(0x5F));
      } else if (pick < 8) {
        s += char16_t(0x100 + Below(0xD700));  // below the surrogates
      } else if (pick < 9) {
        s += char16_t(1 + Below(0x1F));  // the lenient reader stops at NUL
      } else {
        s += char16_t(0xD800 + Below(0x400));
        s += char16_t(0xDC00 + Below(0x400));
      }
    }
    return s;
  }

  // The key of place `k`, unique within its map: mostly one of a few keys
  // that differ by a unit, a prefix or a word's length (the readers expect
  // the key a place held last), else random letters.
  String Key(int k) {
    static const char16_t* const kStems[] = {u"name", u"namf", u"nam",
                                             u"na\u00E9e",
                                             u"identifier_long_enough_for_4w"};
    const std::u16string stem =
        Below(4) != 0 ? kStems[Below(5)] : u"k" + KeyUnits(Below(6));
    return String(stem + char16_t(u'a' + k));
  }

  // Key text: letters, with CJK and other BMP letters when wide.
  std::u16string KeyUnits(int n) {
    std::u16string s;
    for (int i = 0; i < n; ++i)
      s += wide_ && Below(2) == 0 ? char16_t(0x4E00 + Below(0x5000))
                                  : char16_t(u'A' + Below(26));
    return s;
  }

  Value Leaf(int depth) {
    switch (Below(depth < 3 ? 6 : 4)) {
      case 0:
        return Value(
            String(Units(Below(40) == 0 ? 600 + Below(900) : Below(24))));
      case 1:
        return Value(static_cast<int32_t>(rng_() % 2000001) - 1000000);
      case 2:
        return Value(Below(2) == 0);
      case 3:
        return Value::Null();
      case 5: {
        Ref<Dictionary> map = Dictionary::Create();
        for (int k = 0, n = Below(5); k < n; ++k)
          map->Add(Key(k), Leaf(depth + 1));
        return Value(map);
      }
      default: {
        Ref<CArray> list = CArray::Create();
        for (int n = Below(9); n > 0; --n) list->Add(Leaf(depth + 1));
        return Value(list);
      }
    }
  }

  std::mt19937 rng_;
  bool wide_;
};

// Whether a read tree holds what its model does: numbers by value, texts
// unit for unit, maps entry by entry in order.
bool SameTree(const Value& model, const Value& read) {
  if (model.IsString())
    return read.IsString() && read.string() == model.string();
  if (model.IsNull()) return read.IsNull();
  if (model.kind() == Kind::Boolean)
    return read.kind() == Kind::Boolean && read.boolean() == model.boolean();
  if (const auto* list = model.object_as<CArray>()) {
    const auto* other = read.IsObject() ? read.object_as<CArray>() : nullptr;
    if (other == nullptr || other->Count() != list->Count()) return false;
    for (int32_t i = 0; i < list->Count(); ++i)
      if (!SameTree(list->begin()[i], other->begin()[i])) return false;
    return true;
  }
  if (const auto* map = model.object_as<Dictionary>()) {
    const auto* other =
        read.IsObject() ? read.object_as<Dictionary>() : nullptr;
    if (other == nullptr || other->Count() != map->Count()) return false;
    auto it = other->begin();
    for (const Dictionary::Entry& e : *map) {
      if (!(it->key == e.key) || !SameTree(e.value, it->value)) return false;
      ++it;
    }
    return true;
  }
  return read.IsNumericKind() && ToDouble(read) == ToDouble(model);
}

// Megabytes of random records through every reader, across many blocks and
// chunks and past the largest bulk node, compared with their model; then
// records kept after their tree is gone, compared again.
TEST(BulkMemoryTest, RandomTreesMatchTheirModel) {
  for (bool wide : {true, false}) {
    SCOPED_TRACE(wide ? "UTF-16 texts" : "Windows-1252 texts");
    ModelTree model(wide ? 7 : 8, wide);
    const Value tree = model.Records(12000);
    const std::u16string text = model.Json(tree);
    ASSERT_GT(text.size() * 2, size_t{4} << 20);
    std::vector<Value> reads = {JSON::Parse(text), JSON::ParseStrict(text)};
    if (!wide)
      reads.push_back(mMsgPack::DecodeBytes(mMsgPack::EncodeBytes(tree)));
    const CArray& records = *tree.object_as<CArray>();
    for (Value& read : reads) {
      ASSERT_TRUE(SameTree(tree, read));
      std::vector<Value> kept;
      const CArray& got = *read.object_as<CArray>();
      for (int32_t i = 0; i < got.Count(); i += 97)
        kept.push_back(got.begin()[i]);
      read = Value();
      for (size_t j = 0; j < kept.size(); ++j)
        EXPECT_TRUE(SameTree(records.begin()[j * 97], kept[j])) << j;
    }
  }
}

// Nodes read in bulk outlive their tree, move into another, change and die
// on another thread, whichever reader built them, from blocks of the heap
// (400 records) and from mapped chunks (8,000 records: more than 1 MiB of
// input, a tree over two chunks).
TEST(BulkMemoryTest, NodesOutliveTheirTree) {
  const struct {
    const char* name;
    Value (*read)(std::u16string_view);
  } kReaders[] = {{"JSON", JSON::Parse},
                  {"strict JSON", JSON::ParseStrict},
                  {"MessagePack", ReadMsgPack}};
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
      EXPECT_EQ(kept->Count(), 33);
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

// Inside one scope, nodes dropped by another thread while the scope still
// fills their block (or cuts their chunk); the block goes back only after
// both are done. Small input and nested scopes take no blocks.
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
