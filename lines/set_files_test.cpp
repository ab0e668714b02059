#include "lines/set_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "datafile/data_file.h"
#include "datafile/file_names.h"
#include "test/support.h"

namespace cdt {
namespace {

constexpr uint64_t kFirst = 1304685000000000;  // 2011-05-06 12:30:00
constexpr uint64_t kSecond = kFirst + 3600000000;

// The files of `hosts` of a two-host installation recorded at `time`.
std::vector<std::string> record(const std::string& dir, uint64_t time, std::vector<uint32_t> hosts,
                                const char* secondName = "Daq2") {
  Configuration config;
  config.insertHost(0, "pc1");
  config.insertHost(1, "pc2");
  config.setHostName(0, "Daq1");
  config.setHostName(1, secondName);
  std::vector<std::string> paths;
  for (uint32_t h : hosts) {
    std::unique_ptr<DataFile> file =
        createTimestampedDataFile(config, dir.c_str(), recordingBaseName(config, h).c_str(), time);
    EXPECT_NE(file, nullptr);
    std::string path = file->path().str();
    EXPECT_TRUE(closeDataFile(*file));
    paths.push_back(path.substr(0, path.size() - kBeingWrittenSuffix.size()));
  }
  return paths;
}

TEST(SetFiles, ASetIsFoundByAnyOfItsFilesByItsDirectoryOrByItsTime) {
  testing::TempDir dir;
  const std::vector<std::string> first = record(dir.path(), kFirst, {0, 1});
  SetFiles set;
  std::string error;
  ASSERT_TRUE(findSetFiles(first[1], std::nullopt, set, error)) << error;
  EXPECT_EQ(set.paths, first);
  EXPECT_EQ(set.master, 0u);
  EXPECT_EQ(set.time, kFirst);
  ASSERT_TRUE(findSetFiles(dir.path(), std::nullopt, set, error)) << error;
  EXPECT_EQ(set.paths, first);

  // A second recording, of the second host only: the directory alone no
  // longer tells which; its time does, and its master is the host it has.
  const std::vector<std::string> second = record(dir.path(), kSecond, {1});
#ifdef _WIN32
  // Wine may list a directory as it was up to a second ago: wait until the
  // new file shows.
  for (int i = 0; i < 30 && findSetFiles(dir.path(), std::nullopt, set, error); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
#endif
  EXPECT_FALSE(findSetFiles(dir.path(), std::nullopt, set, error));
  EXPECT_NE(error.find("2 recordings"), std::string::npos) << error;
  ASSERT_TRUE(findSetFiles(dir.path(), kSecond, set, error)) << error;
  EXPECT_EQ(set.paths, (std::vector<std::string>{"", second[0]}));
  EXPECT_EQ(set.master, 1u);
  EXPECT_FALSE(findSetFiles(dir.path(), kSecond + 1, set, error));
  EXPECT_FALSE(findSetFiles(dir.file("missing.cdt"), std::nullopt, set, error));
}

TEST(SetFiles, HostsOfOneNameAreRefusedNotDropped) {
  // Two hosts named Daq1, each recording into a directory of its computer:
  // the discovery would take both files for the first host's.
  testing::TempDir dir;
  const std::vector<std::string> paths = record(dir.path(), kFirst, {0}, "Daq1");
  SetFiles set;
  std::string error;
  EXPECT_FALSE(findSetFiles(paths[0], std::nullopt, set, error));
  EXPECT_NE(error.find("hosts 1 and 2 alike ('Daq1')"), std::string::npos) << error;
  std::vector<SetFiles> sets;
  EXPECT_FALSE(findDirectorySets(dir.path(), sets, error));
  EXPECT_NE(error.find("cannot be told apart"), std::string::npos) << error;
}

}  // namespace
}  // namespace cdt
