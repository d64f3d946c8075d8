// The storability check: one walk of a Value in the order its target's
// writer would make it, stopping at the first place that would not come
// back. The path and the description are built only then, on the way out.
#include "quorvel/storable.h"

#include <cstdio>
#include <string>

#include "codecs/msgpack_format.h"
#include "collections/container_walk.h"
#include "quorvel/codepage.h"
#include "quorvel/convert.h"
#include "quorvel/decimal.h"
#include "quorvel/error.h"
#include "quorvel/msgpack.h"

namespace quorvel {

namespace {

constexpr size_t kMaxKvKey = 32767;
constexpr size_t kMaxPackedText = mMsgPack::kMaxCount;
constexpr int32_t kMaxMembers = mMsgPack::kMaxCount;
constexpr size_t kNoLimit = static_cast<size_t>(-1);

__attribute__((tls_model("initial-exec"))) thread_local int exact_scopes = 0;

std::u16string Digits(int64_t n) {
  const std::string d = std::to_string(n);
  return std::u16string(d.begin(), d.end());
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

bool IsIdentifier(std::u16string_view key) {
  if (key.empty()) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    const char16_t c = key[i];
    const bool letter =
        (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
    const bool digit = c >= u'0' && c <= u'9';
    if (!letter && !(digit && i > 0)) return false;
  }
  return true;
}

// Appends `text` as a JSON string. Control characters and lone surrogates
// go as \uXXXX, so that the path survives the trip to UTF-8.
void AppendJsonString(std::u16string_view text, std::u16string& out) {
  out += u'"';
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool paired =
        (IsHighSurrogate(c) && i + 1 < text.size() &&
         IsLowSurrogate(text[i + 1])) ||
        (IsLowSurrogate(c) && i > 0 && IsHighSurrogate(text[i - 1]));
    if (c == u'"' || c == u'\\') {
      out += u'\\';
      out += c;
    } else if (c < 0x20 ||
               ((IsHighSurrogate(c) || IsLowSurrogate(c)) && !paired)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
      out.append(escape, escape + 6);
    } else {
      out += c;
    }
  }
  out += u'"';
}

// "character U+6771 (東)"; a control character or a lone surrogate goes
// without the character itself.
std::u16string CharacterName(std::u16string_view text, size_t index,
                             char32_t c) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  std::u16string name = u"character ";
  name.append(code, code + std::char_traits<char>::length(code));
  const bool control = c < 0x20 || (c >= 0x7F && c < 0xA0);
  const bool surrogate = c >= 0xD800 && c < 0xE000;
  if (!control && !surrogate) {
    name += u" (";
    name += text.substr(index, c > 0xFFFF ? 2 : 1);
    name += u')';
  }
  return name;
}

std::u16string_view DefaultName(StorableTarget target) {
  switch (target) {
    case StorableTarget::kText:
    case StorableTarget::kRc4Text:
      return u"the text";
    case StorableTarget::kKvKey:
      return u"the key";
    case StorableTarget::kDocument:
      return u"the document";
    default:
      return u"the value";
  }
}

// Returns what becoming a Currency does to `d`.
NumberLoss DecimalLoss(const Decimal& d) {
  // Most decimals met (those the JSON reader makes) have few places and
  // small magnitudes: no rounding, and far inside the range.
  constexpr uint64_t kSurelyInRange = 922337203685477;
  if (d.scale() <= 4 && d.hi() == 0 && d.lo() <= kSurelyInRange)
    return NumberLoss::kNone;
  try {
    // Rounding to four places changes nothing exactly when the value has
    // at most four once its trailing zeros are gone.
    return Decimal::FromCurrency(d.ToCurrency()) == d ? NumberLoss::kNone
                                                      : NumberLoss::kRounded;
  } catch (const Error&) {
    return NumberLoss::kBeyondCurrency;
  }
}

bool DecodableDate(const Value& date) {
  try {
    // The decoder's own range check.
    ToDate(date);
    return true;
  } catch (const Error&) {
    return false;
  }
}

// One check. Holds the containers on the way down, to tell a container
// that holds itself from one merely nested too deeply.
class Checker {
 public:
  explicit Checker(StorableTarget target) : target_(target) {}

