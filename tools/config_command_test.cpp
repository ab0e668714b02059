// cdt config end to end: the embedded text out and back, and --check.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "config/config_text.h"
#include "datafile/format.h"
#include "foundation/byte_order.h"
#include "tools/tool_test_support.h"

namespace cdt {
namespace {

using testing::readFile;
using testing::runCdt;
using testing::RunResult;
using testing::splitLines;
using testing::synthRecording;
using testing::TempDir;
using testing::writeFile;

// The configuration block exactly as the data file holds it.
std::string embeddedText(const std::string& path) {
  const std::string bytes = readFile(path);
  const uint64_t length =
      loadU64(reinterpret_cast<const unsigned char*>(bytes.data()) + kHeaderConfigLength);
  return bytes.substr(kFileHeaderSize, length);
}

TEST(CdtConfig, WritesTheEmbeddedTextThatParsesBackToItself) {
#ifdef _WIN32
  GTEST_SKIP() << "the configuration text's lines end in CR LF on Windows; this compares LF";
#endif
  TempDir dir;
  const std::string path = synthRecording(dir.path(), {"--hosts", "2", "--stages", "2", "--blades",
                                                       "40,30", "--revolutions", "3"})
                               .at(0);
  const std::string embedded = embeddedText(path);
  ASSERT_TRUE(embedded.starts_with("Begin Configuration\n"));

  RunResult toOut = runCdt({"config", path});
  ASSERT_EQ(toOut.status, 0) << toOut.err;
  EXPECT_EQ(toOut.out, embedded);
  EXPECT_TRUE(toOut.err.empty());

  RunResult toFile = runCdt({"config", path, dir.file("rig.cfg")});
  ASSERT_EQ(toFile.status, 0) << toFile.err;
  EXPECT_TRUE(toFile.out.empty());
  EXPECT_EQ(readFile(dir.file("rig.cfg")), embedded);

  Configuration loaded;
  ASSERT_TRUE(loadConfigFile(loaded, dir.file("rig.cfg").c_str()));
  EXPECT_EQ(configToText(loaded, 0).view(), embedded);

  // An unfinished recording still carries its configuration.
  TempDir other;
  const std::string temp =
      synthRecording(other.path(), {"--revolutions", "3", "--unfinished"}).at(0);
  RunResult fromTemp = runCdt({"config", temp});
  EXPECT_EQ(fromTemp.status, 0);
  EXPECT_EQ(fromTemp.out, embeddedText(temp));
}

TEST(CdtConfig, CheckSaysWhetherATextParsedAndWhatItHolds) {
  TempDir dir;
  const std::string path =
      synthRecording(dir.path(), {"--probes", "3", "--revolutions", "3"}).at(0);
  const std::string text = embeddedText(path);
  writeFile(dir.file("good.cfg"), text);
  RunResult good = runCdt({"config", "--check", dir.file("good.cfg")});
  EXPECT_EQ(good.status, 0) << good.err;
  const auto lines = splitLines(good.out);
  ASSERT_GE(lines.size(), 10u);
  EXPECT_EQ(lines[0], dir.file("good.cfg") + ": parsed");
  EXPECT_EQ(lines[1], "  configuration: Rig1 (revision 0)");
  EXPECT_NE(good.out.find("\n        channel 2: Probe103 on Stage1\n        channel 3: -\n"),
            std::string::npos)
      << good.out;

  // Cut in the middle of the stage blocks: the structure is incomplete.
  writeFile(dir.file("cut.cfg"), text.substr(0, text.find("Begin Stage") + 20));
  RunResult cut = runCdt({"config", "--check", dir.file("cut.cfg")});
  EXPECT_EQ(cut.status, 1);
  EXPECT_TRUE(cut.out.starts_with(dir.file("cut.cfg") + ": did not parse")) << cut.out;

  writeFile(dir.file("empty.cfg"), "");
  RunResult empty = runCdt({"config", "--check", dir.file("empty.cfg")});
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.out, dir.file("empty.cfg") + ": empty, holds no configuration\n");

  for (const std::string& unreadable : {dir.file("missing.cfg"), dir.path()}) {
    RunResult r = runCdt({"config", "--check", unreadable});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cdt config: cannot read '" + unreadable + "'\n");
  }

  RunResult two = runCdt({"config", "--check", dir.file("good.cfg"), dir.file("cut.cfg")});
  EXPECT_EQ(two.status, 2);
  EXPECT_NE(two.err.find("--check takes exactly one text file"), std::string::npos);
}

TEST(CdtConfig, ReportsFilesItCannotReadOrWrite) {
  TempDir dir;
  RunResult missing = runCdt({"config", dir.file("none.cdt")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err,
            "cdt config: cannot read '" + dir.file("none.cdt") + "': cannot open the file\n");

  writeFile(dir.file("short.cdt"), "tiny");
  RunResult notData = runCdt({"config", dir.file("short.cdt")});
  EXPECT_EQ(notData.status, 1);
  EXPECT_NE(notData.err.find("header cut short"), std::string::npos) << notData.err;

  const std::string path = synthRecording(dir.path(), {"--revolutions", "2"}).at(0);
  writeFile(dir.file("plain"), "x");
  RunResult unwritable = runCdt({"config", path, dir.file("plain") + "/rig.cfg"});
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_EQ(unwritable.err, "cdt config: cannot write '" + dir.file("plain") + "/rig.cfg'\n");

  // The text never replaces the recording it comes from, by whatever name.
  const std::string recording = readFile(path);
  const std::string sameFile = dir.path() + "/./" + path.substr(path.find_last_of('/') + 1);
  RunResult over = runCdt({"config", path, sameFile});
  EXPECT_EQ(over.status, 2);
  EXPECT_TRUE(over.err.starts_with("cdt config: the output '" + sameFile + "' is the input file\n"))
      << over.err;
  EXPECT_TRUE(readFile(path) == recording);
}

}  // namespace
}  // namespace cdt
