// The proleptic Gregorian calendar date of a day count, for every day a
// 64-bit microsecond time value can reach (years past 65535 included). Every
// text of a time value takes its date from here, so they all agree.
#pragma once

#include <cstdint>

namespace cdt {

struct CivilDate {
  uint64_t year = 0;
  uint32_t month = 0;  // 1 to 12
  uint32_t day = 0;    // 1 to 31
};

// The date `days` days after 1970-01-01.
constexpr CivilDate civilFromDays(uint64_t days) {
  // Counted from 0000-03-01 so that the leap day ends each 4-year cycle.
  const uint64_t z = days + 719468;
  const uint64_t era = z / 146097;
  const uint64_t dayOfEra = z - era * 146097;
  const uint64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const uint64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  CivilDate date;
  date.day = static_cast<uint32_t>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  date.month = static_cast<uint32_t>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  date.year = yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0);
  return date;
}

}  // namespace cdt
