// Writing a new, finished data file out of the records of another one, for
// the commands that derive a file from an input (recover, cut). The input is
// never touched: the output is assembled under a staging name and takes its
// final name only once it is complete, so a failure leaves neither a partial
// output nor a damaged older file of the same name behind.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "config/model.h"
#include "datafile/data_file.h"
#include "datafile/data_record.h"
#include "tools/arguments.h"

namespace cdt {

// Whether `path` names something that exists (a dangling symbolic link
// included).
bool pathExists(const std::string& path);
// Whether both paths name the same existing file (same device and inode), so
// "a/x.cdt" and "./a/../a/x.cdt" or a hard link count as one.
bool isSameFile(const std::string& a, const std::string& b);

class DataFileCopy {
 public:
  DataFileCopy() = default;
  // Unless finish() succeeded, removes what was written.
  ~DataFileCopy();
  DataFileCopy(const DataFileCopy&) = delete;
  DataFileCopy& operator=(const DataFileCopy&) = delete;

  // Starts the output `outputPath` with `configuration`. The writer works on
  // a new file created exclusively beside it (`outputPath` + ".part", or
  // ".part.N" when that name is taken, + ".temp"); finish() renames the result
  // to `outputPath`, replacing a file (or link) of that name. False, with
  // `error` set, when `outputPath` is the file `inputPath`, or when no
  // staging file can be created.
  [[nodiscard]] bool create(const Configuration& configuration, const std::string& inputPath,
                            const std::string& outputPath, std::string& error);

  // Appends one record (create() must have succeeded); false when the write
  // failed.
  [[nodiscard]] bool write(const DataRecord& record);
  uint64_t recordsWritten() const { return records_; }

  // Appends the index, completes the header and gives the file its final
  // name. False, with `error` set and the staged file removed, when any of
  // that failed.
  [[nodiscard]] bool finish(std::string& error);

  const std::string& outputPath() const { return outputPath_; }

 private:
  void discard();

  std::unique_ptr<DataFile> file_;
  std::string outputPath_;
  std::string stagedPath_;  // what the writer renames its ".temp" file to
  uint64_t records_ = 0;
};

// Writes to `copy` every record that `input` (opened as `inputPath`) yields
// from its reading position on and that `keep` accepts (every one when
// `keep` is empty), with a progress line on `err` while it is a terminal.
// Returns 0 when reading stopped for a reason of the file's own (its end, a
// damaged record: input.lastReadStatus() tells which); 1 after reporting on
// `err` a write that failed or an I/O error while reading.
int copyRecords(const CommandArgs& args, DataFile& input, const std::string& inputPath,
                DataFileCopy& copy, const std::function<bool(const DataRecord&)>& keep, FILE* err);

}  // namespace cdt
