#include "platform/directory_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "test/support.h"

namespace cdt {
namespace {

using Names = std::vector<std::string>;

// Lists `path` and checks the shape of the result: a terminated array on
// success, nullptr on failure. Returns the count and the names.
std::pair<int32_t, Names> listed(const std::string& path, NameComparator comparator = compareNames,
                                 DirectoryFilter filter = nullptr) {
  char* sentinel = nullptr;
  char** list = &sentinel;
  const int32_t count = listDirectory(path.c_str(), &list, filter, comparator);
  Names names;
  if (count < 0) {
    EXPECT_EQ(list, nullptr);
    return {count, names};
  }
  if (list == nullptr) {
    ADD_FAILURE() << "no list for " << path;
    return {count, names};
  }
  for (int32_t i = 0; i < count; ++i) names.emplace_back(list[i]);
  EXPECT_EQ(list[count], nullptr);
  freeDirectoryList(&list, count);
  EXPECT_EQ(list, nullptr);
  return {count, names};
}

class DirectoryListing : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(testing::fileSystemPath(dir.file("data/sub")));
    testing::writeFile(dir.file("data/a.cdt"), "a");
    testing::writeFile(dir.file("data/B.cdt"), "B");
  }
  std::string data() const { return dir.file("data"); }

  testing::TempDir dir;
  const Names all{"../", "./", "B.cdt", "a.cdt", "sub/"};
};

TEST_F(DirectoryListing, SortsByteWiseOrIgnoringCase) {
  EXPECT_EQ(listed(data()), std::make_pair(5, all));
  EXPECT_EQ(listed(data(), compareNamesIgnoreCase).second,
            (Names{"../", "./", "a.cdt", "B.cdt", "sub/"}));

  // A link to a directory is marked like one.
  std::error_code error;
  std::filesystem::create_directory_symlink("sub", testing::fileSystemPath(dir.file("data/link")),
                                            error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  Names unsorted = listed(data(), nullptr).second;
  std::sort(unsorted.begin(), unsorted.end());
  EXPECT_EQ(unsorted, (Names{"../", "./", "B.cdt", "a.cdt", "link/", "sub/"}));
}

TEST_F(DirectoryListing, SpellingsOfTheSameDirectory) {
  for (const char* suffix : {"/", "\\", "/.", "\\.", "//"}) {
    EXPECT_EQ(listed(data() + suffix).second, all) << suffix;
  }
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(testing::fileSystemPath(data()));
  const auto empty = listed("");
  const auto dot = listed(".");
  std::filesystem::current_path(previous);
  EXPECT_EQ(empty.second, all);
  EXPECT_EQ(dot.second, empty.second);
}

#ifdef _WIN32
TEST_F(DirectoryListing, WindowsDrivesCaseAndWideNames) {
  // "C:" is the current directory of drive C:, which lists at least "./".
  EXPECT_GT(listed("C:").first, 0);
  // The system's search matches names whatever their letter case.
  EXPECT_EQ(listed(data() + "/*.CDT").second, (Names{"B.cdt", "a.cdt"}));
  // Names outside ASCII come back as UTF-8 (a u with umlaut, a CJK character).
  testing::writeFile(dir.file("data/Pr\xC3\xBC"
                              "f\xE6\xB8\xAC.cdt"),
                     "");
  EXPECT_EQ(listed(data() + "/P*").second, (Names{"Pr\xC3\xBC"
                                                  "f\xE6\xB8\xAC.cdt"}));
}
#else
TEST_F(DirectoryListing, NoDrivesOnPosix) {
  // "C:" is an ordinary relative name.
  std::filesystem::create_directory(testing::fileSystemPath(dir.file("data/C:")));
  EXPECT_EQ(listed(data() + "/C:").second, (Names{"../", "./"}));
}
#endif

TEST_F(DirectoryListing, FilterSeesMarkedNames) {
  EXPECT_EQ(listed(data(), compareNames, [](const char*) { return 0; }),
            std::make_pair(0, Names{}));
  auto directoriesOnly = [](const char* name) {
    return name[std::strlen(name) - 1] == '/' ? 1 : 0;
  };
  EXPECT_EQ(listed(data(), compareNames, directoriesOnly).second, (Names{"../", "./", "sub/"}));
}

TEST_F(DirectoryListing, WildcardPatterns) {
  EXPECT_EQ(listed(data() + "/*.cdt").second, (Names{"B.cdt", "a.cdt"}));
  EXPECT_EQ(listed(data() + "\\?.cdt").second, (Names{"B.cdt", "a.cdt"}));
  EXPECT_EQ(listed(data() + "/*").second, all);

  // Brackets are plain characters, not sets.
  testing::writeFile(dir.file("data/x[1].cdt"), "");
  testing::writeFile(dir.file("data/x1.cdt"), "");
  EXPECT_EQ(listed(data() + "/x[1]*").second, (Names{"x[1].cdt"}));

  EXPECT_EQ(listed(data() + "/*.csv"), std::make_pair(0, Names{}));
  EXPECT_EQ(listed(dir.file("missing/*.cdt")).first, -1);
  EXPECT_EQ(listed(dir.file("data/a.cdt/*")).first, -1);
}

TEST_F(DirectoryListing, FilesAndMissingPaths) {
  EXPECT_EQ(listed(data() + "/a.cdt"), std::make_pair(1, Names{"a.cdt"}));
  EXPECT_EQ(listed(data() + "\\B.cdt").second, (Names{"B.cdt"}));
  EXPECT_EQ(listed(data() + "/a.cdt/").first, -1);
  EXPECT_EQ(listed(dir.file("missing")).first, -1);

  char** list = nullptr;
  EXPECT_EQ(listDirectorySorted(nullptr, &list, compareNames), -1);
  EXPECT_EQ(listDirectorySorted(data().c_str(), nullptr, compareNames), -1);
}

TEST_F(DirectoryListing, GrowsPastManyEntries) {
  Names expected{"../", "./", "B.cdt", "a.cdt", "sub/"};
  for (int i = 0; i < 100; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%03d", i);
    testing::writeFile(dir.file("data/") + name, "");
    expected.emplace_back(name);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed(data()), std::make_pair(105, expected));
  EXPECT_EQ(listed(data() + "/f0*").first, 100);
}

TEST(FreeDirectoryList, NegativeCountLeavesTheListAlone) {
  char* names[] = {nullptr};
  char** list = names;
  freeDirectoryList(&list, -1);
  EXPECT_EQ(list, names);
  freeDirectoryList(nullptr, 3);
}

}  // namespace
}  // namespace cdt
