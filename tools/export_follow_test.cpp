// cdt export --follow: a writer records while the follower runs.
#include "tools/export_follow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "csv/csv_test_support.h"
#include "datafile/data_file.h"
#include "tools/tool_test_support.h"

namespace cdt {
namespace {

using namespace std::chrono_literals;
using testing::readFile;
using testing::runCdt;
using testing::RunResult;
using testing::TempDir;

const std::string kDaq1 = "rec/Rig1.0000.Daq1.2011-05-06.12-30-00.cdt";
const std::string kDaq2 = "rec/Rig1.0000.Daq2.2011-05-06.12-30-00.cdt";
const std::string kCsv1 = "Rig1.0000.Daq1.2011-05-06.12-30-00.csv";
const std::string kCsv2 = "Rig1.0000.Daq2.2011-05-06.12-30-00.csv";

TEST(ExportFollow, FollowedOutputsAreThoseOfTheFinishedFiles) {
  TempDir dir;
  // About 1.5 s of writing; the follower starts first, before the files
  // exist, one by its final name, the other by its ".temp" name.
  RunResult writer;
  std::thread writing([&] {
    std::this_thread::sleep_for(100ms);
    writer = runCdt({"synth", "--live", "50", "--hosts", "2", "--revolutions", "3000", "--profiles",
                     "40", "--drop", "2:9", "rec"},
                    dir.path());
  });
  // netCDF along its line dimension, where this build has the library.
  RunResult netcdf;
  std::thread columns([&] {
    netcdf = runCdt({"export", "--follow", "--format", "netcdf", "--probes", "1,3", "--blades",
                     "2-9", "-o", "nc", kDaq1},
                    dir.path());
  });
  // Parquet, its row groups as they fill, in the long layout.
  RunResult parquet;
  std::thread rows([&] {
    parquet =
        runCdt({"export", "--follow", "--format", "parquet", "--layout", "long", "-o", "pq", kDaq1},
               dir.path());
  });
  const RunResult wide = runCdt(
      {"export", "--follow", "--idle", "30", "-o", "fol", kDaq1, kDaq2 + ".temp"}, dir.path());
  writing.join();
  columns.join();
  rows.join();
  ASSERT_EQ(writer.status, 0) << writer.err;
  ASSERT_EQ(wide.status, 0) << wide.err;
  EXPECT_EQ(wide.err, "");
  EXPECT_EQ(wide.out, "cdt export: in=" + kDaq1 + ", out=fol/" + kCsv1 +
                          "\ncdt export: in=" + kDaq2 + ".temp, out=fol/" + kCsv2 + "\n");
  const RunResult finished = runCdt({"export", "-o", "whole", kDaq1, kDaq2}, dir.path());
  ASSERT_EQ(finished.status, 0) << finished.err;
  EXPECT_EQ(readFile(dir.file("fol/" + kCsv1)), readFile(dir.file("whole/" + kCsv1)));
  EXPECT_EQ(readFile(dir.file("fol/" + kCsv2)), readFile(dir.file("whole/" + kCsv2)));
  EXPECT_GT(readFile(dir.file("whole/" + kCsv1)).size(), 1000000u);
  if (netcdf.status != 2) {
    ASSERT_EQ(netcdf.status, 0) << netcdf.err;
    ASSERT_EQ(runCdt({"export", "--format", "netcdf", "--probes", "1,3", "--blades", "2-9", "-o",
                      "nc-whole", kDaq1},
                     dir.path())
                  .status,
              0);
    const std::string nc = "Rig1.0000.Daq1.2011-05-06.12-30-00.nc";
    EXPECT_EQ(readFile(dir.file("nc/" + nc)), readFile(dir.file("nc-whole/" + nc)));
  }
  ASSERT_EQ(parquet.status, 0) << parquet.err;
  ASSERT_EQ(runCdt({"export", "--format", "parquet", "--layout", "long", "-o", "pq-whole", kDaq1},
                   dir.path())
                .status,
            0);
  const std::string pq = "Rig1.0000.Daq1.2011-05-06.12-30-00.parquet";
  EXPECT_EQ(readFile(dir.file("pq/" + pq)), readFile(dir.file("pq-whole/" + pq)));
}

TEST(ExportFollow, AWriterThatDiesGivesTheLinesRecoverKeeps) {
  TempDir dir;
  RunResult writer;
  std::thread writing([&] {
    writer = runCdt({"synth", "--live", "50", "--revolutions", "1500", "--unfinished", "rec"},
                    dir.path());
  });
  const RunResult followed = runCdt({"export", "--follow", "--idle", "5", "--layout", "long",
                                     "--probes", "1,3", "-o", "fol", kDaq1},
                                    dir.path());
  writing.join();
  ASSERT_EQ(writer.status, 0) << writer.err;
  EXPECT_EQ(followed.status, 0) << followed.err;
  EXPECT_NE(followed.err.find("warning: '" + kDaq1 + ".temp' has not grown for 5 s"),
            std::string::npos)
      << followed.err;
  EXPECT_NE(followed.err.find("record cut short"), std::string::npos) << followed.err;
  ASSERT_EQ(runCdt({"recover", kDaq1 + ".temp", "recovered.cdt"}, dir.path()).status, 0);
  ASSERT_EQ(
      runCdt({"export", "--layout", "long", "--probes", "1,3", "recovered.cdt"}, dir.path()).status,
      0);
  EXPECT_EQ(readFile(dir.file("fol/" + kCsv1)), readFile(dir.file("recovered.csv")));
}

// A writer that starts over in the same file, never making it shorter: the
// followed lines would not be the finished file's, so the follow fails, names
// why and leaves no output. Each pass lasts seconds: a follow that starts
// late still reads bytes the second pass changes afterwards.
TEST(ExportFollow, AFileRewrittenInPlaceFailsTheFollow) {
  TempDir dir;
  RunResult writer;
  std::thread writing([&] {
    writer = runCdt({"synth", "--live", "2", "--revolutions", "400", "--start-over", "200", "rec"},
                    dir.path());
  });
  const RunResult followed =
      runCdt({"export", "--follow", "--idle", "30", "-o", "fol", kDaq1}, dir.path());
  writing.join();
  ASSERT_EQ(writer.status, 0) << writer.err;
  EXPECT_EQ(followed.status, 1) << followed.err;
  EXPECT_NE(followed.err.find("cannot follow '" + kDaq1 +
                              "': records already read were written "
                              "again (the file was rewritten in place)"),
            std::string::npos)
      << followed.err;
  EXPECT_FALSE(testing::fileExists(dir.file("fol/" + kCsv1)));
  EXPECT_FALSE(testing::fileExists(dir.file("fol/" + kCsv1 + ".part")));
  // The finished file is the one a writer that never started over makes.
  ASSERT_EQ(runCdt({"synth", "--live", "max", "--revolutions", "400", "plain"}, dir.path()).status,
            0);
  ASSERT_EQ(runCdt({"export", "-o", "a", kDaq1}, dir.path()).status, 0);
  ASSERT_EQ(runCdt({"export", "-o", "b", "plain/" + kDaq1.substr(4)}, dir.path()).status, 0);
  EXPECT_EQ(readFile(dir.file("a/" + kCsv1)), readFile(dir.file("b/" + kCsv1)));
}

TEST(ExportFollow, ADirectoryGivesTheSetItsHostsStartThere) {
  TempDir dir;
  std::filesystem::create_directory(testing::fileSystemPath(dir.file("rec")));
  RunResult writer;
  std::thread writing([&] {
    std::this_thread::sleep_for(200ms);
    writer = runCdt({"synth", "--live", "50", "--hosts", "2", "--revolutions", "800", "rec"},
                    dir.path());
  });
  const RunResult followed =
      runCdt({"export", "--follow", "--idle", "20", "-o", "fol", "rec"}, dir.path());
  writing.join();
  ASSERT_EQ(writer.status, 0) << writer.err;
  ASSERT_EQ(followed.status, 0) << followed.err;
  EXPECT_EQ(followed.out, "cdt export: in=" + kDaq1 + ", out=fol/" + kCsv1 +
                              "\ncdt export: in=" + kDaq2 + ", out=fol/" + kCsv2 + "\n");
  ASSERT_EQ(runCdt({"export", "-o", "whole", kDaq1, kDaq2}, dir.path()).status, 0);
  EXPECT_EQ(readFile(dir.file("fol/" + kCsv1)), readFile(dir.file("whole/" + kCsv1)));
  EXPECT_EQ(readFile(dir.file("fol/" + kCsv2)), readFile(dir.file("whole/" + kCsv2)));
}

// A set followed as it is written (counters restarting every few
// revolutions, a host dropping lines, one starting late, one clock off,
// more lines than a host's ring holds) gives exactly the export of the
// finished set, in each format --follow writes; a host's file that cannot
// be followed fails the set with its name and leaves no output.
TEST(ExportFollow, AFollowedSetIsTheExportOfTheFinishedSet) {
  TempDir dir;
  std::filesystem::create_directory(testing::fileSystemPath(dir.file("rec")));
  RunResult writer;
  std::thread writing([&] {
    std::this_thread::sleep_for(100ms);
    writer = runCdt({"synth", "--live",         "50",      "--hosts",  "3",   "--revolutions",
                     "5000",  "--probes",       "2",       "--blades", "6",   "--resync",
                     "300/7", "--resync",       "2:40/13", "--drop",   "2:9", "--late",
                     "3:25",  "--clock-offset", "3:40",    "rec"},
                    dir.path());
  });
  // Parquet in the long layout, by the directory; netCDF, where this build
  // has it, by a host's ".temp" name; wide CSV by the master's final name.
  RunResult parquet;
  std::thread rows([&] {
    parquet = runCdt({"export", "--follow", "--set", "--format", "parquet", "--layout", "long",
                      "-o", "pq", "rec"},
                     dir.path());
  });
  RunResult netcdf;
  std::thread columns([&] {
    std::this_thread::sleep_for(300ms);
    netcdf = runCdt({"export", "--follow", "--set", "--format", "netcdf", "--probes", "1,3", "-o",
                     "nc", kDaq2 + ".temp"},
                    dir.path());
  });
  const RunResult wide = runCdt({"export", "--follow", "--set", "-o", "fol", kDaq1}, dir.path());
  writing.join();
  rows.join();
  columns.join();
  ASSERT_EQ(writer.status, 0) << writer.err;
  ASSERT_EQ(wide.status, 0) << wide.err;
  const std::string stem = "Rig1.0000.2011-05-06.12-30-00";
  EXPECT_EQ(wide.out, "cdt export: in=" + kDaq1 + ", out=fol/" + stem + ".csv\n");
  // Each followed output equals the export of the finished set with the
  // same options.
  const auto expectFinished = [&](std::vector<std::string> options, const std::string& out,
                                  const std::string& extension) {
    options.insert(options.begin(), {"export", "--set"});
    options.insert(options.end(), {"-o", out + "-whole", "rec"});
    const RunResult whole = runCdt(options, dir.path());
    ASSERT_EQ(whole.status, 0) << whole.err;
    const std::string finished = readFile(dir.file(out + "-whole/" + stem + extension));
    EXPECT_FALSE(finished.empty()) << out;
    EXPECT_TRUE(readFile(dir.file(out + "/" + stem + extension)) == finished) << out;
  };
  expectFinished({}, "fol", ".csv");
  const std::string csv = readFile(dir.file("fol/" + stem + ".csv"));
  EXPECT_GT(std::count(csv.begin(), csv.end(), '\n'), 5000);
  ASSERT_EQ(parquet.status, 0) << parquet.err;
  expectFinished({"--format", "parquet", "--layout", "long"}, "pq", ".parquet");
  if (netcdf.status != 2) {
    ASSERT_EQ(netcdf.status, 0) << netcdf.err;
    expectFinished({"--format", "netcdf", "--probes", "1,3"}, "nc", ".nc");
  }

  // A host's file that is no data file: the set is not exported.
  std::filesystem::create_directory(testing::fileSystemPath(dir.file("bad")));
  std::filesystem::copy_file(
      testing::fileSystemPath(dir.file(kDaq1)),
      testing::fileSystemPath(dir.file("bad/Rig1.0000.Daq1.2011-05-06.12-30-00.cdt")));
  testing::writeFile(dir.file("bad/Rig1.0000.Daq2.2011-05-06.12-30-00.cdt"), "not a data file");
  const RunResult bad = runCdt({"export", "--follow", "--set", "--idle", "2", "-o", "out",
                                "bad/Rig1.0000.Daq1.2011-05-06.12-30-00.cdt"},
                               dir.path());
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("cannot follow 'bad/Rig1.0000.Daq2.2011-05-06.12-30-00.cdt'"),
            std::string::npos)
      << bad.err;
  EXPECT_FALSE(std::filesystem::exists(testing::fileSystemPath(dir.file("out"))) &&
               !std::filesystem::is_empty(testing::fileSystemPath(dir.file("out"))));
}

TEST(ExportFollow, UsageAndFailures) {
  TempDir dir;
  RunResult r = runCdt({"export", "--follow", "--format", "mat", "x.cdt"}, dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--follow writes CSV, netCDF or Parquet"), std::string::npos) << r.err;
  EXPECT_EQ(runCdt({"export", "--idle", "3", "x.cdt"}, dir.path()).status, 2);
  EXPECT_EQ(runCdt({"export", "--follow", "--set", "x.cdt", "y.cdt"}, dir.path()).status, 2);
  // Nothing appears: given up after the idle time, nothing written.
  r = runCdt({"export", "--follow", "--idle", "0.2", "missing.cdt"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "cdt export: cannot read 'missing.cdt': no data file appeared there within 0.2 s\n");
  EXPECT_FALSE(testing::fileExists(dir.file("missing.csv")));
}

#ifndef _WIN32
// An interrupt during a follow, of a file or of a directory (SIGTERM here: a
// shell's background job ignores SIGINT): status 130, and neither the output
// nor its staging file is left behind. The signal is sent once the staged
// output exists, when the follow is surely under way, not after a fixed delay.
TEST(ExportFollow, AnInterruptRemovesTheUnfinishedOutput) {
  TempDir dir;
  ASSERT_EQ(
      runCdt({"synth", "--live", "0", "--revolutions", "200", "--unfinished", "rec"}, dir.path())
          .status,
      0);
  for (const std::string& input : {kDaq1, std::string("rec")}) {
    const std::string out = input == "rec" ? "dir" : "fol";
    const RunResult r = testing::runProgram(
        "/bin/sh",
        {"-c",
         "\"$0\" export --follow --idle 60 -o " + out + " " + input +
             " & pid=$!; i=0; while [ ! -e " + out + "/" + kCsv1 +
             ".part ] && [ $i -lt 1200 ]; do sleep 0.05; i=$((i+1)); done; kill -TERM $pid; "
             "wait $pid; echo status=$?",
         testing::builtProgram("tools/cdt")},
        dir.path());
    EXPECT_EQ(r.out, "status=130\n") << input << ": " << r.err;
    EXPECT_EQ(r.err, "cdt export: the follow of '" + kDaq1 + "' was stopped\n") << input;
    EXPECT_TRUE(std::filesystem::is_empty(testing::fileSystemPath(dir.file(out)))) << input;
  }
}
#endif

TEST(InfoFollow, PlainLinesUntilTheRecordingIsFinished) {
  TempDir dir;
  ASSERT_EQ(runCdt({"synth", "--revolutions", "20", "--probes", "2", "rec"}, dir.path()).status, 0);
  const RunResult r = runCdt({"info", "--follow", kDaq1}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(r.out.find(": ") + 2),
            "40 records, 20 revolutions (last 20), speed 2996.1, last "
            "2011-05-06T12:30:00.442128Z, blade records by channel 20 20 0 0: finished\n");
  EXPECT_EQ(runCdt({"info", "--idle", "2", kDaq1}, dir.path()).status, 2);
}

#ifndef _WIN32
// On a terminal of 80 columns the status is one line rewritten in place:
// no update may be wider than 79 characters, or the terminal would wrap it
// into a new row each time.
TEST(InfoFollow, OnATerminalEveryUpdateFitsItsWidth) {
  TempDir dir;
  ASSERT_EQ(runCdt({"synth", "--revolutions", "20", "--probes", "2", "rec"}, dir.path()).status, 0);
  int terminal = -1, side = -1;
  struct winsize size {};
  size.ws_row = 24;
  size.ws_col = 80;
  ASSERT_EQ(openpty(&terminal, &side, nullptr, nullptr, &size), 0);
  const std::string program = testing::builtProgram("tools/cdt");
  const std::string input = dir.file(kDaq1);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(side, 1);
    ::execl(program.c_str(), "cdt", "info", "--follow", input.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(side);
  std::string shown;
  char buffer[4096];
  for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) shown.append(buffer, n);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(terminal);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
  std::size_t updates = 0, widest = 0, start = 0;
  for (std::size_t i = 0; i <= shown.size(); ++i) {
    if (i < shown.size() && shown[i] != '\r' && shown[i] != '\n') continue;
    if (i > start) ++updates;
    widest = std::max(widest, i - start);
    start = i + 1;
  }
  EXPECT_GE(updates, 1u);
  EXPECT_LE(widest, 79u) << shown;
  EXPECT_NE(shown.find("\rRig1.0000.D...2-30-00.cdt: 20 revs (last 20), 2996.1 rpm, "
                       "12:30:00.44: finished\r\n"),
            std::string::npos)
      << shown;
}
#endif

// When each line reaches the output: a writer puts one revolution (two
// records) into the file every 10 ms; the record that opens revolution k+1
// completes line k. Every line must reach the output while the file is
// still being written; bench/follow_bench.sh measures the latency of an
// optimized build.
TEST(ExportFollow, LinesReachTheStagedOutputSoonAfterTheirLastRecord) {
  TempDir dir;
  Configuration config;
  testing::addProbes(config, {{0, "A", 2}, {1, "B", 2}});
  const std::string input = dir.file("live.cdt");
  std::unique_ptr<DataFile> file = createDataFile(config, input.c_str());
  ASSERT_NE(file, nullptr);

  ExportRequest request;
  request.outputDirectory = dir.path();
  FollowRequest follow;
  follow.idle = 10s;
  FileResult result;
  std::thread follower([&] { result = followFile(request, follow, input); });

  constexpr int kRevolutions = 120;
  using Clock = std::chrono::steady_clock;
  std::vector<Clock::time_point> completed(kRevolutions);
  std::vector<Clock::time_point> seen(kRevolutions);
  std::atomic<int> written{0};
  std::atomic<bool> done{false};
  std::atomic<int> seenLines{0};
  // Watches the staged output: the header, then one line per revolution.
  std::thread watcher([&] {
    const std::string staged = dir.file("live.csv.part");
    std::size_t lines = 0;
    while (!done.load()) {
      const std::string text = testing::fileExists(staged) ? readFile(staged) : "";
      const std::size_t now = std::count(text.begin(), text.end(), '\n');
      const auto at = Clock::now();
      for (; lines < now; ++lines) {
        if (lines >= 1 && lines <= kRevolutions) seen[lines - 1] = at;
      }
      seenLines = static_cast<int>(std::min<std::size_t>(lines, kRevolutions + 1)) - 1;
      std::this_thread::sleep_for(2ms);
    }
  });
  for (int rev = 0; rev <= kRevolutions; ++rev) {
    for (uint8_t slot = 0; slot < 2; ++slot) {
      testing::BladeRecordSpec s;
      s.channel = slot;
      s.time = 1300000000000000ull + static_cast<uint64_t>(rev) * 10000;
      s.startRevolution = static_cast<uint64_t>(rev);
      s.blades = {{1.0f, 2.0f}, {3.0f, 4.0f}};
      ASSERT_TRUE(writeRecord(*file, *testing::makeBladeRecord(s)));
      ASSERT_TRUE(flushDataFile(*file));
      if (slot == 0 && rev > 0) completed[rev - 1] = Clock::now();
    }
    written = rev;
    std::this_thread::sleep_for(10ms);
  }
  // Until the watcher has seen every line (the file is still being written,
  // so each was followed), however long a busy machine takes.
  for (auto deadline = Clock::now() + 120s;
       seenLines.load() < kRevolutions && Clock::now() < deadline;) {
    std::this_thread::sleep_for(10ms);
  }
  done = true;
  watcher.join();
  ASSERT_TRUE(closeDataFile(*file));
  follower.join();
  EXPECT_EQ(result.status, 0) << result.err;

  std::vector<double> latency;
  for (int k = 0; k < kRevolutions; ++k) {
    ASSERT_NE(seen[k], Clock::time_point{}) << "line " << k << " never seen while followed";
    latency.push_back(std::chrono::duration<double, std::milli>(seen[k] - completed[k]).count());
  }
  std::sort(latency.begin(), latency.end());
  std::printf("line latency: median %.1f ms, max %.1f ms\n", latency[latency.size() / 2],
              latency.back());
  // Generous: a loaded machine with sanitizers; the benchmark holds the
  // latency itself.
  EXPECT_LT(latency.back(), 60000.0);
}

}  // namespace
}  // namespace cdt
