// cdt sets, end to end through the built tool.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/config_text.h"
#include "foundation/time_text.h"
#include "tools/record_test_support.h"

namespace cdt {
namespace {

using testing::runCdt;
using testing::RunResult;
using testing::TempDir;
using testing::writeFile;

// "Rig", revision 0, with hosts Daq1 on computer acq01 and Daq2 on acq02.
Configuration twoHosts() {
  Configuration c;
  c.setName("Rig");
  c.insertHost(0, "acq01");
  c.insertHost(1, "acq02");
  return c;
}

// Writes an empty recording of `base` (name, revision and host) at `when`.
void record(const Configuration& c, const std::string& directory, const std::string& base,
            const char* when) {
  auto file = createTimestampedDataFile(c, directory.c_str(), base.c_str(), *parseTimeText(when));
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(closeDataFile(*file));
}

class SetsTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir.file(name); }

  TempDir dir;
  Configuration rig = twoHosts();
};

TEST_F(SetsTest, GroupsTheFilesOfTheHostsInTimeOrder) {
  record(rig, path("d"), "Rig.0000.Daq1", "2011-05-06T13:00:00");
  record(rig, path("d"), "Rig.0000.Daq1", "2011-05-06T12:30:45");
  record(rig, path("d"), "Rig.0000.Daq2", "2011-05-06T12:30:45");
  record(rig, path("d"), "Rig.0000.Daq2", "2011-05-06T12:00:00");
  // Neither a finished name nor one with a time.
  writeFile(path("d/Rig.0000.Daq1.2011-05-06.14-00-00.cdt.temp"), "");
  writeFile(path("d/Rig.0000.Daq1.notes.txt"), "");

  const RunResult r = runCdt({"sets", "d"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "2011-05-06T12:00:00Z\t-\td/Rig.0000.Daq2.2011-05-06.12-00-00.cdt\n"
            "2011-05-06T12:30:45Z\td/Rig.0000.Daq1.2011-05-06.12-30-45.cdt\t"
            "d/Rig.0000.Daq2.2011-05-06.12-30-45.cdt\n"
            "2011-05-06T13:00:00Z\td/Rig.0000.Daq1.2011-05-06.13-00-00.cdt\t-\n");
}

TEST_F(SetsTest, FindsTheOtherHostsInDirectoriesNamedAfterTheirComputers) {
  record(rig, path("d/acq01"), "Rig.0000.Daq1", "2011-05-06T12:30:45");
  record(rig, path("d/acq02"), "Rig.0000.Daq2", "2011-05-06T12:30:45");
  const RunResult r = runCdt({"sets", "d/acq01/"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "2011-05-06T12:30:45Z\td/acq01/Rig.0000.Daq1.2011-05-06.12-30-45.cdt\t"
            "d/acq02/Rig.0000.Daq2.2011-05-06.12-30-45.cdt\n");
}

TEST_F(SetsTest, ConfigurationTextChoosesTheRecordings) {
  // Another installation's file comes first in name order, so without
  // --config its configuration is the one used.
  Configuration other = twoHosts();
  other.setName("Bench");
  record(other, path("d"), "Bench.0000.Daq1", "2011-05-06T11:00:00");
  record(rig, path("d"), "Rig.0000.Daq1", "2011-05-06T12:30:45");
  writeFile(path("rig.txt"), configToText(rig, 0).str());
  Configuration later = rig;
  later.revision = 7;
  writeFile(path("rig7.txt"), configToText(later, 0).str());

  const RunResult byFile = runCdt({"sets", "d"}, dir.path());
  EXPECT_EQ(byFile.status, 0);
  EXPECT_EQ(byFile.out, "2011-05-06T11:00:00Z\td/Bench.0000.Daq1.2011-05-06.11-00-00.cdt\t-\n");

  const RunResult byText = runCdt({"sets", "--config", "rig.txt", "d"}, dir.path());
  EXPECT_EQ(byText.status, 0);
  EXPECT_EQ(byText.out, "2011-05-06T12:30:45Z\td/Rig.0000.Daq1.2011-05-06.12-30-45.cdt\t-\n");

  // Files of another revision do not belong to the configuration.
  const RunResult none = runCdt({"sets", "--config=rig7.txt", "d"}, dir.path());
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "");
}

TEST_F(SetsTest, SynthesizedHostsFormOneRecording) {
  const RunResult synth =
      runCdt({"synth", "--hosts", "3", "--revolutions", "5", "--name", "Cell", "s"}, dir.path());
  ASSERT_EQ(synth.status, 0) << synth.err;
  // synth prints the paths of its files, one per host in host order.
  std::string expected = "2011-05-06T12:30:00Z";
  for (const std::string& line : testing::splitLines(synth.out)) expected += "\t" + line;
  const RunResult r = runCdt({"sets", "s"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, expected + "\n");
}

TEST_F(SetsTest, BadArgumentsAndMissingInputsFail) {
  ASSERT_EQ(mkdir(path("empty").c_str(), 0777), 0);
  writeFile(path("plain"), "");
  Configuration empty;
  empty.setName("Empty");
  writeFile(path("nohosts.txt"), configToText(empty, 0).str());
  record(rig, path("d"), "Rig.0000.Daq1", "2011-05-06T12:30:45");

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"sets", "nowhere"}, 1, "cdt sets: 'nowhere' is not a directory that can be read\n"},
      {{"sets", "plain"}, 1, "cdt sets: 'plain' is not a directory that can be read\n"},
      {{"sets", "empty"},
       1,
       "cdt sets: no readable data file in 'empty' to take the configuration from\n"},
      {{"sets", "--config", "missing.txt", "d"},
       1,
       "cdt sets: cannot read the configuration text 'missing.txt'\n"},
      {{"sets", "--config", "nohosts.txt", "d"},
       1,
       "cdt sets: the configuration 'Empty' has no hosts\n"},
      {{"sets"}, 2, "cdt sets: missing argument\n"},
      {{"sets", "d", "e"}, 2, "cdt sets: unexpected argument 'e'\n"},
      {{"sets", "d", "--config"}, 2, "cdt sets: option '--config' needs a value (FILE)\n"},
  };
  for (const Case& c : cases) {
    const RunResult r = runCdt(c.args, dir.path());
    EXPECT_EQ(r.status, c.status) << c.message;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), c.message);
  }
}

