// Models of what the two database files hold, random texts and documents,
// and one rendering of store and model; free of GoogleTest for the fuzzers.
#ifndef QUORVEL_TESTS_STORES_STORE_MODEL_H_
#define QUORVEL_TESTS_STORES_STORE_MODEL_H_

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "quorvel/convert.h"
#include "quorvel/dictionary.h"
#include "quorvel/kxdocsdb.h"
#include "quorvel/kxkvdb.h"
#include "quorvel/safearray.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

namespace quorvel::testing {

// Random texts in the files' code page, beyond ASCII too.
class RandomText {
 public:
  explicit RandomText(uint32_t seed) : rng_(seed) {}

  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }
  bool OneIn(uint32_t n) { return Below(n) == 0; }

  // A length spread evenly over orders of magnitude.
  std::u16string Text(size_t min, size_t max) {
    const double lo = std::log(static_cast<double>(std::max<size_t>(min, 1)));
    const double hi = std::log(static_cast<double>(max) + 1);
    std::uniform_real_distribution<double> d(lo, hi);
    const size_t n =
        std::clamp(static_cast<size_t>(std::exp(d(rng_))), min, max);
    static constexpr char16_t kLetters[] =
        u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
        u"  .,-_'\"\\/:;S\u00e3o Paulo Z\u00fcrich \u00e9t\u00e9 \u20ac\u0153"
        u"\u00df\u00f8\u00c6\u0160\u00a0\u00ff";
    std::u16string out(n, u' ');
    for (char16_t& c : out) c = kLetters[Below(std::size(kLetters) - 1)];
    return out;
  }

  // Mostly short, one in eight up to `most`.
  std::u16string RecordText(size_t most) {
    return OneIn(8) ? Text(0, most) : Text(0, std::min<size_t>(most, 600));
  }

  std::mt19937& rng() { return rng_; }

 private:
  std::mt19937 rng_;
};

// The keys of a store in index order, each with its content; a put keeps a
// present key's place.
template <class T>
class OrderedModel {
 public:
  void Put(const std::u16string& key, T value) {
    auto [it, added] = values_.insert_or_assign(key, std::move(value));
    if (added) order_.push_back(key);
  }
  bool Erase(const std::u16string& key) {
    if (values_.erase(key) == 0) return false;
    order_.erase(std::find(order_.begin(), order_.end(), key));
    return true;
  }
  const T* Find(const std::u16string& key) const {
    auto it = values_.find(key);
    return it == values_.end() ? nullptr : &it->second;
  }
  const std::vector<std::u16string>& keys() const { return order_; }
  size_t size() const { return order_.size(); }

 private:
  std::vector<std::u16string> order_;
  std::map<std::u16string, T> values_;
};

// A document as its fields render: "name:kind:text|" each, in order.
using Doc = std::u16string;

inline Doc Render(const Dictionary& fields) {
  Doc out;
  for (const Dictionary::Entry& e : fields) {
    const std::string kind = std::to_string(VarType(e.value));
    out += e.key.view();
    out += u':' + std::u16string(kind.begin(), kind.end()) + u':';
    out += e.value.IsNull() ? std::u16string_view(u"Null")
                            : ToText(e.value).view();
    out += u'|';
  }
  return out;
}

// One to six random fields of the kinds a document file keeps, the record
// between about 10 bytes and 20 KB.
inline void RandomFields(RandomText& r, Dictionary& fields) {
  static constexpr const char16_t* kNames[] = {
      u"name", u"city",          u"note",           u"n", u"x", u"ok",
      u"none", u"\u00e9t\u00e9", u"gr\u00f6\u00dfe"};
  const uint32_t count = 1 + r.Below(6);
  for (uint32_t i = 0; i < count; ++i) {
    const String name(kNames[r.Below(9)]);
    switch (r.Below(8)) {
      case 0:
        fields.LetItem(name, Value(static_cast<int32_t>(r.rng()())));
        break;
      case 1:
        fields.LetItem(name, Value(static_cast<int32_t>(r.Below(1000)) / 8.0));
        break;
      case 2:
        fields.LetItem(name, Value(r.OneIn(2)));
        break;
      case 3:
        fields.LetItem(name, Value::Null());
        break;
      default:
        fields.LetItem(name, Value(r.RecordText(20000 / count)));
    }
  }
}

// A value, or a document rendered (marked when under another id).
inline std::u16string ContentOf(KxKVDB& db, const String& key) {
  return db.Item(key).str();
}
inline std::u16string ContentOf(KxDocsDB& db, const String& id) {
  Ref<KxDocRec> rec = db.GetDoc(id);
  if (!rec) return u"Nothing";
  return Render(rec->fields()) +
         (rec->DocID().view() == id.view() ? u"" : u" under another id");
}

// Returns "" when the store shows exactly the model (the same keys in the
// same order, each with the same content), else the first difference.
template <class Store>
std::string Diff(Store& db, const OrderedModel<std::u16string>& model) {
  const Value keys = db.Keys();
  const std::span<const Value> got = keys.array().values();
  const std::vector<std::u16string>& want = model.keys();
  for (size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
    const std::u16string key =
        i < got.size() ? std::u16string(got[i].string_view()) : u"none";
    if (i >= got.size() || i >= want.size() || key != want[i])
      return "key " + std::to_string(i) + " is " + ToUtf8(key);
    const std::u16string seen = ContentOf(db, key);
    if (seen != *model.Find(key))
      return "key " + ToUtf8(key) + " holds " + ToUtf8(seen).substr(0, 200);
  }
  return std::string();
}

}  // namespace quorvel::testing

#endif  // QUORVEL_TESTS_STORES_STORE_MODEL_H_
