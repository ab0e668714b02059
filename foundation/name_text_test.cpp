#include "foundation/name_text.h"

#include <gtest/gtest.h>

#include <string>

namespace cdt {
namespace {

TEST(NameText, DecodesUtf8AsItIsAndEveryOtherByteAsWindows1252) {
  EXPECT_EQ(decodeName("Probe101"), "Probe101");
  EXPECT_EQ(decodeName("Pr\xC3\xBC"
                       "fstand"),
            "Pr\xC3\xBC"
            "fstand");  // UTF-8 ü
  EXPECT_EQ(decodeName("Pr\xFC"
                       "fstand"),
            "Pr\xC3\xBC"
            "fstand");  // cp1252 ü
  // The bytes the code page leaves undefined map to C1 controls, not U+FFFD.
  EXPECT_EQ(decodeName("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
  EXPECT_EQ(decodeName("\x80"), "\xE2\x82\xAC");  // €
  // Overlong forms, surrogates and cut sequences are not UTF-8: the whole
  // text is read as Windows-1252.
  EXPECT_EQ(decodeName("\xC0\xAF"), "\xC3\x80\xC2\xAF");
  EXPECT_EQ(decodeName("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");
  EXPECT_EQ(decodeName("a\xE2\x82"), "a\xC3\xA2\xE2\x80\x9A");
  EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_TRUE(isValidUtf8("\xF0\x9F\x98\x80"));
  // A named UTF-8 replaces what does not decode.
  EXPECT_EQ(decodeName("a\xFC", TextEncoding::Utf8), "a\xEF\xBF\xBD");
  EXPECT_EQ(decodeName("\xC4", TextEncoding::Windows1251), "\xD0\x94");  // Д
  EXPECT_EQ(decodeName("\x9C", TextEncoding::Latin1), "\xC2\x9C");
}

TEST(NameText, EverySingleByteCodePageRoundTrips) {
  for (TextEncoding e : {TextEncoding::Windows1252, TextEncoding::Windows1250,
                         TextEncoding::Windows1251, TextEncoding::Latin1}) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    const std::string text = decodeName(all, e);
    EXPECT_TRUE(isValidUtf8(text));
    EXPECT_EQ(encodeName(text, e), all) << static_cast<int>(e);
  }
  EXPECT_EQ(encodeName("\xCE\xA9", TextEncoding::Windows1252), std::nullopt);  // Ω
  EXPECT_EQ(encodeName("\xFC", TextEncoding::Windows1252), std::nullopt);      // not UTF-8
  EXPECT_EQ(textEncodingNamed("CP-1252"), TextEncoding::Windows1252);
  EXPECT_EQ(textEncodingNamed("UTF_8"), TextEncoding::Utf8);
  EXPECT_EQ(textEncodingNamed("ebcdic"), std::nullopt);
}

}  // namespace
}  // namespace cdt
