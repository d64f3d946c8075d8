// `quorvel docs FILE ...`: a document database file from the shell, with
// documents in and out as JSON.
#include <cstdio>
#include <string>
#include <string_view>

#include "cli.h"
#include "quorvel/json.h"
#include "quorvel/kxdocsdb.h"
#include "quorvel/msgpack.h"
#include "store_dump.h"
#include "stores/docsdb_format.h"

namespace quorvel::cli {
namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: quorvel docs FILE add [ID] JSON-OBJECT   store a new "
               "document, print its id\n"
               "       quorvel docs FILE get ID                 print a "
               "document as JSON\n"
               "       quorvel docs FILE set ID FIELD JSON-VALUE\n"
               "       quorvel docs FILE find FIELD JSON-VALUE  print the ids "
               "whose field equals the value\n"
               "       quorvel docs FILE delete ID\n"
               "       quorvel docs FILE list | compact | export | dump\n");
  return 2;
}

std::u16string Arg(const char* s) { return FromUtf8(s); }

// Reads one JSON value of any kind: the reader takes only containers, so
// the value goes inside an array first.
bool ParseValue(const char* text, Value* out) {
  Value array = JSON::Parse(u"[" + Arg(text) + u"]");
  if (array.IsNothing() ||
      ToLong(CallByName(array, u"Count", CallType::Get)) != 1) {
    std::fprintf(stderr, "quorvel docs: not one JSON value: %s\n", text);
    return false;
  }
  *out = CallByName(array, u"Item", CallType::Get, {Value(0)});
  // Stored numbers read back in the codec's wide kinds, and a search matches
  // kinds exactly, so a small number typed in must take the same kind.
  // (The JSON reader gives Decimals, which the codec stores as Currency.)
  if (out->kind() == Kind::Decimal) *out = Value::Currency(ToCurrency(*out));
  if (out->kind() == Kind::Integer) *out = Value(ToLong(*out));
  if (out->kind() == Kind::Single) *out = Value(ToDouble(*out));
  return true;
}

// Finds a document by its id as typed, or else in its normalised form,
// which is how `add` stores it.
Ref<KxDocRec> Find(KxDocsDB& db, const char* id) {
  Ref<KxDocRec> rec = db.GetDoc(Arg(id));
  if (!rec) rec = db.GetDoc(internal::NormalizeDocId(Arg(id)));
  if (!rec) std::fprintf(stderr, "quorvel docs: no document %s\n", id);
  return rec;
}

int Add(KxDocsDB& db, std::span<char*> args) {
  if (args.empty() || args.size() > 2) return Usage();
  const char* json = args.back();
  Value fields = JSON::Parse(Arg(json));
  auto* dict = fields.object_as<Dictionary>();
  if (dict == nullptr) {
    std::fprintf(stderr, "quorvel docs: a document is a JSON object\n");
    return 1;
  }
  Ref<KxDocRec> rec =
      db.AddDoc(args.size() == 2 ? String(Arg(args[0])) : String());
  for (const Dictionary::Entry& e : *dict)
    rec->fields().LetItem(e.key, e.value);
  CallByName(Value(rec), u"Save", CallType::Method);
  PrintLine(rec->DocID());
  return 0;
}

// Each record with its link, field count, identifier and body as JSON (or
// why the body does not decode).
int Dump(std::string_view path) {
  using internal::DocRecordFormat;
  return DumpStore(
      path, internal::DocsFileLayout(), {{"next id", internal::kDocsNextIdAt}},
      [](const internal::RecordInfo& rec, internal::ScanWindow& window) {
        std::string out;
        uint8_t head[DocRecordFormat::kHeaderSize];
        if (window.Copy(rec.offset, head)) {
          const int32_t link = internal::Get32(head + 6);
          out += "next " + (link == 0 ? std::string("none")
                                      : "@" + std::to_string(link - 1));
          out += " fields " + std::to_string(internal::Get32(
                                  head + DocRecordFormat::kFieldCountAt));
        }
        const uint8_t* id = window.View(rec.key_at, rec.key_size);
        out += " id " + (id == nullptr
                             ? std::string("?")
                             : QuoteAnsi({reinterpret_cast<const char*>(id),
                                          static_cast<size_t>(rec.key_size)}));
        const uint8_t* body =
            window.View(rec.body_at, static_cast<size_t>(rec.body_size));
        if (body == nullptr) return out + " body ?";
        try {
          Value doc =
              mMsgPack::DecodeBytes({body, static_cast<size_t>(rec.body_size)});
          out += " body " + ToUtf8(JSON::WriteJSON(doc));
        } catch (const Error& e) {
          out += " body of " + std::to_string(rec.body_size) +
                 " bytes that does not decode: " + e.what();
        }
        return out;
      });
}

int Export(KxDocsDB& db) {
  Ref<Dictionary> all = Dictionary::Create();
  Value keys = db.Keys();
  for (const Value& id : keys.array().values())
    all->LetItem(id.string(), Value(db.GetDoc(id.string())));
  PrintLine(JSON::WriteJSON(Value(all)));
  return 0;
}

}  // namespace

int RunDocs(std::span<char*> args) {
  if (args.size() < 2) return Usage();
  if (std::string_view(args[1]) == "dump" && args.size() == 2)
    return Dump(args[0]);
  Ref<KxDocsDB> db = KxDocsDB::Create();
  db->OpenDB(Arg(args[0]));
  std::string_view action = args[1];
  std::span<char*> rest = args.subspan(2);
  if (action == "add") return Add(*db, rest);
  if (action == "get" && rest.size() == 1) {
    Ref<KxDocRec> rec = Find(*db, rest[0]);
    if (!rec) return 1;
    PrintLine(JSON::WriteJSON(Value(rec)));
    return 0;
  }
  if (action == "set" && rest.size() == 3) {
    Value v;
    if (!ParseValue(rest[2], &v)) return 1;
    Ref<KxDocRec> rec = Find(*db, rest[0]);
    if (!rec) return 1;
    rec->fields().LetItem(String(Arg(rest[1])), v);
    CallByName(Value(rec), u"Save", CallType::Method);
    return 0;
  }
  if (action == "find" && rest.size() == 2) {
    Value v;
    if (!ParseValue(rest[1], &v)) return 1;
    Value ids = db->FindIds(String(Arg(rest[0])), v);
    for (const Value& id : ids.array().values()) PrintLine(id.string_view());
    return 0;
  }
  if (action == "delete" && rest.size() == 1) {
    Ref<KxDocRec> rec = Find(*db, rest[0]);
    if (!rec) return 1;
    db->Delete(rec->DocID());
    return 0;
  }
  if (action == "list" && rest.empty()) {
    Value keys = db->Keys();
    for (const Value& id : keys.array().values()) PrintLine(id.string_view());
    return 0;
  }
  if (action == "compact" && rest.empty()) {
    db->Compact(true);
    return 0;
  }
  if (action == "export" && rest.empty()) return Export(*db);
  return Usage();
}

}  // namespace quorvel::cli
