#include "stores/db_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "test_util.h"
#include "testing/faulty_file_system.h"

namespace quorvel::internal {
namespace {

class DbFileTest : public testing::TempDirTest {
 protected:
  std::u16string Path(const char* name) {
    return FromUtf8((std::filesystem::path(dir_) / name).string());
  }
  static std::vector<uint8_t> All(DbFile& f) {
    std::vector<uint8_t> out(static_cast<size_t>(f.Length()));
    f.ReadAt(0, out);
    return out;
  }

  FileSystem& fs_ = FileSystem::Default();
};

using Bytes = std::vector<uint8_t>;

TEST_F(DbFileTest, ReadsAndWritesAtPositions) {
  std::u16string p = Path("a.bin");
  EXPECT_FALSE(fs_.Exists(p));
  auto f = fs_.Open(p);
  EXPECT_TRUE(fs_.Exists(p));
  EXPECT_EQ(f->Length(), 0);
  f->WriteAt(0, Bytes{1, 2, 3, 4});
  f->WriteAt(6, Bytes{9});  // past the end: the gap reads as zeros
  EXPECT_EQ(f->Length(), 7);
  EXPECT_EQ(All(*f), (Bytes{1, 2, 3, 4, 0, 0, 9}));
  f->WriteAt(1, Bytes{7, 7});  // in place, no append mode
  EXPECT_EQ(All(*f), (Bytes{1, 7, 7, 4, 0, 0, 9}));

  Bytes buf(4, 0xEE);
  EXPECT_EQ(f->ReadSome(5, buf), 2u);
  EXPECT_EQ(buf, (Bytes{0, 9, 0xEE, 0xEE}));
  EXPECT_EQ(f->ReadSome(7, buf), 0u);
  EXPECT_EQ(f->ReadSome(100, buf), 0u);
  ExpectRaisesStandard(f->ReadAt(5, buf), 62);
  f->FlushData();

  // A second opener shares the file and sees writes at once.
  auto g = fs_.Open(p);
  EXPECT_EQ(All(*g), (Bytes{1, 7, 7, 4, 0, 0, 9}));
  f->WriteAt(7, Bytes{5});
  EXPECT_EQ(All(*g), (Bytes{1, 7, 7, 4, 0, 0, 9, 5}));
}

TEST_F(DbFileTest, AppendOffsetSeesOtherOpenersAppends) {
  std::u16string p = Path("end.bin");
  auto a = fs_.Open(p);
  auto b = fs_.Open(p);
  EXPECT_EQ(a->AppendOffset(), 0);
  a->WriteAt(0, Bytes(10, 0x5F));
  EXPECT_EQ(a->AppendOffset(), 10);  // its own append keeps the end known
  b->WriteAt(b->AppendOffset(), Bytes{0x5F, 1, 2, 3, 4});
  EXPECT_EQ(a->AppendOffset(), 15);  // another opener's append is seen
  a->WriteAt(15, Bytes{0x5F, 0});
  EXPECT_EQ(a->AppendOffset(), 17);
  EXPECT_EQ(b->AppendOffset(), 17);
  // An end on a page boundary has no byte past it to look at.
  b->WriteAt(17, Bytes(4096 - 17, 0x5F));
  EXPECT_EQ(a->AppendOffset(), 4096);
  b->WriteAt(4096, Bytes{0x5F});
  EXPECT_EQ(a->AppendOffset(), 4097);
  // A write inside the file keeps the end; one past it makes it unknown.
  a->WriteAt(0, Bytes{1});
  EXPECT_EQ(a->AppendOffset(), 4097);
  a->WriteAt(5000, Bytes{0x5F});
  EXPECT_EQ(a->AppendOffset(), 5001);
  // Cut short by another program: inside the last page (which then reads
  // as zeros), pages before it (which fault), and down into the first.
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
  std::u16string p = Path("place.bin");
  auto a = fs_.Open(p);
  auto b = fs_.Open(p);
  a->WriteAt(0, Bytes(10, 0x5F));
  EXPECT_EQ(a->AppendOffset(), 10);
  // Over bytes the file holds: through the view, the end stays.
  a->WriteInPlace(2, Bytes{1, 2, 3, 4, 5});
  EXPECT_EQ(All(*b), (Bytes{0x5F, 0x5F, 1, 2, 3, 4, 5, 0x5F, 0x5F, 0x5F}));
  EXPECT_EQ(a->AppendOffset(), 10);
  // Past the end it is an ordinary write, and the end moves.
  a->WriteInPlace(8, Bytes{7, 7, 7, 7});
  EXPECT_EQ(b->Length(), 12);
  EXPECT_EQ(All(*b), (Bytes{0x5F, 0x5F, 1, 2, 3, 4, 5, 0x5F, 7, 7, 7, 7}));
  // What b wrote in place, a reads, from the view or not.
  b->Length();
  b->WriteInPlace(0, Bytes{9});
  Bytes one(1);
  a->ReadAt(0, one);
  EXPECT_EQ(one, Bytes{9});
  a->FlushData();
  // A file opened for reading is never written, in place or not.
  auto r = fs_.Open(p, OpenMode::kReadOnly);
  r->Length();
  EXPECT_THROW(r->WriteInPlace(0, Bytes{1}), Error);
  EXPECT_EQ(All(*a)[0], 9);
}

TEST_F(DbFileTest, FileErrorsCarryPlatformNumbersAndNameThePath) {
  // Errors of the OS name the file and the reason.
  const std::u16string dir = FromUtf8(dir_);
  ExpectRaises(fs_.Open(Path("no/such/dir.bin")), kErrPathNotFound,
               u"KxQuorvel",
               u"Path not found: " + dir +
                   u"/no/such/dir.bin (No such file or directory)");
  ExpectRaises(fs_.Open(dir), kErrPathFileAccess, u"KxQuorvel",
               u"Path/File access error: " + dir + u" (Is a directory)");
  ExpectRaises(
      fs_.Open(Path("gone"), OpenMode::kExisting), kErrFileNotFound,
      u"KxQuorvel",
      u"File not found: " + dir + u"/gone (No such file or directory)");
  ExpectRaises(
      fs_.Open(Path("gone"), OpenMode::kReadOnly), kErrFileNotFound,
      u"KxQuorvel",
      u"File not found: " + dir + u"/gone (No such file or directory)");
  EXPECT_FALSE(fs_.Exists(Path("gone")));
  ExpectRaises(fs_.Open(u"/dev/null"), kErrPathFileAccess, u"KxQuorvel",
               u"Path/File access error: /dev/null (not a regular file)");
  ExpectRaisesStandard(fs_.Open(u""), kErrBadFileNameOrNumber);
  ExpectRaisesStandard(fs_.Open(std::u16string(u"a\0b", 3)),
                       kErrBadFileNameOrNumber);
  ExpectRaises(
      fs_.Delete(Path("missing")), kErrFileNotFound, u"KxQuorvel",
      u"File not found: " + dir + u"/missing (No such file or directory)");
  ExpectRaises(
      fs_.Rename(Path("missing"), Path("x")), kErrFileNotFound, u"KxQuorvel",
      u"File not found: " + dir + u"/missing (No such file or directory)");
  // A file opened for reading cannot be written through.
  fs_.Open(Path("r.bin"))->WriteAt(0, Bytes{1, 2});
  auto reader = fs_.Open(Path("r.bin"), OpenMode::kReadOnly);
  EXPECT_EQ(All(*reader), (Bytes{1, 2}));
  ExpectRaises(
      reader->WriteAt(0, Bytes{3}), kErrBadFileNameOrNumber, u"KxQuorvel",
      u"Bad file name or number: " + dir + u"/r.bin (Bad file descriptor)");

  const struct {
    int err;
    int32_t number;
  } kTable[] = {{ENOENT, 53},       {ENOTDIR, 76}, {EACCES, 75}, {EROFS, 75},
                {ENAMETOOLONG, 52}, {EBADF, 52},   {ENOSPC, 61}, {EDQUOT, 61},
                {EIO, 57},          {ENOMEM, 7}};
  for (const auto& row : kTable) {
    ExpectRaisesStandard(RaiseFileError(row.err), row.number);
  }

  // Non-ASCII names go to the OS as UTF-8.
  std::u16string p = Path("") + u"\u00e9t\u00e9.bin";
  fs_.Open(p)->WriteAt(0, Bytes{1});
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dir_) /
                                      "\xc3\xa9t\xc3\xa9.bin"));
  fs_.Rename(p, Path("b.bin"));
  EXPECT_FALSE(fs_.Exists(p));
  EXPECT_TRUE(fs_.Exists(Path("b.bin")));
  fs_.Delete(Path("b.bin"));
  EXPECT_FALSE(fs_.Exists(Path("b.bin")));
}

