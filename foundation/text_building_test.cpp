#include "foundation/text_building.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace cdt {
namespace {

using namespace std::string_literals;

TEST(FormatAt, PositionsReplaceTheTailAndSizeFromTheFormat) {
  CountedString s;
  formatAt(s, 0, "%d-%s", 42, "abc");
  EXPECT_EQ(s.view(), "42-abc");
  EXPECT_EQ(arrayCapacityField(s.data()), 5 + 4 + 2 * 3);  // format + 4 + 3 per '%'
  formatAt(s, 2, "%c", 'x');
  formatAt(s, 6, "%s", "end");
  EXPECT_EQ(s.view(), "42x   end");
  formatAt(s, 0, "new");
  formatAppend(s, "%03d%c%c", 7, 0, '!');
  EXPECT_EQ(s.view(), "new007\0!"s);
  EXPECT_EQ(formatString("%s=%u", "k", 9u).view(), "k=9");

  // Results longer than the first room: the allowance per '%' doubles until
  // the text fits (3 * 32 for 100 characters).
  const std::string word(100, 'w');
  formatAt(s, 0, "%s", word.c_str());
  EXPECT_EQ(s.view(), word);
  EXPECT_EQ(arrayCapacityField(s.data()), 2 + 4 + 96);
  const std::string big(100000, 'b');
  formatAt(s, 3, "<%s>", big.c_str());
  EXPECT_EQ(s.view(), "www<" + big + ">");
  formatAt(s, 1, "%*d", 70000, 5);
  EXPECT_EQ(s.view(), "w" + std::string(69999, ' ') + "5");

#ifndef _WIN32
  // An encoding error writes nothing from the position on. (MinGW's %ls
  // converts a lone surrogate instead of failing, so there is none there.)
  const wchar_t badWide[] = {L'a', static_cast<wchar_t>(0xD800), 0};
  formatAt(s, 4, "%ls", badWide);
  EXPECT_EQ(s.view(), "w   ");
#endif
}

// A block laid out by hand with capacity 0: the engine must never write it.
struct ConstantBlock {
  int32_t length = 5;
  int32_t capacity = 0;
  char text[8] = "const";
};

TEST(FormatAt, SharedAndConstantStringsAreLeftToTheirHolders) {
  CountedString a("shared text");
  CountedString b = a;
  formatAt(a, 7, "%s!", "copy");
  EXPECT_EQ(a.view(), "shared copy!");
  EXPECT_EQ(b.view(), "shared text");
  EXPECT_EQ(arrayCapacityField(b.data()), 11);  // sole again
  // An argument taken from the other holder stays valid while formatting.
  CountedString c = b;
  formatAppend(c, " and %s, %d", b.c_str(), 1);
  EXPECT_EQ(c.view(), "shared text and shared text, 1");
  CountedString d = b;
  formatAt(d, 13, "%d", 1);
  EXPECT_EQ(d.view(), "shared text  1");
  EXPECT_EQ(b.view(), "shared text");

  static ConstantBlock block;
  CountedString constant = CountedString::adopt(block.text);
  formatAt(constant, 2, "%s", "ok");
  EXPECT_EQ(constant.view(), "cook");
  EXPECT_STREQ(block.text, "const");
  EXPECT_EQ(block.capacity, 0);

  // formatNew neither reads nor releases what the variable held.
  char* raw = b.value();
  formatNew(raw, 2, "%d", 12);
  EXPECT_EQ(CountedString::adopt(raw).view(), "  12");
  EXPECT_EQ(arrayCapacityField(b.data()), 11);
}

std::string quotedText(const std::string& text, char quote = '"') {
  CountedString s;
  quoteText(s, 0, TextBuffer(text), quote, '\\');
  return s.str();
}

std::string unquotedText(const std::string& text, char quote = '"') {
  CountedString s;
  unquoteText(s, 0, TextBuffer(text), quote, '\\');
  return s.str();
}

TEST(QuoteText, EscapesAndShortestSafeOctal) {
  EXPECT_EQ(quotedText("a\nb"), R"("a\nb")");
  EXPECT_EQ(quotedText("\x01"s + "7"), R"("\0017")");
  EXPECT_EQ(quotedText("\x01"), R"("\1")");
  EXPECT_EQ(quotedText("\x1f"), R"("\37")");
  EXPECT_EQ(quotedText("\x7f\xff"s + "9"), R"("\177\3779")");
  EXPECT_EQ(quotedText("say \"hi\"\\\b\r\t"), R"("say \"hi\"\\\b\r\t")");
  EXPECT_EQ(quotedText(""), R"("")");
  EXPECT_EQ(quotedText("\0"s + "1", 0), R"(\0001)");
  EXPECT_EQ(quotedText("a\"", 0), "a\"");

  CountedString s("key = old value");
  CountedString other = s;
  quoteText(s, 6, TextBuffer("v", 1), '"', '\\');
  EXPECT_EQ(s.view(), "key = \"v\"");
  quoteText(s, 12, TextBuffer("x", 1), 0, '\\');
  EXPECT_EQ(s.view(), "key = \"v\"   x");
  EXPECT_EQ(other.view(), "key = old value");
}

TEST(UnquoteText, EscapesOctalRunsAndTheLoneEscape) {
  EXPECT_EQ(unquotedText("  \"a\\1\\02b\"  "), "a\x01\x02"s + "b");
  EXPECT_EQ(unquotedText("\\101\\1012"), "AA2");
  EXPECT_EQ(unquotedText("\\7\\77\\377\\477"), "\x07\x3f\xff\x3f");
  EXPECT_EQ(unquotedText("abc\\"), "abc");
  EXPECT_EQ(unquotedText("\\1\\"), "\x01");
  EXPECT_EQ(unquotedText("\\8\\q\\\"\\\\\\n\\r\\t\\b"), "8q\"\\\n\r\t\b");
  EXPECT_EQ(unquotedText("\\0"), "\0"s);
  EXPECT_EQ(unquotedText("\""), "\"");
  EXPECT_EQ(unquotedText("a\"b"), "a\"b");
  EXPECT_EQ(unquotedText("\xe9\\\xff\xff"), "\xe9\xff\xff");
  EXPECT_EQ(unquotedText("  \"x\"  ", 0), "  \"x\"  ");

  CountedString t("name: ");
  CountedString other = t;
  unquoteText(t, 8, TextBuffer("\"v\"", 3), '"', '\\');
  EXPECT_EQ(t.view(), "name:   v");
  EXPECT_EQ(other.view(), "name: ");
  // A text that lies inside the string being written.
  CountedString self("\"abc\"");
  unquoteText(self, 5, TextBuffer(self.data(), self.length()), '"', '\\');
  EXPECT_EQ(self.view(), "\"abc\"abc");
}

TEST(QuoteText, RandomBytesRoundTrip) {
  std::mt19937 random(20110315);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 40);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (int i = length(random); i > 0; --i) {
      const int b = byte(random);
      text.push_back(static_cast<char>(b));
      if (b < 32) text.push_back(static_cast<char>('0' + b % 10));  // digits after controls
    }
    for (char quote : {'"', '\0'}) {
      const std::string q = quotedText(text, quote);
      for (char c : q) {
        ASSERT_TRUE(c >= 0x20 && c < 0x7F) << "raw byte " << int(c) << " in round " << round;
      }
      ASSERT_EQ(unquotedText(q, quote), text) << "round " << round << " quote " << int(quote);
    }
  }
}

}  // namespace
}  // namespace cdt
