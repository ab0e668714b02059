// Placeholder until the command is written: the command exists, its help
// works, and running it reports that it is not available yet.
#include "tools/commands.h"

namespace cdt {

int runCut(const CommandArgs& args, FILE* /*out*/, FILE* err) {
  return usageError(args, err, "not yet available");
}

const CommandSpec kCutCommand = {
    "cut",
    "Copies the records of a time window into a new recording",
    "cdt cut FILE START END OUT",
    "",
    {},
    4,
    4,
    runCut,
};

}  // namespace cdt
