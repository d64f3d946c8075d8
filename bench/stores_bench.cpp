// KxKVDB and KxDocsDB against a raw-syscall floor and the embedded stores
// Debian offers: SQLite, LMDB, LevelDB.
//
// Durability is kept alike on every side: a KxKVDB put appends its record and
// rewrites both header copies under the whole-file lock, and syncs nothing.
// So SQLite runs in autocommit (one transaction per statement) with
// journal_mode=WAL and synchronous=OFF (no fsync at all; WAL is SQLite's
// fastest journal for single-statement transactions, so the comparison is
// the harder one for us), LMDB commits one write transaction per put with
// MDB_NOSYNC, LevelDB does plain Puts (WriteOptions::sync false).
//
// The floor is the least a put can do on this file layout: take the OFD lock
// on the whole file, one pwrite of the 9-byte record header, key and value,
// one pwrite of both 52-byte header copies, release the lock. It writes the
// very same bytes as KxKVDB, which each run checks by file size.
//
// Keys are 16 bytes, values 100 bytes. Reads draw 100,000 keys at random with
// a fixed seed (repeats included), the same sequence for every side: once
// with every value already in the store's cache, once right after opening.
// A compaction of a 144 MB file is timed against copying its live records
// with reads and writes of the sizes ours makes.
// KxDocsDB saves 100,000 documents of five fields, reads random ones after
// reopening and searches one field; SQLite keeps the same fields as columns.
// Every figure is one pass over its whole set (Options::min_time tiny, so one
// iteration per run); setup such as building files is not timed. Files live
// in a temporary directory removed on exit.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "harness.h"
#include "quorvel/convert.h"
#include "quorvel/kxdocrec.h"
#include "quorvel/kxdocsdb.h"
#include "quorvel/kxdocstore.h"
#include "quorvel/kxkvdb.h"
#include "quorvel/safearray.h"

#ifdef QUORVEL_HAVE_SQLITE
#include <sqlite3.h>
#endif
#ifdef QUORVEL_HAVE_LMDB
#include <lmdb.h>
#endif
#ifdef QUORVEL_HAVE_LEVELDB
#include <leveldb/db.h>
#endif

