// The thread's last error, and the functions that read and set it.
#include <cstdint>
#include <string>
#include <string_view>

#include "c_api/guard.h"
#include "quorvel/error.h"
#include "quorvel/quorvel_c.h"
#include "quorvel/string.h"

namespace quorvel::c_api {

namespace {

// Both text forms are kept, so that reading one never allocates and the
// pointers handed out stay valid until the next failure.
struct LastError {
  int32_t number = 0;
  std::u16string source;
  std::u16string description;
  std::string source_utf8;
  std::string description_utf8;
};

LastError& ThreadLastError() {
  thread_local LastError last;
  return last;
}

}  // namespace

int32_t RecordError(int32_t number, std::u16string_view source,
                    std::u16string_view description) noexcept {
  LastError& last = ThreadLastError();
  last.number = number;
  try {
    last.source.assign(source.empty() ? kLibrarySource : source);
    last.description.assign(description);
    last.source_utf8 = ToUtf8(last.source);
    last.description_utf8 = ToUtf8(last.description);
  } catch (...) {
    // Out of memory: the number alone still tells what happened.
    last.source.clear();
    last.description.clear();
    last.source_utf8.clear();
    last.description_utf8.clear();
  }
  return number;
}

int32_t RecordStandardError(int32_t number) noexcept {
  return RecordError(number, kLibrarySource, StandardDescription(number));
}

int32_t LastErrorNumber() noexcept { return ThreadLastError().number; }
std::u16string_view LastErrorSource() noexcept {
  return ThreadLastError().source;
}
std::u16string_view LastErrorDescription() noexcept {
  return ThreadLastError().description;
}

void RaiseBadArgument(std::u16string_view what) {
  std::u16string text(StandardDescription(kErrInvalidCall));
  text += u": ";
  text += what;
  ErrorRaise(kErrInvalidCall, kLibrarySource, text);
}

}  // namespace quorvel::c_api

using quorvel::c_api::ThreadLastError;

extern "C" {

int32_t quorvel_last_error_number(void) { return ThreadLastError().number; }

const char* quorvel_last_error_source(void) {
  return ThreadLastError().source_utf8.c_str();
}

const char* quorvel_last_error_description(void) {
  return ThreadLastError().description_utf8.c_str();
}

const uint16_t* quorvel_last_error_source_utf16(size_t* size) {
  const std::u16string& text = ThreadLastError().source;
  if (size != nullptr) *size = text.size();
  return reinterpret_cast<const uint16_t*>(text.c_str());
}

const uint16_t* quorvel_last_error_description_utf16(size_t* size) {
  const std::u16string& text = ThreadLastError().description;
  if (size != nullptr) *size = text.size();
  return reinterpret_cast<const uint16_t*>(text.c_str());
}

int32_t quorvel_set_error(int32_t number, const char* source,
                          const char* description) {
  try {
    return quorvel::c_api::RecordError(
        number, quorvel::FromUtf8(source != nullptr ? source : ""),
        quorvel::FromUtf8(description != nullptr ? description : ""));
  } catch (...) {
    return quorvel::c_api::RecordError(number, {}, {});
  }
}

int32_t quorvel_set_error_utf16(int32_t number, const uint16_t* source,
                                size_t source_size, const uint16_t* description,
                                size_t description_size) {
  auto view = [](const uint16_t* text, size_t size) {
    return text == nullptr ? std::u16string_view()
                           : std::u16string_view(
                                 reinterpret_cast<const char16_t*>(text), size);
  };
  return quorvel::c_api::RecordError(number, view(source, source_size),
                                     view(description, description_size));
}

}  // extern "C"
