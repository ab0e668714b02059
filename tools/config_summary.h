// What a configuration holds, for people (indented text) and for programs
// (JSON): name, revision, times, stages with their blade counts, hosts with
// each channel's probe and its stage, racks. Shared by `cdt info` and
// `cdt config --check`.
#pragma once

#include <cstdio>

#include "config/model.h"
#include "tools/json_writer.h"

namespace cdt {

// Lines starting with "configuration: NAME (revision N)", sub-items indented
// by two blanks more than `indent`.
void writeConfigSummary(const Configuration& configuration, FILE* out, const char* indent);

// The same as the members of the JSON object that the caller has opened.
void writeConfigSummaryJson(const Configuration& configuration, JsonWriter& json);

}  // namespace cdt