namespace {

namespace fs = std::filesystem;
using quorvel::String;

constexpr int kKeys = 100000;
constexpr int kReads = 100000;
constexpr int kOpenRecords = 1000000;
constexpr int kDocs = 100000;
constexpr int kDocReads = 100000;
constexpr size_t kKeyLength = 16;
constexpr size_t kValueLength = 100;
constexpr unsigned kSeed = 20240611;
constexpr int kCities = 20;

struct TempDir {
  TempDir() {
    std::string templ = (fs::temp_directory_path() / "storesXXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) std::abort();
    path = templ;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  fs::path path;
};

const fs::path& Dir() {
  static TempDir dir;
  return dir.path;
}

void Fresh(const fs::path& p) {
  std::error_code ec;
  fs::remove_all(p, ec);
}

String U(const std::string& s) { return String(quorvel::FromUtf8(s)); }

// Keys and values made before timing, in both 8-bit and UTF-16 form, so no
// side pays for making the text.
struct Texts {
  explicit Texts(int n) {
    std::mt19937 rng(kSeed);
    for (int i = 0; i < n; ++i) {
      char key[kKeyLength + 1];
      std::snprintf(key, sizeof key, "key-%012d", i);
      std::string value(kValueLength, ' ');
      for (char& c : value) c = static_cast<char>('a' + rng() % 26);
      keys.emplace_back(key, kKeyLength);
      values.push_back(std::move(value));
      ukeys.push_back(U(keys.back()));
      uvalues.push_back(U(values.back()));
    }
  }
  std::vector<std::string> keys, values;
  std::vector<String> ukeys, uvalues;
};
const Texts& KvTexts() {
  static const Texts t(kKeys);
  return t;
}

// kReads indexes into [0, n), drawn with a fixed seed.
std::vector<int> RandomPicks(int n, int count) {
  std::mt19937 rng(kSeed + 1);
  std::uniform_int_distribution<int> pick(0, n - 1);
  std::vector<int> v(count);
  for (int& i : v) i = pick(rng);
  return v;
}
const std::vector<int>& KvPicks() {
  static const std::vector<int> v = RandomPicks(kKeys, kReads);
  return v;
}

// ---------------------------------------------------------------- KxKVDB

constexpr int64_t kKvHeader = 52;
constexpr int64_t kKvRecordHeader = 9;

void OursFill(const fs::path& p, const Texts& t) {
  auto db = quorvel::KxKVDB::Create();
  db->OpenDB(U(p.string()));
  for (size_t i = 0; i < t.keys.size(); ++i)
    db->PutValue(t.ukeys[i], t.uvalues[i]);
}

// The store `fill` writes at Dir() / name, built once, on first use; a
// key-value fill is given the key-value texts.
template <class Fill>
const fs::path& BuiltOnce(const char* name, Fill fill) {
  static std::map<std::string, fs::path> built;
  auto [at, fresh] = built.try_emplace(name, Dir() / name);
  if (fresh) {
    if constexpr (std::is_invocable_v<Fill, const fs::path&, const Texts&>) {
      fill(at->second, KvTexts());
    } else {
      fill(at->second);
    }
  }
  return at->second;
}

// The file every read benchmark of ours opens, built on first use.
const fs::path& OursReadFile() { return BuiltOnce("ours_read.kv", OursFill); }

bool SizeIs(benchmark::State& state, const fs::path& p, uintmax_t want) {
  std::error_code ec;
  if (fs::file_size(p, ec) == want) return true;
  state.SkipWithError("file size differs from the layout's");
  return false;
}

uintmax_t KvFileSize(int records) {
  return 2 * kKvHeader +
         uintmax_t(records) * (kKvRecordHeader + kKeyLength + kValueLength);
}

// Only the puts are timed on our side: making the empty file before and
// letting go of the store's memory after are not what is compared. A peer's
// run also times opening and closing its empty store (milliseconds of a
// run of seconds), which only counts against the peer.
void OursPuts(benchmark::State& state, bool batch) {
  const Texts& t = KvTexts();
  fs::path p = Dir() / "ours_put.kv";
  const String path = U(p.string());
  for (auto _ : state) {
    state.PauseTiming();
    Fresh(p);
    auto db = quorvel::KxKVDB::Create();
    db->OpenDB(path);
    state.ResumeTiming();
    if (batch) db->BeginBatch();
    for (size_t i = 0; i < t.keys.size(); ++i)
      db->PutValue(t.ukeys[i], t.uvalues[i]);
    if (batch) db->CommitBatch();
    state.PauseTiming();
    db = quorvel::Ref<quorvel::KxKVDB>();
    state.ResumeTiming();
  }
  SizeIs(state, p, KvFileSize(kKeys));
}
void OursPut(benchmark::State& state) { OursPuts(state, false); }
void OursPutBatch(benchmark::State& state) { OursPuts(state, true); }

void Put32(uint8_t* p, int32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(uint32_t(v) >> 8 * i);
}

// Appends one live record in the file's layout.
void AppendKvRecord(std::vector<uint8_t>& out, std::string_view k,
                    std::string_view v) {
  const size_t at = out.size();
  out.resize(at + kKvRecordHeader + k.size() + v.size());
  uint8_t* r = out.data() + at;
  r[0] = 0x5F;  // signature 2911
  r[1] = 0x0B;
  r[2] = static_cast<uint8_t>(k.size());
  r[3] = static_cast<uint8_t>(k.size() >> 8);
  Put32(r + 4, static_cast<int32_t>(v.size()));
  r[8] = 0;  // live
  std::memcpy(r + kKvRecordHeader, k.data(), k.size());
  std::memcpy(r + kKvRecordHeader + k.size(), v.data(), v.size());
}

// What a put must do at minimum: lock, append, header copies, unlock.
void FloorPuts(int fd, const Texts& t) {
  uint8_t header[2 * kKvHeader] = {};
  for (int copy = 0; copy < 2; ++copy) {
    std::memcpy(header + copy * kKvHeader, "KFKV", 4);
    Put32(header + copy * kKvHeader + 4, 1);
  }
  off_t end = sizeof header;
  int32_t count = 0;
  std::vector<uint8_t> record;
  for (size_t i = 0; i < t.keys.size(); ++i) {
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLKW, &fl) != 0) std::abort();
    record.clear();
    AppendKvRecord(record, t.keys[i], t.values[i]);
    if (::pwrite(fd, record.data(), record.size(), end) !=
        static_cast<ssize_t>(record.size()))
      std::abort();
    end += static_cast<off_t>(record.size());
    ++count;
    for (int copy = 0; copy < 2; ++copy) {
      Put32(header + copy * kKvHeader + 8, count);   // RecordCount
      Put32(header + copy * kKvHeader + 16, count);  // PutCount
    }
    if (::pwrite(fd, header, sizeof header, 0) != sizeof header) std::abort();
    fl.l_type = F_UNLCK;
    if (::fcntl(fd, F_OFD_SETLK, &fl) != 0) std::abort();
  }
}

void FloorPut(benchmark::State& state) {
  fs::path p = Dir() / "floor_put.kv";
  for (auto _ : state) {
    state.PauseTiming();
    Fresh(p);
    // The empty file as OpenDB leaves it: both header copies, no record.
    int fd = ::open(p.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) std::abort();
    uint8_t header[2 * kKvHeader] = {};
    for (int copy = 0; copy < 2; ++copy) {
      std::memcpy(header + copy * kKvHeader, "KFKV", 4);
      Put32(header + copy * kKvHeader + 4, 1);
    }
    if (::pwrite(fd, header, sizeof header, 0) != sizeof header) std::abort();
    state.ResumeTiming();
    FloorPuts(fd, KvTexts());
    state.PauseTiming();
    ::close(fd);
    state.ResumeTiming();
  }
  SizeIs(state, p, KvFileSize(kKeys));
}

// Reads kReads random keys from a store whose values were all read once.
void OursGetCached(benchmark::State& state) {
  const Texts& t = KvTexts();
  auto db = quorvel::KxKVDB::Create();
  db->OpenDB(U(OursReadFile().string()));
  size_t bytes = 0;
  for (const String& k : t.ukeys) bytes += db->Item(k).size();
  for (auto _ : state) {
    for (int i : KvPicks()) bytes += db->Item(t.ukeys[i]).size();
  }
  benchmark::DoNotOptimize(bytes);
}

// Reads kReads random keys right after OpenDB, so each first read of a key
// goes to the file.
void OursGetReopened(benchmark::State& state) {
  const Texts& t = KvTexts();
  auto db = quorvel::KxKVDB::Create();
  const String path = U(OursReadFile().string());
  size_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    db->OpenDB(path);
    state.ResumeTiming();
    for (int i : KvPicks()) bytes += db->Item(t.ukeys[i]).size();
  }
  if (bytes != size_t(state.iterations()) * kReads * kValueLength)
    state.SkipWithError("a read came back short");
}

