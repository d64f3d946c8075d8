// Values the library's MessagePack, and so a document database file, holds
// exactly: text of the Windows-1252 code page, numbers a Currency or a
// Double holds. Anything else is refused at its place rather than turned
// into '?' or rounded.
#include <charconv>
#include <cstdio>
#include <string>

#include "cli.h"

namespace quorvel::cli {

namespace {

// "character U+6771 (東)" for `bad`, a character of `text`.
std::string CharacterName(std::u16string_view text,
                          const quorvel::Unmappable& bad) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X",
                static_cast<unsigned>(bad.character));
  std::string what = "character " + std::string(code);
  if (bad.character < 0xD800 || bad.character >= 0xE000) {
    what += " (" +
            ToUtf8(text.substr(bad.index, bad.character > 0xFFFF ? 2 : 1)) +
            ")";
  }
  return what;
}

// The same for the first character of `text` without a Windows-1252 byte.
std::optional<std::string> Unmappable(std::u16string_view text) {
  const std::optional<quorvel::Unmappable> bad = FindUnmappable(text);
  if (!bad) return std::nullopt;
  return CharacterName(text, *bad);
}

constexpr const char* kNoByte =
    " has no Windows-1252 byte, which MessagePack strings here are made of";

std::string NumberRefusal(const Value& number) {
  return "the number " + ToUtf8(ToText(number)) +
         " is neither a Currency (4 decimal places) nor a Double exactly";
}

}  // namespace

std::optional<Value> PortableNumber(const Value& number) {
  if (number.kind() != Kind::Decimal) return number;
  const Decimal d = number.decimal();
  try {
    if (d.scale() <= 4) {
      d.ToCurrency();  // raises beyond the Currency range
      return number;
    }
  } catch (const Error&) {
  }
  // The shortest text of the Double must read back as the same number.
  const double x = d.ToDouble();
  char text[32];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, x);
  try {
    const std::optional<Decimal> back =
        Decimal::Parse(FromUtf8(std::string_view(text, r.ptr - text)));
    if (back && *back == d) return Value(x);
  } catch (const Error&) {
  }
  return std::nullopt;
}

void PortableTreeBuilder::Key(std::u16string_view name) {
  Check(name);
  TreeBuilder::Key(name);
}

void PortableTreeBuilder::Text(std::u16string_view text) {
  Check(text);
  TreeBuilder::Text(text);
}

void PortableTreeBuilder::Scalar(const Value& value) {
  const std::optional<Value> portable = PortableNumber(value);
  if (!portable) Fail(NumberRefusal(value));
  TreeBuilder::Scalar(*portable);
}

void PortableTreeBuilder::Check(std::u16string_view text) {
  if (const std::optional<std::string> bad = Unmappable(text))
    Fail(*bad + " of this string" + kNoByte);
}

void PortableTreeBuilder::Fail(const std::string& what) {
  throw Failure(Place(where_, reader_.token_line(), reader_.token_column()),
                what, kErrInvalidCall);
}

Value MakePortable(const Value& v, const std::string& where) {
  if (v.IsString()) {
    if (const std::optional<std::string> bad = Unmappable(v.string_view()))
      throw Failure(where, *bad + " of a string" + kNoByte, kErrInvalidCall);
    return v;
  }
  if (!v.IsObject()) {
    const std::optional<Value> portable = PortableNumber(v);
    if (!portable) throw Failure(where, NumberRefusal(v), kErrInvalidCall);
    return *portable;
  }
  if (Dictionary* dict = dynamic_cast<Dictionary*>(v.object())) {
    for (const Dictionary::Entry& entry : *dict) {
      MakePortable(Value(entry.key), where);
      Value* slot = dict->Find(entry.key.view());
      *slot = MakePortable(*slot, where);
    }
    return v;
  }
  if (CArray* list = dynamic_cast<CArray*>(v.object())) {
    for (int32_t i = 0; i < list->Count(); ++i)
      list->LetItem(i, MakePortable(list->Item(i), where));
    return v;
  }
  return v;
}

std::u16string ArgumentText(std::string_view arg, std::string_view where,
                            bool ansi) {
  // Decoded as input text is, so that an argument and a file agree on what
  // UTF-8 is; whatever stops the decoder short of the end is the fault.
  std::u16string text(arg.size(), u'\0');
  const auto* begin = reinterpret_cast<const uint8_t*>(arg.data());
  const uint8_t* const end = begin + arg.size();
  char16_t* o = text.data();
  const uint8_t* bad;
  const uint8_t* stop = DecodeUtf8(begin, end, o, &bad);
  if (stop != end) {
    char what[80];
    std::snprintf(what, sizeof what,
                  "byte 0x%02X at offset %zu is not UTF-8 here (the text must "
                  "be UTF-8)",
                  *stop, static_cast<size_t>(stop - begin));
    throw Failure(std::string(where), what, kErrInvalidCall);
  }
  text.resize(static_cast<size_t>(o - text.data()));
  if (ansi) {
    if (const std::optional<quorvel::Unmappable> bad = FindUnmappable(text)) {
      throw Failure(std::string(where),
                    CharacterName(text, *bad) + " at position " +
                        std::to_string(bad->position) +
                        " has no Windows-1252 byte, which the database "
                        "files are made of",
                    kErrInvalidCall);
    }
  }
  return text;
}

Value ReadPortableJson(std::u16string_view text, std::string_view where) {
  JSON::TextPieces source(text);
  JSON::StrictReader reader(source);
  const std::string name(where);
  PortableTreeBuilder builder(reader, name);
  try {
    reader.Read(builder);
  } catch (const Error& e) {
    if (reader.fault().empty()) throw;
    throw Failure(Place(name, reader.line(), reader.column()),
                  ToUtf8(reader.fault()), e.number());
  }
  return builder.Take();
}

}  // namespace quorvel::cli