  // Return whether the whole comes back exactly; when not, the fault is
  // kept for Finish.
  bool Root(const Value& v);
  bool RootText(std::u16string_view text);

  // Returns the fault with its path and description; `name` is what the
  // description calls the whole.
  StorableFault Finish(std::u16string_view name);

 private:
  // Each takes the number of containers above what it checks.
  bool Check(const Value& v, int depth);
  bool Text(std::u16string_view text, size_t limit, bool in_key, int depth);
  bool Container(Object* object, int depth, bool document);
  bool Fields(ContainerWalk& walk, int depth);
  bool Items(ContainerWalk& walk, int depth);
  // Returns a container's member count, or -1 after failing on one the
  // target cannot hold.
  int32_t Members(ContainerWalk& walk, int depth);

  bool Fail(StorableReason reason, int depth, bool in_key = false) {
    fault_.reason = reason;
    fault_.in_key = in_key;
    fault_segments_ = depth;
    return false;
  }
  bool FailKind(std::u16string type_name, int depth) {
    detail_ = std::move(type_name);
    return Fail(StorableReason::kKind, depth);
  }
  bool FailNumber(NumberLoss loss, std::u16string text, int depth) {
    fault_.number = loss;
    detail_ = std::move(text);
    return Fail(StorableReason::kNumber, depth);
  }
  bool FailDepth(Object* object, int depth);

  // Puts the member's place in front of the path, when the member leads
  // to the fault's place.
  void Prepend(const std::u16string& segment, int depth) {
    if (depth < fault_segments_) fault_.path.insert(0, segment);
  }

