// The selection texts of cdt export: blade lists ("1-10,15"), revolution
// ranges ("FIRST:LAST") and comma-separated names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cdt {

// The largest blade number a list may name (a stage has at most that many).
inline constexpr uint32_t kMaxBladeNumber = 65535;

// "1-10,15,3" as the ascending distinct numbers it names; none for an empty
// list or item, a number outside 1 to kMaxBladeNumber, a range whose end lies
// before its start, or anything but digits, '-' and ','.
std::optional<std::vector<uint32_t>> parseBladeList(std::string_view text);
// The shortest list text of ascending distinct numbers ("1-10,15");
// parseBladeList gives the numbers back.
std::string formatBladeList(const std::vector<uint32_t>& numbers);

// "FIRST:LAST" with FIRST <= LAST, both decimal.
std::optional<std::pair<uint64_t, uint64_t>> parseRevolutionRange(std::string_view text);

// The comma-separated items of `text`, empty ones included.
std::vector<std::string> splitList(std::string_view text);

}  // namespace cdt
