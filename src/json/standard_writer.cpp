// The standard JSON writer. Text goes into one buffer that is handed to the
// sink whenever the next write would not fit; every write asks for room for
// its worst case first (six bytes per code unit, "\uXXXX"), so the inner
// loops never check. Trees are walked with ContainerWalk, like the compact
// writer and the MessagePack encoder.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "collections/container_walk.h"
#include "core/std_exceptions.h"
#include "quorvel/convert.h"
#include "quorvel/decimal.h"
#include "quorvel/error.h"
#include "quorvel/json.h"
#include "quorvel/json_standard.h"
#include "quorvel/safearray.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvel::JSON {

namespace {

// Code units escaped at a time: their worst case fits the room a write may
// ask for.
constexpr size_t kChunkUnits = 4096;
constexpr int64_t kMillisecondsPerDay = 86400000;
constexpr double kLastDay = 2958465;  // 31 December 9999

// Lower-case, as JavaScript, Python and jq write their escapes.
constexpr char kHex[] = "0123456789abcdef";

__extension__ typedef unsigned __int128 Uint128;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

// Printable ASCII but for '"' and '\': written as it is.
bool IsPlain(char16_t c) {
  return c >= 0x20 && c < 0x7F && c != u'"' && c != u'\\';
}

char* PutUnitEscape(char* o, uint32_t unit) {
  o[0] = '\\';
  o[1] = 'u';
  o[2] = kHex[unit >> 12];
  o[3] = kHex[unit >> 8 & 15];
  o[4] = kHex[unit >> 4 & 15];
  o[5] = kHex[unit & 15];
  return o + 6;
}

char* PutDigits(char* o, std::string_view digits) {
  std::memcpy(o, digits.data(), digits.size());
  return o + digits.size();
}

// Writes a Decimal's exact text as Decimal::ToText does, but keeping the
// sign of a zero; `o` has room for 32 bytes.
char* PutDecimal(char* o, const Decimal& d) {
  char digits[32];
  char* end;
  if (d.hi() == 0) {
    end = std::to_chars(digits, digits + sizeof digits, d.lo()).ptr;
  } else {
    // Below 2^96: the digits above the lowest nineteen fit 64 bits.
    constexpr uint64_t kTen19 = 10000000000000000000u;
    const Uint128 m = (Uint128{d.hi()} << 64) | d.lo();
    end = std::to_chars(digits, digits + sizeof digits,
                        static_cast<uint64_t>(m / kTen19))
              .ptr;
    char low[20];
    char* low_end =
        std::to_chars(low, low + sizeof low, static_cast<uint64_t>(m % kTen19))
            .ptr;
    const size_t pad = 19 - static_cast<size_t>(low_end - low);
    std::memset(end, '0', pad);
    end = PutDigits(end + pad, std::string_view(low, low_end - low));
  }
  int count = static_cast<int>(end - digits);
  int scale = d.scale();
  while (scale > 0 && end[-1] == '0' && count > 1) {
    --end;
    --count;
    --scale;
  }
  if (d.negative()) *o++ = '-';
  if (d.IsZero()) {
    *o++ = '0';
    return o;
  }
  if (count <= scale) {
    *o++ = '0';
    *o++ = '.';
    std::memset(o, '0', static_cast<size_t>(scale - count));
    o += scale - count;
    return PutDigits(o, std::string_view(digits, count));
  }
  o = PutDigits(o, std::string_view(digits, count - scale));
  if (scale > 0) {
    *o++ = '.';
    o = PutDigits(o, std::string_view(digits + count - scale, scale));
  }
  return o;
}

char* PutTwo(char* o, int64_t n) {
  *o++ = static_cast<char>('0' + n / 10);
  *o++ = static_cast<char>('0' + n % 10);
  return o;
}

[[noreturn]] void RaiseNotFinite() {
  ErrorRaise(kErrInvalidCall, u"JSON",
             u"JSON has no form for NaN or an infinity");
}

}  // namespace

StandardWriter::StandardWriter(StandardStyle style, ByteSink* sink)
    : sink_(sink), style_(style) {
  if (style.indent < 0 || style.indent > kMaxIndent) {
    ErrorRaise(kErrInvalidCall, u"JSON", u"the indent must be 0 to 16");
  }
  buffer_.resize(kFlushBytes);
}