// Writes a key-value file of `records` records straight in the file's
// layout, 1 MiB at a time: keys from `key_format` and the record's number
// modulo `distinct`, values of `value_length` random letters.
void WriteRawKvFile(const fs::path& p, int records, size_t value_length,
                    unsigned seed, const char* key_format, int distinct) {
  std::mt19937 rng(seed);
  int fd = ::open(p.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) std::abort();
  std::vector<uint8_t> out(2 * kKvHeader);
  for (int copy = 0; copy < 2; ++copy) {
    std::memcpy(out.data() + copy * kKvHeader, "KFKV", 4);
    Put32(out.data() + copy * kKvHeader + 4, 1);
    Put32(out.data() + copy * kKvHeader + 8, records);
    Put32(out.data() + copy * kKvHeader + 16, records);
  }
  std::string value(value_length, ' ');
  off_t at = 0;
  for (int i = 0; i < records; ++i) {
    char key[kKeyLength + 1];
    std::snprintf(key, sizeof key, key_format, i % distinct);
    for (char& c : value) c = static_cast<char>('a' + rng() % 26);
    AppendKvRecord(out, std::string_view(key, kKeyLength), value);
    if (out.size() >= (1 << 20) || i + 1 == records) {
      if (::pwrite(fd, out.data(), out.size(), at) !=
          static_cast<ssize_t>(out.size()))
        std::abort();
      at += static_cast<off_t>(out.size());
      out.clear();
    }
  }
  ::close(fd);
}

// One KxKVDB file of kOpenRecords records, built once.
// It is written straight in the file's layout, in large pieces: a million
// PutValue calls would take longer than the rest of the program. OursOpenBig
// checks that the store reads every key of it back.
struct BigFile {
  BigFile() {
    path = Dir() / "open_1m.kv";
    WriteRawKvFile(path, kOpenRecords, kValueLength, kSeed + 2, "big-%012d",
                   kOpenRecords);
  }
  fs::path path;
};
const fs::path& BigPath() {
  static const BigFile big;
  return big.path;
}

void OursOpenBig(benchmark::State& state) {
  const String path = U(BigPath().string());
  int32_t count = 0;
  for (auto _ : state) {
    auto db = quorvel::KxKVDB::Create();
    db->OpenDB(path);
    count = db->Count();
  }
  if (count != kOpenRecords) state.SkipWithError("wrong key count");
}

// The least an index build can do: read the file in large pieces, walk the
// record headers and put each 8-bit key into a hash map.
void FloorOpenBig(benchmark::State& state) {
  size_t count = 0;
  for (auto _ : state) {
    int fd = ::open(BigPath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) std::abort();
    std::unordered_map<std::string, int32_t> index;
    std::vector<char> buf(1 << 20);
    size_t have = 0;
    off_t file_at = 0;  // file offset of buf[0]
    off_t at = 2 * kKvHeader;
    // Returns `need` bytes at `at`, refilling the window there if needed.
    auto get = [&](size_t need) -> const uint8_t* {
      if (at + static_cast<off_t>(need) > file_at + static_cast<off_t>(have)) {
        file_at = at;
        ssize_t n = ::pread(fd, buf.data(), buf.size(), file_at);
        have = n > 0 ? static_cast<size_t>(n) : 0;
        if (have < need) return nullptr;
      }
      return reinterpret_cast<const uint8_t*>(buf.data() + (at - file_at));
    };
    for (;;) {
      const uint8_t* r = get(kKvRecordHeader);
      if (r == nullptr || r[0] != 0x5F || r[1] != 0x0B) break;
      size_t klen = r[2] | r[3] << 8;
      uint32_t vlen = r[4] | r[5] << 8 | r[6] << 16 | uint32_t(r[7]) << 24;
      const uint8_t flag = r[8];
      r = get(kKvRecordHeader + klen);
      if (r == nullptr) break;
      if (flag == 0) {
        index[std::string(reinterpret_cast<const char*>(r) + kKvRecordHeader,
                          klen)] = static_cast<int32_t>(at);
      }
      at += static_cast<off_t>(kKvRecordHeader + klen + vlen);
    }
    ::close(fd);
    count = index.size();
  }
  if (count != size_t(kOpenRecords)) state.SkipWithError("wrong key count");
}

// ---------------------------------------------------------------- compaction

