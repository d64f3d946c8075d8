// The lenient JSON reader. It walks the UTF-16 code units directly with one
// shared position and never raises inside a container: a failing member or
// element ends its container with what it holds, and the enclosing container
// reads on from where the failure left the position.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/bulk_scope.h"
#include "core/std_exceptions.h"
#include "core/text_interner.h"
#include "json/plain_decimal.h"
#include "quorvel/carray.h"
#include "quorvel/decimal.h"
#include "quorvel/dictionary.h"
#include "quorvel/error.h"
#include "quorvel/json.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvel::JSON {
namespace {

enum class Outcome {
  kRead,
  // Reading failed (a number that does not convert, a key already present):
  // the container being read ends.
  kFailed,
  // A `t`, `f` or `n` that is not a literal: nothing consumed, so an array
  // would read it again forever. The array ends as for a failure.
  kStuck,
};

// Whether `c` is one of the characters below 64 whose bits `set` holds:
// one shift and test where a chain of comparisons would take several.
constexpr bool InLowSet(uint64_t set, char16_t c) {
  return c < 64 && ((set >> c) & 1) != 0;
}
constexpr uint64_t LowSet(std::u16string_view chars) {
  uint64_t set = 0;
  for (char16_t c : chars) set |= uint64_t{1} << c;
  return set;
}
constexpr uint64_t kFillerStarts = LowSet(u" \t\r\n()/*");
constexpr uint64_t kKeySpecials = LowSet(u"\"': \t\r\n");
constexpr uint64_t kNumberLow = LowSet(u"0123456789+-.");

bool IsNumberChar(char16_t c) {
  return InLowSet(kNumberLow, c) || c == u'e' || c == u'E';
}

// Returns the position of the first `quote` or backslash in p[at, n), or n;
// eight units a step where SSE2 is at hand.
size_t FindQuoteOrEscape(const char16_t* p, size_t at, size_t n,
                         char16_t quote) {
#if defined(__SSE2__)
  const __m128i quotes = _mm_set1_epi16(static_cast<int16_t>(quote));
  const __m128i escapes = _mm_set1_epi16(u'\\');
  for (; at + 8 <= n; at += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    const int hits = _mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi16(v, quotes), _mm_cmpeq_epi16(v, escapes)));
    if (hits != 0) return at + static_cast<size_t>(__builtin_ctz(hits)) / 2;
  }
#endif
  while (at < n && p[at] != quote && p[at] != u'\\') ++at;
  return at;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

class Reader {
 public:
  explicit Reader(std::u16string_view text)
      : p_(text.data()), n_(text.size()) {}
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  ~Reader() {
    for (auto& depth : expected_) {
      for (ExpectedKey& k : depth) quorvel::internal::ReleaseString(k.rep);
    }
  }

  // The character at the position, or -1 at the end.
  int Peek() const { return pos_ < n_ ? p_[pos_] : -1; }

  void SkipFiller() {
    // The fast way out: a token starts right here.
    if (pos_ < n_ && !IsFillerStart(p_[pos_])) return;
    bool pending = false, in_comment = false, in_block = false;
    for (; pos_ < n_; ++pos_) {
      switch (p_[pos_]) {
        case u'\r':
        case u'\n':
          if (!in_block) pending = in_comment = false;
          break;
        case u'\t':
        case u' ':
        case u'(':
        case u')':
          break;
        case u'/':
          if (in_block) {
            if (pending) pending = in_comment = in_block = false;
          } else if (pending) {
            in_comment = true;
            pending = false;
          } else {
            pending = true;
            in_comment = false;
          }
          break;
        case u'*':
          if (pending) {
            pending = false;
            in_comment = in_block = true;
          } else {
            pending = true;
          }
          break;
        default:
          if (!in_comment) return;
      }
    }
  }

  // The readers of each kind below start where this one stopped skipping,
  // as ParseKey starts where the container's loop did.
  Outcome ParseValue(Value& out) {
    SkipFiller();
    switch (Peek()) {
      case u'{':
        return ParseContainer<true>(out);
      case u'[':
        return ParseContainer<false>(out);
      case u'"':
      case u'\'':
        out = Value(ParseString());
        return Outcome::kRead;
      case u't':
      case u'f':
        return ParseBoolean(out);
      case u'n':
        return ParseNull(out);
      default:
        return ParseNumber(out);
    }
  }

