// cdt recover, end to end through the built tool, and the reader's salvage
// mode that it reads with.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tools/record_test_support.h"

namespace cdt {
namespace {

using testing::csvLines;
using testing::fileExists;
using testing::fileSystemPath;
using testing::readFile;
using testing::recordTimes;
using testing::runCdt;
using testing::RunResult;
using testing::TempDir;
using testing::unfinishedForm;
using testing::writeFile;
using testing::writeSampleFile;

// Ten revolutions: 20 blade records (108 bytes in the file) and type-1
// records (28 bytes) after revolutions 2, 5 and 8.
constexpr uint64_t kRevolutions = 10;
constexpr uint64_t kRecords = 23;
constexpr uint64_t kBladeBytes = 108;
constexpr uint64_t kEntriesBytes = 28;

// The offset of record `k` (0-based) of the sample file.
uint64_t recordOffset(const std::string& bytes, uint64_t k) {
  uint64_t offset = loadU64(bytes.data() + kHeaderDataOffset);
  for (uint64_t i = 0; i < k; ++i) offset += (i % 7 == 6) ? kEntriesBytes : kBladeBytes;
  return offset;
}

// Every byte but the time-zone bias, which the writer takes from its clock.
void expectSameFileBytes(const std::string& a, const std::string& b) {
  ASSERT_EQ(a.size(), b.size());
  EXPECT_EQ(a.substr(0, kHeaderTimeZoneBias), b.substr(0, kHeaderTimeZoneBias));
  EXPECT_EQ(a.substr(kFileHeaderSize), b.substr(kFileHeaderSize));
}

class RecoverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::create_directory(fileSystemPath(dir.file("orig"))));
    writeSampleFile(dir.file("orig/x.cdt"), kRevolutions);
    finished = readFile(dir.file("orig/x.cdt"));
    finishedCsv = csvLines("orig/x.cdt", dir.path());
    ASSERT_EQ(finishedCsv.size(), 1 + kRevolutions);
  }

  TempDir dir;
  std::string finished;
  std::vector<std::string> finishedCsv;
};

TEST_F(RecoverTest, SalvageModeReadsTheRecordsOfAnUnfinishedFile) {
  const std::string unfinished = unfinishedForm(finished);
  writeFile(dir.file("x.cdt.temp"), unfinished);

  auto normal = openDataFile(dir.file("x.cdt.temp").c_str());
  ASSERT_NE(normal, nullptr);
  EXPECT_EQ(readNextRecord(*normal), nullptr);
  EXPECT_EQ(normal->lastReadStatus().status, DataFileStatus::EndOfRecords);
  EXPECT_EQ(normal->recordsEnd(), 0u);

  DataFileReport report;
  auto salvage = openDataFile(dir.file("x.cdt.temp").c_str(), report, ReadMode::Salvage);
  ASSERT_NE(salvage, nullptr);
  EXPECT_EQ(report.status, DataFileStatus::Ok);
  EXPECT_EQ(salvage->header().indexOffset, 0u);
  EXPECT_EQ(salvage->recordsEnd(), unfinished.size());
  EXPECT_EQ(salvage->indexEntryCount(), 0u);
  EXPECT_FALSE(seekToIndexEntry(*salvage, 0));
  uint64_t count = 0;
  while (readNextRecord(*salvage)) ++count;
  EXPECT_EQ(count, kRecords);
  EXPECT_EQ(salvage->lastReadStatus().status, DataFileStatus::EndOfRecords);
  EXPECT_EQ(salvage->lastReadStatus().offset, unfinished.size());

  // A finished file reads the same in both modes, index included.
  auto whole = openDataFile(dir.file("orig/x.cdt").c_str(), report, ReadMode::Salvage);
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(whole->recordsEnd(), whole->header().indexOffset);
  EXPECT_EQ(whole->indexEntryCount(), kRevolutions);

  // Cut inside the records: reading stops at the cut record, and zero bytes
  // after the last record (a preallocated tail) end reading the same way.
  const uint64_t third = recordOffset(finished, 2);
  for (const std::string& bytes :
       {finished.substr(0, third + 50), unfinished.substr(0, third) + std::string(64, '\0')}) {
    writeFile(dir.file("cut.cdt"), bytes);
    auto cut = openDataFile(dir.file("cut.cdt").c_str(), report, ReadMode::Salvage);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->recordsEnd(), bytes.size());
    ASSERT_NE(readNextRecord(*cut), nullptr);
    ASSERT_NE(readNextRecord(*cut), nullptr);
    EXPECT_EQ(readNextRecord(*cut), nullptr);
    EXPECT_EQ(cut->lastReadStatus().status, DataFileStatus::CutRecord);
    EXPECT_EQ(cut->lastReadStatus().offset, third);
  }
}