void StandardWriter::MakeRoom(size_t size) {
  if (sink_ != nullptr && used_ > 0) {
    Flush();
  } else {
    quorvel::internal::TranslateStdExceptions([&] {
      buffer_.resize(std::max({2 * buffer_.size(), used_ + size, kFlushBytes}));
    });
  }
}

void StandardWriter::Flush() {
  if (sink_ == nullptr || used_ == 0) return;
  const size_t size = used_;
  used_ = 0;
  flushed_ += size;
  sink_->Write(std::string_view(buffer_.data(), size));
}

std::string StandardWriter::Take() {
  buffer_.resize(used_);
  flushed_ += used_;
  used_ = 0;
  std::string text = std::move(buffer_);
  buffer_.clear();  // the next write makes room again
  return text;
}

void StandardWriter::Put(std::string_view bytes) {
  Commit(PutDigits(Room(bytes.size()), bytes));
}

void StandardWriter::NewLine() {
  if (style_.indent == 0) return;
  const size_t spaces =
      static_cast<size_t>(depth_) * static_cast<size_t>(style_.indent);
  char* o = Room(1 + spaces);
  *o = '\n';
  std::memset(o + 1, ' ', spaces);
  Commit(o + 1 + spaces);
}

// ------------------------------------------------------------ events

void StandardWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (depth_ > 0) {
    if (!first_) PutChar(',');
    NewLine();
  }
  first_ = false;
}

void StandardWriter::Open(char bracket) {
  BeforeValue();
  if (depth_ >= kMaxDepth) RaiseStandard(kErrOutOfStack);
  PutChar(bracket);
  ++depth_;
  first_ = true;
}

void StandardWriter::Close(char bracket) {
  --depth_;
  if (!first_) NewLine();
  PutChar(bracket);
  first_ = false;
}

void StandardWriter::BeginObject() { Open('{'); }
void StandardWriter::EndObject() { Close('}'); }
void StandardWriter::BeginArray() { Open('['); }
void StandardWriter::EndArray() { Close(']'); }

void StandardWriter::Key(std::u16string_view name) {
  WriteKey(name, first_);
  first_ = false;
  after_key_ = true;
}

void StandardWriter::Text(std::u16string_view text) {
  BeforeValue();
  WriteString(text);
}

void StandardWriter::NumberText(std::u16string_view text) {
  BeforeValue();
  // A piece at a time: a number may be as long as a text may be.
  constexpr size_t kPiece = 4096;
  while (!text.empty()) {
    const size_t n = std::min(text.size(), kPiece);
    char* o = Room(n);
    for (size_t i = 0; i < n; ++i) *o++ = static_cast<char>(text[i]);
    Commit(o);
    text.remove_prefix(n);
  }
}

void StandardWriter::TextPiece(std::u16string_view text, bool last) {
  if (!in_text_) {
    BeforeValue();
    PutChar('"');
    in_text_ = true;
  }
  if (held_ != 0) {
    // The high surrogate that ended the last piece, paired if it can be.
    const char16_t pair[2] = {held_, text.empty() ? u'\0' : text[0]};
    held_ = 0;
    const bool paired = IsLowSurrogate(pair[1]);
    WriteUnits(std::u16string_view(pair, paired ? 2 : 1));
    if (paired) text.remove_prefix(1);
  }
  if (!last && !text.empty() && IsHighSurrogate(text.back())) {
    held_ = text.back();
    text.remove_suffix(1);
  }
  WriteUnits(text);
  if (last) {
    PutChar('"');
    in_text_ = false;
  }
}

// ------------------------------------------------------------- text

char* StandardWriter::Escape(const char16_t* p, const char16_t* const end,
                             char* o) const {
  while (p < end) {
#if defined(__SSE2__)
    // Eight plain units at a time, narrowed in one store; the store may
    // run past the first unit that is not plain, which is then rewritten.
    const __m128i low = _mm_set1_epi16(0x1F);
    const __m128i high = _mm_set1_epi16(0x7F);
    const __m128i quote = _mm_set1_epi16(u'"');
    const __m128i backslash = _mm_set1_epi16(u'\\');
    while (end - p >= 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      __m128i plain =
          _mm_and_si128(_mm_cmpgt_epi16(v, low), _mm_cmplt_epi16(v, high));
      plain = _mm_andnot_si128(_mm_or_si128(_mm_cmpeq_epi16(v, quote),
                                            _mm_cmpeq_epi16(v, backslash)),
                               plain);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(v, v));
      const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(plain));
      if (mask == 0xFFFF) {
        p += 8;
        o += 8;
        continue;
      }
      const unsigned taken = static_cast<unsigned>(__builtin_ctz(~mask)) / 2;
      p += taken;
      o += taken;
      break;
    }
    if (p == end) break;
