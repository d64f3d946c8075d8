// What only the document file does: its bytes and chain, ids, cache,
// fields, search, and the damage, failures and openers a chain meets.
#include "quorvel/kxdocsdb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "stores/store_file_test.h"

namespace quorvel {
namespace {

using testing::Bytes;
using testing::FromHex;
using testing::Joined;
using testing::ToHex;
constexpr char16_t kSource[] = u"KxDocsDB";
constexpr char16_t kNotOpen[] = u"DB is not open";

std::string Le32(int32_t v) {
  Bytes b;
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return ToHex(b);
}
// Hex without the spaces that group it here.
std::string H(std::string_view hex) { return ToHex(FromHex(hex)); }
int32_t Get32At(const Bytes& b, size_t at) {
  return static_cast<int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                              static_cast<uint32_t>(b[at + 3]) << 24);
}

// Both header copies as hex: magic, version, the three counters, the next
// id and zero reserved bytes.
std::string Headers(int32_t records, int32_t deleted, int32_t puts,
                    int32_t next_id) {
  const std::string copy = "4B444F4353544F52" + Le32(1) + Le32(records) +
                           Le32(deleted) + Le32(puts) + Le32(next_id) +
                           std::string(64, '0');
  return copy + copy;
}

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

TEST_F(KxDocsDBTest, GoldenBytesOfChainedRecords) {
  auto db = Open();
  EXPECT_EQ(ToHex(FileBytes()), Headers(0, 0, 0, 0));
  Ref<KxDocRec> first = db->AddDoc();
  Ref<KxDocRec> second = db->AddDoc();
  EXPECT_EQ(first->DocID(), u"DOC000001");
  EXPECT_EQ(second->DocID(), u"DOC000002");
  first->fields().LetItem(u"name", Value(u"Ada"));
  first->fields().LetItem(u"n", Value(7));
  Save(first);
  // Signature, 2 fields, no next, live, the id, the body's length - 1, and
  // the body: a record extension of a name-value map.
  Bytes b = FileBytes();
  EXPECT_EQ(ToHex(b), Headers(1, 0, 1, 3) +
                          H("5F0B 02000000 00000000 00 09000000 "
                            "444F43303030303031 16000000 C7330002 D9046E616D65 "
                            "D903416461 D9016E D207000000"));
  // The second record links from the first: its position + 1.
  const size_t second_at = b.size();
  second->fields().LetItem(u"e", Value(u"\u00e9"));
  Save(second);
  b = FileBytes();
  EXPECT_EQ(ToHex(b, 120 + 6, 4), Le32(static_cast<int32_t>(second_at) + 1));
  EXPECT_EQ(ToHex(b, second_at),
            H("5F0B 01000000 00000000 00 09000000 444F43303030303032 "
              "09000000 C7330001 D90165 D901E9"));
  EXPECT_EQ(ToHex(b, 0, 120), Headers(2, 0, 2, 3));
  // Deleting flags the record in place and counts in the header.
  const Ref<KxDocRec> third = Put(*db, u"c", u"n", Value(3));
  db->Delete(u"DOC000001");
  b = FileBytes();
  EXPECT_EQ(b[120 + 10], 1);
  EXPECT_EQ(ToHex(b, 0, 120), Headers(3, 1, 3, 3));

  // A compaction writes cached records as they stand, unsaved changes too,
  // back to back, each linking to the next, the last ending the chain.
  db->OpenDB(upath_);
  const Ref<KxDocRec> reread = db->GetDoc(u"DOC000002");
  ASSERT_TRUE(reread) << "the second record is not found";
  EXPECT_EQ(reread->fields().Item(u"e").string_view(), u"\u00e9");
  Ref<KxDocRec> cached = db->GetDoc(u"C");
  Save(cached);
  cached->fields().LetItem(u"extra", Value(true));
  EXPECT_EQ(db->AddDoc()->DocID(), u"DOC000003");  // never saved
  db->Compact();
  const Bytes compacted = FileBytes();
  EXPECT_EQ(ToHex(compacted, 0, 120), Headers(2, 0, 2, 4));
  EXPECT_EQ(Joined(db->Keys()), u"DOC000002;C;");
  EXPECT_TRUE(ToBoolean(db->GetField(u"c", u"extra")));
  EXPECT_EQ(db->AddDoc()->DocID(), u"DOC000004");  // the sequence goes on
  const int32_t next = Get32At(compacted, 120 + 6);
  EXPECT_EQ(next - 1, 120 + 15 + 9 + 4 + 10);
  EXPECT_EQ(Get32At(compacted, next - 1 + 6), 0);
  EXPECT_EQ(compacted[next - 1 + 15], 'C');
}

TEST_F(KxDocsDBTest, WhatIsCachedAndWhatIsReadAgain) {
  auto db = Open();
  Ref<KxDocRec> saved = Put(*db, u"a", u"x", Value(1));
  // Saved through this object: the cached record, the same each time.
  EXPECT_EQ(db->GetDoc(u"A").get(), saved.get());
  EXPECT_EQ(CallByName(Value(db), u"", CallType::Get, {Value(u"A")}).object(),
            saved.get());
  db->CloseDB();
  ExpectRaisesStandard(Save(saved), kErrBadFileNameOrNumber);

  db->OpenDB(upath_);
  Ref<KxDocRec> r1 = db->GetDoc(u"A");
  ASSERT_TRUE(r1);
  EXPECT_NE(r1.get(), db->GetDoc(u"A").get());  // reads are not cached
  EXPECT_EQ(ToLong(r1->fields().Item(u"x")), 1);
  Save(r1);  // saving a read record makes it the cached one
  EXPECT_EQ(db->GetDoc(u"A").get(), r1.get());

  // The id counter comes back from the header.
  Ref<KxDocRec> gen = db->AddDoc();
  EXPECT_EQ(gen->DocID(), u"DOC000001");
  Save(gen);
  db->OpenDB(upath_);  // reopening an open database closes the old file
  EXPECT_EQ(db->AddDoc()->DocID(), u"DOC000002");
}

TEST_F(KxDocsDBTest, IdentifierRules) {
  auto db = Open();
  Ref<KxDocRec> rec = Put(*db, u" order-1b ", u"q", Value(3));
  EXPECT_EQ(rec->DocID(), u"ORDER-1B");
  EXPECT_EQ(db->GetDoc(u"ORDER-1B").get(), rec.get());
  EXPECT_TRUE(db->GetDoc(u" order-1b ").get() == nullptr);  // used unchanged
  EXPECT_EQ(ToLong(db->GetField(u" order-1b ", u"q")), 3);  // normalised
  // The lookup misses the lower-case form; creating it collides.
  for (auto add : {+[](KxDocsDB& d) { d.AddDoc(u"Order-1b"); },
                   +[](KxDocsDB& d) { d.GetDoc(u"order-1b", true); }})
    ExpectRaises(add(*db), kErrGeneralFailure, kSource,
                 u"Document already exists: ORDER-1B");
  EXPECT_EQ(db->GetDoc(u"new one", true)->DocID(), u"NEW ONE");

  // A generated id passes over stored ones, and the counter moves past
  // them: a client's DOC000001 and DOC000002 never block the generator.
  Put(*db, u"DOC000001", u"f", Value(1));
  Put(*db, u"DOC000002", u"f", Value(2));
  EXPECT_EQ(db->AddDoc()->DocID(), u"DOC000003");
  EXPECT_EQ(db->next_id(), 4);
  // The counter cannot pass the 32-bit range; given ids still work.
  WriteFile(FromHex(Headers(0, 0, 0, 2147483647)));
  db->OpenDB(upath_);
  ExpectRaises(db->AddDoc(), kErrOverflow, u"KxQuorvel",
               u"Overflow: the document id counter stops at 2,147,483,647");
  EXPECT_EQ(db->AddDoc(u"x")->DocID(), u"X");
}

TEST_F(KxDocsDBTest, FieldsAndSearch) {
  auto db = Open();
  Value v(db);
  EXPECT_EQ(VarType(CallByName(v, u"FindIds", CallType::Method,
                               {Value(u"n"), Value(1)})),
            8204);
  Put(*db, u"i", u"n", Value(int16_t{5}));
  Put(*db, u"l", u"n", Value(5));
  Put(*db, u"z", u"n", Value::Null());
  Put(*db, u"s", u"n", Value(u"Five"));
  EXPECT_EQ(Joined(db->FindIds(u"n", Value(int16_t{5}))), u"I;");
  EXPECT_EQ(Joined(db->FindIds(u"n", Value(5))), u"L;");
  EXPECT_EQ(Joined(db->FindIds(u"n", Value(u"five"))), u"");
  // Read from the file, an Integer comes back as the Long the codec wrote.
  db->OpenDB(upath_);
  EXPECT_EQ(Joined(db->FindIds(u"n", Value(5))), u"I;L;");

  // SetField on a read record is dropped with it; on a cached one it stays
  // in memory until that record is saved again.
  CallByName(v, u"SetField", CallType::Method,
             {Value(u"L"), Value(u"t"), Value(1)});
  EXPECT_TRUE(
      CallByName(v, u"GetField", CallType::Method, {Value(u"l"), Value(u"t")})
          .IsMissing());
  Put(*db, u"m", u"n", Value(1));
  db->SetField(u"M", u"t", Value(u"kept"));
  EXPECT_EQ(ToText(db->GetField(u"m", u"t")), u"kept");
  db->OpenDB(upath_);
  EXPECT_EQ(db->GetField(u"m", u"t", Value(u"gone")).string_view(), u"gone");
  db->SetField(u"new", u"t", Value(1));  // AutoCreate stores nothing
  EXPECT_EQ(db->Count(), 5);
  // A body that decodes to anything but a record is a type mismatch.
  WriteFile(FromHex(Headers(1, 0, 1, 1) +
                    "5F0B 00000000 00000000 00 01000000 42 01000000 D900"));
  db->OpenDB(upath_);
  EXPECT_EQ(Joined(db->Keys()), u"B;");
  ExpectRaisesStandard(db->GetDoc(u"B"), kErrTypeMismatch);
}

TEST_F(KxDocsDBTest, RecordsAreDetachedWhenTheDatabaseGoes) {
  Ref<KxDocRec> unsaved, saved, read;
  Ref<KxDocRec> client = KxDocRec::Create();
  {
    auto db = Open();
    CallByName(Value(client), u"DB", CallType::Set, {Value(db)});
    saved = Put(*db, u"a", u"n", Value(1));
    unsaved = db->AddDoc(u"b");
    db->OpenDB(upath_);  // the cache is dropped; the records stay attached
    read = db->GetDoc(u"A");
  }
  for (const Ref<KxDocRec>& rec : {saved, unsaved, read})
    EXPECT_EQ(rec->store(), nullptr);
  EXPECT_TRUE(CallByName(Value(client), u"DB", CallType::Get).IsNothing());
  ExpectRaises(Save(read), kErrRecordDetached, u"CDocRec",
               u"Can't save. Record is not attached to a DB.");
}

TEST_F(KxDocsDBTest, OpenersAddingOneIdAndUpdatingOneDocument) {
  auto a = Open();
  auto b = Open();
  // Two openers adding one id cannot both succeed; updates under the lock
  // keep every opener's field and never revive a deleted document.
  Ref<KxDocRec> r4a = a->AddDoc(u"r4"), r4b = b->AddDoc(u" R4 ");
  r4a->fields().LetItem(u"by", Value(u"a"));
  r4b->fields().LetItem(u"by", Value(u"b"));
  Save(r4a);
  ExpectRaises(Save(r4b), kErrGeneralFailure, kSource,
               u"Document already exists: R4");
  ExpectRaises(b->AddDoc(u"R4"), kErrGeneralFailure, kSource,
               u"Document already exists: R4");
  Save(r4a);  // saved through this object before: a save replaces it
  auto reopened = Open();
  EXPECT_EQ(Joined(reopened->Keys()), u"R4;");
  EXPECT_EQ(reopened->GetField(u"R4", u"by").string(), u"a");
  for (int i = 0; i < 20; ++i) {
    KxDocsDB& by = i % 2 ? *a : *b;
    const String field(u"f" + FromUtf8(std::to_string(i)));
    EXPECT_TRUE(by.UpdateDoc(
        u"R4", [&](KxDocRec& rec) { rec.fields().LetItem(field, Value(i)); }));
  }
  EXPECT_EQ(Open()->GetDoc(u"R4")->fields().Count(), 21);
  b->Delete(u"R4");
  EXPECT_FALSE(a->UpdateDoc(
      u"R4", [](KxDocRec& rec) { rec.fields().LetItem(u"x", Value(1)); }));
  EXPECT_EQ(Open()->Count(), 0);
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

TEST_F(KxDocsDBTest, DamageEndsTheWalk) {
  // A record linking back to itself, then one cut short by the end.
  WriteFile(FromHex(Headers(1, 0, 1, 1) +
                    "5F0B 00000000 79000000 00 01000000 41 03000000 C7330000" +
                    "5F0B000000000000000000"));
  auto db = Open();
  EXPECT_EQ(Joined(db->Keys()), u"A;");
  // The next save links from the last good record and mends the chain.
  Put(*db, u"b", u"n", Value(1));
  db->OpenDB(upath_);
  EXPECT_EQ(Joined(db->Keys()), u"A;B;");
}

TEST_F(KxDocsDBTest, FailedSavesLeaveAReadableChain) {
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
  EXPECT_EQ(ToLong(db->GetField(u"d", u"n")), 4);
}

// A search decides from the encoded body where it can, and decodes the
// record where the bytes cannot tell.
TEST_F(KxDocsDBTest, RecordsTheBytesCannotDecideAreDecoded) {
  {
    auto db = Open();
    for (const char16_t* id : {u"A", u"B", u"C", u"D"}) {
      Ref<KxDocRec> rec = db->AddDoc(String(id));
      rec->fields().LetItem(String(u"xyz"), Value(5));
      rec->Save();
    }
  }
  auto db = Open();
  Bytes file = FileBytes();
  // Each record: a 15-byte header, the id, the body's length, and the body
  // C733 0001 D90378797A D205000000.
  const size_t at[] = {140, 174, 208, 242};
  ASSERT_EQ(ToHex(file, at[3], 14), "C7330001D90378797AD205000000");
  // B's name becomes the number 5, which the decoder reads as "5"; C loses
  // its signature and is no document.
  const Bytes long_name = FromHex("D205000000");
  std::copy(long_name.begin(), long_name.end(), file.begin() + at[1] + 4);
  file[at[2] - 20] = 0;
  WriteFile(file);
  EXPECT_EQ(Joined(db->FindIds(u"xyz", Value(5))), u"A;D;");
  EXPECT_EQ(Joined(db->FindIds(u"5", Value(5))), u"B;");
  // D's value becomes a type the decoder refuses: the search raises as
  // reading D does.
  file[at[3] + 9] = 0xC1;
  WriteFile(file);
  const std::u16string damaged =
      u"Document D at offset " + FromUtf8(std::to_string(at[3] - 20)) +
      u" cannot be read: Unsupported MsgPack type: C1";
  ExpectRaises(db->GetDoc(u"D"), kErrInvalidCall, u"KxDocsDB", damaged);
  ExpectRaises(db->FindIds(u"xyz", Value(5)), kErrInvalidCall, u"KxDocsDB",
               damaged);
}

}  // namespace
}  // namespace quorvel
