#include <signal.h>

#include <atomic>

#include "platform/interrupts.h"

namespace cdt {

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void onInterrupt(int signal) {
  interrupted.store(true, std::memory_order_relaxed);
  // The next one ends the process as it would have without us.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
}

}  // namespace

void catchInterrupts() {
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM}) {
    // A signal ignored when the program started (a shell's background job
    // ignores SIGINT) stays ignored.
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

bool interruptRequested() {
  return interrupted.load(std::memory_order_relaxed);
}

void failWritesPastSizeLimit() {
  signal(SIGXFSZ, SIG_IGN);
}

}  // namespace cdt
