// cdt export's outputs in every format and layout: each is staged, so a write
// that fails leaves no file behind and a link at the output's name is
// replaced, never followed. Built where both MATLAB and netCDF libraries are.
#if __has_include(<matio.h>) && __has_include(<netcdf.h>)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/export_test_support.h"

namespace cdt {
namespace {

using testing::ExportTest;
using testing::readFile;
using testing::runCdt;
using testing::RunResult;
using testing::synthRecording;
using testing::writeFile;

// The formats and layouts an export can write, as options, with the
// extension of their files.
struct Output {
  std::vector<std::string> options;
  const char* extension;
};
const Output kOutputs[] = {
    {{}, ".csv"},
    {{"--probes", "0,2"}, ".csv"},
    {{"--layout", "long"}, ".csv"},
    {{"--format", "mat"}, ".mat"},
    {{"--format", "mat", "--compress", "1"}, ".mat"},  // through a copy, removed too
    {{"--format", "mat", "--mat73"}, ".mat"},
    {{"--format", "netcdf"}, ".nc"},
    {{"--format", "netcdf", "--compress", "1"}, ".nc"},
    {{"--format", "parquet"}, ".parquet"},
    {{"--format", "parquet", "--layout", "long", "--compress", "1"}, ".parquet"},
};

std::string described(const Output& output) {
  std::string text;
  for (const std::string& o : output.options) text += o + " ";
  return text + output.extension;
}

// The names of the files in `dir`.
std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

#ifndef _WIN32
// A program (cdt unless named) with the size of every file it writes
// limited to `kib` KiB, as a full disk limits it: the programs make a write
// past it fail with EFBIG rather than be ended by SIGXFSZ.
RunResult runCdtWithFileLimit(int kib, const std::vector<std::string>& args, const std::string& dir,
                              const char* program = "tools/cdt") {
  std::vector<std::string> all = {"-c",
                                  "ulimit -f " + std::to_string(kib * 2) + " && exec \"$0\" \"$@\"",
                                  testing::builtProgram(program)};
  all.insert(all.end(), args.begin(), args.end());
  return testing::runProgram("/bin/sh", all, dir);
}

// A write that fails half-way, in every format: status 1 and the system's
// cause, no crash, no file left (neither the output nor its staging file),
// and the next file, small enough, still exports.
TEST_F(ExportTest, AFailedWriteLeavesNoFileInAnyFormat) {
  const std::string big = synthRecording(dir.file("big"), {"--revolutions", "3000", "--probes", "4",
                                                           "--blades", "60", "--name", "Big"})
                              .at(0);
  const std::string bigName = big.substr(big.rfind('/') + 1, big.size() - big.rfind('/') - 5);
  for (const Output& output : kOutputs) {
    const std::string out = dir.file("out");
    std::filesystem::remove_all(out);
    std::vector<std::string> args = {"export", "-o", "out", "--jobs", "1"};
    args.insert(args.end(), output.options.begin(), output.options.end());
    args.insert(args.end(), {big, input});
    const RunResult r = runCdtWithFileLimit(2048, args, dir.path());
    EXPECT_EQ(r.status, 1) << described(output) << r.err;
    EXPECT_EQ(r.err,
              "cdt export: cannot write 'out/" + bigName + output.extension + "': File too large\n")
        << described(output);
    EXPECT_EQ(r.out, "cdt export: in=" + input + ", out=out/" + name + output.extension + "\n")
        << described(output);
    EXPECT_EQ(filesIn(out), std::vector<std::string>{name + output.extension}) << described(output);
    if (output.options.empty()) {  // the whole CSV, still the converter's
      EXPECT_EQ(readFile(dir.file("out/" + name + ".csv")), readFile(dir.file(name + ".csv")));
    }
  }
  // The converter too: the CSV it could not finish is removed.
  const std::string out = dir.file("conv");
  std::filesystem::create_directories(out);
  const RunResult r = runCdtWithFileLimit(2048, {big, input}, out, "driver/cdt2csv");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("Can not write output file '" + bigName + ".csv'"), std::string::npos)
      << r.err;
  EXPECT_EQ(filesIn(out), std::vector<std::string>{name + ".csv"});
}
#endif

// A symbolic link at an output's name is replaced by the output; the file
// it points to is never written.
TEST_F(ExportTest, ALinkAtAnOutputNameIsReplacedNotFollowed) {
  for (const Output& output : kOutputs) {
    const std::string out = dir.file("out");
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    const std::string target = dir.file("target");
    writeFile(target, "not to be written\n");
    const std::string link = out + "/" + name + output.extension;
    std::filesystem::create_symlink(target, link);
    std::vector<std::string> args = {"export", "-o", "out"};
    args.insert(args.end(), output.options.begin(), output.options.end());
    args.push_back(input);
    const RunResult r = runCdt(args, dir.path());
    EXPECT_EQ(r.status, 0) << described(output) << r.err;
    EXPECT_EQ(readFile(target), "not to be written\n") << described(output);
    EXPECT_FALSE(std::filesystem::is_symlink(link)) << described(output);
    EXPECT_GT(std::filesystem::file_size(link), 1000u) << described(output);
  }
}

}  // namespace
}  // namespace cdt
#endif
