// The compact JSON writer. Objects are told apart by type name and walked
// by ContainerWalk, which reads the library's own containers directly and
// any other through its members by name.
#include <charconv>
#include <cstdint>
#include <string>

#include "collections/container_walk.h"
#include "core/std_exceptions.h"
#include "quorvel/convert.h"
#include "quorvel/error.h"
#include "quorvel/json.h"
#include "quorvel/safearray.h"

namespace quorvel::JSON {
namespace {

// Keeps the nesting depth of one writing, raising 28 past the limit.
class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : depth_(depth) {
    if (++depth_ > kMaxDepth) {
      --depth_;
      RaiseStandard(kErrOutOfStack);
    }
  }
  ~DepthGuard() { --depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int& depth_;
};

thread_local int t_depth = 0;

void AppendAscii(cStringBuilder& out, const char* begin, const char* end) {
  char16_t wide[48];
  size_t n = 0;
  for (const char* p = begin; p != end; ++p) wide[n++] = *p;
  out.Append(std::u16string_view(wide, n));
}

void AppendInteger(cStringBuilder& out, int64_t n) {
  char buffer[24];
  char* end = std::to_chars(buffer, buffer + sizeof(buffer), n).ptr;
  AppendAscii(out, buffer, end);
}

void AppendDecimal(cStringBuilder& out, const Decimal& d) {
  if (d.hi() != 0 || d.lo() == 0) {
    out.Append(d.ToText());
    return;
  }
  // Digits of the magnitude, the point placed by the scale and trailing
  // zeros after it dropped, as Decimal::ToText writes them.
  char digits[24];
  char* end = std::to_chars(digits, digits + sizeof(digits), d.lo()).ptr;
  int count = static_cast<int>(end - digits);
  int scale = d.scale();
  while (scale > 0 && end[-1] == '0') {
    --end;
    --count;
    --scale;
  }
  char text[48];
  char* p = text;
  if (d.negative() && d.lo() != 0) *p++ = '-';
  if (count <= scale) {
    *p++ = '0';
    *p++ = '.';
    for (int i = count; i < scale; ++i) *p++ = '0';
    for (int i = 0; i < count; ++i) *p++ = digits[i];
  } else {
    for (int i = 0; i < count - scale; ++i) *p++ = digits[i];
    if (scale > 0) {
      *p++ = '.';
      for (int i = count - scale; i < count; ++i) *p++ = digits[i];
    }
  }
  AppendAscii(out, text, p);
}

[[noreturn]] void RaiseUnsupported(std::u16string_view type_name) {
  ErrorRaise(kErrGeneralFailure, u"KxQuorvel",
             u"Object Type '" + std::u16string(type_name) +
                 u"' not supported for json convesion");
}

// Writes a member of a container being walked. An array member is copied
// first: its elements may run client code that replaces it in its container.
// An object member needs no copy, its walk holds it.
void WriteMember(cStringBuilder& out, const Value& item) {
  if (item.IsArray()) {
    WriteValue(out, Value(item));
  } else {
    WriteValue(out, item);
  }
}

void WriteObject(cStringBuilder& out, Object* object) {
  if (object == nullptr) {
    out.Append(u"null");
    return;
  }
  ContainerWalk walk(*object);
  DepthGuard guard(t_depth);
  bool first = true;
  switch (walk.shape()) {
    case ContainerShape::kMap:
      out.Append(u'{');
      walk.ForEachField<true>([&](std::u16string_view key, const Value& item) {
        out.Append(first ? u"\"" : u",\"");
        out.Append(key);  // keys are written as they are, unescaped
        out.Append(u"\":");
        first = false;
        WriteMember(out, item);
        return true;
      });
      out.Append(u'}');
      return;
    case ContainerShape::kList:
    case ContainerShape::kCollection:
      out.Append(u'[');
      walk.ForEachItem<true>([&](const Value& item) {
        if (!first) out.Append(u',');
        first = false;
        WriteMember(out, item);
        return true;
      });
      out.Append(u']');
      return;
    case ContainerShape::kOther:
      RaiseUnsupported(walk.type_name());
  }
}

void WriteDimension(cStringBuilder& out, const SafeArray& array,
                    int32_t dimension, std::vector<int32_t>& index) {
  const int32_t low = array.LowerBound(dimension + 1);
  const int32_t high = array.UpperBound(dimension + 1);
  const bool last = dimension + 1 == array.dimensions();
  out.Append(u'[');
  for (int32_t i = low; i <= high; ++i) {
    index[dimension] = i;
    if (last) {
      // A failing element leaves no text behind and stops nothing else.
      const int32_t mark = out.length();
      try {
        WriteValue(out, array.Get(array.FlatIndex(index)));
      } catch (const Error&) {
        out.Remove(mark, out.length() - mark);
      }
    } else {
      WriteDimension(out, array, dimension + 1, index);
    }
    if (i != high) out.Append(u',');
  }
  out.Append(u']');
}

}  // namespace

void EscapeString(cStringBuilder& out, std::u16string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  size_t run = 0;  // start of the stretch that needs no escape
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0x20 && c <= 0x7E && c != u'"' && c != u'\\') continue;
    out.Append(text.substr(run, i - run));
    run = i + 1;
    char16_t escape[6] = {u'\\', 0, 0, 0, 0, 0};
    size_t length = 2;
    switch (c) {
      case u'"':
        escape[1] = u'"';
        break;
      case u'\\':
        escape[1] = u'\\';
        break;
      case u'\b':
        escape[1] = u'b';
        break;
      case u'\f':
        escape[1] = u'f';
        break;
      case u'\n':
        escape[1] = u'n';
        break;
      case u'\r':
        escape[1] = u'r';
        break;
      case u'\t':
        escape[1] = u't';
        break;
      default:
        escape[1] = u'u';
        escape[2] = kHex[c >> 12];
        escape[3] = kHex[(c >> 8) & 15];
        escape[4] = kHex[(c >> 4) & 15];
        escape[5] = kHex[c & 15];
        length = 6;
    }
    out.Append(std::u16string_view(escape, length));
  }
  out.Append(text.substr(run));
}

