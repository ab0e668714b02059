#include "lines/set_files.h"

#include <algorithm>
#include <memory>

#include "datafile/data_file.h"
#include "datafile/discovery.h"
#include "datafile/file_names.h"
#include "foundation/paths.h"
#include "foundation/time_text.h"

namespace cdt {

namespace {

// The configuration of `path`, or of the first data file of the directory
// `path` (in name order) that opens.
bool configurationOf(const std::string& path, bool directory, Configuration& configuration) {
  if (!directory) {
    std::unique_ptr<DataFile> file = openDataFile(path.c_str());
    if (file == nullptr) return false;
    configuration = file->configuration();
    return true;
  }
  StringArray paths;
  listDataFiles(path.c_str(), paths, nullptr);
  for (const CountedString& p : paths) {
    if (std::unique_ptr<DataFile> file = openDataFile(p.c_str())) {
      configuration = file->configuration();
      return true;
    }
  }
  return false;
}

std::vector<std::string> pathsOf(const RecordingSet& set) {
  std::vector<std::string> paths;
  for (const CountedString& p : set) paths.emplace_back(p.view());
  return paths;
}

// Fills in the set's time and master from its paths.
void completeSet(SetFiles& set) {
  set.time = setTime(set.paths);
  set.master = setMaster(set.configuration, set.paths);
}

std::string withoutTemporarySuffix(const std::string& path) {
  return path.ends_with(kBeingWrittenSuffix)
             ? path.substr(0, path.size() - kBeingWrittenSuffix.size())
             : path;
}

// `text` with the first `from` replaced by `to` (unchanged without one).
std::string replacedFirst(const std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at == std::string::npos) return text;
  std::string out = text;
  out.replace(at, from.size(), to);
  return out;
}

// The name a host's file has now: the final one, else the one being
// written; empty when neither is readable.
std::string existingName(const std::string& finalName) {
  if (isReadable(finalName.c_str())) return finalName;
  std::string temporary = finalName;
  temporary += kBeingWrittenSuffix;
  return isReadable(temporary.c_str()) ? temporary : std::string();
}

std::string hostMatchName(const CountedString& name) {
  return std::string(name.view().substr(0, kMaxHostNameMatch));
}

// `text` between two `separator`s.
std::string enclosed(char separator, const std::string& text) {
  std::string out(1, separator);
  out += text;
  out += separator;
  return out;
}

}  // namespace

std::optional<std::string> ambiguousHostNames(const Configuration& configuration) {
  const uint32_t n = static_cast<uint32_t>(configuration.hosts.size());
  for (uint32_t a = 0; a < n; ++a) {
    for (uint32_t b = a + 1; b < n; ++b) {
      if (configuration.hosts[a].name.view() == configuration.hosts[b].name.view()) {
        return "its configuration names hosts " + std::to_string(a + 1) + " and " +
               std::to_string(b + 1) + " alike ('" +
               std::string(configuration.hosts[a].name.view()) +
               "'): their files cannot be told apart by name";
      }
    }
  }
  return std::nullopt;
}

std::size_t setMaster(const Configuration& configuration, const std::vector<std::string>& paths) {
  const int32_t master = configuration.masterHostIndex();
  if (master >= 0 && static_cast<std::size_t>(master) < paths.size() &&
      !paths[static_cast<std::size_t>(master)].empty()) {
    return static_cast<std::size_t>(master);
  }
  for (std::size_t h = 0; h < paths.size(); ++h) {
    if (!paths[h].empty()) return h;
  }
  return paths.size();
}

uint64_t setTime(const std::vector<std::string>& paths) {
  for (const std::string& p : paths) {
    if (!p.empty()) return nameTime(TextBuffer(std::string_view(p)));
  }
  return 0;
}

std::string setOutputStem(const SetFiles& set) {
  std::string name = outputPathFor(set.paths[set.master].c_str()).str();
  name.resize(name.size() - 4);  // ".csv"
  const std::string_view host =
      set.configuration.hosts[static_cast<uint32_t>(set.master)].name.view();
  if (!host.empty()) {
    std::string part(host.size() + 2, '.');
    host.copy(part.data() + 1, host.size());
    const std::size_t at = name.find(part);
    if (at != std::string::npos) name.erase(at + 1, host.size() + 1);
  }
  return name;
}

