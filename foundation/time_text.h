// ISO 8601 time text in UTC over the library's time values (microseconds
// since 1970-01-01 00:00:00 UTC): the one grammar of the times people type,
// in the cdt commands (cut, export --from/--to, synth --start) and in the
// Python package (a str wherever a time is taken).
//
// parseTimeText accepts, with white space around it allowed:
//
//   DATE [SEP hh [":" mm [":" ss [FRACTION]]] [ZONE]]
//
//   DATE      YYYY-MM-DD, a day that exists (1970-01-01 and later)
//   SEP       "T", "t" or one blank
//   hh mm ss  two digits each: hour 00-23, minute and second 00-59
//   FRACTION  "." or "," and one or more digits of a second; digits beyond
//             the sixth (the microsecond) are dropped, not rounded
//   ZONE      "Z" or "z" (UTC), or an offset east (+) or west (-) of UTC:
//             sign, hh (00-23), then optionally mm (00-59), with or without ":"
//
// A date alone is its midnight; a time without a zone is UTC; a time with an
// offset is the UTC moment it names, which must lie at or after the epoch.
// Examples: "2011-05-06", "2011-05-06T12", "2011-05-06 12:30",
// "2011-05-06T12:30:45.25Z", "2011-05-06T14:30:45,25+02:00", "...-0530".
// Nothing else is a time: the basic format ("20110506T123045"), week and
// ordinal dates, hour 24, leap seconds, a fraction without seconds, other
// separators, trailing text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cdt {

// The time `text` names (see above), or none.
std::optional<uint64_t> parseTimeText(std::string_view text);

// "2011-05-06T12:30:45Z", with a fraction of at most six digits and no
// trailing zeros when the time is not a whole second ("…:45.25Z").
// parseTimeText(formatTimeText(t)) == t for every t up to year 9999.
std::string formatTimeText(uint64_t time);

}  // namespace cdt
