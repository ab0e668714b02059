#include "foundation/time_text.h"

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
  bool takeEither(char a, char b) { return take(a) || take(b); }
  bool isDigit() const { return at < text.size() && text[at] >= '0' && text[at] <= '9'; }
  bool digits(int count, uint32_t& value) {
    value = 0;
    for (int i = 0; i < count; ++i) {
      if (!isDigit()) return false;
      value = value * 10 + static_cast<uint32_t>(text[at++] - '0');
    }
    return true;
  }
  // One or more digits of a second; those past the microsecond are dropped.
  bool fraction(uint32_t& micros) {
    if (!isDigit()) return false;
    for (uint32_t scale = 100000; isDigit(); ++at, scale /= 10) {
      micros += static_cast<uint32_t>(text[at] - '0') * scale;
    }
    return true;
  }
};

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The zone after a time: none and "Z" are UTC; an offset gives its signed
// microseconds east of UTC. False when the text is not a zone.
bool zoneOffset(Scanner& s, int64_t& offset) {
  offset = 0;
  if (s.done() || s.takeEither('Z', 'z')) return true;
  const bool east = s.take('+');
  if (!east && !s.take('-')) return false;
  uint32_t hours = 0, minutes = 0;
  if (!s.digits(2, hours)) return false;
  if (s.take(':') ? !s.digits(2, minutes) : s.isDigit() && !s.digits(2, minutes)) return false;
  if (hours > 23 || minutes > 59) return false;
  const int64_t magnitude = (int64_t{hours} * 60 + minutes) * 60 * int64_t{kMicrosPerSecond};
  offset = east ? magnitude : -magnitude;
  return true;
}

}  // namespace

std::optional<uint64_t> parseTimeText(std::string_view text) {
  Scanner s{trimmed(text)};
  uint32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, micros = 0;
  if (!s.digits(4, year) || !s.take('-') || !s.digits(2, month) || !s.take('-') ||
      !s.digits(2, day)) {
    return std::nullopt;
  }
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) {
    return std::nullopt;
  }
  int64_t offset = 0;
  if (!s.done()) {
    if (!s.takeEither('T', 't') && !s.take(' ')) return std::nullopt;
    if (!s.digits(2, hour)) return std::nullopt;
    if (s.take(':')) {
      if (!s.digits(2, minute)) return std::nullopt;
      if (s.take(':')) {
        if (!s.digits(2, second)) return std::nullopt;
        if (s.takeEither('.', ',') && !s.fraction(micros)) return std::nullopt;
      }
    }
    if (!zoneOffset(s, offset) || !s.done()) return std::nullopt;
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
  }
  TimeStamp stamp;
  stamp.year = static_cast<uint16_t>(year);
  stamp.month = static_cast<uint8_t>(month);
  stamp.day = static_cast<uint8_t>(day);
  stamp.hour = static_cast<uint8_t>(hour);
  stamp.minute = static_cast<uint8_t>(minute);
  stamp.second = static_cast<uint8_t>(second);
  stamp.microseconds = micros;
  const uint64_t local = timeOf(stamp);
  // An offset east of UTC names an earlier UTC moment; none before the epoch.
  if (offset > 0 && local < static_cast<uint64_t>(offset)) return std::nullopt;
  return local - static_cast<uint64_t>(offset);
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
