#include "quorvel/kxdocsdb.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "stores/db_file.h"
#include "stores/store_file_test.h"
#include "test_util.h"
#include "testing/faulty_file_system.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::FromHex;
using testing::ToHex;
constexpr int32_t kStoreError = static_cast<int32_t>(0x800403E9u);
constexpr char16_t kSource[] = u"KxDocsDB";
constexpr char16_t kNotOpen[] = u"DB is not open";
constexpr char16_t kInvalid[] = u"This file is not a valid KxDocsDB file";

std::string Le32(int32_t v) {
  Bytes b;
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return ToHex(b);
}

int32_t Get32At(const Bytes& b, size_t at) {
  if (at + 4 > b.size()) return -1;
  return static_cast<int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                              static_cast<uint32_t>(b[at + 3]) << 24);
}

// One header copy as hex: magic, version, the three counters, NextID and
// zero reserved bytes.
std::string HeaderHex(int32_t records, int32_t deleted, int32_t puts,
                      int32_t next_id) {
  return "4B444F4353544F52" + Le32(1) + Le32(records) + Le32(deleted) +
         Le32(puts) + Le32(next_id) + std::string(64, '0');
}

using testing::Joined;

class KxDocsDBTest : public testing::StoreFileTest<KxDocsDB> {
 protected:
  static void Save(const Ref<KxDocRec>& rec) {
    CallByName(Value(rec), u"Save", CallType::Method);
  }
  // Adds and saves a document with one field.
  static Ref<KxDocRec> Put(KxDocsDB& db, std::u16string_view id,
                           std::u16string_view field, const Value& v) {
    Ref<KxDocRec> rec = db.AddDoc(String(id));
    rec->fields().LetItem(String(field), v);
    Save(rec);
    return rec;
  }
};

TEST_F(KxDocsDBTest, GoldenBytesOfNewFileAndChainedRecords) {
  auto db = Open();
  const std::string empty = HeaderHex(0, 0, 0, 0);
  EXPECT_EQ(ToHex(FileBytes()), empty + empty);
  EXPECT_EQ(db->Count(), 0);

  Ref<KxDocRec> first = db->AddDoc();
  Ref<KxDocRec> second = db->AddDoc();
  EXPECT_EQ(first->DocID(), u"DOC000001");
  EXPECT_EQ(second->DocID(), u"DOC000002");
  EXPECT_EQ(db->Count(), 0);  // nothing saved yet
  EXPECT_EQ(FileBytes().size(), 120u);

  first->fields().LetItem(String(u"name"), Value(u"Ada"));
  first->fields().LetItem(String(u"n"), Value(7));
  Save(first);
  const std::string body =
      "C7330002"
      "D9046E616D65"
      "D903416461"
      "D9016E"
      "D207000000";
  const std::string record1 =
      "5F0B"
      "02000000"
      "00000000"
      "00"
      "09000000" +
      ToHex(Bytes{'D', 'O', 'C', '0', '0', '0', '0', '0', '1'}) + "16000000" +
      body;
  Bytes b = FileBytes();
  const std::string header1 = HeaderHex(1, 0, 1, 3);
  EXPECT_EQ(ToHex(b), header1 + header1 + record1);
  EXPECT_EQ(db->Count(), 1);

  // The second record links from the first: its position is offset + 1.
  const size_t second_at = b.size();
  second->fields().LetItem(String(u"e"), Value(u"\u00e9"));
  Save(second);
  b = FileBytes();
  EXPECT_EQ(ToHex(b, 120 + 6, 4), Le32(static_cast<int32_t>(second_at) + 1));
  EXPECT_EQ(ToHex(b, second_at),
            "5F0B"
            "01000000"
            "00000000"
            "00"
            "09000000"
            "444F43303030303032"
            "09000000"
            "C7330001"
            "D90165"
            "D901E9");
  EXPECT_EQ(ToHex(b, 0, 120), HeaderHex(2, 0, 2, 3) + HeaderHex(2, 0, 2, 3));

  // Reading the first record back gives a new record with the same content.
  db->CloseDB();
  db->OpenDB(upath_);
  Ref<KxDocRec> back = db->GetDoc(u"DOC000001");
  ASSERT_TRUE(back);
  EXPECT_NE(back.get(), first.get());
  EXPECT_EQ(back->DocID(), u"DOC000001");
  EXPECT_EQ(back->store(), static_cast<DocStoreLink*>(db.get()));
  EXPECT_EQ(ToText(back->fields().Item(String(u"name"))), u"Ada");
  EXPECT_EQ(VarType(back->fields().Item(String(u"n"))), 3);
  EXPECT_EQ(db->GetDoc(u"DOC000002")->fields().Item(String(u"e")).string_view(),
            u"\u00e9");
}

