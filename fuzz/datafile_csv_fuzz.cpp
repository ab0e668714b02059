// Reads arbitrary bytes as a data file and converts it as cdt2csv does: open,
// every record through a CsvExporter, finish. The CSV goes to a stream that
// checks it as it is written: every line ends with "\n" and has the header's
// number of cells, quoted cells as RFC 4180 has them. The records also go
// through the aggregation (accumulateRecord, packProfile, expandProfile),
// which must never change a record someone else holds, and reading resumes
// from index entries (seekToIndexEntry). Window reads (seekToTime) must give
// exactly the records of a read from the start whatever the index says: the
// same records at or after the window's start, and the same stop; a seek that
// jumps near its entry must give them wherever a walk from the start confirms
// that entry (what the jump trusts holds), and never fault. A header
// without a usable index is read again in salvage mode, as cdt recover does.
// The names of the configuration decode without loss, and the CSV header,
// decoded cell by cell, gives the decoded probe names' columns
// (fuzz/name_checks.h).
//
// The bytes are written to one scratch file (fuzz/scratch_input.h).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "csv/csv_exporter.h"
#include "datafile/aggregation.h"
#include "datafile/data_file.h"
#include "datafile/data_record.h"
#include "datafile/index_walk.h"
#include "datafile/walk_checkpoints.h"
#include "fuzz/name_checks.h"
#include "fuzz/scratch_input.h"

namespace {

using namespace cdt;

void check(bool condition) {
  if (!condition) std::abort();
}

// --- The CSV check -----------------------------------------------------------------

// Follows the CSV as the exporter writes it, in whatever pieces stdio hands
// over, and keeps no more than its state. A small file can make a CSV of
// hundreds of megabytes (thousands of blade columns on every line), so the
// check is kept out of the coverage instrumentation, which would make it the
// slowest part of the run.
struct CsvChecker {
  enum class Cell { Start, Plain, Quoted, AfterQuote };
  Cell cell = Cell::Start;
  uint64_t cells = 1;  // in the current line
  uint64_t headerCells = 0;
  uint64_t lines = 0;
  bool midLine = false;
  // The header line's bytes, up to kMaxHeader; headerCut when it is longer.
  static constexpr size_t kMaxHeader = size_t{1} << 20;
  std::string header;
  bool headerCut = false;

  __attribute__((no_sanitize("coverage"))) void endLine() {
    if (lines == 0) {
      headerCells = cells;
    } else {
      check(cells == headerCells);
    }
    ++lines;
    cells = 1;
    cell = Cell::Start;
    midLine = false;
  }

  __attribute__((no_sanitize("coverage"))) void take(const char* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      const char c = bytes[i];
      midLine = true;
      if (lines == 0) {
        if (header.size() < kMaxHeader) {
          header += c;
        } else {
          headerCut = true;
        }
      }
      switch (cell) {
        case Cell::Quoted:
          if (c == '"') cell = Cell::AfterQuote;
          continue;
        case Cell::AfterQuote:
          // A doubled quote inside, or the end of the cell.
          check(c == '"' || c == ',' || c == '\n');
          if (c == '"') {
            cell = Cell::Quoted;
            continue;
          }
          break;
        case Cell::Start:
          if (c == '"') {
            cell = Cell::Quoted;
            continue;
          }
          break;
        case Cell::Plain:
          check(c != '"');
          break;
      }
      // Outside quotes: no bare carriage return, commas and line ends split.
      check(c != '\r');
      if (c == ',') {
        ++cells;
        cell = Cell::Start;
      } else if (c == '\n') {
        endLine();
      } else {
        cell = Cell::Plain;
      }
    }
  }

  void finish() const { check(!midLine && cell == Cell::Start); }
};

__attribute__((no_sanitize("coverage"))) ssize_t checkerWrite(void* cookie, const char* bytes,
                                                              size_t n) {
  static_cast<CsvChecker*>(cookie)->take(bytes, n);
  return static_cast<ssize_t>(n);
}

