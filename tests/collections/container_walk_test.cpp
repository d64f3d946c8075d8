#include "collections/container_walk.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "quorvel/json.h"
#include "quorvel/kxdocrec.h"
#include "quorvel/msgpack.h"
#include "test_util.h"

namespace quorvel {
namespace {

// A foreign map: calls itself a Dictionary and counts the calls made to it.
class ForeignMap final : public Object {
 public:
  const ClassInfo& Class() const override {
    static const ClassInfo info = ClassBuilder<ForeignMap>(u"ForeignMap")
                                      .Get<&ForeignMap::Count>(u"Count")
                                      .Get<&ForeignMap::Keys>(u"Keys")
                                      .Get<&ForeignMap::Item>(u"Item", {u"k"})
                                      .Build();
    return info;
  }
  std::u16string_view TypeName() const override { return u"Dictionary"; }
  int32_t Count() {
    calls += u"C";
    return 2;
  }
  Value Keys() {
    calls += u"K";
    return MakeArray({Value(u"p"), Value(int16_t{5})});
  }
  Value Item(const String& k) {
    calls += u"I" + k.str();
    return Value(k.str() + u"!");
  }
  std::u16string calls;
};

// A foreign list of one element whose reading runs client code.
class CallsBack final : public Object {
 public:
  explicit CallsBack(std::function<void()> on_read)
      : on_read_(std::move(on_read)) {}
  const ClassInfo& Class() const override {
    static const ClassInfo info = ClassBuilder<CallsBack>(u"CallsBack")
                                      .Get<&CallsBack::Count>(u"Count")
                                      .Get<&CallsBack::Item>(u"Item", {u"i"})
                                      .Build();
    return info;
  }
  std::u16string_view TypeName() const override { return u"CArray"; }
  int32_t Count() const { return 1; }
  Value Item(int32_t) const {
    on_read_();
    return Value(7);
  }

 private:
  std::function<void()> on_read_;
};

Value Calling(std::function<void()> on_read) {
  return Value(Ref<Object>(new CallsBack(std::move(on_read))));
}

// A foreign object is walked by its type name, through its members.
TEST(ContainerWalkTest, ForeignObjectsAreReadByNameInOrder) {
  Ref<ForeignMap> map(new ForeignMap);
  ContainerWalk walk(*map);
  EXPECT_EQ(walk.shape(), ContainerShape::kMap);
  EXPECT_EQ(walk.Count(), 2);
  EXPECT_EQ(walk.Count(), 2);  // asked once, below
  std::u16string seen;
  EXPECT_EQ(walk.ForEachField([&](std::u16string_view k, const Value& v) {
    seen += std::u16string(k) + u"=" + ToText(v).str() + u";";
    return true;
  }),
            2);
  EXPECT_EQ(seen, u"p=p!;5=5!;");  // a Long key goes as its text
  EXPECT_EQ(map->calls, u"CKIpI5");

  // The serializers make the same calls: JSON without Count.
  map->calls.clear();
  EXPECT_EQ(ToUtf8(JSON::WriteJSON(Value(map)).view()),
            R"({"p":"p!","5":"5!"})");
  EXPECT_EQ(map->calls, u"KIpI5");
  map->calls.clear();
  EXPECT_EQ(mMsgPack::EncodeBytes(Value(map)).size(), 3u + 2 * (3 + 4));
  EXPECT_EQ(map->calls, u"CKIpI5");
}

TEST(ContainerWalkTest, HoldsWhatItWalksWhileClientCodeChangesIt) {
  // A record cleared mid-walk: the walk keeps the fields it started with.
  Ref<KxDocRec> rec = KxDocRec::Create();
  rec->Add(u"a", Calling([&rec] { rec->Clear(); }));
  rec->Add(u"b", Value(2));
  rec->Add(u"c", Value(3));
  EXPECT_EQ(ToUtf8(JSON::WriteJSON(Value(rec)).view()),
            R"({"a":[7],"b":2,"c":3})");
  EXPECT_EQ(rec->Count(), 0);
  rec->Add(u"a", Calling([&rec] { rec->Clear(); }));
  rec->Add(u"b", Value(2));
  EXPECT_EQ(testing::ToHex(mMsgPack::EncodeBytes(Value(rec)), 0,
                           std::string::npos, true),
            "C7 33 00 02 D9 01 61 DC 00 01 D2 07 00 00 00 D9 01 62 D2 02 00 "
            "00 00");

  // An array member whose element empties the list that holds the array.
  Ref<CArray> list = CArray::Create();
  list->Add(MakeArray({Calling([&list] { list->Clear(); }), Value(1)}));
  list->Add(Value(2));
  EXPECT_EQ(ToUtf8(JSON::WriteJSON(Value(list)).view()), "[[[7],1]]");
}

}  // namespace
}  // namespace quorvel
