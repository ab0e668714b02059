#include "foundation/time_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

namespace cdt {
namespace {

// 2011-05-06T12:30:45Z
constexpr uint64_t kBase = 1304685045000000ull;
constexpr uint64_t kMinute = 60000000ull;

TEST(TimeText, ParsesEveryAcceptedFormAndRejectsTheRest) {
  const struct {
    const char* text;
    uint64_t time;
  } good[] = {
      {"2011-05-06T12:30:45.25Z", kBase + 250000},
      {"2011-05-06 12:30:45.25", kBase + 250000},
      {"2011-05-06t12:30:45,25z", kBase + 250000},
      {" \t2011-05-06T12:30:45Z\n", kBase},
      {"2011-05-06T12:30:45", kBase},
      {"2011-05-06T12:30", kBase - 45000000},
      {"2011-05-06T12", kBase - 30 * kMinute - 45000000},
      {"2011-05-06", kBase - (12 * 3600 + 30 * 60 + 45) * 1000000ull},
      {"2011-05-06T12:30:45.1234569Z", kBase + 123456},
      {"2011-05-06T14:30:45+02:00", kBase},
      {"2011-05-06T14:30:45+0200", kBase},
      {"2011-05-06T14:30:45+02", kBase},
      {"2011-05-06T07:00:45.5-05:30", kBase + 500000},
      {"2011-05-06T12:30:45-00:00", kBase},
      {"1970-01-01", 0},
      {"1970-01-01T01:00+01:00", 0},
      {"2012-02-29", 1330473600000000ull},
  };
  for (const auto& [text, time] : good) EXPECT_EQ(parseTimeText(text), time) << text;
  for (const char* bad : {"",
                          " ",
                          "2011",
                          "2011-5-6",
                          "20110506",
                          "2011-W18-5",
                          "2011-05-06T",
                          "2011-05-06T1",
                          "2011-05-06T12:3",
                          "2011-05-06T12:30:45.",
                          "2011-05-06T12:30.5",
                          "2011-13-01",
                          "2011-02-29",
                          "2011-04-31",
                          "2011-05-06T24:00:00",
                          "2011-05-06T12:60",
                          "2011-05-06T12:30:60",
                          "1969-12-31",
                          "1970-01-01T00:30+01:00",
                          "2011-05-06T12:30:45ZZ",
                          "2011-05-06x12:30",
                          "2011-05-06  12:30",
                          "2011-05-06x",
                          "2011-05-06Z",
                          "2011-05-06T12:30:45+24:00",
                          "2011-05-06T12:30:45+02:60",
                          "2011-05-06T12:30:45+2",
                          "2011-05-06T12:30:45+02:",
                          "2011-05-06T12:30:45+02:00:30",
                          "2011-05-06T12:30:45 +02:00",
                          "2011-05-06T12:30:45Z+01:00"}) {
    EXPECT_EQ(parseTimeText(bad), std::nullopt) << '"' << bad << '"';
  }
}

TEST(TimeText, FormatsWithoutTrailingZerosAndRoundTrips) {
  EXPECT_EQ(formatTimeText(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(formatTimeText(1304685045250000ull), "2011-05-06T12:30:45.25Z");
  EXPECT_EQ(formatTimeText(1304685045000001ull), "2011-05-06T12:30:45.000001Z");
  for (uint64_t t = 0; t < 400ull * 365 * 86400000000ull; t = t * 3 + 987654321) {
    EXPECT_EQ(parseTimeText(formatTimeText(t)), t) << t;
  }
}

}  // namespace
}  // namespace cdt
