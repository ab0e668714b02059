#include "foundation/utf16.h"

#include <gtest/gtest.h>

namespace cdt {
namespace {

TEST(Utf16, ConvertsEveryLengthOfSequenceBothWays) {
  // 1, 2, 3 and 4 bytes: A, u-umlaut, euro sign, G clef (a surrogate pair).
  const std::string utf8 = "A\xC3\xBC\xE2\x82\xAC\xF0\x9D\x84\x9E";
  const std::u16string utf16 = u"A\u00FC\u20AC\U0001D11E";
  EXPECT_EQ(utf8ToUtf16(utf8), utf16);
  EXPECT_EQ(utf16ToUtf8(utf16), utf8);
}

TEST(Utf16, LoneSurrogatesRoundTrip) {
  // Windows names need not be valid UTF-16; such a name must still convert
  // back to the same units, or the file could not be opened again.
  const std::u16string units = {u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
  const std::string bytes = utf16ToUtf8(units);
  EXPECT_EQ(bytes,
            "a\xED\xA0\x80"
            "b\xED\xB0\x80");
  EXPECT_EQ(utf8ToUtf16(bytes), units);
}

TEST(Utf16, MalformedBytesBecomeReplacementCharacters) {
  EXPECT_EQ(utf8ToUtf16("\xFF"
                        "a"),
            u"\uFFFDa");                                // no lead byte
  EXPECT_EQ(utf8ToUtf16("\xC3"), u"\uFFFD");            // cut short
  EXPECT_EQ(utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong
  EXPECT_EQ(utf8ToUtf16("\xF4\x90\x80\x80"
                        "b"),
            u"\uFFFD\uFFFD\uFFFD\uFFFDb");  // > U+10FFFF
  EXPECT_EQ(utf8ToUtf16("\xE2\x82"
                        "c"),
            u"\uFFFD\uFFFDc");  // continuation missing
}

}  // namespace
}  // namespace cdt
