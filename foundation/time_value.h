// Time values and their calendar fields. A time value is an unsigned count of
// microseconds since 1970-01-01 00:00:00 UTC; intervals use the same unit.
// All calendar arithmetic is plain integer arithmetic over the Gregorian
// calendar in UTC: no time-zone rule, no call into the C library's time
// functions. Only localTimeOffset consults the local time zone.
//
// The conversions do not check their input fields (apart from the month
// clamp of dateToDayOfYear): out-of-range fields give the plain arithmetic
// result, never a fault.
#pragma once

#include <cstdint>
#include <string_view>

#include "foundation/counted_string.h"

namespace cdt {

// Calendar fields by day of year (1 to 365, 366 in leap years).
struct OrdinalTime {
  uint16_t year = 0;
  uint16_t dayOfYear = 0;
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;
  uint32_t microseconds = 0;
};

// Calendar fields by month (1 to 12) and day of month (1 to 31).
struct TimeStamp {
  uint16_t year = 0;
  uint8_t month = 0;
  uint8_t day = 0;
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;
  uint32_t microseconds = 0;
};

// One row of the month table: the English abbreviation and the number of
// days of the year before the month's first day.
struct MonthInfo {
  char name[4];
  uint16_t daysBeforeCommon;
  uint16_t daysBeforeLeap;
};

// Rows 1 to 12 are January to December; row 0 is all zeros.
inline constexpr MonthInfo kMonthTable[13] = {
    {"", 0, 0},        {"Jan", 0, 0},     {"Feb", 31, 31},   {"Mar", 59, 60},   {"Apr", 90, 91},
    {"May", 120, 121}, {"Jun", 151, 152}, {"Jul", 181, 182}, {"Aug", 212, 213}, {"Sep", 243, 244},
    {"Oct", 273, 274}, {"Nov", 304, 305}, {"Dec", 334, 335},
};

inline constexpr uint64_t kMicrosPerSecond = 1000000;
inline constexpr uint64_t kMicrosPerHour = 3600 * kMicrosPerSecond;
inline constexpr uint64_t kMicrosPerDay = 24 * kMicrosPerHour;

// Gregorian: divisible by 4 and not by 100, or divisible by 400.
constexpr bool isLeapYear(uint32_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days of the year before the first day of `month` (1 to 12); month 0 counts
// as January and 13 or more as December, so the table is never read past
// its end.
constexpr uint16_t daysBeforeMonth(uint32_t month, bool leap) {
  const MonthInfo& row = kMonthTable[month < 12 ? month : 12];
  return leap ? row.daysBeforeLeap : row.daysBeforeCommon;
}

// The days of `month` (1 to 12) in `year`; 0 for any other month.
constexpr uint32_t daysInMonth(uint32_t year, uint32_t month) {
  if (month < 1 || month > 12) return 0;
  if (month == 12) return 31;
  const bool leap = isLeapYear(year);
  return static_cast<uint32_t>(daysBeforeMonth(month + 1, leap) - daysBeforeMonth(month, leap));
}

OrdinalTime timeToCalendar(uint64_t time);
// Month and day from the day of year (day of year 0 gives month 1, day 0).
TimeStamp dayOfYearToDate(const OrdinalTime& ordinal);
// Day of year from month and day; month 0 counts as January, 12 and above as
// December.
OrdinalTime dateToDayOfYear(const TimeStamp& stamp);
// Inverse of timeToCalendar for every time value; years before 1970 have no
// time value (the result wraps around).
uint64_t calendarToTime(const OrdinalTime& ordinal);

// timeToCalendar then dayOfYearToDate.
TimeStamp timeStampOf(uint64_t time);
// dateToDayOfYear then calendarToTime.
uint64_t timeOf(const TimeStamp& stamp);

// Replaces the content of `s` by the text of `time` with `precision` digits
// after the decimal point of the seconds (none and no point for 0):
//   'D'   "2011-Mar-15 " (with the trailing blank)
//   'T'   "14:07:09.250"
//   'I'   "2011:074:14:07:09.250" (year, day of year, time of day)
//   other "2011-Mar-15 14:07:09.250"
void formatTime(CountedString& s, uint64_t time, int precision, char style);

// Now, with millisecond resolution.
uint64_t currentTime();

// The UTC calendar fields of `time` read as a local time, minus `time`, in
// microseconds: -3600000000 in a zone one hour east of UTC without daylight
// saving.
int64_t localTimeOffset(uint64_t time);

// Sleeps interval / 1000 milliseconds (truncated); returns at once for an
// interval of 0 or less.
void sleepMicroseconds(int64_t interval);

// seconds * 1000000 + microseconds (negative sums wrap around).
uint64_t secondsPairToTime(int32_t seconds, uint32_t microseconds);
// seconds * 1000000 + milliseconds * 1000 (negative sums wrap around).
uint64_t millisPairToTime(int32_t seconds, int16_t milliseconds);

// 1 to 11 for "Jan" to "Nov" in any letter case; 12 for anything else.
int monthFromName(std::string_view name);

}  // namespace cdt
