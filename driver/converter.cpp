#include "driver/converter.h"

#include <cstring>

#include "csv/csv_exporter.h"
#include "datafile/data_file.h"
#include "foundation/file_system.h"
#include "foundation/paths.h"

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
  }
  return written;
}

}  // namespace

CountedString outputPathFor(const char* inputPath) {
  const char* path = inputPath != nullptr ? inputPath : "";
  // The extension runs from the path's last dot; a dot in a directory name
  // leaves text with a separator in it, which the final component cannot end
  // with, so nothing is cut then.
  const TextBuffer base = pathBaseName(TextBuffer(std::string_view(path)), std::strrchr(path, '.'));
  CountedString output(base.text, base.length);
  output.append(".csv");
  return output;
}

int runConverter(int argc, char** argv, std::FILE* out, std::FILE* err) {
  if (argc <= 1) return 0;
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    if (!convertFile(argv[0], argv[i], out, err)) status = 1;
  }
  return status;
}

}  // namespace cdt
