#include "foundation/time_value.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <tuple>

namespace cdt {
namespace {

TEST(TimeValue, EveryDayFrom1970To2400MatchesGmtimeAndRoundTrips) {
  const uint64_t lastDay = timeOf({2400, 12, 31, 0, 0, 0, 0}) / kMicrosPerDay;
  ASSERT_EQ(lastDay, 157419u);  // 431 years, 105 of them leap
  for (uint64_t day = 0; day <= lastDay; ++day) {
    // A different time of day each day, so that every field moves.
    const uint64_t time = (day * 86400 + day * 7919 % 86400) * kMicrosPerSecond + day % 1000000;
    const std::time_t seconds = static_cast<std::time_t>(time / kMicrosPerSecond);
    const std::tm* broken = std::gmtime(&seconds);
    ASSERT_NE(broken, nullptr);
    const std::tm expected = *broken;

    const OrdinalTime ordinal = timeToCalendar(time);
    const TimeStamp stamp = dayOfYearToDate(ordinal);
    ASSERT_EQ(std::tuple(+stamp.year, +ordinal.dayOfYear, +stamp.month, +stamp.day, +stamp.hour,
                         +stamp.minute, +stamp.second),
              std::tuple(expected.tm_year + 1900, expected.tm_yday + 1, expected.tm_mon + 1,
                         expected.tm_mday, expected.tm_hour, expected.tm_min, expected.tm_sec))
        << "day " << day;
    ASSERT_EQ(stamp.microseconds, day % 1000000);
    ASSERT_EQ(calendarToTime(ordinal), time) << "day " << day;
    ASSERT_EQ(timeOf(stamp), time) << "day " << day;
  }
}

TEST(TimeValue, CycleEndsAndClampedMonths) {
  // The last microsecond of a 400-year cycle is day 366 of its last year.
  const uint64_t endOf2000 = timeOf({2000, 12, 31, 23, 59, 59, 999999});
  EXPECT_EQ(timeToCalendar(endOf2000).year, 2000);
  EXPECT_EQ(timeToCalendar(endOf2000).dayOfYear, 366);
  EXPECT_EQ(timeToCalendar(endOf2000 + 1).dayOfYear, 1);
  EXPECT_EQ(timeStampOf(timeOf({2100, 2, 28, 0, 0, 0, 0}) + kMicrosPerDay).month, 3);
  // Far beyond gmtime's reach the conversion still inverts itself.
  for (uint16_t year : {2800, 9999, 65535}) {
    const uint64_t time = timeOf({year, 12, 31, 23, 59, 59, 999999});
    EXPECT_EQ(calendarToTime(timeToCalendar(time)), time) << year;
  }

  TimeStamp stamp{2012, 0, 10, 0, 0, 0, 0};
  EXPECT_EQ(dateToDayOfYear(stamp).dayOfYear, 10);
  stamp.month = 12;
  EXPECT_EQ(dateToDayOfYear(stamp).dayOfYear, 345);
  stamp.month = 200;
  EXPECT_EQ(dateToDayOfYear(stamp).dayOfYear, 345);

  // The table lookup itself stays inside the table.
  static_assert(daysBeforeMonth(0, true) == 0 && daysBeforeMonth(3, true) == 60);
  static_assert(daysBeforeMonth(13, false) == 334 && daysBeforeMonth(255, true) == 335);
}

TEST(TimeValue, FormatTimeStyles) {
  const uint64_t time = timeOf({2011, 3, 15, 14, 7, 9, 250000});
  const struct {
    int precision;
    char style;
    const char* text;
  } cases[] = {
      {3, 0, "2011-Mar-15 14:07:09.250"},
      {3, 'I', "2011:074:14:07:09.250"},
      {3, 'D', "2011-Mar-15 "},
      {3, 'T', "14:07:09.250"},
      {0, 'T', "14:07:09"},
      {6, 'x', "2011-Mar-15 14:07:09.250000"},
  };
  CountedString s("previous content");
  CountedString other = s;
  for (const auto& c : cases) {
    formatTime(s, time, c.precision, c.style);
    EXPECT_EQ(s.view(), c.text);
  }
  EXPECT_EQ(other.view(), "previous content");
  formatTime(s, 0, 1, 0);
  EXPECT_EQ(s.view(), "1970-Jan-01 00:00:00.0");
}

TEST(TimeValue, MonthNamesAndPairs) {
  EXPECT_EQ(monthFromName("mAr"), 3);
  EXPECT_EQ(monthFromName("JAN"), 1);
  EXPECT_EQ(monthFromName("nov"), 11);
  for (const char* other : {"Dec", "dEC", "", "Ja", "Janu", "M\xe1r"}) {
    EXPECT_EQ(monthFromName(other), 12) << other;
  }
  EXPECT_EQ(secondsPairToTime(1300197429, 250000), 1300197429250000u);
  EXPECT_EQ(millisPairToTime(1300197429, 250), 1300197429250000u);
  EXPECT_EQ(millisPairToTime(10, -1), 9999000u);
}

TEST(TimeValue, ClockAndSleep) {
  using std::chrono::duration_cast;
  const auto before = std::chrono::system_clock::now().time_since_epoch();
  const uint64_t beforeMicros = duration_cast<std::chrono::milliseconds>(before).count() * 1000;
  const uint64_t now = currentTime();
  EXPECT_EQ(now % 1000, 0u);
  EXPECT_GE(now, beforeMicros);
  EXPECT_LE(now - beforeMicros, 60000000u);  // generous: a busy machine

  using Clock = std::chrono::steady_clock;
  auto start = Clock::now();
  sleepMicroseconds(0);
  sleepMicroseconds(-5000000);
  sleepMicroseconds(999);  // truncated to 0 milliseconds
  // Well under the 5 s a negative time taken as positive would sleep.
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(4000));
  start = Clock::now();
  sleepMicroseconds(1500);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1));
}

TEST(TimeValue, LocalTimeOffsetFollowsTheZone) {
#ifdef _WIN32
  GTEST_SKIP() << "the Windows C runtime reads no POSIX TZ rules and has no setenv";
#else
  const char* saved = std::getenv("TZ");
  const std::string old = saved != nullptr ? saved : "";
  auto offsetIn = [](const char* zone, uint64_t time) {
    setenv("TZ", zone, 1);
    tzset();
    return localTimeOffset(time);
  };
  const uint64_t winter = timeOf({2011, 1, 15, 12, 0, 0, 0});
  const uint64_t summer = timeOf({2011, 7, 15, 12, 0, 0, 999999});
  EXPECT_EQ(offsetIn("XXX-1", winter), -3600000000);  // one hour east
  EXPECT_EQ(offsetIn("XXX-1", summer), -3600000000);
  EXPECT_EQ(offsetIn("XXX5", winter), 18000000000);  // five hours west
  EXPECT_EQ(offsetIn("CET-1CEST,M3.5.0,M10.5.0/3", winter), -3600000000);
  EXPECT_EQ(offsetIn("CET-1CEST,M3.5.0,M10.5.0/3", summer), -7200000000);
  if (saved != nullptr) {
    setenv("TZ", old.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
#endif
}

}  // namespace
}  // namespace cdt
