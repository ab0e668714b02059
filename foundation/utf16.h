// Conversions between UTF-8, the program's text everywhere, and UTF-16, the
// text of the Windows system calls. Both directions are total: nothing is
// refused, so a name the system hands out always converts and converts back.
#pragma once

#include <string>
#include <string_view>

namespace cdt {

// Appends the code point `c` (at most U+10FFFF; a surrogate too) to `to` as
// 1 to 4 bytes of UTF-8.
void appendUtf8(std::string& to, char32_t c);

// A surrogate pair becomes one 4-byte sequence; every other unit below
// U+0080, U+0800 or above becomes 1, 2 or 3 bytes, a lone surrogate included
// (so names that are not valid UTF-16 still round-trip).
[[nodiscard]] std::string utf16ToUtf8(std::u16string_view text);

// Code points above U+FFFF become surrogate pairs; a 3-byte sequence for a
// surrogate gives that unit back. A byte that starts no complete, shortest
// sequence becomes U+FFFD and decoding goes on at the next byte.
[[nodiscard]] std::u16string utf8ToUtf16(std::string_view text);

}  // namespace cdt
