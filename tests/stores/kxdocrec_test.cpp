// A document record by name, and the in-memory document store: ids
// generated and normalised, documents shared as objects, fields and search.
#include "quorvel/kxdocrec.h"

#include <gtest/gtest.h>

#include "quorvel/kxdocsdb.h"
#include "quorvel/kxdocstore.h"
#include "quorvel/store_scan.h"
#include "stores/doc_rules.h"
#include "test_util.h"
#include "testing/memory_file_system.h"

namespace quorvel {
namespace {

using testing::Joined;

Value Call(const Value& o, std::u16string_view name, CallType t,
           std::initializer_list<Value> args = {}) {
  return CallByName(o, name, t, args);
}

TEST(KxDocRecTest, FieldMembersBehaveAsTheDictionaryClass) {
  Value rec = CreateObject(u"kxdocrec");
  EXPECT_EQ(TypeName(rec), u"KxDocRec");
  EXPECT_TRUE(Call(rec, u"DB", CallType::Get).IsNothing());
  ExpectRaisesStandard(Call(rec, u"Remove", CallType::Method, {Value(u"a")}),
                       kErrNoSuchMember);

  Call(rec, u"Add", CallType::Method, {Value(u"b"), Value(1)});
  ExpectRaisesStandard(
      Call(rec, u"Add", CallType::Method, {Value(u"b"), Value(2)}),
      kErrKeyExists);
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
  ExpectRaisesStandard(
      Call(rec, u"Item", CallType::Set, {Value(u"n"), Value(3)}),
      kErrObjectRequired);
  EXPECT_EQ(Joined(Call(rec, u"Keys", CallType::Get)), u"b;a;l;");
  // The record's default member is Item, so it has no plain value.
  ExpectRaisesStandard(LetValue(rec), kErrWrongArgumentCount);
}

TEST(KxDocRecTest, IdAndStoreAreNoFieldsAndSaveHandsTheRecordOver) {
  internal::MemoryFileSystem memory;
  Ref<KxDocsDB> db = KxDocsDB::Create(memory);
  db->OpenDB(u"m");
  Value rec = CreateObject(u"KxDocRec");
  KxDocRec* r = rec.object_as<KxDocRec>();
  Call(rec, u"DocID", CallType::Let, {Value(u"  doc 7 ")});
  const int32_t refs = db->RefCount();
  Call(rec, u"DB", CallType::Set, {Value(db)});
  EXPECT_EQ(db->RefCount(), refs);  // the record does not own its store
  r->Add(u"f", Value(1));
  Ref<Dictionary> old_fields(&r->fields());
  Call(rec, u"Clear", CallType::Method);
  EXPECT_EQ(r->Count(), 0);
  EXPECT_EQ(old_fields->Count(), 1);  // a new dictionary, not an emptied one
  EXPECT_EQ(ToText(Call(rec, u"DocID", CallType::Get)), u"  doc 7 ");
  EXPECT_EQ(Call(rec, u"DB", CallType::Get).object(), db.get());
  // A save hands the record over under its id as it stands.
  Call(rec, u"Item", CallType::Let, {Value(u"g"), Value(2)});
  Call(rec, u"Save", CallType::Method);
  db->OpenDB(u"m");
  EXPECT_EQ(Joined(db->Keys()), u"  doc 7 ;");
  EXPECT_EQ(db->GetDoc(u"  doc 7 ")->Count(), 1);
  // Only objects that are stores can be attached.
  ExpectRaisesStandard(
      Call(rec, u"DB", CallType::Set, {Value(CArray::Create())}),
      kErrTypeMismatch);
  ExpectRaisesStandard(Call(rec, u"DB", CallType::Set, {Value(5)}),
                       kErrObjectRequired);
  Call(rec, u"DB", CallType::Set, {Value::Nothing()});
  EXPECT_EQ(r->store(), nullptr);
}

// Blanks around go, inner ones stay; letters beyond ASCII are upper-cased.
TEST(KxDocStoreTest, IdsAreGeneratedAndNormalised) {
  const struct {
    const char16_t *id, *normal;
  } kIds[] = {{u"  doc7 ", u"DOC7"},
              {u"  ", u""},
              {u"\tab", u"\tAB"},
              {u" stra\u00dfe \u00ff ", u"STRA\u00dfE \u0178"},
              {u"µſςǆꭰ", u"ΜSΣǄᎠ"}};
  Value names = CreateObject(u"KxDocStore");
  for (const auto& c : kIds) {
    EXPECT_EQ(NormalizeDocId(c.id).str(), c.normal);
    if (c.normal[0] == 0) continue;
    Call(names, u"AddDoc", CallType::Method, {Value(c.id)});
    EXPECT_TRUE(
        ToBoolean(Call(names, u"Exists", CallType::Method, {Value(c.normal)})));
  }
  EXPECT_EQ(internal::GeneratedDocId(1000000), u"DOC1000000");

  Value store = CreateObject(u"KxDocStore");
  auto id_of = [](const Value& doc) {
    return ToText(Call(doc, u"Item", CallType::Get, {Value(u"_id")})).str();
  };
  Value first = Call(store, u"AddDoc", CallType::Method);
  EXPECT_EQ(id_of(first), u"DOC000001");
  EXPECT_EQ(
      id_of(Call(store, u"AddDoc", CallType::Method, {Value(u"  order-7b ")})),
      u"ORDER-7B");
  // An explicit id leaves the counter alone; an empty one is none.
  EXPECT_EQ(id_of(Call(store, u"AddDoc", CallType::Method, {Value(u"")})),
            u"DOC000002");
  EXPECT_EQ(Joined(Call(store, u"Keys", CallType::Get)),
            u"DOC000001;ORDER-7B;DOC000002;");
  // The same id in another case collides; a generated one that meets a
  // client's choice fails but consumes its number.
  ExpectRaises(Call(store, u"AddDoc", CallType::Method, {Value(u"Order-7B")}),
               kErrGeneralFailure, u"CDocStore",
               u"Document already exists: ORDER-7B");
  Call(store, u"AddDoc", CallType::Method, {Value(u"doc000003")});
  ExpectRaises(Call(store, u"AddDoc", CallType::Method), kErrGeneralFailure,
               u"CDocStore", u"Document already exists: DOC000003");
  EXPECT_EQ(id_of(Call(store, u"AddDoc", CallType::Method)), u"DOC000004");
  Call(store, u"Clear", CallType::Method);
  EXPECT_EQ(id_of(Call(store, u"AddDoc", CallType::Method)), u"DOC000001");
}

TEST(KxDocStoreTest, DocumentsFieldsAndSearch) {
  Value store = CreateObject(u"KxDocStore");
  auto call = [&](std::u16string_view name, std::initializer_list<Value> args) {
    return Call(store, name, CallType::Method, args);
  };
  EXPECT_EQ(VarType(call(u"FindIds", {Value(u"a"), Value(1)})), 8204);
  Value d1 = call(u"AddDoc", {Value(u"one")});
  call(u"AddDoc", {Value(u"two")});
  call(u"AddDoc", {Value(u"three")});
  // A field set through the object a client holds is the store's content.
  Call(d1, u"Item", CallType::Let, {Value(u"n"), Value(int16_t{5})});
  call(u"SetField", {Value(u"Two"), Value(u"n"), Value(5)});
  call(u"SetField", {Value(u"three"), Value(u"n"), Value(int16_t{5})});
  call(u"SetField", {Value(u"one"), Value(u"s"), Value(u"Ab")});
  call(u"SetField", {Value(u"two"), Value(u"s"), Value::Null()});
  call(u"SetField", {Value(u"three"), Value(u"s"), Value::Null()});
  ExpectRaisesStandard(
      call(u"SetField", {Value(u"four"), Value(u"n"), Value(1)}),
      kErrObjectNotSet);
  const struct {
    const char16_t* field;
    Value query;
    const char16_t* found;
  } kFinds[] = {{u"n", Value(int16_t{5}), u"ONE;THREE;"},
                {u"n", Value(5), u"TWO;"},
                {u"n", Value(5.0), u""},
                {u"s", Value::Null(), u"TWO;THREE;"},
                {u"s", Value(u"ab"), u""}};
  for (const auto& f : kFinds)
    EXPECT_EQ(Joined(call(u"FindIds", {Value(f.field), f.query})), f.found)
        << ToUtf8(f.field);
  // An object never matches, not even itself.
  Value list = CreateObject(u"CArray");
  call(u"SetField", {Value(u"one"), Value(u"o"), list});
  EXPECT_EQ(UBound(call(u"FindIds", {Value(u"o"), list})), -1);
  EXPECT_EQ(ToLong(call(u"GetField", {Value(u" one "), Value(u"n")})), 5);
  EXPECT_TRUE(call(u"GetField", {Value(u"one"), Value(u"x")}).IsMissing());
  EXPECT_EQ(
      ToText(call(u"GetField", {Value(u"nine"), Value(u"n"), Value(u"dflt")})),
      u"dflt");
  // Documents are shared objects, stored by a write without an "_id".
  Value doc = CreateObject(u"Scripting.Dictionary");
  Call(store, u"Item", CallType::Let, {Value(u"abc"), doc});
  EXPECT_EQ(Call(store, u"Item", CallType::Get, {Value(u"ABC")}).object(),
            doc.object());
  EXPECT_FALSE(
      ToBoolean(Call(doc, u"Exists", CallType::Method, {Value(u"_id")})));
  ExpectRaisesStandard(
      Call(store, u"Item", CallType::Let, {Value(u"x"), Value(5)}),
      kErrTypeMismatch);
  Call(store, u"Remove", CallType::Method, {Value(u"nope")});
  Call(store, u"Remove", CallType::Method, {Value(u"aBc ")});
  EXPECT_EQ(Joined(Call(store, u"Keys", CallType::Get)), u"ONE;TWO;THREE;");
  // A stored object that is not a dictionary stops the search.
  Call(store, u"Item", CallType::Set, {Value(u"odd"), CreateObject(u"CArray")});
  ExpectRaisesStandard(call(u"FindIds", {Value(u"n"), Value(5)}),
                       kErrTypeMismatch);
}

}  // namespace
}  // namespace quorvel
