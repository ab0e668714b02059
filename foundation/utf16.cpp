#include "foundation/utf16.h"

#include <cstdint>

namespace cdt {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool isHighSurrogate(uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

bool isContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

}  // namespace

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

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    }
    appendUtf8(out, c);
  }
  return out;
}

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char lead = bytes[i];
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    size_t length = 0;
    uint32_t c = 0;
    uint32_t lowest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, c = lead & 0x1Fu, lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, c = lead & 0x0Fu, lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, c = lead & 0x07u, lowest = 0x10000;
    }
    bool complete = length != 0 && i + length <= n;
    for (size_t k = 1; complete && k < length; ++k) {
      if (!isContinuation(bytes[i + k])) complete = false;
      c = (c << 6) | (bytes[i + k] & 0x3Fu);
    }
    if (!complete || c < lowest || c > 0x10FFFF) {
      out += kReplacement;
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += length;
  }
  return out;
}

}  // namespace cdt
