#include "foundation/text_view.h"

#include <gtest/gtest.h>

#include <string>

namespace cdt {
namespace {

std::string str(TextBuffer t) {
  return std::string(t.view());
}
TextBuffer tb(const char* s) {
  return TextBuffer(std::string_view(s));
}

TEST(TextView, BlankTrimAndQuotes) {
  EXPECT_TRUE(isBlankText(TextBuffer(nullptr, 5)));
  EXPECT_TRUE(isBlankText(tb(" \t\n\v\f\r")));
  EXPECT_TRUE(isBlankText(TextBuffer("  x", 2)));  // only the view counts
  EXPECT_FALSE(isBlankText(TextBuffer("\0", 1)));
  EXPECT_EQ(str(trimText(tb("\t a b \r\n"))), "a b");
  EXPECT_TRUE(trimText(tb("   ")).empty());

  EXPECT_EQ(str(stripQuotes(tb("\"a b\""), '"')), "a b");
  EXPECT_EQ(str(stripQuotes(tb("\""), '"')), "\"");
  EXPECT_TRUE(stripQuotes(tb("\"\""), '"').empty());
  EXPECT_EQ(str(stripQuotes(tb("\"abc"), '"')), "\"abc");
  EXPECT_EQ(str(stripQuotes(tb("\"\"x\"\""), '"')), "\"x\"");  // one pair only
}

TEST(TextView, Equality) {
  EXPECT_TRUE(textEquals(TextBuffer(), TextBuffer("abc", 0)));
  EXPECT_TRUE(textEquals(TextBuffer(nullptr, 3), TextBuffer()));
  EXPECT_TRUE(textEquals(tb("abc"), TextBuffer("abcdef", 3)));
  EXPECT_FALSE(textEquals(tb("abc"), tb("abd")));
  EXPECT_FALSE(textEquals(tb("abc"), TextBuffer()));
  EXPECT_FALSE(textEquals(TextBuffer("a\0b", 3), TextBuffer("a\0c", 3)));
}

TEST(TextView, ColumnOfTheLastLine) {
  EXPECT_EQ(textColumn(TextBuffer()), 0u);
  EXPECT_EQ(textColumn(tb("abc\n")), 0u);
  EXPECT_EQ(textColumn(tb("abc\r")), 0u);
  EXPECT_EQ(textColumn(tb("first line\nab")), 2u);
  EXPECT_EQ(textColumn(tb("first\rab")), 2u);
  EXPECT_EQ(textColumn(tb("abcdefgh\t")), 16u);
  EXPECT_EQ(textColumn(tb("abcdefg\tx")), 9u);
  EXPECT_EQ(textColumn(tb("\t\nab")), 2u);
}

}  // namespace
}  // namespace cdt
