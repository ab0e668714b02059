#include "driver/converter.h"

#include "csv/csv_exporter.h"
#include "datafile/data_file.h"
#include "datafile/file_names.h"
#include "foundation/file_system.h"

namespace cdt {

namespace {

// One argument; true when it was converted completely.
bool convertFile(const char* program, const char* input, std::FILE* out, std::FILE* err) {
  std::unique_ptr<DataFile> file = openDataFile(input);
  if (file == nullptr) {
    std::fprintf(err, "%s: Can not open input file '%s'\n", program, input);
    return false;
  }
  const CountedString output = outputPathFor(input);
  // Creating the output truncates it; when it is the input itself (x.csv
  // given in the current directory) that would destroy the data.
  std::unique_ptr<CsvExporter> exporter;
  if (!sameFile(input, output.c_str())) {
    exporter = createCsvExporter(file->configuration(), output.c_str(), true);
  }
  if (exporter == nullptr) {
    std::fprintf(err, "%s: Can not create output file '%s'\n", program, output.c_str());
    (void)closeDataFile(*file);
    return false;
  }
  std::fprintf(out, "%s: in=%s, out=%s\n", program, input, output.c_str());
  std::fflush(out);

  while (RecordRef record = readNextRecord(*file)) {
    // The result only repeats what finishCsvExporter reports at the end.
    (void)exportRecord(*exporter, record.get());
  }
  const bool written = finishCsvExporter(*exporter);
  exporter.reset();
  (void)closeDataFile(*file);
  if (!written) {
    std::fprintf(err, "%s: Can not write output file '%s'\n", program, output.c_str());
    // A CSV cut short would pass for a whole one: it goes. What is not a
    // file of ours (a device, as /dev/full) stays.
    FileStatus status;
    if (fileStatus(output.c_str(), status) && status.regular) (void)removeFile(output.c_str());
  }
  return written;
}

}  // namespace

int runConverter(int argc, char** argv, std::FILE* out, std::FILE* err) {
  if (argc <= 1) return 0;
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    if (!convertFile(argv[0], argv[i], out, err)) status = 1;
  }
  return status;
}

}  // namespace cdt
