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
std::string str(TextBuffer part) {
  return std::string(part.view());
}

TEST(PathBaseName, FinalComponentWithAndWithoutSuffix) {
  EXPECT_EQ(str(pathBaseName(view("C:\\data\\run.cdt"), ".cdt")), "run");
  EXPECT_EQ(str(pathBaseName(view("C:\\data\\run.cdt"))), "run.cdt");
  EXPECT_EQ(str(pathBaseName(view("run"), nullptr)), "run");
  EXPECT_EQ(str(pathBaseName(view("dir/"))), "dir");
  EXPECT_EQ(str(pathBaseName(view("C:run.cdt"), ".cdt")), "run");
  EXPECT_EQ(str(pathBaseName(view("/a/ b c.cdt \t"))), "b c.cdt");
  // The suffix is cut only when it ends the name, bytewise and case-sensitively.
  EXPECT_EQ(str(pathBaseName(view("a/run.CDT"), ".cdt")), "run.CDT");
  EXPECT_EQ(str(pathBaseName(view("a/dt"), ".cdt")), "dt");
  EXPECT_EQ(str(pathBaseName(view("a/.cdt"), ".cdt")), "");
  EXPECT_EQ(str(pathBaseName(view("a/run.cdt"), "")), "run.cdt");
}

TEST(PathBaseName, WithoutAComponentIsTheWholePath) {
  EXPECT_EQ(str(pathBaseName(view(""))), "");
  EXPECT_EQ(str(pathBaseName(view("//"))), "//");
  EXPECT_EQ(str(pathBaseName(view(" / "))), " / ");
  EXPECT_EQ(str(pathBaseName(view("a/b//"))), "a/b//");

  const std::string_view path = "x/y/name";
  const TextBuffer name = pathBaseName(view(path));
  EXPECT_EQ(name.text, path.data() + 4);  // a view into the path, not a copy
}

TEST(PathDirectory, UpToTheFinalComponent) {
  EXPECT_EQ(str(pathDirectory(view("a/b/c"))), "a/b/");
  EXPECT_EQ(str(pathDirectory(view("a/b/"))), "a/");
  EXPECT_EQ(str(pathDirectory(view("C:\\data\\run.cdt"))), "C:\\data\\");
  EXPECT_EQ(str(pathDirectory(view("C:run"))), "C:");
  EXPECT_EQ(str(pathDirectory(view("/x"))), "/");
  EXPECT_EQ(str(pathDirectory(view("run"))), "");
  EXPECT_EQ(str(pathDirectory(view(""))), "");
  EXPECT_EQ(str(pathDirectory(TextBuffer())), "");
  // No final component: nothing lies before it.
  EXPECT_EQ(str(pathDirectory(view("a/b//"))), "");
  EXPECT_EQ(str(pathDirectory(view("///"))), "");
}

TEST(JoinPath, TrimsSeparatorsAtTheJoint) {
  EXPECT_EQ(joinPath(view("a/b//"), view("/c")), "a/b/c");
  EXPECT_EQ(joinPath(view("a\\"), view("\\b")), "a/b");
  EXPECT_EQ(joinPath(view("a"), view("b")), "a/b");
  EXPECT_EQ(joinPath(view("/"), view("c")), "/c");
  EXPECT_EQ(joinPath(view("a"), view("")), "a/");
  EXPECT_EQ(joinPath(view(""), view("/c")), "/c");
  EXPECT_EQ(joinPath(TextBuffer(), TextBuffer()), "");
}

TEST(MakeDirectories, CreatesMissingParents) {
  TempDir dir;
  const std::string deep = dir.file("a/b//c/d/");
  EXPECT_TRUE(makeDirectories(deep.c_str()));
  EXPECT_TRUE(isDirectory(dir.file("a/b/c/d").c_str()));
  EXPECT_TRUE(makeDirectories(deep.c_str()));  // already there
  EXPECT_TRUE(makeDirectories(dir.path().c_str()));

  // A path with two trailing separators still lies in its parent.
  EXPECT_TRUE(makeDirectories(dir.file("x/y//").c_str()));
  EXPECT_TRUE(isDirectory(dir.file("x/y").c_str()));

  EXPECT_FALSE(makeDirectories(""));
  EXPECT_FALSE(makeDirectories(static_cast<const char*>(nullptr)));
}

TEST(MakeDirectories, RelativePathStartsInTheCurrentDirectory) {
  TempDir dir;
  char previous[PATH_MAX];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  const bool made = makeDirectories("one/two");
  const bool single = makeDirectories("three/");
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_TRUE(made);
  EXPECT_TRUE(single);
  EXPECT_TRUE(isDirectory(dir.file("one/two").c_str()));
  EXPECT_TRUE(isDirectory(dir.file("three").c_str()));
}

TEST(MakeDirectories, FailsWhenAFileIsInTheWay) {
  TempDir dir;
  testing::writeFile(dir.file("file"), "x");
  EXPECT_FALSE(makeDirectories(dir.file("file").c_str()));
  EXPECT_FALSE(makeDirectories(dir.file("file/sub").c_str()));
  EXPECT_FALSE(makeDirectories(dir.file("file/sub/deeper/").c_str()));
  EXPECT_EQ(testing::readFile(dir.file("file")), "x");
}

TEST(MakeDirectories, DeepPathsDoNotExhaustTheStack) {
  TempDir dir;
  std::string deep = dir.path();
  while (deep.size() + 2 < PATH_MAX - 100) deep += "/d";
  EXPECT_TRUE(makeDirectories(deep.c_str()));
  EXPECT_TRUE(isDirectory(deep.c_str()));

  // Thousands of components below a file: the walk up ends at the file.
  testing::writeFile(dir.file("f"), "");
  std::string blocked = dir.file("f");
  while (blocked.size() + 2 < PATH_MAX - 100) blocked += "/e";
  EXPECT_FALSE(makeDirectories(blocked.c_str()));

  // Too long for the platform to name at all.
  std::string tooLong = dir.path();
  for (int i = 0; i < 50000; ++i) tooLong += "/z";
  EXPECT_FALSE(makeDirectories(tooLong.c_str()));
  EXPECT_FALSE(isDirectory(dir.file("z").c_str()));
}

TEST(FileSystemTests, DirectoriesFilesAndMissingPaths) {
  TempDir dir;
  testing::writeFile(dir.file("f"), "x");
  EXPECT_TRUE(isDirectory(dir.path().c_str()));
  EXPECT_FALSE(isDirectory(dir.file("f").c_str()));
  EXPECT_FALSE(isDirectory(dir.file("missing").c_str()));
  EXPECT_FALSE(isDirectory(nullptr));
  EXPECT_TRUE(isReadable(dir.file("f").c_str()));
  EXPECT_TRUE(isWritable(dir.file("f").c_str()));
  EXPECT_FALSE(isReadable(dir.file("missing").c_str()));
  EXPECT_FALSE(isWritable(dir.file("missing").c_str()));
  EXPECT_FALSE(isReadable(nullptr));
}

TEST(DiskSpace, ReportsTheVolume) {
  TempDir dir;
  DiskSpace space;
  ASSERT_TRUE(diskSpace(dir.path().c_str(), space));
  EXPECT_GT(space.total, 0u);
  EXPECT_LE(space.available, space.total);
  EXPECT_EQ(space.used, space.total - space.available);

  DiskSpace here;
  EXPECT_TRUE(diskSpace("", here));
  DiskSpace untouched{1, 2, 3};
  EXPECT_FALSE(diskSpace(dir.file("missing").c_str(), untouched));
  EXPECT_EQ(untouched.total, 1u);
}

}  // namespace
}  // namespace cdt
