#include "core/std_exceptions.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_util.h"

namespace quorvel {
namespace {

using internal::TranslateStdExceptions;

// What the standard library throws leaves as the library's error: memory
// running out (under either name) as 7, anything else as 51; an Error keeps
// its number, source and description, and a result comes back unchanged.
TEST(StdExceptionsTest, TranslatesAtTheBoundary) {
  ExpectRaisesStandard(
      TranslateStdExceptions([]() -> int { throw std::bad_alloc(); }),
      kErrOutOfMemory);
  ExpectRaisesStandard(TranslateStdExceptions([] {
                         std::vector<int> v;
                         v.reserve(v.max_size() + 1);
                       }),
                       kErrOutOfMemory);
  ExpectRaisesStandard(
      TranslateStdExceptions([] { (void)std::string().at(1); }), kErrInternal);
  ExpectRaisesStandard(
      TranslateStdExceptions([] { throw std::runtime_error("somewhere"); }),
      kErrInternal);
  ExpectRaises(TranslateStdExceptions(
                   [] { ErrorRaise(9, u"CArray", u"Index (3) is out"); }),
               9, u"CArray", u"Index (3) is out");
  EXPECT_EQ(TranslateStdExceptions([] { return 42; }), 42);
  auto owned = TranslateStdExceptions([] { return std::make_unique<int>(7); });
  EXPECT_EQ(*owned, 7);
  int counted = 0;
  int& same = TranslateStdExceptions([&]() -> int& { return counted; });
  EXPECT_EQ(&same, &counted);
}

}  // namespace
}  // namespace quorvel
