#include "csv/csv_exporter.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "csv/number_format.h"
#include "foundation/time_value.h"

namespace cdt {

namespace {

// Room of the line buffer; a line longer than this is written in pieces.
constexpr std::size_t kPendingSize = 64 * 1024;
// The stream's buffer: large writes go to the file in few system calls.
constexpr std::size_t kStreamBufferSize = 1024 * 1024;
// Room that one cell of any kind needs: a separator and the longest number.
constexpr std::size_t kCellRoom = 1 + kMaxTimeCellLength;
static_assert(kMaxTimeCellLength >= kMaxG8Length && kMaxTimeCellLength >= kMaxU64Length);

constexpr uint32_t kMaxBlades = 65535;

void flushPending(CsvExporter& e) {
  if (e.pendingLength == 0) return;
  if (e.stream == nullptr ||
      std::fwrite(e.pending.get(), 1, e.pendingLength, e.stream) != e.pendingLength) {
    e.writeFailed = true;
  }
  e.pendingLength = 0;
}

// Space for `n` more bytes (n at most kPendingSize) at the end of the line.
char* reserve(CsvExporter& e, std::size_t n) {
  if (e.pendingLength + n > kPendingSize) flushPending(e);
  return e.pending.get() + e.pendingLength;
}

void commit(CsvExporter& e, const char* end) {
  e.pendingLength = static_cast<std::size_t>(end - e.pending.get());
}

void put(CsvExporter& e, std::string_view text) {
  if (text.empty()) return;
  if (e.pendingLength + text.size() > kPendingSize) {
    flushPending(e);
    if (text.size() > kPendingSize) {
      if (e.stream == nullptr ||
          std::fwrite(text.data(), 1, text.size(), e.stream) != text.size()) {
        e.writeFailed = true;
      }
      return;
    }
  }
  std::memcpy(e.pending.get() + e.pendingLength, text.data(), text.size());
  e.pendingLength += text.size();
}

void putRepeated(CsvExporter& e, char c, std::size_t n) {
  while (n > 0) {
    if (e.pendingLength == kPendingSize) flushPending(e);
    const std::size_t piece = std::min(n, kPendingSize - e.pendingLength);
    std::memset(e.pending.get() + e.pendingLength, c, piece);
    e.pendingLength += piece;
    n -= piece;
  }
}

// A probe name that would break the cell structure (a separator, a quote or a
// line end) makes the whole cell one quoted field, quotes doubled inside.
bool needsQuoting(std::string_view name) {
  return name.find_first_of(",\"\r\n") != std::string_view::npos;
}

void putHeaderCell(CsvExporter& e, std::string_view name, std::string_view middle, uint32_t number,
                   std::string_view tail) {
  char digits[kMaxU64Length];
  const std::string_view numberText =
      number != 0 ? std::string_view(digits, formatU64(digits, number) - digits)
                  : std::string_view();
  if (!needsQuoting(name)) {
    put(e, ",");
    put(e, name);
    put(e, middle);
    put(e, numberText);
    put(e, tail);
    return;
  }
  std::string cell = ",\"";
  for (char c : name) {
    if (c == '"') cell += '"';
    cell += c;
  }
  cell.append(middle).append(numberText).append(tail).append("\"");
  put(e, cell);
}

uint32_t stageBlades(const Probe& probe) {
  if (probe.stage == nullptr || probe.stage->blades < 0) return 0;
  return std::min(static_cast<uint32_t>(probe.stage->blades), kMaxBlades);
}

bool isAcceptedRecord(const DataRecord& record) {
  return hasBladeLayout(record) && bladeChannel(record) < kChannelsPerHost;
}

void writeCsvHeader(CsvExporter& e) {
  const Configuration& configuration = *e.configuration;
  const Host* host =
      e.hostIndex < configuration.hosts.size() ? &configuration.hosts[e.hostIndex] : nullptr;
  put(e, "Time,Speed,Sync,Start Rev,End Rev");
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    const Probe* probe = host != nullptr ? host->channels[slot].probe : nullptr;
    e.channelProbes[slot] = probe;
    e.channelBlades[slot] = probe != nullptr ? stageBlades(*probe) : 0;
    if (probe == nullptr) continue;
    const std::string_view name = probe->name.view();
    const uint32_t blades = e.channelBlades[slot];
    putHeaderCell(e, name, " RMS", 0, "");
    putHeaderCell(e, name, " DNS", 0, "");
    for (uint32_t j = 1; j <= blades; ++j) putHeaderCell(e, name, " Blade", j, " DNS");
    if (e.withTimeOfArrival) {
      for (uint32_t j = 1; j <= blades; ++j) putHeaderCell(e, name, " Blade", j, " TOA");
    }
  }
  put(e, "\n");
}

void writeProbeCells(CsvExporter& e, uint32_t slot) {
  if (e.channelProbes[slot] == nullptr) return;
  const uint32_t blades = e.channelBlades[slot];
  const uint32_t perBlade = e.withTimeOfArrival ? 2 : 1;
  const DataRecord* record = e.slotRecords[slot].get();
  if (record == nullptr) {
    putRepeated(e, ',', 2 + std::size_t{blades} * perBlade);
    return;
  }

  // A record may hold fewer entries than the stage has blades; the missing
  // cells stay empty rather than reading past the record.
  const uint32_t used = std::min(blades, bladeEntryCapacity(*record));
  double sum = 0;
  for (uint32_t j = 0; j < used; ++j) sum += bladeDns(*record, j);

  char* out = reserve(e, 2 * kCellRoom);
  *out++ = ',';
  out = formatG8(out, bladeRms(*record));
  *out++ = ',';
  if (used > 0) out = formatDoubleG8(out, sum / used);
  commit(e, out);

  for (uint32_t j = 0; j < used; ++j) {
    out = reserve(e, kCellRoom);
    *out++ = ',';
    commit(e, formatG8(out, bladeDns(*record, j)));
  }
  putRepeated(e, ',', blades - used);
  if (e.withTimeOfArrival) {
    for (uint32_t j = 0; j < used; ++j) {
      out = reserve(e, kCellRoom);
      *out++ = ',';
      commit(e, formatG8(out, bladeToa(*record, j)));
    }
    putRepeated(e, ',', blades - used);
  }
}

void writeCsvLine(CsvExporter& e) {
  const DataRecord& first = *e.currentRecord;
  char* out = reserve(e, 5 * kCellRoom);
  out = formatTimeCell(out, first.time());
  *out++ = ',';
  out = formatG6(out, bladeSpeed(first));
  const std::string_view sync = bladeSync(first) != 0 ? ",Yes," : ",No,";
  std::memcpy(out, sync.data(), sync.size());
  out += sync.size();
  const uint64_t start = bladeStartRevolution(first);
  out = formatU64(out, start);
  *out++ = ',';
  out = formatU64(out, isRevolutionRange(first) ? bladeEndRevolution(first) : start);
  commit(e, out);
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) writeProbeCells(e, slot);
  put(e, "\n");
  flushPending(e);
}

