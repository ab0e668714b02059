#include "driver/converter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "csv/csv_test_support.h"
#include "datafile/data_file.h"
#include "foundation/byte_order.h"
#include "test/support.h"

namespace cdt {
namespace {

using testing::addProbes;
using testing::BladeRecordSpec;
using testing::builtProgram;
using testing::fileExists;
using testing::makeBladeRecord;
using testing::makeOtherRecord;
using testing::readFile;
using testing::runProgram;
using testing::RunResult;
using testing::TempDir;
using testing::writeFile;

constexpr uint64_t kSecond = 1000000;
// 2011-03-15 14:07:09.250000 UTC.
constexpr uint64_t kTime = 1300198029250000ull;

const char* const kHeader =
    "Time,Speed,Sync,Start Rev,End Rev,P RMS,P DNS,P Blade1 DNS,P Blade2 DNS,"
    "P Blade1 TOA,P Blade2 TOA\n";

// Record n of the sample files: channel 0, one per second from kTime.
RecordRef sampleRecord(uint64_t n) {
  BladeRecordSpec s;
  s.time = kTime + n * kSecond;
  s.startRevolution = 1200 + n;
  s.rms = 0.5f + static_cast<float>(n);
  s.blades = {{1.5f, 0.25f}, {2.5f, 0.75f}};
  return makeBladeRecord(s);
}

std::string sampleLine(uint64_t n) {
  char line[200];
  std::snprintf(line, sizeof line,
                "2011-03-15 14:07:%02d.25,3000,Yes,%d,%d,%g,2,1.5,2.5,0.25,0.75\n",
                static_cast<int>(9 + n), static_cast<int>(1200 + n), static_cast<int>(1200 + n),
                0.5 + static_cast<double>(n));
  return line;
}

// The CSV of a sample file with `lines` records.
std::string sampleCsv(uint64_t lines) {
  if (lines == 0) return "";
  std::string csv = kHeader;
  for (uint64_t n = 0; n < lines; ++n) csv += sampleLine(n);
  return csv;
}

// Writes a data file with probe P (2 blades) on channel 0 of host 0 and the
// given number of sample records, with records of other types in between.
void writeSample(const std::string& path, uint64_t records) {
  Configuration config;
  addProbes(config, {{0, "P", 2}});
  auto file = createDataFile(config, path.c_str());
  ASSERT_NE(file, nullptr);
  for (uint64_t n = 0; n < records; ++n) {
    ASSERT_TRUE(writeRecord(*file, *sampleRecord(n)));
    ASSERT_TRUE(writeRecord(*file, *makeOtherRecord(kRecordTypeEntries, kEntriesBaseSize, 0)));
  }
  ASSERT_TRUE(closeDataFile(*file));
}

class ConverterTest : public ::testing::Test {
 protected:
  RunResult convert(const std::vector<std::string>& args) {
    return runProgram(builtProgram("driver/cdt2csv"), args, dir.path());
  }
  std::string inOut(const std::string& in, const std::string& out) const {
    return builtProgram("driver/cdt2csv") + ": in=" + in + ", out=" + out + "\n";
  }
  std::string prefix() const { return builtProgram("driver/cdt2csv") + ": "; }

