#include "csv/number_format.h"

#include <charconv>
#include <cstring>

#include "foundation/calendar.h"

namespace cdt {

namespace {

// "%.Ng" is what to_chars' general format with a precision is defined as;
// it spells NaN and infinity as glibc does, signs included.
char* formatGeneral(char* out, double v, int precision, int room) {
  return std::to_chars(out, out + room, v, std::chars_format::general, precision).ptr;
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char* putTwoDigits(char* out, uint32_t v) {
  std::memcpy(out, kDigitPairs + 2 * v, 2);
  return out + 2;
}

}  // namespace

char* formatDoubleG8(char* out, double v) {
  return formatGeneral(out, v, 8, kMaxG8Length);
}

char* formatU64(char* out, uint64_t v) {
  return std::to_chars(out, out + kMaxU64Length, v).ptr;
}

char* formatTimeCell(char* out, uint64_t time) {
  // Rounding the integer count first (rather than printing the seconds with
  // two decimals) lets a carry reach the minute instead of showing "60.00".
  // Split before adding so that times near the top of the range cannot wrap.
  uint64_t hundredths = time / 10000 + (time % 10000 >= 5000 ? 1 : 0);
  const uint32_t fraction = static_cast<uint32_t>(hundredths % 100);
  uint64_t seconds = hundredths / 100;
  const uint32_t second = static_cast<uint32_t>(seconds % 60);
  const uint32_t minute = static_cast<uint32_t>(seconds / 60 % 60);
  const uint32_t hour = static_cast<uint32_t>(seconds / 3600 % 24);
  const CivilDate date = civilFromDays(seconds / 86400);

  if (date.year < 10000) {
    const uint32_t year = static_cast<uint32_t>(date.year);
    out = putTwoDigits(out, year / 100);
    out = putTwoDigits(out, year % 100);
  } else {
    out = formatU64(out, date.year);
  }
  *out++ = '-';
  out = putTwoDigits(out, date.month);
  *out++ = '-';
  out = putTwoDigits(out, date.day);
  *out++ = ' ';
  out = putTwoDigits(out, hour);
  *out++ = ':';
  out = putTwoDigits(out, minute);
  *out++ = ':';
  out = putTwoDigits(out, second);
  *out++ = '.';
  return putTwoDigits(out, fraction);
}

}  // namespace cdt