// A 144 MB key-value file: 1,000,000 records of 144 bytes (16-byte key,
// 119-byte value), every key written twice, so half the records are
// superseded. Written once in the layout, then copied before each run,
// since a compaction replaces it.
constexpr int kCompactKeys = 500000;
constexpr size_t kCompactValue = 119;
constexpr size_t kCompactRecord = kKvRecordHeader + kKeyLength + kCompactValue;

const fs::path& CompactSource() {
  static const fs::path path = [] {
    fs::path p = Dir() / "compact_144m.kv";
    // Every key twice: half the records are superseded.
    WriteRawKvFile(p, 2 * kCompactKeys, kCompactValue, kSeed + 3, "cmp-%012d",
                   kCompactKeys);
    return p;
  }();
  return path;
}

fs::path CompactWorkFile() {
  const fs::path work = Dir() / "compact_work.kv";
  fs::copy_file(CompactSource(), work, fs::copy_options::overwrite_existing);
  // On the device before the clock starts: otherwise the write-back of the
  // copy competes with the timed run's own sync, by chance more or less.
  const int fd = ::open(work.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) std::abort();
  ::close(fd);
  return work;
}

// The process's resident high-water mark, and its current resident size,
// in KiB; the mark is reset by ResetPeak.
long StatusKb(const char* field) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long kb = -1;
  const size_t n = std::strlen(field);
  while (std::fgets(line, sizeof line, f) != nullptr)
    if (std::strncmp(line, field, n) == 0) kb = std::atol(line + n);
  std::fclose(f);
  return kb;
}
void ResetPeak() {
  std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (f == nullptr) return;
  std::fputs("5", f);
  std::fclose(f);
}

// Times Compact(true) of the file, opened (and so indexed) untimed, and
// prints how far the resident size rose above the open store during it.
void OursCompact(benchmark::State& state) {
  const fs::path work = CompactWorkFile();
  auto db = quorvel::KxKVDB::Create();
  db->OpenDB(U(work.string()));
  ResetPeak();
  const long open_kb = StatusKb("VmRSS:");
  for (auto _ : state) db->Compact(true);
  const long peak_kb = StatusKb("VmHWM:");
  std::printf("kvdb/compact: open store %ld MB resident, +%ld MB at peak\n",
              open_kb / 1024, (peak_kb - open_kb) / 1024);
  SizeIs(state, work, 2 * kKvHeader + kCompactKeys * kCompactRecord);
}

