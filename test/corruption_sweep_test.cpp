// Damaged copies of one recording, converted in-process: every truncation
// length, and single-byte changes of the header, of the configuration block's
// structural lines and of the first record headers. Nothing may crash, trip a
// sanitizer or hang; every CSV written must be well-formed (each line ends
// with "\n" and has as many cells as the header, RFC 4180 quoting respected);
// the converter's messages and status must be the decided ones; and a cut
// recording, read as a recovery reads it, must give the lines of the whole
// groups before the cut.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "csv/csv_exporter.h"
#include "csv/csv_test_support.h"
#include "datafile/aggregation.h"
#include "datafile/data_file.h"
#include "datafile/record_constructors.h"
#include "driver/converter.h"
#include "foundation/byte_order.h"
#include "test/converter_test_support.h"
#include "test/csv_shape.h"
#include "test/support.h"

namespace cdt {
namespace {

using testing::addProbes;
using testing::BladeRecordSpec;
using testing::cannotOpen;
using testing::convertedLine;
using testing::ConverterRun;
using testing::csvShape;
using testing::isWellFormedCsv;
using testing::makeBladeRecord;
using testing::readFile;
using testing::runConverterIn;
using testing::TempDir;
using testing::Watchdog;
using testing::writeFile;

constexpr uint64_t kSecond = 1000000;
// 2011-03-15 14:07:09.25 UTC.
constexpr uint64_t kStart = 1300198029250000ull;
constexpr int kRevolutions = 6;
// The cells of each probe in a line: RMS, DNS, then DNS and TOA per blade.
constexpr size_t kProbeCells[] = {2 + 2 * 3, 2 + 2 * 2, 2 + 2 * 1};
constexpr size_t kFixedCells = 5;

// Three probes: "A" (3 blades) on slot 0, one whose name needs quoting in a
// CSV (2 blades) on slot 1, and one with its default name (1 blade) on slot
// 3; slot 2 has none. "A" has calibration points, so the text has calData
// lines.
Configuration sampleConfiguration() {
  Configuration c;
  addProbes(c, {{0, "A", 3}, {1, "B, \"b\"", 2}, {3, "", 1}});
  c.insertCalPoint(0, 0, {0.5, 1.5, 2.5});
  c.insertCalPoint(0, 1, {1.5, 2.5, 3.5});
  return c;
}

RecordRef bladeRecord(int n, uint8_t channel, uint32_t blades, bool range) {
  BladeRecordSpec s;
  s.channel = channel;
  s.time = kStart + static_cast<uint64_t>(n) * kSecond + channel;
  s.speed = 3000.0f + static_cast<float>(n);
  s.sync = n % 4 == 3 ? 0 : 1;
  s.startRevolution = 100 + static_cast<uint64_t>(n);
  s.endRevolution = s.startRevolution + 9;
  s.range = range;
  s.rms = 0.25f * static_cast<float>(n + channel);
  for (uint32_t b = 0; b < blades; ++b) {
    s.blades.push_back({1.5f + static_cast<float>(b + n), 0.125f * static_cast<float>(b + 1)});
  }
  return makeBladeRecord(s);
}

RecordRef stamped(RecordRef record, int n) {
  record->setTime(kStart + static_cast<uint64_t>(n) * kSecond + 7);
  return record;
}

// A packed profile: a plain one with a ramp, packed by the aggregation.
RecordRef packedProfile(int n) {
  RecordRef plain = newProfileRecord(0);
  for (uint32_t i = 0; i < kProfilePointCount; ++i) {
    unsigned char* point = plain->body() + kProfilePoints + i * kPlainPointSize;
    storeU16(point + kPlainPointValue, static_cast<uint16_t>(i));
    storeU16(point + kPlainPointMaximum, static_cast<uint16_t>(i + (i % 7)));
    storeU16(point + kPlainPointMinimum, static_cast<uint16_t>(i - (i % 5)));
  }
  return stamped(packProfile(plain.get()), n);
}

// Per revolution a group: slot 0 (one-revolution or range layout; once with
// fewer entries than its stage has blades), slot 1 (missing every fifth
// revolution), now and then slot 2 (no probe there), slot 3; after it a
// type-1 record. A type-0 record and a packed profile come early, so the
// first record headers cover every type.
std::vector<RecordRef> sampleRecords() {
  std::vector<RecordRef> records;
  for (int n = 0; n < kRevolutions; ++n) {
    records.push_back(bladeRecord(n, 0, n == 2 ? 1 : 3, n % 2 == 1));
    if (n == 0) records.push_back(stamped(newType0Record(0), n));
    if (n % 5 != 4) records.push_back(bladeRecord(n, 1, 2, false));
    if (n % 3 == 1) records.push_back(bladeRecord(n, 2, 2, false));
    if (n == 1) records.push_back(packedProfile(n));
    records.push_back(bladeRecord(n, 3, 1, n % 3 == 0));
    records.push_back(stamped(newType1Record(0, static_cast<uint32_t>(n % 3)), n));
  }
  return records;
}

void writeSample(const std::string& path) {
  auto file = createDataFile(sampleConfiguration(), path.c_str());
  ASSERT_NE(file, nullptr);
  for (const RecordRef& record : sampleRecords()) ASSERT_TRUE(writeRecord(*file, *record));
  ASSERT_TRUE(closeDataFile(*file));
}

// --- Checking a CSV ----------------------------------------------------------------

TEST(CsvShape, CountsCellsAndRejectsBrokenLines) {
  using Counts = std::vector<size_t>;
  EXPECT_EQ(csvShape(""), Counts{});
  EXPECT_EQ(csvShape("a,b,\n,,\n"), (Counts{3, 3}));
  EXPECT_EQ(csvShape("\"a,\"\"b\"\"\n\",c\n"), Counts{2});
  for (const char* broken : {"a,b", "a\nb", "a\"b\n", "\"a\n", "\"a\"b\n", "a\r\n"}) {
    EXPECT_EQ(csvShape(broken), std::nullopt) << broken;
  }
  EXPECT_FALSE(isWellFormedCsv("a,b\n1\n"));
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    const size_t end = text.find('\n', begin);
    lines.push_back(text.substr(begin, end - begin));
    if (end == std::string::npos) break;
    begin = end + 1;
  }
  return lines;
}

// Data cells are numbers and words: split at every comma.
std::vector<std::string> cellsOf(const std::string& line) {
  std::vector<std::string> cells;
  size_t begin = 0;
  for (;;) {
    const size_t end = line.find(',', begin);
    cells.push_back(line.substr(begin, end - begin));
    if (end == std::string::npos) return cells;
    begin = end + 1;
  }
}

// --- Running conversions ----------------------------------------------------------

// Far beyond what a sweep takes even on a loaded machine.
constexpr unsigned kWatchdogSeconds = 900;

// Names the case for the watchdog and for failure messages.
const char* nameCase(const std::string& what, uint64_t at, unsigned mask) {
  return Watchdog::describe(what + " at " + std::to_string(at) + ", mask " + std::to_string(mask));
}

// An in-process run of the converter on one argument, and the CSV it wrote
// when it announced one (the output file is removed again).
struct SweepRun {
  ConverterRun run;
  std::string csv;
};

SweepRun runInProcess(const TempDir& dir, const std::string& name) {
  SweepRun result{runConverterIn(dir.path(), {name}), ""};
  const std::string output = dir.file(outputPathFor(name.c_str()).c_str());
  if (!result.run.out.empty()) result.csv = readFile(output);
  std::remove(output.c_str());
  return result;
}

// One of the decided outcomes: converted (announced, no message) or refused
// as an unopenable input (the message, nothing announced, no output file).
::testing::AssertionResult isDecidedOutcome(const SweepRun& result, const std::string& name) {
  const ConverterRun& run = result.run;
  if (run.status == 0 && run.err.empty() && run.out == convertedLine(name)) {
    return isWellFormedCsv(result.csv);
  }
  if (run.status == 1 && run.out.empty() && run.err == cannotOpen(name)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "status " << run.status << ", out '" << run.out << "', err '" << run.err << "'";
}

// The conversion a recovery makes: the records read in salvage mode (up to
// the end of the file when the index does not fit it) through the exporter.
// None when the file does not open.
std::optional<std::string> convertSalvaging(const std::string& input, const std::string& output) {
  DataFileReport report;
  std::unique_ptr<DataFile> file = openDataFile(input.c_str(), report, ReadMode::Salvage);
  if (file == nullptr) return std::nullopt;
  std::unique_ptr<CsvExporter> exporter =
      createCsvExporter(file->configuration(), output.c_str(), true);
  if (exporter == nullptr) std::abort();
  while (RecordRef record = readNextRecord(*file)) (void)exportRecord(*exporter, record.get());
  if (!finishCsvExporter(*exporter)) std::abort();
  exporter.reset();
  (void)closeDataFile(*file);
  return readFile(output);
}

// --- The sample and its layout -------------------------------------------------------

struct RecordPlace {
  uint64_t start = 0;
  uint64_t end = 0;  // the next record's start
  uint16_t type = 0;
  uint8_t channel = 0;  // type 3
};

class CorruptionSweep : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sample_ = new Sample;
    writeSample(sample_->dir.file("sample.cdt"));
    sample_->bytes = readFile(sample_->dir.file("sample.cdt"));
    const std::string& b = sample_->bytes;
    sample_->configLength = loadU64(b.data() + kHeaderConfigLength);
    sample_->indexOffset = loadU64(b.data() + kHeaderIndexOffset);
    uint64_t at = loadU64(b.data() + kHeaderDataOffset);
    while (at < sample_->indexOffset) {
      RecordPlace place;
      place.start = at;
      place.end = at + loadU32(b.data() + at + kRecordSize) - kRecordCountSize;
      place.type = loadU16(b.data() + at + kRecordType);
      if (place.type == kRecordTypeBlades) {
        place.channel = static_cast<uint8_t>(b[at + kRecordHeaderSize + kBladesChannel]);
      }
      sample_->records.push_back(place);
      at = place.end;
    }
    const SweepRun full = runInProcess(sample_->dir, "sample.cdt");
    sample_->csv = full.csv;
  }
  static void TearDownTestSuite() {
    delete sample_;
    sample_ = nullptr;
  }

