// Several processes on one KxKVDB file: concurrent writers, and writers
// killed at random points.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "quorvel/kxkvdb.h"
#include "test_util.h"

namespace quorvel {
namespace {

std::u16string Text(const std::string& s) { return FromUtf8(s); }

std::string TempPath(const char* name) {
  auto dir = std::filesystem::temp_directory_path() /
             ("quorvel-kv-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  auto path = dir / name;
  std::filesystem::remove(path);
  return path.string();
}

std::string ValueFor(const std::string& key) {
  std::string v = key;
  while (v.size() < 100) v += '.';
  return v;
}

TEST(KxKVDBProcessTest, EightWritersAtOnceLoseNothing) {
  const std::string path = TempPath("writers.kv");
  constexpr int kWriters = 8, kPuts = 2000;
  pid_t children[kWriters];
  for (int w = 0; w < kWriters; ++w) {
    children[w] = fork();
    ASSERT_GE(children[w], 0);
    if (children[w] == 0) {
      int status = 0;
      try {
        auto db = KxKVDB::Create();
        db->OpenDB(Text(path));
        for (int k = 0; k < kPuts; ++k) {
          std::string key = "w" + std::to_string(w) + "-" + std::to_string(k);
          db->PutValue(Text(key), Text(ValueFor(key)));
        }
        db->CloseDB();
      } catch (...) {
        status = 1;
      }
      _exit(status);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto db = KxKVDB::Create();
  db->OpenDB(Text(path));
  EXPECT_EQ(db->Count(), kWriters * kPuts);
  for (int w = 0; w < kWriters; ++w)
    for (int k = 0; k < kPuts; k += 97) {
      std::string key = "w" + std::to_string(w) + "-" + std::to_string(k);
      EXPECT_EQ(ToUtf8(db->Item(Text(key))), ValueFor(key)) << key;
    }
  // Every record was found: one more write lands where a rescan finds it.
  db->PutValue(u"last", u"x");
  db->OpenDB(Text(path));
  EXPECT_EQ(db->Count(), kWriters * kPuts + 1);
  db->CloseDB();
  std::filesystem::remove_all(std::filesystem::path(path).parent_path());
}

// A child writes keys and reports each acknowledged PutValue through a pipe;
// it is killed at a random moment. The file must always open and hold every
// acknowledged key.
TEST(KxKVDBProcessTest, KilledWritersLoseNoAcknowledgedWrite) {
  const std::string path = TempPath("killed.kv");
  std::mt19937 rng(7);
  int unopenable = 0, lost = 0, next_key = 0;
  constexpr int kCycles = 1000;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    const int first = next_key;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(pipe_fds[0]);
      auto db = KxKVDB::Create();
      db->OpenDB(Text(path));
      for (int k = first;; ++k) {
        std::string key = "k" + std::to_string(k);
        db->PutValue(Text(key), Text(ValueFor(key)));
        if (write(pipe_fds[1], &k, sizeof k) != sizeof k) _exit(1);
      }
    }
    close(pipe_fds[1]);
    usleep(rng() % 3000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    int acknowledged = first - 1, k;
    while (read(pipe_fds[0], &k, sizeof k) == sizeof k) acknowledged = k;
    close(pipe_fds[0]);
    try {
      auto db = KxKVDB::Create();
      db->OpenDB(Text(path));
      for (int i = first; i <= acknowledged; ++i) {
        std::string key = "k" + std::to_string(i);
        if (ToUtf8(db->Item(Text(key))) != ValueFor(key)) ++lost;
      }
    } catch (const Error&) {
      ++unopenable;
    }
    next_key = acknowledged + 2;  // skip the key that may have been cut
  }
  EXPECT_EQ(unopenable, 0);
  EXPECT_EQ(lost, 0);
  std::filesystem::remove_all(std::filesystem::path(path).parent_path());
  std::printf("%d kill cycles, %d keys acknowledged, %d unopenable, %d lost\n",
              kCycles, next_key, unopenable, lost);
}

}  // namespace
}  // namespace quorvel
