// The one translation of the standard library's exceptions into the
// library's errors, for every place where an `std::` exception could
// otherwise leave through the public API: late-bound calls, creation by name,
// the readers and the containers that allocate, the file seam, the C
// interface.
#ifndef QUORVEL_SRC_CORE_STD_EXCEPTIONS_H_
#define QUORVEL_SRC_CORE_STD_EXCEPTIONS_H_

#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <typeinfo>
#include <utility>
#include <variant>

#include "quorvel/error.h"

namespace quorvel::internal {

// Runs `fn` and returns what it returns. An `Error` passes unchanged;
// `std::bad_alloc`, and `std::length_error` (a container asked to grow past
// what it can address, which is memory running out by another name), raise
// 7 "Out of memory"; any other exception of the standard library raises 51
// "Internal error". Whatever `fn` left changed stays changed: callers that
// promise to leave their state as it was undo it around this call.
//
// An `Error` is a `std::exception` too, so the handlers name the standard
// library's own families rather than `std::exception`: an Error then passes
// without being caught and thrown again, which would cost as much as the
// throw itself at every level it crosses.
template <class Fn>
decltype(auto) TranslateStdExceptions(Fn&& fn) {
  try {
    return std::forward<Fn>(fn)();
  } catch (const std::bad_alloc&) {
    RaiseStandard(kErrOutOfMemory);
  } catch (const std::length_error&) {
    RaiseStandard(kErrOutOfMemory);
  } catch (const std::logic_error&) {
    RaiseStandard(kErrInternal);
  } catch (const std::runtime_error&) {
    RaiseStandard(kErrInternal);
  } catch (const std::bad_cast&) {
    RaiseStandard(kErrInternal);
  } catch (const std::bad_typeid&) {
    RaiseStandard(kErrInternal);
  } catch (const std::bad_function_call&) {
    RaiseStandard(kErrInternal);
  } catch (const std::bad_weak_ptr&) {
    RaiseStandard(kErrInternal);
  } catch (const std::bad_exception&) {
    RaiseStandard(kErrInternal);
  } catch (const std::bad_optional_access&) {
    RaiseStandard(kErrInternal);
  } catch (const std::bad_variant_access&) {
    RaiseStandard(kErrInternal);
  }
}

}  // namespace quorvel::internal

#endif  // QUORVEL_SRC_CORE_STD_EXCEPTIONS_H_
