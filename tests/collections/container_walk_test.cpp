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

// A foreign object is walked by its type name, through its members: JSON
// asks for the keys and each item, MessagePack for the count (once) too.
TEST(ContainerWalkTest, ForeignObjectsAreReadByNameInOrder) {
  Ref<ForeignMap> map(new ForeignMap);
  EXPECT_EQ(ToUtf8(JSON::WriteJSON(Value(map)).view()),
            R"({"p":"p!","5":"5!"})");  // a Long key goes as its text
  EXPECT_EQ(map->calls, u"KIpI5");
  map->calls.clear();
  EXPECT_EQ(mMsgPack::EncodeBytes(Value(map)).size(), 3u + 2 * (3 + 4));
  EXPECT_EQ(map->calls, u"CKIpI5");
}

TEST(ContainerWalkTest, HoldsWhatItWalksWhileClientCodeChangesIt) {
  // A record cleared mid-walk: the walk keeps the fields it started with.
  Ref<KxDocRec> rec = KxDocRec::Create();
  rec->Add(u"a", Value(Ref<Object>(new CallsBack([&rec] { rec->Clear(); }))));
  rec->Add(u"b", Value(2));
  rec->Add(u"c", Value(3));
  EXPECT_EQ(ToUtf8(JSON::WriteJSON(Value(rec)).view()),
            R"({"a":[7],"b":2,"c":3})");
  EXPECT_EQ(rec->Count(), 0);
}

}  // namespace
}  // namespace quorvel
