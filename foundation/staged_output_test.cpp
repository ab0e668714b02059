#include "foundation/staged_output.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "test/support.h"

namespace cdt {
namespace {

using testing::fileExists;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

TEST(StagedOutput, ReplacesTheFinalNameOnlyWhenCommitted) {
  TempDir dir;
  const std::string out = dir.file("out.csv");
  writeFile(out, "old");
  {
    StagedOutput staged;
    ASSERT_TRUE(staged.create(out));
    std::fputs("half", staged.stream());
    // Dropped without commit: the old file stays, the staging file goes.
  }
  EXPECT_EQ(readFile(out), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

  // A stale staging file is neither used nor removed.
  writeFile(out + ".part", "stale");
  StagedOutput staged;
  ASSERT_TRUE(staged.create(out));
  EXPECT_EQ(staged.stagedPath(), out + ".part.1");
  std::fputs("new", staged.stream());
  ASSERT_TRUE(staged.commit());
  EXPECT_EQ(readFile(out), "new");
  EXPECT_EQ(readFile(out + ".part"), "stale");
  EXPECT_FALSE(fileExists(out + ".part.1"));
}

TEST(StagedOutput, NeverWritesThroughALinkNorOverTheInput) {
  TempDir dir;
  const std::string target = dir.file("target");
  const std::string out = dir.file("out.csv");
  writeFile(target, "precious");
  ASSERT_EQ(::symlink(target.c_str(), out.c_str()), 0);
  StagedOutput staged;
  ASSERT_FALSE(staged.create(out, target));
  EXPECT_NE(staged.error().find("is the input file"), std::string::npos);
  ASSERT_TRUE(staged.create(out, dir.file("other")));
  std::fputs("new", staged.stream());
  ASSERT_TRUE(staged.commit());
  EXPECT_EQ(readFile(target), "precious");
  EXPECT_EQ(readFile(out), "new");
  EXPECT_FALSE(std::filesystem::is_symlink(out));
}

TEST(StagedOutput, AFailedWriteNamesItsCauseAndLeavesNothing) {
  TempDir dir;
  const std::string out = dir.file("out.csv");
  StagedOutput missing;
  EXPECT_FALSE(missing.create(dir.file("no/such/dir/out.csv")));
  EXPECT_NE(missing.error().find("No such file or directory"), std::string::npos);

  StagedOutput staged;
  ASSERT_TRUE(staged.create(out));
  staged.fail("cannot write '" + out + "'", ENOSPC);
  staged.fail("a later failure", EIO);
  EXPECT_EQ(staged.error(), "cannot write '" + out + "': No space left on device");
  EXPECT_FALSE(staged.commit());
  EXPECT_FALSE(fileExists(out));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);
}

}  // namespace
}  // namespace cdt
