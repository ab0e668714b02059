// What a configuration holds, for people (indented text) and for programs
// (JSON): name, revision, times, stages with their blade counts, hosts with
// each channel's probe and its stage, racks. Shared by `cdt info` and
// `cdt config --check`.
#pragma once

#include <cstdio>
#include <optional>

#include "config/model.h"
#include "foundation/name_text.h"
#include "info/json_writer.h"

namespace cdt {

// Lines starting with "configuration: NAME (revision N)", sub-items indented
// by two blanks more than `indent`. The names are the configuration's bytes
// as they are, or with `decodeAs` decoded into UTF-8 text (decodeName).
void writeConfigSummary(const Configuration& configuration, FILE* out, const char* indent,
                        std::optional<TextEncoding> decodeAs = std::nullopt);

// The same as the members of the JSON object that the caller has opened;
// JSON is Unicode text, so every name is decoded by `encoding`.
void writeConfigSummaryJson(const Configuration& configuration, JsonWriter& json,
                            TextEncoding encoding = TextEncoding::Auto);

// The units of a recording's numbers (the CSV's columns and the
// configuration's geometry), from the table of units: a line "units:" and
// one line per quantity, "WHAT: UNIT", indented as above.
void writeUnitsSummary(FILE* out, const char* indent);

// The same as a member "units" of the JSON object the caller has opened:
// per quantity key, its unit (UDUNITS text, empty where it has none), its
// description and what it is.
void writeUnitsJson(JsonWriter& json);

}  // namespace cdt