void WriteArray(cStringBuilder& out, const Value& array) {
  const SafeArray& a = array.array();
  if (a.element_kind() != Kind::Variant) RaiseStandard(kErrTypeMismatch);
  if (a.dimensions() == 0) return;
  DepthGuard guard(t_depth);
  std::vector<int32_t> index(static_cast<size_t>(a.dimensions()));
  WriteDimension(out, a, 0, index);
}

void WriteValue(cStringBuilder& out, const Value& v) {
  switch (v.kind()) {
    case Kind::Empty:
      out.Append(u"\"\"");
      return;
    case Kind::Null:
      out.Append(u"null");
      return;
    case Kind::Boolean:
      out.Append(v.integer() != 0 ? u"true" : u"false");
      return;
    case Kind::Integer:
      AppendInteger(out, v.integer());
      return;
    case Kind::Long:
      AppendInteger(out, v.long_value());
      return;
    case Kind::Byte:
      AppendInteger(out, v.byte());
      return;
    case Kind::Decimal:
      AppendDecimal(out, v.decimal());
      return;
    case Kind::Date:
      out.Append(u'"');
      out.Append(DateToIsoText(v.date()));
      out.Append(u'"');
      return;
    case Kind::String:
      out.Append(u'"');
      EscapeString(out, v.string_view());
      out.Append(u'"');
      return;
    case Kind::Object:
      WriteObject(out, v.object());
      return;
    case Kind::Array:
      WriteArray(out, v);
      return;
    default:
      // Single, Double, Currency and the rest: their text form, whose
      // decimal separator is always a point here.
      out.Append(ToText(v));
  }
}

String WriteJSON(const Value& v) {
  Ref<cStringBuilder> out = cStringBuilder::Create();
  out->GrowGeometrically();
  quorvel::internal::TranslateStdExceptions([&] { WriteValue(*out, v); });
  return out->TakeString();
}

}  // namespace quorvel::JSON
