#include "csv/number_format.h"

#include <gtest/gtest.h>
#include <time.h>

#include <bit>
#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace cdt {
namespace {

std::string viaPrintf(const char* format, float v) {
  char text[64];
  std::snprintf(text, sizeof text, format, static_cast<double>(v));
  return text;
}

std::string g8(float v) {
  char text[kNumberRoom];
  return std::string(text, formatG8(text, v));
}

std::string g6(float v) {
  char text[kNumberRoom];
  return std::string(text, formatG6(text, v));
}

std::string timeCell(uint64_t t) {
  char text[kMaxTimeCellLength];
  return std::string(text, formatTimeCell(text, t));
}

// Both formatters against printf; reports the bit pattern of a mismatch.
void expectLikePrintf(float v) {
  ASSERT_EQ(g8(v), viaPrintf("%.8g", v)) << "bits 0x" << std::hex << std::bit_cast<uint32_t>(v);
  ASSERT_EQ(g6(v), viaPrintf("%.6g", v)) << "bits 0x" << std::hex << std::bit_cast<uint32_t>(v);
}

TEST(NumberFormat, SpecialValuesLikePrintf) {
#ifdef _WIN32
  GTEST_SKIP() << "MinGW's printf, the reference here, drops a NaN's sign (the CSV keeps -nan)";
#endif
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> values = {
      0.0f,
      -0.0f,
      nan,
      -nan,
      std::bit_cast<float>(0x7FC12345u),  // quiet NaN with a payload
      std::bit_cast<float>(0xFF812345u),  // negative signalling NaN with a payload
      std::bit_cast<float>(0x7F800001u),
      std::numeric_limits<float>::infinity(),
      -std::numeric_limits<float>::infinity(),
      FLT_MAX,
      -FLT_MAX,
      FLT_MIN,
      -FLT_MIN,
      std::numeric_limits<float>::denorm_min(),
      -std::numeric_limits<float>::denorm_min(),
      std::bit_cast<float>(0x007FFFFFu),  // largest denormal
      1.0f,
      0.5f,
      3000.0f,
      1e-5f,
      1e-4f,
      123456.5f,
      999999.5f,
      99999995.0f,
      1e8f,
      16777216.0f,
  };
  for (float v : values) expectLikePrintf(v);

  EXPECT_EQ(g8(nan), "nan");
  EXPECT_EQ(g8(-nan), "-nan");
  EXPECT_EQ(g6(-std::numeric_limits<float>::infinity()), "-inf");
  EXPECT_EQ(g8(0.25f), "0.25");
  EXPECT_EQ(g6(3000.0f), "3000");
  EXPECT_EQ(g8(FLT_MAX), "3.4028235e+38");
}

TEST(NumberFormat, RandomBitPatternsLikePrintf) {
#ifdef _WIN32
  GTEST_SKIP() << "MinGW's printf, the reference here, drops a NaN's sign (the CSV keeps -nan)";
#endif
  std::mt19937 random(20110315);
  for (int i = 0; i < 1000000; ++i) {
    expectLikePrintf(std::bit_cast<float>(static_cast<uint32_t>(random())));
  }
}

// Values within a few ulps of powers of ten, where the choice between fixed
// and exponent form and the digit count change.
TEST(NumberFormat, NearPowersOfTenLikePrintf) {
#ifdef _WIN32
  GTEST_SKIP() << "MinGW's printf, the reference here, drops a NaN's sign (the CSV keeps -nan)";
#endif
  for (int e = -45; e <= 38; ++e) {
    for (double mantissa : {1.0, 9.9999995, 9.999995, 9.99995}) {
      const float base = static_cast<float>(mantissa * std::pow(10.0, e));
      uint32_t bits = std::bit_cast<uint32_t>(base);
      for (uint32_t d = 0; d < 64; ++d) {
        for (uint32_t b : {bits + d, bits - d}) {
          expectLikePrintf(std::bit_cast<float>(b));
          expectLikePrintf(-std::bit_cast<float>(b));
        }
      }
    }
  }
}

// Decimal halfway points of 8 and 6 significant digits and their float
// neighbours, where rounding of the shortest digits must match printf's.
TEST(NumberFormat, NearRoundingBoundariesLikePrintf) {
  std::mt19937_64 random(1959);
  for (int i = 0; i < 200000; ++i) {
    const int digits = (i % 2 == 0) ? 8 : 6;
    const int exponent = static_cast<int>(random() % 84) - 45;
    const uint64_t lead = random() % 9 + 1;
    uint64_t rest = 1;
    for (int k = 1; k < digits; ++k) rest *= 10;
    char text[64];
    std::snprintf(text, sizeof text, "%" PRIu64 ".%0*" PRIu64 "5e%d", lead, digits - 1,
                  random() % rest, exponent);
    const float v = std::strtof(text, nullptr);
    const uint32_t bits = std::bit_cast<uint32_t>(v);
    for (uint32_t b : {bits - 1, bits, bits + 1}) expectLikePrintf(std::bit_cast<float>(b));
  }
}

// The DNS mean is a double: random bit patterns and means of random floats.
TEST(NumberFormat, DoubleG8LikePrintf) {
#ifdef _WIN32
  GTEST_SKIP() << "MinGW's printf, the reference here, drops a NaN's sign (the CSV keeps -nan)";
#endif
  std::mt19937_64 random(3000);
  for (int i = 0; i < 1000000; ++i) {
    double v = std::bit_cast<double>(random());
    if (i % 2 == 1) {
      const float a = std::bit_cast<float>(static_cast<uint32_t>(random()));
      const float b = static_cast<float>(random() % 100000) / 1000.0f;
      v = (static_cast<double>(a) + b) / static_cast<double>(1 + random() % 60);
    }
    char fast[kMaxG8Length];
    char slow[64];
    std::snprintf(slow, sizeof slow, "%.8g", v);
    ASSERT_EQ(std::string(fast, formatDoubleG8(fast, v)), slow) << v;
  }
}

TEST(NumberFormat, U64LikePrintf) {
  std::mt19937_64 random(42);
  std::vector<uint64_t> values = {0, 9, 10, 99, 100, UINT32_MAX, UINT64_MAX, UINT64_MAX - 1};
  for (int i = 0; i < 100000; ++i) values.push_back(random() >> (random() % 64));
  for (uint64_t v : values) {
    char fast[kMaxU64Length];
    char slow[32];
    std::snprintf(slow, sizeof slow, "%" PRIu64, v);
    ASSERT_EQ(std::string(fast, formatU64(fast, v)), slow);
  }
}

// The cell computed the slow way: integer rounding, then gmtime_r.
std::string referenceTimeCell(uint64_t t) {
  const uint64_t hundredths = t / 10000 + (t % 10000 >= 5000 ? 1 : 0);
  const time_t seconds = static_cast<time_t>(hundredths / 100);
  const struct tm* broken = std::gmtime(&seconds);
  EXPECT_NE(broken, nullptr);
  const struct tm fields = *broken;
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d:%02d.%02d",
                static_cast<long long>(fields.tm_year) + 1900, fields.tm_mon + 1, fields.tm_mday,
                fields.tm_hour, fields.tm_min, fields.tm_sec, static_cast<int>(hundredths % 100));
  return text;
}

