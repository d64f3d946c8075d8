// The field matcher agrees with decoding the body wherever it decides; it
// may leave a name that is not text undecided, decide a repeated name the
// decoder refuses, and raise only where the decoder does.
#include "fuzz_util.h"
#include "quorvel/kxdocrec.h"
#include "quorvel/msgpack.h"
#include "quorvel/value.h"
#include "stores/doc_match.h"
#include "stores/doc_rules.h"

using namespace quorvel;
using namespace quorvel::fuzz;
using Result = internal::DocFieldMatcher::Result;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const Value kQueries[] = {
      Value::Null(),  Value(true),      Value(false),
      Value(5),       Value(0),         Value(0.0),
      Value(-0.0),    Value(5.0),       Value::Currency(50000),
      Value::Date(0), Value::Date(5),   Value(u""),
      Value(u"a"),    Value(u"\u20ac"), Value(int16_t{5}),
      Value()};
  static constexpr std::u16string_view kNames[] = {u"n", u"N",      u"",
                                                   u"a", u"\u20ac", u"5"};
  const Value& query = kQueries[data[0] % std::size(kQueries)];
  const std::u16string_view name = kNames[data[1] % std::size(kNames)];
  const std::span<const uint8_t> body(data + 2, size - 2);
  Result result = Result::kUndecided;
  const bool match_raised =
      ErrorOf(
          [&] { result = internal::DocFieldMatcher(name, query).Match(body); },
          {kErrOverflow}) != 0;
  Ref<KxDocRec> rec;
  const int32_t decode_error = ErrorOf([&] {
    rec = Ref<KxDocRec>(mMsgPack::DecodeBytes(body).object_as<KxDocRec>());
  });
  if (match_raised) {
    Check(decode_error != 0);
  } else if (decode_error != 0) {
    Check(result == Result::kUndecided || decode_error == kErrKeyExists);
  } else if (!rec) {
    Check(result == Result::kUndecided);
  } else if (result != Result::kUndecided) {
    const Value* field = rec->fields().Find(name);
    Check((field != nullptr && internal::DocValuesEqual(*field, query)) ==
          (result == Result::kMatch));
  }
  return 0;
}
