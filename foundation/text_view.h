// TextBuffer: a non-owning view of text (pointer and length, not terminated),
// and its small predicates. White space is what the C library classes as
// space.
#pragma once

#include <cctype>
#include <cstdint>
#include <string_view>

namespace cdt {

struct TextBuffer {
  const char* text = nullptr;
  uint32_t length = 0;

  TextBuffer() = default;
  TextBuffer(const char* t, uint32_t n) : text(t), length(n) {}
  explicit TextBuffer(std::string_view v)
      : text(v.data()), length(static_cast<uint32_t>(v.size())) {}

  bool empty() const { return text == nullptr || length == 0; }
  // The number of characters: 0 for a view without text, whatever its length.
  uint32_t size() const { return text != nullptr ? length : 0; }
  std::string_view view() const {
    return empty() ? std::string_view() : std::string_view(text, length);
  }
};

inline bool isSpaceChar(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// True when the view is empty or all white space.
bool isBlankText(TextBuffer text);
// The view without white space at both ends (empty when it was blank).
TextBuffer trimText(TextBuffer text);
// Without its first and last characters when it is longer than 1 character
// and both are `quote`; else unchanged.
TextBuffer stripQuotes(TextBuffer text, char quote);
// Same length and same characters (two empty views are equal).
bool textEquals(TextBuffer a, TextBuffer b);
// Display width of the view's last line (tabs advance to multiples of 8).
uint32_t textColumn(TextBuffer text);

}  // namespace cdt
