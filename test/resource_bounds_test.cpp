// A recording whose header or records lie about their sizes must not make
// the conversion ask for more memory than the file holds, beyond the fixed
// buffers of the exporter: not at open, not while reading the records or the
// index, not while writing the CSV, in either read mode.
#include "test/allocation_watch.h"  // replaces the global allocation functions

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "csv/csv_exporter.h"
#include "datafile/data_file.h"
#include "test/converter_test_support.h"
#include "test/damaged_recordings.h"
#include "test/support.h"

namespace cdt {
namespace {

using testing::allocationsDuring;
using testing::AllocationUsage;
using testing::TempDir;

// The exporter's line and stream buffers (1.06 MiB), the configuration of a
// small text, and the streams and strings of the loop.
constexpr uint64_t kFixedAllowance = uint64_t{2} << 20;

::testing::AssertionResult isBounded(const AllocationUsage& usage,
                                     const testing::DamagedRecording& damaged) {
  const uint64_t fileSize = damaged.bytes.size();
  const uint64_t bound = fileSize + kFixedAllowance + damaged.allowance;
  if (usage.largest() <= bound && usage.peakNew <= bound) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "largest request " << usage.largest() << " (checked " << usage.largestChecked
         << "), peak through new " << usage.peakNew << ", for a file of " << fileSize << " bytes";
}

// The conversion a recovery makes, and the index of a file that opens.
void readEverything(const std::string& path, ReadMode mode) {
  DataFileReport report;
  std::unique_ptr<DataFile> file = openDataFile(path.c_str(), report, mode);
  if (file == nullptr) return;
  (void)file->loadIndex();
  (void)seekToIndexEntry(*file, 0);
  std::unique_ptr<CsvExporter> exporter =
      createCsvExporter(file->configuration(), (path + ".csv").c_str(), true);
  ASSERT_NE(exporter, nullptr);
  while (RecordRef record = readNextRecord(*file)) (void)exportRecord(*exporter, record.get());
  (void)finishCsvExporter(*exporter);
}

TEST(ResourceBounds, DamagedSizesNeverAskForMoreThanTheFileHolds) {
  TempDir dir;
  const std::string sample = testing::sampleRecording(40);
  ASSERT_FALSE(sample.empty());
  for (const testing::DamagedRecording& damaged : testing::damagedRecordings(sample)) {
    ASSERT_NE(damaged.bytes, sample) << damaged.what;
    testing::writeFile(dir.file("damaged.cdt"), damaged.bytes);
    const AllocationUsage converting =
        allocationsDuring([&] { (void)testing::runConverterIn(dir.path(), {"damaged.cdt"}); });
    EXPECT_TRUE(isBounded(converting, damaged)) << damaged.what << ", converting";
    for (const ReadMode mode : {ReadMode::Normal, ReadMode::Salvage}) {
      const AllocationUsage reading =
          allocationsDuring([&] { readEverything(dir.file("damaged.cdt"), mode); });
      EXPECT_TRUE(isBounded(reading, damaged))
          << damaged.what << (mode == ReadMode::Normal ? ", reading" : ", salvaging");
    }
  }
}

TEST(ResourceBounds, TheWatchSeesWhatIsRead) {
  // A record that really holds nearly the whole file is allocated whole: the
  // bound is what the file holds, and the watch sees the request.
  TempDir dir;
  for (const testing::DamagedRecording& damaged :
       testing::damagedRecordings(testing::sampleRecording(40))) {
    if (damaged.what != "no index, first record running to the end of the file") continue;
    testing::writeFile(dir.file("whole.cdt"), damaged.bytes);
    const AllocationUsage usage =
        allocationsDuring([&] { readEverything(dir.file("whole.cdt"), ReadMode::Salvage); });
    EXPECT_GT(usage.largestChecked, damaged.bytes.size() / 2);
    EXPECT_LE(usage.largestChecked, damaged.bytes.size());
    return;
  }
  FAIL() << "no such damaged recording";
}

}  // namespace
}  // namespace cdt
