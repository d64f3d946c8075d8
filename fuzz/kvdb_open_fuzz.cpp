// Any bytes as a key-value file: every key reads, damage blocks writes
// until discarded, and compaction keeps the pairs in order.
#include "fuzz_util.h"
#include "quorvel/kxkvdb.h"
#include "quorvel/safearray.h"
#include "quorvel/value.h"
#include "testing/memory_file_system.h"

using namespace quorvel;
using namespace quorvel::fuzz;

namespace {

std::vector<std::u16string> Pairs(KxKVDB& db) {
  std::vector<std::u16string> out;
  const Value keys = db.Keys();
  for (int32_t i = LBound(keys); i <= UBound(keys); ++i) {
    const String key = ArrayItem(keys, i).string();
    out.push_back(key.str());
    out.push_back(db.Item(key).str());
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  internal::MemoryFileSystem fs;
  fs.Put(u"f", std::span<const uint8_t>(data, size));
  Ref<KxKVDB> db = KxKVDB::Create(fs);
  if (ErrorOf([&] { db->OpenDB(u"f"); }, {kErrGeneralFailure}) != 0) {
    Check(size > 0 && !db->IsOpen());
    return 0;
  }
  const std::vector<std::u16string> before = Pairs(*db);
  Check(before.size() == 2 * static_cast<size_t>(db->Count()));
  if (db->damage().any()) {
    Check(ErrorOf([&] { db->PutValue(u"\u00e9fuzz", u"value"); }) ==
              kErrGeneralFailure &&
          Pairs(*db) == before);
    db->CompactTracked(false, nullptr, /*discard_damaged=*/true);
    Check(!db->damage().any() && Pairs(*db) == before);
  }
  db->PutValue(u"\u00e9fuzz", u"value");
  Check(db->Item(u"\u00e9fuzz") == u"value");
  if (!before.empty()) db->DeleteKey(before[0]);
  const std::vector<std::u16string> live = Pairs(*db);
  db->Compact();
  Check(Pairs(*db) == live);
  return 0;
}