  struct Sample {
    TempDir dir;
    std::string bytes;
    uint64_t configLength = 0;
    uint64_t indexOffset = 0;
    std::vector<RecordPlace> records;
    std::string csv;  // of the whole file
  };
  static Sample* sample_;

  // The lines the records before `cut` give (salvage mode, so the records run
  // to the cut): the full conversion's header and lines up to the last group
  // that begins before the cut, whose line may lack the cells of the records
  // that lie past it.
  static ::testing::AssertionResult isPrefixUpTo(const std::string& csv, uint64_t cut) {
    size_t groups = 0;
    for (const RecordPlace& r : sample_->records) {
      // Every group begins with its slot-0 record.
      if (r.end <= cut && r.type == kRecordTypeBlades && r.channel == 0) ++groups;
    }
    const std::vector<std::string> lines = linesOf(csv);
    const std::vector<std::string> full = linesOf(sample_->csv);
    if (groups == 0) {
      if (csv.empty()) return ::testing::AssertionSuccess();
      return ::testing::AssertionFailure() << "output without a whole group: " << csv;
    }
    if (lines.size() != groups + 1) {
      return ::testing::AssertionFailure() << lines.size() << " lines for " << groups << " groups";
    }
    for (size_t i = 0; i < groups; ++i) {
      if (lines[i] != full[i]) return ::testing::AssertionFailure() << "line " << i << " differs";
    }
    // The last group: its own cells, and per probe either the full line's
    // cells or none (its record lay past the cut).
    const std::vector<std::string> last = cellsOf(lines[groups]);
    const std::vector<std::string> expected = cellsOf(full[groups]);
    if (last.size() != expected.size()) return ::testing::AssertionFailure() << "cell count";
    for (size_t i = 0; i < kFixedCells; ++i) {
      if (last[i] != expected[i]) return ::testing::AssertionFailure() << "cell " << i;
    }
    size_t at = kFixedCells;
    for (const size_t width : kProbeCells) {
      bool same = true;
      bool empty = true;
      for (size_t i = at; i < at + width; ++i) {
        same = same && last[i] == expected[i];
        empty = empty && last[i].empty();
      }
      if (!same && !empty) return ::testing::AssertionFailure() << "probe cells from " << at;
      at += width;
    }
    return ::testing::AssertionSuccess();
  }
};

