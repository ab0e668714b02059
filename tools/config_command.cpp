// cdt config: the configuration embedded in a data file, as text; or a check
// of a saved configuration text.
#include <cstdio>
#include <string>

#include "config/config_text.h"
#include "datafile/data_file.h"
#include "foundation/file_system.h"
#include "tools/commands.h"
#include "info/config_summary.h"
#include "tools/data_file_copy.h"

namespace cdt {

namespace {

constexpr OptionSpec kOptions[] = {
    {"check", nullptr, "parse TEXTFILE as a configuration text and report what it holds"},
};

constexpr const char* kDescription =
    "The first form writes the configuration embedded in FILE.cdt as a configuration\n"
    "text: to standard output, or to OUT (a file that the recorder and\n"
    "'cdt sets --config' read back). The second form parses a configuration text,\n"
    "says whether it parsed and summarises it; the status is 1 when it did not parse.\n"
    "\n"
    "Example: cdt config recording.cdt rig.cfg && cdt config --check rig.cfg\n";

int check(const CommandArgs& args, FILE* out, FILE* err) {
  if (args.positionals.size() != 1) {
    return usageError(args, err, "--check takes exactly one text file");
  }
  const std::string& path = args.positionals[0];
  FileStatus status;
  if (!fileStatus(path.c_str(), status) || !status.regular) {
    return fileError(args, err, "cannot read '%s'", path.c_str());
  }
  if (status.size == 0) {
    std::fprintf(out, "%s: empty, holds no configuration\n", path.c_str());
    return 1;
  }
  Configuration configuration;
  const bool parsed = loadConfigFile(configuration, path.c_str());
  std::fprintf(out, "%s: %s\n", path.c_str(),
               parsed ? "parsed" : "did not parse (what was read before the fault follows)");
  writeConfigSummary(configuration, out, "  ");
  return parsed ? 0 : 1;
}

}  // namespace

int runConfig(const CommandArgs& args, FILE* out, FILE* err) {
  if (args.has("check")) return check(args, out, err);

  const std::string& path = args.positionals[0];
  if (args.positionals.size() == 2 && isSameFile(path, args.positionals[1])) {
    return usageError(args, err, "the output '%s' is the input file", args.positionals[1].c_str());
  }
  DataFileReport report;
  std::unique_ptr<DataFile> file = openDataFile(path.c_str(), report);
  if (!file) {
    return fileError(args, err, "cannot read '%s': %s", path.c_str(),
                     dataFileStatusText(report.status));
  }
  if (!file->configurationParsed()) {
    std::fprintf(err, "%s %s: warning: the configuration of '%s' did not parse completely\n",
                 args.program.c_str(), args.command.c_str(), path.c_str());
  }
  // Saving a modified configuration would stamp a new time and revision; the
  // text must stay the one the recording was made with.
  Configuration configuration(file->configuration());
  configuration.modified = false;

  if (args.positionals.size() == 2) {
    const std::string& target = args.positionals[1];
    if (!saveConfigFile(configuration, target.c_str())) {
      return fileError(args, err, "cannot write '%s'", target.c_str());
    }
    return 0;
  }
  const CountedString text = configToText(configuration, 0);
  if (std::fwrite(text.c_str(), 1, text.length(), out) != text.length()) {
    return fileError(args, err, "cannot write the configuration to standard output");
  }
  return 0;
}

const CommandSpec kConfigCommand = {
    "config",
    "Writes the configuration of a data file as text, or checks a text",
    "cdt config FILE.cdt [OUT]\ncdt config --check TEXTFILE",
    kDescription,
    kOptions,
    1,
    2,
    runConfig,
};

}  // namespace cdt
