// The system clock and sleeping over POSIX.
#include <cerrno>
#include <ctime>

#include "foundation/time_value.h"

namespace cdt {

uint64_t currentTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  // The clock is read at millisecond resolution, like the rest of the
  // system's time stamps.
  return static_cast<uint64_t>(now.tv_sec) * 1000000u +
         static_cast<uint64_t>(now.tv_nsec / 1000000) * 1000;
}

void sleepMicroseconds(int64_t interval) {
  if (interval <= 0) return;
  const int64_t milliseconds = interval / 1000;
  timespec request{};
  request.tv_sec = static_cast<std::time_t>(milliseconds / 1000);
  request.tv_nsec = static_cast<long>((milliseconds % 1000) * 1000000);
  timespec remaining{};
  // A signal cuts the sleep short; sleep on for what is left.
  while (nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
}

}  // namespace cdt