TEST(NumberFormat, TimeCellCasesAndCarries) {
#ifdef _WIN32
  GTEST_SKIP() << "msvcrt's gmtime, the reference here, ends at the year 3000";
#endif
  EXPECT_EQ(timeCell(0), "1970-01-01 00:00:00.00");
  // 2011-03-15 14:07:09.250000
  EXPECT_EQ(timeCell(1300198029250000ull), "2011-03-15 14:07:09.25");
  // Second 7 with 999999 microseconds.
  EXPECT_EQ(timeCell(7999999), "1970-01-01 00:00:08.00");
  // 12:30:59.996 carries into the minute; .994 does not.
  EXPECT_EQ(timeCell(45059996000ull), "1970-01-01 12:31:00.00");
  EXPECT_EQ(timeCell(45059994999ull), "1970-01-01 12:30:59.99");
  // Halves round up: 4999 microseconds down, 5000 up.
  EXPECT_EQ(timeCell(4999), "1970-01-01 00:00:00.00");
  EXPECT_EQ(timeCell(5000), "1970-01-01 00:00:00.01");
  // 1999-12-31 23:59:59.995 carries into the year.
  EXPECT_EQ(timeCell(946684799995000ull), "2000-01-01 00:00:00.00");
  // Leap days, including the 400-year rule.
  EXPECT_EQ(timeCell(951782400000000ull), "2000-02-29 00:00:00.00");
  EXPECT_EQ(timeCell(4107542400000000ull), "2100-03-01 00:00:00.00");
  // The top of the range: rounding must not wrap around to 1970.
  EXPECT_EQ(timeCell(UINT64_MAX), referenceTimeCell(UINT64_MAX));
  EXPECT_EQ(timeCell(UINT64_MAX - 1615), referenceTimeCell(UINT64_MAX - 1615));
  EXPECT_EQ(timeCell(UINT64_MAX / 10000 * 10000 - 1),
            referenceTimeCell(UINT64_MAX / 10000 * 10000 - 1));
}

TEST(NumberFormat, RandomTimeCellsLikeGmtime) {
#ifdef _WIN32
  GTEST_SKIP() << "msvcrt's gmtime, the reference here, ends at the year 3000";
#endif
  std::mt19937_64 random(7);
  for (int i = 0; i < 200000; ++i) {
    uint64_t t;
    switch (i % 4) {
      case 0:
        t = random();
        break;  // any year
      case 1:
        t = random() % 4102444800000000ull;
        break;  // 1970 to 2100
      case 2:
        t = (random() % 4102444800ull) * 1000000 - 5000;
        break;  // just below a second
      default:
        t = (random() % 68000000ull) * 60000000 + 59995000 + random() % 10000;
        break;
    }
    ASSERT_EQ(timeCell(t), referenceTimeCell(t)) << "time " << t;
  }
}

}  // namespace
}  // namespace cdt