// The least a compaction can do: copy the live records (the second half of
// the file, known without a walk) with reads of 64 KiB and writes of
// 1 MiB, as ours does, sync the copy and rename it over the file.
void FloorCompact(benchmark::State& state) {
  const fs::path work = CompactWorkFile();
  const fs::path tmp = work.string() + ".tmp";
  for (auto _ : state) {
    int in = ::open(work.c_str(), O_RDONLY | O_CLOEXEC);
    int out = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (in < 0 || out < 0) std::abort();
    std::vector<uint8_t> piece(64 << 10), block;
    block.reserve(1 << 20);
    block.resize(2 * kKvHeader);  // the header, patched at the end
    off_t written = 0;
    auto emit = [&](const uint8_t* p, size_t n) {
      while (n > 0) {
        const size_t take = std::min(n, (size_t{1} << 20) - block.size());
        block.insert(block.end(), p, p + take);
        p += take;
        n -= take;
        if (block.size() == (1 << 20)) {
          if (::pwrite(out, block.data(), block.size(), written) < 0)
            std::abort();
          written += static_cast<off_t>(block.size());
          block.clear();
        }
      }
    };
    off_t at = 2 * kKvHeader + off_t(kCompactKeys) * kCompactRecord;
    for (int i = 0; i < kCompactKeys;) {
      const ssize_t got = ::pread(in, piece.data(), piece.size(), at);
      const int whole = static_cast<int>(got / off_t(kCompactRecord));
      if (whole <= 0) std::abort();
      const int take = std::min(whole, kCompactKeys - i);
      for (int r = 0; r < take; ++r)
        emit(piece.data() + r * kCompactRecord, kCompactRecord);
      at += off_t(take) * kCompactRecord;
      i += take;
    }
    if (::pwrite(out, block.data(), block.size(), written) < 0) std::abort();
    uint8_t header[2 * kKvHeader] = {};
    if (::pwrite(out, header, sizeof header, 0) < 0) std::abort();
    ::fdatasync(out);
    ::close(out);
    ::close(in);
    fs::rename(tmp, work);
    const int dir = ::open(Dir().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::fsync(dir);
    ::close(dir);
  }
  SizeIs(state, work, 2 * kKvHeader + kCompactKeys * kCompactRecord);
}

#ifdef QUORVEL_HAVE_SQLITE
sqlite3* SqliteOpen(const fs::path& p, const char* schema) {
  sqlite3* db = nullptr;
  if (sqlite3_open(p.c_str(), &db) != SQLITE_OK) std::abort();
  // A page cache (64 MiB) that holds each table here whole, as our index
  // and cache hold theirs.
  sqlite3_exec(db,
               "PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF;"
               "PRAGMA cache_size=-65536;",
               nullptr, nullptr, nullptr);
  if (sqlite3_exec(db, schema, nullptr, nullptr, nullptr) != SQLITE_OK)
    std::abort();
  return db;
}
constexpr const char* kKvSchema =
    "CREATE TABLE IF NOT EXISTS kv(k TEXT PRIMARY KEY, v TEXT);";

void Bind(sqlite3_stmt* st, int col, const std::string& s) {
  sqlite3_bind_text(st, col, s.data(), static_cast<int>(s.size()),
                    SQLITE_STATIC);
}

void SqliteFill(const fs::path& p, const Texts& t) {
  sqlite3* db = SqliteOpen(p, kKvSchema);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO kv VALUES(?,?)", -1, &st,
                     nullptr);
  for (size_t i = 0; i < t.keys.size(); ++i) {
    Bind(st, 1, t.keys[i]);
    Bind(st, 2, t.values[i]);
    if (sqlite3_step(st) != SQLITE_DONE) std::abort();
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
}
void SqlitePut(benchmark::State& state) {
  fs::path p = Dir() / "sqlite_put.db";
  for (auto _ : state) {
    state.PauseTiming();
    Fresh(p);
    Fresh(p.string() + "-wal");
    Fresh(p.string() + "-shm");
    state.ResumeTiming();
    SqliteFill(p, KvTexts());
  }
}
const fs::path& SqliteReadFile() {
  return BuiltOnce("sqlite_read.db", SqliteFill);
}
// All reads in one transaction, as LMDB's, so no read pays for taking and
// dropping SQLite's locks.
size_t SqliteReads(sqlite3* db) {
  const Texts& t = KvTexts();
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT v FROM kv WHERE k=?", -1, &st, nullptr);
  size_t bytes = 0;
  for (int i : KvPicks()) {
    Bind(st, 1, t.keys[i]);
    if (sqlite3_step(st) == SQLITE_ROW) bytes += sqlite3_column_bytes(st, 0);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  return bytes;
}
void SqliteGetCached(benchmark::State& state) {
  sqlite3* db = SqliteOpen(SqliteReadFile(), kKvSchema);
  SqliteReads(db);  // pages into SQLite's cache
  size_t bytes = 0;
  for (auto _ : state) bytes += SqliteReads(db);
  sqlite3_close(db);
  benchmark::DoNotOptimize(bytes);
}
void SqliteGetReopened(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    sqlite3* db = SqliteOpen(SqliteReadFile(), kKvSchema);
    state.ResumeTiming();
    bytes += SqliteReads(db);
    state.PauseTiming();
    sqlite3_close(db);
    state.ResumeTiming();
  }
  benchmark::DoNotOptimize(bytes);
}
#endif

#ifdef QUORVEL_HAVE_LMDB
struct Lmdb {
  explicit Lmdb(const fs::path& p) {
    fs::create_directories(p);
    mdb_env_create(&env);
    mdb_env_set_mapsize(env, size_t{1} << 30);
    if (mdb_env_open(env, p.c_str(), MDB_NOSYNC, 0664) != 0) std::abort();
    MDB_txn* txn;
    mdb_txn_begin(env, nullptr, 0, &txn);
    mdb_dbi_open(txn, nullptr, 0, &dbi);
    mdb_txn_commit(txn);
  }
  ~Lmdb() { mdb_env_close(env); }
  MDB_env* env = nullptr;
  MDB_dbi dbi = 0;
};
MDB_val Mv(const std::string& s) {
  return MDB_val{s.size(), const_cast<char*>(s.data())};
}
void LmdbFill(const fs::path& p, const Texts& t) {
  Lmdb db(p);
  for (size_t i = 0; i < t.keys.size(); ++i) {
    MDB_txn* txn;
    mdb_txn_begin(db.env, nullptr, 0, &txn);
    MDB_val k = Mv(t.keys[i]), v = Mv(t.values[i]);
    if (mdb_put(txn, db.dbi, &k, &v, 0) != 0) std::abort();
    mdb_txn_commit(txn);
  }
}
void LmdbPut(benchmark::State& state) {
  fs::path p = Dir() / "lmdb_put";
  for (auto _ : state) {
    state.PauseTiming();
    Fresh(p);
    state.ResumeTiming();
    LmdbFill(p, KvTexts());
  }
}
const fs::path& LmdbReadDir() { return BuiltOnce("lmdb_read", LmdbFill); }
size_t LmdbReads(Lmdb& db) {
  const Texts& t = KvTexts();
  MDB_txn* txn;
  mdb_txn_begin(db.env, nullptr, MDB_RDONLY, &txn);
  size_t bytes = 0;
  for (int i : KvPicks()) {
    MDB_val k = Mv(t.keys[i]), v;
    if (mdb_get(txn, db.dbi, &k, &v) == 0) bytes += v.mv_size;
  }
  mdb_txn_abort(txn);
  return bytes;
}
void LmdbGetCached(benchmark::State& state) {
  Lmdb db(LmdbReadDir());
  LmdbReads(db);
  size_t bytes = 0;
  for (auto _ : state) bytes += LmdbReads(db);
  benchmark::DoNotOptimize(bytes);
}
void LmdbGetReopened(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto db = std::make_unique<Lmdb>(LmdbReadDir());
    state.ResumeTiming();
    bytes += LmdbReads(*db);
    state.PauseTiming();
    db.reset();
    state.ResumeTiming();
  }
  benchmark::DoNotOptimize(bytes);
}
#endif

