// Small text and number helpers: human-readable byte sizes, file-name
// extensions and the highest set bit of a number.
#pragma once

#include <cstdint>

#include "foundation/counted_string.h"
#include "foundation/text_view.h"

namespace cdt {

// `count` as a short size with its unit ("5.00Bytes", "1.50kB", "100MB"):
// two decimals up to 9.99, one up to 99.9, none above; units step by 1024
// from "Bytes" through "kB", "MB" and "GB" up to "TB". A count of 0 gives a
// copy of `zeroText`, or "0" when it is nullptr.
CountedString byteSizeText(uint64_t count, const char* zeroText = nullptr);

// The text after the last "." of `name`, trimmed of white space, as a view
// into `name`; empty when the name has no dot, ends with a dot, or has
// nothing but white space after its last dot. A leading dot counts like any
// other (".profile" gives "profile").
TextBuffer fileExtension(TextBuffer name);

// Index (0 to 31) of the highest set bit of `value`; -255 for 0.
int32_t highestBitIndex(uint32_t value);

}  // namespace cdt
