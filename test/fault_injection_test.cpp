// Failing resources around the conversion loop: a full disk under the
// output, outputs that cannot be created, and inputs that disappear, turn
// into directories or pipes, or are cut short while the loop works through
// the arguments. Each failure gives its message and status 1, and every other
// argument still converts.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "csv/csv_test_support.h"
#include "datafile/data_file.h"
#include "driver/converter.h"
#include "test/converter_test_support.h"
#include "test/support.h"

namespace cdt {
namespace {

using testing::addProbes;
using testing::BladeRecordSpec;
using testing::cannotCreate;
using testing::cannotOpen;
using testing::cannotWrite;
using testing::convertedLine;
using testing::ConverterRun;
using testing::fileExists;
using testing::makeBladeRecord;
using testing::readFile;
using testing::runConverterIn;
using testing::TempDir;
using testing::Watchdog;

constexpr uint64_t kSecond = 1000000;
// 2011-03-15 14:07:09.25 UTC.
constexpr uint64_t kStart = 1300198029250000ull;

// A finished recording of `lines` groups: probe "P" (4 blades) on slot 0 of
// host 0, one record per second.
void writeRecording(const std::string& path, uint64_t lines) {
  Configuration config;
  addProbes(config, {{0, "P", 4}});
  auto file = createDataFile(config, path.c_str());
  ASSERT_NE(file, nullptr);
  for (uint64_t n = 0; n < lines; ++n) {
    BladeRecordSpec s;
    s.time = kStart + n * kSecond;
    s.startRevolution = n;
    s.rms = 0.5f + static_cast<float>(n % 100);
    s.blades = {{1.5f, 0.25f}, {2.5f, 0.75f}, {3.5f, 0.125f}, {4.5f, 0.375f}};
    ASSERT_TRUE(writeRecord(*file, *makeBladeRecord(s)));
  }
  ASSERT_TRUE(closeDataFile(*file));
}

// The CSV of a recording, converted where nothing fails.
std::string csvOf(const std::string& recording) {
  TempDir elsewhere;
  const ConverterRun run = runConverterIn(elsewhere.path(), {recording});
  if (run.status != 0) return "<" + run.err + ">";
  return readFile(elsewhere.file(outputPathFor(recording.c_str()).c_str()));
}

TEST(FaultInjection, AFullDiskFailsThatFileOnly) {
  TempDir dir;
  // Larger than the exporter's stream buffer, so writes fail while records
  // are still coming; small, so only the final flush fails; without records,
  // so nothing is ever written.
  writeRecording(dir.file("big.cdt"), 20000);
  writeRecording(dir.file("small.cdt"), 3);
  writeRecording(dir.file("empty.cdt"), 0);
  writeRecording(dir.file("ok.cdt"), 3);
  for (const char* name : {"big.csv", "small.csv", "empty.csv"}) {
    ASSERT_EQ(symlink("/dev/full", dir.file(name).c_str()), 0);
  }
  const ConverterRun run =
      runConverterIn(dir.path(), {"big.cdt", "small.cdt", "empty.cdt", "ok.cdt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, convertedLine("big.cdt") + convertedLine("small.cdt") +
                         convertedLine("empty.cdt") + convertedLine("ok.cdt"));
  EXPECT_EQ(run.err, cannotWrite("big.csv") + cannotWrite("small.csv"));
  EXPECT_EQ(readFile(dir.file("ok.csv")), csvOf(dir.file("ok.cdt")));
}

TEST(FaultInjection, OutputsInAPlaceThatTakesNoFilesAreNotCreated) {
  TempDir dir;
  writeRecording(dir.file("a.cdt"), 2);
  writeRecording(dir.file("b.cdt"), 2);
  // Nothing can create files in /proc and /sys, not even root.
  int places = 0;
  for (const char* place : {"/proc", "/sys"}) {
    struct stat status;
    if (stat(place, &status) != 0 || !S_ISDIR(status.st_mode)) continue;
    ++places;
    const ConverterRun run =
        runConverterIn(place, {dir.file("a.cdt"), dir.file("missing.cdt"), dir.file("b.cdt")});
    EXPECT_EQ(run.status, 1) << place;
    EXPECT_EQ(run.out, "") << place;
    EXPECT_EQ(run.err,
              cannotCreate("a.csv") + cannotOpen(dir.file("missing.cdt")) + cannotCreate("b.csv"))
        << place;
  }
  if (places == 0) GTEST_SKIP() << "neither /proc nor /sys is here";
}

// Runs the loop in a child that has given up root's rights (it becomes
// "nobody"), so that permissions apply; the parent reads what it printed.
// Without root the loop runs as the current user, in-process.
ConverterRun runUnprivileged(const std::string& directory, const std::vector<std::string>& args) {
  if (geteuid() != 0) return runConverterIn(directory, args);
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  if (out == nullptr || err == nullptr) std::abort();
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) std::abort();
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(100);
    // Nobody may be unable to return to the parent's working directory.
    if (chdir(directory.c_str()) != 0) _exit(101);
    const ConverterRun run = runConverterIn(".", args);
    std::fputs(run.out.c_str(), out);
    std::fputs(run.err.c_str(), err);
    std::fflush(out);
    std::fflush(err);
    _exit(run.status);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  ConverterRun run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  for (auto [file, text] : {std::pair{out, &run.out}, std::pair{err, &run.err}}) {
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) *text += static_cast<char>(c);
    std::fclose(file);
  }
  return run;
}

TEST(FaultInjection, ADirectoryWithoutWritePermissionTakesNoNewOutput) {
  TempDir dir;
  const std::string locked = dir.file("locked");
  ASSERT_EQ(mkdir(locked.c_str(), 0755), 0);
  writeRecording(dir.file("a.cdt"), 2);
  writeRecording(dir.file("ok.cdt"), 2);
  writeRecording(dir.file("secret.cdt"), 2);
  // An output that exists and may be written is replaced even there.
  testing::writeFile(locked + "/ok.csv", "old text\n");
  ASSERT_EQ(chmod((locked + "/ok.csv").c_str(), 0666), 0);
  ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
  ASSERT_EQ(chmod(dir.file("secret.cdt").c_str(), 0), 0);
  // The scratch directory itself must be passable for the unprivileged child.
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  for (const char* name : {"a.cdt", "ok.cdt"}) {
    ASSERT_EQ(chmod(dir.file(name).c_str(), 0644), 0);
  }

  const ConverterRun run =
      runUnprivileged(locked, {dir.file("a.cdt"), dir.file("secret.cdt"), dir.file("ok.cdt")});
  if (run.status == 100) GTEST_SKIP() << "cannot give up root's rights here";
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, convertedLine(dir.file("ok.cdt")));
  EXPECT_EQ(run.err, cannotCreate("a.csv") + cannotOpen(dir.file("secret.cdt")));
  EXPECT_EQ(readFile(locked + "/ok.csv"), csvOf(dir.file("ok.cdt")));
  EXPECT_FALSE(fileExists(locked + "/a.csv"));
}

