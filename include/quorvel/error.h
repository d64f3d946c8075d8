// The one failure report of the library: every member that fails raises an
// `Error` carrying a number, a source and a description, as the platform's
// run-time errors do. Nothing else is thrown across the public API.
#ifndef QUORVEL_ERROR_H_
#define QUORVEL_ERROR_H_

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace quorvel {

// The source of every error raised without one of its own.
inline constexpr std::u16string_view kLibrarySource = u"KxQuorvel";

// Platform error numbers the library raises or passes through.
inline constexpr int32_t kErrInvalidCall = 5;
inline constexpr int32_t kErrOverflow = 6;
inline constexpr int32_t kErrOutOfMemory = 7;
inline constexpr int32_t kErrSubscript = 9;
inline constexpr int32_t kErrDivisionByZero = 11;
inline constexpr int32_t kErrTypeMismatch = 13;
inline constexpr int32_t kErrOutOfStack = 28;
// A C++ exception of the library's own making that is no `Error`: a defect,
// reported rather than let through.
inline constexpr int32_t kErrInternal = 51;
inline constexpr int32_t kErrBadFileNameOrNumber = 52;
inline constexpr int32_t kErrFileNotFound = 53;
inline constexpr int32_t kErrDeviceIo = 57;
inline constexpr int32_t kErrDiskFull = 61;
inline constexpr int32_t kErrInputPastEnd = 62;
inline constexpr int32_t kErrPathFileAccess = 75;
inline constexpr int32_t kErrPathNotFound = 76;
inline constexpr int32_t kErrObjectNotSet = 91;
inline constexpr int32_t kErrInvalidUseOfNull = 94;
inline constexpr int32_t kErrObjectRequired = 424;
inline constexpr int32_t kErrCantCreateObject = 429;
inline constexpr int32_t kErrNoSuchMember = 438;
// What a client callback that fails in its own way (a Python exception, say)
// becomes on its way back through the library.
inline constexpr int32_t kErrAutomation = 440;
inline constexpr int32_t kErrArgumentNotOptional = 449;
inline constexpr int32_t kErrWrongArgumentCount = 450;
inline constexpr int32_t kErrKeyExists = 457;
inline constexpr int32_t kErrElementNotFound = 32811;

// The object-error base (hex 80040000) and the library's two numbers on it.
inline constexpr int32_t kObjectErrorBase = static_cast<int32_t>(0x80040000u);
// The general failure (hex 800403E9) of the stores and of the JSON writer: a
// database not open, a file of the wrong kind, a duplicate document, an object
// the writer cannot put in JSON.
inline constexpr int32_t kErrGeneralFailure = kObjectErrorBase + 1001;
inline constexpr int32_t kErrRecordDetached = kObjectErrorBase + 1002;

// A raised failure. Thread-compatible; copies are independent.
class Error : public std::exception {
 public:
  Error(int32_t number, std::u16string_view source,
        std::u16string_view description);

  int32_t number() const { return number_; }
  std::u16string_view source() const { return source_; }
  std::u16string_view description() const { return description_; }

  // Returns "error NUMBER (SOURCE): DESCRIPTION" in UTF-8. It is made on
  // the first call, since most errors are caught and read by number and
  // description, and raising one should cost no more than it must.
  const char* what() const noexcept override;

 private:
  int32_t number_;
  std::u16string source_;
  std::u16string description_;
  mutable std::string what_;
};

// Raises an error with the given number, source and description. An empty
// source becomes `kLibrarySource`.
[[noreturn]] void ErrorRaise(int32_t number, std::u16string_view source,
                             std::u16string_view description);

// Raises a platform error with its standard description and the source
// `kLibrarySource`.
[[noreturn]] void RaiseStandard(int32_t number);

// Raises 6 ("Overflow") saying which limit was passed: the description is
// "Overflow: " followed by `limit`, e.g. "a key holds at most 32,767
// characters (this one 40,000)". An empty source becomes `kLibrarySource`.
[[noreturn]] void RaiseOverflow(std::u16string_view source,
                                std::u16string_view limit);

// Returns the platform's standard description of `number`, or
// "Application-defined or object-defined error" for a number it does not name.
std::u16string_view StandardDescription(int32_t number);

}  // namespace quorvel

#endif  // QUORVEL_ERROR_H_
