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
// from there; a gap past the old end is filled with blanks.
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
// `quote` 0 means no surrounding quotes.
void quoteText(CountedString& s, uint32_t position, TextBuffer text, char quote, char escape);
// Writes the unescaped `text` from `position` on (surrounding quotes removed
// when `quote` is not 0).
void unquoteText(CountedString& s, uint32_t position, TextBuffer text, char quote, char escape);

}  // namespace cdt
