// Values as the library's MessagePack, and so a document database file,
// holds them exactly. Text and containers are the library's storability
// check; numbers typed as JSON take one more step of the tool's own: a
// number a Currency cannot hold travels as the Double whose shortest text
// is that number, and any other is refused rather than rounded.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "cli.h"
#include "quorvel/storable.h"

namespace quorvel::cli {

namespace {

std::string NumberRefusal(std::string_view text) {
  return "the number " + Quote(text) +
         " is neither a Currency (4 decimal places) nor a Double exactly";
}

}  // namespace

std::optional<Value> PortableNumber(const Value& number) {
  if (number.kind() != Kind::Decimal) return number;
  const Decimal d = number.decimal();
  // A Currency has no negative zero; a Double does.
  if (d.IsZero() && d.negative()) return Value(-0.0);
  if (!CheckStorable(number, StorableTarget::kMsgPack)) return number;
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
  Check(CheckStorableText(name, StorableTarget::kText, u"this name"));
  TreeBuilder::Key(name);
}

void PortableTreeBuilder::Text(std::u16string_view text) {
  Check(CheckStorableText(text, StorableTarget::kMsgPack, u"this string"));
  TreeBuilder::Text(text);
}

void PortableTreeBuilder::Scalar(const Value& value) {
  if (value.kind() == Kind::Double && !reader_.number_exact()) {
    char shortest[32];
    const std::to_chars_result r = std::to_chars(
        shortest, shortest + sizeof shortest, value.double_value());
    Fail(NumberRefusal(ToUtf8(reader_.number_text())) + " (a Double reads " +
         std::string(shortest, r.ptr) + ")");
  }
  const std::optional<Value> portable = PortableNumber(value);
  if (!portable) Fail(NumberRefusal(ToUtf8(reader_.number_text())));
  TreeBuilder::Scalar(*portable);
}

void PortableTreeBuilder::Check(const std::optional<StorableFault>& fault) {
  if (fault) Fail(ToUtf8(fault->description));
}

void PortableTreeBuilder::Fail(const std::string& what) {
  throw Failure(Place(where_, reader_.token_line(), reader_.token_column()),
                what, kErrInvalidCall);
}

namespace {

// Puts the Double of each Decimal that PortableNumber turns into one in its
// place, in the containers themselves.
void PortableNumbers(const Value& v, const std::string& where) {
  if (Dictionary* dict = v.object_as<Dictionary>()) {
    for (const Dictionary::Entry& entry : *dict) {
      Value* slot = dict->Find(entry.key.view());
      if (slot->IsObject()) {
        PortableNumbers(*slot, where);
      } else if (const std::optional<Value> p = PortableNumber(*slot)) {
        *slot = *p;
      }
    }
  } else if (CArray* list = v.object_as<CArray>()) {
    for (int32_t i = 0; i < list->Count(); ++i) {
      const Value item = list->Item(i);
      if (item.IsObject()) {
        PortableNumbers(item, where);
      } else if (const std::optional<Value> p = PortableNumber(item)) {
        list->LetItem(i, *p);
      }
    }
  }
}

}  // namespace

Value MakePortable(const Value& v, const std::string& where) {
  Value portable = v;
  if (v.IsObject()) {
    PortableNumbers(v, where);
  } else if (const std::optional<Value> p = PortableNumber(v)) {
    portable = *p;
  }
  if (const std::optional<StorableFault> fault =
          CheckStorable(portable, StorableTarget::kMsgPack))
    throw Failure(where, ToUtf8(fault->description), kErrInvalidCall);
  return portable;
}

std::u16string ArgumentText(std::string_view arg, std::string_view file,
                            std::u16string_view what,
                            std::optional<StorableTarget> target) {
  // Decoded as input text is, so that an argument and a file agree on what
  // UTF-8 is.
  std::u16string text;
  Utf8Fault bad;
  if (!Utf8ToUtf16(arg, &text, &bad)) {
    char message[80];
    std::snprintf(message, sizeof message,
                  "byte 0x%02X at offset %zu is not UTF-8 here (the text must "
                  "be UTF-8)",
                  bad.byte, bad.offset);
    throw Failure(std::string(file) + ": " + ToUtf8(what), message,
                  kErrInvalidCall);
  }
  if (target) {
    if (const std::optional<StorableFault> fault =
            CheckStorableText(text, *target, what))
      throw Failure(std::string(file), ToUtf8(fault->description),
                    kErrInvalidCall);
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