  TempDir dir;
};

TEST_F(ConverterTest, NoArgumentsDoNothing) {
  const RunResult r = convert({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST_F(ConverterTest, ConvertsEachArgumentAndReportsMissingOnes) {
#ifdef _WIN32
  GTEST_SKIP() << "the CSV's lines end in CR LF on Windows (windows-end-to-end.sh compares them)";
#endif
  writeSample(dir.file("a.cdt"), 3);
  writeSample(dir.file("empty.cdt"), 0);
  writeFile(dir.file("junk.cdt"), "not a data file at all, not even close to one");
  const RunResult r = convert({"a.cdt", "missing.cdt", "empty.cdt", "junk.cdt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, inOut("a.cdt", "a.csv") + inOut("empty.cdt", "empty.csv"));
  EXPECT_EQ(r.err, prefix() + "Can not open input file 'missing.cdt'\n" + prefix() +
                       "Can not open input file 'junk.cdt'\n");
  EXPECT_EQ(readFile(dir.file("a.csv")), sampleCsv(3));
  // A file without records gives an empty output, and success.
  EXPECT_TRUE(fileExists(dir.file("empty.csv")));
  EXPECT_EQ(readFile(dir.file("empty.csv")), "");
  EXPECT_FALSE(fileExists(dir.file("missing.csv")));
  EXPECT_FALSE(fileExists(dir.file("junk.csv")));

  const RunResult again = convert({"empty.cdt"});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.err, "");
}

TEST_F(ConverterTest, OutputGoesToTheCurrentDirectory) {
#ifdef _WIN32
  GTEST_SKIP() << "the CSV's lines end in CR LF on Windows (windows-end-to-end.sh compares them)";
#endif
  ASSERT_TRUE(std::filesystem::create_directories(testing::fileSystemPath(dir.file("dir/sub"))));
  ASSERT_TRUE(std::filesystem::create_directory(testing::fileSystemPath(dir.file("dir.old"))));
  writeSample(dir.file("dir/sub/run.cdt"), 1);
  writeSample(dir.file("dir.old/run"), 2);
  writeSample(dir.file("a.b.cdt"), 1);
  writeSample(dir.file("-x.cdt"), 2);
  const RunResult r = convert({"dir/sub/run.cdt", "a.b.cdt", "-x.cdt", "dir.old/run"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, inOut("dir/sub/run.cdt", "run.csv") + inOut("a.b.cdt", "a.b.csv") +
                       inOut("-x.cdt", "-x.csv") + inOut("dir.old/run", "run.csv"));
  // The second run.csv replaced the first.
  EXPECT_EQ(readFile(dir.file("run.csv")), sampleCsv(2));
  EXPECT_EQ(readFile(dir.file("a.b.csv")), sampleCsv(1));
  EXPECT_EQ(readFile(dir.file("-x.csv")), sampleCsv(2));
  EXPECT_FALSE(fileExists(dir.file("dir/sub/run.csv")));
}

TEST_F(ConverterTest, DamagedRecordEndsTheFileQuietly) {
#ifdef _WIN32
  GTEST_SKIP() << "the CSV's lines end in CR LF on Windows (windows-end-to-end.sh compares them)";
#endif
  writeSample(dir.file("cut.cdt"), 4);
  std::string bytes = readFile(dir.file("cut.cdt"));
  // The third blade record (records alternate: blade, entries) gets type 9.
  const uint64_t dataOffset = loadU64(bytes.data() + kHeaderDataOffset);
  const uint64_t blade = sampleRecord(0)->fileSize();
  const uint64_t third = dataOffset + 2 * (blade + kEntriesBaseSize - kRecordCountSize);
  storeU16(bytes.data() + third + kRecordType, 9);
  writeFile(dir.file("cut.cdt"), bytes);
  const RunResult r = convert({"cut.cdt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, inOut("cut.cdt", "cut.csv"));
  // Records 0 and 1 were read: one closed group, one written at the finish.
  EXPECT_EQ(readFile(dir.file("cut.csv")), sampleCsv(2));
}

TEST_F(ConverterTest, NeverTruncatesTheInputItself) {
  writeSample(dir.file("x.csv"), 2);
  const std::string before = readFile(dir.file("x.csv"));
  writeSample(dir.file("ok.cdt"), 1);
  const RunResult r = convert({"x.csv", "ok.cdt", "./x.csv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, inOut("ok.cdt", "ok.csv"));
  EXPECT_EQ(r.err, prefix() + "Can not create output file 'x.csv'\n" + prefix() +
                       "Can not create output file 'x.csv'\n");
  EXPECT_EQ(readFile(dir.file("x.csv")), before);

  // Through a link the output is a different name, so it is written.
  std::error_code error;
  std::filesystem::create_symlink("x.csv", testing::fileSystemPath(dir.file("link.cdt")), error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  const RunResult viaLink = convert({"link.cdt"});
  EXPECT_EQ(viaLink.status, 0);
  EXPECT_EQ(readFile(dir.file("link.csv")), sampleCsv(2));
}

TEST_F(ConverterTest, UncreatableAndUnwritableOutputsFail) {
  writeSample(dir.file("full.cdt"), 50);
  writeSample(dir.file("dirout.cdt"), 1);
  writeSample(dir.file("ok.cdt"), 1);
  std::error_code error;
  std::filesystem::create_symlink("/dev/full", testing::fileSystemPath(dir.file("full.csv")),
                                  error);
  if (error || !std::filesystem::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full to link to here (scripts/windows-end-to-end.sh checks it)";
  }
  ASSERT_TRUE(std::filesystem::create_directory(testing::fileSystemPath(dir.file("dirout.csv"))));
  const RunResult r = convert({"full.cdt", "dirout.cdt", "ok.cdt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, inOut("full.cdt", "full.csv") + inOut("ok.cdt", "ok.csv"));
  EXPECT_EQ(r.err, prefix() + "Can not write output file 'full.csv'\n" + prefix() +
                       "Can not create output file 'dirout.csv'\n");
  EXPECT_EQ(readFile(dir.file("ok.csv")), sampleCsv(1));
}

// The loop itself, in-process with its own streams.
TEST(RunConverter, WritesMessagesToTheGivenStreams) {
#ifdef _WIN32
  GTEST_SKIP() << "the CSV's lines end in CR LF on Windows (windows-end-to-end.sh compares them)";
#endif
  TempDir dir;
  writeSample(dir.file("in.cdt"), 2);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  ASSERT_NE(out, nullptr);
  ASSERT_NE(err, nullptr);
  std::string program = "cdt2csv";
  std::string in = "in.cdt";
  std::string none = "none.cdt";
  char* argv[] = {program.data(), in.data(), none.data(), nullptr};
  const int status = runConverter(3, argv, out, err);
  EXPECT_EQ(runConverter(1, argv, out, err), 0);  // no input: nothing at all
  const std::string csv = readFile("in.csv");
  ASSERT_EQ(chdir(cwd), 0);
  auto text = [](std::FILE* f) {
    std::rewind(f);
    std::string s;
    for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
    std::fclose(f);
    return s;
  };
  EXPECT_EQ(status, 1);
  EXPECT_EQ(text(out), "cdt2csv: in=in.cdt, out=in.csv\n");
  EXPECT_EQ(text(err), "cdt2csv: Can not open input file 'none.cdt'\n");
  EXPECT_EQ(csv, sampleCsv(2));
}

}  // namespace
}  // namespace cdt
