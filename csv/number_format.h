// Fast text forms of the numbers in a CSV line. Each formatter writes its text
// at `out` without a terminating zero and returns the end of what it wrote;
// `out` must have room for the formatter's maximum length below, and formatG8
// and formatG6 need kNumberRoom writable bytes: they store whole blocks and
// may leave scratch bytes past the returned end.
//
// The texts are byte-identical to the C library's printf with the format
// named at each function (glibc spelling: "nan"/"-nan", "inf"/"-inf", at least
// two exponent digits), so the CSV does not depend on how it was produced.
#pragma once

#include <cstdint>

#include "csv/float_format.h"

namespace cdt {

// Writable bytes that formatG8 and formatG6 need at `out`.
inline constexpr int kNumberRoom = kFloatFormatRoom;

// Longest text of each formatter.
inline constexpr int kMaxG8Length = 15;        // "-1.2345678e-308" bound; floats need 14
inline constexpr int kMaxG6Length = 13;        // "-1.23457e-308" bound; floats need 12
inline constexpr int kMaxU64Length = 20;       // 18446744073709551615
inline constexpr int kMaxTimeCellLength = 32;  // a year of 6 digits needs 25

// "%.8g" of `v` widened to double (kNumberRoom bytes at `out`).
inline char* formatG8(char* out, float v) {
  return formatFloatG8(out, v);
}
// "%.6g" of `v` widened to double (kNumberRoom bytes at `out`).
inline char* formatG6(char* out, float v) {
  return formatFloatG6(out, v);
}
// "%.8g" of a double (kMaxG8Length covers it too).
char* formatDoubleG8(char* out, double v);
// "%llu" of `v`.
char* formatU64(char* out, uint64_t v);

// The CSV Time cell of a time value (microseconds since 1970-01-01 UTC):
// the time rounded to the nearest hundredth of a second (halves up), then
// "%04d-%02d-%02d %02d:%02d:%02d.%02d" with year, month, day, hour, minute,
// second and hundredths of its UTC calendar fields. Rounding carries into the
// minute, hour, day and year, so the seconds never read 60.
char* formatTimeCell(char* out, uint64_t time);

}  // namespace cdt
