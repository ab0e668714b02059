// Writes a data-file seed that cdt synth cannot make: a copy of a recording
// whose first two probes have names that the CSV header must quote (a comma
// and quotes, a line break), so that the fuzzer starts from files that reach
// the quoting of header cells.
//
//   datafile_seeds IN.cdt OUT.cdt
#include <cstdio>
#include <memory>

#include "config/model.h"
#include "datafile/data_file.h"

int main(int argc, char** argv) {
  using namespace cdt;
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s IN.cdt OUT.cdt\n", argv[0]);
    return 2;
  }
  std::unique_ptr<DataFile> in = openDataFile(argv[1]);
  if (in == nullptr) {
    std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
    return 1;
  }
  Configuration configuration = in->configuration();
  configuration.setProbeName(0, "Probe, \"A\"");
  configuration.setProbeName(1, "Probe\nB");

  std::unique_ptr<DataFile> out = createDataFile(configuration, argv[2]);
  bool ok = out != nullptr;
  while (ok) {
    const RecordRef record = readNextRecord(*in);
    if (!record) break;
    ok = writeRecord(*out, *record);
  }
  ok = out != nullptr && closeDataFile(*out) && ok;
  (void)closeDataFile(*in);
  if (!ok) std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
  return ok ? 0 : 1;
}
