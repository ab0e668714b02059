#include "csv/csv_exporter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "csv/csv_header.h"
#include "csv/line_pipeline.h"
#include "csv/number_format.h"
#include "datafile/file_names.h"
#include "foundation/file_system.h"
#include "foundation/time_value.h"

namespace cdt {

namespace {

// Room of the header buffer; a longer header is written in pieces.
constexpr std::size_t kPendingSize = 64 * 1024;

// Notes a failed call on the stream; the first one's errno is kept.
void noteFailure(CsvExporter& e) {
  if (!e.writeFailed && e.writeError == 0) e.writeError = errno;
  e.writeFailed = true;
}

void flushPending(CsvExporter& e) {
  if (e.pendingLength == 0) return;
  errno = 0;
  if (e.stream == nullptr ||
      std::fwrite(e.pending.get(), 1, e.pendingLength, e.stream) != e.pendingLength) {
    noteFailure(e);
  }
  e.pendingLength = 0;
}

void put(CsvExporter& e, std::string_view text) {
  if (text.empty()) return;
  if (e.pendingLength + text.size() > kPendingSize) {
    flushPending(e);
    if (text.size() > kPendingSize) {
      errno = 0;
      if (e.stream == nullptr ||
          std::fwrite(text.data(), 1, text.size(), e.stream) != text.size()) {
        noteFailure(e);
      }
      return;
    }
  }
  std::memcpy(e.pending.get() + e.pendingLength, text.data(), text.size());
  e.pendingLength += text.size();
}

void writeCsvHeader(CsvExporter& e) {
  const HostColumns columns =
      hostColumns(*e.configuration, e.groups.hostIndex(), e.withTimeOfArrival);
  e.layout = columns.layout;
  std::string_view names[kChannelsPerHost];
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    e.channelProbes[slot] = columns.probes[slot];
    if (columns.probes[slot] != nullptr) names[slot] = columns.probes[slot]->name.view();
  }
  writeCsvHeader(planAllColumns(e.layout), names, TextLayout::Wide,
                 [&e](std::string_view text) { put(e, text); });
  // The lines go to the stream past the header's buffer.
  flushPending(e);
  if (e.stream != nullptr) {
    e.lines = std::make_unique<LinePipeline>(e.stream, e.layout, LinePipeline::defaultWorkers());
  }
}

// Copies the group's values into the pipeline; the records can go after.
void writeCsvLine(CsvExporter& e, const LineGroup& group) {
  if (!e.headerWritten) {
    writeCsvHeader(e);
    e.headerWritten = true;
  }
  // Without a stream (finished, or never opened) there is nowhere to write.
  if (e.lines == nullptr || e.stream == nullptr) {
    e.writeFailed = true;
    return;
  }
  const std::size_t size = encodedLineSize(e.layout, group);
  e.lines->commitLine(encodeLine(e.lines->lineRoom(size), e.layout, group));
}

int streamStatus(const CsvExporter& e) {
  return e.writeFailed || (e.lines != nullptr && !e.lines->ok()) ? 0 : 1;
}

}  // namespace

CsvExporter::CsvExporter() = default;

CsvExporter::~CsvExporter() {
  // The pipeline's workers write to the stream until it is finished.
  lines.reset();
  if (stream != nullptr) std::fclose(stream);
}

std::unique_ptr<CsvExporter> createCsvExporter(const Configuration& configuration, const char* path,
                                               bool withTimeOfArrival) {
  if (path == nullptr) return nullptr;
  return createCsvExporterOnStream(configuration, openFile(path, "w"), withTimeOfArrival);
}

std::unique_ptr<CsvExporter> createCsvExporterOnStream(const Configuration& configuration,
                                                       std::FILE* stream, bool withTimeOfArrival) {
  if (stream == nullptr) return nullptr;
  auto exporter = std::make_unique<CsvExporter>();
  exporter->stream = stream;
  exporter->configuration = &configuration;
  exporter->withTimeOfArrival = withTimeOfArrival;
  // Only bytes written into the buffer are ever read from it; clearing it for
  // every file would cost more than converting a small one.
  exporter->pending = std::make_unique_for_overwrite<char[]>(kPendingSize);
  // Every write is a large block from the exporter's own buffers already: a
  // stream buffer would only add a copy.
  (void)std::setvbuf(stream, nullptr, _IONBF, 0);
  return exporter;
}

std::unique_ptr<CsvExporter> createTimestampedCsvExporter(const Configuration& configuration,
                                                          const char* directory,
                                                          const char* baseName, uint64_t time,
                                                          bool withTimeOfArrival) {
  const CountedString path = timestampedPath(directory, baseName, time, ".csv");
  return createCsvExporter(configuration, path.c_str(), withTimeOfArrival);
}

int exportRecord(CsvExporter& e, DataRecord* record) {
  if (record == nullptr || !isLineRecord(*record)) return 1;
  e.groups.add(record, [&e](const LineGroup& group, uint64_t) { writeCsvLine(e, group); });
  return streamStatus(e);
}

int flushCsvExporter(CsvExporter& e) {
  flushPending(e);
  if (e.lines != nullptr) e.lines->flush();
  errno = 0;
  if (e.stream != nullptr && std::fflush(e.stream) != 0) noteFailure(e);
  return streamStatus(e);
}

bool finishCsvExporter(CsvExporter& e) {
  // A file whose records never repeat a channel still gets its one line.
  if (e.stream != nullptr) {
    e.groups.finish([&e](const LineGroup& group, uint64_t) { writeCsvLine(e, group); });
  }
  flushPending(e);
  if (e.lines != nullptr && !e.lines->finish()) {
    if (!e.writeFailed) e.writeError = e.lines->writeError();
    e.writeFailed = true;
  }
  if (e.stream != nullptr) {
    errno = 0;
    if (std::fflush(e.stream) != 0 || std::ferror(e.stream) != 0) noteFailure(e);
    errno = 0;
    if (std::fclose(e.stream) != 0) noteFailure(e);
    e.stream = nullptr;
  }
  e.groups.clear();
  return !e.writeFailed;
}

}  // namespace cdt
