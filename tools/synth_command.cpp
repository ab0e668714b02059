// Placeholder until the command is written: the command exists, its help
// works, and running it reports that it is not available yet.
#include "tools/commands.h"

namespace cdt {

int runSynth(const CommandArgs& args, FILE* /*out*/, FILE* err) {
  return usageError(args, err, "not yet available");
}

const CommandSpec kSynthCommand = {
    "synth",
    "Makes a realistic recording for tests and demonstrations",
    "cdt synth [OPTIONS] DIR",
    "",
    {},
    1,
    1,
    runSynth,
};

}  // namespace cdt