// The exporter is made as cdt2csv makes it, then writes into the checker
// instead of its file.
std::unique_ptr<CsvExporter> checkedExporter(const Configuration& configuration,
                                             CsvChecker& checker) {
  std::unique_ptr<CsvExporter> exporter = createCsvExporter(configuration, "/dev/null", true);
  check(exporter != nullptr);
  check(std::fclose(exporter->stream) == 0);
  static char buffer[1 << 16];
  cookie_io_functions_t functions{};
  functions.write = checkerWrite;
  exporter->stream = fopencookie(&checker, "w", functions);
  check(exporter->stream != nullptr);
  check(std::setvbuf(exporter->stream, buffer, _IOFBF, sizeof buffer) == 0);
  return exporter;
}

// --- The records ---------------------------------------------------------------------

uint64_t digest(const DataRecord& record) {
  uint64_t h = 14695981039346656037u;
  const unsigned char* bytes = record.fileBytes();
  for (uint32_t i = 0; i < record.fileSize(); ++i) h = (h ^ bytes[i]) * 1099511628211u;
  return h;
}

// A record as the reader must hand it out: a known type, a size that is a
// multiple of 4 with a body, and its one reference for the caller.
void checkRecord(const DataRecord& record) {
  check(record.type() < kRecordTypeCount);
  check(record.size() % 4 == 0 && record.size() > kMinRecordSize);
  check(record.referenceCount() == 0);
}

// The aggregation state of one pass: merges go into the accumulators, and
// the record merged last must come out of the next merge unchanged.
struct Aggregation {
  RecordRef blades;
  RecordRef profiles;
  RecordRef previous;
  uint64_t previousDigest = 0;

  void add(const RecordRef& record) {
    DataRecord* r = record.get();
    const RecordRef packed = packProfile(r);
    const RecordRef plain = expandProfile(r);
    if (r->type() == kRecordTypeProfile && hasProfileLayout(*r) && !isPackedProfile(*r)) {
      check(packed.get() != r && packed->size() == kPackedProfileSize && isPackedProfile(*packed));
      const RecordRef again = expandProfile(packed.get());
      check(again->size() == kPlainProfileSize && !isPackedProfile(*again));
      // Packing loses the low bits of the deviations, never a value.
      for (uint32_t k = 0; k < kProfilePointCount; ++k) {
        const uint32_t at = k * kPlainPointSize + kPlainPointValue;
        check(loadI16(profilePoints(*again) + at) == loadI16(profilePoints(*r) + at));
      }
      accumulateRecord(profiles, again.get());
    } else {
      check(packed.get() == r);
    }
    if (plain.get() != r) check(plain->size() == kPlainProfileSize && !isPackedProfile(*plain));

    const uint64_t before = digest(*r);
    if (r->type() == kRecordTypeProfile) {
      accumulateRecord(profiles, r);
    } else {
      accumulateRecord(blades, r);
    }
    check(digest(*r) == before);
    if (previous) check(digest(*previous) == previousDigest);
    previous = record;
    previousDigest = before;
  }
};

// A record as a read from the start met it: its time and where it ended.
struct Seen {
  uint64_t time;
  uint64_t end;
  bool operator==(const Seen&) const = default;
};

// Reading resumes after an index entry: at the first, the middle and the last
// entry a few records are read; entries that do not exist are refused, and an
// entry is only used where a read from the start met a record of its time
// ending at its position.
void checkSeeks(DataFile& file, Aggregation& aggregation, const std::vector<Seen>& all) {
  const uint32_t count = file.indexEntryCount();
  const bool loaded = file.loadIndex();
  if (loaded) check(file.index().size() == count);
  for (uint32_t k : {0u, count / 2, count - 1, count, count + 1, UINT32_MAX}) {
    const DataFileReport before = file.lastReadStatus();
    const bool sought = seekToIndexEntry(file, k);
    if (k >= count) check(!sought);
    if (!sought) {
      check(file.lastReadStatus().status == before.status);
      continue;
    }
    check(loaded && file.lastReadStatus().status == DataFileStatus::Ok);
    const IndexEntry entry = file.index()[k];
    check(std::find(all.begin(), all.end(), Seen{entry.time, entry.position}) != all.end());
    for (int i = 0; i < 3; ++i) {
      const RecordRef record = readNextRecord(file);
      if (!record) break;
      checkRecord(*record);
      aggregation.add(record);
    }
  }
}

