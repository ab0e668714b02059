// cdt sets: the recordings of a directory as the discovery groups them, one
// line per recording with the file of each host of the configuration.
#include <string>
#include <string_view>

#include "config/config_text.h"
#include "datafile/data_file.h"
#include "datafile/discovery.h"
#include "foundation/name_text.h"
#include "foundation/paths.h"
#include "foundation/time_text.h"
#include "lines/set_files.h"
#include "lines/set_summary.h"
#include "platform/directory_listing.h"
#include "tools/commands.h"
#include "info/json_writer.h"

namespace cdt {

namespace {

const OptionSpec kSetsOptions[] = {
    {"config", "FILE", "a saved configuration text to group by"},
    {"json", nullptr, "one JSON object per recording, with how its hosts agree"},
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

// A path or name as JSON text: UTF-8 as it is, other bytes as Windows-1252.
std::string jsonText(std::string_view bytes) {
  return decodeName(bytes, TextEncoding::Auto);
}

// The recording as one JSON object: its time, master, and per host its file
// and how its lines agree with the set's (read through the set's join). A
// host's file that cannot be read is left out of the join, named by an
// "error" of its own and in `unreadable` (its path and why); the set then
// does not agree.
std::string setJson(const RecordingSet& set, const Configuration& configuration,
                    std::vector<std::string>& unreadable) {
  std::vector<std::unique_ptr<DataFile>> opened;
  std::vector<DataFile*> files;
  std::vector<std::size_t> hostOf;  // the configuration's host of each file
  std::vector<std::string> errors(set.size());
  for (uint32_t h = 0; h < set.size(); ++h) {
    if (set[h].empty()) continue;
    DataFileReport report;
    std::unique_ptr<DataFile> file = openDataFile(set[h].c_str(), report);
    if (file == nullptr) {
      errors[h] = std::string("cannot be read: ") + dataFileStatusText(report.status);
      unreadable.push_back(std::string(set[h].view()) + ": " + errors[h]);
      continue;
    }
    files.push_back(file.get());
    hostOf.push_back(h);
    opened.push_back(std::move(file));
  }
  const int32_t configured = configuration.masterHostIndex();
  std::size_t master = 0;
  for (std::size_t i = 0; i < hostOf.size(); ++i) {
    if (static_cast<int32_t>(hostOf[i]) == configured) master = i;
  }
  const SetSummary summary = files.empty() ? SetSummary{} : summarizeSet(files, master);
  JsonWriter json;
  json.beginObject();
  json.key("time").value(formatTimeText(recordingTime(set)));
  json.key("master");
  if (files.empty()) {
    json.null();
  } else {
    json.value(jsonText(configuration.hosts[static_cast<uint32_t>(hostOf[master])].name.view()));
  }
  json.key("lines").value(summary.lines);
  bool allRead = true;
  for (const std::string& e : errors) allRead = allRead && e.empty();
  json.key("agree").value(!files.empty() && allRead && summary.agree());
  json.key("hosts").beginArray();
  std::size_t next = 0;
  for (uint32_t h = 0; h < set.size(); ++h) {
    json.beginObject();
    json.key("name").value(jsonText(configuration.hosts[h].name.view()));
    json.key("file");
    if (set[h].empty()) {
      json.null();
    } else {
      json.value(jsonText(set[h].view()));
    }
    if (!errors[h].empty()) json.key("error").value(errors[h]);
    if (next < hostOf.size() && hostOf[next] == h) {
      const SetHostSummary& s = summary.hosts[next++];
      json.key("lines").value(s.lines);
      json.key("missing").value(s.missing);
      json.key("time_off").value(s.timeOff);
      json.key("speed_off").value(s.speedOff);
      json.key("restarts").value(s.restarts);
      json.key("first_rev");
      s.firstRevolution ? json.value(*s.firstRevolution) : json.null();
      json.key("last_rev");
      s.lastRevolution ? json.value(*s.lastRevolution) : json.null();
    }
    json.endObject();
  }
  json.endArray();
  json.endObject();
  return json.text();
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
  if (std::optional<std::string> twice = ambiguousHostNames(configuration)) {
    return fileError(args, err, "'%s': %s", directory.c_str(), twice->c_str());
  }

  RecordingSetArray sets;
  const uint32_t count = findRecordingSets(directory.c_str(), sets, configuration);
  const bool asJson = args.has("json");
  int status = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (asJson) {
      std::vector<std::string> unreadable;
      std::fprintf(out, "%s\n", setJson(sets[i], configuration, unreadable).c_str());
      for (const std::string& message : unreadable) {
        status = fileError(args, err, "%s (left out of its recording)", message.c_str());
      }
      continue;
    }
    std::string line = formatTimeText(recordingTime(sets[i]));
    for (const CountedString& path : sets[i]) {
      line += '\t';
      line += path.empty() ? std::string_view("-") : path.view();
    }
    line += '\n';
    std::fputs(line.c_str(), out);
  }
  return status;
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
    "in the first data file of DIR in name order.\n"
    "With --json, one JSON object per recording: \"time\", \"master\", \"lines\" (of the\n"
    "recording's hosts joined by revolution), \"agree\" and per host in \"hosts\" its\n"
    "\"name\" and \"file\" (null where none) and, for a file that opens, its \"lines\", the\n"
    "set lines it is \"missing\", those whose time (\"time_off\", by more than half a\n"
    "revolution) or speed (\"speed_off\", by more than 1 %) differ from the master's,\n"
    "\"restarts\" of its revolution counter and its \"first_rev\" and \"last_rev\"; a file\n"
    "that cannot be read has an \"error\" instead, is named on standard error, leaves\n"
    "its recording disagreeing and the status 1.\n",
    kSetsOptions,
    1,
    1,
    runSets,
};

}  // namespace cdt
