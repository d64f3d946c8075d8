#include "quorvel/kxdocstore.h"

#include <gtest/gtest.h>

#include "stores/doc_rules.h"
#include "test_util.h"

namespace quorvel {
namespace {

class KxDocStoreTest : public ::testing::Test {
 protected:
  Value Call(std::u16string_view name, CallType t,
             std::initializer_list<Value> args = {}) {
    return CallByName(store_, name, t, args);
  }
  static std::u16string Joined(const Value& array) {
    std::u16string out;
    for (int32_t i = LBound(array); i <= UBound(array); ++i) {
      out += ToText(ArrayItem(array, i)).view();
      out += u';';
    }
    return out;
  }
  Value store_ = CreateObject(u"KxDocStore");
};

TEST_F(KxDocStoreTest, GeneratedAndNormalisedIdentifiers) {
  Value first = Call(u"AddDoc", CallType::Method);
  EXPECT_EQ(TypeName(first), u"Dictionary");
  EXPECT_EQ(ToText(CallByName(first, u"Item", CallType::Get, {Value(u"_id")})),
            u"DOC000001");
  EXPECT_TRUE(
      ToBoolean(Call(u"Exists", CallType::Method, {Value(u"doc000001")})));
  Value named = Call(u"AddDoc", CallType::Method, {Value(u"  order-7b ")});
  EXPECT_EQ(ToText(CallByName(named, u"Item", CallType::Get, {Value(u"_id")})),
            u"ORDER-7B");
  // An explicit identifier leaves the counter alone.
  Value second = Call(u"AddDoc", CallType::Method, {Value(u"")});
  EXPECT_EQ(ToText(CallByName(second, u"Item", CallType::Get, {Value(u"_id")})),
            u"DOC000002");
  EXPECT_EQ(Joined(Call(u"Keys", CallType::Get)),
            u"DOC000001;ORDER-7B;DOC000002;");
  // Inner blanks stay; letters beyond ASCII are upper-cased too.
  Call(u"AddDoc", CallType::Method, {Value(u" straße é ω ")});
  EXPECT_TRUE(
      ToBoolean(Call(u"Exists", CallType::Method, {Value(u"STRAßE É Ω")})));
  EXPECT_EQ(internal::NormalizeDocId(u"  ").str(), u"");
  EXPECT_EQ(internal::NormalizeDocId(u"\tab").str(), u"\tAB");  // blanks only
  EXPECT_EQ(internal::NormalizeDocId(u"µſςǆꭰ").str(), u"ΜSΣǄᎠ");
  EXPECT_EQ(internal::NormalizeDocId(u"ÿkß").str(), u"ŸKß");
  EXPECT_EQ(internal::GeneratedDocId(999999), u"DOC999999");
  EXPECT_EQ(internal::GeneratedDocId(1000000), u"DOC1000000");
  ExpectRaises(internal::NextDocCounter(2147483647), 6, u"KxQuorvel",
               u"Overflow: the document id counter stops at 2,147,483,647");

  // The same identifier in another case collides; a generated one that
  // meets a client's choice fails but consumes its number.
  ExpectRaises(Call(u"AddDoc", CallType::Method, {Value(u"Order-7B")}),
               -2147220503, u"CDocStore", u"Document already exists: ORDER-7B");
  Call(u"AddDoc", CallType::Method, {Value(u"doc000003")});
  ExpectRaises(Call(u"AddDoc", CallType::Method), -2147220503, u"CDocStore",
               u"Document already exists: DOC000003");
  Value next = Call(u"AddDoc", CallType::Method);
  EXPECT_EQ(ToText(CallByName(next, u"Item", CallType::Get, {Value(u"_id")})),
            u"DOC000004");
  EXPECT_EQ(ToLong(Call(u"Count", CallType::Get)), 6);

  Call(u"Clear", CallType::Method);
  EXPECT_EQ(ToLong(Call(u"Count", CallType::Get)), 0);
  EXPECT_EQ(UBound(Call(u"Keys", CallType::Get)), -1);
  Value again = Call(u"AddDoc", CallType::Method);
  EXPECT_EQ(ToText(CallByName(again, u"Item", CallType::Get, {Value(u"_id")})),
            u"DOC000001");
  // The old documents live on with their holders.
  EXPECT_EQ(ToText(CallByName(first, u"Item", CallType::Get, {Value(u"_id")})),
            u"DOC000001");
}

TEST_F(KxDocStoreTest, DocumentsAreSharedObjects) {
  Value doc = CreateObject(u"Scripting.Dictionary");
  Call(u"Item", CallType::Let, {Value(u"abc"), doc});
  EXPECT_EQ(Call(u"Item", CallType::Get, {Value(u"ABC")}).object(),
            doc.object());
  EXPECT_EQ(Call(u"", CallType::Get, {Value(u" abc")}).object(), doc.object());
  EXPECT_EQ(Joined(Call(u"Keys", CallType::Get)), u"ABC;");
  // Documents stored by a write hold no "_id" of their own.
  EXPECT_FALSE(
      ToBoolean(CallByName(doc, u"Exists", CallType::Method, {Value(u"_id")})));
  Value other = CreateObject(u"Scripting.Dictionary");
  Call(u"Item", CallType::Set, {Value(u"ABC"), other});
  EXPECT_EQ(Call(u"Item", CallType::Get, {Value(u"abc")}).object(),
            other.object());
  EXPECT_EQ(ToLong(Call(u"Count", CallType::Get)), 1);
  ExpectRaisesStandard(Call(u"Item", CallType::Let, {Value(u"x"), Value(5)}),
                       13);

  EXPECT_TRUE(Call(u"Item", CallType::Get, {Value(u"nope")}).IsNothing());
  Call(u"Remove", CallType::Method, {Value(u"nope")});
  Call(u"Remove", CallType::Method, {Value(u"aBc ")});
  EXPECT_EQ(ToLong(Call(u"Count", CallType::Get)), 0);
  EXPECT_EQ(ToLong(CallByName(doc, u"Count", CallType::Get)), 0);  // unchanged
}

TEST_F(KxDocStoreTest, FieldsAndSearch) {
  EXPECT_EQ(
      VarType(Call(u"FindIds", CallType::Method, {Value(u"a"), Value(1)})),
      8204);
  Value d1 = Call(u"AddDoc", CallType::Method, {Value(u"one")});
  Call(u"AddDoc", CallType::Method, {Value(u"two")});
  Call(u"AddDoc", CallType::Method, {Value(u"three")});
  // A field set through the object a client holds is the store's content.
  CallByName(d1, u"Item", CallType::Let, {Value(u"n"), Value(int16_t{5})});
  Call(u"SetField", CallType::Method, {Value(u"Two"), Value(u"n"), Value(5)});
  Call(u"SetField", CallType::Method,
       {Value(u"three"), Value(u"n"), Value(int16_t{5})});
  Call(u"SetField", CallType::Method,
       {Value(u"one"), Value(u"s"), Value(u"Ab")});
  Call(u"SetField", CallType::Method,
       {Value(u"two"), Value(u"s"), Value::Null()});
  Call(u"SetField", CallType::Method,
       {Value(u"three"), Value(u"s"), Value::Null()});
  ExpectRaisesStandard(Call(u"SetField", CallType::Method,
                            {Value(u"four"), Value(u"n"), Value(1)}),
                       91);
  EXPECT_FALSE(ToBoolean(Call(u"Exists", CallType::Method, {Value(u"four")})));

  Value ints =
      Call(u"FindIds", CallType::Method, {Value(u"n"), Value(int16_t{5})});
  EXPECT_EQ(VarType(ints), 8200);  // an array of Strings
  EXPECT_EQ(Joined(ints), u"ONE;THREE;");
  EXPECT_EQ(Joined(Call(u"FindIds", CallType::Method, {Value(u"n"), Value(5)})),
            u"TWO;");
  EXPECT_EQ(
      Joined(Call(u"FindIds", CallType::Method, {Value(u"n"), Value(5.0)})),
      u"");
  EXPECT_EQ(
      Joined(Call(u"FindIds", CallType::Method, {Value(u"s"), Value::Null()})),
      u"TWO;THREE;");
  EXPECT_EQ(
      Joined(Call(u"FindIds", CallType::Method, {Value(u"s"), Value(u"ab")})),
      u"");
  Value none = Call(u"FindIds", CallType::Method, {Value(u"zz"), Value(1)});
  EXPECT_EQ(VarType(none), 8204);
  EXPECT_EQ(UBound(none), -1);
  // An object never matches, not even itself.
  Value list = CreateObject(u"CArray");
  Call(u"SetField", CallType::Method, {Value(u"one"), Value(u"o"), list});
  EXPECT_EQ(UBound(Call(u"FindIds", CallType::Method, {Value(u"o"), list})),
            -1);

  EXPECT_EQ(ToLong(Call(u"GetField", CallType::Method,
                        {Value(u" one "), Value(u"n")})),
            5);
  EXPECT_EQ(Call(u"GetField", CallType::Method, {Value(u"one"), Value(u"o")})
                .object(),
            list.object());
  EXPECT_TRUE(Call(u"GetField", CallType::Method, {Value(u"one"), Value(u"x")})
                  .IsMissing());
  EXPECT_EQ(ToText(Call(u"GetField", CallType::Method,
                        {Value(u"nine"), Value(u"n"), Value(u"dflt")})),
            u"dflt");
  EXPECT_FALSE(
      ToBoolean(CallByName(d1, u"Exists", CallType::Method, {Value(u"x")})));

  // A stored object that is not a dictionary stops the search.
  Call(u"Item", CallType::Set, {Value(u"odd"), CreateObject(u"CArray")});
  ExpectRaisesStandard(
      Call(u"FindIds", CallType::Method, {Value(u"n"), Value(5)}), 13);
}

}  // namespace
}  // namespace quorvel
