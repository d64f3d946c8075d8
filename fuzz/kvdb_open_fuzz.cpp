// Opens arbitrary bytes as a key-value database file and reads everything
// the scan found. Opening may only fail with the invalid-file error; once
// open, every indexed key must read without error; a damaged file must
// refuse a write until a compaction discards what cannot be read; then a
// write must succeed, and a compacted copy must hold the same pairs in the
// same order.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "quorvel/error.h"
#include "quorvel/kxkvdb.h"
#include "quorvel/safearray.h"
#include "quorvel/value.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// One scratch file per process, removed (with its ".tmp") at exit.
struct Scratch {
  Scratch() {
    char templ[] = "/tmp/kvdb_fuzzXXXXXX";
    int fd = mkstemp(templ);
    Check(fd >= 0);
    close(fd);
    path = templ;
  }
  ~Scratch() {
    std::remove(path.c_str());
    std::remove((path + ".tmp").c_str());
  }
  std::string path;
};

const std::string& TempPath() {
  static const Scratch scratch;
  return scratch.path;
}

std::vector<std::u16string> Pairs(quorvel::KxKVDB& db) {
  std::vector<std::u16string> out;
  quorvel::Value keys = db.Keys();
  for (int32_t i = quorvel::LBound(keys); i <= quorvel::UBound(keys); ++i) {
    quorvel::String key = quorvel::ArrayItem(keys, i).string();
    out.push_back(key.str());
    out.push_back(db.Item(key).str());
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = TempPath();
  FILE* f = std::fopen(path.c_str(), "wb");
  Check(f != nullptr);
  Check(std::fwrite(data, 1, size, f) == size);
  std::fclose(f);

  quorvel::Ref<quorvel::KxKVDB> db = quorvel::KxKVDB::Create();
  try {
    db->OpenDB(quorvel::FromUtf8(path));
  } catch (const quorvel::Error& e) {
    Check(e.number() == quorvel::kErrGeneralFailure && size > 0);
    Check(!db->IsOpen());
    return 0;
  }
  std::vector<std::u16string> before = Pairs(*db);
  Check(before.size() == 2 * static_cast<size_t>(db->Count()));
  if (db->damage().any()) {
    bool refused = false;
    try {
      db->PutValue(u"\u00e9fuzz", u"value");
    } catch (const quorvel::Error& e) {
      refused = e.number() == quorvel::kErrGeneralFailure;
    }
    Check(refused && Pairs(*db) == before);
    db->CompactTracked(false, nullptr, /*discard_damaged=*/true);
    Check(!db->damage().any() && Pairs(*db) == before);
  }
  db->PutValue(u"\u00e9fuzz", u"value");
  Check(db->Item(u"\u00e9fuzz") == u"value");
  if (!before.empty()) db->DeleteKey(before[0]);
  std::vector<std::u16string> live = Pairs(*db);
  db->Compact();
  Check(Pairs(*db) == live);
  std::remove((path + ".tmp").c_str());
  return 0;
}