CorruptionSweep::Sample* CorruptionSweep::sample_ = nullptr;

TEST_F(CorruptionSweep, SampleCoversEveryRecordTypeAndConvertsCleanly) {
  bool types[kRecordTypeCount] = {};
  for (size_t i = 0; i < 12; ++i) types[sample_->records[i].type] = true;
  for (const bool seen : types) EXPECT_TRUE(seen);
  const std::optional<std::vector<size_t>> shape = csvShape(sample_->csv);
  ASSERT_TRUE(shape.has_value());
  EXPECT_EQ(shape->size(), kRevolutions + 1u);
  EXPECT_EQ((*shape)[0], kFixedCells + kProbeCells[0] + kProbeCells[1] + kProbeCells[2]);
  EXPECT_TRUE(isWellFormedCsv(sample_->csv));
  // The quoted header cells of the probe whose name holds a comma and quotes.
  EXPECT_NE(sample_->csv.find(",\"B, \"\"b\"\" RMS\","), std::string::npos);
}

TEST_F(CorruptionSweep, TheConverterRefusesEveryCutFile) {
  const std::string path = sample_->dir.file("cut.cdt");
  writeFile(path, sample_->bytes);
  const int fd = open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  Watchdog watchdog(kWatchdogSeconds);
  const auto began = std::chrono::steady_clock::now();
  // Shortest last is longest first: each length is one truncation.
  for (uint64_t length = sample_->bytes.size(); length-- > 0;) {
    nameCase("converter, cut", length, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(length)), 0);
    const SweepRun run = runInProcess(sample_->dir, "cut.cdt");
    // The index of a finished file ends the file: any cut takes some of it.
    ASSERT_EQ(run.run.status, 1) << length;
    ASSERT_TRUE(isDecidedOutcome(run, "cut.cdt")) << length;
  }
  close(fd);
  std::printf("%zu cut files refused in %.1f s\n", sample_->bytes.size(),
              std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
}