#ifdef QUORVEL_HAVE_LEVELDB
leveldb::DB* LevelOpen(const fs::path& p) {
  leveldb::Options o;
  o.create_if_missing = true;
  leveldb::DB* db = nullptr;
  if (!leveldb::DB::Open(o, p.string(), &db).ok()) std::abort();
  return db;
}
void LevelFill(const fs::path& p, const Texts& t) {
  leveldb::DB* db = LevelOpen(p);
  for (size_t i = 0; i < t.keys.size(); ++i)
    db->Put(leveldb::WriteOptions(), t.keys[i], t.values[i]);
  delete db;
}
void LevelPut(benchmark::State& state) {
  fs::path p = Dir() / "leveldb_put";
  for (auto _ : state) {
    state.PauseTiming();
    Fresh(p);
    state.ResumeTiming();
    LevelFill(p, KvTexts());
  }
}
const fs::path& LevelReadDir() { return BuiltOnce("leveldb_read", LevelFill); }
size_t LevelReads(leveldb::DB* db) {
  const Texts& t = KvTexts();
  std::string v;
  size_t bytes = 0;
  for (int i : KvPicks()) {
    if (db->Get(leveldb::ReadOptions(), t.keys[i], &v).ok()) bytes += v.size();
  }
  return bytes;
}
void LevelGetCached(benchmark::State& state) {
  leveldb::DB* db = LevelOpen(LevelReadDir());
  LevelReads(db);
  size_t bytes = 0;
  for (auto _ : state) bytes += LevelReads(db);
  delete db;
  benchmark::DoNotOptimize(bytes);
}
void LevelGetReopened(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    leveldb::DB* db = LevelOpen(LevelReadDir());
    state.ResumeTiming();
    bytes += LevelReads(db);
    state.PauseTiming();
    delete db;
    state.ResumeTiming();
  }
  benchmark::DoNotOptimize(bytes);
}
#endif

// ---------------------------------------------------------------- KxDocsDB

// The five fields of document i, made before timing. The city repeats every
// kCities documents, so a search on it matches one document in kCities.
struct DocTexts {
  DocTexts() {
    for (int i = 0; i < kDocs; ++i) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "DOC%06d", i + 1);
      ids.push_back(U(buf));
      std::snprintf(buf, sizeof buf, "name-%d", i);
      names.push_back(U(buf));
    }
    for (int c = 0; c < kCities; ++c)
      cities.push_back(U("city-" + std::to_string(c)));
  }
  static int32_t Age(int i) { return 18 + i % 60; }
  static double Score(int i) { return i * 0.25; }
  static bool Active(int i) { return i % 3 == 0; }
  std::vector<String> ids, names, cities;
  String f_name = u"name", f_age = u"age", f_city = u"city", f_score = u"score",
         f_active = u"active";
};
const DocTexts& Docs() {
  static const DocTexts d;
  return d;
}
const std::vector<int>& DocPicks() {
  static const std::vector<int> v = RandomPicks(kDocs, kDocReads);
  return v;
}
const String& SearchCity() { return Docs().cities[7]; }

void OursDocsFillWith(const fs::path& p, bool batch) {
  const DocTexts& d = Docs();
  auto db = quorvel::KxDocsDB::Create();
  db->OpenDB(U(p.string()));
  if (batch) db->BeginBatch();
  for (int i = 0; i < kDocs; ++i) {
    quorvel::Ref<quorvel::KxDocRec> rec = db->AddDoc();
    rec->LetItem(d.f_name, d.names[i]);
    rec->LetItem(d.f_age, quorvel::Value(DocTexts::Age(i)));
    rec->LetItem(d.f_city, d.cities[i % kCities]);
    rec->LetItem(d.f_score, quorvel::Value(DocTexts::Score(i)));
    rec->LetItem(d.f_active, quorvel::Value(DocTexts::Active(i)));
    rec->Save();
  }
  if (batch) db->CommitBatch();
}
void OursDocsFill(const fs::path& p) { OursDocsFillWith(p, false); }

void OursDocsSaves(benchmark::State& state, bool batch) {
  fs::path p = Dir() / "ours_save.docs";
  for (auto _ : state) {
    state.PauseTiming();
    Fresh(p);
    state.ResumeTiming();
    OursDocsFillWith(p, batch);
  }
}
void OursDocsSave(benchmark::State& state) { OursDocsSaves(state, false); }
void OursDocsSaveBatch(benchmark::State& state) { OursDocsSaves(state, true); }

const fs::path& OursDocsFile() {
  return BuiltOnce("ours_read.docs", OursDocsFill);
}

void OursDocsGet(benchmark::State& state) {
  const DocTexts& d = Docs();
  auto db = quorvel::KxDocsDB::Create();
  const String path = U(OursDocsFile().string());
  int64_t ages = 0;
  for (auto _ : state) {
    state.PauseTiming();
    db->OpenDB(path);
    state.ResumeTiming();
    for (int i : DocPicks())
      ages += quorvel::ToLong(db->GetDoc(d.ids[i])->Item(d.f_age));
  }
  int64_t want = 0;
  for (int i : DocPicks()) want += DocTexts::Age(i);
  if (ages != want * state.iterations()) state.SkipWithError("wrong ages");
}