// A directory that cannot be listed is no empty directory, even when the
// configuration comes from a text.
TEST_F(SetsTest, DirectoryThatCannotBeListedFails) {
  if (geteuid() == 0) GTEST_SKIP() << "the superuser lists every directory";
  record(rig, path("d"), "Rig.0000.Daq1", "2011-05-06T12:30:45");
  writeFile(path("rig.txt"), configToText(rig, 0).str());
  ASSERT_EQ(chmod(path("d").c_str(), 0300), 0);
  const RunResult r = runCdt({"sets", "--config", "rig.txt", "d"}, dir.path());
  ASSERT_EQ(chmod(path("d").c_str(), 0700), 0);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "cdt sets: 'd' is not a directory that can be read\n");
}

}  // namespace
}  // namespace cdt

namespace cdt {
namespace {

TEST(SetsJson, TellsPerHostWhatItMissesOfTheSet) {
  testing::TempDir dir;
  const testing::RunResult made =
      testing::runCdt({"synth", "--hosts", "2", "--revolutions", "50", "--blades", "2", "--drop",
                       "2:5", "--late", "2:3", "--resync", "30", "d"},
                      dir.path());
  ASSERT_EQ(made.status, 0) << made.err;
  const testing::RunResult r = testing::runCdt({"sets", "--json", "d"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  // Host 2 records 47 revolutions and drops 9 of them: 12 of the 50 missing.
  EXPECT_EQ(r.out,
            "{\"time\":\"2011-05-06T12:30:00Z\",\"master\":\"Daq1\",\"lines\":50,\"agree\":false,"
            "\"hosts\":[{\"name\":\"Daq1\",\"file\":\"d/Rig1.0000.Daq1.2011-05-06.12-30-00.cdt\","
            "\"lines\":50,\"missing\":0,\"time_off\":0,\"speed_off\":0,\"restarts\":1,"
            "\"first_rev\":1,\"last_rev\":21},{\"name\":\"Daq2\","
            "\"file\":\"d/Rig1.0000.Daq2.2011-05-06.12-30-00.cdt\",\"lines\":38,\"missing\":12,"
            "\"time_off\":0,\"speed_off\":0,\"restarts\":1,\"first_rev\":4,\"last_rev\":21}]}\n");
}

}  // namespace
}  // namespace cdt
