#include "quorvel/error.h"

#include <string>

#include "quorvel/string.h"

namespace quorvel {

Error::Error(int32_t number, std::u16string_view source,
             std::u16string_view description)
    : number_(number), source_(source), description_(description) {}

const char* Error::what() const noexcept {
  if (what_.empty()) {
    try {
      what_ = "error " + std::to_string(number_) + " (" + ToUtf8(source_) +
              "): " + ToUtf8(description_);
    } catch (...) {
      return "error (no memory to describe it)";
    }
  }
  return what_.c_str();
}

void ErrorRaise(int32_t number, std::u16string_view source,
                std::u16string_view description) {
  throw Error(number, source.empty() ? kLibrarySource : source, description);
}

void RaiseStandard(int32_t number) {
  throw Error(number, kLibrarySource, StandardDescription(number));
}

void RaiseOverflow(std::u16string_view source, std::u16string_view limit) {
  std::u16string description(StandardDescription(kErrOverflow));
  description += u": ";
  description += limit;
  ErrorRaise(kErrOverflow, source, description);
}

std::u16string_view StandardDescription(int32_t number) {
  switch (number) {
    case 3:
      return u"Return without GoSub";
    case 5:
      return u"Invalid procedure call or argument";
    case 6:
      return u"Overflow";
    case 7:
      return u"Out of memory";
    case 9:
      return u"Subscript out of range";
    case 10:
      return u"This array is fixed or temporarily locked";
    case 11:
      return u"Division by zero";
    case 13:
      return u"Type mismatch";
    case 14:
      return u"Out of string space";
    case 28:
      return u"Out of stack space";
    case 51:
      return u"Internal error";
    case 52:
      return u"Bad file name or number";
    case 53:
      return u"File not found";
    case 54:
      return u"Bad file mode";
    case 55:
      return u"File already open";
    case 57:
      return u"Device I/O error";
    case 58:
      return u"File already exists";
    case 61:
      return u"Disk full";
    case 62:
      return u"Input past end of file";
    case 67:
      return u"Too many files";
    case 68:
      return u"Device unavailable";
    case 70:
      return u"Permission denied";
    case 71:
      return u"Disk not ready";
    case 74:
      return u"Can't rename with different drive";
    case 75:
      return u"Path/File access error";
    case 76:
      return u"Path not found";
    case 91:
      return u"Object variable or With block variable not set";
    case 92:
      return u"For loop not initialized";
    case 94:
      return u"Invalid use of Null";
    case 424:
      return u"Object required";
    case 429:
      return u"ActiveX component can't create object";
    case 438:
      return u"Object doesn't support this property or method";
    case 449:
      return u"Argument not optional";
    case 450:
      return u"Wrong number of arguments or invalid property assignment";
    case 451:
      return u"Property let procedure not defined and property get procedure "
             u"did not return an object";
    case 457:
      return u"This key is already associated with an element of this "
             u"collection";
    case 32811:
      return u"Element not found";
    default:
      return u"Application-defined or object-defined error";
  }
}

}  // namespace quorvel
