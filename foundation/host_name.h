// The local computer's host name, as the operating system reports it.
#pragma once

#include "foundation/counted_string.h"

namespace cdt {

// The host name from gethostname() (on Windows the DNS host name from
// GetComputerNameExW); the empty string when the query fails.
// A name longer than the 4096-byte buffer is cut to fit.
[[nodiscard]] CountedString localComputerName();

}  // namespace cdt
