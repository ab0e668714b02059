// The names of the columns of a view and the CSV header line made of them:
// the one place the header rule lives, for the converter, the selected and
// long CSV layouts, the column sinks and the Python frames.
//
// Wide: Time,Speed,Sync,Start Rev,End Rev, then per kept probe in slot order
// "NAME RMS", "NAME DNS", "NAME BladeJ DNS" per kept blade J and
// "NAME BladeJ TOA" likewise, each quantity only where the plan shows it.
// Long: Time,Speed,Sync,Start Rev,End Rev,Probe,Blade,DNS,TOA (DNS and TOA as
// shown), then Deflection where the plan shows it. In the line, a name holding a comma, a quote or
// a line end is one quoted cell, its quotes doubled.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "lines/line_columns.h"

namespace cdt {

enum class TextLayout : uint8_t { Wide, Long };

// Hands each column name of `plan` to `emit`, in order, unquoted; `names`
// are the kept probes' names by slot (the file's bytes for the CSV, decoded
// text for frames). A name is valid during the call only. A header can hold
// millions of names (a stage may have 65535 blades): they are made one at a
// time.
void eachColumnName(const ColumnPlan& plan, const std::string_view (&names)[kChannelsPerHost],
                    TextLayout layout, const std::function<void(std::string_view)>& emit);

// The same names as a list.
std::vector<std::string> columnNames(const ColumnPlan& plan,
                                     const std::string_view (&names)[kChannelsPerHost],
                                     TextLayout layout = TextLayout::Wide);

// A cell as the CSV writes it: quoted when it holds ',', '"', CR or LF.
std::string csvCell(std::string_view text);

// Hands the header line of the plan's columns, with its line feed, to
// `write` in pieces.
void writeCsvHeader(const ColumnPlan& plan, const std::string_view (&names)[kChannelsPerHost],
                    TextLayout layout, const std::function<void(std::string_view)>& write);

}  // namespace cdt