TEST_F(DbFileTest, TwoOpenFilesInOneProcessExcludeEachOther) {
  std::u16string p = Path("lock.bin");
  auto a = fs_.Open(p);
  auto b = fs_.Open(p);
  a->LockExclusive();
  std::atomic<bool> b_locked{false};
  std::thread t([&] {
    b->LockExclusive();
    b_locked = true;
    b->Unlock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_FALSE(b_locked.load());
  a->Unlock();
  t.join();
  EXPECT_TRUE(b_locked.load());
  // Closing a locked file releases its lock.
  a->LockExclusive();
  a.reset();
  b->LockExclusive();
  b->Unlock();
}

TEST_F(DbFileTest, FaultyFileSystemInjectsFailuresAndCrashes) {
  FaultyFileSystem faulty(fs_);
  std::u16string p = Path("f.bin");
  auto f = faulty.Open(p);
  f->WriteAt(0, Bytes{1, 2, 3});
  faulty.FailWrite(1);
  ExpectRaisesStandard(f->WriteAt(0, Bytes{9, 9, 9}), kErrDiskFull);
  EXPECT_EQ(All(*f), (Bytes{1, 2, 3}));
  faulty.CutWrite(2, 2);
  f->WriteAt(3, Bytes{4});
  ExpectRaisesStandard(f->WriteAt(0, Bytes{7, 8, 9}), kErrDeviceIo);
  EXPECT_EQ(All(*f), (Bytes{7, 8, 3, 4}));
  EXPECT_EQ(faulty.writes(), 4);
  f->FlushData();
  f->WriteAt(4, Bytes{5, 6});

  // A renamed file keeps only what was synced before the rename.
  auto t = faulty.Open(Path("t.bin"));
  t->WriteAt(0, Bytes{42});
  t->FlushData();
  t->WriteAt(1, Bytes{43});
  faulty.Rename(Path("t.bin"), Path("u.bin"));
  faulty.SyncDirectory(Path("u.bin"));
  // A rename the directory sync did not follow is undone.
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