  // Reads an object (`kObject`) or an array, entered on its bracket.
  template <bool kObject>
  Outcome ParseContainer(Value& out) {
    if (++depth_ > kMaxDepth) {
      // Deeper than the reader goes: stop reading altogether, so that every
      // open container ends as unterminated, without descending further.
      pos_ = n_;
      --depth_;
      return Outcome::kFailed;
    }
    constexpr char16_t kCloser = kObject ? u'}' : u']';
    // An object's members wait on a stack shared by all levels until the
    // object ends (or grows past a few), so that its dictionary is made at
    // its final size in one step; an array's elements wait on another until
    // it ends, so that its list holds exactly them.
    const size_t base = kObject ? members_.size() : elements_.size();
    Ref<Dictionary> dict;
    uint64_t seen = 0;  // the KeyBits of the pending keys
    ++pos_;             // the bracket
    for (;;) {
      SkipFiller();
      int c = Peek();
      if (c == kCloser) {
        ++pos_;
        break;
      }
      if (c == u',') {
        ++pos_;
        SkipFiller();
      } else if (c < 0) {
        break;  // unterminated: what was read stands
      }
      Value item;
      if constexpr (kObject) {
        String key =
            ParseKey(dict ? nullptr : Expected(members_.size() - base));
        if (ParseValue(item) == Outcome::kFailed) break;
        if (dict) {
          bool inserted = false;
          Value& slot = dict->Slot(key, &inserted);
          if (!inserted) break;  // a key already present ends the object
          slot = std::move(item);
          continue;
        }
        const uint64_t bit = KeyBit(key);
        if ((seen & bit) != 0 && PendingHas(base, key)) break;
        seen |= bit;
        members_.push_back({std::move(key), std::move(item)});
        if (members_.size() - base > kPendingMax) dict = MakeDictionary(base);
      } else {
        if (ParseValue(item) != Outcome::kRead) break;
        elements_.push_back(std::move(item));
      }
    }
    if constexpr (kObject) {
      if (!dict) dict = MakeDictionary(base);
      out = Value(Ref<Object>(std::move(dict)));
    } else {
      out = Value(Ref<Object>(MakeList(base)));
    }
    --depth_;
    return Outcome::kRead;
  }

  // A bit drawn from a key's length and end units: keys on different bits
  // differ, so only a key whose bit an earlier key took is compared.
  static uint64_t KeyBit(const String& key) {
    const std::u16string_view k = key.view();
    if (k.empty()) return 1;
    return uint64_t{1} << ((k.size() + size_t{k.front()} * 3 +
                            size_t{k.back()} * 5) &
                           63);
  }

  bool PendingHas(size_t base, const String& key) const {
    for (size_t i = base; i < members_.size(); ++i)
      if (members_[i].key == key) return true;
    return false;
  }

  // Moves the pending members from `base` on into a new dictionary. Their
  // keys are distinct (PendingHas saw to it), so the dictionary indexes
  // them only if someone looks one up.
  Ref<Dictionary> MakeDictionary(size_t base) {
    Ref<Dictionary> dict = Dictionary::Create();
    const size_t count = members_.size() - base;
    // An object that outgrew the stack goes on filling its map: room for
    // twice as many.
    if (count > kPendingMax) dict->Reserve(2 * count);
    dict->TakeDistinct(members_.data() + base, count);
    members_.resize(base);
    return dict;
  }

  // Moves the pending elements from `base` on into a new list. Raises 6
  // past the most elements a list holds, as appending them would.
  Ref<CArray> MakeList(size_t base) {
    const size_t count = elements_.size() - base;
    if (count > static_cast<size_t>(INT32_MAX)) RaiseStandard(kErrOverflow);
    Ref<CArray> list = CArray::Create();
    list->ReserveExact(static_cast<int32_t>(count));
    for (size_t i = base; i < elements_.size(); ++i)
      list->Add(std::move(elements_[i]));
    elements_.resize(base);
    return list;
  }

  // The usual key taken where it lies, for one place of an object: the
  // objects of one kind of record repeat their keys in the same order, so
  // each place keeps the last such key it read, and the next one is
  // compared with it before anything else.
  struct ExpectedKey {
    const char16_t* units;  // in the text, which outlives the read
    size_t length;
    quorvel::internal::StringRep* rep;  // one count held
  };
  static constexpr int kExpectedDepths = 8;

  // The place's ExpectedKey, or null past the table.
  ExpectedKey* Expected(size_t place) {
    if (depth_ >= kExpectedDepths || place >= kPendingMax) return nullptr;
    return &expected_[depth_][place];
  }

