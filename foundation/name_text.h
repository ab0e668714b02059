// Names as the installation wrote them, and as Unicode text.
//
// A configuration's names are the bytes of the installation's own code page
// (a Windows program: usually Windows-1252), not necessarily UTF-8. The
// library keeps those bytes, and so does every byte-exact output (the CSV,
// configuration texts). Where text must be Unicode (JSON, netCDF attributes,
// MATLAB strings, Python) each text is decoded on its own by decodeName: as
// UTF-8 when it is valid UTF-8, otherwise as Windows-1252 the way the WHATWG
// Encoding Standard maps it, where every byte maps to a character, so
// decoding never fails and nothing is replaced. A caller that knows the
// installation's code page names it instead.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cdt {

enum class TextEncoding : unsigned char {
  Auto,         // UTF-8 when valid, else Windows-1252
  Utf8,         // UTF-8; a byte that starts no valid sequence becomes U+FFFD
  Windows1252,  // Western European (WHATWG's windows-1252)
  Windows1250,  // Central European
  Windows1251,  // Cyrillic
  Latin1,       // ISO-8859-1: every byte is the code point of its value
};

// The encoding a user names ("utf-8", "windows-1252", "cp1252", "latin-1",
// ...; case and '-'/'_' ignored); none for a name not known.
[[nodiscard]] std::optional<TextEncoding> textEncodingNamed(std::string_view name);
// The names textEncodingNamed accepts, for messages.
[[nodiscard]] const char* textEncodingChoices();

// Whether `bytes` is valid UTF-8 (shortest forms, no surrogates, at most
// U+10FFFF).
[[nodiscard]] bool isValidUtf8(std::string_view bytes);

// `bytes` decoded by `encoding`, as UTF-8 text.
[[nodiscard]] std::string decodeName(std::string_view bytes,
                                     TextEncoding encoding = TextEncoding::Auto);

// UTF-8 `text` in `encoding` (Auto and Utf8 keep it as it is); none when a
// character has no byte in the code page, or `text` is not valid UTF-8.
[[nodiscard]] std::optional<std::string> encodeName(std::string_view text, TextEncoding encoding);

}  // namespace cdt
