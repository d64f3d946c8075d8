#include "stores/db_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "test_util.h"
#include "testing/faulty_file_system.h"

namespace quorvel::internal {
namespace {

using Bytes = std::vector<uint8_t>;

class DbFileTest : public testing::TempDirTest {
 protected:
  std::u16string Path(const char* name) { return FromUtf8(dir_ + "/" + name); }
  static Bytes All(DbFile& f) {
    Bytes out(static_cast<size_t>(f.Length()));
    f.ReadAt(0, out);
    return out;
  }

  FileSystem& fs_ = FileSystem::Default();
};

TEST_F(DbFileTest, TheEndFollowsOtherOpenersAppendsAndCuts) {
  const std::u16string p = Path("end.bin");
  auto a = fs_.Open(p);
  auto b = fs_.Open(p);
  EXPECT_EQ(a->AppendOffset(), 0);
  a->WriteAt(0, Bytes(10, 0x5F));
  b->WriteAt(b->AppendOffset(), Bytes{0x5F, 1, 2, 3, 4});
  EXPECT_EQ(a->AppendOffset(), 15);
  Bytes buf(4, 0xEE);
  EXPECT_EQ(a->ReadSome(13, buf), 2u);
  EXPECT_EQ(buf, (Bytes{3, 4, 0xEE, 0xEE}));
  EXPECT_EQ(a->ReadSome(15, buf), 0u);
  ExpectRaisesStandard(a->ReadAt(13, buf), kErrInputPastEnd);
  // An end on a page boundary has no byte past it to look at.
  b->WriteAt(15, Bytes(4096 - 15, 0x5F));
  EXPECT_EQ(a->AppendOffset(), 4096);
  b->WriteAt(4096, Bytes{0x5F});
  EXPECT_EQ(a->AppendOffset(), 4097);
  a->WriteAt(5000, Bytes{0x5F});  // the gap reads as zeros
  EXPECT_EQ(a->AppendOffset(), 5001);
  EXPECT_EQ(All(*b)[4999], 0);
  // Cut inside the last page (which then reads as zeros), pages before it
  // (which fault), and down into the first.
  const std::string os_path = ToUtf8(p);
  for (int64_t cut : {5000, 4090, 100}) {
    ASSERT_EQ(truncate(os_path.c_str(), cut), 0);
    EXPECT_EQ(a->AppendOffset(), cut);
    Bytes out(50);
    EXPECT_EQ(a->ReadSome(cut - 20, out), 20u);
  }
  // The SIGBUS handler the view needs lets any other fault end the process.
  EXPECT_DEATH(
      {
        const int fd = ::open(os_path.c_str(), O_RDWR);
        ::ftruncate(fd, 0);
        void* page = ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
        std::printf("%d", *static_cast<volatile char*>(page));
      },
      "");
}

TEST_F(DbFileTest, WritesInPlaceAreSeenByOtherOpenersAtOnce) {
  const std::u16string p = Path("place.bin");
  auto a = fs_.Open(p);
  auto b = fs_.Open(p);
  a->WriteAt(0, Bytes(10, 0x5F));
  a->WriteInPlace(2, Bytes{1, 2, 3});
  EXPECT_EQ(All(*b),
            (Bytes{0x5F, 0x5F, 1, 2, 3, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F}));
  EXPECT_EQ(a->AppendOffset(), 10);
  a->WriteInPlace(8, Bytes{7, 7, 7, 7});  // past the end: the end moves
  EXPECT_EQ(b->Length(), 12);
  b->WriteInPlace(0, Bytes{9});
  Bytes one(1);
  a->ReadAt(0, one);
  EXPECT_EQ(one, Bytes{9});
  auto r = fs_.Open(p, OpenMode::kReadOnly);
  r->Length();
  EXPECT_THROW(r->WriteInPlace(0, Bytes{1}), Error);
  EXPECT_EQ(All(*a)[0], 9);
}

TEST_F(DbFileTest, FileErrorsCarryPlatformNumbersAndNameThePath) {
  const std::u16string dir = FromUtf8(dir_);
  const std::u16string gone =
      u"File not found: " + dir + u"/gone (No such file or directory)";
  ExpectRaises(fs_.Open(Path("no/such/dir.bin")), kErrPathNotFound,
               u"KxQuorvel",
               u"Path not found: " + dir +
                   u"/no/such/dir.bin (No such file or directory)");
  ExpectRaises(fs_.Open(dir), kErrPathFileAccess, u"KxQuorvel",
               u"Path/File access error: " + dir + u" (Is a directory)");
  ExpectRaises(fs_.Open(Path("gone"), OpenMode::kExisting), kErrFileNotFound,
               u"KxQuorvel", gone);
  ExpectRaises(fs_.Open(Path("gone"), OpenMode::kReadOnly), kErrFileNotFound,
               u"KxQuorvel", gone);
  EXPECT_FALSE(fs_.Exists(Path("gone")));
  ExpectRaises(fs_.Delete(Path("gone")), kErrFileNotFound, u"KxQuorvel", gone);
  ExpectRaises(fs_.Rename(Path("gone"), Path("x")), kErrFileNotFound,
               u"KxQuorvel", gone);
  ExpectRaises(fs_.Open(u"/dev/null"), kErrPathFileAccess, u"KxQuorvel",
               u"Path/File access error: /dev/null (not a regular file)");
  ExpectRaisesStandard(fs_.Open(u""), kErrBadFileNameOrNumber);
  ExpectRaisesStandard(fs_.Open(std::u16string(u"a\0b", 3)),
                       kErrBadFileNameOrNumber);
  ExpectRaises(fs_.SyncDirectory(u"/no/such/dir/f"), kErrFileNotFound,
               u"KxQuorvel",
               u"File not found: /no/such/dir (No such file or directory)");
  fs_.Open(Path("r.bin"))->WriteAt(0, Bytes{1, 2});
  auto reader = fs_.Open(Path("r.bin"), OpenMode::kReadOnly);
  ExpectRaises(
      reader->WriteAt(0, Bytes{3}), kErrBadFileNameOrNumber, u"KxQuorvel",
      u"Bad file name or number: " + dir + u"/r.bin (Bad file descriptor)");
  const struct {
    int err;
    int32_t number;
  } kTable[] = {{ENOENT, 53},       {ENOTDIR, 76}, {EACCES, 75}, {EROFS, 75},
                {ENAMETOOLONG, 52}, {EBADF, 52},   {ENOSPC, 61}, {EDQUOT, 61},
                {EIO, 57},          {ENOMEM, 7}};
  for (const auto& row : kTable)
    ExpectRaisesStandard(RaiseFileError(row.err), row.number);
  // Non-ASCII names go to the OS as UTF-8.
  fs_.Open(Path("") + u"\u00e9t\u00e9.bin");
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/\xc3\xa9t\xc3\xa9.bin"));
}

// The double the crash tests rely on: a crash keeps what was synced, and a
// rename only once its directory was synced.
TEST_F(DbFileTest, FaultyFileSystemInjectsFailuresAndCrashes) {
  FaultyFileSystem faulty(fs_);
  const std::u16string p = Path("f.bin");
  auto f = faulty.Open(p);
  f->WriteAt(0, Bytes{1, 2, 3});
  faulty.FailWrite(1);
  ExpectRaisesStandard(f->WriteAt(0, Bytes{9, 9, 9}), kErrDiskFull);
  faulty.CutWrite(2, 2);
  f->WriteAt(3, Bytes{4});
  ExpectRaisesStandard(f->WriteAt(0, Bytes{7, 8, 9}), kErrDeviceIo);
  EXPECT_EQ(All(*f), (Bytes{7, 8, 3, 4}));
  EXPECT_EQ(faulty.writes(), 4);
  f->FlushData();
  f->WriteAt(4, Bytes{5, 6});
  auto t = faulty.Open(Path("t.bin"));
  t->WriteAt(0, Bytes{42});
  t->FlushData();
  t->WriteAt(1, Bytes{43});
  faulty.Rename(Path("t.bin"), Path("u.bin"));
  faulty.SyncDirectory(Path("u.bin"));
  faulty.Rename(Path("u.bin"), Path("v.bin"));
  faulty.Crash();
  ExpectRaisesStandard(f->Length(), kErrDeviceIo);  // opened before the crash
  EXPECT_EQ(All(*fs_.Open(p)), (Bytes{7, 8, 3, 4}));
  EXPECT_EQ(All(*fs_.Open(Path("u.bin"))), (Bytes{42}));
  EXPECT_FALSE(fs_.Exists(Path("t.bin")));
  EXPECT_FALSE(fs_.Exists(Path("v.bin")));
}

}  // namespace
}  // namespace quorvel::internal