  // `expected`, when given, is the place's ExpectedKey.
  String ParseKey(ExpectedKey* expected) {
    // The usual key, double-quoted, holding nothing the walk below treats
    // specially and followed by ':', is taken where it lies.
    if (pos_ < n_ && p_[pos_] == u'"') {
      if (expected != nullptr && expected->rep != nullptr) {
        const size_t length = expected->length;
        // The expected key held no special, so neither does an equal one.
        if (n_ - pos_ >= length + 3 && p_[pos_ + 1 + length] == u'"' &&
            p_[pos_ + 2 + length] == u':' &&
            quorvel::internal::SameUnits({p_ + pos_ + 1, length},
                                         {expected->units, length})) {
          pos_ += length + 3;
          return Shared(expected->rep);
        }
      }
      size_t end = pos_ + 1;
      while (end < n_ && !IsKeySpecial(p_[end])) ++end;
      if (end + 1 < n_ && p_[end] == u'"' && p_[end + 1] == u':') {
        String key = Intern(p_ + pos_ + 1, end - pos_ - 1);
        if (expected != nullptr && !key.empty()) {
          if (expected->rep != nullptr)
            quorvel::internal::ReleaseString(expected->rep);
          *expected = {p_ + pos_ + 1, end - pos_ - 1,
                       Shared(key.rep()).Release()};
        }
        pos_ = end + 2;
        return key;
      }
    }
    scratch_.clear();
    bool in_double = false, in_single = false;
    while (pos_ < n_) {
      char16_t c = p_[pos_];
      if (c == u'"' || c == u'\'') {
        ++pos_;
        bool& open = c == u'"' ? in_double : in_single;
        open = !open;
        if (!open) {
          SkipFiller();
          if (Peek() != u':') break;
        }
      } else if (c == u':') {
        ++pos_;
        if (!in_double && !in_single) break;
        scratch_.push_back(u':');
      } else {
        // A run of ordinary characters in one step.
        size_t start = pos_;
        while (pos_ < n_ && !IsKeySpecial(p_[pos_])) ++pos_;
        if (pos_ == start) {
          ++pos_;  // a blank: dropped
        } else {
          scratch_.append(p_ + start, pos_ - start);
        }
      }
    }
    return Intern(scratch_.data(), scratch_.size());
  }

  String ParseString() {
    const char16_t quote = p_[pos_++];
    size_t start = pos_;
    pos_ = FindQuoteOrEscape(p_, pos_, n_, quote);
    if (pos_ >= n_) return String(std::u16string_view(p_ + start, n_ - start));
    if (p_[pos_] == quote) {
      // No escapes: the text is copied in one step.
      ++pos_;
      return Intern(p_ + start, pos_ - 1 - start);
    }
    scratch_.assign(p_ + start, pos_ - start);
    while (pos_ < n_) {
      char16_t c = p_[pos_];
      if (c == quote) {
        ++pos_;
        break;
      }
      if (c != u'\\') {
        size_t run = pos_;
        pos_ = FindQuoteOrEscape(p_, pos_, n_, quote);
        scratch_.append(p_ + run, pos_ - run);
        continue;
      }
      if (++pos_ >= n_) break;
      char16_t letter = p_[pos_];
      switch (letter) {
        case u'"':
        case u'\\':
        case u'/':
        case u'\'':
          scratch_.push_back(letter);
          ++pos_;
          break;
        case u'b':
          scratch_.push_back(u'\b');
          ++pos_;
          break;
        case u'f':
          scratch_.push_back(u'\f');
          ++pos_;
          break;
        case u'n':
          scratch_.push_back(u'\n');
          ++pos_;
          break;
        case u'r':
          scratch_.push_back(u'\r');
          ++pos_;
          break;
        case u't':
          scratch_.push_back(u'\t');
          ++pos_;
          break;
        case u'u': {
          ++pos_;
          size_t available = std::min<size_t>(4, n_ - pos_);
          uint32_t unit = 0;
          for (size_t i = 0; i < available; ++i) {
            int digit = HexDigit(p_[pos_ + i]);
            if (digit < 0) break;
            unit = unit * 16 + static_cast<uint32_t>(digit);
          }
          scratch_.push_back(static_cast<char16_t>(unit));
          pos_ += available;
          break;
        }
        default:
          break;  // the letter is read next as an ordinary character
      }
    }
    // Shared like a text without escapes: a record's quoted note or path
    // repeats as often as its plain words.
    return Intern(scratch_.data(), scratch_.size());
  }

