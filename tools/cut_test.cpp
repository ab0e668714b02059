// cdt cut, end to end through the built tool.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/time_text.h"
#include "tools/record_test_support.h"

namespace cdt {
namespace {

using testing::csvLines;
using testing::kSampleStart;
using testing::kSecond;
using testing::readFile;
using testing::recordTimes;
using testing::revolutionRecord;
using testing::runCdt;
using testing::RunResult;
using testing::sampleConfiguration;
using testing::TempDir;
using testing::unfinishedForm;
using testing::writeFile;
using testing::writeSampleFile;
using testing::writeSampleRecords;

// The time text of revolution n of the sample file.
std::string revolutionTime(uint64_t n) {
  return formatTimeText(kSampleStart + n * kSecond);
}

class CutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeSampleFile(dir.file("x.cdt"), 10);
    full = csvLines("x.cdt", dir.path());
    ASSERT_EQ(full.size(), 11u);
  }

  TempDir dir;
  std::vector<std::string> full;
};

TEST_F(CutTest, WindowGivesExactlyItsLines) {
  // Revolutions 3 to 6: START is inclusive, END exclusive. The times are
  // written in two of the accepted forms.
  const RunResult r = runCdt(
      {"cut", "x.cdt", "2011-03-15T14:07:12.25Z", "2011-03-15 14:07:16.25", "w.cdt"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "w.cdt: 9 records from 2011-03-15T14:07:12.25Z to 2011-03-15T14:07:16.25Z\n");
  std::vector<std::string> expected = {full[0]};
  expected.insert(expected.end(), full.begin() + 4, full.begin() + 8);
  EXPECT_EQ(csvLines("w.cdt", dir.path()), expected);

  // The copy is finished and indexed like any recording.
  auto copy = openDataFile(dir.file("w.cdt").c_str());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->indexEntryCount(), 4u);

  // A window between two records, and one before the recording, are empty.
  for (const auto& [start, end] :
       {std::pair{formatTimeText(kSampleStart + 3 * kSecond + 1), revolutionTime(4)},
        std::pair{std::string("2000-01-01"), std::string("2001-01-01")}}) {
    const RunResult empty = runCdt({"cut", "x.cdt", start, end, "e.cdt"}, dir.path());
    EXPECT_EQ(empty.status, 0) << empty.err;
    EXPECT_EQ(recordTimes(dir.file("e.cdt")).size(), 0u);
    EXPECT_EQ(csvLines("e.cdt", dir.path()), std::vector<std::string>{});
  }
  // The whole recording and more.
  const RunResult all = runCdt({"cut", "x.cdt", "2011-03-15", "2011-03-16", "all.cdt"}, dir.path());
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(csvLines("all.cdt", dir.path()), full);
}

