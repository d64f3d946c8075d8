#include "stores/view_guard.h"

#include <atomic>
#include <csetjmp>
#include <csignal>
#include <cstring>

namespace quorvel::internal {

namespace {

// Where the copy running on this thread may fault, and where to go when it
// does.
struct Guard {
  sigjmp_buf resume;
  const char* low;
  const char* high;
};

// Initial-exec: the handler reads it on whatever thread faulted, where a
// lazily allocated thread-local block would mean a call into the dynamic
// loader from a signal handler.
__attribute__((tls_model("initial-exec"))) thread_local Guard* t_guard =
    nullptr;

struct sigaction g_previous;

// Hands a SIGBUS that is not ours to whoever handled it before.
void Forward(int signal, siginfo_t* info, void* context) {
  if ((g_previous.sa_flags & SA_SIGINFO) != 0 &&
      g_previous.sa_sigaction != nullptr) {
    g_previous.sa_sigaction(signal, info, context);
    return;
  }
  if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(signal);
    return;
  }
  // The default action, which a fault cannot be spared anyway: back to it,
  // and the faulting access runs again and ends the process as it would
  // have without this handler. A signal that was sent is sent again.
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(SIGBUS, &fallback, nullptr);
  if (info == nullptr || info->si_code <= 0) raise(SIGBUS);
}

void OnBus(int signal, siginfo_t* info, void* context) {
  Guard* guard = t_guard;
  // si_addr means something only for a fault the kernel raised.
  if (guard != nullptr && info != nullptr && info->si_code > 0) {
    const char* at = static_cast<const char*>(info->si_addr);
    if (at >= guard->low && at < guard->high) {
      t_guard = nullptr;
      siglongjmp(guard->resume, 1);
    }
  }
  Forward(signal, info, context);
}

bool Install() {
  if (sigaction(SIGBUS, nullptr, &g_previous) != 0) return false;
  struct sigaction action = {};
  action.sa_sigaction = OnBus;
  // No deferral: the jump out of the handler leaves the signal mask as the
  // copy found it, without a system call to restore it.
  action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  return sigaction(SIGBUS, &action, nullptr) == 0;
}

}  // namespace

bool InstallViewGuard() {
  static const bool installed = Install();
  return installed;
}

namespace {

// Runs `body`, which touches only [low, high) of a mapping; false when it
// faulted there (`body` then stopped part-way).
template <class Body>
bool Guarded(const void* low, const void* high, Body&& body) {
  Guard guard;
  guard.low = static_cast<const char*>(low);
  guard.high = static_cast<const char*>(high);
  if (sigsetjmp(guard.resume, 0) != 0) return false;
  t_guard = &guard;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  body();
  std::atomic_signal_fence(std::memory_order_seq_cst);
  t_guard = nullptr;
  return true;
}

}  // namespace

bool CopyFromView(void* to, const void* from, size_t size) {
  return Guarded(from, static_cast<const char*>(from) + size,
                 [&] { std::memcpy(to, from, size); });
}

bool AnyNonZeroInView(const void* from, const void* limit) {
  bool found = false;
  const bool whole = Guarded(from, limit, [&] {
    for (const volatile char* at = static_cast<const char*>(from);
         at < limit && !found; ++at)
      found = *at != 0;
  });
  return whole && found;
}

bool CopyToView(void* to, const void* from, size_t size) {
  return Guarded(to, static_cast<const char*>(to) + size, [&] {
    auto* out = static_cast<unsigned char*>(to);
    const auto* in = static_cast<const unsigned char*>(from);
    size_t i = 0;
    for (; i + 4 <= size; i += 4) std::memcpy(out + i, in + i, 4);
    for (; i < size; ++i) out[i] = in[i];
  });
}

}  // namespace quorvel::internal