TEST_F(KxDocsDBTest, CachingRulesAndReopen) {
  auto db = Open();
  Ref<KxDocRec> saved = Put(*db, u"a", u"x", Value(1));
  // Saved through this object: the cached record, the same each time.
  EXPECT_EQ(db->GetDoc(u"A").get(), saved.get());
  EXPECT_EQ(db->Item(u"A").get(), saved.get());
  Value by_name = CallByName(Value(db), u"", CallType::Get, {Value(u"A")});
  EXPECT_EQ(by_name.object(), saved.get());
  EXPECT_EQ(CallByName(by_name, u"DB", CallType::Get).object(), db.get());

  db->CloseDB();
  ExpectRaises(db->GetDoc(u"A"), kStoreError, kSource, kNotOpen);
  EXPECT_EQ(db->Count(), 1);  // answered from the kept index
  EXPECT_EQ(Joined(db->Keys()), u"A;");
  EXPECT_EQ(saved->store(), static_cast<DocStoreLink*>(db.get()));

  db->OpenDB(upath_);
  Ref<KxDocRec> r1 = db->GetDoc(u"A");
  Ref<KxDocRec> r2 = db->GetDoc(u"A");
  ASSERT_TRUE(r1 && r2);
  EXPECT_NE(r1.get(), r2.get());  // reads are not cached
  EXPECT_NE(r1.get(), saved.get());
  EXPECT_EQ(ToLong(r1->fields().Item(String(u"x"))), 1);
  EXPECT_EQ(db->Count(), 1);
  // Saving a read record makes it the cached one.
  Save(r1);
  EXPECT_EQ(db->GetDoc(u"A").get(), r1.get());
  EXPECT_EQ(db->Count(), 1);

  // The id counter comes back from the header.
  Ref<KxDocRec> gen = db->AddDoc();
  EXPECT_EQ(gen->DocID(), u"DOC000001");
  Save(gen);
  db->OpenDB(upath_);  // reopening an open database closes the old file
  EXPECT_EQ(db->AddDoc()->DocID(), u"DOC000002");
  // An empty file keeps the counter the object has.
  std::filesystem::remove(path_);
  db->OpenDB(upath_);
  EXPECT_EQ(db->AddDoc()->DocID(), u"DOC000003");
  EXPECT_EQ(db->Count(), 0);
  EXPECT_TRUE(db->GetDoc(u"A").get() == nullptr);
}

