// Placeholder until the command is written: the command exists, its help
// works, and running it reports that it is not available yet.
#include "tools/commands.h"

namespace cdt {

int runSets(const CommandArgs& args, FILE* /*out*/, FILE* err) {
  return usageError(args, err, "not yet available");
}

const CommandSpec kSetsCommand = {
    "sets",
    "Lists the recordings of a directory, grouped by host",
    "cdt sets [--config FILE] DIR",
    "",
    {},
    1,
    1,
    runSets,
};

}  // namespace cdt