// Cuts inside a long record body all meet the same check (the record runs
// past the end of the file) before anything of it is read, and every
// salvaging conversion parses the whole configuration text again: such a
// body is cut at every length near its ends and at every kBodyStride-th
// length between them. Every other length is cut.
constexpr uint64_t kLongBody = 1024;
constexpr uint64_t kBodyEdge = 24;
constexpr uint64_t kBodyStride = 499;

TEST_F(CorruptionSweep, SalvagingACutFileGivesTheWholeGroupsBeforeTheCut) {
  const std::string path = sample_->dir.file("cut.cdt");
  const std::string output = sample_->dir.file("cut.csv");
  writeFile(path, sample_->bytes);
  const int fd = open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  auto skipped = [](uint64_t length) {
    for (const RecordPlace& r : sample_->records) {
      const uint64_t body = r.start + kRecordHeaderSize;
      if (r.end - body > kLongBody && length > body + kBodyEdge && length < r.end - kBodyEdge) {
        return (length - body) % kBodyStride != 0;
      }
    }
    return false;
  };
  Watchdog watchdog(kWatchdogSeconds);
  const auto began = std::chrono::steady_clock::now();
  const uint64_t textEnd = kFileHeaderSize + sample_->configLength;
  size_t cuts = 0;
  for (uint64_t length = sample_->bytes.size(); length-- > 0;) {
    if (skipped(length)) continue;
    nameCase("salvage, cut", length, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(length)), 0);
    const std::optional<std::string> csv = convertSalvaging(path, output);
    // Opens exactly when the header and the whole configuration text are there.
    ASSERT_EQ(csv.has_value(), length >= textEnd) << length;
    ++cuts;
    if (!csv) continue;
    ASSERT_TRUE(isWellFormedCsv(*csv)) << length;
    ASSERT_TRUE(isPrefixUpTo(*csv, length)) << length;
  }
  close(fd);
  std::printf("%zu cut files salvaged in %.1f s\n", cuts,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
}