TEST_F(CutTest, NeverReadsPastADamagedRecord) {
  // Record 1 (revolution 0, channel 1) becomes unreadable: the conversion
  // stops there, and so does every window, through the index or not, with
  // the same warning; a narrower window never gives more than a wider one.
  std::string bytes = readFile(dir.file("x.cdt"));
  const uint64_t second = loadU64(bytes.data() + kHeaderDataOffset) + 108;
  storeU16(bytes.data() + second + kRecordType, 9);
  writeFile(dir.file("d.cdt"), bytes);
  EXPECT_EQ(csvLines("d.cdt", dir.path()).size(), 2u);

  const std::string warning = "cdt cut: warning: reading 'd.cdt' stopped at offset " +
                              std::to_string(second) + ": invalid record type\n";
  for (int first : {0, 3}) {
    const RunResult r =
        runCdt({"cut", "d.cdt", revolutionTime(first), revolutionTime(5), "w.cdt"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, warning);
    EXPECT_EQ(recordTimes(dir.file("w.cdt")),
              first == 0 ? std::vector<uint64_t>{kSampleStart} : std::vector<uint64_t>{});
  }
}

TEST_F(CutTest, ALyingIndexEntryCostsTimeNotRecords) {
  const RunResult clean =
      runCdt({"cut", "x.cdt", revolutionTime(4), revolutionTime(8), "c.cdt"}, dir.path());
  ASSERT_EQ(clean.status, 0);
  const std::vector<uint64_t> expected = recordTimes(dir.file("c.cdt"));
  ASSERT_FALSE(expected.empty());

  // Entry 3 (the end of revolution 3's first record) points elsewhere, its
  // time kept: at the end of the records, at a later record boundary, into a
  // record, at the header; or its position is kept and its time is 1 us off.
  const std::string bytes = readFile(dir.file("x.cdt"));
  const uint64_t indexOffset = loadU64(bytes.data() + kHeaderIndexOffset);
  const uint64_t entry3 = indexOffset + 3 * kIndexEntrySize;
  const uint64_t entry3Time = loadU64(bytes.data() + entry3 + kIndexEntryTime);
  const uint64_t entry5Position =
      loadU64(bytes.data() + indexOffset + 5 * kIndexEntrySize + kIndexEntryPosition);
  const std::pair<uint32_t, uint64_t> lies[] = {
      {kIndexEntryPosition, indexOffset},         {kIndexEntryPosition, entry5Position},
      {kIndexEntryPosition, entry5Position - 10}, {kIndexEntryPosition, 0},
      {kIndexEntryTime, entry3Time + 1},          {kIndexEntryTime, entry3Time - 1},
  };
  for (const auto& [field, value] : lies) {
    std::string lying = bytes;
    storeU64(lying.data() + entry3 + field, value);
    writeFile(dir.file("l.cdt"), lying);
    const RunResult r =
        runCdt({"cut", "l.cdt", revolutionTime(4), revolutionTime(8), "w.cdt"}, dir.path());
    EXPECT_EQ(r.status, 0) << field << " " << value;
    EXPECT_EQ(r.err,
              "cdt cut: warning: the index of 'l.cdt' disagrees with its records at entry 3; "
              "the window was found by reading the records\n")
        << field << " " << value;
    EXPECT_EQ(recordTimes(dir.file("w.cdt")), expected) << field << " " << value;
  }
}

TEST_F(CutTest, StagingNeverWritesThroughALinkOrAnExistingFile) {
  // Links where the staging files would go, to a file that must not change,
  // and OUT itself a link to it: the copy lands in a new regular file OUT.
  writeFile(dir.file("victim"), "unrelated");
  for (const char* name : {"w.cdt", "w.cdt.part", "w.cdt.part.temp", "w.cdt.part.1.temp"}) {
    ASSERT_EQ(symlink("victim", dir.file(name).c_str()), 0) << name;
  }
  const RunResult r =
      runCdt({"cut", "x.cdt", revolutionTime(3), revolutionTime(5), "w.cdt"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(dir.file("victim")), "unrelated");
  struct stat status {};
  ASSERT_EQ(lstat(dir.file("w.cdt").c_str(), &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(csvLines("w.cdt", dir.path()), (std::vector<std::string>{full[0], full[4], full[5]}));
  // The links that were in the way are left as they were.
  EXPECT_EQ(readFile(dir.file("w.cdt.part.temp")), "unrelated");
}

TEST_F(CutTest, RecordsOutOfTimeOrderAreFoundToTheEnd) {
  // A record that is earlier than those before it gets no index entry; the
  // cut still finds it after the window's end has been passed.
  auto file = createDataFile(sampleConfiguration(), dir.file("late.cdt").c_str());
  ASSERT_NE(file, nullptr);
  writeSampleRecords(*file, 0, 10);
  const uint64_t four = kSampleStart + 4 * kSecond;
  ASSERT_TRUE(writeRecord(*file, *revolutionRecord(4, 2, four + 1)));
  ASSERT_TRUE(closeDataFile(*file));

  const RunResult r =
      runCdt({"cut", "late.cdt", revolutionTime(4), revolutionTime(5), "w.cdt"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(recordTimes(dir.file("w.cdt")), (std::vector<uint64_t>{four, four, four + 1}));
}

TEST_F(CutTest, BadArgumentsAndUnreadableFilesFail) {
  writeFile(dir.file("u.cdt.temp"), unfinishedForm(readFile(dir.file("x.cdt"))));
  const std::string start = revolutionTime(1);
  const std::string end = revolutionTime(2);

  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> usage = {
      {{"cut", "x.cdt", "yesterday", end, "o.cdt"},
       "cdt cut: START 'yesterday' is not a UTC time such as 2011-05-06T12:30:45.25Z\n"},
      {{"cut", "x.cdt", start, "2011-02-30", "o.cdt"},
       "cdt cut: END '2011-02-30' is not a UTC time such as 2011-05-06T12:30:45.25Z\n"},
      {{"cut", "x.cdt", end, start, "o.cdt"}, "cdt cut: END must lie after START\n"},
      {{"cut", "x.cdt", start, start, "o.cdt"}, "cdt cut: END must lie after START\n"},
      {{"cut", "x.cdt", start, end, "./x.cdt"},
       "cdt cut: the output './x.cdt' is the input file\n"},
      {{"cut", "x.cdt", start, end}, "cdt cut: missing argument\n"},
  };
  for (const Case& c : usage) {
    const RunResult r = runCdt(c.args, dir.path());
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), c.message);
    EXPECT_NE(r.err.find("usage: cdt cut FILE START END OUT"), std::string::npos);
  }

  const RunResult missing = runCdt({"cut", "missing.cdt", start, end, "o.cdt"}, dir.path());
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "cdt cut: cannot read 'missing.cdt': cannot open the file\n");

  const RunResult unfinished = runCdt({"cut", "u.cdt.temp", start, end, "o.cdt"}, dir.path());
  EXPECT_EQ(unfinished.status, 1);
  EXPECT_EQ(unfinished.err,
            "cdt cut: 'u.cdt.temp' was never finished and holds no readable records; "
            "'cdt recover' makes a finished copy of it\n");
  EXPECT_FALSE(testing::fileExists(dir.file("o.cdt")));
}

TEST(CutSynthesized, WindowOfASynthesizedRecordingGivesItsLines) {
  TempDir dir;
  const RunResult synth = runCdt({"synth", "--revolutions", "300", "--probes", "2", "--blades", "3",
                                  "--profiles", "50", "--extras", "7", "--seed", "5", "."},
                                 dir.path());
  ASSERT_EQ(synth.status, 0) << synth.err;
  const std::string input = synth.out.substr(0, synth.out.find('\n'));
  const std::vector<std::string> full = csvLines(input, dir.path());
  ASSERT_EQ(full.size(), 301u);

  // The times of the records that open the lines of revolutions 100 and 200.
  std::vector<uint64_t> lineTimes;
  auto file = openDataFile(dir.file(input).c_str());
  ASSERT_NE(file, nullptr);
  while (RecordRef r = readNextRecord(*file)) {
    if (r->type() == kRecordTypeBlades && bladeChannel(*r) == 0) lineTimes.push_back(r->time());
  }
  ASSERT_EQ(lineTimes.size(), 300u);

  const RunResult r = runCdt(
      {"cut", input, formatTimeText(lineTimes[100]), formatTimeText(lineTimes[200]), "w.cdt"},
      dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> expected = {full[0]};
  expected.insert(expected.end(), full.begin() + 101, full.begin() + 201);
  EXPECT_EQ(csvLines("w.cdt", dir.path()), expected);
}

}  // namespace
}  // namespace cdt
