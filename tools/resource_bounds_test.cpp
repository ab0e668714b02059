// cdt info and cdt recover read every record of a file; a recording whose
// header or records lie about their sizes must not make them ask for more
// memory than the file holds, beyond their fixed buffers.
#include "test/allocation_watch.h"  // replaces the global allocation functions

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "test/damaged_recordings.h"
#include "test/support.h"
#include "tools/cdt.h"

namespace cdt {
namespace {

using testing::allocationsDuring;
using testing::AllocationUsage;
using testing::TempDir;

// The tool's fixed costs: the staging copy's index reserve, the report's
// texts, the configuration of a small text.
constexpr uint64_t kFixedAllowance = uint64_t{2} << 20;

// Runs "cdt <args>" in-process with its streams in memory; the status.
int runCdtQuietly(const std::vector<std::string>& args) {
  char* text = nullptr;
  size_t length = 0;
  std::FILE* sink = open_memstream(&text, &length);
  if (sink == nullptr) std::abort();
  std::vector<std::string> words = {"cdt"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int status = runCdt(static_cast<int>(words.size()), argv.data(), sink, sink);
  std::fclose(sink);
  std::free(text);
  return status;
}

::testing::AssertionResult isBounded(const AllocationUsage& usage,
                                     const testing::DamagedRecording& damaged) {
  const uint64_t bound = damaged.bytes.size() + kFixedAllowance + damaged.allowance;
  if (usage.largest() <= bound && usage.peakNew <= bound) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "largest request " << usage.largest() << " (checked " << usage.largestChecked
         << "), peak through new " << usage.peakNew << ", for a file of " << damaged.bytes.size()
         << " bytes";
}

TEST(ToolResourceBounds, InfoAndRecoverOfDamagedRecordings) {
  TempDir dir;
  const std::string input = dir.file("damaged.cdt");
  const std::string output = dir.file("recovered.cdt");
  for (const testing::DamagedRecording& damaged :
       testing::damagedRecordings(testing::sampleRecording(40))) {
    testing::writeFile(input, damaged.bytes);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"info", input},
                                                 {"info", "--json", input},
                                                 {"recover", input, output}}) {
      int status = -1;
      const AllocationUsage usage = allocationsDuring([&] { status = runCdtQuietly(args); });
      EXPECT_TRUE(isBounded(usage, damaged)) << damaged.what << ", cdt " << args[0];
      // Damage is reported as a file error, never as anything worse.
      EXPECT_LE(status, 1) << damaged.what << ", cdt " << args[0];
      std::remove(output.c_str());
    }
  }
}

}  // namespace
}  // namespace cdt