  Outcome ParseNumber(Value& out) {
    // The common form, read as it is found when the number ends with it.
    size_t used;
    if (std::optional<Decimal> plain =
            internal::ReadPlainDecimalPrefix({p_ + pos_, n_ - pos_}, used);
        plain && pos_ + used < n_ && !IsNumberChar(p_[pos_ + used])) {
      pos_ += used;
      out = Value::Decimal(*plain);
      return Outcome::kRead;
    }
    size_t start = pos_;
    while (pos_ < n_ && IsNumberChar(p_[pos_])) ++pos_;
    if (pos_ >= n_) {
      out = Value();  // a number running into the end is dropped
      return Outcome::kRead;
    }
    std::u16string_view text(p_ + start, pos_ - start);
    if (std::optional<Decimal> fast = internal::ReadPlainDecimal(text)) {
      out = Value::Decimal(*fast);
      return Outcome::kRead;
    }
    try {
      std::optional<Decimal> d = Decimal::Parse(text);
      if (!d) return Outcome::kFailed;
      out = Value::Decimal(*d);
      return Outcome::kRead;
    } catch (const Error&) {
      return Outcome::kFailed;  // outside the Decimal range
    }
  }

  Outcome ParseBoolean(Value& out) {
    if (Ahead(u"true")) {
      pos_ += 4;
      out = Value(true);
      return Outcome::kRead;
    }
    if (Ahead(u"false")) {
      pos_ += 5;
      out = Value(false);
      return Outcome::kRead;
    }
    out = Value(false);
    return Outcome::kStuck;
  }

  Outcome ParseNull(Value& out) {
    if (Ahead(u"null")) {
      pos_ += 4;
      out = Value::Null();
      return Outcome::kRead;
    }
    out = Value();
    return Outcome::kStuck;
  }

 private:
  static bool IsFillerStart(char16_t c) { return InLowSet(kFillerStarts, c); }
  static bool IsKeySpecial(char16_t c) { return InLowSet(kKeySpecials, c); }

  bool Ahead(std::u16string_view word) const {
    return n_ - pos_ >= word.size() &&
           std::u16string_view(p_ + pos_, word.size()) == word;
  }

  // Nothing the reader makes is seen by another thread before it returns.
  String Intern(const char16_t* text, size_t length) {
    return interner_.InternUnshared(std::u16string_view(text, length));
  }
  // Another holder of `rep`, a String of this read, counted as
  // InternUnshared counts.
  static String Shared(quorvel::internal::StringRep* rep) {
    rep->refs.store(rep->refs.load(std::memory_order_relaxed) + 1,
                    std::memory_order_relaxed);
    return String::Adopt(rep);
  }

  static constexpr size_t kPendingMax = 16;

  const char16_t* p_;
  size_t n_;
  size_t pos_ = 0;
  int depth_ = 0;
  std::u16string scratch_;  // keys and escaped strings, reused
  ::quorvel::internal::TextInterner
      interner_;  // keys and short strings of this parse
  ExpectedKey expected_[kExpectedDepths][kPendingMax] = {};
  std::vector<Dictionary::Entry> members_;
  std::vector<Value> elements_;
};

// The text as the error descriptions quote it: whole up to 24 characters,
// otherwise its first 20 and " ...".
std::u16string Excerpt(std::u16string_view text) {
  if (text.size() <= 24) return std::u16string(text);
  return std::u16string(text.substr(0, 20)) + u" ...";
}

Value ParseTyped(std::u16string_view text, char16_t bracket,
                 std::u16string_view what) {
  if (text.empty()) return Value::Nothing();
  Reader reader(text);
  reader.SkipFiller();
  if (reader.Peek() != bracket)
    ErrorRaise(kErrSubscript, u"JSON",
               u"Can't parse " + std::u16string(what) + u". Invalid JSON : " +
                   Excerpt(text));
  Value out;
  quorvel::internal::BulkScope bulk(text.size() * sizeof(char16_t));
  quorvel::internal::TranslateStdExceptions([&] { reader.ParseValue(out); });
  return out;
}

}  // namespace

Value Parse(std::u16string_view text) {
  try {
    Reader reader(text);
    reader.SkipFiller();
    int c = reader.Peek();
    if (c != u'{' && c != u'[') return Value::Nothing();
    Value out;
    quorvel::internal::BulkScope bulk(text.size() * sizeof(char16_t));
    reader.ParseValue(out);
    return out;
  } catch (...) {
    return Value::Nothing();
  }
}

Value ParseArray(std::u16string_view text) {
  return ParseTyped(text, u'[', u"array");
}

Value ParseDict(std::u16string_view text) {
  return ParseTyped(text, u'{', u"dictionary");
}

}  // namespace quorvel::JSON