TEST(FaultInjection, InputsThatChangeWhileTheLoopRuns) {
  TempDir dir;
  // The first argument's CSV is more than a pipe holds, and its output is a
  // named pipe: the loop cannot finish that argument before the reader below
  // has drained it, and the reader changes the later inputs first.
  writeRecording(dir.file("first.cdt"), 4000);
  ASSERT_EQ(mkfifo(dir.file("first.csv").c_str(), 0600), 0);
  for (const char* name : {"gone.cdt", "dir.cdt", "pipe.cdt", "cut.cdt", "ok.cdt"}) {
    writeRecording(dir.file(name), 5);
  }
  ASSERT_EQ(symlink("nowhere.cdt", dir.file("dangling.cdt").c_str()), 0);
  const std::string expectedFirst = csvOf(dir.file("first.cdt"));
  const std::string expectedOk = csvOf(dir.file("ok.cdt"));

  std::string drained;
  std::thread reader([&] {
    const int fd = open(dir.file("first.csv").c_str(), O_RDONLY);
    if (fd < 0) std::abort();
    // The loop now stands in the first argument.
    if (unlink(dir.file("gone.cdt").c_str()) != 0) std::abort();
    if (unlink(dir.file("dir.cdt").c_str()) != 0 || mkdir(dir.file("dir.cdt").c_str(), 0755) != 0) {
      std::abort();
    }
    // A pipe without a writer: opening it to read would wait for one forever.
    if (unlink(dir.file("pipe.cdt").c_str()) != 0 ||
        mkfifo(dir.file("pipe.cdt").c_str(), 0600) != 0) {
      std::abort();
    }
    // A copy cut short: its index is gone.
    if (truncate(dir.file("cut.cdt").c_str(), 300) != 0) std::abort();
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) drained.append(buffer, n);
    close(fd);
  });
  Watchdog watchdog(300);
  Watchdog::describe("converting inputs changed under the loop");
  const ConverterRun run = runConverterIn(
      dir.path(),
      {"first.cdt", "gone.cdt", "dir.cdt", "pipe.cdt", "cut.cdt", "dangling.cdt", "ok.cdt"});
  reader.join();

  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, convertedLine("first.cdt") + convertedLine("ok.cdt"));
  EXPECT_EQ(run.err, cannotOpen("gone.cdt") + cannotOpen("dir.cdt") + cannotOpen("pipe.cdt") +
                         cannotOpen("cut.cdt") + cannotOpen("dangling.cdt"));
  EXPECT_EQ(drained, expectedFirst);
  EXPECT_EQ(readFile(dir.file("ok.csv")), expectedOk);
  for (const char* name : {"gone.csv", "dir.csv", "pipe.csv", "cut.csv", "dangling.csv"}) {
    EXPECT_FALSE(fileExists(dir.file(name))) << name;
  }
}

TEST(FaultInjection, SpecialFilesAreRefusedWithoutWaiting) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("pipe.cdt").c_str(), 0600), 0);
  writeRecording(dir.file("ok.cdt"), 2);
  Watchdog watchdog(300);
  Watchdog::describe("converting special files");
  const ConverterRun run =
      runConverterIn(dir.path(), {"pipe.cdt", ".", "/dev/null", "/dev/zero", "ok.cdt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, convertedLine("ok.cdt"));
  EXPECT_EQ(run.err, cannotOpen("pipe.cdt") + cannotOpen(".") + cannotOpen("/dev/null") +
                         cannotOpen("/dev/zero"));

  // The reader says why, in either read mode, and keeps the path.
  for (const ReadMode mode : {ReadMode::Normal, ReadMode::Salvage}) {
    DataFileReport report;
    EXPECT_EQ(openDataFile(dir.file("pipe.cdt").c_str(), report, mode), nullptr);
    EXPECT_EQ(report.status, DataFileStatus::CannotOpen);
  }
  DataFile refused(dir.file("pipe.cdt").c_str());
  EXPECT_FALSE(refused.isOpen());
  EXPECT_EQ(refused.path(), dir.file("pipe.cdt"));
}

}  // namespace
}  // namespace cdt
