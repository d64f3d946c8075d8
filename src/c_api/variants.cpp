// The C variant: conversion to and from `Value`, and the functions that
// build, copy and free variants.
#include "c_api/variants.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "c_api/guard.h"
#include "c_api/handles.h"
#include "quorvel/decimal.h"
#include "quorvel/error.h"
#include "quorvel/safearray.h"
#include "quorvel/utf8.h"

namespace quorvel::c_api {

namespace {

constexpr char kNoText[] = "";
constexpr uint16_t kNoUnits[] = {0};

void* CopyOut(const void* data, size_t bytes, size_t terminator) {
  void* copy = std::malloc(bytes + terminator);
  if (copy == nullptr) throw std::bad_alloc();
  if (bytes != 0) std::memcpy(copy, data, bytes);
  std::memset(static_cast<char*>(copy) + bytes, 0, terminator);
  return copy;
}

void SetUtf16(quorvel_variant* out, std::u16string_view text) {
  out->type = QUORVEL_STRING;
  if (text.empty()) {
    out->flags = QUORVEL_UTF16;
    out->as.utf16.data = kNoUnits;
  } else {
    out->flags = QUORVEL_UTF16 | QUORVEL_OWNED;
    out->as.utf16.data = static_cast<const uint16_t*>(
        CopyOut(text.data(), text.size() * sizeof(char16_t), 2));
  }
  out->as.utf16.size = text.size();
}

String TextOf(const quorvel_variant& v) {
  if (v.flags & QUORVEL_UTF16) {
    if (v.as.utf16.data == nullptr && v.as.utf16.size != 0)
      RaiseBadArgument(u"a String variant's text is NULL");
    return String(std::u16string_view(
        reinterpret_cast<const char16_t*>(v.as.utf16.data), v.as.utf16.size));
  }
  if (v.as.utf8.data == nullptr && v.as.utf8.size != 0)
    RaiseBadArgument(u"a String variant's text is NULL");
  return DecodeUtf8(std::string_view(v.as.utf8.data, v.as.utf8.size),
                    u"a String variant");
}

bool IsArrayType(int32_t type) {
  return type > QUORVEL_ARRAY && type <= QUORVEL_ARRAY + QUORVEL_BYTE;
}

}  // namespace

void SetUtf8(quorvel_variant* out, std::string_view text) {
  out->type = QUORVEL_STRING;
  if (text.empty()) {
    out->flags = 0;
    out->as.utf8.data = kNoText;
  } else {
    out->flags = QUORVEL_OWNED;
    out->as.utf8.data =
        static_cast<const char*>(CopyOut(text.data(), text.size(), 1));
  }
  out->as.utf8.size = text.size();
}

String DecodeUtf8(std::string_view text, std::u16string_view what) {
  String decoded;
  if (!Utf8ToString(text, &decoded))
    RaiseBadArgument(std::u16string(what) + u" is not well-formed UTF-8");
  return decoded;
}

Value FromVariant(const quorvel_variant& v) {
  switch (v.type) {
    case QUORVEL_EMPTY:
      return Value();
    case QUORVEL_NULL:
      return Value::Null();
    case QUORVEL_INTEGER:
      return Value(v.as.integer);
    case QUORVEL_LONG:
      return Value(v.as.long_value);
    case QUORVEL_SINGLE:
      return Value(v.as.single);
    case QUORVEL_DOUBLE:
      return Value(v.as.double_value);
    case QUORVEL_CURRENCY:
      return Value::Currency(v.as.currency);
    case QUORVEL_DATE:
      return Value::Date(v.as.date);
    case QUORVEL_STRING:
      return Value(TextOf(v));
    case QUORVEL_OBJECT:
      return Value(Ref<Object>(ObjectOf(v.as.object)));
    case QUORVEL_ERROR:
      return Value::ErrorCode(v.as.error_code);
    case QUORVEL_BOOLEAN:
      return Value(v.as.boolean != 0);
    case QUORVEL_DECIMAL: {
      const quorvel_decimal& d = v.as.decimal;
      if (d.scale > Decimal::kMaxScale)
        RaiseBadArgument(u"a Decimal's scale is above 28");
      return Value::Decimal(Decimal(d.hi, d.lo, d.scale, d.negative != 0));
    }
    case QUORVEL_BYTE:
      return Value::Byte(v.as.byte);
  }
  if (!IsArrayType(v.type))
    RaiseBadArgument(u"a variant's kind code is not one of the library's");
  if (v.as.array == nullptr) RaiseBadArgument(u"an array variant holds NULL");
  if (VarType(v.as.array->value) != v.type)
    RaiseBadArgument(u"an array variant's kind code is not its array's");
  return v.as.array->value;
}

void ToVariant(Value&& v, bool utf16, quorvel_variant* out) {
  quorvel_variant r;
  r.type = VarType(v);
  r.flags = 0;
  std::memset(&r.as, 0, sizeof r.as);
  switch (v.kind()) {
    case Kind::Integer:
      r.as.integer = v.integer();
      break;
    case Kind::Long:
      r.as.long_value = v.long_value();
      break;
    case Kind::Single:
      r.as.single = v.single();
      break;
    case Kind::Double:
      r.as.double_value = v.double_value();
      break;
    case Kind::Currency:
      r.as.currency = v.currency();
      break;
    case Kind::Date:
      r.as.date = v.date();
      break;
    case Kind::Error:
      r.as.error_code = v.error_code();
      break;
    case Kind::Boolean:
      r.as.boolean = v.boolean() ? -1 : 0;
      break;
    case Kind::Byte:
      r.as.byte = v.byte();
      break;
    case Kind::Decimal: {
      const Decimal d = v.decimal();
      r.as.decimal = {d.lo(), d.hi(), d.scale(),
                      static_cast<uint8_t>(d.negative() ? 1 : 0)};
      break;
    }
    case Kind::String:
      if (utf16) {
        SetUtf16(&r, v.string_view());
      } else {
        SetUtf8(&r, ToUtf8(v.string_view()));
      }
      break;
    case Kind::Object:
      r.as.object = HandleOf(v.object());
      r.flags = QUORVEL_OWNED;
      break;
    case Kind::Array:
      r.as.array = new quorvel_array{std::move(v)};
      r.flags = QUORVEL_OWNED;
      break;
    default:
      break;
  }
  *out = r;
}

void ToVariant(const Value& v, bool utf16, quorvel_variant* out) {
  ToVariant(Value(v), utf16, out);
}

}  // namespace quorvel::c_api