size_t MatchCount(const quorvel::Value& found) {
  return found.IsArray() ? found.array().size() : 0;
}

void OursDocsFind(benchmark::State& state) {
  auto db = quorvel::KxDocsDB::Create();
  db->OpenDB(U(OursDocsFile().string()));
  const quorvel::Value city(SearchCity());
  size_t matches = 0;
  for (auto _ : state) matches = MatchCount(db->FindIds(Docs().f_city, city));
  if (matches != kDocs / kCities) state.SkipWithError("wrong match count");
}

quorvel::Ref<quorvel::KxDocStore> MemoryFill() {
  const DocTexts& d = Docs();
  auto store = quorvel::KxDocStore::Create();
  for (int i = 0; i < kDocs; ++i) {
    quorvel::Ref<quorvel::Dictionary> doc = store->AddDoc();
    doc->LetItem(d.f_name, d.names[i]);
    doc->LetItem(d.f_age, quorvel::Value(DocTexts::Age(i)));
    doc->LetItem(d.f_city, d.cities[i % kCities]);
    doc->LetItem(d.f_score, quorvel::Value(DocTexts::Score(i)));
    doc->LetItem(d.f_active, quorvel::Value(DocTexts::Active(i)));
  }
  return store;
}

void MemoryFind(benchmark::State& state) {
  auto store = MemoryFill();
  const quorvel::Value city(SearchCity());
  size_t matches = 0;
  for (auto _ : state)
    matches = MatchCount(store->FindIds(Docs().f_city, city));
  if (matches != kDocs / kCities) state.SkipWithError("wrong match count");
}

#ifdef QUORVEL_HAVE_SQLITE
// The same five fields as columns, the identifier as the primary key.
constexpr const char* kDocsSchema =
    "CREATE TABLE IF NOT EXISTS docs(id TEXT PRIMARY KEY, name TEXT, "
    "age INTEGER, city TEXT, score REAL, active INTEGER);";

struct DocStrings {
  DocStrings() {
    for (int i = 0; i < kDocs; ++i) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "DOC%06d", i + 1);
      ids.emplace_back(buf);
      names.push_back("name-" + std::to_string(i));
    }
    for (int c = 0; c < kCities; ++c)
      cities.push_back("city-" + std::to_string(c));
  }
  std::vector<std::string> ids, names, cities;
};
const DocStrings& SqlDocs() {
  static const DocStrings d;
  return d;
}

