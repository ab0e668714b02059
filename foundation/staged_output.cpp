#include "foundation/staged_output.h"

#include <cerrno>
#include <cstring>

#include "foundation/file_system.h"

namespace cdt {

namespace {

std::string withCause(const std::string& what, int code) {
  return code != 0 ? what + ": " + std::strerror(code) : what;
}

}  // namespace

std::string stagingPath(const std::string& finalPath, int attempt) {
  std::string staged = finalPath + ".part";
  if (attempt > 0) {
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) of
    // "." + std::to_string(attempt).
    staged += '.';
    staged += std::to_string(attempt);
  }
  return staged;
}

StagedOutput::~StagedOutput() {
  discard();
}

bool StagedOutput::create(const std::string& finalPath, const std::string& inputPath, bool text) {
  discard();
  error_.clear();
  finalPath_ = finalPath;
  if (!inputPath.empty() && sameFile(inputPath.c_str(), finalPath.c_str())) {
    error_ = "the output '" + finalPath + "' is the input file";
    return false;
  }
  for (int attempt = 0; attempt < kStagingAttempts; ++attempt) {
    const std::string staged = stagingPath(finalPath, attempt);
    errno = 0;
    stream_ = openFile(staged.c_str(), text ? "wx" : "wbx");
    if (stream_ != nullptr) {
      stagedPath_ = staged;
      return true;
    }
    if (errno != EEXIST) {
      error_ = withCause("cannot create '" + staged + "'", errno);
      return false;
    }
  }
  error_ = "cannot create a staging file beside '" + finalPath + "': every name up to '" +
           stagingPath(finalPath, kStagingAttempts - 1) + "' is taken";
  return false;
}

bool StagedOutput::closeStream() {
  if (stream_ == nullptr) return true;
  errno = 0;
  const bool flushed = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
  const int flushError = errno;
  const bool closed = std::fclose(stream_) == 0;
  const int closeError = errno;
  stream_ = nullptr;
  if (!flushed || !closed) {
    fail("cannot write '" + finalPath_ + "'", flushed ? closeError : flushError);
    return false;
  }
  return true;
}

std::FILE* StagedOutput::release() {
  std::FILE* stream = stream_;
  stream_ = nullptr;
  return stream;
}

bool StagedOutput::commit() {
  if (stagedPath_.empty()) return false;
  if (!closeStream()) return false;
  errno = 0;
  if (!renameFile(stagedPath_.c_str(), finalPath_.c_str())) {
    fail("cannot rename '" + stagedPath_ + "' to '" + finalPath_ + "'", errno);
    return false;
  }
  stagedPath_.clear();
  return true;
}

void StagedOutput::discard() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!stagedPath_.empty()) {
    (void)removeFile(stagedPath_.c_str());
    stagedPath_.clear();
  }
}

void StagedOutput::fail(const std::string& what, int code) {
  if (error_.empty()) error_ = withCause(what, code);
  discard();
}

}  // namespace cdt
