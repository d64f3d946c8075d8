// `quorvel docs FILE ACTION`: a document database file from the shell, with
// documents in and out as JSON.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "quorvel/compare.h"
#include "quorvel/kxdocsdb.h"
#include "quorvel/msgpack.h"
#include "quorvel/store_scan.h"
#include "store_access.h"
#include "store_dump.h"

namespace quorvel::cli {
namespace {

constexpr OptionSpec kOptions[] = {
    IndentOption("get|export"),
    AsciiOption("get|export"),
    {"--discard-damaged", "",
     "compact a damaged file anyway, dropping the records that cannot be "
     "read",
     "compact"}};

constexpr VerbSpec kSpec = {
    "docs",
    "docs FILE add [ID] JSON-OBJECT\n"
    "docs FILE get ID\n"
    "docs FILE set ID FIELD JSON-VALUE\n"
    "docs FILE find FIELD JSON-VALUE\n"
    "docs FILE delete ID\n"
    "docs FILE list | export | compact | dump",
    "A document database file (KxDocsDB), with documents as JSON.\n"
    "  add      stores a new document (with a new id unless one is given),\n"
    "           making FILE a new database if it is missing; prints the id\n"
    "  get      prints a document as a JSON object\n"
    "  set      sets one field of a document\n"
    "  find     prints the ids of the documents whose field equals the value\n"
    "           (an array or object: the same members, in any order, and\n"
    "           the same elements, in order)\n"
    "  delete   deletes a document\n"
    "  list     prints the ids, one a line\n"
    "  export   prints every document as one JSON object keyed by id\n"
    "  compact  rewrites the file with the live documents only, and prints\n"
    "           its size before and after\n"
    "  dump     prints both header copies and every record as they lie\n"
    "JSON is read strictly, as json check reads it. The file holds text in\n"
    "Windows-1252 and numbers as Currency (4 decimal places) or Double: a\n"
    "character or a number it cannot hold exactly is an error naming it,\n"
    "never a '?' or a rounding. An id is looked up as typed and then in the\n"
    "form add gives it, trimmed and in capitals (\"doc000007\" finds\n"
    "\"DOC000007\").\n"
    "get, find, list, export and dump only read: they never create FILE,\n"
    "and a file that may only be read works for them. Every action reads\n"
    "the file's index into memory; export holds one document at a time.\n",
    kOptions,
};

// A stored number reads back in the codec's wide kinds, and a search
// matches kinds exactly, so a number typed in takes the kind it would be
// stored as.
Value AsStored(Value v) {
  if (v.kind() == Kind::Decimal) return Value::Currency(ToCurrency(v));
  if (v.kind() == Kind::Integer) return Value(ToLong(v));
  if (v.kind() == Kind::Single) return Value(ToDouble(v));
  return v;
}

// Whether a stored value equals one typed in: objects by their names and
// values, in any order; arrays element by element; scalars as FindIds
// compares them (the same kind and value; Null equals only Null), a typed
// number taking the kind it would be stored as. FindIds finds no container
// at all, since it compares objects by identity.
bool SameDocValue(const Value& stored, const Value& typed) {
  if (const auto* t = typed.object_as<Dictionary>()) {
    const auto* s = stored.object_as<Dictionary>();
    if (s == nullptr || s->Count() != t->Count()) return false;
    for (const Dictionary::Entry& e : *t) {
      const Value* v = s->Find(e.key.view());
      if (v == nullptr || !SameDocValue(*v, e.value)) return false;
    }
    return true;
  }
  if (const auto* t = typed.object_as<CArray>()) {
    const auto* s = stored.object_as<CArray>();
    if (s == nullptr || s->Count() != t->Count()) return false;
    for (int32_t i = 0; i < t->Count(); ++i)
      if (!SameDocValue(s->Item(i), t->Item(i))) return false;
    return true;
  }
  const Value v = AsStored(typed);
  if (stored.IsNull() || v.IsNull()) return stored.IsNull() && v.IsNull();
  if (stored.IsObject() || VarType(stored) != VarType(v)) return false;
  return Compare(stored, v) == Comparison::Equal;
}

// Each record with its link, field count, identifier and body as JSON (or
// why the body does not decode).
void Dump(std::string_view path, Output& output) {
  DumpStore(path, output, StoreKind::kDocuments, [](const StoreRecord& rec) {
    std::string out = "next " + (rec.next < 0 ? std::string("none")
                                              : "@" + std::to_string(rec.next));
    out += " fields " + std::to_string(rec.field_count);
    out += " id " + QuoteAnsi(rec.key);
    try {
      Value doc = mMsgPack::DecodeBytes(rec.body);
      out += " body " + JSON::WriteStandard(doc);
    } catch (const Error& e) {
      out += " body of " + std::to_string(rec.body.size()) +
             " bytes that does not decode: " + e.what();
    }
    return out;
  });
}

class DocsAction {
 public:
  DocsAction(const Args& args, Output& out)
      : args_(args),
        p_(args.positional()),
        path_(p_[0]),
        action_(p_[1]),
        out_(out) {}