using quorvel::c_api::Guard;
using quorvel::c_api::RaiseBadArgument;

extern "C" {

void quorvel_variant_init(quorvel_variant* v) {
  if (v == nullptr) return;
  v->type = QUORVEL_EMPTY;
  v->flags = 0;
  std::memset(&v->as, 0, sizeof v->as);
}

void quorvel_variant_clear(quorvel_variant* v) {
  if (v == nullptr) return;
  if (v->flags & QUORVEL_OWNED) {
    if (v->type == QUORVEL_STRING) {
      std::free(
          const_cast<void*>((v->flags & QUORVEL_UTF16)
                                ? static_cast<const void*>(v->as.utf16.data)
                                : static_cast<const void*>(v->as.utf8.data)));
    } else if (v->type == QUORVEL_OBJECT && v->as.object != nullptr) {
      // A stale handle here is the caller's mistake; it is recorded as the
      // last error and otherwise ignored.
      Guard([&] { quorvel::c_api::ReleaseHandle(v->as.object); });
    } else if (quorvel::c_api::IsArrayType(v->type)) {
      delete v->as.array;
    }
  }
  quorvel_variant_init(v);
}

int32_t quorvel_variant_set_utf8(quorvel_variant* v, const char* text,
                                 size_t size) {
  return Guard([&] {
    if (v == nullptr) RaiseBadArgument(u"v is NULL");
    if (text == nullptr && size != 0) RaiseBadArgument(u"text is NULL");
    std::string_view view(text == nullptr ? "" : text, size);
    if (quorvel::FindUtf8Fault(view))
      RaiseBadArgument(u"text is not well-formed UTF-8");
    quorvel::c_api::SetUtf8(v, view);
  });
}

int32_t quorvel_variant_set_utf16(quorvel_variant* v, const uint16_t* text,
                                  size_t size) {
  return Guard([&] {
    if (v == nullptr) RaiseBadArgument(u"v is NULL");
    if (text == nullptr && size != 0) RaiseBadArgument(u"text is NULL");
    quorvel::c_api::SetUtf16(
        v, std::u16string_view(reinterpret_cast<const char16_t*>(text), size));
  });
}

int32_t quorvel_variant_copy(quorvel_variant* dst, const quorvel_variant* src) {
  return Guard([&] {
    if (dst == nullptr) RaiseBadArgument(u"dst is NULL");
    if (src == nullptr) RaiseBadArgument(u"src is NULL");
    quorvel::c_api::ToVariant(quorvel::c_api::FromVariant(*src),
                              (src->flags & QUORVEL_UTF16) != 0, dst);
  });
}

}  // extern "C"
