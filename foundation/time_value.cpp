#include "foundation/time_value.h"

#include <ctime>

#include "foundation/text_building.h"

namespace cdt {
namespace {

// Day 0 of the internal day count is 1601-01-01, the first day of a 400-year
// Gregorian cycle, so that the cycle arithmetic needs no offsets.
constexpr uint64_t kDaysFrom1601To1970 = 134774;
constexpr uint64_t kDaysPer400Years = 146097;
constexpr uint64_t kDaysPer100Years = 36524;
constexpr uint64_t kDaysPer4Years = 1461;
constexpr uint64_t kDaysPerYear = 365;

}  // namespace

OrdinalTime timeToCalendar(uint64_t time) {
  const uint64_t hours = time / kMicrosPerHour;
  const uint64_t rest = time % kMicrosPerHour;

  OrdinalTime result;
  result.microseconds = static_cast<uint32_t>(rest % kMicrosPerSecond);
  result.minute = static_cast<uint8_t>(rest / (60 * kMicrosPerSecond));
  result.second = static_cast<uint8_t>((rest / kMicrosPerSecond) % 60);
  result.hour = static_cast<uint8_t>(hours % 24);

  const uint64_t days = hours / 24 + kDaysFrom1601To1970;
  const uint64_t q400 = days / kDaysPer400Years;
  const uint64_t r400 = days % kDaysPer400Years;
  // The last day of a 400-year cycle (and of a leap year below) would
  // otherwise count as day 0 of a fifth century (year): the cap makes it day
  // 366 of the year ending the cycle.
  uint64_t q100 = r400 / kDaysPer100Years;
  if (q100 > 3) q100 = 3;
  const uint64_t r100 = r400 - q100 * kDaysPer100Years;
  const uint64_t q4 = r100 / kDaysPer4Years;
  const uint64_t r4 = r100 % kDaysPer4Years;
  uint64_t q1 = r4 / kDaysPerYear;
  if (q1 > 3) q1 = 3;

  result.year = static_cast<uint16_t>(1601 + 400 * q400 + 100 * q100 + 4 * q4 + q1);
  result.dayOfYear = static_cast<uint16_t>(r4 + 1 - kDaysPerYear * q1);
  return result;
}

TimeStamp dayOfYearToDate(const OrdinalTime& ordinal) {
  const bool leap = isLeapYear(ordinal.year);
  uint32_t month = 12;
  while (month > 1 && daysBeforeMonth(month, leap) >= ordinal.dayOfYear) --month;

  TimeStamp stamp;
  stamp.year = ordinal.year;
  stamp.month = static_cast<uint8_t>(month);
  stamp.day = static_cast<uint8_t>(ordinal.dayOfYear - daysBeforeMonth(month, leap));
  stamp.hour = ordinal.hour;
  stamp.minute = ordinal.minute;
  stamp.second = ordinal.second;
  stamp.microseconds = ordinal.microseconds;
  return stamp;
}

OrdinalTime dateToDayOfYear(const TimeStamp& stamp) {
  OrdinalTime ordinal;
  ordinal.year = stamp.year;
  ordinal.dayOfYear =
      static_cast<uint16_t>(daysBeforeMonth(stamp.month, isLeapYear(stamp.year)) + stamp.day);
  ordinal.hour = stamp.hour;
  ordinal.minute = stamp.minute;
  ordinal.second = stamp.second;
  ordinal.microseconds = stamp.microseconds;
  return ordinal;
}

uint64_t calendarToTime(const OrdinalTime& ordinal) {
  // Signed arithmetic keeps years before 1601 well defined; every field is
  // at most 16 bits wide, so nothing here can overflow 64 bits.
  const int64_t y = static_cast<int64_t>(ordinal.year) - 1601;
  const int64_t days = (y / 400) * static_cast<int64_t>(kDaysPer400Years) +
                       ((y % 400) / 100) * static_cast<int64_t>(kDaysPer100Years) +
                       ((y % 100) / 4) * static_cast<int64_t>(kDaysPer4Years) +
                       (y % 4) * static_cast<int64_t>(kDaysPerYear) +
                       (static_cast<int64_t>(ordinal.dayOfYear) - 1) -
                       static_cast<int64_t>(kDaysFrom1601To1970);
  const int64_t hours = days * 24 + ordinal.hour;
  const int64_t seconds = static_cast<int64_t>(ordinal.minute) * 60 + ordinal.second;
  return static_cast<uint64_t>(hours) * kMicrosPerHour +
         static_cast<uint64_t>(seconds) * kMicrosPerSecond + ordinal.microseconds;
}

TimeStamp timeStampOf(uint64_t time) {
  return dayOfYearToDate(timeToCalendar(time));
}

uint64_t timeOf(const TimeStamp& stamp) {
  return calendarToTime(dateToDayOfYear(stamp));
}

void formatTime(CountedString& s, uint64_t time, int precision, char style) {
  const OrdinalTime ordinal = timeToCalendar(time);
  const TimeStamp stamp = dayOfYearToDate(ordinal);
  const double seconds = stamp.second + stamp.microseconds * 1e-6;
  const int width = precision != 0 ? precision + 3 : 2;
  // A month outside 1 to 12 cannot come from a time value; the table's row 0
  // would print an empty name rather than read past the table.
  const char* monthName = kMonthTable[stamp.month <= 12 ? stamp.month : 0].name;

  switch (style) {
    case 'D':
      formatAt(s, 0, "%04d-%s-%02d ", stamp.year, monthName, stamp.day);
      break;
    case 'T':
      formatAt(s, 0, "%02d:%02d:%0*.*f", stamp.hour, stamp.minute, width, precision, seconds);
      break;
    case 'I':
      formatAt(s, 0, "%04d:%03d:%02d:%02d:%0*.*f", ordinal.year, ordinal.dayOfYear, ordinal.hour,
               ordinal.minute, width, precision, seconds);
      break;
    default:
      formatAt(s, 0, "%04d-%s-%02d %02d:%02d:%0*.*f", stamp.year, monthName, stamp.day, stamp.hour,
               stamp.minute, width, precision, seconds);
      break;
  }
}

int64_t localTimeOffset(uint64_t time) {
  const TimeStamp stamp = timeStampOf(time);
  std::tm local{};
  local.tm_year = stamp.year - 1900;
  local.tm_mon = stamp.month - 1;
  local.tm_mday = stamp.day;
  local.tm_hour = stamp.hour;
  local.tm_min = stamp.minute;
  local.tm_sec = stamp.second;
  local.tm_isdst = -1;  // let mktime decide whether daylight saving applies
  const std::time_t asLocal = std::mktime(&local);
  return (static_cast<int64_t>(asLocal) - static_cast<int64_t>(time / kMicrosPerSecond)) *
         static_cast<int64_t>(kMicrosPerSecond);
}

uint64_t secondsPairToTime(int32_t seconds, uint32_t microseconds) {
  return static_cast<uint64_t>(static_cast<int64_t>(seconds) * 1000000 + microseconds);
}

uint64_t millisPairToTime(int32_t seconds, int16_t milliseconds) {
  return static_cast<uint64_t>(static_cast<int64_t>(seconds) * 1000000 +
                               static_cast<int64_t>(milliseconds) * 1000);
}

int monthFromName(std::string_view name) {
  if (name.size() != 3) return 12;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (int month = 1; month <= 11; ++month) {
    const char* candidate = kMonthTable[month].name;
    if (lower(name[0]) == lower(candidate[0]) && lower(name[1]) == lower(candidate[1]) &&
        lower(name[2]) == lower(candidate[2])) {
      return month;
    }
  }
  return 12;
}

}  // namespace cdt
