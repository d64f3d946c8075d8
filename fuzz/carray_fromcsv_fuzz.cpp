// CArray::FromCSV on UTF-16 text (byte 0 picks the separator), then written.
#include "fuzz_util.h"
#include "quorvel/carray.h"

using namespace quorvel;
using namespace quorvel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const std::u16string_view kSeparators[] = {u",",  u";",    u"\t", u"",
                                                    u"::", u"\r\n", u" "};
  const std::u16string_view separator =
      kSeparators[data[0] % std::size(kSeparators)];
  const std::u16string text = Units(data + 1, size - 1);
  Ref<CArray> a = CArray::Create();
  a->Add(Value(1));
  ErrorOf([&] {
    a->FromCSV(text, separator);
    // Every field is a String, and no field spans a line break.
    for (const Value& v : *a)
      Check(v.IsString() &&
            v.string_view().find(u"\r\n") == std::u16string_view::npos);
    Check(a->Count() == 0 || text.find_first_not_of(u' ') != text.npos);
    // Text of Strings never fails; the JSON form is one bracketed line.
    const std::u16string json = a->ToJSON().str();
    Check(json.front() == u'[' && json.back() == u']' &&
          json.find(u'\n') == json.npos);
    a->ToCSV(separator);
  });
  return 0;
}
