// Exact, allocation-free text forms of 32-bit floats in printf's "%g" style.
//
// Each formatter writes the text that glibc's printf writes for the float
// widened to double with the named format, byte for byte: "nan"/"-nan" by the
// sign bit, "inf"/"-inf", "0"/"-0", the exact binary value rounded to the
// requested significant digits (ties to even on the exact decimal expansion),
// fixed form when the rounded value's decimal exponent X satisfies
// precision > X >= -4 and exponent form otherwise, trailing zeros and a
// trailing point removed, at least two exponent digits. This matches printf in
// the default round-to-nearest mode; the formatters ignore the floating-point
// environment and the locale.
//
// The text is written at `out` without a terminating zero and the end of the
// text is returned. `out` must have kFloatFormatRoom writable bytes: the
// formatters store whole blocks and may write scratch bytes past the returned
// end (never past out + kFloatFormatRoom).
#pragma once

#include <cstddef>
#include <cstdint>

namespace cdt {

// Writable bytes each formatter needs at `out`.
inline constexpr int kFloatFormatRoom = 32;

// Longest texts: "-1.2345678e-38" and "-1.23457e-38".
inline constexpr int kMaxFloatG8Length = 14;
inline constexpr int kMaxFloatG6Length = 12;

// snprintf(out, n, "%.8g", (double)value) without the terminator.
char* formatFloatG8(char* out, float value);
// snprintf(out, n, "%.6g", (double)value) without the terminator.
char* formatFloatG6(char* out, float value);

// Writable bytes formatFloatCellsG8 needs at `out` for `count` numbers.
constexpr std::size_t floatCellsRoom(uint32_t count) {
  return std::size_t{count} * (1 + kMaxFloatG8Length) + kFloatFormatRoom;
}
// For each of `count` floats, the first at `values` and each next `stride`
// bytes further (any alignment, native byte order): a ',' and the float's
// "%.8g" text. `out` needs floatCellsRoom(count) writable bytes.
char* formatFloatCellsG8(char* out, const unsigned char* values, uint32_t count,
                         std::size_t stride);

}  // namespace cdt