TEST_F(KxDocsDBTest, IdentifierRules) {
  auto db = Open();
  Ref<KxDocRec> rec = db->AddDoc(u" order-1b ");
  EXPECT_EQ(rec->DocID(), u"ORDER-1B");
  rec->fields().LetItem(String(u"q"), Value(3));
  Save(rec);
  EXPECT_EQ(db->GetDoc(u"ORDER-1B").get(), rec.get());
  EXPECT_TRUE(db->GetDoc(u" order-1b ").get() == nullptr);  // used unchanged
  EXPECT_EQ(ToLong(db->GetField(u" order-1b ", u"q")), 3);  // normalised
  ExpectRaises(db->AddDoc(u"Order-1b"), kStoreError, kSource,
               u"Document already exists: ORDER-1B");
  // The lookup misses the lower-case form; creating it collides.
  ExpectRaises(db->GetDoc(u"order-1b", true), kStoreError, kSource,
               u"Document already exists: ORDER-1B");
  Ref<KxDocRec> fresh = db->GetDoc(u"new one", true);
  EXPECT_EQ(fresh->DocID(), u"NEW ONE");
  EXPECT_EQ(db->Count(), 1);

  // DocID is stored exactly as the record holds it, even unnormalised.
  Ref<KxDocRec> odd = db->AddDoc(u"x");
  odd->LetDocID(u" low");
  Save(odd);
  EXPECT_EQ(Joined(db->Keys()), u"ORDER-1B; low;");
  db->OpenDB(upath_);
  EXPECT_TRUE(db->GetDoc(u" low"));
  EXPECT_TRUE(db->GetField(u" low", u"q").IsMissing());  // normalised: LOW

  // A generated identifier passes over stored ones, and the counter moves
  // past them: a client's DOC000001 and DOC000002 never block the
  // generator.
  Put(*db, u"DOC000001", u"f", Value(1));
  Put(*db, u"DOC000002", u"f", Value(2));
  EXPECT_EQ(db->AddDoc()->DocID(), u"DOC000003");
  EXPECT_EQ(db->AddDoc()->DocID(), u"DOC000004");
  EXPECT_EQ(db->next_id(), 5);
}

TEST_F(KxDocsDBTest, ErrorsAndStates) {
  Ref<KxDocsDB> db = KxDocsDB::Create();
  Value v(db);
  ExpectRaises(db->AddDoc(), kStoreError, kSource, kNotOpen);
  ExpectRaises(CallByName(v, u"GetDoc", CallType::Method, {Value(u"a")}),
               kStoreError, kSource, kNotOpen);
  ExpectRaises(CallByName(v, u"Item", CallType::Get, {Value(u"a")}),
               kStoreError, kSource, kNotOpen);
  ExpectRaises(db->Delete(u"a"), kStoreError, kSource, kNotOpen);
  ExpectRaises(CallByName(v, u"Compact", CallType::Method), kStoreError,
               kSource, kNotOpen);
  ExpectRaises(CallByName(v, u"SetField", CallType::Method,
                          {Value(u"a"), Value(u"f"), Value(1)}),
               kStoreError, kSource, kNotOpen);
  ExpectRaisesStandard(CallByName(v, u"Keys", CallType::Get), 91);
  ExpectRaisesStandard(CallByName(v, u"Count", CallType::Get), 91);
  CallByName(v, u"FlushData", CallType::Method);  // nothing to do
  CallByName(v, u"CloseDB", CallType::Method);

  CallByName(v, u"OpenDB", CallType::Method, {Value(upath_)});
  Ref<KxDocRec> rec = Put(*db, u"a", u"f", Value(1));
  CallByName(v, u"FlushData", CallType::Method);
  EXPECT_TRUE(db->IsOpen());
  db->CloseDB();
  // Closed: a stored identifier reaches the file and fails; others do not.
  ExpectRaises(db->GetField(u"a", u"f"), kStoreError, kSource, kNotOpen);
  EXPECT_EQ(ToLong(db->GetField(u"b", u"f", Value(9))), 9);
  ExpectRaises(db->FindIds(u"f", Value(1)), kStoreError, kSource, kNotOpen);
  ExpectRaisesStandard(Save(rec), 52);

  // Invalid files: short, or no magic in the chosen copy. The file is left
  // closed.
  WriteFile(Bytes(119, 0));
  ExpectRaises(db->OpenDB(upath_), kStoreError, kSource, kInvalid);
  EXPECT_FALSE(db->IsOpen());
  Bytes good = FromHex(HeaderHex(0, 0, 0, 5) + HeaderHex(0, 0, 0, 5));
  Bytes bad = good;
  bad[60] = 'X';
  bad[0] = 'X';
  WriteFile(bad);
  ExpectRaises(db->OpenDB(upath_), kStoreError, kSource, kInvalid);
  // Copy A damaged (version), copy B good: opens from B.
  bad = good;
  bad[8] = 2;
  bad[24] = 9;  // NextID of copy A, which is not used
  WriteFile(bad);
  db->OpenDB(upath_);
  EXPECT_EQ(db->AddDoc()->DocID(), u"DOC000005");
  // Copy A with a good magic but B damaged: A is used.
  bad = good;
  bad[60] = 0;
  WriteFile(bad);
  db->OpenDB(upath_);
  EXPECT_EQ(db->AddDoc()->DocID(), u"DOC000005");

  // The id counter cannot pass the 32-bit range.
  WriteFile(
      FromHex(HeaderHex(0, 0, 0, 2147483647) + HeaderHex(0, 0, 0, 2147483647)));
  db->OpenDB(upath_);
  ExpectRaises(db->AddDoc(), kErrOverflow, u"KxQuorvel",
               u"Overflow: the document id counter stops at 2,147,483,647");
  EXPECT_EQ(db->AddDoc(u"x")->DocID(), u"X");

  // A body that decodes to anything but a record is a type mismatch.
  std::string rec_hex =
      "5F0B"
      "00000000"
      "00000000"
      "00"
      "01000000"
      "42"
      "01000000"
      "D900";
  WriteFile(FromHex(HeaderHex(1, 0, 1, 1) + HeaderHex(1, 0, 1, 1) + rec_hex));
  db->OpenDB(upath_);
  EXPECT_EQ(Joined(db->Keys()), u"B;");
  ExpectRaisesStandard(db->GetDoc(u"B"), 13);
}

