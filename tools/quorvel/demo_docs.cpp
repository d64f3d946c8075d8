// The document database scene of `quorvel demo`, by late binding only.
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "cli.h"
#include "quorvel/json.h"

namespace quorvel::cli {
namespace {

std::u16string Listed(const Value& array) {
  std::u16string out;
  for (int32_t i = LBound(array); i <= UBound(array); ++i) {
    if (!out.empty()) out += u", ";
    out += ToText(ArrayItem(array, i)).view();
  }
  return out.empty() ? u"(none)" : out;
}

void Scene(const std::u16string& path) {
  Value db = CreateObject(u"KxDocsDB");
  auto call = [&](std::u16string_view name, std::initializer_list<Value> a) {
    return CallByName(db, name, CallType::Method, a);
  };
  call(u"OpenDB", {Value(path)});

  Value ada = call(u"AddDoc", {});
  CallByName(ada, u"Item", CallType::Let, {Value(u"name"), Value(u"Ada")});
  CallByName(ada, u"Item", CallType::Let, {Value(u"born"), Value(1815)});
  CallByName(ada, u"Save", CallType::Method);
  Value alan = call(u"AddDoc", {Value(u" turing ")});
  CallByName(alan, u"Item", CallType::Let, {Value(u"name"), Value(u"Alan")});
  CallByName(alan, u"Item", CallType::Let, {Value(u"born"), Value(1912)});
  CallByName(alan, u"Save", CallType::Method);
  Value grace = call(u"AddDoc", {});
  CallByName(grace, u"Item", CallType::Let, {Value(u"name"), Value(u"Grace")});
  CallByName(grace, u"Item", CallType::Let, {Value(u"born"), Value(1906)});
  CallByName(grace, u"Save", CallType::Method);
  PrintLine(u"  saved ids                       " +
            ToText(CallByName(ada, u"DocID", CallType::Get)).str() + u", " +
            ToText(CallByName(alan, u"DocID", CallType::Get)).str() + u", " +
            ToText(CallByName(grace, u"DocID", CallType::Get)).str());

  call(u"CloseDB", {});
  call(u"OpenDB", {Value(path)});
  Value back = call(u"GetDoc", {Value(u"TURING")});
  PrintLine(u"  reopened, GetDoc(\"TURING\")      " +
            JSON::WriteJSON(back).str());
  PrintLine(
      u"  GetField(\"turing\", \"born\")      " +
      ToText(call(u"GetField", {Value(u"turing"), Value(u"born")})).str());
  PrintLine(u"  FindIds(\"born\", 1906)           " +
            Listed(call(u"FindIds", {Value(u"born"), Value(1906)})));
  PrintLine(u"  FindIds(\"born\", \"1906\")         " +
            Listed(call(u"FindIds", {Value(u"born"), Value(u"1906")})));

  call(u"Delete", {Value(u"DOC000001")});
  auto size = [&] {
    return std::to_string(std::filesystem::file_size(ToUtf8(path)));
  };
  std::string before = size();
  call(u"Compact", {});
  PrintLine(FromUtf8("  deleted DOC000001, compacted    " + before + " -> " +
                     size() + " bytes"));
  PrintLine(u"  Keys                            " +
            Listed(CallByName(db, u"Keys", CallType::Get)));
  PrintLine(
      u"  next generated id               " +
      ToText(CallByName(call(u"AddDoc", {}), u"DocID", CallType::Get)).str());
  call(u"CloseDB", {});
}

}  // namespace

void DemoDocs() {
  PrintLine();
  PrintLine(u"KxDocsDB, a document database in one file");
  std::string dir =
      (std::filesystem::temp_directory_path() / "quorvel-demoXXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) {
    PrintLine(u"  (no temporary folder available)");
    return;
  }
  try {
    Scene(FromUtf8(dir + "/people.kdb"));
  } catch (const Error& e) {
    ReportError(e);
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

}  // namespace quorvel::cli