TEST_F(RecoverTest, UnfinishedFileComesBackWhole) {
  const std::string unfinished = unfinishedForm(finished);
  writeFile(dir.file("x.cdt.temp"), unfinished);
  // The converter finds no records in a file that was never finished.
  EXPECT_EQ(csvLines("x.cdt.temp", dir.path()), std::vector<std::string>{});

  const RunResult r = runCdt({"recover", "x.cdt.temp"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "x.cdt.temp -> x.cdt: 23 records kept, 0 bytes dropped\n");
  EXPECT_EQ(readFile(dir.file("x.cdt.temp")), unfinished);
  EXPECT_FALSE(fileExists(dir.file("x.cdt.part")));
  EXPECT_FALSE(fileExists(dir.file("x.cdt.part.temp")));

  // The copy is the file the recorder would have finished: same header,
  // configuration text, records and index.
  expectSameFileBytes(readFile(dir.file("x.cdt")), finished);
  EXPECT_EQ(csvLines("x.cdt", dir.path()), finishedCsv);
}

TEST_F(RecoverTest, CutTailKeepsEveryWholeRecord) {
#ifdef _WIN32
  GTEST_SKIP() << "the CSV's lines end in CR LF on Windows (windows-end-to-end.sh compares them)";
#endif
  // The recorder died in the middle of the last record.
  const std::string unfinished = unfinishedForm(finished);
  writeFile(dir.file("x.cdt.temp"), unfinished.substr(0, unfinished.size() - 10));
  const uint64_t last = unfinished.size() - kBladeBytes;

  const RunResult r = runCdt({"recover", "x.cdt.temp", "out/kept.cdt"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "x.cdt.temp -> out/kept.cdt: 22 records kept, 98 bytes dropped "
            "(record cut short at offset " +
                std::to_string(last) + ")\n");
  EXPECT_EQ(recordTimes(dir.file("out/kept.cdt")).size(), kRecords - 1);

  // Every line of the full recording but the last, and for revolution 9
  // the line of the record that survived (probe B's cells empty).
  const std::vector<std::string> lines = csvLines("kept.cdt", dir.path() + "/out");
  ASSERT_EQ(lines.size(), finishedCsv.size());
  for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i], finishedCsv[i]);
  EXPECT_EQ(lines.back(),
            "2011-03-15 14:07:18.25,3000,Yes,1009,1009,2.5,6.5,10.5,2.5,0.125,0.375,,,,,,");
}

TEST_F(RecoverTest, DamagedFinishedFileGoesToARecoveredName) {
#ifdef _WIN32
  GTEST_SKIP() << "replaces an output that the test still has open, which Windows refuses";
#endif
  std::string damaged = finished;
  const uint64_t sixth = recordOffset(finished, 5);
  storeU16(damaged.data() + sixth + kRecordType, 9);
  writeFile(dir.file("x.cdt"), damaged);
  const uint64_t indexOffset = loadU64(finished.data() + kHeaderIndexOffset);

  for (int run = 0; run < 2; ++run) {
    // The second run replaces the first run's output.
    const RunResult r = runCdt({"recover", "x.cdt"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "x.cdt -> x.recovered.cdt: 5 records kept, " + std::to_string(indexOffset - sixth) +
                  " bytes dropped (invalid record type at offset " + std::to_string(sixth) + ")\n");
  }
  EXPECT_EQ(readFile(dir.file("x.cdt")), damaged);
  auto copy = openDataFile(dir.file("x.recovered.cdt").c_str());
  ASSERT_NE(copy, nullptr);
  // Revolutions 0, 1 and 2 each start a new index entry.
  ASSERT_TRUE(copy->loadIndex());
  ASSERT_EQ(copy->index().size(), 3u);
  EXPECT_EQ(copy->index()[2].time, testing::kSampleStart + 2 * testing::kSecond);
  EXPECT_EQ(copy->index()[2].position, copy->header().dataOffset + 5 * kBladeBytes);
  EXPECT_EQ(copy->header().indexEnd, copy->header().indexOffset + 3 * kIndexEntrySize);

  // An unfinished file whose finished name is taken also gets the
  // recovered name.
  writeFile(dir.file("x.cdt.temp"), unfinishedForm(finished));
  const RunResult r = runCdt({"recover", "x.cdt.temp"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "x.cdt.temp -> x.recovered.cdt: 23 records kept, 0 bytes dropped\n");
  EXPECT_EQ(readFile(dir.file("x.cdt")), damaged);

  // A finished file whose index was cut off (a copy that broke off) does not
  // open for the converter; recovered, it gives every line.
  writeFile(dir.file("short.cdt"), finished.substr(0, finished.size() - 20));
  EXPECT_EQ(openDataFile(dir.file("short.cdt").c_str()), nullptr);
  const RunResult cut = runCdt({"recover", "short.cdt"}, dir.path());
  EXPECT_EQ(cut.status, 0);
  EXPECT_EQ(cut.out, "short.cdt -> short.recovered.cdt: 23 records kept, 0 bytes dropped\n");
  EXPECT_EQ(csvLines("short.recovered.cdt", dir.path()), finishedCsv);
}

TEST_F(RecoverTest, BadArgumentsAndUnreadableFilesFail) {
  writeFile(dir.file("junk.cdt"), std::string(100, 'j'));
  writeFile(dir.file("x.cdt"), finished);
  writeFile(dir.file("plain"), "a file where a directory would have to be");

  const RunResult missing = runCdt({"recover", "missing.cdt"}, dir.path());
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "cdt recover: cannot read 'missing.cdt': cannot open the file\n");

  const RunResult junk = runCdt({"recover", "junk.cdt"}, dir.path());
  EXPECT_EQ(junk.status, 1);
  EXPECT_EQ(junk.err, "cdt recover: cannot read 'junk.cdt': not a data file (wrong magic words)\n");
  EXPECT_FALSE(fileExists(dir.file("junk.recovered.cdt")));

  const RunResult nowhere = runCdt({"recover", "x.cdt", "plain/y.cdt"}, dir.path());
  EXPECT_EQ(nowhere.status, 1);
  EXPECT_NE(nowhere.err.find("cannot create 'plain/y.cdt.part.temp'"), std::string::npos);

  for (const std::vector<std::string>& args : {std::vector<std::string>{"recover"},
                                               {"recover", "a", "b", "c"},
                                               {"recover", "--bad", "x"},
                                               {"recover", "x.cdt", "./x.cdt"}}) {
    const RunResult r = runCdt(args, dir.path());
    EXPECT_EQ(r.status, 2) << args.size();
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("usage: cdt recover FILE [OUT]"), std::string::npos) << r.err;
  }
  // Nothing was written over the input.
  EXPECT_EQ(readFile(dir.file("x.cdt")), finished);
}