  StorableTarget target_;
  StorableFault fault_;
  int fault_segments_ = 0;  // how many containers the fault's path passes
  std::u16string detail_;   // a type name, a number's text, a character
  int64_t size_ = 0;        // a length or count
  size_t limit_ = 0;        // the length allowed
  Object* stack_[mMsgPack::kMaxDepth];
};

bool Checker::Root(const Value& v) {
  switch (target_) {
    case StorableTarget::kMsgPack:
      return Check(v, 0);
    case StorableTarget::kDocument:
      if (!v.IsObject()) return FailKind(TypeName(v), 0);
      return Container(v.object(), 0, true);
    default:
      if (!v.IsString()) return FailKind(TypeName(v), 0);
      return RootText(v.string_view());
  }
}

bool Checker::RootText(std::u16string_view text) {
  switch (target_) {
    case StorableTarget::kMsgPack:
      return Text(text, kMaxPackedText, false, 0);
    case StorableTarget::kDocument:
      return FailKind(u"String", 0);
    case StorableTarget::kKvKey:
      return Text(text, kMaxKvKey, false, 0);
    default:
      return Text(text, kNoLimit, false, 0);
  }
}

bool Checker::Check(const Value& v, int depth) {
  switch (v.kind()) {
    case Kind::Null:
    case Kind::Boolean:
    case Kind::Integer:
    case Kind::Long:
    case Kind::Single:
    case Kind::Double:
    case Kind::Currency:
      return true;
    case Kind::Date:
      return DecodableDate(v) ||
             FailNumber(NumberLoss::kBeyondDate, ToText(Value(v.date())).str(),
                        depth);
    case Kind::Decimal: {
      const NumberLoss loss = DecimalLoss(v.decimal());
      return loss == NumberLoss::kNone ||
             FailNumber(loss, v.decimal().ToText(), depth);
    }
    case Kind::String:
      return Text(v.string_view(), kMaxPackedText, false, depth);
    case Kind::Object:
      return Container(v.object(), depth, false);
    default:
      return FailKind(TypeName(v), depth);
  }
}

bool Checker::Text(std::u16string_view text, size_t limit, bool in_key,
                   int depth) {
  if (text.size() > limit) {
    size_ = static_cast<int64_t>(text.size());
    limit_ = limit;
    return Fail(StorableReason::kLength, depth, in_key);
  }
  std::optional<Unmappable> bad = FindUnmappable(text);
  if (target_ == StorableTarget::kRc4Text) {
    const size_t nul =
        text.substr(0, bad ? bad->index : text.size()).find(u'\0');
    if (nul != std::u16string_view::npos) {
      size_t position = 0;
      for (size_t i = 0; i <= nul; ++i)
        if (!(IsLowSurrogate(text[i]) && i > 0 && IsHighSurrogate(text[i - 1])))
          ++position;
      bad = Unmappable{nul, position, 0};
    }
  }
  if (!bad) return true;
  fault_.index = bad->index;
  fault_.position = bad->position;
  fault_.character = bad->character;
  detail_ = CharacterName(text, bad->index, bad->character);
  return Fail(StorableReason::kCharacter, depth, in_key);
}

bool Checker::Container(Object* object, int depth, bool document) {
  if (object == nullptr) return FailKind(u"Nothing", depth);
  // Told apart as the encoder tells them: the same walk, the depth counted
  // before the shape is looked at.
  ContainerWalk walk(*object);
  if (document && walk.shape() != ContainerShape::kMap)
    return FailKind(std::u16string(walk.type_name()), depth);
  if (depth >= mMsgPack::kMaxDepth) return FailDepth(object, depth);
  stack_[depth] = object;
  switch (walk.shape()) {
    case ContainerShape::kMap:
      return Fields(walk, depth);
    case ContainerShape::kList:
      return Items(walk, depth);
    default:
      return FailKind(std::u16string(walk.type_name()), depth);
  }
}

int32_t Checker::Members(ContainerWalk& walk, int depth) {
  const int32_t count = walk.Count();
  if (count >= 0 && count <= kMaxMembers) return count;
  size_ = count;
  Fail(StorableReason::kCount, depth);
  return -1;
}

bool Checker::Fields(ContainerWalk& walk, int depth) {
  const int32_t count = Members(walk, depth);
  if (count <= 0) return count == 0;
  bool exact = true;
  int32_t seen = 0;
  walk.ForEachField<true>([&](std::u16string_view key, const Value& item) {
    if (Text(key, kMaxPackedText, true, depth + 1) && Check(item, depth + 1))
      return ++seen < count;
    std::u16string segment;
    if (IsIdentifier(key)) {
      segment = u".";
      segment += key;
    } else {
      segment = u"[";
      AppendJsonString(key, segment);
      segment += u']';
    }
    Prepend(segment, depth);
    exact = false;
    return false;
  });
  return exact;
}

bool Checker::Items(ContainerWalk& walk, int depth) {
  const int32_t count = Members(walk, depth);
  if (count <= 0) return count == 0;
  bool exact = true;
  int32_t seen = 0;
  walk.ForEachItem<true>([&](const Value& item) {
    if (Check(item, depth + 1)) return ++seen < count;
    Prepend(u"[" + Digits(seen) + u"]", depth);
    exact = false;
    return false;
  });
  return exact;
}

bool Checker::FailDepth(Object* object, int depth) {
  // Only a container met again on the way down is the cause; otherwise the
  // nesting itself is.
  for (int i = 0; i < depth; ++i) {
    bool again = object == stack_[i];
    for (int j = i + 1; j < depth && !again; ++j)
      again = stack_[j] == stack_[i];
    if (again) {
      fault_.holds_itself = true;
      return Fail(StorableReason::kDepth, i);
    }
  }
  return Fail(StorableReason::kDepth, depth);
}

StorableFault Checker::Finish(std::u16string_view name) {
  StorableFault f = std::move(fault_);
  if (!f.path.empty() && f.path[0] == u'.') f.path.erase(0, 1);
  const bool whole = fault_segments_ == 0;
  // What a sentence calls the place: as its subject, and after "of".
  std::u16string subject;
  std::u16string of;
  if (f.in_key) {
    subject = of = u"the key of " + f.path;
  } else if (whole) {
    subject = of = name;
  } else {
    subject = u"the value at " + f.path;
    of = f.path;
  }
  const std::u16string at = whole ? u"" : u" at " + f.path;
  std::u16string& d = f.description;
  switch (f.reason) {
    case StorableReason::kCharacter:
      d = detail_ + u" at position " +
          Digits(static_cast<int64_t>(f.position)) + u" of " + of;
      d += f.character == 0 && target_ == StorableTarget::kRc4Text
               ? u" would not come back from RC4"
               : u" has no Windows-1252 byte";
      break;
    case StorableReason::kNumber:
      if (f.number == NumberLoss::kBeyondDate) {
        d = u"the Date with day number " + detail_ + at +
            u" lies outside the range of Dates";
      } else {
        d = u"the number " + detail_ + at +
            (f.number == NumberLoss::kRounded
                 ? u" would be rounded to 4 decimal places"
                 : u" lies beyond the Currency range");
      }
      break;
    case StorableReason::kKind:
      d = subject + u" is " + detail_;
      if (target_ == StorableTarget::kDocument && whole) {
        d += u", not a KxDocRec or Dictionary";
      } else if (target_ == StorableTarget::kMsgPack ||
                 target_ == StorableTarget::kDocument) {
        d += u", which a MessagePack encoding cannot hold";
      } else {
        d += u", which would come back as a String";
      }
      break;
    case StorableReason::kLength:
      d = subject + u" is " + Digits(size_) +
          u" characters long, more than the " +
          Digits(static_cast<int64_t>(limit_)) +
          (limit_ == kMaxKvKey ? u" a KxKVDB key holds"
                               : u" a MessagePack string holds");
      break;
    case StorableReason::kCount:
      d = subject + u" has " + Digits(size_) + u" members, more than the " +
          Digits(kMaxMembers) + u" a MessagePack container holds";
      break;
    case StorableReason::kDepth:
      d = subject +
          (f.holds_itself
               ? u" holds itself"
               : u" lies deeper than the " + Digits(mMsgPack::kMaxDepth) +
                     u" nested containers a MessagePack encoding "
                     u"holds");
      break;
  }
  return f;
}

}  // namespace