// Each byte of `positions` changed with each mask, one at a time, through the
// converter and, with `salvageToo` (where the change may decide where the
// records end), through a salvaging read as well. `ignored` tells the bytes
// that no reader looks at: changing them must leave the output as it was.
void sweepBytes(const std::string& what, const std::vector<uint64_t>& positions,
                bool (*ignored)(uint64_t position), bool salvageToo, const std::string& bytes,
                const std::string& fullCsv, const TempDir& dir) {
  const std::string path = dir.file("changed.cdt");
  const std::string output = dir.file("changed.csv");
  writeFile(path, bytes);
  const int fd = open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  Watchdog watchdog(kWatchdogSeconds);
  const auto began = std::chrono::steady_clock::now();
  size_t cases = 0;
  size_t converted = 0;
  for (const uint64_t at : positions) {
    for (const unsigned mask : {0x01u, 0x80u, 0xFFu}) {
      const std::string name = nameCase(what, at, mask);
      const auto changed = static_cast<char>(static_cast<unsigned char>(bytes[at]) ^ mask);
      ASSERT_EQ(pwrite(fd, &changed, 1, static_cast<off_t>(at)), 1);
      const SweepRun run = runInProcess(dir, "changed.cdt");
      ASSERT_TRUE(isDecidedOutcome(run, "changed.cdt")) << name;
      if (run.run.status == 0) ++converted;
      if (ignored != nullptr && ignored(at)) {
        ASSERT_EQ(run.run.status, 0) << name;
        ASSERT_EQ(run.csv, fullCsv) << name;
      }
      const std::optional<std::string> salvaged =
          salvageToo ? convertSalvaging(path, output) : std::nullopt;
      if (salvaged) {
        ASSERT_TRUE(isWellFormedCsv(*salvaged)) << name;
      }
      ASSERT_EQ(pwrite(fd, &bytes[at], 1, static_cast<off_t>(at)), 1);
      ++cases;
    }
  }
  close(fd);
  std::printf("%s: %zu changed files (%zu converted, the others refused) in %.1f s\n", what.c_str(),
              cases, converted,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
}

TEST_F(CorruptionSweep, SingleByteChangesOfTheHeader) {
  std::vector<uint64_t> positions;
  for (uint64_t at = 0; at < kFileHeaderSize; ++at) positions.push_back(at);
  // The configuration offset and the time-zone bias are not read.
  sweepBytes(
      "header", positions,
      [](uint64_t at) {
        return (at >= kHeaderConfigOffset && at < kHeaderConfigOffset + 8) ||
               at >= kHeaderTimeZoneBias;
      },
      true, sample_->bytes, sample_->csv, sample_->dir);
}

// The structural lines to change: the frame and count lines, and of each
// entity family (Stage, Host, Channel, Rack, Probe, Relay) the Begin and End
// lines of its first and its last block, with the calibration lines inside
// them. The blocks between are alike; leaving them out keeps the sweep short.
std::vector<std::pair<size_t, size_t>> structuralLines(std::string_view text,
                                                       std::set<std::string>& kinds) {
  struct Line {
    size_t begin;
    size_t end;
    std::string_view trimmed;
  };
  std::vector<Line> lines;
  for (size_t begin = 0; begin < text.size();) {
    size_t end = text.find('\n', begin);
    end = end == std::string_view::npos ? text.size() : end + 1;
    std::string_view line = text.substr(begin, end - begin);
    line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
    line = line.substr(0, line.find('\n'));
    lines.push_back({begin, end, line});
    begin = end;
  }
  // "Begin Probe 7" -> family "Probe", number 7.
  auto block = [](std::string_view line) -> std::pair<std::string, long> {
    line.remove_prefix(6);
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) return {std::string(line), -1};
    return {std::string(line.substr(0, space)), std::atol(std::string(line.substr(space)).c_str())};
  };
  std::map<std::string, std::pair<long, long>> numbers;  // family: first, last
  for (const Line& line : lines) {
    if (!line.trimmed.starts_with("Begin ")) continue;
    const auto [family, n] = block(line.trimmed);
    auto [it, fresh] = numbers.try_emplace(family, n, n);
    if (!fresh) it->second = {std::min(it->second.first, n), std::max(it->second.second, n)};
  }
  std::vector<std::pair<size_t, size_t>> chosen;
  std::vector<bool> keptBlocks;
  for (const Line& line : lines) {
    const std::string_view t = line.trimmed;
    bool keep = false;
    if (t.starts_with("Begin ")) {
      const auto [family, n] = block(t);
      keep = n == numbers[family].first || n == numbers[family].second;
      keptBlocks.push_back(keep);
    } else if (t.starts_with("End ") && t != "End Configuration") {
      keep = !keptBlocks.empty() && keptBlocks.back();
      if (!keptBlocks.empty()) keptBlocks.pop_back();
    } else if (t.starts_with("numCalData") || t.starts_with("calData")) {
      keep = !keptBlocks.empty() && keptBlocks.back();
    } else {
      keep = t.starts_with("num") || t == "End Configuration";
    }
    if (!keep) continue;
    chosen.emplace_back(line.begin, line.end);
    std::string kind(t.substr(0, t.find_first_of("0123456789[=")));
    kinds.insert(kind.substr(0, kind.find_last_not_of(' ') + 1));
  }
  return chosen;
}

