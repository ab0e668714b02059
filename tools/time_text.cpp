#include "tools/time_text.h"

#include <cstdio>

#include "foundation/calendar.h"
#include "foundation/time_value.h"

namespace cdt {

namespace {

// A small cursor over the text: fixed-width digit fields and literal marks.
struct Scanner {
  std::string_view text;
  size_t at = 0;

  bool done() const { return at == text.size(); }
  bool take(char c) {
    if (at < text.size() && text[at] == c) {
      ++at;
      return true;
    }
    return false;
  }
  bool digits(int count, uint32_t& value) {
    value = 0;
    for (int i = 0; i < count; ++i) {
      if (at >= text.size() || text[at] < '0' || text[at] > '9') return false;
      value = value * 10 + static_cast<uint32_t>(text[at++] - '0');
    }
    return true;
  }
};

uint32_t daysInMonth(uint32_t year, uint32_t month) {
  static constexpr uint8_t kDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month];
}

}  // namespace

std::optional<uint64_t> parseTimeText(std::string_view text) {
  Scanner s{text};
  uint32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, micros = 0;
  if (!s.digits(4, year) || !s.take('-') || !s.digits(2, month) || !s.take('-') ||
      !s.digits(2, day)) {
    return std::nullopt;
  }
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) {
    return std::nullopt;
  }
  if (!s.done()) {
    if (!s.take('T') && !s.take(' ')) return std::nullopt;
    if (!s.digits(2, hour) || !s.take(':') || !s.digits(2, minute)) return std::nullopt;
    if (s.take(':')) {
      if (!s.digits(2, second)) return std::nullopt;
      if (s.take('.')) {
        uint32_t scale = 100000;
        size_t first = s.at;
        while (s.at < text.size() && text[s.at] >= '0' && text[s.at] <= '9') {
          micros += static_cast<uint32_t>(text[s.at] - '0') * scale;
          scale /= 10;
          ++s.at;
        }
        if (s.at == first) return std::nullopt;
      }
    }
    s.take('Z');
    if (!s.done() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  }
  TimeStamp stamp;
  stamp.year = static_cast<uint16_t>(year);
  stamp.month = static_cast<uint8_t>(month);
  stamp.day = static_cast<uint8_t>(day);
  stamp.hour = static_cast<uint8_t>(hour);
  stamp.minute = static_cast<uint8_t>(minute);
  stamp.second = static_cast<uint8_t>(second);
  stamp.microseconds = micros;
  return timeOf(stamp);
}

std::string formatTimeText(uint64_t time) {
  const uint64_t seconds = time / 1000000;
  const auto micros = static_cast<uint32_t>(time % 1000000);
  const CivilDate date = civilFromDays(seconds / 86400);
  char text[64];
  int n =
      std::snprintf(text, sizeof text, "%04llu-%02u-%02uT%02u:%02u:%02u",
                    static_cast<unsigned long long>(date.year), date.month, date.day,
                    static_cast<unsigned>(seconds / 3600 % 24),
                    static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
  std::string result(text, static_cast<size_t>(n));
  if (micros != 0) {
    std::snprintf(text, sizeof text, ".%06u", static_cast<unsigned>(micros));
    std::string fraction(text);
    while (fraction.back() == '0') fraction.pop_back();
    result += fraction;
  }
  result += 'Z';
  return result;
}

}  // namespace cdt
