#include <windows.h>

#include <string>

#include "foundation/host_name.h"
#include "foundation/utf16.h"

namespace cdt {

CountedString localComputerName() {
  // The DNS host name, which is what gethostname gives; Win32's own query
  // needs no socket library start-up.
  wchar_t buffer[4096];
  DWORD size = sizeof buffer / sizeof buffer[0];
  if (!GetComputerNameExW(ComputerNameDnsHostname, buffer, &size)) return CountedString();
  const std::string name =
      utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), size));
  return CountedString(name.data(), static_cast<uint32_t>(name.size()));
}

}  // namespace cdt
