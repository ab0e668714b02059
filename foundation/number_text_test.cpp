#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "foundation/tokenizer.h"

namespace cdt {
namespace {

// The characters in a heap block of exactly their size, without a terminator,
// so a conversion that reads past the view is caught.
class Unterminated {
 public:
  explicit Unterminated(const std::string& s)
      : bytes_(std::make_unique<char[]>(s.size() + (s.empty() ? 1 : 0))), size_(s.size()) {
    std::memcpy(bytes_.get(), s.data(), s.size());
  }
  operator TextBuffer() const { return {bytes_.get(), static_cast<uint32_t>(size_)}; }

 private:
  std::unique_ptr<char[]> bytes_;
  size_t size_;
};

bool isInt(const std::string& s, int base = 10) {
  return isIntegerText(Unterminated(s), base);
}
bool isReal(const std::string& s) {
  return isRealText(Unterminated(s));
}
int32_t i32(const std::string& s) {
  return parseInt32(Unterminated(s), -1, 10);
}
uint32_t u32(const std::string& s) {
  return parseUInt32(Unterminated(s), 1, 10);
}

TEST(NumberText, WholeViewChecks) {
  EXPECT_TRUE(isInt("12"));
  EXPECT_TRUE(isInt(" -7 \t\r\n"));
  EXPECT_TRUE(isInt("99999999999999999999999"));  // out of range is still a number
  for (const char* s : {"12a", "1.5", "", "   ", "-", "1 2"}) EXPECT_FALSE(isInt(s)) << s;
  EXPECT_FALSE(isInt(std::string("12\0", 3)));
  EXPECT_FALSE(isInt("0x1F", 10));
  EXPECT_TRUE(isInt("0x1F", 16));
  EXPECT_TRUE(isInt("0x1F", 0));
  EXPECT_FALSE(isInt("019", 0));
  // An invalid base accepts nothing.
  for (int base : {-2, 1, 37}) {
    EXPECT_FALSE(isInt("1", base));
    EXPECT_EQ(parseInt32(Unterminated("1"), -5, base), -5);
    EXPECT_EQ(parseUInt64(Unterminated("1"), 5, base), 5u);
  }
  for (const char* s : {"1.5", "1e3", "-0.25", " .5 "}) EXPECT_TRUE(isReal(s)) << s;
  for (const char* s : {"1.5.2", "e3", "", "\t", "1,5"}) EXPECT_FALSE(isReal(s)) << s;
  EXPECT_EQ(parseReal(Unterminated(" "), 2.5), 2.5);
  EXPECT_EQ(parseReal(Unterminated("-0.25"), 0), -0.25);
}

// Only the view's characters count, however long the view is.
TEST(NumberText, ViewsAreCopiedWithinTheirBounds) {
  const char* text = "12345 678";
  EXPECT_EQ(parseInt32(TextBuffer(text, 2), -1, 10), 12);
  EXPECT_EQ(parseInt64(TextBuffer(text, 6), -1, 10), 12345);
  EXPECT_EQ(parseReal(TextBuffer("2.5e3", 3), -1), 2.5);
  for (uint32_t n : {126u, 127u, 128u, 129u, 1000u}) {
    const std::string s = std::string(n - 1, '0') + "9";
    EXPECT_EQ(i32(s), 9) << n;
    EXPECT_EQ(i32(std::string(n, ' ') + "42" + std::string(n, ' ')), 42) << n;
    EXPECT_FALSE(isInt(s + "x")) << n;
  }
}

TEST(NumberText, OutOfRangeSaturatesLikeNarrowConversions) {
  EXPECT_EQ(i32("2147483648"), INT32_MAX);
  EXPECT_EQ(i32("12345678901"), INT32_MAX);
  EXPECT_EQ(i32("-2147483648"), INT32_MIN);
  EXPECT_EQ(i32("-2147483649"), INT32_MIN);
  EXPECT_EQ(i32("-99999999999999999999999"), INT32_MIN);

  // 32-bit strtoul: a magnitude above 32 bits saturates, a minus sign negates.
  EXPECT_EQ(u32("4294967295"), UINT32_MAX);
  EXPECT_EQ(u32("4294967296"), UINT32_MAX);
  EXPECT_EQ(u32("-1"), 4294967295u);
  EXPECT_EQ(u32("-4294967295"), 1u);
  EXPECT_EQ(u32("-4294967296"), UINT32_MAX);
  EXPECT_EQ(u32("-18446744073709551615"), UINT32_MAX);
  EXPECT_EQ(u32("-0"), 0u);

  EXPECT_EQ(parseInt64(Unterminated("-9223372036854775809"), 0, 10), INT64_MIN);
  EXPECT_EQ(parseUInt64(Unterminated("18446744073709551615"), 0, 10), UINT64_MAX);
  EXPECT_EQ(parseUInt64(Unterminated("18446744073709551616"), 0, 10), UINT64_MAX);
  EXPECT_EQ(parseReal(Unterminated("-1e999"), 0), -HUGE_VAL);
}

// What the checks must say: the C conversion consumed something and left
// only white space.
bool wholeBy(const std::string& s, const char* end) {
  if (end == s.c_str()) return false;
  for (; end < s.c_str() + s.size(); ++end) {
    if (!std::isspace(static_cast<unsigned char>(*end))) return false;
  }
  return true;
}

// The checks agree with strtol and strtod, and each parser takes a view
// exactly when its check accepts it.
TEST(NumberText, ChecksAgreeWithTheCLibrary) {
  std::vector<std::string> samples = {"0x",  "0X1a", "-0x1a",    " 0x 1", "1e+",   "+.5", "5.",
                                      "inf", "-nan", "infinity", "0x1p3", "\v1\f", "+-1", "08"};
  std::mt19937 random(20240531u);
  static const char kAlphabet[] = "0123456789abcdefxXpP+-.eE \t\nin";
  for (int i = 0; i < 4000; ++i) {
    std::string s(random() % 9, ' ');
    for (char& c : s) c = kAlphabet[random() % (sizeof kAlphabet - 1)];
    samples.push_back(s);
  }
  for (const std::string& s : samples) {
    const Unterminated view(s);
    for (int base : {0, 8, 10, 16, 36}) {
      char* end = nullptr;
      (void)std::strtol(s.c_str(), &end, base);
      const bool expected = wholeBy(s, end);
      ASSERT_EQ(isIntegerText(view, base), expected) << '"' << s << "\" base " << base;
      const long long wide = std::strtoll(s.c_str(), nullptr, base);
      EXPECT_EQ(parseInt64(view, 3, base), expected ? wide : 3) << s;
      EXPECT_EQ(parseUInt32(view, 3, base), expected ? parseUInt32(view, 4, base) : 3u) << s;
    }
    char* end = nullptr;
    const double real = std::strtod(s.c_str(), &end);
    ASSERT_EQ(isRealText(view), wholeBy(s, end)) << '"' << s << '"';
    const double parsed = parseReal(view, -77.5);
    if (!wholeBy(s, end)) {
      EXPECT_EQ(parsed, -77.5) << s;
    } else if (!std::isnan(real)) {
      EXPECT_EQ(parsed, real) << s;
    }
  }
}

}  // namespace
}  // namespace cdt
