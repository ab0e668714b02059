#include "foundation/tokenizer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace cdt {
namespace {

using Tokens = std::vector<std::string>;

std::string str(TextBuffer t) {
  return std::string(t.view());
}

// The configuration reader's line settings.
const TokenRules kLine{" \t\n\r", "=[]", true, '\\', '"'};
const TokenRules kPath{"\\/:", nullptr, true, 0, 0};
const TokenRules kCommas{",", nullptr, true, 0, 0};
const TokenRules kCommasUntrimmed{",", "=", false, 0, 0};

// The text in a heap block of exactly its size, so reading past it is caught.
struct HeapText {
  explicit HeapText(const std::string& s) : bytes(std::make_unique<char[]>(s.size() + 1)) {
    std::memcpy(bytes.get(), s.data(), s.size());
    tokenizer = Tokenizer(bytes.get(), static_cast<uint32_t>(s.size()));
  }
  std::unique_ptr<char[]> bytes;
  Tokenizer tokenizer;
};

Tokens scanAll(const std::string& text, const TokenRules& rules) {
  HeapText h(text);
  Tokens out;
  while (!h.tokenizer.atEnd()) {
    out.push_back(str(nextToken(h.tokenizer, rules)));
    EXPECT_EQ(out.back(), str(h.tokenizer.lastToken));
  }
  return out;
}

TEST(Tokenizer, QuotesEscapesSeparatorsAndSingles) {
  struct Case {
    const TokenRules& rules;
    std::string text;
    Tokens tokens;
  } cases[] = {
      {kLine, "  key = \"a b\"", {"key", "=", "\"a b\""}},
      {kLine, "name[3] = x", {"name", "[", "3", "]", "=", "x"}},
      {kLine, "v = \"say \\\"hi\\\" now\" x", {"v", "=", "\"say \\\"hi\\\" now\"", "x"}},
      {kLine, "\"a=[b]\"c a\\ b\\=c", {"\"a=[b]\"c", "a\\ b\\=c"}},
      {kLine, "k = \"open ended", {"k", "=", "\"open ended"}},
      {kLine, "k = end\\", {"k", "=", "end\\"}},
      {kCommas, ",,a,,,b", {"a", "b"}},
      {kCommas, "  a  , b c ,", {"a", "b c"}},
      {kCommasUntrimmed, "a,,b", {"a", "", "b"}},
      {kCommasUntrimmed, "a,,", {"a", ""}},
      {kCommasUntrimmed, "k = v", {"k ", "=", " v"}},
      {kCommasUntrimmed, "==", {"=", "="}},
      {TokenRules{}, "a b,c", {"a b,c"}},
      // A NUL is an ordinary character, not the end of a set.
      {kCommas, std::string("a\0b,c", 5), {std::string("a\0b", 3), "c"}},
  };
  for (const Case& c : cases) EXPECT_EQ(scanAll(c.text, c.rules), c.tokens) << c.text;
}

// With trim on, the end of the text right after a skipped blank piece gives
// one more, empty token; one separator after the last token gives none.
TEST(Tokenizer, EndAfterSkippedPieceGivesOneEmptyToken) {
  EXPECT_EQ(scanAll("abc ", kLine), (Tokens{"abc"}));
  EXPECT_EQ(scanAll("abc  ", kLine), (Tokens{"abc", ""}));
  EXPECT_EQ(scanAll("   ", kLine), (Tokens{""}));
  EXPECT_EQ(scanAll("", kLine), (Tokens{}));
  EXPECT_EQ(scanAll("a,b,", kCommas), (Tokens{"a", "b"}));
  EXPECT_EQ(scanAll("a,b,,,", kCommas), (Tokens{"a", "b", ""}));
  EXPECT_EQ(scanAll("a,b, ", kCommas), (Tokens{"a", "b", ""}));

  Tokenizer t("abc  ", 5);
  (void)nextToken(t, kLine);
  EXPECT_EQ(nextToken(t, kLine).text, nullptr);

  Tokenizer none(nullptr, 10);
  EXPECT_TRUE(none.atEnd());
  EXPECT_EQ(splitTokens(none, kLine, nullptr, 5), 0u);
}

TEST(Tokenizer, SplitTokensAndSplitAllTokens) {
  Tokenizer t("a b c d", 7);
  TextBuffer tokens[4];
  EXPECT_EQ(splitTokens(t, kLine, tokens, 0), 0u);
  EXPECT_EQ(t.cursor, 0u);
  ASSERT_EQ(splitTokens(t, kLine, tokens, 2), 2u);
  EXPECT_EQ(str(tokens[1]), "b");
  EXPECT_EQ(t.cursor, 4u);
  EXPECT_EQ(splitTokens(t, kLine, nullptr, 10), 2u);  // counts without storing
  EXPECT_EQ(str(t.lastToken), "d");
  EXPECT_EQ(splitTokens(t, kLine, tokens, 2), 0u);

  ViewArray all;
  Tokenizer old("old ones here", 13);
  EXPECT_EQ(splitAllTokens(old, kLine, all), 3u);
  Tokenizer u("k[1] = \"v w\"", 12);
  (void)nextToken(u, kLine);
  ASSERT_EQ(splitAllTokens(u, kLine, all), 5u);  // replaces the old tokens
  EXPECT_EQ(str(all[0]), "[");
  EXPECT_EQ(str(all[4]), "\"v w\"");
  EXPECT_TRUE(u.atEnd());
  EXPECT_EQ(splitAllTokens(u, kLine, all), 0u);
  EXPECT_TRUE(all.empty());
}

TEST(Tokenizer, TokenAtLeavesTheTokenizerUnchanged) {
  Tokenizer t("a b c", 5);
  EXPECT_EQ(str(tokenAt(t, kLine, 2)), "c");
  EXPECT_TRUE(tokenAt(t, kLine, 3).empty());
  EXPECT_TRUE(tokenAt(t, kLine, INT32_MAX).empty());
  EXPECT_EQ(str(tokenAt(t, kLine, -1)), "c");
  EXPECT_EQ(str(tokenAt(t, kLine, -3)), "a");
  EXPECT_TRUE(tokenAt(t, kLine, -4).empty());
  EXPECT_TRUE(tokenAt(t, kLine, INT32_MIN).empty());
  EXPECT_EQ(t.cursor, 0u);
  EXPECT_TRUE(t.lastToken.empty());

  (void)nextToken(t, kLine);  // counts start at the cursor
  EXPECT_EQ(str(tokenAt(t, kLine, 0)), "b");
  EXPECT_EQ(str(tokenAt(t, kLine, -2)), "b");
  EXPECT_TRUE(tokenAt(t, kLine, -3).empty());

  auto last = [](const char* path) {
    HeapText h(path);
    return str(tokenAt(h.tokenizer, kPath, -1));
  };
  EXPECT_EQ(last("C:\\data\\run.cdt"), "run.cdt");
  EXPECT_EQ(last("/home/user/ run 1.cdt "), "run 1.cdt");
  EXPECT_EQ(last("dir//sub/"), "sub");
  EXPECT_EQ(last("dir/sub//"), "");
  EXPECT_EQ(last(""), "");
}

// On arbitrary bytes every token lies inside the text and every scan moves
// the cursor, so no loop over tokens can hang.
TEST(Tokenizer, ArbitraryBytesStayInBounds) {
  static const char kAlphabet[] = " \t\r\n=[]\\\"ab";
  uint32_t seed = 12345;
  auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 16; };
  for (int round = 0; round < 2000; ++round) {
    std::string text(next() % 40, ' ');
    for (char& c : text) c = kAlphabet[next() % sizeof kAlphabet];  // includes NUL
    HeapText h(text);
    const char* end = h.bytes.get() + text.size();
    while (!h.tokenizer.atEnd()) {
      const uint32_t before = h.tokenizer.cursor;
      const TextBuffer token = nextToken(h.tokenizer, kLine);
      ASSERT_GT(h.tokenizer.cursor, before);
      if (!token.empty()) {
        ASSERT_TRUE(token.text >= h.bytes.get() && token.text + token.length <= end);
      }
    }
  }
}

}  // namespace
}  // namespace cdt
