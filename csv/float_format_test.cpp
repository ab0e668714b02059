#include "csv/float_format.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace cdt {
namespace {

struct Case {
  const char* format;
  char* (*formatter)(char*, float);
};
constexpr Case kCases[] = {{"%.8g", formatFloatG8}, {"%.6g", formatFloatG6}};

// Whether both formatters agree with printf on `v`; allocation-free so that
// millions of checks stay quick under the sanitizers.
bool agrees(float v) {
  for (const Case& c : kCases) {
    char expected[64];
    const int length = std::snprintf(expected, sizeof expected, c.format, static_cast<double>(v));
    char got[kFloatFormatRoom];
    const char* end = c.formatter(got, v);
    if (end - got != length || std::memcmp(got, expected, static_cast<size_t>(length)) != 0) {
      return false;
    }
  }
  return true;
}

// What the formatters and printf write for `v`.
std::string describe(float v) {
  char bits[16];
  std::snprintf(bits, sizeof bits, "%08x", std::bit_cast<uint32_t>(v));
  std::string report = std::string("0x") + bits + ":";
  for (const Case& c : kCases) {
    char expected[64];
    std::snprintf(expected, sizeof expected, c.format, static_cast<double>(v));
    char got[kFloatFormatRoom];
    report += std::string(" ") + c.format + " \"" + std::string(got, c.formatter(got, v)) +
              "\" printf \"" + expected + "\"";
  }
  return report + "\n";
}

float fromBits(uint32_t bits) {
  return std::bit_cast<float>(bits);
}

// Checks `v` and `radius` neighbouring floats on each side, both signs.
void expectAround(float v, int radius) {
  uint32_t bits = std::bit_cast<uint32_t>(std::fabs(v));
  for (int64_t i = -radius; i <= radius; ++i) {
    const int64_t b = static_cast<int64_t>(bits) + i;
    if (b < 0 || b >= 0x7f800000) continue;
    const auto u = static_cast<uint32_t>(b);
    ASSERT_TRUE(agrees(fromBits(u))) << describe(fromBits(u));
    ASSERT_TRUE(agrees(fromBits(u | 0x80000000u))) << describe(fromBits(u | 0x80000000u));
  }
}

TEST(FloatFormat, SpecialValues) {
#ifdef _WIN32
  GTEST_SKIP() << "MinGW's printf, the reference here, drops a NaN's sign (the CSV keeps -nan)";
#endif
  for (uint32_t bits :
       {0x00000000u, 0x80000000u, 0x7f800000u, 0xff800000u, 0x7fc00000u, 0xffc00000u, 0x7f800001u,
        0xff800001u, 0x7fbfffffu, 0x7fffffffu, 0xffffffffu, 0x00000001u, 0x80000001u, 0x007fffffu,
        0x00800000u, 0x7f7fffffu, 0xff7fffffu, 0x3f800000u}) {
    EXPECT_TRUE(agrees(fromBits(bits))) << describe(fromBits(bits));
  }
  char buf[kFloatFormatRoom];
  EXPECT_EQ(std::string(buf, formatFloatG8(buf, -std::nanf(""))), "-nan");
  EXPECT_EQ(std::string(buf, formatFloatG6(buf, -0.0f)), "-0");
  EXPECT_EQ(std::string(buf, formatFloatG8(buf, 1.0e-45f)), "1.4012985e-45");
}

// Ties exist: 2^-12 = 0.000244140625 has nine significant digits and 2^-9 =
// 0.001953125 has seven, so the even neighbour wins.
TEST(FloatFormat, ExactTiesRoundToEven) {
  char buf[kFloatFormatRoom];
  EXPECT_EQ(std::string(buf, formatFloatG8(buf, std::ldexp(1.0f, -12))), "0.00024414062");
  EXPECT_EQ(std::string(buf, formatFloatG6(buf, std::ldexp(1.0f, -9))), "0.00195312");
  EXPECT_EQ(std::string(buf, formatFloatG6(buf, std::ldexp(3.0f, -9))), "0.00585938");
  // Every float of the form odd * 2^-j whose expansion ends one or two
  // digits past either precision.
  for (uint32_t odd = 1; odd < 2000; odd += 2) {
    for (int j = 1; j <= 40; ++j) expectAround(std::ldexp(static_cast<float>(odd), -j), 0);
  }
}

// The choice between fixed and exponent form and the decimal exponent's
// off-by-one cases live next to powers of ten and two.
TEST(FloatFormat, AroundPowersOfTenAndTwo) {
  for (int x = -46; x <= 39; ++x) {
    expectAround(std::strtof(("1e" + std::to_string(x)).c_str(), nullptr), 40);
  }
  for (int e = -149; e <= 127; ++e) expectAround(std::ldexp(1.0f, e), 8);
}

// Floats nearest the midpoints between neighbouring 8- and 6-digit decimals,
// including the midpoints below the next power of ten where rounding up
// carries into a new digit.
TEST(FloatFormat, AroundRoundingBoundaries) {
  std::mt19937 random(12345);
  for (int x = -45; x <= 38; ++x) {
    for (int digits : {6, 8}) {
      const uint32_t limit = digits == 8 ? 100000000 : 1000000;
      for (int i = 0; i < 40; ++i) {
        const uint32_t d = i == 0 ? limit - 1 : limit / 10 + random() % (limit - limit / 10);
        const std::string text = std::to_string(d) + "5e" + std::to_string(x - digits);
        expectAround(std::strtof(text.c_str(), nullptr), 2);
      }
    }
  }
}

TEST(FloatFormat, RandomBitPatterns) {
#ifdef _WIN32
  GTEST_SKIP() << "MinGW's printf, the reference here, drops a NaN's sign (the CSV keeps -nan)";
#endif
  std::mt19937 random(2024);
  for (int i = 0; i < 2000000; ++i) {
    const float v = fromBits(static_cast<uint32_t>(random()));
    ASSERT_TRUE(agrees(v)) << describe(v);
  }
}

// The cell loop: a separator and the text of each float, at any stride,
// within the room it asks for.
TEST(FloatFormat, CellsOfStridedFloats) {
#ifdef _WIN32
  GTEST_SKIP() << "MinGW's printf, the reference here, drops a NaN's sign (the CSV keeps -nan)";
#endif
  std::mt19937 random(77);
  for (std::size_t stride : {std::size_t{4}, std::size_t{8}, std::size_t{12}}) {
    for (uint32_t count : {0u, 1u, 7u, 60u, 500u}) {
      std::string values(count * stride, '\0');
      std::string expected;
      for (uint32_t i = 0; i < count; ++i) {
        const float v = fromBits(static_cast<uint32_t>(random()));
        std::memcpy(values.data() + i * stride, &v, sizeof v);
        char text[64];
        std::snprintf(text, sizeof text, ",%.8g", static_cast<double>(v));
        expected += text;
      }
      std::string out(floatCellsRoom(count), '\0');
      const auto* bytes = reinterpret_cast<const unsigned char*>(values.data());
      const char* end = formatFloatCellsG8(out.data(), bytes, count, stride);
      EXPECT_EQ(std::string(out.data(), static_cast<std::size_t>(end - out.data())), expected)
          << count << " floats, stride " << stride;
    }
  }
}

// Measurement-like cells, which the formatter takes eight at a time: every
// binary exponent from 2^-10 to 2^24 and both signs, with exact ties, values
// just below powers of ten (rounding up carries into the next exponent),
// integers with trailing zeros and a few floats outside that range among
// them, at every count around multiples of eight, from a buffer of exactly
// the floats' bytes into exactly the room asked for.
TEST(FloatFormat, CellsOfMeasurementLikeFloats) {
#ifdef _WIN32
  GTEST_SKIP() << "MinGW's printf, the reference here, drops a NaN's sign (the CSV keeps -nan)";
#endif
  std::vector<float> special = {1035672.75f, 1234567.25f, 0.001953125f,
                                16777215.0f, 16777216.0f, 1200.0f,
                                12345678.0f, 0.5f,        100.0f,
                                0.25f,       9999999.5f,  std::nextafter(0.001953125f, 0.0f)};
  for (int x = -3; x <= 8; ++x) {
    const float p = std::strtof(("1e" + std::to_string(x)).c_str(), nullptr);
    special.push_back(p);
    special.push_back(std::nextafter(p, 0.0f));
    special.push_back(std::nextafter(std::nextafter(p, 0.0f), 0.0f));
    special.push_back(std::nextafter(p, 1e30f));
  }
  const float outside[] = {0.0f, -0.0f, 1e-20f, 3e9f, std::nanf(""), INFINITY, 0.0001f};
  std::mt19937 random(99);
  auto next = [&]() {
    const uint32_t pick = random() % 64;
    if (pick == 0) return outside[random() % std::size(outside)];
    if (pick < 8) return special[random() % special.size()] * (random() % 2 != 0 ? -1.0f : 1.0f);
    const uint32_t biased = 117 + random() % 35;  // 2^-10 to 2^24
    return fromBits(random() % 2 << 31 | biased << 23 | (random() & 0x7fffff));
  };
  for (int round = 0; round < 300; ++round) {
    for (std::size_t stride : {std::size_t{4}, std::size_t{8}, std::size_t{12}}) {
      for (uint32_t count : {8u, 9u, 15u, 16u, 17u, 60u, 61u}) {
        // With stride 8, the floats at offset 4 end the buffer (the second of
        // two floats an entry).
        const std::size_t offset = stride == 8 ? 4 : 0;
        std::vector<unsigned char> values(offset + (count - 1) * stride + 4);
        std::string expected;
        for (uint32_t i = 0; i < count; ++i) {
          const float v = next();
          std::memcpy(values.data() + offset + i * stride, &v, sizeof v);
          char text[64];
          std::snprintf(text, sizeof text, ",%.8g", static_cast<double>(v));
          expected += text;
        }
        std::vector<char> out(floatCellsRoom(count));
        const char* end = formatFloatCellsG8(out.data(), values.data() + offset, count, stride);
        ASSERT_EQ(std::string(out.data(), static_cast<std::size_t>(end - out.data())), expected)
            << count << " floats, stride " << stride;
      }
    }
  }
}

}  // namespace
}  // namespace cdt
