// Helpers shared by the tests.
#ifndef QUORVEL_TESTS_TEST_UTIL_H_
#define QUORVEL_TESTS_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "quorvel/quorvel.h"

namespace quorvel::testing {

inline std::string U8(std::u16string_view s) { return ToUtf8(s); }

}  // namespace quorvel::testing

// Checks that `statement` raises a quorvel::Error with exactly this number,
// source and description (UTF-16 literals), and nothing else.
#define ExpectRaises(statement, number_, source_, description_)             \
  do {                                                                      \
    bool quorvel_raised_ = false;                                           \
    try {                                                                   \
      statement;                                                            \
    } catch (const ::quorvel::Error& quorvel_e_) {                          \
      quorvel_raised_ = true;                                               \
      EXPECT_EQ(quorvel_e_.number(), (number_)) << #statement;              \
      EXPECT_EQ(::quorvel::testing::U8(quorvel_e_.source()),                \
                ::quorvel::testing::U8(source_))                            \
          << #statement;                                                    \
      EXPECT_EQ(::quorvel::testing::U8(quorvel_e_.description()),           \
                ::quorvel::testing::U8(description_))                       \
          << #statement;                                                    \
    } catch (const std::exception& quorvel_other_) {                        \
      ADD_FAILURE() << #statement << " threw a non-quorvel exception: "     \
                    << quorvel_other_.what();                               \
      quorvel_raised_ = true;                                               \
    }                                                                       \
    if (!quorvel_raised_) ADD_FAILURE() << #statement << " raised nothing"; \
  } while (false)

// Checks the number and the standard description with source "KxQuorvel".
#define ExpectRaisesStandard(statement, number_) \
  ExpectRaises(statement, number_, u"KxQuorvel", \
               ::quorvel::StandardDescription(number_))

#endif  // QUORVEL_TESTS_TEST_UTIL_H_
