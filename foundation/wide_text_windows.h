// UTF-8 text to and from the wide characters (UTF-16) of the Win32 calls.
// Included only by the Windows side of the platform code.
#pragma once

#include <cwchar>
#include <string>
#include <string_view>

#include "foundation/name_text.h"
#include "foundation/utf16.h"

namespace cdt {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide characters are UTF-16 units");

// A text that is not valid UTF-8 holds a name in the installation's code
// page (a file name begins with the configuration's name, which the
// installation's program writes through the system's ANSI calls): it is
// decoded as Windows-1252, so such a file has its name on Windows too, not
// one with U+FFFD in it.
inline std::wstring widen(std::string_view utf8) {
  const std::u16string units =
      isValidUtf8(utf8) ? utf8ToUtf16(utf8) : utf8ToUtf16(decodeName(utf8));
  return std::wstring(reinterpret_cast<const wchar_t*>(units.data()), units.size());
}

inline std::string narrow(const wchar_t* wide, std::size_t length) {
  return utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(wide), length));
}

inline std::string narrow(const wchar_t* wide) {
  return wide != nullptr ? narrow(wide, std::wcslen(wide)) : std::string();
}

}  // namespace cdt