bool findSetFiles(const std::string& path, std::optional<uint64_t> time, SetFiles& out,
                  std::string& error) {
  const bool directory = isDirectory(path.c_str());
  if (!directory && !isReadable(path.c_str())) {
    error = "no such file or directory";
    return false;
  }
  if (!configurationOf(path, directory, out.configuration)) {
    error = directory ? "no readable data file in it" : "not a readable data file";
    return false;
  }
  if (out.configuration.hosts.empty()) {
    error = "its configuration has no hosts";
    return false;
  }
  if (std::optional<std::string> twice = ambiguousHostNames(out.configuration)) {
    error = *twice;
    return false;
  }
  // The directory as the discovery spells its paths: the file's own
  // directory part (empty for a bare name).
  const std::string dir =
      directory ? path : std::string(pathDirectory(TextBuffer(std::string_view(path))).view());
  RecordingSetArray sets;
  const uint32_t count = findRecordingSets(dir.c_str(), sets, out.configuration);
  std::vector<std::vector<std::string>> found;
  for (uint32_t i = 0; i < count; ++i) found.push_back(pathsOf(sets[i]));
  const std::vector<std::string>* chosen = nullptr;
  if (!directory) {
    const std::string_view name = pathBaseName(TextBuffer(std::string_view(path))).view();
    for (const std::vector<std::string>& set : found) {
      for (const std::string& p : set) {
        if (!p.empty() && pathBaseName(TextBuffer(std::string_view(p))).view() == name) {
          chosen = &set;
        }
      }
      if (chosen != nullptr) break;
    }
    if (chosen == nullptr) {
      error = "no host of its configuration is named in its file name";
      return false;
    }
  } else if (time) {
    for (const std::vector<std::string>& set : found) {
      if (setTime(set) == *time) chosen = &set;
    }
    if (chosen == nullptr) {
      error = "no recording of " + formatTimeText(*time) + " in it";
      return false;
    }
  } else if (found.size() != 1) {
    if (found.empty()) {
      error = "no recording of its configuration in it";
    } else {
      error = "it holds " + std::to_string(found.size()) + " recordings (";
      for (std::size_t i = 0; i < found.size(); ++i) {
        error += (i > 0 ? ", " : "") + formatTimeText(setTime(found[i]));
      }
      error += "): give the time of one";
    }
    return false;
  } else {
    chosen = &found.front();
  }
  out.paths = *chosen;
  completeSet(out);
  return true;
}

std::optional<LiveSet> findLiveSet(const std::string& path, std::string& error, bool& absent) {
  absent = false;
  const std::string finalName = withoutTemporarySuffix(path);
  const std::string named = isReadable(path.c_str()) ? path : existingName(finalName);
  if (named.empty()) {
    error = "no such file";
    absent = true;
    return std::nullopt;
  }
  std::unique_ptr<DataFile> file = openDataFile(named.c_str());
  if (file == nullptr) {
    error = "not a readable data file";
    return std::nullopt;
  }
  LiveSet live;
  SetFiles& set = live.files;
  set.configuration = file->configuration();
  const Configuration& configuration = set.configuration;
  const uint32_t count = configuration.hosts.size();
  if (count == 0) {
    error = "its configuration has no hosts";
    return std::nullopt;
  }
  if (std::optional<std::string> twice = ambiguousHostNames(configuration)) {
    error = *twice;
    return std::nullopt;
  }
  // The file's host: the first whose name followed by "." its path holds.
  std::optional<uint32_t> own;
  for (uint32_t k = 0; k < count && !own; ++k) {
    const std::string name = hostMatchName(configuration.hosts[k].name);
    if (!name.empty() && finalName.find(name + ".") != std::string::npos) own = k;
  }
  if (!own) {
    error = "no host of its configuration is named in its file name";
    return std::nullopt;
  }
  // The other hosts' files, by either name: the file's name with the host
  // part (".HOST.") of each, else also its computer's directory.
  const Host& leader = configuration.hosts[*own];
  set.paths.assign(count, std::string());
  live.found.assign(count, std::string());
  set.paths[*own] = finalName;
  live.found[*own] = named;
  for (uint32_t k = 0; k < count; ++k) {
    const Host& host = configuration.hosts[k];
    if (k == *own || host.name.view().empty()) continue;
    std::string candidate = replacedFirst(finalName, enclosed('.', hostMatchName(leader.name)),
                                          enclosed('.', hostMatchName(host.name)));
    std::string existing = candidate != finalName ? existingName(candidate) : std::string();
    if (existing.empty() && !leader.hostName.view().empty() && !host.hostName.view().empty()) {
      const std::string from(leader.hostName.view());
      const std::string to(host.hostName.view());
      candidate = replacedFirst(candidate, enclosed('/', from), enclosed('/', to));
      candidate = replacedFirst(candidate, enclosed('\\', from), enclosed('\\', to));
      if (candidate != finalName) existing = existingName(candidate);
    }
    if (!existing.empty()) {
      set.paths[k] = candidate;
      live.found[k] = existing;
    }
  }
  completeSet(set);
  return live;
}

bool findDirectorySets(const std::string& directory, std::vector<SetFiles>& out,
                       std::string& error) {
  out.clear();
  SetFiles set;
  if (!configurationOf(directory, true, set.configuration)) {
    error = "no readable data file in it";
    return false;
  }
  if (set.configuration.hosts.empty()) {
    error = "its configuration has no hosts";
    return false;
  }
  if (std::optional<std::string> twice = ambiguousHostNames(set.configuration)) {
    error = *twice;
    return false;
  }
  RecordingSetArray sets;
  const uint32_t count = findRecordingSets(directory.c_str(), sets, set.configuration);
  for (uint32_t i = 0; i < count; ++i) {
    set.paths = pathsOf(sets[i]);
    completeSet(set);
    out.push_back(set);
  }
  if (out.empty()) error = "no recording of its configuration in it";
  return !out.empty();
}

}  // namespace cdt
