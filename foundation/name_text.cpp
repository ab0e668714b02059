#include "foundation/name_text.h"

#include <cstdint>

namespace cdt {

namespace {

// The characters of the bytes 0x80 to 0xFF; bytes a code page leaves
// undefined map to the code point of their value, as WHATWG's indexes do.
constexpr char16_t kWindows1252[128] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039,
    0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, 0x00A0, 0x00A1, 0x00A2, 0x00A3,
    0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB,
    0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x00D0, 0x00D1, 0x00D2, 0x00D3,
    0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB,
    0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF};

constexpr char16_t kWindows1250[128] = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021, 0x0088, 0x2030, 0x0160, 0x2039,
    0x015A, 0x0164, 0x017D, 0x0179, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141,
    0x00A4, 0x0104, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB,
    0x013D, 0x02DD, 0x013E, 0x017C, 0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3,
    0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, 0x010D, 0x00E9, 0x0119, 0x00EB,
    0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9};

constexpr char16_t kWindows1251[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

// The table of a single-byte code page; nullptr for Latin-1 (identity).
const char16_t* upperHalf(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Windows1250:
      return kWindows1250;
    case TextEncoding::Windows1251:
      return kWindows1251;
    case TextEncoding::Latin1:
      return nullptr;
    default:
      return kWindows1252;
  }
}

void appendUtf8(std::string& to, char32_t c) {
  if (c < 0x80) {
    to += static_cast<char>(c);
  } else if (c < 0x800) {
    to += static_cast<char>(0xC0 | (c >> 6));
    to += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    to += static_cast<char>(0xE0 | (c >> 12));
    to += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    to += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    to += static_cast<char>(0xF0 | (c >> 18));
    to += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    to += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    to += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The length of the valid UTF-8 sequence at text[at] (its code point in
// `c`), or 0 when none starts there.
std::size_t utf8Sequence(std::string_view text, std::size_t at, char32_t& c) {
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t b0 = byte(at);
  if (b0 < 0x80) {
    c = b0;
    return 1;
  }
  // The sequence's length, the payload bits of its first byte and the
  // lowest code point it may carry (longer forms of smaller ones are
  // overlong, not UTF-8).
  struct Lead {
    uint8_t first, last;
    std::size_t length;
    uint8_t mask;
    char32_t lowest;
  };
  static constexpr Lead kLeads[] = {
      {0xC2, 0xDF, 2, 0x1F, 0x80}, {0xE0, 0xEF, 3, 0x0F, 0x800}, {0xF0, 0xF4, 4, 0x07, 0x10000}};
  const Lead* lead = nullptr;
  for (const Lead& l : kLeads) {
    if (b0 >= l.first && b0 <= l.last) lead = &l;
  }
  if (lead == nullptr) return 0;
  const std::size_t length = lead->length;
  const char32_t lowest = lead->lowest;
  c = b0 & lead->mask;
  if (text.size() - at < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const uint8_t b = byte(at + i);
    if ((b & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < lowest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return length;
}

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::optional<TextEncoding> textEncodingNamed(std::string_view name) {
  std::string key;
  for (char c : name) {
    if (c != '-' && c != '_' && c != ' ') key += lower(c);
  }
  struct Known {
    const char* key;
    TextEncoding encoding;
  };
  static constexpr Known kKnown[] = {
      {"auto", TextEncoding::Auto},
      {"utf8", TextEncoding::Utf8},
      {"windows1252", TextEncoding::Windows1252},
      {"cp1252", TextEncoding::Windows1252},
      {"windows1250", TextEncoding::Windows1250},
      {"cp1250", TextEncoding::Windows1250},
      {"windows1251", TextEncoding::Windows1251},
      {"cp1251", TextEncoding::Windows1251},
      {"latin1", TextEncoding::Latin1},
      {"iso88591", TextEncoding::Latin1},
  };
  for (const Known& k : kKnown) {
    if (key == k.key) return k.encoding;
  }
  return std::nullopt;
}

const char* textEncodingChoices() {
  return "auto, utf-8, windows-1252, windows-1250, windows-1251, latin-1";
}

bool isValidUtf8(std::string_view bytes) {
  char32_t c = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t n = utf8Sequence(bytes, at, c);
    if (n == 0) return false;
    at += n;
  }
  return true;
}

std::string decodeName(std::string_view bytes, TextEncoding encoding) {
  if (encoding == TextEncoding::Auto) {
    encoding = isValidUtf8(bytes) ? TextEncoding::Utf8 : TextEncoding::Windows1252;
  }
  std::string text;
  text.reserve(bytes.size());
  if (encoding == TextEncoding::Utf8) {
    char32_t c = 0;
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t n = utf8Sequence(bytes, at, c);
      appendUtf8(text, n == 0 ? char32_t{0xFFFD} : c);
      at += n == 0 ? 1 : n;
    }
    return text;
  }
  const char16_t* table = upperHalf(encoding);
  for (char ch : bytes) {
    const auto b = static_cast<uint8_t>(ch);
    appendUtf8(text, b < 0x80 || table == nullptr ? char32_t{b} : char32_t{table[b - 0x80]});
  }
  return text;
}

std::optional<std::string> encodeName(std::string_view text, TextEncoding encoding) {
  if (!isValidUtf8(text)) return std::nullopt;
  if (encoding == TextEncoding::Auto || encoding == TextEncoding::Utf8) return std::string(text);
  const char16_t* table = upperHalf(encoding);
  std::string bytes;
  char32_t c = 0;
  for (std::size_t at = 0; at < text.size();) {
    at += utf8Sequence(text, at, c);
    if (c < 0x80 || (table == nullptr && c < 0x100)) {
      bytes += static_cast<char>(c);
      continue;
    }
    int found = -1;
    for (int i = 0; table != nullptr && i < 128; ++i) {
      if (table[i] == c) found = i;
    }
    if (found < 0) return std::nullopt;
    bytes += static_cast<char>(0x80 + found);
  }
  return bytes;
}

}  // namespace cdt
