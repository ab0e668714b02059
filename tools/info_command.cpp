// Placeholder until the command is written: the command exists, its help
// works, and running it reports that it is not available yet.
#include "tools/commands.h"

namespace cdt {

int runInfo(const CommandArgs& args, FILE* /*out*/, FILE* err) {
  return usageError(args, err, "not yet available");
}

const CommandSpec kInfoCommand = {
    "info", "Shows what is inside data files", "cdt info [--json] FILE...", "", {}, 1, -1, runInfo,
};

}  // namespace cdt
