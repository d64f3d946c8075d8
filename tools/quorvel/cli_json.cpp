// JSON text out, as UTF-8, from the events of a strict read or from a tree.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"

namespace quorvel::cli {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

char* PutEscape(char* o, char16_t unit) {
  std::memcpy(o, "\\u", 2);
  o[2] = kHex[unit >> 12];
  o[3] = kHex[unit >> 8 & 15];
  o[4] = kHex[unit >> 4 & 15];
  o[5] = kHex[unit & 15];
  return o + 6;
}

// The characters that are written as they are: printable ASCII but for '"'
// and '\'.
constexpr bool IsPlain(char16_t c) {
  return c >= 0x20 && c < 0x7F && c != u'"' && c != u'\\';
}

// The time of day of a day number, in whole seconds, rounded as the date
// is.
int64_t SecondsOfDay(double day_number) {
  const double fraction = std::fabs(day_number - std::trunc(day_number));
  const int64_t seconds = std::llround(fraction * 86400.0);
  return seconds == 86400 ? 0 : seconds;
}

}  // namespace

void JsonSource::Read(JSON::StrictHandler& handler) {
  try {
    reader_.Read(handler);
  } catch (const Error& e) {
    if (reader_.fault().empty()) throw;
    throw Failure(Place(input_.name(), reader_.line(), reader_.column()),
                  ToUtf8(reader_.fault()), e.number());
  }
}

Value ReadLenientJson(Input& input) {
  const Value tree = JSON::Parse(InputText(input).ReadAll());
  if (tree.IsNothing()) {
    throw Failure(input.name(),
                  "the text does not begin with an object or an array",
                  kErrSubscript);
  }
  return tree;
}

JsonStyle StyleFrom(const Args& args) {
  JsonStyle style;
  style.indent = static_cast<int>(args.GetInt("--indent", 0, 0, 16));
  style.ascii = args.Has("--ascii");
  return style;
}

void JsonWriter::NewLine() {
  if (style_.indent == 0) return;
  char* o = out_.Room(1 + static_cast<size_t>(depth_ * style_.indent));
  *o = '\n';
  std::memset(o + 1, ' ', static_cast<size_t>(depth_ * style_.indent));
  out_.Commit(1 + static_cast<size_t>(depth_ * style_.indent));
}

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (depth_ > 0) {
    if (!first_) out_.Put(',');
    NewLine();
  }
  first_ = false;
}

void JsonWriter::Open(char bracket) {
  BeforeValue();
  out_.Put(bracket);
  ++depth_;
  first_ = true;
}

void JsonWriter::Close(char bracket) {
  --depth_;
  if (!first_) NewLine();
  out_.Put(bracket);
  first_ = false;
}

void JsonWriter::BeginObject() { Open('{'); }
void JsonWriter::EndObject() { Close('}'); }
void JsonWriter::BeginArray() { Open('['); }
void JsonWriter::EndArray() { Close(']'); }

void JsonWriter::Key(std::u16string_view name) {
  BeforeValue();
  WriteString(name);
  out_.Put(':');
  if (style_.indent > 0) out_.Put(' ');
  after_key_ = true;
}

void JsonWriter::Text(std::u16string_view text) {
  BeforeValue();
  WriteString(text);
}

void JsonWriter::EndText() { out_.Put('\n'); }

