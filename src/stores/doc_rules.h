// The rules the two document stores share: how a document identifier is
// normalized and generated, what a field search matches, and the form of its
// result. KxDocStore keeps its documents in memory and KxDocsDB in a file;
// both answer alike because both follow these.
#ifndef QUORVEL_SRC_STORES_DOC_RULES_H_
#define QUORVEL_SRC_STORES_DOC_RULES_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "quorvel/string.h"
#include "quorvel/value.h"

namespace quorvel::internal {

// Trims blanks (U+0020) at both ends and upper-cases every letter.
String NormalizeDocId(std::u16string_view id);
// Returns "DOC" and `counter` with at least six digits.
String GeneratedDocId(int32_t counter);
// Returns `counter` + 1; raises 6 when it would pass 2,147,483,647.
int32_t NextDocCounter(int32_t counter);
// The field match of the document stores: both Null, or neither Null, the
// same kind code, `a` not an object, and equal by Value comparison (text
// compared case-sensitively).
bool DocValuesEqual(const Value& a, const Value& b);
// Builds the result of a field search: an array of Strings, or an empty
// array of Values when nothing matched.
Value DocIdArray(std::vector<String>&& ids);

}  // namespace quorvel::internal

#endif  // QUORVEL_SRC_STORES_DOC_RULES_H_
