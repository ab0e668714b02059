// ISO 8601 time text in UTC for the cdt commands, over the library's time
// values (microseconds since 1970-01-01 00:00:00 UTC).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cdt {

// Parses "2011-05-06T12:30:45.25Z" and its shorter forms: a blank instead of
// "T", no "Z", no seconds ("2011-05-06T12:30"), date only ("2011-05-06",
// midnight). Digits of the fraction beyond the sixth are dropped. Gives none
// for anything else: out-of-range fields (month 13, February 30, hour 24),
// years before 1970 or after 9999, trailing text.
std::optional<uint64_t> parseTimeText(std::string_view text);

// "2011-05-06T12:30:45Z", with a fraction of at most six digits and no
// trailing zeros when the time is not a whole second ("…:45.25Z").
// parseTimeText(formatTimeText(t)) == t for every t up to year 9999.
std::string formatTimeText(uint64_t time);

}  // namespace cdt
