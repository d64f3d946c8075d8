// Any bytes as a document file: damaged-file errors only, and a document
// saved afterwards is there on reopening.
#include "fuzz_util.h"
#include "quorvel/kxdocsdb.h"
#include "quorvel/safearray.h"
#include "testing/memory_file_system.h"

using namespace quorvel;
using namespace quorvel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  internal::MemoryFileSystem fs;
  fs.Put(u"f", std::span<const uint8_t>(data, size));
  auto db = KxDocsDB::Create(fs);
  if (ErrorOf([&] { db->OpenDB(u"f"); }, {kErrGeneralFailure}) != 0) return 0;
  const Value keys = db->Keys();
  // A damaged body may fail to decode; the walk goes on.
  for (const Value& id : keys.array().values())
    ErrorOf([&] { db->GetDoc(id.string()); });
  // Only a stored identifier of that name may stop the save.
  if (ErrorOf(
          [&] {
            auto rec = db->AddDoc(u"fuzz-new");
            rec->fields().LetItem(String(u"n"), Value(1));
            db->SaveDoc(*rec);
          },
          {kErrGeneralFailure}) != 0)
    return 0;
  db->OpenDB(u"f");
  bool found = false;
  const Value after = db->Keys();
  for (const Value& k : after.array().values())
    found |= k.string_view() == u"FUZZ-NEW";
  Check(found);
  return 0;
}
