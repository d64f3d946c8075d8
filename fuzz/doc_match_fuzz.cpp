// Matches one field of arbitrary bytes taken as a document record's body,
// and decodes the same bytes: the two must agree wherever the matcher
// decides. The first two bytes choose the query and the field name.
//
// The matcher may leave a sound body undecided (a name that is not text),
// and may decide one the decoder refuses only for a name given twice; it
// raises only where the decoder raises too (a Date outside the calendar).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "quorvel/error.h"
#include "quorvel/kxdocrec.h"
#include "quorvel/msgpack.h"
#include "quorvel/value.h"
#include "stores/doc_match.h"
#include "stores/doc_rules.h"

namespace {

using quorvel::Value;
using quorvel::internal::DocFieldMatcher;

void Check(bool ok) {
  if (!ok) std::abort();
}

const Value& Query(uint8_t pick) {
  static const Value kQueries[] = {
      Value::Null(),  Value(true),      Value(false),
      Value(5),       Value(0),         Value(0.0),
      Value(-0.0),    Value(5.0),       Value::Currency(50000),
      Value::Date(0), Value::Date(5),   Value(u""),
      Value(u"a"),    Value(u"\u20ac"), Value(int16_t{5}),
      Value()};
  return kQueries[pick % std::size(kQueries)];
}

std::u16string_view Name(uint8_t pick) {
  static constexpr std::u16string_view kNames[] = {u"n", u"N",      u"",
                                                   u"a", u"\u20ac", u"5"};
  return kNames[pick % std::size(kNames)];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const Value& query = Query(data[0]);
  const std::u16string_view name = Name(data[1]);
  const std::span<const uint8_t> body(data + 2, size - 2);

  DocFieldMatcher::Result result = DocFieldMatcher::Result::kUndecided;
  bool match_raised = false;
  try {
    result = DocFieldMatcher(name, query).Match(body);
  } catch (const quorvel::Error& e) {
    Check(e.number() == quorvel::kErrOverflow);
    match_raised = true;
  }
  quorvel::Ref<quorvel::KxDocRec> rec;
  int32_t decode_error = 0;
  try {
    rec = quorvel::Ref<quorvel::KxDocRec>(
        quorvel::mMsgPack::DecodeBytes(body).object_as<quorvel::KxDocRec>());
  } catch (const quorvel::Error& e) {
    decode_error = e.number();
  }

  if (match_raised) {
    Check(decode_error != 0);
  } else if (decode_error != 0) {
    Check(result == DocFieldMatcher::Result::kUndecided ||
          decode_error == quorvel::kErrKeyExists);
  } else if (!rec) {
    Check(result == DocFieldMatcher::Result::kUndecided);
  } else if (result != DocFieldMatcher::Result::kUndecided) {
    const Value* field = rec->fields().Find(name);
    const bool equal =
        field != nullptr && quorvel::internal::DocValuesEqual(*field, query);
    Check(equal == (result == DocFieldMatcher::Result::kMatch));
  }
  return 0;
}