  void Run() {
    if (action_ == "dump") {
      Wants(0);
      Dump(path_, out_);
    } else if (action_ == "add") {
      if (p_.size() != 3 && p_.size() != 4)
        args_.Fail("add takes [ID] JSON-OBJECT");
      const bool with_id = p_.size() == 4;
      const String id = with_id ? Text(2, "the id") : String();
      const Value doc = Json(p_.size() - 1, "the document");
      const auto* fields = doc.object_as<Dictionary>();
      if (fields == nullptr) {
        throw Failure(Where("the document"), "a document is a JSON object",
                      kErrTypeMismatch);
      }
      // Encoded once before anything is reserved: a document that cannot be
      // stored must not burn a generated id or touch the file.
      Ref<KxDocRec> rec = KxDocRec::Create();
      for (const Dictionary::Entry& e : *fields)
        rec->fields().LetItem(e.key, AsStored(e.value));
      mMsgPack::EncodeBytes(Value(rec));
      Open(Access::kCreate);
      Ref<KxDocRec> stored = db_->AddDoc(id);
      for (const Dictionary::Entry& e : rec->fields())
        stored->fields().LetItem(e.key, e.value);
      stored->Save();
      out_.Line(stored->DocID());
    } else if (action_ == "get") {
      Wants(1);
      const String id = Text(2, "the id");
      Open(Access::kRead);
      JsonWriter writer(out_, StyleFrom(args_));
      writer.Tree(Value(Find(id)));
      writer.EndText();
    } else if (action_ == "set") {
      Wants(3);
      const String id = Text(2, "the id");
      const String field = Text(3, "the field");
      const Value value = AsStored(Json(4, "the value"));
      Open(Access::kChange);
      // Read, changed and saved under one lock, so that sets of other
      // fields by other processes stay and a deleted document stays gone.
      if (!db_->UpdateDoc(StoredId(id), [&](KxDocRec& rec) {
            rec.fields().LetItem(field, value);
          })) {
        NoDocument(id);
      }
    } else if (action_ == "find") {
      Wants(2);
      const String field = Text(2, "the field");
      const Value value = AsStored(Json(3, "the value"));
      Open(Access::kRead);
      if (value.IsObject()) {
        FindByStructure(field, value);
      } else {
        const Value ids = db_->FindIds(field, value);
        for (const Value& id : ids.array().values()) out_.Line(id.string());
      }
    } else if (action_ == "delete") {
      Wants(1);
      const String id = Text(2, "the id");
      Open(Access::kChange);
      // Not read first: a document that does not decode can still go.
      db_->Delete(StoredId(id));
    } else if (action_ == "list") {
      Wants(0);
      Open(Access::kRead);
      const Value ids = db_->Keys();
      for (const Value& id : ids.array().values()) out_.Line(id.string());
    } else if (action_ == "export") {
      Wants(0);
      Open(Access::kRead);
      Export();
    } else {
      Wants(0);
      Open(Access::kChange);
      CompactStore(
          args_, path_,
          [&](const auto& temp_file) {
            db_->CompactTracked(true, temp_file,
                                args_.Has("--discard-damaged"));
          },
          out_);
    }
  }

