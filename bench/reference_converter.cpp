// cdt2csv_reference INPUT OUTPUT: the straightforward converter the benchmark
// measures cdt2csv against. It reads with the same library reader and writes
// every cell with its own fprintf call into a plainly buffered stdio stream,
// the printf formats of the CSV layout as they stand: "%.8g" for RMS, DNS
// mean, DNS and TOA, "%.6g" for the speed, "%05.2f" for the seconds. It makes
// the same decisions as the exporter where the layout leaves them open (the
// time rounded to hundredths before the calendar split, clamped blade counts,
// empty cells past a short record, quoted names, the last open group written
// at the end), so that both outputs must be byte-identical.
#include <time.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "datafile/data_file.h"

namespace {

using cdt::DataRecord;
using cdt::kChannelsPerHost;
using cdt::Probe;
using cdt::RecordRef;

struct Reference {
  std::FILE* out = nullptr;
  const cdt::Configuration* configuration = nullptr;
  const Probe* probes[kChannelsPerHost] = {};
  uint32_t blades[kChannelsPerHost] = {};
  RecordRef first;
  RecordRef slots[kChannelsPerHost];
  uint32_t hostIndex = 0;
  bool headerWritten = false;
};

std::string headerName(std::string_view name, const char* suffix) {
  std::string cell = std::string(name) + suffix;
  if (name.find_first_of(",\"\r\n") == std::string_view::npos) return cell;
  std::string quoted = "\"";
  for (char c : cell) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

void writeHeader(Reference& r) {
  const auto& hosts = r.configuration->hosts;
  const cdt::Host* host = r.hostIndex < hosts.size() ? &hosts[r.hostIndex] : nullptr;
  std::fprintf(r.out, "Time,Speed,Sync,Start Rev,End Rev");
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    const Probe* probe = host != nullptr ? host->channels[slot].probe : nullptr;
    r.probes[slot] = probe;
    if (probe == nullptr) continue;
    const int32_t stageBlades = probe->stage != nullptr ? probe->stage->blades : 0;
    r.blades[slot] = static_cast<uint32_t>(std::clamp(stageBlades, 0, 65535));
    const std::string_view name = probe->name.view();
    std::fprintf(r.out, ",%s", headerName(name, " RMS").c_str());
    std::fprintf(r.out, ",%s", headerName(name, " DNS").c_str());
    for (uint32_t j = 1; j <= r.blades[slot]; ++j) {
      std::fprintf(r.out, ",%s",
                   headerName(name, (" Blade" + std::to_string(j) + " DNS").c_str()).c_str());
    }
    for (uint32_t j = 1; j <= r.blades[slot]; ++j) {
      std::fprintf(r.out, ",%s",
                   headerName(name, (" Blade" + std::to_string(j) + " TOA").c_str()).c_str());
    }
  }
  std::fprintf(r.out, "\n");
}

void writeProbeCells(Reference& r, uint32_t slot) {
  if (r.probes[slot] == nullptr) return;
  const uint32_t blades = r.blades[slot];
  const DataRecord* record = r.slots[slot].get();
  if (record == nullptr) {
    for (uint32_t i = 0; i < 2 + 2 * blades; ++i) std::fprintf(r.out, ",");
    return;
  }
  const uint32_t used = std::min(blades, cdt::bladeEntryCapacity(*record));
  double sum = 0;
  for (uint32_t j = 0; j < used; ++j) sum += cdt::bladeDns(*record, j);
  std::fprintf(r.out, ",%.8g", static_cast<double>(cdt::bladeRms(*record)));
  if (used > 0) {
    std::fprintf(r.out, ",%.8g", sum / used);
  } else {
    std::fprintf(r.out, ",");
  }
  for (uint32_t j = 0; j < used; ++j) {
    std::fprintf(r.out, ",%.8g", static_cast<double>(cdt::bladeDns(*record, j)));
  }
  for (uint32_t j = used; j < blades; ++j) std::fprintf(r.out, ",");
  for (uint32_t j = 0; j < used; ++j) {
    std::fprintf(r.out, ",%.8g", static_cast<double>(cdt::bladeToa(*record, j)));
  }
  for (uint32_t j = used; j < blades; ++j) std::fprintf(r.out, ",");
}

void writeLine(Reference& r) {
  const DataRecord& first = *r.first;
  const uint64_t hundredths = first.time() / 10000 + (first.time() % 10000 >= 5000 ? 1 : 0);
  const auto seconds = static_cast<time_t>(hundredths / 100);
  struct tm t {};
  gmtime_r(&seconds, &t);
  const double second = t.tm_sec + static_cast<double>(hundredths % 100) / 100;
  std::fprintf(r.out, "%04lld-%02d-%02d %02d:%02d:%05.2f", static_cast<long long>(t.tm_year) + 1900,
               t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, second);
  std::fprintf(r.out, ",%.6g,%s,%" PRIu64, static_cast<double>(cdt::bladeSpeed(first)),
               cdt::bladeSync(first) != 0 ? "Yes" : "No", cdt::bladeStartRevolution(first));
  std::fprintf(r.out, ",%" PRIu64,
               cdt::isRevolutionRange(first) ? cdt::bladeEndRevolution(first)
                                             : cdt::bladeStartRevolution(first));
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) writeProbeCells(r, slot);
  std::fprintf(r.out, "\n");
}

void closeGroup(Reference& r) {
  if (!r.headerWritten) {
    writeHeader(r);
    r.headerWritten = true;
  }
  writeLine(r);
}

void exportRecord(Reference& r, DataRecord* record) {
  if (!cdt::hasBladeLayout(*record) || cdt::bladeChannel(*record) >= kChannelsPerHost) return;
  const uint32_t channel = cdt::bladeChannel(*record);
  if (!r.first) {
    r.hostIndex = record->hostIndex();
    r.first = RecordRef::share(record);
  } else if (r.slots[channel]) {
    closeGroup(r);
    r.first = RecordRef::share(record);
    for (RecordRef& slot : r.slots) slot.reset();
  }
  r.slots[channel] = RecordRef::share(record);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s INPUT OUTPUT\n", argv[0]);
    return 2;
  }
  std::unique_ptr<cdt::DataFile> file = cdt::openDataFile(argv[1]);
  if (file == nullptr) {
    std::fprintf(stderr, "%s: Can not open input file '%s'\n", argv[0], argv[1]);
    return 1;
  }
  Reference r;
  r.configuration = &file->configuration();
  r.out = std::fopen(argv[2], "w");
  if (r.out == nullptr) {
    std::fprintf(stderr, "%s: Can not create output file '%s'\n", argv[0], argv[2]);
    return 1;
  }
  while (RecordRef record = cdt::readNextRecord(*file)) exportRecord(r, record.get());
  if (r.first) closeGroup(r);
  const bool written = std::fflush(r.out) == 0 && std::ferror(r.out) == 0;
  const bool closed = std::fclose(r.out) == 0;
  if (!written || !closed) {
    std::fprintf(stderr, "%s: Can not write output file '%s'\n", argv[0], argv[2]);
    return 1;
  }
  return 0;
}
