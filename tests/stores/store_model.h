// In-memory models of what the two database files hold, the random texts
// and documents long runs write into them, and one rendering of a store and
// of a model, so that a comparison is one string compare. Free of GoogleTest,
// so the fuzz targets use it too.
#ifndef QUORVEL_TESTS_STORES_STORE_MODEL_H_
#define QUORVEL_TESTS_STORES_STORE_MODEL_H_

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quorvel/convert.h"
#include "quorvel/dictionary.h"
#include "quorvel/kxdocsdb.h"
#include "quorvel/kxkvdb.h"
#include "quorvel/safearray.h"
#include "quorvel/string.h"
#include "quorvel/value.h"
#include "test_util.h"

namespace quorvel::testing {

// Random texts in the files' code page: mostly ASCII, with letters beyond it
// (São Paulo, Zürich, €), blanks and punctuation.
class RandomText {
 public:
  explicit RandomText(uint32_t seed) : rng_(seed) {}

  // Returns a number in [0, n).
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }
  bool OneIn(uint32_t n) { return Below(n) == 0; }

  // Returns a text whose length lies between `min` and `max`, spread evenly
  // over orders of magnitude, so short and long texts are both common.
  std::u16string Text(size_t min, size_t max) {
    const double lo = std::log(static_cast<double>(std::max<size_t>(min, 1)));
    const double hi = std::log(static_cast<double>(max) + 1);
    std::uniform_real_distribution<double> d(lo, hi);
    size_t n = static_cast<size_t>(std::exp(d(rng_)));
    n = std::clamp(n, min, max);
    static constexpr char16_t kLetters[] =
        u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
        u"  .,-_'\"\\/:;S\u00e3o Paulo Z\u00fcrich \u00e9t\u00e9 \u20ac\u0153"
        u"\u00df\u00f8\u00c6\u0160\u00a0\u00ff";
    constexpr size_t kCount = sizeof(kLetters) / sizeof(kLetters[0]) - 1;
    std::u16string out(n, u' ');
    for (char16_t& c : out) c = kLetters[Below(kCount)];
    return out;
  }

  // Returns a text for a record: mostly up to a few hundred characters,
  // one in eight up to `most`, so that a run writes many records and still
  // crosses every window and page edge many times.
  std::u16string RecordText(size_t most) {
    return OneIn(8) ? Text(0, most) : Text(0, std::min<size_t>(most, 600));
  }

  std::mt19937& rng() { return rng_; }

 private:
  std::mt19937 rng_;
};

// The keys of a store in index order, each with its content.
template <class T>
class OrderedModel {
 public:
  // Replaces the content of a present key in its place, or adds the key at
  // the end.
  void Put(const std::u16string& key, T value) {
    auto it = values_.find(key);
    if (it == values_.end()) {
      order_.push_back(key);
      values_.emplace(key, std::move(value));
    } else {
      it->second = std::move(value);
    }
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

// A document as its fields render: "name:kind:text|" each, in order. The
// kinds are the ones a document file gives back.
using Doc = std::u16string;

inline Doc Render(const Dictionary& fields) {
  Doc out;
  for (const Dictionary::Entry& e : fields) {
    out += e.key.view();
    out += u':';
    const std::string kind = std::to_string(VarType(e.value));
    out.append(kind.begin(), kind.end());
    out += u':';
    out += e.value.IsNull() ? std::u16string_view(u"Null")
                            : ToText(e.value).view();
    out += u'|';
  }
  return out;
}

// Fills `fields` with one to six random fields of the kinds a document file
// keeps (text, Long, Double, Boolean, Null), the texts sized so that the
// record lies between about 10 bytes and 20 KB.
inline void RandomFields(RandomText& r, Dictionary& fields) {
  static constexpr const char16_t* kNames[] = {
      u"name", u"city",          u"note",           u"n", u"x", u"ok",
      u"none", u"\u00e9t\u00e9", u"gr\u00f6\u00dfe"};
  const uint32_t count = 1 + r.Below(6);
  const size_t budget = 20000 / count;
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
        fields.LetItem(name, Value(r.RecordText(budget)));
    }
  }
}

// Returns "" when the store shows exactly the model (the same keys in the
// same order, each with the same content), else the first difference.
template <class Store, class T, class Read>
std::string Diff(Store& db, const OrderedModel<T>& model, Read&& read) {
  const Value keys = db.Keys();
  const std::span<const Value> got = keys.array().values();
  const std::vector<std::u16string>& want = model.keys();
  for (size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
    if (i >= got.size() || i >= want.size() ||
        got[i].string_view() != want[i]) {
      return "key " + std::to_string(i) + " of " + std::to_string(got.size()) +
             " is " +
             (i < got.size() ? ToUtf8(got[i].string_view()) : "missing") +
             ", the model has " + std::to_string(want.size()) + " keys and " +
             (i < want.size() ? ToUtf8(want[i]) : "none");
    }
    const T seen = read(got[i].string());
    if (seen != *model.Find(want[i])) {
      return "key " + ToUtf8(want[i]) + " holds " +
             ToUtf8(seen).substr(0, 200) + ", the model " +
             ToUtf8(*model.Find(want[i])).substr(0, 200);
    }
  }
  return std::string();
}

inline std::string Diff(KxKVDB& db, const OrderedModel<std::u16string>& model) {
  return Diff(db, model, [&](const String& key) { return db.Item(key).str(); });
}

inline std::string Diff(KxDocsDB& db, const OrderedModel<Doc>& model) {
  return Diff(db, model, [&](const String& id) {
    Ref<KxDocRec> rec = db.GetDoc(id);
    return rec ? Render(rec->fields()) : Doc(u"Nothing");
  });
}

}  // namespace quorvel::testing

#endif  // QUORVEL_TESTS_STORES_STORE_MODEL_H_
