#include "foundation/text_view.h"

#include <cstring>

namespace cdt {

bool isBlankText(TextBuffer text) {
  const uint32_t n = text.size();
  for (uint32_t i = 0; i < n; ++i) {
    if (!isSpaceChar(text.text[i])) return false;
  }
  return true;
}

TextBuffer trimText(TextBuffer text) {
  uint32_t begin = 0;
  uint32_t end = text.size();
  while (begin < end && isSpaceChar(text.text[begin])) ++begin;
  while (end > begin && isSpaceChar(text.text[end - 1])) --end;
  if (begin == end) return {};
  return {text.text + begin, end - begin};
}

TextBuffer stripQuotes(TextBuffer text, char quote) {
  const uint32_t n = text.size();
  if (n > 1 && text.text[0] == quote && text.text[n - 1] == quote) {
    return {text.text + 1, n - 2};
  }
  return text;
}

bool textEquals(TextBuffer a, TextBuffer b) {
  const uint32_t n = a.size();
  if (n != b.size()) return false;
  if (n == 0 || a.text == b.text) return true;
  return std::memcmp(a.text, b.text, n) == 0;
}

uint32_t textColumn(TextBuffer text) {
  const uint32_t n = text.size();
  uint32_t lineStart = n;
  while (lineStart > 0 && text.text[lineStart - 1] != '\n' && text.text[lineStart - 1] != '\r') {
    --lineStart;
  }
  uint32_t column = 0;
  for (uint32_t i = lineStart; i < n; ++i) {
    column = text.text[i] == '\t' ? (column / 8 + 1) * 8 : column + 1;
  }
  return column;
}

}  // namespace cdt
