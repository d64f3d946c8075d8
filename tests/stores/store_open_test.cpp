// Opening the database files for reading only, and refusing to create them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "quorvel/kxdocsdb.h"
#include "quorvel/kxkvdb.h"
#include "stores/store_file_test.h"
#include "test_util.h"
#include "testing/memory_file_system.h"

namespace quorvel {
namespace {

using internal::MemoryFileSystem;

using testing::Joined;

constexpr char16_t kReadOnly[] =
    u"Path/File access error: m (opened for reading only)";

// Puts a small file of each kind into `memory` at "m", written normally.
template <class Store>
void Fill(MemoryFileSystem& memory);

template <>
void Fill<KxKVDB>(MemoryFileSystem& memory) {
  auto db = KxKVDB::Create(memory);
  db->OpenDB(u"m");
  db->PutValue(u"k", u"v");
  db->PutValue(u"j", u"w");
}

template <>
void Fill<KxDocsDB>(MemoryFileSystem& memory) {
  auto db = KxDocsDB::Create(memory);
  db->OpenDB(u"m");
  for (const char16_t* id : {u"k", u"j"}) {
    Ref<KxDocRec> rec = db->AddDoc(id);
    rec->fields().LetItem(String(u"n"), Value(1));
    rec->Save();
  }
}

TEST(StoreOpenTest, AFileThatMayNotBeWrittenOpensForReading) {
  MemoryFileSystem memory;
  Fill<KxKVDB>(memory);
  const std::vector<uint8_t> before = memory.Get(u"m");
  memory.SetReadOnly(u"m", true);
  auto kv = KxKVDB::Create(memory);
  kv->OpenDB(u"m");
  EXPECT_TRUE(kv->IsOpen());
  EXPECT_TRUE(kv->IsReadOnly());
  EXPECT_EQ(kv->Count(), 2);
  EXPECT_EQ(kv->Item(u"j"), u"w");
  ExpectRaises(kv->PutValue(u"a", u"b"), kErrPathFileAccess, u"KxQuorvel",
               kReadOnly);
  ExpectRaises(kv->LetItem(u"a", u"b"), kErrPathFileAccess, u"KxQuorvel",
               kReadOnly);
  ExpectRaises(kv->DeleteKey(u"k"), kErrPathFileAccess, u"KxQuorvel",
               kReadOnly);
  ExpectRaises(kv->Compact(), kErrPathFileAccess, u"KxQuorvel", kReadOnly);
  kv->DeleteKey(u"absent");  // nothing to write, nothing raised
  kv->FlushData();
  EXPECT_TRUE(kv->IsReadOnly());
  EXPECT_EQ(kv->Count(), 2);
  EXPECT_EQ(memory.Get(u"m"), before);
  // The same when the file must already exist.
  kv->OpenDB(u"m", OpenOptions{.create_if_missing = false});
  EXPECT_TRUE(kv->IsReadOnly());
  ExpectRaises(kv->PutValue(u"a", u"b"), kErrPathFileAccess, u"KxQuorvel",
               kReadOnly);

  // Asked for, on a file that could be written.
  memory.SetReadOnly(u"m", false);
  kv->OpenDB(u"m", OpenOptions{.read_only = true});
  EXPECT_TRUE(kv->IsReadOnly());
  ExpectRaises(kv->PutValue(u"a", u"b"), kErrPathFileAccess, u"KxQuorvel",
               kReadOnly);
  kv->OpenDB(u"m");
  EXPECT_FALSE(kv->IsReadOnly());
  kv->PutValue(u"a", u"b");
  EXPECT_EQ(kv->Count(), 3);
}

TEST(StoreOpenTest, ADocumentFileOpenedForReadingWritesNothing) {
  MemoryFileSystem memory;
  Fill<KxDocsDB>(memory);
  const std::vector<uint8_t> before = memory.Get(u"m");
  memory.SetReadOnly(u"m", true);
  auto db = KxDocsDB::Create(memory);
  db->OpenDB(u"m");
  EXPECT_TRUE(db->IsReadOnly());
  EXPECT_EQ(db->Count(), 2);
  EXPECT_EQ(ToLong(db->GetField(u"j", u"n")), 1);
  EXPECT_EQ(Joined(db->FindIds(u"n", Value(1))), u"K;J;");
  // A generated identifier needs no reservation where nothing can be saved.
  Ref<KxDocRec> rec = db->AddDoc();
  EXPECT_EQ(rec->DocID(), u"DOC000001");
  ExpectRaises(rec->Save(), kErrPathFileAccess, u"KxQuorvel", kReadOnly);
  ExpectRaises(db->Delete(u"K"), kErrPathFileAccess, u"KxQuorvel", kReadOnly);
  ExpectRaises(db->Compact(), kErrPathFileAccess, u"KxQuorvel", kReadOnly);
  EXPECT_EQ(db->Count(), 2);
  EXPECT_EQ(memory.Get(u"m"), before);
}

TEST(StoreOpenTest, MissingFilesAreCreatedOnlyWhenAllowed) {
  MemoryFileSystem memory;
  auto kv = KxKVDB::Create(memory);
  auto docs = KxDocsDB::Create(memory);
  const std::u16string missing =
      u"File not found: m (No such file or directory)";
  ExpectRaises(kv->OpenDB(u"m", OpenOptions{.create_if_missing = false}),
               kErrFileNotFound, u"KxQuorvel", missing);
  ExpectRaises(kv->OpenDB(u"m", OpenOptions{.read_only = true}),
               kErrFileNotFound, u"KxQuorvel", missing);
  ExpectRaises(docs->OpenDB(u"m", OpenOptions{.create_if_missing = false}),
               kErrFileNotFound, u"KxQuorvel", missing);
  EXPECT_FALSE(memory.Exists(u"m"));
  EXPECT_FALSE(kv->IsOpen());

  // An empty file opened for reading is an empty database; no header is
  // written into it.
  memory.Put(u"m", {});
  kv->OpenDB(u"m", OpenOptions{.read_only = true});
  EXPECT_EQ(kv->Count(), 0);
  EXPECT_EQ(kv->Item(u"k"), u"");
  docs->OpenDB(u"m", OpenOptions{.read_only = true});
  EXPECT_EQ(docs->Count(), 0);
  EXPECT_TRUE(memory.Get(u"m").empty());
  // Refusing to create still opens an existing file for writing.
  kv->OpenDB(u"m", OpenOptions{.create_if_missing = false});
  EXPECT_FALSE(kv->IsReadOnly());
  EXPECT_EQ(memory.Get(u"m").size(), 104u);
}

// A real file without write permission, opened by a user the permission
// binds (root ignores it, so a root run drops to "nobody" in a child).
TEST(StoreOpenTest, AFileWithoutWritePermissionOpensForReading) {
  const std::string dir = std::filesystem::temp_directory_path() /
                          ("quorvel-ro-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/ro.kv";
  {
    auto db = KxKVDB::Create();
    db->OpenDB(FromUtf8(path));
    db->PutValue(u"k", u"v");
  }
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(10);
    int status = 0;
    try {
      auto db = KxKVDB::Create();
      db->OpenDB(FromUtf8(path));
      if (!db->IsReadOnly()) status |= 1;
      if (db->Item(u"k") != u"v") status |= 2;
      try {
        db->PutValue(u"a", u"b");
        status |= 4;
      } catch (const Error& e) {
        if (e.number() != kErrPathFileAccess ||
            e.description() != u"Path/File access error: " + FromUtf8(path) +
                                   u" (opened for reading only)")
          status |= 8;
      }
    } catch (...) {
      status |= 16;
    }
    _exit(status);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quorvel