void JsonWriter::WriteString(std::u16string_view text) {
  out_.Put('"');
  // A piece at a time, each with room for its worst case (six bytes per
  // unit, "\uXXXX").
  constexpr size_t kPiece = 16 << 10;
  while (!text.empty()) {
    size_t n = std::min(text.size(), kPiece);
    // Keep a surrogate pair together.
    if (n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] < 0xDC00) --n;
    if (n == 0) n = 1;
    char* const start = out_.Room(6 * n);
    char* o = start;
    for (size_t i = 0; i < n; ++i) {
      const char16_t c = text[i];
      if (IsPlain(c)) {
        *o++ = static_cast<char>(c);
        continue;
      }
      switch (c) {
        case u'"':
        case u'\\':
          *o++ = '\\';
          *o++ = static_cast<char>(c);
          continue;
        case u'\b':
          *o++ = '\\';
          *o++ = 'b';
          continue;
        case u'\f':
          *o++ = '\\';
          *o++ = 'f';
          continue;
        case u'\n':
          *o++ = '\\';
          *o++ = 'n';
          continue;
        case u'\r':
          *o++ = '\\';
          *o++ = 'r';
          continue;
        case u'\t':
          *o++ = '\\';
          *o++ = 't';
          continue;
        default:
          break;
      }
      if (c < 0x20 || style_.ascii) {
        o = PutEscape(o, c);
      } else if (c < 0x80) {
        *o++ = static_cast<char>(c);  // U+007F
      } else if (c < 0x800) {
        *o++ = static_cast<char>(0xC0 | c >> 6);
        *o++ = static_cast<char>(0x80 | (c & 0x3F));
      } else if (c >= 0xD800 && c < 0xDC00 && i + 1 < n &&
                 text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
        const uint32_t cp =
            0x10000 + ((uint32_t{c} - 0xD800) << 10) + (text[++i] - 0xDC00);
        *o++ = static_cast<char>(0xF0 | cp >> 18);
        *o++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        *o++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
      } else if (c >= 0xD800 && c < 0xE000) {
        o = PutEscape(o, c);  // a lone surrogate: UTF-8 cannot carry it
      } else {
        *o++ = static_cast<char>(0xE0 | c >> 12);
        *o++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *o++ = static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    out_.Commit(static_cast<size_t>(o - start));
    text.remove_prefix(n);
  }
  out_.Put('"');
}

void JsonWriter::Scalar(const Value& value) {
  BeforeValue();
  char text[64];
  std::string_view written;
  switch (value.kind()) {
    case Kind::Null:
      written = "null";
      break;
    case Kind::Boolean:
      written = value.boolean() ? "true" : "false";
      break;
    case Kind::Double:
    case Kind::Single: {
      const double d =
          value.kind() == Kind::Double ? value.double_value() : value.single();
      if (!std::isfinite(d)) {
        ErrorRaise(kErrInvalidCall, u"",
                   u"JSON has no form for NaN or an infinity");
      }
      // The shortest text that reads back as the same number.
      const std::to_chars_result r =
          value.kind() == Kind::Double
              ? std::to_chars(text, text + sizeof text, d)
              : std::to_chars(text, text + sizeof text, value.single());
      written = std::string_view(text, static_cast<size_t>(r.ptr - text));
      break;
    }
    case Kind::Integer:
    case Kind::Long:
    case Kind::Byte:
    case Kind::Currency:
    case Kind::Decimal: {
      const quorvel::String digits = ToText(value);
      std::string bytes;
      AppendUtf8(digits.view(), bytes);
      out_.Write(bytes);
      return;
    }
    case Kind::Empty:
      written = "\"\"";
      break;
    case Kind::String:
      WriteString(value.string_view());
      return;
    case Kind::Date: {
      std::u16string iso(DateToIsoText(value.date()).view());
      if (const int64_t s = SecondsOfDay(value.date()); s != 0) {
        std::snprintf(text, sizeof text, "T%02d:%02d:%02d",
                      static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                      static_cast<int>(s % 60));
        iso.append(text, text + 9);
      }
      WriteString(iso);
      return;
    }
    default:
      RaiseStandard(kErrTypeMismatch);
  }
  out_.Write(written);
}

void JsonWriter::Tree(const Value& value) {
  if (!value.IsObject() || value.IsNothing()) {
    if (value.IsNothing()) {
      Scalar(Value::Null());
    } else {
      Scalar(value);
    }
    return;
  }
  Object* object = value.object();
  const Dictionary* dict = dynamic_cast<const Dictionary*>(object);
  if (const KxDocRec* rec = dynamic_cast<const KxDocRec*>(object))
    dict = &rec->fields();
  if (dict != nullptr) {
    BeginObject();
    for (const Dictionary::Entry& entry : *dict) {
      Key(entry.key.view());
      Tree(entry.value);
    }
    EndObject();
    return;
  }
  if (const CArray* list = dynamic_cast<const CArray*>(object)) {
    BeginArray();
    for (int32_t i = 0; i < list->Count(); ++i) Tree(list->Item(i));
    EndArray();
    return;
  }
  RaiseStandard(kErrTypeMismatch);
}

}  // namespace quorvel::cli