TEST(RecoverSynthesized, UnfinishedAndDamagedRecordingsComeBack) {
  TempDir dir;
  // The same recording four ways: finished, never finished, finished with a
  // cut last record, and both.
  const std::vector<std::string> variants[] = {
      {}, {"--unfinished"}, {"--damage"}, {"--unfinished", "--damage"}};
  std::vector<std::string> paths;
  for (const std::vector<std::string>& extra : variants) {
    std::vector<std::string> args = {"synth", "--revolutions", "120", "--probes", "3", "--blades",
                                     "5",     "--profiles",    "40",  "--extras", "10"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(std::string("v").append(std::to_string(paths.size())));
    const RunResult r = runCdt(args, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    paths.push_back(r.out.substr(0, r.out.find('\n')));
  }
  const std::string& whole = paths[0];
  const std::vector<std::string> wholeCsv = csvLines(whole, dir.path());
  const std::vector<uint64_t> wholeRecords = recordTimes(dir.file(whole));
  ASSERT_EQ(wholeCsv.size(), 121u);

  // Never finished: the converter sees nothing until the file is recovered,
  // and the recovered file is the finished one.
  EXPECT_EQ(csvLines(paths[1], dir.path()), std::vector<std::string>{});
  const RunResult unfinished = runCdt({"recover", paths[1], "u.cdt"}, dir.path());
  ASSERT_EQ(unfinished.status, 0) << unfinished.err;
  EXPECT_EQ(csvLines("u.cdt", dir.path()), wholeCsv);
  expectSameFileBytes(readFile(dir.file("u.cdt")), readFile(dir.file(whole)));

  // A cut last record: every record before it comes back, and the lines are
  // those the converter reads from the damaged file itself.
  for (const std::string& damaged : {paths[2], paths[3]}) {
    const RunResult r = runCdt({"recover", damaged, "d.cdt"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(std::to_string(wholeRecords.size() - 1) + " records kept"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("(record cut short at offset "), std::string::npos) << r.out;
    EXPECT_EQ(recordTimes(dir.file("d.cdt")),
              std::vector<uint64_t>(wholeRecords.begin(), wholeRecords.end() - 1));
    const std::vector<std::string> lines = csvLines("d.cdt", dir.path());
    if (damaged == paths[2]) {
      EXPECT_EQ(lines, csvLines(damaged, dir.path()));
    }
    ASSERT_EQ(lines.size(), wholeCsv.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.end() - 1),
              std::vector<std::string>(wholeCsv.begin(), wholeCsv.end() - 1));
  }
}

}  // namespace
}  // namespace cdt
