// cdt cut: the records of a time window copied into a new finished data file.
//
// Reading starts through the index, at the last entry before the window once
// the records confirm it (seekToTime), so the copy holds exactly the records
// of the window that a read from the start gives. No such bound exists for
// the end of the window (a record without an entry may be earlier than the
// entries before it), so the rest of the file is read to the end.
#include <string>

#include "datafile/data_file.h"
#include "foundation/time_text.h"
#include "tools/commands.h"
#include "tools/data_file_copy.h"

namespace cdt {

int runCut(const CommandArgs& args, FILE* out, FILE* err) {
  const std::string& input = args.positionals[0];
  const std::string& output = args.positionals[3];
  const std::optional<uint64_t> start = parseTimeText(args.positionals[1]);
  const std::optional<uint64_t> end = parseTimeText(args.positionals[2]);
  if (!start) {
    return usageError(args, err, "START '%s' is not a UTC time such as 2011-05-06T12:30:45.25Z",
                      args.positionals[1].c_str());
  }
  if (!end) {
    return usageError(args, err, "END '%s' is not a UTC time such as 2011-05-06T12:30:45.25Z",
                      args.positionals[2].c_str());
  }
  if (*end <= *start) return usageError(args, err, "END must lie after START");
  if (isSameFile(input, output)) {
    return usageError(args, err, "the output '%s' is the input file", output.c_str());
  }

  DataFileReport report;
  std::unique_ptr<DataFile> file = openDataFile(input.c_str(), report);
  if (file == nullptr) {
    return fileError(args, err, "cannot read '%s': %s", input.c_str(),
                     dataFileStatusText(report.status));
  }
  if (file->header().indexOffset == 0) {
    return fileError(args, err,
                     "'%s' was never finished and holds no readable records; "
                     "'cdt recover' makes a finished copy of it",
                     input.c_str());
  }

  const WindowSeek seek = seekToTime(*file, *start);
  if (seek.indexDisagrees) {
    std::fprintf(err,
                 "%s %s: warning: the index of '%s' disagrees with its records at entry %u; "
                 "the window was found by reading the records\n",
                 args.program.c_str(), args.command.c_str(), input.c_str(), seek.firstBadEntry);
  }

  DataFileCopy copy;
  std::string error;
  if (!copy.create(file->configuration(), input, output, error)) {
    return fileError(args, err, "%s", error.c_str());
  }
  const auto inWindow = [&](const DataRecord& record) {
    return record.time() >= *start && record.time() < *end;
  };
  if (int status = copyRecords(args, *file, input, copy, inWindow, err); status != 0) {
    return status;
  }
  const DataFileReport stop = file->lastReadStatus();
  if (stop.status != DataFileStatus::EndOfRecords) {
    // The converter stops at the same place, so the copy still holds every
    // line of the window that the input gives.
    std::fprintf(err, "%s %s: warning: reading '%s' stopped at offset %llu: %s\n",
                 args.program.c_str(), args.command.c_str(), input.c_str(),
                 static_cast<unsigned long long>(stop.offset), dataFileStatusText(stop.status));
  }
  if (!copy.finish(error)) return fileError(args, err, "%s", error.c_str());

  std::fprintf(out, "%s: %llu records from %s to %s\n", output.c_str(),
               static_cast<unsigned long long>(copy.recordsWritten()),
               formatTimeText(*start).c_str(), formatTimeText(*end).c_str());
  return 0;
}

const CommandSpec kCutCommand = {
    "cut",
    "Copies the records of a time window into a new recording",
    "cdt cut FILE START END OUT",
    "Copies the records of FILE whose time lies in [START, END) into OUT, a new finished\n"
    "data file with the same configuration. Times are in ISO 8601 form:\n"
    "\"2011-05-06T12:30:45.25Z\", with a blank instead of \"T\", without \"Z\" (UTC), with\n"
    "an offset (\"+02:00\"), without seconds or minutes, or as a date alone (midnight).\n"
    "Reading starts near START through the file's index. An existing OUT is replaced\n"
    "once the copy is complete.\n",
    {},
    4,
    4,
    runCut,
};

}  // namespace cdt
