// Placeholder until the command is written: the command exists, its help
// works, and running it reports that it is not available yet.
#include "tools/commands.h"

namespace cdt {

int runRecover(const CommandArgs& args, FILE* /*out*/, FILE* err) {
  return usageError(args, err, "not yet available");
}

const CommandSpec kRecoverCommand = {
    "recover",
    "Writes a finished copy of an unfinished or damaged recording",
    "cdt recover FILE [OUT]",
    "",
    {},
    1,
    2,
    runRecover,
};

}  // namespace cdt
