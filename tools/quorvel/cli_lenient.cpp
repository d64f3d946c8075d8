// The lenient reader with a warning: where its reading of a text differs
// from a strict one, standard error says so at the first such place.
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "quorvel/compare.h"
#include "quorvel/json.h"
#include "quorvel/json_strict.h"

namespace quorvel::cli {

namespace {

// One step down a tree of values: a member by name or an element by
// number.
struct Step {
  String name;
  int64_t index = -1;  // -1 for a member
};

// How a value shows in a warning.
std::string Shown(const Value& v) {
  if (v.IsEmpty()) return "nothing";
  if (v.IsNull()) return "null";
  if (v.kind() == Kind::Boolean) return v.boolean() ? "true" : "false";
  if (v.kind() == Kind::String) return "the string " + Quote(v.string_view());
  if (v.object_as<Dictionary>() != nullptr) return "an object";
  if (v.object_as<CArray>() != nullptr) return "an array";
  return "the number " + ToUtf8(ToText(v).view());
}

bool SameScalar(const Value& a, const Value& b) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() && b.IsNull();
  if (a.kind() == Kind::String || b.kind() == Kind::String) {
    return a.kind() == b.kind() && a.string_view() == b.string_view();
  }
  return VarType(a) == VarType(b) && Compare(a, b) == Comparison::Equal;
}

// Finds the first place, in the order of the text, where the lenient tree
// differs from the strict one: fills `path` with the way to it (the strict
// tree's) and `what` with the difference. Returns false when they agree.
bool FirstDifference(const Value& lenient, const Value& strict,
                     std::vector<Step>& path, std::string& what) {
  const auto* ld = lenient.object_as<Dictionary>();
  const auto* sd = strict.object_as<Dictionary>();
  if (ld != nullptr && sd != nullptr) {
    auto l = ld->begin();
    for (auto s = sd->begin(); s != sd->end(); ++s, ++l) {
      path.push_back({s->key});
      if (l == ld->end()) {
        what = "the lenient reading ends the object before this member";
        return true;
      }
      if (l->key.view() != s->key.view()) {
        what = "the lenient reading names this member " + Quote(l->key.view());
        return true;
      }
      if (FirstDifference(l->value, s->value, path, what)) return true;
      path.pop_back();
    }
    if (l != ld->end()) {
      what = "the lenient reading adds the member " + Quote(l->key.view()) +
             " to this object";
      return true;
    }
    return false;
  }
  const auto* ll = lenient.object_as<CArray>();
  const auto* sl = strict.object_as<CArray>();
  if (ll != nullptr && sl != nullptr) {
    for (int32_t i = 0; i < sl->Count(); ++i) {
      path.push_back({String(), i});
      if (i >= ll->Count()) {
        what = "the lenient reading ends the array before this value";
        return true;
      }
      if (FirstDifference(ll->Item(i), sl->Item(i), path, what)) return true;
      path.pop_back();
    }
    if (ll->Count() > sl->Count()) {
      what = "the lenient reading adds " + Shown(ll->Item(sl->Count())) +
             " to this array";
      return true;
    }
    return false;
  }
  const bool containers = ld || sd || ll || sl;
  if (!containers && SameScalar(lenient, strict)) return false;
  what = "the lenient reading gives " + Shown(lenient) +
         " where a strict one gives " + Shown(strict);
  return true;
}

// Follows a strict read to the value at `target`, remembering where it
// begins (its name, for a member); the last one read wins, as the last of
// a repeated name does in the tree.
class PlaceFinder : public JSON::StrictHandler {
 public:
  PlaceFinder(const JSON::StrictReader& reader, const std::vector<Step>& target)
      : reader_(reader), target_(target) {}

  void BeginObject() override { Open(false); }
  void Key(std::u16string_view name) override {
    open_.back().name = String(name);
    Check();
  }
  void EndObject() override { open_.pop_back(); }
  void BeginArray() override { Open(true); }
  void EndArray() override { open_.pop_back(); }
  void Text(std::u16string_view) override { Begin(); }
  void Scalar(const Value&) override { Begin(); }

  int64_t line() const { return line_; }
  int64_t column() const { return column_; }

 private:
  struct Container {
    bool array;
    int64_t index = -1;  // of the element being read
    String name;         // of the member being read
  };

  // A value begins; a member was checked at its name.
  void Begin() {
    if (open_.empty() || open_.back().array) {
      if (!open_.empty()) ++open_.back().index;
      Check();
    }
  }
  void Open(bool array) {
    Begin();
    open_.push_back({array});
  }
  void Check() {
    if (open_.size() != target_.size()) return;
    for (size_t k = 0; k < open_.size(); ++k) {
      const Container& at = open_[k];
      const Step& want = target_[k];
      if (at.array ? at.index != want.index
                   : want.index >= 0 || at.name.view() != want.name.view())
        return;
    }
    line_ = reader_.token_line();
    column_ = reader_.token_column();
  }

  const JSON::StrictReader& reader_;
  const std::vector<Step>& target_;
  std::vector<Container> open_;
  int64_t line_ = 1;
  int64_t column_ = 1;
};

// Warns at the first place where a strict reading of `text` differs from
// the lenient `tree`.
void WarnWhereStrictDiffers(std::u16string_view text, const Value& tree,
                            const std::string& where) {
  JSON::TextPieces source(text);
  JSON::StrictReader reader(source);
  JSON::TreeBuilder builder;
  try {
    reader.Read(builder);
  } catch (const Error&) {
    if (reader.fault().empty()) throw;
    Warn(Place(where, reader.line(), reader.column()),
         "a strict reading stops here: " + ToUtf8(reader.fault()));
    return;
  }
  std::vector<Step> path;
  std::string what;
  if (!FirstDifference(tree, builder.Take(), path, what)) return;
  JSON::TextPieces again(text);
  JSON::StrictReader second(again);
  PlaceFinder finder(second, path);
  second.Read(finder);
  Warn(Place(where, finder.line(), finder.column()), what);
}

}  // namespace

Value ReadLenientJsonWithWarning(Input& input) {
  const std::u16string text = InputText(input).ReadAll();
  Value tree = JSON::Parse(text);
  if (tree.IsNothing()) {
    throw Failure(input.name(),
                  "the text does not begin with an object or an array",
                  kErrSubscript);
  }
  WarnWhereStrictDiffers(text, tree, input.name());
  return tree;
}

}  // namespace quorvel::cli
