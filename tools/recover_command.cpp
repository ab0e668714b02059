// cdt recover: a finished copy of a data file that its recorder never
// finished (".temp", no index) or whose records end in damage. The records
// are read with the reader's own checks in its salvage mode, so a record is
// kept exactly when the reader would have yielded it, and reading stops at
// the first damaged one; the writer then rebuilds the index as it always
// does.
#include <string>
#include <string_view>

#include "datafile/data_file.h"
#include "datafile/file_names.h"
#include "tools/commands.h"
#include "tools/data_file_copy.h"

namespace cdt {

namespace {

constexpr std::string_view kRecoveredSuffix = ".recovered.cdt";

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// The input's name without ".temp"; when a file of that name exists (always
// so for an input without ".temp"), the same with ".recovered.cdt" in place
// of its ".cdt" extension (or after it, when it has none).
std::string recoveredFileName(const std::string& input) {
  std::string_view name = input;
  if (endsWith(name, kBeingWrittenSuffix)) name.remove_suffix(kBeingWrittenSuffix.size());
  if (!name.empty() && !pathExists(std::string(name))) return std::string(name);
  if (endsWith(name, kDataFileExtension)) name.remove_suffix(kDataFileExtension.size());
  return std::string(name) + std::string(kRecoveredSuffix);
}

}  // namespace

int runRecover(const CommandArgs& args, FILE* out, FILE* err) {
  const std::string& input = args.positionals[0];
  const std::string output =
      args.positionals.size() > 1 ? args.positionals[1] : recoveredFileName(input);
  if (isSameFile(input, output)) {
    return usageError(args, err, "the output '%s' is the input file", output.c_str());
  }

  DataFileReport report;
  std::unique_ptr<DataFile> file = openDataFile(input.c_str(), report, ReadMode::Salvage);
  if (file == nullptr) {
    return fileError(args, err, "cannot read '%s': %s", input.c_str(),
                     dataFileStatusText(report.status));
  }
  if (!file->configurationParsed()) {
    std::fprintf(err,
                 "%s %s: warning: the configuration of '%s' did not parse completely; the copy "
                 "holds what could be read\n",
                 args.program.c_str(), args.command.c_str(), input.c_str());
  }

  DataFileCopy copy;
  std::string error;
  if (!copy.create(file->configuration(), input, output, error)) {
    return fileError(args, err, "%s", error.c_str());
  }
  if (int status = copyRecords(args, *file, input, copy, {}, err); status != 0) return status;
  const uint64_t recordsEnd = file->recordsEnd();
  const DataFileReport stop = file->lastReadStatus();
  if (!copy.finish(error)) return fileError(args, err, "%s", error.c_str());

  // Reading stops at the start of the first record it rejects; whatever lies
  // from there to the end of the records is not in the copy.
  const uint64_t dropped = stop.offset < recordsEnd ? recordsEnd - stop.offset : 0;
  std::fprintf(out, "%s -> %s: %llu records kept, %llu bytes dropped", input.c_str(),
               output.c_str(), static_cast<unsigned long long>(copy.recordsWritten()),
               static_cast<unsigned long long>(dropped));
  if (stop.status != DataFileStatus::EndOfRecords) {
    std::fprintf(out, " (%s at offset %llu)", dataFileStatusText(stop.status),
                 static_cast<unsigned long long>(stop.offset));
  }
  std::fputc('\n', out);
  return 0;
}

const CommandSpec kRecoverCommand = {
    "recover",
    "Writes a finished copy of an unfinished or damaged recording",
    "cdt recover FILE [OUT]",
    "Reads FILE, a data file that was never finished (its name ends in \".temp\" and its\n"
    "header has no index), whose index is cut off, or whose records end in a damaged or\n"
    "cut record, and writes a new, finished data file with the same configuration, every\n"
    "whole record up to the first damaged one and a rebuilt index. FILE itself is never\n"
    "changed.\n"
    "\n"
    "OUT defaults to FILE without \".temp\", or, when a file of that name exists, to that\n"
    "name with \".recovered.cdt\" in place of \".cdt\". An existing OUT is replaced once\n"
    "the copy is complete. Prints the records kept and the bytes dropped, and why\n"
    "reading stopped when it was not the end of the records.\n",
    {},
    1,
    2,
    runRecover,
};

}  // namespace cdt
