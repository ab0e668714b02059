// Reshaping the finished data files of `cdt synth`: what a recorder that died
// leaves behind, made from a finished file (the tool writes recordings with
// the library's writer, which always finishes them, and then takes the
// finishing back), and a header independent of the computer's time zone.
#pragma once

#include <cstdint>
#include <string>

namespace cdt {

struct CrashShape {
  // Leave the file as being written: index fields 0, no index, name + ".temp".
  bool unfinished = false;
  // Cut the last record in half. A finished file keeps a valid index of the
  // records before it, so its records simply end in a cut one.
  bool damage = false;
};

// Sets the time-zone bias in the header of the data file at `path` to 0. The
// writer records the bias of the local time zone; a synthetic recording is
// made as if in UTC, so that the same options give the same bytes in every
// time zone. False with `error` set when the file cannot be written.
[[nodiscard]] bool clearTimeZoneBias(const std::string& path, std::string& error);

// Reshapes the finished file at `path` in place. `lastRecordStart` is where
// its last record begins (equal to the end of the records when there is
// none; a damage then cuts nothing). On success `resultPath` is the file's
// path afterwards. False with `error` set when the file cannot be read,
// written, truncated or renamed.
[[nodiscard]] bool simulateCrash(const std::string& path, uint64_t lastRecordStart,
                                 CrashShape shape, std::string& resultPath, std::string& error);

}  // namespace cdt
