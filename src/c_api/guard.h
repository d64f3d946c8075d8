// The boundary of the C interface: every exported function runs its body
// through `Guard`, which turns whatever the library raises into a status and
// the thread's last error, so that nothing thrown ever reaches C.
#ifndef QUORVEL_C_API_GUARD_H_
#define QUORVEL_C_API_GUARD_H_

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string_view>

#include "quorvel/error.h"

namespace quorvel::c_api {

// Records a failure as the calling thread's last error and returns its
// number. Never throws: when memory runs out the texts are dropped.
int32_t RecordError(int32_t number, std::u16string_view source,
                    std::u16string_view description) noexcept;
int32_t RecordStandardError(int32_t number) noexcept;

// The last error of the calling thread, as recorded.
int32_t LastErrorNumber() noexcept;
std::u16string_view LastErrorSource() noexcept;
std::u16string_view LastErrorDescription() noexcept;

// Raises 5 with a description that names the offending argument, e.g.
// "Invalid procedure call or argument: name is NULL".
[[noreturn]] void RaiseBadArgument(std::u16string_view what);

// Runs `body` and returns 0, or the number of what it raised.
// What the standard library throws is recorded as TranslateStdExceptions
// would raise it, here in one step, so that an Error is caught once.
template <class Body>
int32_t Guard(Body&& body) noexcept {
  try {
    body();
    return 0;
  } catch (const Error& e) {
    return RecordError(e.number(), e.source(), e.description());
  } catch (const std::bad_alloc&) {
    return RecordStandardError(kErrOutOfMemory);
  } catch (const std::length_error&) {
    return RecordStandardError(kErrOutOfMemory);
  } catch (...) {
    return RecordStandardError(kErrInternal);
  }
}

}  // namespace quorvel::c_api

#endif  // QUORVEL_C_API_GUARD_H_
