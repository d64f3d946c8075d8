// Opens arbitrary bytes as a document database file, reads every document
// it indexes, then saves one more and checks that the file opens with it.
// Reading may fail with the errors of a damaged file; nothing may crash,
// hang or leak. The file lives in memory, so runs are fast and leave
// nothing behind.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "quorvel/error.h"
#include "quorvel/kxdocsdb.h"
#include "quorvel/safearray.h"
#include "testing/memory_file_system.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool HasKey(quorvel::KxDocsDB& db, std::u16string_view id) {
  quorvel::Value keys = db.Keys();
  for (const quorvel::Value& k : keys.array().values())
    if (k.string_view() == id) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quorvel::internal::MemoryFileSystem fs;
  fs.Put(u"f", std::span<const uint8_t>(data, size));
  auto db = quorvel::KxDocsDB::Create(fs);
  try {
    db->OpenDB(u"f");
  } catch (const quorvel::Error& e) {
    Check(e.number() == quorvel::kErrGeneralFailure);
    return 0;
  }
  quorvel::Value keys = db->Keys();
  for (const quorvel::Value& id : keys.array().values()) {
    try {
      db->GetDoc(id.string());
    } catch (const quorvel::Error&) {
      // A damaged body may fail to decode; the walk goes on.
    }
  }
  // Whatever the walk accepted, a new document is linked so that the next
  // open finds it.
  try {
    auto rec = db->AddDoc(u"fuzz-new");
    rec->fields().LetItem(quorvel::String(u"n"), quorvel::Value(1));
    db->SaveDoc(*rec);
  } catch (const quorvel::Error& e) {
    // Only a stored identifier of that name may stop the save.
    Check(e.number() == quorvel::kErrGeneralFailure);
    return 0;
  }
  db->OpenDB(u"f");
  Check(HasKey(*db, u"FUZZ-NEW"));
  return 0;
}
