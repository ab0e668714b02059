// cdt export --set against evidence that knows nothing of sets: the hosts'
// own CSVs. A set line's cells of a host are those of one line of that
// host's CSV, each host's lines used once and in order; a host without a
// line there has empty cells.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "csv/number_format.h"
#include "tools/export_test_support.h"

#if __has_include(<netcdf.h>)
#include <netcdf.h>
#endif
#if __has_include(<matio.h>) && defined(CDT_TEST_MATIO)
#include <matio.h>
#endif

namespace cdt {
namespace {

using testing::readFile;
using testing::Row;
using testing::runCdt;
using testing::RunResult;
using testing::splitLines;
using testing::synthRecording;
using testing::table;

const char* const kSetName = "Rig1.0000.2011-05-06.12-30-00";

// A set of three hosts of two probes each, whose hosts differ: host 2
// drops every 7th revolution, host 3 starts 5 revolutions late, and every
// counter restarts at revolution 40. Probe "Same" is on host 1 and host 2.
// Every 4th revolution records the default quiet NaN in some cells, which
// the hosts' CSVs print as nan, never as an empty cell.
class ExportSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    files = synthRecording(
        dir.file("rec"), {"--hosts",     "3",   "--revolutions", "60",
                          "--probes",    "2",   "--blades",      "3",
                          "--extras",    "0",   "--drop",        "2:7",
                          "--late",      "3:5", "--resync",      "40",
                          "--nan-cells", "4",   "--probe-names", "Same,P102,Same,P104,P105,P106"});
    ASSERT_EQ(files.size(), 3u);
    for (const std::string& file : files) {
      relative.push_back("rec/" + file.substr(file.rfind('/') + 1));
      const RunResult r = runCdt({"export", "-o", "wide", file}, dir.path());
      ASSERT_EQ(r.status, 0) << r.err;
      ASSERT_EQ(runCdt({"export", "-o", "long", "--layout", "long", file}, dir.path()).status, 0);
      const std::string name = file.substr(file.rfind('/') + 1, file.size() - file.rfind('/') - 5);
      hostWide.push_back(table(dir.file("wide/" + name + ".csv")));
      hostLong.push_back(table(dir.file("long/" + name + ".csv")));
    }
  }

  testing::TempDir dir;
  std::vector<std::string> files;
  std::vector<std::string> relative;  // as the set's discovery in "rec" names them
  std::vector<std::vector<Row>> hostWide, hostLong;
};

Row tail(const Row& row, size_t from) {
  return Row(row.begin() + static_cast<std::ptrdiff_t>(from), row.end());
}

