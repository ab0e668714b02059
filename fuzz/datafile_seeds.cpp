// Writes the data-file seeds that cdt synth cannot make, each a copy of a
// recording with other names:
//  - QUOTED: the first two probes have names that the CSV header must quote
//    (a comma and quotes, a line break), so that the fuzzer starts from files
//    that reach the quoting of header cells;
//  - NAMES: names of bytes as installations write them: the windows-1252
//    bytes of letters outside ASCII, valid UTF-8, a cut UTF-8 sequence,
//    duplicate probe names, and one that needs quoting as well, so that the
//    fuzzer starts from files that reach the decoding of names.
//
//   datafile_seeds IN.cdt QUOTED.cdt NAMES.cdt    (IN with four probes, two stages)
#include <cstdio>
#include <functional>
#include <memory>

#include "config/model.h"
#include "datafile/data_file.h"

namespace {

using namespace cdt;

// Copies every record of `in` into `out` under the configuration `rename`
// makes of `in`'s.
bool writeRenamed(const char* in, const char* out,
                  const std::function<void(Configuration&)>& rename) {
  std::unique_ptr<DataFile> input = openDataFile(in);
  if (input == nullptr) {
    std::fprintf(stderr, "datafile_seeds: cannot read %s\n", in);
    return false;
  }
  Configuration configuration = input->configuration();
  rename(configuration);
  std::unique_ptr<DataFile> output = createDataFile(configuration, out);
  bool ok = output != nullptr;
  while (ok) {
    const RecordRef record = readNextRecord(*input);
    if (!record) break;
    ok = writeRecord(*output, *record);
  }
  ok = output != nullptr && closeDataFile(*output) && ok;
  (void)closeDataFile(*input);
  if (!ok) std::fprintf(stderr, "datafile_seeds: cannot write %s\n", out);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s IN.cdt QUOTED.cdt NAMES.cdt\n", argv[0]);
    return 2;
  }
  bool ok = writeRenamed(argv[1], argv[2], [](Configuration& c) {
    c.setProbeName(0, "Probe, \"A\"");
    c.setProbeName(1, "Probe\nB");
  });
  ok = writeRenamed(argv[1], argv[3],
                    [](Configuration& c) {
                      // Assigned, not set: setName would stamp the times with
                      // the clock, and the seeds must not change from run to run.
                      c.name =
                          "Pr\xfc"
                          "fstand";
                      c.fullName =
                          "\xce\xa9mega \xe2\x80\x93 Pr\xc3\xbc"
                          "fstand";
                      c.setStageName(0, "Stufe \xe4");
                      c.setStageName(1, "Stage \xc3");
                      c.setHostName(0, "Daq\xb9");
                      c.setRackName(0, "Gestell \xa7");
                      c.setProbeName(0,
                                     "Sonde S\xfc"
                                     "d");
                      c.setProbeName(1, "Same");
                      c.setProbeName(2, "Same");
                      c.setProbeName(3, "\x93q\x94,\r\n\"\x80\"");
                    }) &&
       ok;
  return ok ? 0 : 1;
}
