#include <windows.h>

#include <atomic>

#include "platform/interrupts.h"

namespace cdt {

namespace {

std::atomic<bool> interrupted{false};

// Runs on a thread of its own that the console starts. The first event is
// taken; a second one is left to the default handler, which ends the process.
BOOL WINAPI onConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  return interrupted.exchange(true, std::memory_order_relaxed) ? FALSE : TRUE;
}

}  // namespace

void catchInterrupts() {
  static const bool installed = SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
  (void)installed;
}

bool interruptRequested() {
  return interrupted.load(std::memory_order_relaxed);
}

void failWritesPastSizeLimit() {}

}  // namespace cdt
