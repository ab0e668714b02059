#include "foundation/host_name.h"

#include <unistd.h>

#include <cstring>

namespace cdt {

CountedString localComputerName() {
  char buffer[4096];
  buffer[0] = '\0';
  if (gethostname(buffer, sizeof buffer) != 0) buffer[0] = '\0';
  // POSIX leaves truncated names without a terminator.
  buffer[sizeof buffer - 1] = '\0';
  return CountedString(buffer, static_cast<uint32_t>(std::strlen(buffer)));
}

}  // namespace cdt
