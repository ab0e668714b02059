// cdt info --follow: a live status of a recording being written.
#pragma once

#include <cstdio>

#include "tools/arguments.h"

namespace cdt {

// Follows each FILE in turn until it is finished or given up, printing its
// status (records, revolutions, speed, last time, blade records per
// channel): one line rewritten in place on a terminal, else a line a second.
int runInfoFollow(const CommandArgs& args, FILE* out, FILE* err);

}  // namespace cdt
