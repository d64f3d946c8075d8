// The one translation of the standard library's exceptions into the
// library's errors, for every place where an `std::` exception could
// otherwise leave through the public API: late-bound calls, creation by name,
// the readers and the containers that allocate, the file seam, the C
// interface.
#ifndef QUORVEL_SRC_CORE_STD_EXCEPTIONS_H_
#define QUORVEL_SRC_CORE_STD_EXCEPTIONS_H_

#include <exception>
#include <new>
#include <stdexcept>
#include <utility>

#include "quorvel/error.h"

namespace quorvel::internal {

// Runs `fn` and returns what it returns. An `Error` passes unchanged;
// `std::bad_alloc`, and `std::length_error` (a container asked to grow past
// what it can address, which is memory running out by another name), raise
// 7 "Out of memory"; any other `std::exception` raises 51 "Internal error".
// Whatever `fn` left changed stays changed: callers that promise to leave
// their state as it was undo it around this call.
template <class Fn>
decltype(auto) TranslateStdExceptions(Fn&& fn) {
  try {
    return std::forward<Fn>(fn)();
  } catch (const Error&) {
    throw;
  } catch (const std::bad_alloc&) {
    RaiseStandard(kErrOutOfMemory);
  } catch (const std::length_error&) {
    RaiseStandard(kErrOutOfMemory);
  } catch (const std::exception&) {
    RaiseStandard(kErrInternal);
  }
}

}  // namespace quorvel::internal

#endif  // QUORVEL_SRC_CORE_STD_EXCEPTIONS_H_
