// Formatted, quoted and unquoted text written into CountedStrings. Each
// operation may reallocate the string and stores the new one back into the
// variable it was given.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "foundation/counted_string.h"
#include "foundation/text_view.h"

namespace cdt {

// printf-style text written from character `position` on, replacing everything
// from there; a gap past the old end is filled with blanks. A shared or
// constant string is left to its other holders. The arguments must not point
// into the characters of `s` itself (the block may move while formatting),
// except when another holder shares them. When the C library cannot format
// the arguments (an encoding error), nothing is written from `position` on.
void formatAt(CountedString& s, uint32_t position, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void formatAtV(CountedString& s, uint32_t position, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));
// formatAt at the string's current length.
void formatAppend(CountedString& s, const char* format, ...) __attribute__((format(printf, 2, 3)));
// formatAt into a fresh string: the previous value is neither read nor
// released (the raw form works on an engine pointer variable).
void formatNew(char*& s, uint32_t position, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// The handle form: the old value is released normally.
CountedString formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes `text` quoted and escaped from `position` on. `escape` is never 0;
// `quote` 0 means no quote character at all. Printable ASCII stays as it is,
// backspace, line feed, carriage return and tab take their letters, other
// bytes take octal escapes (three digits when a decimal digit follows).
// `text` may point into `s`.
void quoteText(CountedString& s, uint32_t position, TextBuffer text, char quote, char escape);
// Writes the unescaped `text` from `position` on. When `quote` is not 0 the
// text is trimmed of white space and a surrounding pair of quotes is removed.
// Reads everything quoteText writes (octal escapes of 1 to 3 digits); a lone
// escape character at the end stands for nothing. `text` may point into `s`.
void unquoteText(CountedString& s, uint32_t position, TextBuffer text, char quote, char escape);

}  // namespace cdt