// For windows starting at the times around the first, a middle and the last
// record (and at the ends of the range), seekToTime and a read to the end
// keep exactly the records from the start's read at or after the window's
// start, and stop where it stopped, for the same reason.
void checkWindows(const char* path, DataFile& file, const std::vector<Seen>& all,
                  DataFileReport stop, bool jumps) {
  setWalkReading({true, WalkReading{}.viewBytes, jumps ? 0 : UINT64_MAX});
  std::vector<uint64_t> starts = {0, 1, UINT64_MAX};
  if (!all.empty()) {
    for (size_t i : {size_t{0}, all.size() / 2, all.size() - 1}) {
      for (uint64_t delta : {uint64_t{0}, uint64_t{1}}) starts.push_back(all[i].time + delta);
    }
  }
  for (uint64_t start : starts) {
    const WindowSeek seek = seekToTime(file, start);
    check(seek.positioned);
    if (seek.entry) check(!seek.indexDisagrees && *seek.entry < file.indexEntryCount());
    std::vector<Seen> got;
    while (RecordRef record = readNextRecord(file)) {
      checkRecord(*record);
      if (record->time() >= start) got.push_back({record->time(), file.lastReadStatus().offset});
    }
    std::vector<Seen> expected;
    for (const Seen& s : all) {
      if (s.time >= start) expected.push_back(s);
    }
    if (seek.jumped) {
      std::unique_ptr<DataFile> walked = openDataFile(path);
      if (walked == nullptr || !seekToIndexEntry(*walked, *seek.entry)) continue;
    }
    check(got == expected);
    check(file.lastReadStatus().status == stop.status &&
          file.lastReadStatus().offset == stop.offset);
  }
}

// Converts the file and checks everything on the way. Returns whether the
// header has no usable index, so that salvage mode would read differently.
bool convert(const char* path, ReadMode mode) {
  DataFileReport report;
  std::unique_ptr<DataFile> file = openDataFile(path, report, mode);
  if (file == nullptr) {
    check(report.status != DataFileStatus::Ok);
    return report.status == DataFileStatus::IndexReversed ||
           report.status == DataFileStatus::IndexPastEnd;
  }
  check(report.status == DataFileStatus::Ok);

  CsvChecker checker;
  std::unique_ptr<CsvExporter> exporter = checkedExporter(file->configuration(), checker);
  Aggregation aggregation;
  uint64_t position = file->lastReadStatus().offset;
  std::vector<Seen> seen;
  while (RecordRef record = readNextRecord(*file)) {
    checkRecord(*record);
    position += record->fileSize();
    seen.push_back({record->time(), position});
    check(file->lastReadStatus().offset == position && position <= file->recordsEnd());
    check(exportRecord(*exporter, record.get()) == 1);
    aggregation.add(record);
  }
  check(file->lastReadStatus().status != DataFileStatus::Ok);
  check(!readNextRecord(*file));
  check(finishCsvExporter(*exporter));
  checker.finish();
  fuzzing::checkConfigurationNames(file->configuration());
  if (checker.lines > 0 && !checker.headerCut) {
    fuzzing::checkHeaderDecodes(checker.header, exporter->channelProbes, exporter->layout,
                                exporter->withTimeOfArrival);
  }
  exporter.reset();

  const DataFileReport stop = file->lastReadStatus();
  if (stop.status != DataFileStatus::IoError) {
    for (const bool jumps : {false, true}) checkWindows(path, *file, seen, stop, jumps);
  }
  checkSeeks(*file, aggregation, seen);
  check(closeDataFile(*file));
  return file->header().indexOffset == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = cdt::fuzzing::scratchInputPath("cdt-fuzz");
  cdt::fuzzing::writeScratchInput(path, data, size);
  // Grouping states kept by walks of the unit before, whose file had this
  // path, may match this one's size, times and index: start without them.
  cdt::forgetCheckpoints();
  if (convert(path.c_str(), ReadMode::Normal)) {
    (void)convert(path.c_str(), ReadMode::Salvage);
  }
  return 0;
}