#endif
    const char16_t c = *p++;
    if (IsPlain(c)) {
      *o++ = static_cast<char>(c);
      continue;
    }
    char letter = 0;
    switch (c) {
      case u'"':
        letter = '"';
        break;
      case u'\\':
        letter = '\\';
        break;
      case u'\b':
        letter = 'b';
        break;
      case u'\f':
        letter = 'f';
        break;
      case u'\n':
        letter = 'n';
        break;
      case u'\r':
        letter = 'r';
        break;
      case u'\t':
        letter = 't';
        break;
      default:
        break;
    }
    if (letter != 0) {
      *o++ = '\\';
      *o++ = letter;
    } else if (c < 0x20 || c == 0x7F ||
               style_.ascii) {  // NOLINT(bugprone-branch-clone): see below
      // DEL too: a control character, which a terminal would act on.
      o = PutUnitEscape(o, c);
    } else if (c < 0x800) {
      *o++ = static_cast<char>(0xC0 | c >> 6);
      *o++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (IsHighSurrogate(c) && p < end && IsLowSurrogate(*p)) {
      const uint32_t cp =
          0x10000 + ((uint32_t{c} - 0xD800) << 10) + (*p++ - 0xDC00);
      *o++ = static_cast<char>(0xF0 | cp >> 18);
      *o++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      *o++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      o = PutUnitEscape(o, c);  // UTF-8 cannot carry a lone surrogate
    } else {
      *o++ = static_cast<char>(0xE0 | c >> 12);
      *o++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
      *o++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return o;
}

void StandardWriter::WriteUnits(std::u16string_view text) {
  while (!text.empty()) {
    size_t n = std::min(text.size(), kChunkUnits);
    // A surrogate pair stays in one chunk.
    if (n < text.size() && IsHighSurrogate(text[n - 1])) --n;
    Commit(Escape(text.data(), text.data() + n, Room(6 * n)));
    text.remove_prefix(n);
  }
}

void StandardWriter::WriteString(std::u16string_view text) {
  if (text.size() > kChunkUnits) {
    PutChar('"');
    WriteUnits(text);
    PutChar('"');
    return;
  }
  char* o = Room(6 * text.size() + 2);
  *o++ = '"';
  o = Escape(text.data(), text.data() + text.size(), o);
  *o++ = '"';
  Commit(o);
}

// ------------------------------------------------------------ values

void StandardWriter::Write(const Value& value) {
  BeforeValue();
  quorvel::internal::TranslateStdExceptions([&] { WriteNested(value); });
}

void StandardWriter::WriteNested(const Value& value) {
  switch (value.kind()) {
    case Kind::Empty:
    case Kind::Null:
      return Put("null");
    case Kind::Boolean:
      return Put(value.boolean() ? "true" : "false");
    case Kind::String:
      return WriteString(value.string_view());
    case Kind::Date:
      return WriteDate(value.date());
    case Kind::Object:
      return WriteObject(value.object());
    case Kind::Array:
      return WriteArray(value);
    case Kind::Integer:
    case Kind::Long:
    case Kind::Byte:
    case Kind::Single:
    case Kind::Double:
    case Kind::Currency:
    case Kind::Decimal:
      return WriteNumber(value);
    default:
      RaiseStandard(kErrTypeMismatch);
  }
}

void StandardWriter::WriteNumber(const Value& value) {
  constexpr size_t kMostBytes = 48;
  char* o = Room(kMostBytes);
  char* const end = o + kMostBytes;
  switch (value.kind()) {
    case Kind::Integer:
      o = std::to_chars(o, end, value.integer()).ptr;
      break;
    case Kind::Long:
      o = std::to_chars(o, end, value.long_value()).ptr;
      break;
    case Kind::Byte:
      o = std::to_chars(o, end, value.byte()).ptr;
      break;
    case Kind::Single:
      if (!std::isfinite(value.single())) RaiseNotFinite();
      o = std::to_chars(o, end, value.single()).ptr;
      break;
    case Kind::Double:
      if (!std::isfinite(value.double_value())) RaiseNotFinite();
      o = std::to_chars(o, end, value.double_value()).ptr;
      break;
    case Kind::Currency:
      o = PutDecimal(o, Decimal::FromCurrency(value.currency()));
      break;
    default:
      o = PutDecimal(o, value.decimal());
  }
  Commit(o);
}

void StandardWriter::WriteDate(double day_number) {
  // The day and the time rounded to the millisecond; rounding up to
  // midnight moves to the next day, but for the last one.
  double day = std::trunc(day_number);
  int64_t ms = std::llround(std::fabs(day_number - day) *
                            static_cast<double>(kMillisecondsPerDay));
  if (ms >= kMillisecondsPerDay) {
    if (day == kLastDay) {
      ms = kMillisecondsPerDay - 1;
    } else {
      ms = 0;
      day += 1;
    }
  }
  const String date = DateToIsoText(day);  // raises 6 outside the range
  char* o = Room(32);
  *o++ = '"';
  for (char16_t c : date.view()) *o++ = static_cast<char>(c);
  if (ms != 0) {
    const int64_t seconds = ms / 1000;
    *o++ = 'T';
    o = PutTwo(o, seconds / 3600);
    *o++ = ':';
    o = PutTwo(o, seconds / 60 % 60);
    *o++ = ':';
    o = PutTwo(o, seconds % 60);
    if (const int64_t fraction = ms % 1000; fraction != 0) {
      *o++ = '.';
      *o++ = static_cast<char>('0' + fraction / 100);
      o = PutTwo(o, fraction % 100);
    }
  }
  *o++ = '"';
  Commit(o);
}

// Writes what goes before a member's value: the comma, the line, the key
// and the colon; in one step for the compact form.
void StandardWriter::WriteKey(std::u16string_view key, bool first) {
  if (style_.indent > 0 || key.size() > kChunkUnits) {
    if (!first) PutChar(',');
    NewLine();
    WriteString(key);
    Put(style_.indent > 0 ? ": " : ":");
    return;
  }
  char* o = Room(6 * key.size() + 4);
  if (!first) *o++ = ',';
  *o++ = '"';
  o = Escape(key.data(), key.data() + key.size(), o);
  *o++ = '"';
  *o++ = ':';
  Commit(o);
}

void StandardWriter::WriteObject(Object* object) {
  if (object == nullptr) return Put("null");
  ContainerWalk walk(*object);
  if (walk.shape() == ContainerShape::kOther) RaiseStandard(kErrTypeMismatch);
  if (depth_ >= kMaxDepth) RaiseStandard(kErrOutOfStack);
  ++depth_;
  bool first = true;
  // An array member is copied first: its elements may run client code that
  // replaces it in its container. An object member is held by its walk.
  auto member = [&](const Value& item) {
    if (item.IsArray()) {
      WriteNested(Value(item));
    } else {
      WriteNested(item);
    }
  };
  char closer;
  if (walk.shape() == ContainerShape::kMap) {
    closer = '}';
    PutChar('{');
    walk.ForEachField([&](std::u16string_view key, const Value& item) {
      WriteKey(key, first);
      first = false;
      member(item);
      return true;
    });
  } else {
    closer = ']';
    PutChar('[');
    walk.ForEachItem<true>([&](const Value& item) {
      if (!first) PutChar(',');
      first = false;
      NewLine();
      member(item);
      return true;
    });
  }
  --depth_;
  if (!first) NewLine();
  PutChar(closer);
}

void StandardWriter::WriteArray(const Value& array) {
  const SafeArray& a = array.array();
  if (a.dimensions() > 1) RaiseStandard(kErrTypeMismatch);
  if (depth_ >= kMaxDepth) RaiseStandard(kErrOutOfStack);
  ++depth_;
  PutChar('[');
  for (size_t i = 0; i < a.size(); ++i) {
    if (i > 0) PutChar(',');
    NewLine();
    WriteNested(a.Get(i));
  }
  --depth_;
  if (a.size() > 0) NewLine();
  PutChar(']');
}

std::string WriteStandard(const Value& value, StandardStyle style) {
  StandardWriter writer(style);
  writer.Write(value);
  return writer.Take();
}

}  // namespace quorvel::JSON
