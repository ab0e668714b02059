#include "tools/data_file_copy.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/progress.h"

namespace cdt {

namespace {

constexpr const char* kStagingSuffix = ".part";
// What the writer appends to the path it is given while the file is written.
constexpr const char* kWriterSuffix = ".temp";

}  // namespace

bool pathExists(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0;
}

bool isSameFile(const std::string& a, const std::string& b) {
  struct stat first;
  struct stat second;
  if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

DataFileCopy::~DataFileCopy() {
  discard();
}

bool DataFileCopy::create(const Configuration& configuration, const std::string& inputPath,
                          const std::string& outputPath, std::string& error) {
  discard();
  outputPath_ = outputPath;
  const std::string staged = outputPath + kStagingSuffix;
  // The writer truncates its ".temp" file and the final rename replaces the
  // output, so none of the three may be the input: recovering "x.cdt.temp"
  // into "x.cdt" would otherwise write over the file being read.
  for (const std::string& path : {outputPath, staged, staged + kWriterSuffix}) {
    if (isSameFile(path, inputPath)) {
      error = "'" + path + "' is the input file";
      return false;
    }
  }
  // Only names known not to be the input are ever removed.
  stagedPath_ = staged;
  errno = 0;
  file_ = createDataFile(configuration, stagedPath_.c_str());
  if (file_ == nullptr) {
    error = "cannot create '" + stagedPath_ + kWriterSuffix + "'";
    if (errno != 0) error += std::string(": ") + std::strerror(errno);
    stagedPath_.clear();
    return false;
  }
  records_ = 0;
  return true;
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
  if (std::rename(stagedPath_.c_str(), outputPath_.c_str()) != 0) {
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
    std::remove(stagedPath_.c_str());
    std::remove((stagedPath_ + kWriterSuffix).c_str());
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
