// Reads arbitrary bytes as a configuration text, then checks that whatever
// was read writes a text that reads back and writes the same text again.
// The names of the configuration are whatever bytes the text's strings hold
// (escapes reach every byte), so they also go through the checks of names
// (fuzz/name_checks.h): each decodes into Unicode without loss, and the CSV
// header of host 0, decoded cell by cell, gives the decoded probe names'
// columns. Selections of its probes resolve by the rules every view shares.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "config/config_text.h"
#include "config/model.h"
#include "csv/csv_exporter.h"
#include "datafile/record_constructors.h"
#include "fuzz/name_checks.h"

namespace {

// Thousands of racks are valid but take the reader a large part of a second
// under the sanitizers and write tens of megabytes of text; inputs whose
// count lines ask for more than a few entities are skipped, since small
// structures run the same code many times faster.
constexpr unsigned long kMaxEntities = 32;

bool asksForManyEntities(std::string_view text) {
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == text.size() ? end : end + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    for (std::string_view key : {"numStages = ", "numHosts = ", "numRacks = "}) {
      if (line.substr(0, key.size()) != key) continue;
      const std::string number(line.substr(line.find_last_of(' ') + 1));
      const unsigned long n = std::strtoul(number.c_str(), nullptr, 10);
      if (n > kMaxEntities && n <= 4095) return true;
    }
  }
  return false;
}

ssize_t appendToText(void* cookie, const char* bytes, size_t n) {
  static_cast<std::string*>(cookie)->append(bytes, n);
  return static_cast<ssize_t>(n);
}

// The header the converter writes for host 0: two records of channel 0, the
// second closing the first's group, make it come out.
void checkCsvHeader(const cdt::Configuration& configuration) {
  using namespace cdt;
  const HostColumns columns = hostColumns(configuration, 0, true);
  uint64_t bladeColumns = 0;
  for (uint32_t blades : columns.layout.blades) bladeColumns += blades;
  if (bladeColumns > fuzzing::kMaxCheckedBladeColumns) return;
  std::string text;
  cookie_io_functions_t functions{};
  functions.write = appendToText;
  std::FILE* stream = fopencookie(&text, "w", functions);
  if (stream == nullptr) std::abort();
  const std::unique_ptr<CsvExporter> exporter =
      createCsvExporterOnStream(configuration, stream, true);
  for (uint64_t time : {1, 2}) {
    const RecordRef record = newBladeRecord(0, 1);
    record->setTime(time);
    if (exportRecord(*exporter, record.get()) != 1) std::abort();
  }
  if (!finishCsvExporter(*exporter)) std::abort();
  fuzzing::checkHeaderDecodes(text, exporter->channelProbes, exporter->layout, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cdt;
  if (size > UINT32_MAX) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (asksForManyEntities(bytes)) return 0;

  Configuration configuration;
  Tokenizer input(bytes.data(), static_cast<uint32_t>(size));
  parseConfigText(configuration, input);

  const CountedString text = configToText(configuration, 0);
  Configuration again;
  Tokenizer written(text.c_str(), text.length());
  if (!parseConfigText(again, written)) std::abort();
  if (!(configToText(again, 0) == text)) std::abort();

  fuzzing::checkConfigurationNames(configuration);
  checkCsvHeader(configuration);
  fuzzing::checkSelection(configuration);
  return 0;
}
