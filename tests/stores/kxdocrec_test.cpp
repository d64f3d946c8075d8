#include "quorvel/kxdocrec.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_util.h"

namespace quorvel {
namespace {

constexpr int32_t kDetached = -2147220502;

// A store that records what it was asked to save.
class FakeStore final : public Object, public DocStoreLink {
 public:
  static Ref<FakeStore> Create() { return Ref<FakeStore>(new FakeStore); }
  const ClassInfo& Class() const override {
    static const ClassInfo info = ClassBuilder<FakeStore>(u"FakeStore").Build();
    return info;
  }
  void SaveDoc(KxDocRec& rec) override {
    if (fail) ErrorRaise(52, u"", u"Bad file name or number");
    saved_ids.push_back(rec.DocID().str());
    saved_counts.push_back(rec.Count());
  }
  Value AsValue() override { return Value(Ref<FakeStore>(this)); }
  void TrackRecord(KxDocRec& rec) override { tracked.push_back(&rec); }

  bool fail = false;
  std::vector<std::u16string> saved_ids;
  std::vector<int32_t> saved_counts;
  std::vector<KxDocRec*> tracked;
};

Value Call(const Value& o, std::u16string_view name, CallType t,
           std::initializer_list<Value> args = {}) {
  return CallByName(o, name, t, args);
}

TEST(KxDocRecTest, NewRecordIsEmptyAndDetached) {
  Value rec = CreateObject(u"KxQuorvel.KxDocRec");
  EXPECT_EQ(TypeName(rec), u"KxDocRec");
  EXPECT_EQ(TypeName(CreateObject(u"kxdocrec")), u"KxDocRec");
  EXPECT_EQ(Call(rec, u"DocID", CallType::Get).string_view(), u"");
  EXPECT_EQ(VarType(Call(rec, u"DocID", CallType::Get)), 8);
  EXPECT_TRUE(Call(rec, u"DB", CallType::Get).IsNothing());
  EXPECT_EQ(ToLong(Call(rec, u"Count", CallType::Get)), 0);
  ExpectRaises(Call(rec, u"Save", CallType::Method), kDetached, u"CDocRec",
               u"Can't save. Record is not attached to a DB.");
  ExpectRaises(rec.object_as<KxDocRec>()->Save(), kDetached, u"CDocRec",
               u"Can't save. Record is not attached to a DB.");
  // Members the record does not have.
  ExpectRaisesStandard(Call(rec, u"Remove", CallType::Method, {Value(u"a")}),
                       438);
  ExpectRaisesStandard(Call(rec, u"Items", CallType::Get), 438);
}

TEST(KxDocRecTest, FieldMembersBehaveAsTheDictionaryClass) {
  Value rec = CreateObject(u"KxDocRec");
  Value added = Call(rec, u"Add", CallType::Method, {Value(u"b"), Value(1)});
  EXPECT_TRUE(added.IsEmpty());
  ExpectRaisesStandard(
      Call(rec, u"Add", CallType::Method, {Value(u"b"), Value(2)}), 457);
  EXPECT_TRUE(ToBoolean(Call(rec, u"Exists", CallType::Method, {Value(u"b")})));
  EXPECT_EQ(VarType(Call(rec, u"Exists", CallType::Method, {Value(u"B")})), 11);
  EXPECT_FALSE(
      ToBoolean(Call(rec, u"Exists", CallType::Method, {Value(u"B")})));

  // Reading an absent field adds it with Empty.
  EXPECT_TRUE(Call(rec, u"Item", CallType::Get, {Value(u"a")}).IsEmpty());
  EXPECT_EQ(ToLong(Call(rec, u"Count", CallType::Get)), 2);

  Call(rec, u"Item", CallType::Let, {Value(u"a"), Value(u"x")});
  EXPECT_EQ(ToText(Call(rec, u"", CallType::Get, {Value(u"a")})), u"x");

  // Objects are stored and returned as the same reference.
  Ref<CArray> list = CArray::Create();
  Call(rec, u"Item", CallType::Set, {Value(u"l"), Value(list)});
  EXPECT_EQ(Call(rec, u"Item", CallType::Get, {Value(u"l")}).object(),
            list.get());
  Call(rec, u"Item", CallType::Let, {Value(u"m"), Value(list)});
  EXPECT_EQ(Call(rec, u"Item", CallType::Get, {Value(u"m")}).object(),
            list.get());
  ExpectRaisesStandard(
      Call(rec, u"Item", CallType::Set, {Value(u"n"), Value(3)}), 424);
  EXPECT_FALSE(
      ToBoolean(Call(rec, u"Exists", CallType::Method, {Value(u"n")})));

  Value keys = Call(rec, u"Keys", CallType::Get);
  EXPECT_EQ(LBound(keys), 0);
  ASSERT_EQ(UBound(keys), 3);
  EXPECT_EQ(ToText(ArrayItem(keys, 0)), u"b");
  EXPECT_EQ(ToText(ArrayItem(keys, 1)), u"a");
  EXPECT_EQ(ToText(ArrayItem(keys, 3)), u"m");

  // The record's default member is Item, so it has no plain value.
  ExpectRaisesStandard(LetValue(rec), 450);
}

TEST(KxDocRecTest, DocIdAndDbAreNotFieldsAndSurviveClear) {
  Ref<FakeStore> store = FakeStore::Create();
  Value rec = CreateObject(u"KxDocRec");
  KxDocRec* r = rec.object_as<KxDocRec>();
  Call(rec, u"DocID", CallType::Let, {Value(u"  doc 7 ")});
  EXPECT_EQ(ToText(Call(rec, u"DocID", CallType::Get)), u"  doc 7 ");
  const int32_t refs = store->RefCount();
  Call(rec, u"DB", CallType::Set, {Value(store)});
  EXPECT_EQ(store->RefCount(), refs);  // the record does not own its store
  EXPECT_EQ(Call(rec, u"DB", CallType::Get).object(), store.get());
  ASSERT_EQ(store->tracked.size(), 1u);
  EXPECT_EQ(store->tracked[0], r);
  EXPECT_EQ(r->Count(), 0);

  r->Add(u"f", Value(1));
  Ref<Dictionary> old_fields(&r->fields());
  Call(rec, u"Clear", CallType::Method);
  EXPECT_EQ(r->Count(), 0);
  EXPECT_EQ(old_fields->Count(), 1);  // a new dictionary, not an emptied one
  EXPECT_NE(&r->fields(), old_fields.get());
  EXPECT_EQ(ToText(Call(rec, u"DocID", CallType::Get)), u"  doc 7 ");
  EXPECT_EQ(Call(rec, u"DB", CallType::Get).object(), store.get());

  // Only objects that are stores can be attached.
  ExpectRaisesStandard(
      Call(rec, u"DB", CallType::Set, {Value(CArray::Create())}), 13);
  ExpectRaisesStandard(Call(rec, u"DB", CallType::Set, {Value(5)}), 424);
  EXPECT_EQ(r->store(), store.get());
  Call(rec, u"DB", CallType::Set, {Value::Nothing()});
  EXPECT_TRUE(Call(rec, u"DB", CallType::Get).IsNothing());
  EXPECT_EQ(r->store(), nullptr);
}

TEST(KxDocRecTest, SaveHandsTheRecordToItsStoreAsItIs) {
  Ref<FakeStore> store = FakeStore::Create();
  Ref<KxDocRec> rec = KxDocRec::Create();
  rec->AttachStore(store.get());
  EXPECT_TRUE(store->tracked.empty());  // the store's own attach is silent
  rec->LetDocID(u" lower ");
  Value v(rec);
  Call(v, u"Item", CallType::Get, {Value(u"touched")});
  Call(v, u"Save", CallType::Method);
  rec->LetDocID(u"");
  rec->Save();
  ASSERT_EQ(store->saved_ids.size(), 2u);
  EXPECT_EQ(store->saved_ids[0], u" lower ");
  EXPECT_EQ(store->saved_counts[0], 1);  // the read field is saved too
  EXPECT_EQ(store->saved_ids[1], u"");

  store->fail = true;
  ExpectRaises(rec->Save(), 52, u"KxQuorvel", u"Bad file name or number");
  rec->AttachStore(nullptr);
  ExpectRaises(rec->Save(), kDetached, u"CDocRec",
               u"Can't save. Record is not attached to a DB.");
  EXPECT_EQ(store->saved_ids.size(), 2u);
}

}  // namespace
}  // namespace quorvel