TEST_F(KxDocsDBTest, DeleteAndCompact) {
  auto db = Open();
  Put(*db, u"a", u"n", Value(1));
  Ref<KxDocRec> b = Put(*db, u"b", u"n", Value(2));
  Put(*db, u"c", u"n", Value(3));
  Save(b);  // b's current record moves to the end; the index keeps its place
  EXPECT_EQ(Joined(db->Keys()), u"A;B;C;");
  db->OpenDB(upath_);
  EXPECT_EQ(Joined(db->Keys()), u"A;B;C;");

  // Delete right after opening, before anything was read.
  const Bytes before = FileBytes();
  db->Delete(u"zz");
  EXPECT_EQ(FileBytes(), before);
  db->Delete(u"A");
  Bytes after = FileBytes();
  EXPECT_EQ(after.size(), before.size());
  EXPECT_EQ(after[120 + 10], 1);  // the flag of A's record
  EXPECT_EQ(ToHex(after, 0, 60), HeaderHex(4, 1, 4, 1));
  EXPECT_EQ(db->Count(), 2);
  db->OpenDB(upath_);
  EXPECT_EQ(Joined(db->Keys()), u"B;C;");

  // Compact writes cached records as they stand now, unsaved changes too.
  Ref<KxDocRec> c = db->GetDoc(u"C");
  c->fields().LetItem(String(u"n"), Value(30));
  Save(c);
  c->fields().LetItem(String(u"extra"), Value(true));
  Ref<KxDocRec> gen = db->AddDoc();  // DOC000001, never saved
  EXPECT_EQ(gen->DocID(), u"DOC000001");
  std::ofstream(path_ + ".tmp") << "stale";
  CallByName(Value(db), u"Compact", CallType::Method);
  EXPECT_FALSE(std::filesystem::exists(path_ + ".tmp"));
  Bytes compacted = FileBytes();
  EXPECT_EQ(ToHex(compacted, 0, 60), HeaderHex(2, 0, 2, 2));
  EXPECT_EQ(Joined(db->Keys()), u"B;C;");
  EXPECT_EQ(ToLong(db->GetField(u"b", u"n")), 2);
  EXPECT_TRUE(ToBoolean(db->GetField(u"c", u"extra")));
  EXPECT_EQ(db->AddDoc()->DocID(), u"DOC000002");  // the sequence goes on
  // Two records, the first linking to the second, the second ending.
  const int32_t second = Get32At(compacted, 120 + 6);
  EXPECT_GT(second, 121);
  EXPECT_EQ(Get32At(compacted, second - 1 + 6), 0);
  EXPECT_EQ(compacted[second - 1 + 15], 'C');

  db->Compact(true);
  EXPECT_FALSE(db->IsOpen());
  EXPECT_EQ(db->Count(), 2);
  ExpectRaises(db->AddDoc(), kStoreError, kSource, kNotOpen);
}

