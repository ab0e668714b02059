// Placeholder until the command is written: the command exists, its help
// works, and running it reports that it is not available yet.
#include "tools/commands.h"

namespace cdt {

int runConfig(const CommandArgs& args, FILE* /*out*/, FILE* err) {
  return usageError(args, err, "not yet available");
}

const CommandSpec kConfigCommand = {
    "config",
    "Writes the configuration of a data file as text, or checks a text",
    "cdt config FILE.cdt [OUT]\ncdt config --check TEXTFILE",
    "",
    {},
    1,
    2,
    runConfig,
};

}  // namespace cdt
