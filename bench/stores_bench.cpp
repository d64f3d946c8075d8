// KxKVDB against the embedded stores Debian offers: SQLite, LMDB, LevelDB.
//
// Every side commits each put on its own, with nothing synced to the device,
// which is what a KxKVDB put is (an append plus the header rewrite, under the
// file lock): SQLite in autocommit with synchronous=OFF, LMDB one write
// transaction per put with MDB_NOSYNC, LevelDB plain Puts. "put" fills an
// empty file with kPutKeys keys; "open+get" opens a file of kGetKeys keys and
// reads each once, so the store's scan at open and its cold reads both count.
// Files live in a temporary directory removed on exit.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
#include "quorvel/kxkvdb.h"

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

constexpr int kPutKeys = 20000;
constexpr int kGetKeys = 50000;

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

std::string Key(int i) { return "key" + std::to_string(i); }
std::string Val(int i) { return "value-" + std::to_string(i * 7); }

void Fresh(const fs::path& p) {
  std::error_code ec;
  fs::remove_all(p, ec);
}

// Keys and values made before timing, so no side pays for the text.
struct Texts {
  explicit Texts(int n) {
    for (int i = 0; i < n; ++i) {
      keys.push_back(Key(i));
      values.push_back(Val(i));
      ukeys.emplace_back(quorvel::FromUtf8(keys.back()));
      uvalues.emplace_back(quorvel::FromUtf8(values.back()));
    }
  }
  std::vector<std::string> keys, values;
  std::vector<quorvel::String> ukeys, uvalues;
};
const Texts& PutTexts() {
  static const Texts t(kPutKeys);
  return t;
}
const Texts& GetTexts() {
  static const Texts t(kGetKeys);
  return t;
}

void OursFill(const fs::path& p, const Texts& t) {
  auto db = quorvel::KxKVDB::Create();
  db->OpenDB(quorvel::FromUtf8(p.string()));
  for (size_t i = 0; i < t.keys.size(); ++i)
    db->PutValue(t.ukeys[i], t.uvalues[i]);
}

void OursPut(benchmark::State& state) {
  const Texts& t = PutTexts();
  fs::path p = Dir() / "ours_put.kv";
  for (auto _ : state) {
    state.PauseTiming();
    Fresh(p);
    state.ResumeTiming();
    OursFill(p, t);
  }
}

void OursGet(benchmark::State& state) {
  const Texts& t = GetTexts();
  fs::path p = Dir() / "ours_get.kv";
  if (!fs::exists(p)) OursFill(p, t);
  size_t bytes = 0;
  for (auto _ : state) {
    auto db = quorvel::KxKVDB::Create();
    db->OpenDB(quorvel::FromUtf8(p.string()));
    for (const quorvel::String& k : t.ukeys) bytes += db->Item(k).size();
  }
  benchmark::DoNotOptimize(bytes);
}

#ifdef QUORVEL_HAVE_SQLITE
sqlite3* SqliteOpen(const fs::path& p) {
  sqlite3* db = nullptr;
  if (sqlite3_open(p.c_str(), &db) != SQLITE_OK) std::abort();
  sqlite3_exec(db,
               "PRAGMA synchronous=OFF;"
               "CREATE TABLE IF NOT EXISTS kv(k TEXT PRIMARY KEY, v TEXT);",
               nullptr, nullptr, nullptr);
  return db;
}
void SqliteFill(const fs::path& p, const Texts& t) {
  sqlite3* db = SqliteOpen(p);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO kv VALUES(?,?)", -1, &st,
                     nullptr);
  for (size_t i = 0; i < t.keys.size(); ++i) {
    sqlite3_bind_text(st, 1, t.keys[i].data(), int(t.keys[i].size()),
                      SQLITE_STATIC);
    sqlite3_bind_text(st, 2, t.values[i].data(), int(t.values[i].size()),
                      SQLITE_STATIC);
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
    state.ResumeTiming();
    SqliteFill(p, PutTexts());
  }
}
void SqliteGet(benchmark::State& state) {
  const Texts& t = GetTexts();
  fs::path p = Dir() / "sqlite_get.db";
  if (!fs::exists(p)) SqliteFill(p, t);
  size_t bytes = 0;
  for (auto _ : state) {
    sqlite3* db = SqliteOpen(p);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT v FROM kv WHERE k=?", -1, &st, nullptr);
    for (const std::string& k : t.keys) {
      sqlite3_bind_text(st, 1, k.data(), int(k.size()), SQLITE_STATIC);
      if (sqlite3_step(st) == SQLITE_ROW) bytes += sqlite3_column_bytes(st, 0);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
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
    LmdbFill(p, PutTexts());
  }
}
void LmdbGet(benchmark::State& state) {
  const Texts& t = GetTexts();
  fs::path p = Dir() / "lmdb_get";
  if (!fs::exists(p)) LmdbFill(p, t);
  size_t bytes = 0;
  for (auto _ : state) {
    Lmdb db(p);
    MDB_txn* txn;
    mdb_txn_begin(db.env, nullptr, MDB_RDONLY, &txn);
    for (const std::string& key : t.keys) {
      MDB_val k = Mv(key), v;
      if (mdb_get(txn, db.dbi, &k, &v) == 0) bytes += v.mv_size;
    }
    mdb_txn_abort(txn);
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
    LevelFill(p, PutTexts());
  }
}
void LevelGet(benchmark::State& state) {
  const Texts& t = GetTexts();
  fs::path p = Dir() / "leveldb_get";
  if (!fs::exists(p)) LevelFill(p, t);
  size_t bytes = 0;
  for (auto _ : state) {
    leveldb::DB* db = LevelOpen(p);
    std::string v;
    for (const std::string& k : t.keys) {
      if (db->Get(leveldb::ReadOptions(), k, &v).ok()) bytes += v.size();
    }
    delete db;
  }
  benchmark::DoNotOptimize(bytes);
}
#endif

const quorvel::bench::Registration kRegistered([] {
  using quorvel::bench::Compare;
  using quorvel::bench::Skip;
  quorvel::bench::Options once;
  once.min_time = 1e-6;  // one pass over all keys per run
  // Names must differ per peer: the report has one row per name.
  auto put = [](const char* peer) {
    return "kvdb/put " + std::to_string(kPutKeys) + " keys (" + peer + ")";
  };
  auto get = [](const char* peer) {
    return "kvdb/open+get " + std::to_string(kGetKeys) + " keys (" + peer + ")";
  };
#ifdef QUORVEL_HAVE_SQLITE
  Compare(put("SQLite"), OursPut, SqlitePut, "SQLite", once);
  Compare(get("SQLite"), OursGet, SqliteGet, "SQLite", once);
#else
  Skip(put("SQLite"), "SQLite", "libsqlite3-dev missing");
#endif
#ifdef QUORVEL_HAVE_LMDB
  Compare(put("LMDB"), OursPut, LmdbPut, "LMDB", once);
  Compare(get("LMDB"), OursGet, LmdbGet, "LMDB", once);
#else
  Skip(put("LMDB"), "LMDB", "liblmdb-dev missing");
#endif
#ifdef QUORVEL_HAVE_LEVELDB
  Compare(put("LevelDB"), OursPut, LevelPut, "LevelDB", once);
  Compare(get("LevelDB"), OursGet, LevelGet, "LevelDB", once);
#else
  Skip(put("LevelDB"), "LevelDB", "libleveldb-dev missing");
#endif
});

}  // namespace

QUORVEL_BENCH_MAIN()
