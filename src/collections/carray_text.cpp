// CArray: the display, joined, CSV and JSON text forms, and reading CSV back.
//
// These are the list's own simple rules: the JSON form writes every element
// as a JSON string, and the CSV reader splits without honouring quotes.
#include <string>
#include <string_view>

#include "quorvel/carray.h"
#include "quorvel/convert.h"

namespace quorvel {

namespace {

constexpr std::u16string_view kCrLf = u"\r\n";

// The text of an element. An object's default member may change the list
// that holds it, so it is read from a copy.
String ElementText(const Value& element) {
  if (element.IsObject()) {
    Value copy(element);
    return ToText(copy);
  }
  return ToText(element);
}

std::u16string_view TrimSpaces(std::u16string_view text) {
  size_t first = text.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return {};
  size_t last = text.find_last_not_of(u' ');
  return text.substr(first, last - first + 1);
}

// Calls `piece` for each part of `text` between occurrences of `separator`;
// an empty separator leaves the text whole.
template <class Piece>
void SplitText(std::u16string_view text, std::u16string_view separator,
               Piece&& piece) {
  if (separator.empty()) {
    piece(text);
    return;
  }
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    if (at == std::u16string_view::npos) {
      piece(text.substr(start));
      return;
    }
    piece(text.substr(start, at - start));
    start = at + separator.size();
  }
}

void CsvQuote(std::u16string_view text, std::u16string* out) {
  // The comma decides whatever the separator is; a lone CR or LF does not.
  bool quote = text.find(u',') != std::u16string_view::npos ||
               text.find(u'"') != std::u16string_view::npos ||
               text.find(kCrLf) != std::u16string_view::npos;
  if (!quote) {
    out->append(text);
    return;
  }
  out->push_back(u'"');
  for (char16_t c : text) {
    if (c == u'"') out->push_back(u'"');
    out->push_back(c);
  }
  out->push_back(u'"');
}

String CsvUnquote(std::u16string_view text) {
  text = TrimSpaces(text);
  if (text.size() < 2 || text.front() != u'"' || text.back() != u'"')
    return String(text);
  std::u16string_view inner = text.substr(1, text.size() - 2);
  std::u16string out;
  out.reserve(inner.size());
  for (size_t i = 0; i < inner.size(); ++i) {
    out.push_back(inner[i]);
    if (inner[i] == u'"' && i + 1 < inner.size() && inner[i + 1] == u'"') ++i;
  }
  return String(out);
}

void JsonEscape(std::u16string_view text, std::u16string* out) {
  for (char16_t c : text) {
    switch (c) {
      case u'\\':
        out->append(u"\\\\");
        break;
      case u'"':
        out->append(u"\\\"");
        break;
      case u'\b':
        out->append(u"\\b");
        break;
      case u'\f':
        out->append(u"\\f");
        break;
      case u'\n':
        out->append(u"\\n");
        break;
      case u'\r':
        out->append(u"\\r");
        break;
      case u'\t':
        out->append(u"\\t");
        break;
      default:
        out->push_back(c);
    }
  }
}

}  // namespace

String CArray::ToString(std::u16string_view sep) const {
  if (count_ == 0) return String(u"[]");
  std::u16string out = u"[";
  for (int32_t i = 0, n = count_; i < n && i < count_; ++i) {
    if (i > 0) out.append(sep);
    const Value& element = items_[i];
    if (element.IsObject()) {
      out.append(u"[Object]");
    } else if (element.IsString()) {
      out.push_back(u'"');
      out.append(element.string_view());
      out.push_back(u'"');
    } else {
      out.append(ToText(element).view());
    }
  }
  out.push_back(u']');
  return String(out);
}

String CArray::JoinValues(std::u16string_view Delimiter) const {
  std::u16string out;
  for (int32_t i = 0, n = count_; i < n && i < count_; ++i) {
    if (i > 0) out.append(Delimiter);
    out.append(ElementText(items_[i]).view());
  }
  return String(out);
}

String CArray::ToCSV(std::u16string_view Separator) const {
  std::u16string out;
  for (int32_t i = 0, n = count_; i < n && i < count_; ++i) {
    if (i > 0) out.append(Separator);
    CsvQuote(ElementText(items_[i]).view(), &out);
  }
  return String(out);
}

void CArray::FromCSV(std::u16string_view CSVText,
                     std::u16string_view Separator) {
  // The text may be an element of this list; keep it past the Clear.
  String text(CSVText);
  std::u16string separator(Separator);
  Clear();
  if (TrimSpaces(text.view()).empty()) return;
  SplitText(text.view(), kCrLf, [&](std::u16string_view line) {
    line = TrimSpaces(line);
    if (line.empty()) return;
    SplitText(line, separator, [&](std::u16string_view piece) {
      Add(Value(CsvUnquote(piece)));
    });
  });
}

String CArray::ToJSON() const {
  if (count_ == 0) return String(u"[]");
  std::u16string out = u"[";
  for (int32_t i = 0, n = count_; i < n && i < count_; ++i) {
    if (i > 0) out.push_back(u',');
    out.push_back(u'"');
    JsonEscape(ElementText(items_[i]).view(), &out);
    out.push_back(u'"');
  }
  out.push_back(u']');
  return String(out);
}

}  // namespace quorvel
