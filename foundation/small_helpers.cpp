#include "foundation/small_helpers.h"

#include <cstring>

#include "foundation/text_building.h"
#include "foundation/tokenizer.h"

namespace cdt {

CountedString byteSizeText(uint64_t count, const char* zeroText) {
  if (count == 0) return CountedString(zeroText != nullptr ? zeroText : "0");

  static const char* const kUnits[] = {"Bytes", "kB", "MB", "GB", "TB"};
  constexpr int kLastUnit = 4;
  auto size = static_cast<double>(count);
  int unit = 0;
  for (;;) {
    if (size <= 9.99) return formatString("%.2f%s", size, kUnits[unit]);
    if (size <= 99.9) return formatString("%.1f%s", size, kUnits[unit]);
    if (unit == kLastUnit || size <= 999) return formatString("%.0f%s", size, kUnits[unit]);
    size /= 1024;
    ++unit;
  }
}

TextBuffer fileExtension(TextBuffer name) {
  if (name.empty()) return {};
  // A trailing single dot would leave the text before it as the last token;
  // such a name has no extension.
  if (name.text[name.length - 1] == '.') return {};
  TokenRules rules;
  rules.separators = ".";
  rules.trim = true;
  const TextBuffer last = tokenAt(Tokenizer(name.text, name.length), rules, -1);
  if (last.empty()) return {};
  // The last piece is an extension only when a dot comes before it; a name
  // without a dot but with surrounding blanks also trims to a shorter piece.
  const auto before = static_cast<size_t>(last.text - name.text);
  if (std::memchr(name.text, '.', before) == nullptr) return {};
  return last;
}

int32_t highestBitIndex(uint32_t value) {
  if (value == 0) return -255;
  int32_t index = 0;
  for (int32_t half = 16; half > 0; half /= 2) {
    if ((value >> half) != 0) {
      value >>= half;
      index += half;
    }
  }
  return index;
}

}  // namespace cdt
