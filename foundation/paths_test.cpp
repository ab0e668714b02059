#include "foundation/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <string_view>

#include "test/support.h"

namespace cdt {
namespace {

using testing::TempDir;

TextBuffer view(std::string_view text) {
  return TextBuffer(text);
}
std::string base(std::string_view path, const char* suffix = nullptr) {
  return std::string(pathBaseName(view(path), suffix).view());
}
std::string directory(std::string_view path) {
  return std::string(pathDirectory(view(path)).view());
}

TEST(PathBaseName, FinalComponentLessSuffix) {
  EXPECT_EQ(base("C:\\data\\run.cdt", ".cdt"), "run");
  EXPECT_EQ(base("run"), "run");
  EXPECT_EQ(base("dir/"), "dir");
  EXPECT_EQ(base("C:run.cdt", ".cdt"), "run");
  EXPECT_EQ(base("/a/ b c.cdt \t"), "b c.cdt");
  EXPECT_EQ(base("a/run.CDT", ".cdt"), "run.CDT");  // bytewise, case-sensitive
  EXPECT_EQ(base("a/.cdt", ".cdt"), "");
  // Without a component, the whole path.
  EXPECT_EQ(base(""), "");
  EXPECT_EQ(base(" / "), " / ");
  EXPECT_EQ(base("a/b//"), "a/b//");

  const std::string_view path = "x/y/name";
  EXPECT_EQ(pathBaseName(view(path)).text, path.data() + 4);  // a view into the path

  // A view without text is empty whatever its length says.
  EXPECT_TRUE(pathBaseName(TextBuffer(nullptr, 8), "name").empty());
  EXPECT_TRUE(pathDirectory(TextBuffer(nullptr, 8)).empty());
}

TEST(PathDirectory, UpToTheFinalComponent) {
  EXPECT_EQ(directory("a/b/c"), "a/b/");
  EXPECT_EQ(directory("a/b/"), "a/");
  EXPECT_EQ(directory("C:\\data\\run.cdt"), "C:\\data\\");
  EXPECT_EQ(directory("C:run"), "C:");
  EXPECT_EQ(directory("/x"), "/");
  EXPECT_EQ(directory("run"), "");
  EXPECT_EQ(directory(""), "");
  EXPECT_EQ(directory("a/b//"), "");  // no final component: nothing before it
}

TEST(JoinPath, TrimsSeparatorsAtTheJoint) {
  EXPECT_EQ(joinPath(view("a/b//"), view("/c")), "a/b/c");
  EXPECT_EQ(joinPath(view("a\\"), view("\\b")), "a/b");
  EXPECT_EQ(joinPath(view("/"), view("c")), "/c");
  EXPECT_EQ(joinPath(view("a"), view("")), "a/");
  EXPECT_EQ(joinPath(view(""), view("/c")), "/c");
  EXPECT_EQ(joinPath(TextBuffer(), TextBuffer()), "");
  EXPECT_EQ(joinPath(view("a"), TextBuffer(nullptr, 4)), "a/");
  EXPECT_EQ(joinPath(TextBuffer(nullptr, 4), view("b")), "b");
}

TEST(MakeDirectories, CreatesMissingParents) {
  TempDir dir;
  const std::string deep = dir.file("a/b//c/d/");
  EXPECT_TRUE(makeDirectories(deep.c_str()));
  EXPECT_TRUE(isDirectory(dir.file("a/b/c/d").c_str()));
  EXPECT_TRUE(makeDirectories(deep.c_str()));  // already there
  // Two trailing separators: still inside its parent.
  EXPECT_TRUE(makeDirectories(dir.file("x/y//").c_str()));
  EXPECT_TRUE(isDirectory(dir.file("x/y").c_str()));
  EXPECT_FALSE(makeDirectories(""));
}

TEST(MakeDirectories, RelativePathStartsInTheCurrentDirectory) {
  TempDir dir;
  char previous[PATH_MAX];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  const bool made = makeDirectories("one/two") && makeDirectories("three/");
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_TRUE(made);
  EXPECT_TRUE(isDirectory(dir.file("one/two").c_str()));
  EXPECT_TRUE(isDirectory(dir.file("three").c_str()));
}

TEST(MakeDirectories, FilesInTheWayAndDeepPaths) {
  TempDir dir;
  testing::writeFile(dir.file("f"), "x");
  EXPECT_FALSE(makeDirectories(dir.file("f").c_str()));
  EXPECT_FALSE(makeDirectories(dir.file("f/sub/").c_str()));
  EXPECT_EQ(testing::readFile(dir.file("f")), "x");

  std::string deep = dir.path();
  for (int i = 0; i < 300; ++i) deep += "/d";
  EXPECT_TRUE(makeDirectories(deep.c_str()));
  EXPECT_TRUE(isDirectory(deep.c_str()));

  // Thousands of components below a file: the walk up ends at the file.
  std::string blocked = dir.file("f");
  while (blocked.size() + 2 < PATH_MAX - 100) blocked += "/e";
  EXPECT_FALSE(makeDirectories(blocked.c_str()));

  // Too long for the platform to name at all.
  std::string tooLong = dir.path();
  for (int i = 0; i < 50000; ++i) tooLong += "/z";
  EXPECT_FALSE(makeDirectories(tooLong.c_str()));
  EXPECT_FALSE(isDirectory(dir.file("z").c_str()));
}

TEST(DiskSpace, ReportsTheVolumeOfAnExistingDirectory) {
  TempDir dir;
  DiskSpace space;
  ASSERT_TRUE(diskSpace(dir.path().c_str(), space));
  EXPECT_GT(space.total, 0u);
  EXPECT_EQ(space.used, space.total - space.available);
  EXPECT_TRUE(diskSpace("", space));
  EXPECT_FALSE(diskSpace(dir.file("missing").c_str(), space));
}

}  // namespace
}  // namespace cdt
