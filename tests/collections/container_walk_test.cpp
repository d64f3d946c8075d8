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

TEST(ContainerWalkTest, ShapesFollowTypeNames) {
  const struct {
    const char16_t* create;
    ContainerShape shape;
    const char16_t* name;
  } cases[] = {
      {u"Scripting.Dictionary", ContainerShape::kMap, u"Dictionary"},
      {u"KxDocRec", ContainerShape::kMap, u"KxDocRec"},
      {u"CArray", ContainerShape::kList, u"CArray"},
      {u"Collection", ContainerShape::kCollection, u"Collection"},
      {u"CDict", ContainerShape::kOther, u"CDict"},
      {u"CStack", ContainerShape::kOther, u"CStack"},
  };
  for (const auto& c : cases) {
    const Value object = CreateObject(c.create);
    ContainerWalk walk(*object.object());
    EXPECT_EQ(walk.shape(), c.shape) << ToUtf8(c.create);
    EXPECT_EQ(walk.type_name(), c.name);
  }
  ForeignMap foreign;
  foreign.AddRef();  // on the stack: never released to zero
  EXPECT_EQ(ContainerWalk(foreign).shape(), ContainerShape::kMap);
  EXPECT_EQ(ContainerWalk(*Calling([] {}).object()).shape(),
            ContainerShape::kList);
}

TEST(ContainerWalkTest, ForeignObjectsAreReadByNameInOrder) {
  Ref<ForeignMap> map(new ForeignMap);
  ContainerWalk walk(*map);
  EXPECT_EQ(walk.Count(), 2);
  EXPECT_EQ(walk.Count(), 2);  // asked once
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

TEST(ContainerWalkTest, StopsWhenTheVisitorSaysSo) {
  Ref<CArray> list = CArray::Create();
  for (int i = 0; i < 5; ++i) list->Add(Value(i));
  Ref<Dictionary> map = Dictionary::Create();
  map->Add(u"a", Value(1));
  map->Add(u"b", Value(2));
  Value bag = CreateObject(u"Collection");
  for (int i = 0; i < 3; ++i)
    CallByName(bag, u"Add", CallType::Method, {Value(i)});

  int seen = 0;
  const auto three = [&](const Value&) { return ++seen < 3; };
  EXPECT_EQ(ContainerWalk(*list).ForEachItem(three), 3);
  seen = 0;
  EXPECT_EQ(ContainerWalk(*bag.object()).ForEachItem(three), 3);
  seen = 1;
  EXPECT_EQ(ContainerWalk(*bag.object()).ForEachItem(three), 2);
  EXPECT_EQ(seen, 3);
  EXPECT_EQ(ContainerWalk(*map).ForEachField(
                [](std::u16string_view, const Value&) { return false; }),
            1);
}

TEST(ContainerWalkTest, HoldsWhatItWalksWhileClientCodeChangesIt) {
  // A record whose fields are replaced mid-walk: the walk goes on over the
  // fields it started with, which it keeps alive.
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

  // A list that loses its last other reference, and its elements, while
  // its first element is read: JSON writes what is left (nothing), the
  // encoder, which promised three elements, raises 9.
  Ref<CArray> list = CArray::Create();
  CArray* raw = list.get();
  auto fill = [&] {
    raw->Add(Calling([&list] {
      list->Clear();
      list = nullptr;
    }));
    raw->Add(Value(1));
    raw->Add(Value(2));
  };
  fill();
  const Value top(list);
  EXPECT_EQ(ToUtf8(JSON::WriteJSON(top).view()), "[[7]]");
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(raw->RefCount(), 1);  // held by `top` alone, walk finished
  list = Ref<CArray>(raw);
  fill();
  ExpectRaisesStandard(mMsgPack::EncodeBytes(top), kErrSubscript);
  EXPECT_EQ(raw->RefCount(), 1);

  // An array member whose element empties the list that holds the array.
  raw->Add(MakeArray({Calling([raw] { raw->Clear(); }), Value(1)}));
  raw->Add(Value(2));
  EXPECT_EQ(ToUtf8(JSON::WriteJSON(top).view()), "[[[7],1]]");
}

}  // namespace
}  // namespace quorvel
