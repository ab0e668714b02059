// cdt sets: the recordings of a directory as the discovery groups them, one
// line per recording with the file of each host of the configuration.
#include <string>
#include <string_view>

#include "config/config_text.h"
#include "datafile/data_file.h"
#include "datafile/discovery.h"
#include "foundation/paths.h"
#include "foundation/time_text.h"
#include "platform/directory_listing.h"
#include "tools/commands.h"

namespace cdt {

namespace {

const OptionSpec kSetsOptions[] = {
    {"config", "FILE", "a saved configuration text to group by"},
};

// Whether `directory` is a directory whose entries can be listed. The
// discovery finds nothing in one that cannot, which would pass for an empty
// directory.
bool canList(const std::string& directory) {
  if (!isDirectory(directory.c_str())) return false;
  char** names = nullptr;
  const int32_t count = listDirectory(directory.c_str(), &names, nullptr, nullptr);
  freeDirectoryList(&names, count);
  return count >= 0;
}

// The configuration of the first data file of `directory` (in name order)
// that opens; false when none does.
bool firstDataFileConfiguration(const std::string& directory, Configuration& configuration) {
  StringArray paths;
  listDataFiles(directory.c_str(), paths, nullptr);
  for (const CountedString& path : paths) {
    if (std::unique_ptr<DataFile> file = openDataFile(path.c_str())) {
      configuration = file->configuration();
      return true;
    }
  }
  return false;
}

// The moment of a recording: the name time of the first file it holds.
uint64_t recordingTime(const RecordingSet& set) {
  for (const CountedString& path : set) {
    if (!path.empty()) return nameTime(TextBuffer(path.view()));
  }
  return 0;
}

}  // namespace

int runSets(const CommandArgs& args, FILE* out, FILE* err) {
  const std::string& directory = args.positionals[0];
  if (!canList(directory)) {
    return fileError(args, err, "'%s' is not a directory that can be read", directory.c_str());
  }

  Configuration configuration;
  if (std::optional<std::string> configPath = args.value("config")) {
    if (!loadConfigFile(configuration, configPath->c_str())) {
      return fileError(args, err, "cannot read the configuration text '%s'", configPath->c_str());
    }
  } else if (!firstDataFileConfiguration(directory, configuration)) {
    return fileError(args, err, "no readable data file in '%s' to take the configuration from",
                     directory.c_str());
  }
  if (configuration.hosts.empty()) {
    return fileError(args, err, "the configuration '%s' has no hosts", configuration.name.c_str());
  }

  RecordingSetArray sets;
  const uint32_t count = findRecordingSets(directory.c_str(), sets, configuration);
  for (uint32_t i = 0; i < count; ++i) {
    std::string line = formatTimeText(recordingTime(sets[i]));
    for (const CountedString& path : sets[i]) {
      line += '\t';
      line += path.empty() ? std::string_view("-") : path.view();
    }
    line += '\n';
    std::fputs(line.c_str(), out);
  }
  return 0;
}

const CommandSpec kSetsCommand = {
    "sets",
    "Lists the recordings of a directory, grouped by host",
    "cdt sets [--config FILE] DIR",
    "Lists the recordings in DIR in time order, one line per recording: its start time\n"
    "(UTC), then for each host of the configuration, in the configuration's host order,\n"
    "the path of that host's data file, or \"-\" where it has none; fields are separated\n"
    "by tabs. Only data files named after the configuration count:\n"
    "  <name>.<revision as 4 digits>.<host>.YYYY-MM-DD.hh-mm-ss.cdt\n"
    "The configuration is the saved text given with --config, or else the one embedded\n"
    "in the first data file of DIR in name order.\n",
    kSetsOptions,
    1,
    1,
    runSets,
};

}  // namespace cdt