TEST_F(KxDocsDBTest, FieldsAndSearch) {
  auto db = Open();
  Value v(db);
  Value none =
      CallByName(v, u"FindIds", CallType::Method, {Value(u"n"), Value(1)});
  EXPECT_EQ(VarType(none), 8204);
  EXPECT_EQ(UBound(none), -1);
  Put(*db, u"i", u"n", Value(int16_t{5}));
  Put(*db, u"l", u"n", Value(5));
  Put(*db, u"z", u"n", Value::Null());
  Put(*db, u"s", u"n", Value(u"Five"));
  Value ints = db->FindIds(u"n", Value(int16_t{5}));
  EXPECT_EQ(VarType(ints), 8200);
  EXPECT_EQ(Joined(ints), u"I;");
  EXPECT_EQ(Joined(db->FindIds(u"n", Value(5))), u"L;");
  EXPECT_EQ(Joined(db->FindIds(u"n", Value::Null())), u"Z;");
  EXPECT_EQ(Joined(db->FindIds(u"n", Value(u"five"))), u"");
  EXPECT_EQ(Joined(db->FindIds(u"n", Value(u"Five"))), u"S;");
  EXPECT_EQ(VarType(db->FindIds(u"nope", Value(5))), 8204);
  // Read from the file, an Integer comes back as the Long the codec wrote.
  db->OpenDB(upath_);
  EXPECT_EQ(Joined(db->FindIds(u"n", Value(5))), u"I;L;");
  EXPECT_EQ(Joined(db->FindIds(u"n", Value::Null())), u"Z;");

  // SetField on a read record is dropped with it; on a cached one it stays
  // in memory until that record is saved again.
  CallByName(v, u"SetField", CallType::Method,
             {Value(u"L"), Value(u"t"), Value(1)});
  EXPECT_TRUE(
      CallByName(v, u"GetField", CallType::Method, {Value(u"l"), Value(u"t")})
          .IsMissing());
  Ref<KxDocRec> cached = Put(*db, u"m", u"n", Value(1));
  db->SetField(u"M", u"t", Value(u"kept"));
  EXPECT_EQ(ToText(db->GetField(u"m", u"t")), u"kept");
  db->OpenDB(upath_);
  EXPECT_TRUE(db->GetField(u"m", u"t", Value(u"gone")).string_view() ==
              u"gone");
  // AutoCreate through SetField makes nothing stored.
  db->SetField(u"new", u"t", Value(1));
  EXPECT_EQ(db->Count(), 5);
  EXPECT_EQ(ToText(CallByName(v, u"GetField", CallType::Method,
                              {Value(u"absent"), Value(u"t"), Value(u"d")})),
            u"d");
  // An object field comes back as the same reference.
  Value obj = CreateObject(u"CArray");
  Ref<KxDocRec> holder = Put(*db, u"o", u"n", Value(1));
  holder->fields().LetItem(String(u"obj"), obj);
  EXPECT_EQ(db->GetField(u"o", u"obj").object(), obj.object());
}