int streamStatus(const CsvExporter& e) {
  return e.writeFailed || (e.stream != nullptr && std::ferror(e.stream) != 0) ? 0 : 1;
}

}  // namespace

CsvExporter::~CsvExporter() {
  if (stream != nullptr) std::fclose(stream);
}

std::unique_ptr<CsvExporter> createCsvExporter(const Configuration& configuration, const char* path,
                                               bool withTimeOfArrival) {
  if (path == nullptr) return nullptr;
  std::FILE* stream = std::fopen(path, "w");
  if (stream == nullptr) return nullptr;
  auto exporter = std::make_unique<CsvExporter>();
  exporter->stream = stream;
  exporter->configuration = &configuration;
  exporter->withTimeOfArrival = withTimeOfArrival;
  // Only bytes written into the buffers are ever read from them; clearing a
  // megabyte for every file would cost more than converting a small one.
  exporter->pending = std::make_unique_for_overwrite<char[]>(kPendingSize);
  exporter->streamBuffer = std::make_unique_for_overwrite<char[]>(kStreamBufferSize);
  // Without the larger buffer the stream still works, with its default one.
  (void)std::setvbuf(stream, exporter->streamBuffer.get(), _IOFBF, kStreamBufferSize);
  return exporter;
}

std::unique_ptr<CsvExporter> createTimestampedCsvExporter(const Configuration& configuration,
                                                          const char* directory,
                                                          const char* baseName, uint64_t time,
                                                          bool withTimeOfArrival) {
  const TimeStamp t = timeStampOf(time);
  const char* format = "%s/%s.%04d-%02d-%02d.%02d-%02d-%02d.csv";
  const char* dir = directory != nullptr ? directory : "";
  const char* base = baseName != nullptr ? baseName : "";
  const int n = std::snprintf(nullptr, 0, format, dir, base, t.year, t.month, t.day, t.hour,
                              t.minute, t.second);
  if (n < 0) return nullptr;
  std::string path(static_cast<std::size_t>(n), '\0');
  std::snprintf(path.data(), path.size() + 1, format, dir, base, t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return createCsvExporter(configuration, path.c_str(), withTimeOfArrival);
}

int exportRecord(CsvExporter& e, DataRecord* record) {
  if (record == nullptr || !isAcceptedRecord(*record)) return 1;
  const uint32_t channel = bladeChannel(*record);
  if (!e.currentRecord) {
    e.hostIndex = record->hostIndex();
    e.currentRecord = RecordRef::share(record);
  } else if (e.slotRecords[channel]) {
    // The slot is taken: the group is complete and this record opens the next.
    if (!e.headerWritten) {
      writeCsvHeader(e);
      e.headerWritten = true;
    }
    writeCsvLine(e);
    e.currentRecord = RecordRef::share(record);
    for (RecordRef& slotRecord : e.slotRecords) slotRecord.reset();
  }
  e.slotRecords[channel] = RecordRef::share(record);
  return streamStatus(e);
}

bool finishCsvExporter(CsvExporter& e) {
  if (e.currentRecord && e.stream != nullptr) {
    // A file whose records never repeat a channel still gets its one line.
    if (!e.headerWritten) {
      writeCsvHeader(e);
      e.headerWritten = true;
    }
    writeCsvLine(e);
  }
  flushPending(e);
  bool ok = !e.writeFailed;
  if (e.stream != nullptr) {
    if (std::fflush(e.stream) != 0 || std::ferror(e.stream) != 0) ok = false;
    if (std::fclose(e.stream) != 0) ok = false;
    e.stream = nullptr;
  }
  for (uint32_t slot = kChannelsPerHost; slot-- > 0;) e.slotRecords[slot].reset();
  e.currentRecord.reset();
  e.writeFailed = !ok;
  return ok;
}

}  // namespace cdt
