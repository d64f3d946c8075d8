// Feeds arbitrary UTF-16 text (little-endian code unit pairs after a first
// byte that picks the separator) to CArray::FromCSV, then sorts and writes
// what it read. Only quorvel::Error may escape; anything else, or a failed
// check, is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "quorvel/carray.h"
#include "quorvel/error.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const std::u16string_view kSeparators[] = {u",",  u";",    u"\t", u"",
                                                    u"::", u"\r\n", u" "};
  std::u16string_view separator =
      kSeparators[data[0] % (sizeof kSeparators / sizeof kSeparators[0])];
  std::u16string text((size - 1) / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(data[1 + 2 * i] | data[2 + 2 * i] << 8);

  quorvel::Ref<quorvel::CArray> a = quorvel::CArray::Create();
  a->Add(quorvel::Value(1));
  try {
    a->FromCSV(text, separator);
    // Every field is a String, and no field spans a line break.
    for (const quorvel::Value& v : *a) {
      Check(v.IsString());
      Check(v.string_view().find(u"\r\n") == std::u16string_view::npos);
    }
    Check(a->Count() == 0 || text.find_first_not_of(u' ') != text.npos);
    quorvel::Ref<quorvel::CArray> sorted = a->Clone();
    sorted->Sort();
    for (int32_t i = 1; i < sorted->Count(); ++i) {
      Check(quorvel::CArray::CompareValues(sorted->Item(i - 1),
                                           sorted->Item(i)) <= 0);
    }
    Check(sorted->Count() == a->Count());
    // Text of Strings never fails; the JSON form is one bracketed line.
    std::u16string json = a->ToJSON().str();
    Check(json.front() == u'[' && json.back() == u']');
    Check(json.find(u'\n') == std::u16string::npos);
    a->ToCSV(separator);
  } catch (const quorvel::Error&) {
  }
  return 0;
}