void SqliteDocsFillWith(const fs::path& p, bool one_transaction) {
  const DocStrings& d = SqlDocs();
  sqlite3* db = SqliteOpen(p, kDocsSchema);
  if (one_transaction) sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO docs VALUES(?,?,?,?,?,?)", -1,
                     &st, nullptr);
  for (int i = 0; i < kDocs; ++i) {
    Bind(st, 1, d.ids[i]);
    Bind(st, 2, d.names[i]);
    sqlite3_bind_int(st, 3, DocTexts::Age(i));
    Bind(st, 4, d.cities[i % kCities]);
    sqlite3_bind_double(st, 5, DocTexts::Score(i));
    sqlite3_bind_int(st, 6, DocTexts::Active(i));
    if (sqlite3_step(st) != SQLITE_DONE) std::abort();
    sqlite3_reset(st);
  }
  if (one_transaction) sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_finalize(st);
  sqlite3_close(db);
}
void SqliteDocsFill(const fs::path& p) { SqliteDocsFillWith(p, false); }
void SqliteDocsSaves(benchmark::State& state, bool one_transaction) {
  fs::path p = Dir() / "sqlite_save.db";
  for (auto _ : state) {
    state.PauseTiming();
    Fresh(p);
    Fresh(p.string() + "-wal");
    Fresh(p.string() + "-shm");
    state.ResumeTiming();
    SqliteDocsFillWith(p, one_transaction);
  }
}
void SqliteDocsSave(benchmark::State& state) { SqliteDocsSaves(state, false); }
void SqliteDocsSaveTxn(benchmark::State& state) {
  SqliteDocsSaves(state, true);
}
const fs::path& SqliteDocsFile() {
  return BuiltOnce("sqlite_read_docs.db", SqliteDocsFill);
}
void SqliteDocsGet(benchmark::State& state) {
  const DocStrings& d = SqlDocs();
  int64_t ages = 0;
  for (auto _ : state) {
    state.PauseTiming();
    sqlite3* db = SqliteOpen(SqliteDocsFile(), kDocsSchema);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM docs WHERE id=?", -1, &st, nullptr);
    state.ResumeTiming();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int i : DocPicks()) {
      Bind(st, 1, d.ids[i]);
      if (sqlite3_step(st) == SQLITE_ROW) ages += sqlite3_column_int(st, 2);
      sqlite3_reset(st);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    state.PauseTiming();
    sqlite3_finalize(st);
    sqlite3_close(db);
    state.ResumeTiming();
  }
  benchmark::DoNotOptimize(ages);
}
void SqliteDocsFind(benchmark::State& state) {
  sqlite3* db = SqliteOpen(SqliteDocsFile(), kDocsSchema);
  sqlite3_stmt* st = nullptr;
  // No index on city: like FindIds, every document is looked at.
  sqlite3_prepare_v2(db, "SELECT id FROM docs WHERE city=?", -1, &st, nullptr);
  const std::string& city = SqlDocs().cities[7];
  size_t matches = 0;
  for (auto _ : state) {
    std::vector<std::string> ids;
    Bind(st, 1, city);
    while (sqlite3_step(st) == SQLITE_ROW) {
      ids.emplace_back(
          reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    }
    sqlite3_reset(st);
    matches = ids.size();
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  if (matches != kDocs / kCities) state.SkipWithError("wrong match count");
}
#endif

const quorvel::bench::Registration kRegistered([] {
  using quorvel::bench::Compare;
  using quorvel::bench::Single;
  using quorvel::bench::Skip;
  // One pass over the whole set per run. Warm-up runs (which keep the heap's
  // pages for the timed ones) go only where the heap matters to the figure:
  // the put floor, the reads and the open; elsewhere a run is dominated by
  // file system calls and a warm-up would only lengthen the program.
  quorvel::bench::Options warm;
  warm.min_time = 1e-6;
  quorvel::bench::Options cold = warm;
  cold.warm_up = false;
  // Names must differ per peer: the report has one row per name.
  auto name = [](const char* what, const char* peer) {
    return std::string(what) + " (" + peer + ")";
  };
  const char* put = "kvdb/put 100k";
  const char* cached = "kvdb/get 100k random, cached";
  const char* reopened = "kvdb/get 100k random, after reopen";
  Compare(name(put, "floor"), OursPut, FloorPut, "lock+2 pwrite+unlock", warm);
#ifdef QUORVEL_HAVE_SQLITE
  Compare(name(put, "SQLite"), OursPut, SqlitePut, "SQLite autocommit", cold);
#else
  Skip(name(put, "SQLite"), "SQLite", "libsqlite3-dev missing");
#endif
#ifdef QUORVEL_HAVE_LMDB
  Compare(name(put, "LMDB"), OursPut, LmdbPut, "LMDB txn per put", cold);
#else
  Skip(name(put, "LMDB"), "LMDB", "liblmdb-dev missing");
#endif
#ifdef QUORVEL_HAVE_LEVELDB
  Compare(name(put, "LevelDB"), OursPut, LevelPut, "LevelDB", cold);
  Compare("kvdb/put 100k, one batch (LevelDB)", OursPutBatch, LevelPut,
          "LevelDB", cold);
#else
  Skip(name(put, "LevelDB"), "LevelDB", "libleveldb-dev missing");
#endif
#ifdef QUORVEL_HAVE_SQLITE
  Compare(name(cached, "SQLite"), OursGetCached, SqliteGetCached, "SQLite",
          warm);
  Compare(name(reopened, "SQLite"), OursGetReopened, SqliteGetReopened,
          "SQLite", cold);
#endif
#ifdef QUORVEL_HAVE_LMDB
  Compare(name(cached, "LMDB"), OursGetCached, LmdbGetCached, "LMDB", warm);
  Compare(name(reopened, "LMDB"), OursGetReopened, LmdbGetReopened, "LMDB",
          cold);
#endif
#ifdef QUORVEL_HAVE_LEVELDB
  Compare(name(cached, "LevelDB"), OursGetCached, LevelGetCached, "LevelDB",
          warm);
  Compare(name(reopened, "LevelDB"), OursGetReopened, LevelGetReopened,
          "LevelDB", cold);
#endif
  Compare("kvdb/open 1M records", OursOpenBig, FloorOpenBig,
          "read+unordered_map", warm);
  Compare("kvdb/compact 144 MB, half live", OursCompact, FloorCompact,
          "pread 64K+pwrite 1M+fdatasync", cold);

#ifdef QUORVEL_HAVE_SQLITE
  Compare("docsdb/save 100k docs", OursDocsSave, SqliteDocsSave,
          "SQLite columns", cold);
  Compare("docsdb/save 100k docs, one batch", OursDocsSaveBatch,
          SqliteDocsSaveTxn, "SQLite, one transaction", cold);
  Compare("docsdb/get 100k random, after reopen", OursDocsGet, SqliteDocsGet,
          "SQLite columns", cold);
  Compare("docsdb/find city, 100k docs (SQLite)", OursDocsFind, SqliteDocsFind,
          "SQLite, no index", cold);
#else
  Single("docsdb/save 100k docs", OursDocsSave, cold);
  Single("docsdb/get 100k random, after reopen", OursDocsGet, cold);
#endif
  Compare("docsdb/find city, 100k docs (KxDocStore)", OursDocsFind, MemoryFind,
          "KxDocStore in memory", cold);
});

}  // namespace

int main(int argc, char** argv) {
  // Three rounds unless QUORVEL_BENCH_ROUNDS or --rounds says otherwise:
  // every run here is a whole pass of 100,000 operations or more against
  // the file system, and seven rounds would take many minutes.
  setenv("QUORVEL_BENCH_ROUNDS", "3", /*overwrite=*/0);
  return quorvel::bench::Main(argc, argv);
}
