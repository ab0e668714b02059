// cdt export end to end: every selection and layout shows the converter's
// cells, only fewer of them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "datafile/data_file.h"
#include "foundation/byte_order.h"
#include "foundation/time_text.h"
#include "tools/export_test_support.h"

namespace cdt {
namespace {

using testing::ExportTest;
using testing::readFile;
using testing::Row;
using testing::runCdt;
using testing::RunResult;
using testing::table;
using testing::writeFile;

TEST_F(ExportTest, SelectionsShowTheConvertersCells) {
#ifdef _WIN32
  GTEST_SKIP() << "the CSV's lines end in CR LF on Windows (windows-end-to-end.sh compares them)";
#endif
  // No selection: the converter's bytes.
  RunResult r = runCdt({"export", "-o", "all", input}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "cdt export: in=" + input + ", out=all/" + name + ".csv\n");
  EXPECT_EQ(readFile(dir.file("all/" + name + ".csv")), readFile(dir.file(name + ".csv")));

  // Probes by name and channel number, blades, quantities, revolutions.
  r = runCdt({"export", "--output=sel", "--probes", "Probe103,0", "--blades", "2,4-5",
              "--quantities", "dns,blade-toa,rms", "--revolutions", "11:20", input},
             dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const Row header = {"Time",
                      "Speed",
                      "Sync",
                      "Start Rev",
                      "End Rev",
                      "Probe101 RMS",
                      "Probe101 DNS",
                      "Probe101 Blade2 TOA",
                      "Probe101 Blade4 TOA",
                      "Probe101 Blade5 TOA",
                      "Probe103 RMS",
                      "Probe103 DNS",
                      "Probe103 Blade2 TOA",
                      "Probe103 Blade4 TOA",
                      "Probe103 Blade5 TOA"};
  EXPECT_EQ(table(dir.file("sel/" + name + ".csv")), project(header, 11, 20));

  // A time window: the lines whose first record lies in [from, to).
  std::vector<uint64_t> lineTimes;
  auto file = openDataFile(input.c_str());
  ASSERT_NE(file, nullptr);
  while (RecordRef record = readNextRecord(*file)) {
    if (record->type() == kRecordTypeBlades && bladeChannel(*record) == 0) {
      lineTimes.push_back(record->time());
    }
  }
  ASSERT_EQ(lineTimes.size(), 60u);
  r = runCdt({"export", "-o", "win", "--from", formatTimeText(lineTimes[30]), "--to",
              formatTimeText(lineTimes[40]), input},
             dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(table(dir.file("win/" + name + ".csv")), project(full[0], 31, 40));

  // The long layout: one row per line, probe and blade, the wide cells.
  r = runCdt({"export", "-o", "long", "--layout", "long", "--blades", "1,5", input}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<Row> longRows = table(dir.file("long/" + name + ".csv"));
  ASSERT_EQ(longRows.size(), 1 + 60u * 3 * 2);
  EXPECT_EQ(longRows[0],
            (Row{"Time", "Speed", "Sync", "Start Rev", "End Rev", "Probe", "Blade", "DNS", "TOA"}));
  size_t at = 1;
  for (size_t line = 1; line <= 60; ++line) {
    for (const char* probe : {"Probe101", "Probe102", "Probe103"}) {
      for (const char* blade : {"1", "5"}) {
        const std::string prefix = std::string(probe) + " Blade" + blade;
        Row expected(full[line].begin(), full[line].begin() + 5);
        expected.insert(expected.end(), {probe, blade, full[line][column(prefix + " DNS")],
                                         full[line][column(prefix + " TOA")]});
        ASSERT_EQ(longRows[at++], expected) << line;
      }
    }
  }
}

TEST_F(ExportTest, BadSelectionsWindowsAndFilesAreReported) {
  // Unknown probes and blades are usage errors naming the valid ones.
  RunResult r = runCdt({"export", "--probes", "Nope", input}, dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("has no probe 'Nope' (its probes: Probe101, Probe102, Probe103"),
            std::string::npos)
      << r.err;
  r = runCdt({"export", "--blades", "3,6", input}, dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("has no blade 6 in the probes selected (blades 1-5)"), std::string::npos);
  for (const char* list : {"0", "3-1", "1,,2", "x"}) {
    EXPECT_EQ(runCdt({"export", "--blades", list, input}, dir.path()).status, 2) << list;
  }

  // A window outside the recording: the header alone, and a note.
  r = runCdt({"export", "-o", "empty", "--from", "2030-01-01", input}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("note: no line of"), std::string::npos);
  EXPECT_EQ(table(dir.file("empty/" + name + ".csv")), (std::vector<Row>{full[0]}));

  // A damaged record: the lines before it, and a warning. A missing file and
  // an output that cannot be written fail alone.
  std::string bytes = readFile(input);
  const uint64_t dataOffset = loadU64(bytes.data() + kHeaderDataOffset);
  auto file = openDataFile(input.c_str());
  ASSERT_NE(file, nullptr);
  uint64_t tenth = 0;
  for (int lines = 0; RecordRef record = readNextRecord(*file);) {
    if (record->type() == kRecordTypeBlades && bladeChannel(*record) == 0 && ++lines == 11) break;
    tenth = file->lastReadStatus().offset;
  }
  ASSERT_GT(tenth, dataOffset);
  storeU16(bytes.data() + tenth + kRecordType, 9);
  writeFile(dir.file("d.cdt"), bytes);
  ASSERT_TRUE(
      std::filesystem::create_directories(testing::fileSystemPath(dir.file("blocked/d.csv"))));
  r = runCdt({"export", "-o", "blocked", "--jobs", "2", "d.cdt", "missing.cdt", input}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "cdt export: in=" + input + ", out=blocked/" + name + ".csv\n");
  EXPECT_NE(r.err.find("cannot create 'blocked/d.csv'"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("cannot read 'missing.cdt'"), std::string::npos) << r.err;
  r = runCdt({"export", "-o", "damaged", "--probes", "0", "d.cdt"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("warning: reading 'd.cdt' stopped at offset " + std::to_string(tenth) +
                       ": invalid record type"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(table(dir.file("damaged/d.csv")).size(), 11u);

  // A recording whose name is its output's is left as it is.
  const std::string recording = readFile(input);
  writeFile(dir.file("x.csv"), recording);
  r = runCdt({"export", "x.csv"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("x.csv' is the input file"), std::string::npos) << r.err;
  EXPECT_EQ(readFile(dir.file("x.csv")), recording);
}

}  // namespace
}  // namespace cdt
