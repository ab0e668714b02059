#include "tools/data_file_copy.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "datafile/file_names.h"
#include "foundation/file_system.h"
#include "foundation/staged_output.h"
#include "tools/progress.h"

namespace cdt {

bool pathExists(const std::string& path) {
  // A symbolic link exists even when what it points to does not.
  return cdt::pathExists(path.c_str());
}

bool isSameFile(const std::string& a, const std::string& b) {
  return sameFile(a.c_str(), b.c_str());
}

DataFileCopy::~DataFileCopy() {
  discard();
}

bool DataFileCopy::create(const Configuration& configuration, const std::string& inputPath,
                          const std::string& outputPath, std::string& error) {
  discard();
  outputPath_ = outputPath;
  // The final rename replaces the output, so it may not be the input:
  // recovering "x.cdt.temp" into "x.cdt" would otherwise write over the file
  // being read.
  if (isSameFile(outputPath, inputPath)) {
    error = "'" + outputPath + "' is the input file";
    return false;
  }
  // The staging file is a new file in the output's directory, created
  // exclusively: an existing name (a stale staging file, another file, a
  // symbolic link to anything) is never written to, followed or removed, and
  // the next free name is taken instead. The writer renames its ".temp" file
  // to the staging name when it closes, so that name must be free as well.
  for (int attempt = 0; attempt < kStagingAttempts; ++attempt) {
    const std::string staged = stagingPath(outputPath, attempt);
    if (pathExists(staged) || pathExists(staged + std::string(kBeingWrittenSuffix))) continue;
    errno = 0;
    file_ = createDataFile(configuration, staged.c_str(), CreateMode::Exclusive);
    if (file_ != nullptr) {
      // Only names created here are ever removed.
      stagedPath_ = staged;
      records_ = 0;
      return true;
    }
    if (errno != EEXIST) {
      error = "cannot create '" + staged + std::string(kBeingWrittenSuffix) + "'";
      if (errno != 0) error += std::string(": ") + std::strerror(errno);
      return false;
    }
  }
  error = "cannot create a staging file beside '" + outputPath + "': every name up to '" +
          stagingPath(outputPath, kStagingAttempts - 1) + "' is taken";
  return false;
}

bool DataFileCopy::write(const DataRecord& record) {
  if (file_ == nullptr || !writeRecord(*file_, record)) return false;
  ++records_;
  return true;
}

bool DataFileCopy::finish(std::string& error) {
  if (file_ == nullptr) {
    error = "no output was started";
    return false;
  }
  const bool closed = closeDataFile(*file_);
  file_.reset();
  if (!closed) {
    error = "cannot finish '" + stagedPath_ + "' (a write failed or the disk is full)";
    discard();
    return false;
  }
  if (!renameFile(stagedPath_.c_str(), outputPath_.c_str())) {
    error = "cannot rename '" + stagedPath_ + "' to '" + outputPath_ + "': " + std::strerror(errno);
    discard();
    return false;
  }
  stagedPath_.clear();
  return true;
}

void DataFileCopy::discard() {
  if (file_ != nullptr) {
    // Closing finishes the staged file under its staging name; it goes below.
    (void)closeDataFile(*file_);
    file_.reset();
  }
  if (!stagedPath_.empty()) {
    removeFile(stagedPath_.c_str());
    removeFile((stagedPath_ + std::string(kBeingWrittenSuffix)).c_str());
    stagedPath_.clear();
  }
}

int copyRecords(const CommandArgs& args, DataFile& input, const std::string& inputPath,
                DataFileCopy& copy, const std::function<bool(const DataRecord&)>& keep, FILE* err) {
  const uint64_t from = input.lastReadStatus().offset;
  const uint64_t end = input.recordsEnd();
  ProgressLine progress(err, args.command + ": read", "bytes", end > from ? end - from : 0);
  while (RecordRef record = readNextRecord(input)) {
    if ((!keep || keep(*record)) && !copy.write(*record)) {
      return fileError(args, err, "cannot write to '%s'", copy.outputPath().c_str());
    }
    progress.update(input.lastReadStatus().offset - from);
  }
  const DataFileReport stop = input.lastReadStatus();
  if (stop.status == DataFileStatus::IoError) {
    return fileError(args, err, "cannot read '%s': I/O error at offset %llu", inputPath.c_str(),
                     static_cast<unsigned long long>(stop.offset));
  }
  return 0;
}

}  // namespace cdt