std::optional<StorableFault> CheckStorable(const Value& value,
                                           StorableTarget target,
                                           std::u16string_view name) {
  Checker checker(target);
  if (checker.Root(value)) return std::nullopt;
  return checker.Finish(name.empty() ? DefaultName(target) : name);
}

std::optional<StorableFault> CheckStorableText(std::u16string_view text,
                                               StorableTarget target,
                                               std::u16string_view name) {
  Checker checker(target);
  if (checker.RootText(text)) return std::nullopt;
  return checker.Finish(name.empty() ? DefaultName(target) : name);
}

void RequireStorable(const Value& value, StorableTarget target,
                     std::u16string_view source, std::u16string_view name) {
  if (std::optional<StorableFault> fault = CheckStorable(value, target, name))
    ErrorRaise(kErrInvalidCall, source, fault->description);
}

void RequireStorableText(std::u16string_view text, StorableTarget target,
                         std::u16string_view source, std::u16string_view name) {
  if (std::optional<StorableFault> fault =
          CheckStorableText(text, target, name))
    ErrorRaise(kErrInvalidCall, source, fault->description);
}

ExactScope::ExactScope() { ++exact_scopes; }
ExactScope::~ExactScope() { --exact_scopes; }
bool ExactScope::Active() { return exact_scopes > 0; }

}  // namespace quorvel
