#include "tools/selection_text.h"

#include <algorithm>

namespace cdt {

namespace {

// A decimal number of at most 19 digits (so it fits 64 bits), the whole text.
std::optional<uint64_t> decimal(std::string_view text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

}  // namespace

std::vector<std::string> splitList(std::string_view text) {
  std::vector<std::string> items;
  size_t begin = 0;
  while (true) {
    const size_t comma = text.find(',', begin);
    items.emplace_back(text.substr(begin, comma - begin));
    if (comma == std::string_view::npos) break;
    begin = comma + 1;
  }
  return items;
}

std::optional<std::vector<uint32_t>> parseBladeList(std::string_view text) {
  // A bitmap of the numbers named keeps the work bounded by the range of
  // blade numbers, however many items or overlapping ranges the text has.
  std::vector<bool> named(kMaxBladeNumber + 1, false);
  for (const std::string& item : splitList(text)) {
    const size_t dash = item.find('-');
    const std::optional<uint64_t> first = decimal(std::string_view(item).substr(0, dash));
    const std::optional<uint64_t> last =
        dash == std::string::npos ? first : decimal(std::string_view(item).substr(dash + 1));
    if (!first || !last || *first < 1 || *last > kMaxBladeNumber || *last < *first) {
      return std::nullopt;
    }
    for (uint64_t n = *first; n <= *last; ++n) named[n] = true;
  }
  std::vector<uint32_t> numbers;
  for (uint32_t n = 1; n <= kMaxBladeNumber; ++n) {
    if (named[n]) numbers.push_back(n);
  }
  return numbers;
}

std::string formatBladeList(const std::vector<uint32_t>& numbers) {
  std::string text;
  for (size_t i = 0; i < numbers.size();) {
    size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
    if (!text.empty()) text += ',';
    text += std::to_string(numbers[i]);
    if (j > i) text += '-' + std::to_string(numbers[j]);
    i = j + 1;
  }
  return text;
}

std::optional<std::pair<uint64_t, uint64_t>> parseRevolutionRange(std::string_view text) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::optional<uint64_t> first = decimal(text.substr(0, colon));
  const std::optional<uint64_t> last = decimal(text.substr(colon + 1));
  if (!first || !last || *last < *first) return std::nullopt;
  return std::pair{*first, *last};
}

}  // namespace cdt