TEST_F(KxDocsDBTest, RecordsAreDetachedWhenTheDatabaseGoes) {
  Ref<KxDocRec> unsaved, saved, read;
  Ref<KxDocRec> client = KxDocRec::Create();
  {
    auto db = Open();
    CallByName(Value(client), u"DB", CallType::Set, {Value(db)});
    EXPECT_EQ(CallByName(Value(client), u"DB", CallType::Get).object(),
              db.get());
    saved = Put(*db, u"a", u"n", Value(1));
    unsaved = db->AddDoc(u"b");
    db->OpenDB(upath_);  // the cache is dropped; the records stay attached
    read = db->GetDoc(u"A");
    EXPECT_EQ(unsaved->store(), static_cast<DocStoreLink*>(db.get()));
    // Many hand-outs that nobody keeps do not pile up.
    for (int i = 0; i < 1000; ++i) db->GetDoc(u"A");
  }
  EXPECT_EQ(saved->store(), nullptr);
  EXPECT_EQ(unsaved->store(), nullptr);
  EXPECT_EQ(read->store(), nullptr);
  EXPECT_TRUE(CallByName(Value(client), u"DB", CallType::Get).IsNothing());
  ExpectRaises(Save(read), static_cast<int32_t>(0x800403EAu), u"CDocRec",
               u"Can't save. Record is not attached to a DB.");
}

TEST_F(KxDocsDBTest, ObjectsOnOneFileKeepEachOthersDocuments) {
  // Two objects open one new file; each saves in turn, as two programs
  // would.
  auto a = Open();
  auto b = Open();
  Ref<KxDocRec> ra = a->AddDoc();
  Ref<KxDocRec> rb = b->AddDoc();
  // The counter lives in the file: the second object does not hand out the
  // first one's identifier.
  EXPECT_EQ(ra->DocID(), u"DOC000001");
  EXPECT_EQ(rb->DocID(), u"DOC000002");
  ra->fields().LetItem(String(u"who"), Value(u"a"));
  Save(ra);
  rb->fields().LetItem(String(u"who"), Value(u"b"));
  Save(rb);  // after a's record, never over it
  EXPECT_EQ(FileBytes()[120 + 15 + 8], '1');
  // The saving object took in what the other wrote before it.
  EXPECT_EQ(Joined(b->Keys()), u"DOC000001;DOC000002;");
  Put(*a, u"third", u"who", Value(u"a"));
  Put(*b, u"fourth", u"who", Value(u"b"));
  Put(*a, u"fifth", u"who", Value(u"a"));
  auto fresh = Open();
  EXPECT_EQ(Joined(fresh->Keys()), u"DOC000001;DOC000002;THIRD;FOURTH;FIFTH;");
  for (const char16_t* id :
       {u"DOC000001", u"DOC000002", u"THIRD", u"FOURTH", u"FIFTH"}) {
    EXPECT_TRUE(fresh->GetDoc(id)) << ToUtf8(id);
  }
  EXPECT_EQ(ToText(fresh->GetField(u"DOC000002", u"who")), u"b");
  // A document one object re-saves replaces what the other cached.
  Ref<KxDocRec> again = b->GetDoc(u"THIRD");
  again->fields().LetItem(String(u"who"), Value(u"b"));
  Save(again);
  Put(*a, u"sixth", u"who", Value(u"a"));  // a takes in b's record
  EXPECT_EQ(ToText(a->GetField(u"THIRD", u"who")), u"b");
}

TEST_F(KxDocsDBTest, ARecordCachedFromAReplacedFileIsNotWrittenBack) {
  auto a = Open();
  auto b = Open();
  Put(*a, u"d", u"who", Value(u"a"));  // a caches its record, at offset 120
  b->Compact();
  b->Delete(u"D");
  b->Compact();
  Put(*b, u"d", u"who", Value(u"b"));  // at offset 120 of a newer file
  // a is still on the first file; its compaction moves it to the newest,
  // where an offset equal to its cached record's means nothing.
  a->Compact();
  EXPECT_EQ(ToText(Open()->GetField(u"D", u"who")), u"b");
}

