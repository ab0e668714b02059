// The system clock and sleeping over Win32.
#include <windows.h>

#include "foundation/time_value.h"

namespace cdt {

uint64_t currentTime() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  // 100-nanosecond units since 1601-01-01; the clock is read at millisecond
  // resolution, like the rest of the system's time stamps.
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  constexpr uint64_t kTicksFrom1601To1970 = 116444736000000000u;
  const uint64_t milliseconds = (ticks - kTicksFrom1601To1970) / 10000u;
  return milliseconds * 1000u;
}

void sleepMicroseconds(int64_t interval) {
  if (interval <= 0) return;
  int64_t milliseconds = interval / 1000;
  // Sleep takes 32 bits, and INFINITE (all ones) would never return.
  while (milliseconds > 0) {
    const int64_t step = milliseconds < 0x7FFFFFFF ? milliseconds : 0x7FFFFFFF;
    Sleep(static_cast<DWORD>(step));
    milliseconds -= step;
  }
}

}  // namespace cdt