TEST_F(CorruptionSweep, SingleByteChangesOfStructuralConfigurationLines) {
  // Every byte of each chosen line, its indentation and line feed included.
  const std::string_view text(sample_->bytes.data() + kFileHeaderSize, sample_->configLength);
  std::set<std::string> kinds;
  std::vector<uint64_t> positions;
  for (const auto& [begin, end] : structuralLines(text, kinds)) {
    for (size_t at = begin; at < end; ++at) positions.push_back(kFileHeaderSize + at);
  }
  // Every kind of structural line is among them.
  const std::set<std::string> expected = {"Begin Configuration",
                                          "End Configuration",
                                          "numStages",
                                          "numHosts",
                                          "numRacks",
                                          "numCalData",
                                          "calData",
                                          "Begin Stage",
                                          "Begin Host",
                                          "Begin Rack",
                                          "Begin Channel",
                                          "Begin Relay",
                                          "Begin Probe",
                                          "End Stage",
                                          "End Host",
                                          "End Rack",
                                          "End Channel",
                                          "End Relay",
                                          "End Probe"};
  EXPECT_EQ(kinds, expected);
  sweepBytes("configuration", positions, nullptr, false, sample_->bytes, sample_->csv,
             sample_->dir);
}

TEST_F(CorruptionSweep, SingleByteChangesOfTheFirstRecordHeaders) {
  std::vector<uint64_t> positions;
  for (size_t i = 0; i < 12; ++i) {
    for (uint64_t at = 0; at < kRecordHeaderSize; ++at) {
      positions.push_back(sample_->records[i].start + at);
    }
  }
  // The reserved word of each header is not read.
  sweepBytes(
      "record headers", positions,
      [](uint64_t at) {
        for (size_t i = 0; i < 12; ++i) {
          const uint64_t reserved = sample_->records[i].start + kRecordReserved;
          if (at >= reserved && at < reserved + 4) return true;
        }
        return false;
      },
      false, sample_->bytes, sample_->csv, sample_->dir);
}

}  // namespace
}  // namespace cdt