TEST_F(KxDocsDBTest, DamagedChainsEndTheWalk) {
  // A record linking back to itself, then one cut short by the end.
  std::string looped =
      "5F0B"
      "00000000"
      "79000000"
      "00"
      "01000000"
      "41"
      "03000000"
      "C7330000";
  WriteFile(FromHex(HeaderHex(1, 0, 1, 1) + HeaderHex(1, 0, 1, 1) + looped +
                    "5F0B000000000000000000"));
  auto db = Open();
  EXPECT_EQ(Joined(db->Keys()), u"A;");
  // The next save links from the last good record and repairs the chain.
  Put(*db, u"b", u"n", Value(1));
  db->OpenDB(upath_);
  EXPECT_EQ(Joined(db->Keys()), u"A;B;");

  // A torn first record: the next save takes its place and starts the chain.
  WriteFile(FromHex(HeaderHex(0, 0, 0, 1) + HeaderHex(0, 0, 0, 1) +
                    "5F0B000000000000000000"
                    "05000000"
                    "4142"));
  db->OpenDB(upath_);
  EXPECT_EQ(db->Count(), 0);
  Put(*db, u"c", u"n", Value(1));
  db->OpenDB(upath_);
  EXPECT_EQ(Joined(db->Keys()), u"C;");
  EXPECT_EQ(FileBytes()[120 + 15], 'C');

  // Negative lengths stop the walk too.
  std::string negative =
      "5F0B"
      "00000000"
      "00000000"
      "00"
      "FFFFFFFF";
  WriteFile(FromHex(HeaderHex(0, 0, 0, 1) + HeaderHex(0, 0, 0, 1) + negative +
                    std::string(40, '0')));
  db->OpenDB(upath_);
  EXPECT_EQ(db->Count(), 0);
}

TEST_F(KxDocsDBTest, FaultsLeaveAReadableFile) {
  internal::FaultyFileSystem faulty(internal::FileSystem::Default());
  auto db = Open(faulty);
  Put(*db, u"a", u"n", Value(1));
  Put(*db, u"b", u"n", Value(2));
  const size_t good_size = FileBytes().size();

  // Writes of a save: the record, the link to it, the header.
  faulty.CutWrite(1, 7);  // a torn record
  EXPECT_THROW(Put(*db, u"c", u"n", Value(3)), Error);
  faulty.FailWrite(3);  // the header fails after a complete, linked record
  EXPECT_THROW(Put(*db, u"d", u"n", Value(4)), Error);
  faulty.FailWrite(2);  // the link fails: the record stays out of the chain
  EXPECT_THROW(Put(*db, u"x", u"n", Value(0)), Error);
  db->OpenDB(upath_);
  // The torn C is skipped; D was complete and linked from B, only its
  // header write failed; X was never linked.
  EXPECT_EQ(Joined(db->Keys()), u"A;B;D;");
  EXPECT_GT(FileBytes().size(), good_size);
  Put(*db, u"e", u"n", Value(5));
  db->OpenDB(upath_);
  EXPECT_EQ(Joined(db->Keys()), u"A;B;D;E;");

  // A failing compaction leaves the database as it was.
  const Bytes before = FileBytes();
  faulty.FailWrite(2);
  EXPECT_THROW(db->Compact(), Error);
  EXPECT_EQ(FileBytes(), before);
  db->FlushData();
  db->Compact();
  EXPECT_EQ(Joined(db->Keys()), u"A;B;D;E;");
  EXPECT_EQ(ToLong(db->GetField(u"d", u"n")), 4);
  db->FlushData();

  // What was not flushed is lost by a crash; the rest still opens.
  Put(*db, u"f", u"n", Value(6));
  faulty.Crash();
  db = Open(faulty);
  EXPECT_EQ(Joined(db->Keys()), u"A;B;D;E;");
  EXPECT_EQ(ToLong(db->GetField(u"e", u"n")), 5);
}

}  // namespace
}  // namespace quorvel
