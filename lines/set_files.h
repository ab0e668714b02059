// Which files make up a recording set, as the discovery groups a
// directory's data files (datafile/discovery.h): named by any one of its
// files, by a directory that holds one recording, or by a directory and the
// recording's time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/model.h"

namespace cdt {

struct SetFiles {
  Configuration configuration;     // of the file the set was found by
  std::vector<std::string> paths;  // per host of the configuration; "" where none
  std::size_t master = 0;          // the host whose file leads: the configuration's master
                                   // where it has a file, else the first host that has one
  uint64_t time = 0;               // the recording's time, from its file names
};

// Why a recording set cannot be found by this configuration: two hosts of
// one name (their files cannot be told apart by name, and one would be left
// out), naming them; none when every host's name is its own.
std::optional<std::string> ambiguousHostNames(const Configuration& configuration);

// The host whose file leads a set of these paths (one per host, "" where
// none): the configuration's master where it has a file, else the first
// host that has one; paths.size() when none has.
std::size_t setMaster(const Configuration& configuration, const std::vector<std::string>& paths);

// The moment of a recording: the name time of the first file it holds.
uint64_t setTime(const std::vector<std::string>& paths);

// The set that `path` names. A data file: the recording it belongs to. A
// directory: its only recording, or with `time` the recording of that time.
// False with `error` set (without the path) when there is none, or a
// directory holds several and no time tells which.
bool findSetFiles(const std::string& path, std::optional<uint64_t> time, SetFiles& out,
                  std::string& error);

// Every recording of the directory `directory`, in time order, as cdt sets
// lists them (grouped by the configuration of its first data file that
// opens). False with `error` set when it has no readable data file or no
// recording of that configuration.
bool findDirectorySets(const std::string& directory, std::vector<SetFiles>& out,
                       std::string& error);

// A recording set being written.
struct LiveSet {
  SetFiles files;                  // paths: the files' final names ("" where none yet)
  std::vector<std::string> found;  // per host the name its file has now ("" where none)
};

// The recording set being written that `path` names, a data file by its
// ".temp" name or its final one (whichever exists): the hosts' files found
// as the discovery finds a finished set's, each by either name. None with
// `error` set (without the path), and `absent` when `path` names no file.
std::optional<LiveSet> findLiveSet(const std::string& path, std::string& error, bool& absent);

// The name of a set's outputs, without an extension: the converter's name
// for its master's CSV with the master's host part (".HOST." in the file's
// name) taken out, so Rig1.0000.Daq1.2011-05-06.12-30-00.cdt gives
// Rig1.0000.2011-05-06.12-30-00.
std::string setOutputStem(const SetFiles& set);

}  // namespace cdt
