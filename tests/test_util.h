// Helpers shared by the tests.
#ifndef QUORVEL_TESTS_TEST_UTIL_H_
#define QUORVEL_TESTS_TEST_UTIL_H_

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quorvel/quorvel.h"

namespace quorvel::testing {

// Smaller under the sanitizers: they look for memory errors, not volume.
inline int Scaled(int n) {
#if defined(__SANITIZE_ADDRESS__)
  return n / 4;
#else
  return n;
#endif
}

inline std::string U8(std::u16string_view s) { return ToUtf8(s); }

// The text of each element of a one-dimensional array, each followed by ';'.
inline std::u16string Joined(const Value& array) {
  std::u16string out;
  for (int32_t i = LBound(array); i <= UBound(array); ++i) {
    out += ToText(ArrayItem(array, i)).view();
    out += u';';
  }
  return out;
}

// Reads pairs of hex digits, skipping spaces: "DC 00 01" or "DC0001".
inline std::vector<uint8_t> FromHex(std::string_view hex) {
  std::vector<uint8_t> out;
  std::string digits;
  for (char c : hex) {
    if (c != ' ') digits += c;
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    out.push_back(
        static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return out;
}

// Up to `n` bytes from `from` as upper-case hex pairs, spaced or not.
inline std::string ToHex(std::span<const uint8_t> bytes, size_t from = 0,
                         size_t n = std::string::npos, bool spaced = false) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = from; i < bytes.size() && i - from < n; ++i) {
    if (spaced && i > from) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

// A test with a fresh directory of its own, removed after it.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ =
        (std::filesystem::temp_directory_path() / "quorvelXXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string dir_;
};

// A "CArray" whose reading changes `holder`; non-owning, so no cycle.
class ListThatChangesItsHolder final : public Object {
 public:
  ListThatChangesItsHolder(Dictionary* holder, std::u16string key)
      : holder_(holder), key_(std::move(key)) {}
  const ClassInfo& Class() const override {
    static const ClassInfo info =
        ClassBuilder<ListThatChangesItsHolder>(u"ListThatChangesItsHolder")
            .Get<&ListThatChangesItsHolder::Count>(u"Count")
            .Get<&ListThatChangesItsHolder::Item>(u"Item", {u"i"})
            .Build();
    return info;
  }
  std::u16string_view TypeName() const override { return u"CArray"; }
  int32_t Count() const { return 1; }
  Value Item(int32_t) const {
    holder_->Remove(key_);
    for (int k = 0; k < 200; ++k)
      holder_->Slot(String(u"added" + ToText(Value(k)).str())) = Value(k);
    return Value(7);
  }

 private:
  Dictionary* holder_;
  std::u16string key_;
};

// root = {"list": [ListThatChangesItsHolder of "list", 1], "x": 2}.
inline Ref<Dictionary> RootWithAChangingList() {
  Ref<Dictionary> root = Dictionary::Create();
  {
    Ref<CArray> list = CArray::Create();
    list->Add(
        Value(Ref<Object>(new ListThatChangesItsHolder(root.get(), u"list"))));
    list->Add(Value(1));
    root->Slot(String(u"list")) = Value(list);
  }
  root->Slot(String(u"x")) = Value(2);
  return root;
}

}  // namespace quorvel::testing

// Checks the number, source and description of the raised quorvel::Error.
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
    }                                                                       \
    if (!quorvel_raised_) ADD_FAILURE() << #statement << " raised nothing"; \
  } while (false)

// Checks the number and the standard description with source "KxQuorvel".
#define ExpectRaisesStandard(statement, number_) \
  ExpectRaises(statement, number_, u"KxQuorvel", \
               ::quorvel::StandardDescription(number_))

#endif  // QUORVEL_TESTS_TEST_UTIL_H_
