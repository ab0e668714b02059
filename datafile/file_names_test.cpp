#include "datafile/file_names.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "foundation/time_value.h"

namespace cdt {
namespace {

TEST(OutputPath, IsTheFinalComponentWithCsvExtension) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"dir/sub/run.cdt", "run.csv"},
      {"run", "run.csv"},
      {"dir.old/run", "run.csv"},
      {"a.b.cdt", "a.b.csv"},
      {"C:run.cdt", "run.csv"},
      {"C:\\data\\run.cdt", "run.csv"},
      {"-x.cdt", "-x.csv"},
      {"dir/ run.cdt ", "run.cdt.csv"},
      {"a.", "a.csv"},
      {"///", "///.csv"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(outputPathFor(in), out) << in;
}

TEST(TimestampedPath, NamesTheRecordingsStartInUtcFields) {
  Configuration c;
  c.name = CountedString("Prüfstand");
  c.revision = 7;
  c.insertHost(0, nullptr);
  const uint64_t time = timeOf({2011, 5, 6, 12, 30, 45, 250000});
  EXPECT_EQ(recordingBaseName(c, 0), "Prüfstand.0007." + std::string(c.hosts[0].name.view()));
  EXPECT_EQ(recordingBaseName(c, 1), "Prüfstand.0007.");
  EXPECT_EQ(timestampedPath("d/sub", "Rig1.0007.Daq1", time, kDataFileExtension),
            "d/sub/Rig1.0007.Daq1.2011-05-06.12-30-45.cdt");
  EXPECT_EQ(timestampedPath(nullptr, nullptr, 0, ".csv"), "/.1970-01-01.00-00-00.csv");
}

}  // namespace
}  // namespace cdt
