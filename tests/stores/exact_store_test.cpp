// Exact writes of the two database files: what would not come back is
// refused before anything is written, while the default keeps storing '?'.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "quorvel/kxdocsdb.h"
#include "quorvel/kxkvdb.h"
#include "quorvel/storable.h"
#include "test_util.h"
#include "testing/memory_file_system.h"
#include "testing/stored_values.h"

namespace quorvel {
namespace {

using internal::MemoryFileSystem;
using testing::Joined;

const Value kRounding = Value::Decimal(*Decimal::Parse(u"0.123456"));
constexpr char16_t kRounded[] =
    u"the number 0.123456 at price would be rounded to 4 decimal places";

TEST(KxKVDBExactTest, RefusesBeforeWritingWhileTheDefaultStoresQuestionMarks) {
  MemoryFileSystem fs;
  Ref<KxKVDB> db = KxKVDB::Create(fs);
  const Value bound(db);
  db->OpenDB(u"kv", OpenOptions{.exact = true});
  db->PutValue(u"a", u"\u00E9");
  const std::vector<uint8_t> before = fs.Get(u"kv");
  const struct {
    std::function<void()> write;
    std::u16string description;
  } refused[] = {
      {[&] { db->PutValue(u"k\u6771", u"v"); },
       u"character U+6771 (\u6771) at position 2 of the key has no "
       u"Windows-1252 byte"},
      {[&] { db->LetItem(u"a", u"x\u0080"); },
       u"character U+0080 at position 2 of the value has no Windows-1252 "
       u"byte"},
      {[&] { db->PutValue(std::u16string(32768, u'k'), u"v"); },
       u"the key is 32768 characters long, more than the 32767 a KxKVDB key "
       u"holds"},
      {[&] {
         CallByName(bound, u"PutValue", CallType::Method, {u"n", Value(5)});
       },
       u"the value is Long, which would come back as a String"},
      {[&] {
         CallByName(bound, u"", CallType::Let, {Value(1.5), u"v"});
       },
       u"the key is Double, which would come back as a String"},
  };
  for (const auto& r : refused)
    ExpectRaises(r.write(), 5, u"CKVDB", r.description);
  // Neither the file nor the index nor the cache saw any of them.
  EXPECT_EQ(fs.Get(u"kv"), before);
  EXPECT_EQ(Joined(db->Keys()), u"a;");
  EXPECT_EQ(db->Item(u"a"), u"\u00E9");

  // A compaction reopens the file exact; so does an open under a scope.
  db->Compact();
  ExpectRaises(db->PutValue(u"\u6771", u"v"), 5, u"CKVDB",
               u"character U+6771 (\u6771) at position 1 of the key has no "
               u"Windows-1252 byte");
  db->OpenDB(u"kv");
  {
    ExactScope exact;
    ExpectRaises(db->PutValue(u"x", u"\u6771"), 5, u"CKVDB",
                 u"character U+6771 (\u6771) at position 1 of the value has "
                 u"no Windows-1252 byte");
  }
  db->PutValue(u"k\u6771", u"v");
  CallByName(bound, u"PutValue", CallType::Method, {u"n", Value(5)});
  {
    ExactScope exact;
    db->OpenDB(u"kv");
  }
  EXPECT_EQ(Joined(db->Keys()), u"a;k?;n;");
  EXPECT_EQ(db->Item(u"n"), u"5");
  ExpectRaises(db->PutValue(u"\u6771", u"v"), 5, u"CKVDB",
               u"character U+6771 (\u6771) at position 1 of the key has no "
               u"Windows-1252 byte");
}

TEST(KxDocsDBExactTest, RefusesIdsAndFieldsBeforeWriting) {
  MemoryFileSystem fs;
  Ref<KxDocsDB> db = KxDocsDB::Create(fs);
  db->OpenDB(u"docs", OpenOptions{.exact = true});
  Ref<KxDocRec> kept = db->AddDoc(u"a");
  kept->LetItem(u"n", Value(1));
  kept->Save();
  const std::vector<uint8_t> before = fs.Get(u"docs");
  // Ids are normalised first: the upper case of U+00B5 has no byte.
  ExpectRaises(db->AddDoc(u"\u00B5"), 5, u"KxDocsDB",
               u"character U+039C (\u039C) at position 1 of the document id "
               u"has no Windows-1252 byte");
  Ref<KxDocRec> rec = db->AddDoc(u"b");
  rec->LetItem(u"price", kRounding);
  ExpectRaises(rec->Save(), 5, u"KxDocsDB", kRounded);
  rec->Clear();
  rec->LetItem(u"\u6771", Value(1));
  ExpectRaises(rec->Save(), 5, u"KxDocsDB",
               u"character U+6771 (\u6771) at position 1 of the key of "
               u"[\"\u6771\"] has no Windows-1252 byte");
  rec->Clear();
  rec->LetDocID(u"b\u6771");
  ExpectRaises(rec->Save(), 5, u"KxDocsDB",
               u"character U+6771 (\u6771) at position 2 of the document id "
               u"has no Windows-1252 byte");
  // A cached record changed since its save stops a compaction as well.
  kept->LetItem(u"bad", Value());
  ExpectRaises(db->Compact(), 5, u"KxDocsDB",
               u"the value at bad is Empty, which a MessagePack encoding "
               u"cannot hold");
  EXPECT_EQ(fs.Get(u"docs"), before);
  EXPECT_EQ(Joined(db->Keys()), u"A;");
  EXPECT_EQ(db->GetDoc(u"A").get(), kept.get());

  // Opened without: the late-bound save refuses under a scope only, and
  // what it stores comes back rounded and with '?'.
  db->OpenDB(u"docs");
  rec->LetDocID(u"C");
  rec->LetItem(u"price", kRounding);
  rec->LetItem(u"t\u6771", Value(u"\u6771"));
  {
    ExactScope exact;
    ExpectRaises(CallByName(Value(rec), u"Save", CallType::Method), 5,
                 u"KxDocsDB", kRounded);
  }
  CallByName(Value(rec), u"Save", CallType::Method);
  db->OpenDB(u"docs");
  Ref<KxDocRec> back = db->GetDoc(u"C");
  EXPECT_EQ(back->Item(u"price").currency(), 1235);
  EXPECT_EQ(Joined(back->Keys()), u"price;t?;");
  EXPECT_EQ(back->Item(u"t?").string(), u"?");
}

// The check says "exact" exactly when a put, a close and a reopen give the
// same back; documents go through the codec, whose agreement is its own.
TEST(StoreExactTest, CheckAgreesWithWhatTheFileGivesBack) {
  testing::RandomValues random(7);
  MemoryFileSystem fs;
  Ref<KxKVDB> kv = KxKVDB::Create(fs);
  kv->OpenDB(u"kv");
  struct Written {
    String key, value;
    bool exact;
  };
  std::vector<Written> pairs;
  for (int i = 0; i < testing::Scaled(2000); ++i) {
    // A distinct ASCII head keeps keys apart however their tails are stored.
    const String key(ToText(Value(i)).str() + u":" + random.Text());
    const String value(random.Text());
    const bool exact = !CheckStorableText(key, StorableTarget::kKvKey) &&
                       !CheckStorableText(value, StorableTarget::kKvValue);
    try {
      kv->PutValue(key, value);
      pairs.push_back({key, value, exact});
    } catch (const Error&) {
      EXPECT_FALSE(exact);
    }
  }
  kv->OpenDB(u"kv");
  const Value keys = kv->Keys();
  ASSERT_EQ(keys.array().values().size(), pairs.size());
  for (size_t i = 0; i < pairs.size(); ++i) {
    const String key = keys.array().values()[i].string();
    EXPECT_EQ(pairs[i].exact,
              key == pairs[i].key && kv->Item(key) == pairs[i].value)
        << "pair " << i;
  }
}

}  // namespace
}  // namespace quorvel