 private:
  std::string Where(const char* what) const {
    return std::string(path_) + ": " + what;
  }

  void Wants(size_t n) const { ExpectArguments(args_, n); }

  String Text(size_t i, const char* what) const {
    return String(
        ArgumentText(p_[i], path_, FromUtf8(what), StorableTarget::kText));
  }

  Value Json(size_t i, const char* what) const {
    return ReadPortableJson(
        ArgumentText(p_[i], path_, FromUtf8(what), std::nullopt), Where(what));
  }

  void Open(Access access) {
    db_ = KxDocsDB::Create();
    db_->OpenDB(String(FromUtf8(path_)), OptionsFor(access));
    WarnDamage(path_, db_->damage());
  }

  // Finds a document by its id as typed, or else in its normalised form,
  // which is how `add` stores it.
  Ref<KxDocRec> Find(const String& id) {
    Ref<KxDocRec> rec = db_->GetDoc(StoredId(id));
    if (!rec) NoDocument(id);
    return rec;
  }

  // The id as typed when the database holds it so, else its normalised
  // form; raises the tool's "no document" failure when neither is held.
  String StoredId(const String& id) {
    if (db_->HasDoc(id.view())) return id;
    String normal = NormalizeDocId(id);
    if (!db_->HasDoc(normal.view())) NoDocument(id);
    return normal;
  }

  [[noreturn]] void NoDocument(const String& id) const {
    throw Failure(std::string(path_),
                  "no document " + Quote(id.view()) + " in the database",
                  kErrElementNotFound);
  }

  // Prints the ids of the documents whose field equals the array or object
  // `value`, as SameDocValue compares them, one document at a time.
  void FindByStructure(const String& field, const Value& value) {
    const Value ids = db_->Keys();
    for (const Value& id : ids.array().values()) {
      Ref<KxDocRec> rec = db_->GetDoc(id.string());
      if (!rec) continue;
      const Value* stored = rec->fields().Find(field.view());
      if (stored != nullptr && SameDocValue(*stored, value))
        out_.Line(id.string());
    }
  }

  // One document at a time, so that the export of a large file is not held
  // whole; the progress counts what has been written.
  void Export() {
    Progress progress(args_.progress(), "docs export", std::nullopt);
    JsonWriter writer(out_, StyleFrom(args_));
    JSON::StandardWriter& json = writer.events();
    json.BeginObject();
    const Value ids = db_->Keys();
    // A document that does not decode is left out, so that the output is
    // still whole JSON of every other one; the first is then the failure.
    std::optional<Error> unreadable;
    int left_out = 0;
    for (const Value& id : ids.array().values()) {
      Ref<KxDocRec> rec;
      try {
        rec = db_->GetDoc(id.string());
      } catch (const Error& e) {
        if (left_out++ == 0) unreadable = e;
        continue;
      }
      if (!rec) continue;
      json.Key(id.string());
      const uint64_t before = json.written();
      json.Write(Value(rec));
      progress.Advance(json.written() - before);
    }
    json.EndObject();
    writer.EndText();
    if (unreadable) {
      throw Failure(std::string(path_),
                    ToUtf8(unreadable->description()) + " (" +
                        std::to_string(left_out) +
                        " document(s) left out of the export)",
                    unreadable->number());
    }
  }

  const Args& args_;
  const std::vector<std::string_view>& p_;
  std::string_view path_;
  std::string_view action_;
  Output& out_;
  Ref<KxDocsDB> db_;
};

}  // namespace

int RunDocs(std::span<char*> raw) {
  const Args args(kSpec, raw);
  if (args.help()) return kExitOk;
  return RunOnStore(args, "add|get|set|find|delete|list|export|compact|dump",
                    [&](std::string_view, std::string_view, Output& out) {
                      DocsAction(args, out).Run();
                    });
}

}  // namespace quorvel::cli
