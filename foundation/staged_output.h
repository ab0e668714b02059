// An output file written under a staging name beside its final name, and
// renamed over the final name only once it is complete.
//
// The staging file is new: created exclusively (an existing name, a stale
// staging file or a symbolic link, is never written to, followed or
// removed; the next free name is taken instead), in the final name's
// directory, so the rename replaces the final name in one step. Until
// commit() succeeds the final name is untouched, and the destructor removes
// the staging file, so a failure never leaves a half-written output behind,
// nor writes through a link that stands at the final name.
#pragma once

#include <cstdio>
#include <string>

namespace cdt {

// Staging names tried beside a final name before giving up.
inline constexpr int kStagingAttempts = 100;
// The staging name of attempt `attempt` (0 to kStagingAttempts - 1) for
// `finalPath`: "FINAL.part", then "FINAL.part.1", "FINAL.part.2", ...
std::string stagingPath(const std::string& finalPath, int attempt);

class StagedOutput {
 public:
  StagedOutput() = default;
  // Removes the staging file unless commit() succeeded.
  ~StagedOutput();
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  // Creates the staging file for `finalPath` ("FINAL.part", or "FINAL.part.N"
  // when that is taken) and opens it for writing (binary unless `text`).
  // False, with error() set, when `finalPath` names the same file as
  // `inputPath` (when given: the output is never the input) or no staging
  // file can be created.
  [[nodiscard]] bool create(const std::string& finalPath, const std::string& inputPath = {},
                            bool text = false);

  // The open staging file; owned here until release() or commit().
  std::FILE* stream() const { return stream_; }
  // Closes the stream, so that a library can write the staging file by its
  // name. False, with error() set, when the close failed.
  [[nodiscard]] bool closeStream();
  // Takes the stream's ownership from here (the caller closes it); the
  // staging file is still removed or committed by this object.
  std::FILE* release();

  const std::string& stagedPath() const { return stagedPath_; }
  const std::string& finalPath() const { return finalPath_; }

  // Closes the stream if it is still held here and renames the staging file
  // to the final name. False, with error() set and the staging file
  // removed, when the close or the rename failed.
  [[nodiscard]] bool commit();
  // Removes the staging file.
  void discard();

  // "cannot write 'FINAL': <the first failing call's strerror>"-style text
  // of the failure.
  const std::string& error() const { return error_; }
  // Records a failure of the writer (errno `code`, 0 when it is not known)
  // and discards the staging file; the first failure's text is kept.
  void fail(const std::string& what, int code);

 private:
  std::FILE* stream_ = nullptr;
  std::string finalPath_;
  std::string stagedPath_;
  std::string error_;
};

}  // namespace cdt