TEST_F(ExportSetTest, WideAndLongCsvsAreTheHostsCsvsJoined) {
  RunResult r = runCdt({"export", "--set", "-o", "set", "rec"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "cdt export: in=" + relative[0] + ", out=set/" + kSetName + ".csv\n");
  EXPECT_EQ(r.err, "");
  const std::vector<Row> set = table(dir.file(std::string("set/") + kSetName + ".csv"));
  // The long layout, named by one of the set's files.
  r = runCdt({"export", "--set", "-o", "setlong", "--layout", "long", files[1]}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<Row> setLong = table(dir.file(std::string("setlong/") + kSetName + ".csv"));

  Row header(set[0].begin(), set[0].begin() + 5);
  for (const auto& host : hostWide) {
    const Row own = tail(host[0], 5);
    header.insert(header.end(), own.begin(), own.end());
  }
  for (const char* h : {"Daq1 Status", "Daq2 Status", "Daq3 Status"}) header.push_back(h);
  EXPECT_EQ(set[0], header);
  EXPECT_EQ(setLong[0], (Row{"Time", "Speed", "Sync", "Start Rev", "End Rev", "Probe", "Blade",
                             "DNS", "TOA", "Status"}));

  const size_t width = 16;       // a host's cells: 2 probes x (RMS, DNS, 3 DNS, 3 TOA)
  const size_t rowsPerLine = 6;  // a host's long rows per line: 2 probes x 3 blades
  size_t used[3] = {1, 1, 1};    // the next line of each host's CSV
  size_t longRow = 1;
  size_t missing[3] = {};
  for (size_t i = 1; i < set.size(); ++i) {
    const Row& line = set[i];
    ASSERT_EQ(line.size(), header.size()) << i;
    bool led = false;
    for (size_t h = 0; h < 3; ++h) {
      const std::string& status = line[5 + 3 * width + h];
      const Row cells(line.begin() + static_cast<std::ptrdiff_t>(5 + h * width),
                      line.begin() + static_cast<std::ptrdiff_t>(5 + (h + 1) * width));
      if (status == "1") {
        ++missing[h];
        EXPECT_EQ(cells, Row(width, "")) << i;
        continue;
      }
      ASSERT_LT(used[h], hostWide[h].size()) << i;
      const Row& own = hostWide[h][used[h]];
      EXPECT_EQ(tail(own, 5), cells) << "set line " << i << " host " << h;
      EXPECT_EQ(Row(own.begin() + 3, own.begin() + 5), Row(line.begin() + 3, line.begin() + 5));
      if (!led) {  // the first host present gives Time, Speed and Sync
        EXPECT_EQ(Row(own.begin(), own.begin() + 3), Row(line.begin(), line.begin() + 3)) << i;
        led = true;
      }
      // Its long rows: the set line's lead, the host's own cells, the status.
      for (size_t k = 0; k < rowsPerLine; ++k) {
        Row expected(line.begin(), line.begin() + 5);
        Row mine = tail(hostLong[h][(used[h] - 1) * rowsPerLine + 1 + k], 5);
        if (mine[0] == "Same") mine[0] = "Same (Daq" + std::to_string(h + 1) + " channel 0)";
        expected.insert(expected.end(), mine.begin(), mine.end());
        expected.push_back(status);
        ASSERT_LT(longRow, setLong.size());
        EXPECT_EQ(setLong[longRow++], expected) << i;
      }
      ++used[h];
    }
  }
  EXPECT_EQ(longRow, setLong.size());
  for (size_t h = 0; h < 3; ++h) EXPECT_EQ(used[h], hostWide[h].size()) << "host " << h;
  EXPECT_EQ(missing[0], 0u);
  EXPECT_GE(missing[1], 8u);  // its dropped revolutions
  EXPECT_GE(missing[2], 5u);  // its late start
}

TEST_F(ExportSetTest, ASelectionAppliesToEveryHost) {
  RunResult r = runCdt({"export", "--set", "-o", "sel", "--probes", "Same,P105", "--blades", "2",
                        "--quantities", "rms,blade-dns", "rec"},
                       dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<Row> set = table(dir.file(std::string("sel/") + kSetName + ".csv"));
  EXPECT_EQ(set[0], (Row{"Time", "Speed", "Sync", "Start Rev", "End Rev", "Same RMS",
                         "Same Blade2 DNS", "Same RMS", "Same Blade2 DNS", "P105 RMS",
                         "P105 Blade2 DNS", "Daq1 Status", "Daq2 Status", "Daq3 Status"}));
  // By key, the second "Same" alone; a name of no host is a usage error.
  r = runCdt({"export", "--set", "-o", "key", "--probes", "Same (Daq2 channel 0)", "rec"},
             dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(table(dir.file(std::string("key/") + kSetName + ".csv"))[0].size(), 5u + 8 + 3);
  r = runCdt({"export", "--set", "-o", "none", "--probes", "Nope", "rec"}, dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("has no probe 'Nope' (its probes: Same (Daq1 channel 0), P102, Same "
                       "(Daq2 channel 0), P104, P105, P106)"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("none")) &&
               !std::filesystem::is_empty(dir.file("none")));
  // Usage: --time only with --set, --host never with it; a path of no set.
  EXPECT_EQ(runCdt({"export", "--time", "2011-05-06T12:30:00Z", files[0]}, dir.path()).status, 2);
  EXPECT_EQ(runCdt({"export", "--set", "--host", "Daq1", "rec"}, dir.path()).status, 2);
  r = runCdt({"export", "--set", "-o", "t", "--time", "2011-05-06T12:30:00Z", "rec", "nowhere"},
             dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "cdt export: 'nowhere' names no recording set: no such file or directory\n");
  EXPECT_TRUE(std::filesystem::exists(dir.file(std::string("t/") + kSetName + ".csv")));
}

// A host's file that cannot be read: the set without it, and status 1; a
// damaged tail: the lines before it, with the single file's warning.
TEST_F(ExportSetTest, AnUnreadableHostIsLeftOutAndReported) {
  testing::writeFile(files[1], "not a data file");
  RunResult r = runCdt({"export", "--set", "-o", "part", files[0]}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot read '" + files[1] + "'"), std::string::npos) << r.err;
  const std::vector<Row> set = table(dir.file(std::string("part/") + kSetName + ".csv"));
  EXPECT_EQ(set[0].back(), "Daq3 Status");
  EXPECT_EQ(set[0].size(), 5u + 2 * 16 + 2);
  // Damaged tails (every host's last record cut short).
  const std::vector<std::string> cut = synthRecording(
      dir.file("cut"), {"--hosts", "2", "--revolutions", "20", "--extras", "0", "--damage"});
  r = runCdt({"export", "--set", "-o", "cutout", "cut"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  for (const std::string& file : cut) {
    const std::string name = "cut/" + file.substr(file.rfind('/') + 1);
    EXPECT_NE(r.err.find("warning: reading '" + name + "' stopped at offset"), std::string::npos)
        << r.err;
  }
  // The lines before the damage, as the master's own export has them.
  ASSERT_EQ(runCdt({"export", "-o", "cutone", cut[0]}, dir.path()).status, 0);
  EXPECT_EQ(table(dir.file(std::string("cutout/") + kSetName + ".csv")).size(),
            table(dir.file("cutone/Rig1.0000.Daq1.2011-05-06.12-30-00.csv")).size());
}

TEST(ExportSet, ASetOfOneHostIsItsFileWithTheStatusColumn) {
  testing::TempDir dir;
  const std::string file =
      synthRecording(dir.file("one"), {"--revolutions", "30", "--blades", "4"}).at(0);
  ASSERT_EQ(runCdt({"export", "-o", "single", file}, dir.path()).status, 0);
  const RunResult r = runCdt({"export", "--set", "-o", "set", file}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> expected =
      splitLines(readFile(dir.file("single/Rig1.0000.Daq1.2011-05-06.12-30-00.csv")));
  expected[0] += ",Daq1 Status";
  for (size_t i = 1; i < expected.size(); ++i) expected[i] += ",0";
  EXPECT_EQ(splitLines(readFile(dir.file(std::string("set/") + kSetName + ".csv"))), expected);
}

#if __has_include(<netcdf.h>)
// The netCDF file holds the set CSV's values: each probe's variables (named
// after its key), their fill value exactly where a cell is empty and NaN
// where it is nan, and each host's status.
TEST_F(ExportSetTest, NetCdfHoldsTheSetsValuesAndStatuses) {
  ASSERT_EQ(runCdt({"export", "--set", "-o", "set", "rec"}, dir.path()).status, 0);
  const std::vector<Row> set = table(dir.file(std::string("set/") + kSetName + ".csv"));
  RunResult r = runCdt({"export", "--set", "-o", "nc", "--format", "netcdf", "rec"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  int nc = -1;
  ASSERT_EQ(nc_open(dir.file(std::string("nc/") + kSetName + ".nc").c_str(), NC_NOWRITE, &nc),
            NC_NOERR);
  const size_t lines = set.size() - 1;
  const auto column = [&](const std::string& name) {
    for (size_t c = 0; c < set[0].size(); ++c) {
      if (set[0][c] == name) return c;
    }
    ADD_FAILURE() << name;
    return size_t{0};
  };
  for (const auto& [variable, header] : std::map<std::string, std::string>{
           {"Same__Daq2_channel_0__rms", "Same RMS"}, {"P105_rms", "P105 RMS"}}) {
    int id = -1;
    ASSERT_EQ(nc_inq_varid(nc, variable.c_str(), &id), NC_NOERR) << variable;
    std::vector<float> values(lines);
    ASSERT_EQ(nc_get_var_float(nc, id, values.data()), NC_NOERR);
    float fill = 0;
    ASSERT_EQ(nc_get_att_float(nc, id, "_FillValue", &fill), NC_NOERR);
    EXPECT_FALSE(std::isnan(fill));
    // The second "Same RMS" column is host 2's.
    const size_t c = variable[0] == 'S' ? column("P102 RMS") + 8 : column(header);
    size_t empty = 0, nan = 0;
    for (size_t i = 0; i < lines; ++i) {
      char text[kNumberRoom];
      EXPECT_EQ(values[i] == fill ? "" : std::string(text, formatG8(text, values[i])),
                set[i + 1][c])
          << variable << " line " << i;
      empty += set[i + 1][c].empty();
      nan += set[i + 1][c] == "nan";
    }
    EXPECT_TRUE(empty > 0 && nan > 0) << variable;
  }
  for (const char* host : {"Daq1", "Daq2", "Daq3"}) {
    int id = -1;
    ASSERT_EQ(nc_inq_varid(nc, (std::string(host) + "_Status").c_str(), &id), NC_NOERR) << host;
    std::vector<uint8_t> status(lines);
    ASSERT_EQ(nc_get_var_uchar(nc, id, status.data()), NC_NOERR);
    const size_t c = column(std::string(host) + " Status");
    for (size_t i = 0; i < lines; ++i) EXPECT_EQ(std::to_string(status[i]), set[i + 1][c]);
  }
  size_t length = 0;
  ASSERT_EQ(nc_inq_attlen(nc, NC_GLOBAL, "sources", &length), NC_NOERR);
  std::string sources(length, '\0');
  ASSERT_EQ(nc_get_att_text(nc, NC_GLOBAL, "sources", sources.data()), NC_NOERR);
  EXPECT_EQ(sources, relative[0] + "\n" + relative[1] + "\n" + relative[2]);
  nc_close(nc);
}

// A set of more lines than a batch of the export holds (a set's batches are
// shorter than a file's): every line of the netCDF file is the set CSV's,
// across the batches' edges, where hosts lack lines.
TEST(ExportSet, NetCdfOfManyBatchesHoldsEveryLine) {
  testing::TempDir dir;
  ASSERT_EQ(synthRecording(dir.file("rec"), {"--hosts", "3", "--revolutions", "2600", "--probes",
                                             "1", "--blades", "2", "--extras", "0", "--drop", "2:7",
                                             "--late", "3:1500", "--probe-names", "P1,P2,P3"})
                .size(),
            3u);
  ASSERT_EQ(runCdt({"export", "--set", "-o", "set", "rec"}, dir.path()).status, 0);
  const RunResult r =
      runCdt({"export", "--set", "-o", "nc", "--format", "netcdf", "rec"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<Row> set = table(dir.file(std::string("set/") + kSetName + ".csv"));
  const size_t lines = set.size() - 1;
  ASSERT_EQ(lines, 2600u);
  int nc = -1;
  ASSERT_EQ(nc_open(dir.file(std::string("nc/") + kSetName + ".nc").c_str(), NC_NOWRITE, &nc),
            NC_NOERR);
  for (size_t c = 0; c < set[0].size(); ++c) {
    const std::string& header = set[0][c];
    std::string variable;
    bool status = false;
    if (header.size() > 4 && header.compare(header.size() - 4, 4, " RMS") == 0) {
      variable = header.substr(0, header.size() - 4) + "_rms";
    } else if (header.size() > 7 && header.compare(header.size() - 7, 7, " Status") == 0) {
      variable = header.substr(0, header.size() - 7) + "_Status";
      status = true;
    } else {
      continue;
    }
    int id = -1;
    ASSERT_EQ(nc_inq_varid(nc, variable.c_str(), &id), NC_NOERR) << variable;
    std::vector<float> values(lines);
    ASSERT_EQ(nc_get_var_float(nc, id, values.data()), NC_NOERR) << variable;
    for (size_t i = 0; i < lines; ++i) {
      char text[kNumberRoom];
      const std::string cell = status ? std::to_string(static_cast<int>(values[i]))
                               : values[i] == NC_FILL_FLOAT
                                   ? std::string()
                                   : std::string(text, formatG8(text, values[i]));
      ASSERT_EQ(cell, set[i + 1][c]) << variable << " line " << i;
    }
  }
  nc_close(nc);
}
#endif

}  // namespace
}  // namespace cdt
