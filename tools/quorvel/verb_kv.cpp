// `quorvel kv FILE ACTION`: a key-value database file from the shell.
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "quorvel/kxkvdb.h"
#include "store_access.h"
#include "store_dump.h"

namespace quorvel::cli {

namespace {

constexpr OptionSpec kOptions[] = {
    {"--discard-damaged", "",
     "compact a damaged file anyway, dropping the records that cannot be "
     "read",
     "compact"}};

constexpr VerbSpec kSpec = {
    "kv",
    "kv FILE get KEY\n"
    "kv FILE put KEY VALUE|-\n"
    "kv FILE delete KEY\n"
    "kv FILE list | compact | dump",
    "A key-value database file (KxKVDB).\n"
    "  get      prints the key's value; a key that is not there is an error\n"
    "  put      sets the value, making FILE a new database if it is missing;\n"
    "           - takes the value from standard input, byte for byte (a\n"
    "           final line end included), which also holds values too long\n"
    "           for a command line; the value '-' itself is given that way:\n"
    "           printf %s - | quorvel kv FILE put KEY -\n"
    "  delete   deletes the key (a key that is not there is fine)\n"
    "  list     prints the keys, one a line, in the order they were added\n"
    "  compact  rewrites the file with the live pairs only, and prints its\n"
    "           size before and after\n"
    "  dump     prints both header copies and every record as they lie\n"
    "Keys and values are UTF-8 here; the file holds Windows-1252, so a\n"
    "character without a byte there is an error naming it, never a '?'.\n"
    "get, list and dump only read: they never create FILE, and a file that\n"
    "may only be read works for them. Every action reads the file's index\n"
    "into memory; values are read as they are printed.\n",
    kOptions,
};

void Dump(std::string_view path, Output& out) {
  DumpStore(path, out, StoreKind::kKeyValue, [](const StoreRecord& rec) {
    return "key " + QuoteAnsi(rec.key) + " value " + QuoteAnsi(rec.body);
  });
}

void Run(const Args& args, std::string_view path, std::string_view action,
         Output& out) {
  const std::vector<std::string_view>& p = args.positional();
  const size_t extra = p.size() - 2;
  const auto text = [&](size_t i, std::u16string_view what) {
    return String(ArgumentText(
        p[2 + i], path, what,
        i == 0 ? StorableTarget::kKvKey : StorableTarget::kKvValue));
  };
  if (action == "dump") {
    ExpectArguments(args, 0);
    Dump(path, out);
    return;
  }
  const Access access = action == "put" ? Access::kCreate
                        : action == "delete" || action == "compact"
                            ? Access::kChange
                            : Access::kRead;
  ExpectArguments(args, action == "put"                         ? 2
                        : action == "get" || action == "delete" ? 1
                                                                : 0);
  // Arguments are checked before the file is touched.
  String key, value;
  if (extra >= 1) key = text(0, u"the key");
  if (extra >= 2) {
    if (p[3] == "-") {
      Input input("-", args.progress(), "kv put");
      value = String(ArgumentText(input.ReadAll(), input.name(), u"the value",
                                  StorableTarget::kKvValue));
    } else {
      value = text(1, u"the value");
    }
  }

  Ref<KxKVDB> db = KxKVDB::Create();
  db->OpenDB(String(FromUtf8(path)), OptionsFor(access));
  WarnDamage(path, db->damage());
  if (action == "get") {
    if (!db->HasKey(key))
      throw Failure(std::string(path),
                    "no key " + Quote(p[2]) + " in the database",
                    kErrElementNotFound);
    out.Line(db->Item(key));
  } else if (action == "put") {
    db->PutValue(key, value);
    db->CloseDB();
  } else if (action == "delete") {
    db->DeleteKey(key);
    db->CloseDB();
  } else if (action == "list") {
    const Value keys = db->Keys();
    for (const Value& k : keys.array().values()) out.Line(k.string());
  } else {
    CompactStore(
        args, path,
        [&](const auto& temp_file) {
          db->CompactTracked(true, temp_file, args.Has("--discard-damaged"));
        },
        out);
  }
}

}  // namespace

int RunKv(std::span<char*> raw) {
  const Args args(kSpec, raw);
  if (args.help()) return kExitOk;
  return RunOnStore(args, "get|put|delete|list|compact|dump",
                    [&](std::string_view path, std::string_view action,
                        Output& out) { Run(args, path, action, out); });
}

}  // namespace quorvel::cli
