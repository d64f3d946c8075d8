// `quorvel kv FILE ACTION`: a key-value database file from the shell.
//
//   get KEY          print the value (exit 1 when the key is absent)
//   put KEY VALUE    set a value
//   delete KEY       delete a key (absent keys are fine)
//   list             print the live keys, one a line, in index order
//   compact          rewrite the file with only the live pairs
//   dump             print both header copies and every record, raw
//
// Keys and values are taken and printed as UTF-8; the file stores them in
// Windows-1252, so characters outside it come back as '?'.
#include <cstdio>
#include <string>
#include <string_view>

#include "cli.h"
#include "quorvel/kxkvdb.h"
#include "store_dump.h"
#include "stores/kvdb_format.h"

namespace quorvel::cli {

namespace {

constexpr const char* kUsage =
    "usage: quorvel kv FILE get KEY | put KEY VALUE | delete KEY | list | "
    "compact | dump\n";

int Dump(std::string_view path) {
  return DumpStore(
      path, internal::KvFileLayout(), {},
      [](const internal::RecordInfo& rec, internal::ScanWindow& window) {
        auto text = [&](int64_t at, int64_t size) {
          const uint8_t* p = window.View(at, static_cast<size_t>(size));
          return p == nullptr ? std::string("?")
                              : QuoteAnsi({reinterpret_cast<const char*>(p),
                                           static_cast<size_t>(size)});
        };
        return "key " + text(rec.key_at, rec.key_size) + " value " +
               text(rec.body_at, rec.body_size);
      });
}

}  // namespace

int RunKv(std::span<char*> args) {
  if (args.size() < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::u16string path = FromUtf8(args[0]);
  const std::string_view action = args[1];
  const size_t extra = args.size() - 2;
  auto arg = [&](size_t i) { return String(FromUtf8(args[2 + i])); };

  if (action == "dump" && extra == 0) return Dump(args[0]);

  Ref<KxKVDB> db = KxKVDB::Create();
  if (action == "get" && extra == 1) {
    db->OpenDB(path);
    String key = arg(0);
    if (!db->HasKey(key)) return 1;
    PrintLine(db->Item(key));
    return 0;
  }
  if (action == "put" && extra == 2) {
    db->OpenDB(path);
    db->PutValue(arg(0), arg(1));
    db->CloseDB();
    return 0;
  }
  if (action == "delete" && extra == 1) {
    db->OpenDB(path);
    db->DeleteKey(arg(0));
    db->CloseDB();
    return 0;
  }
  if (action == "list" && extra == 0) {
    db->OpenDB(path);
    Value keys = db->Keys();
    for (int32_t i = LBound(keys); i <= UBound(keys); ++i)
      PrintLine(ArrayItem(keys, i).string_view());
    return 0;
  }
  if (action == "compact" && extra == 0) {
    db->OpenDB(path);
    db->Compact(true);
    return 0;
  }
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace quorvel::cli
