#include "foundation/file_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>

#include "foundation/file_system.h"
#include "foundation/paths.h"
#include "test/support.h"

namespace cdt {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

TEST(FileStream, NotOpenAnswersNeutrally) {
  FileStream stream;
  EXPECT_FALSE(stream.open());  // no path, no mode
  ASSERT_TRUE(stream.setPath(CountedString("somewhere")));
  EXPECT_FALSE(stream.open());  // still no mode

  // Every operation answers without touching a stdio stream.
  char buffer[8] = "abc";
  EXPECT_EQ(stream.read(buffer, 1, sizeof buffer), 0u);
  EXPECT_EQ(stream.write(buffer, 1, sizeof buffer), 0u);
  EXPECT_EQ(stream.getPosition(), UINT64_MAX);
  EXPECT_FALSE(stream.setPosition(0));
  stream.rewind();
  EXPECT_EQ(stream.putChar('x'), -1);
  EXPECT_EQ(stream.size(), -1);
  EXPECT_EQ(stream.modificationTime(), 0u);
  EXPECT_FALSE(stream.printFormatted("%d", 1));
  EXPECT_FALSE(stream.putString("text"));
  EXPECT_EQ(stream.getLine(buffer, sizeof buffer), nullptr);
  EXPECT_EQ(stream.getChar(), -1);
  EXPECT_FALSE(stream.ungetChar('x'));
  stream.clearError();
  EXPECT_FALSE(stream.atEnd());
  EXPECT_FALSE(stream.hasError());
  EXPECT_EQ(stream.stdioStream(), nullptr);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_TRUE(stream.close());
  EXPECT_TRUE(stream.close());

  // A stream whose open failed answers the same way.
  FileStream missing(CountedString("/nonexistent-directory/file"), "rb");
  EXPECT_FALSE(missing.isOpen());
  EXPECT_EQ(missing.getChar(), -1);
  EXPECT_EQ(missing.size(), -1);
  EXPECT_TRUE(missing.close());
}

TEST(FileStream, PathAndModeChangeOnlyWhileClosed) {
  TempDir dir;
  FileStream stream;
  ASSERT_TRUE(stream.setMode("0123456789"));
  EXPECT_STREQ(stream.mode(), "0123456");

  CountedString path(dir.file("f"));
  ASSERT_TRUE(stream.reopen(path, "wb"));
  EXPECT_EQ(stream.path().data(), path.data());  // shared, not copied
  EXPECT_FALSE(stream.setPath(CountedString("other")));
  EXPECT_FALSE(stream.setMode("rb"));
  EXPECT_EQ(stream.path(), path);
  EXPECT_STREQ(stream.mode(), "wb");

  // Reopening on its own path and mode text.
  EXPECT_TRUE(stream.reopen(stream.path(), stream.mode()));
  EXPECT_EQ(stream.path(), path);
}

TEST(FileStream, WritingCreatesMissingDirectories) {
  TempDir dir;
  FileStream writer(CountedString(dir.file("new/deeper//out.csv")), "wb");
  ASSERT_TRUE(writer.isOpen());
  EXPECT_TRUE(writer.putString("line\n"));
  EXPECT_TRUE(writer.close());
  EXPECT_EQ(readFile(dir.file("new/deeper/out.csv")), "line\n");

  FileStream reader(CountedString(dir.file("absent/in.cdt")), "rb");
  EXPECT_FALSE(reader.isOpen());
  EXPECT_FALSE(isDirectory(dir.file("absent").c_str()));

  writeFile(dir.file("plain"), "x");
  FileStream blocked(CountedString(dir.file("plain/out.csv")), "wb");
  EXPECT_FALSE(blocked.isOpen());
  EXPECT_EQ(readFile(dir.file("plain")), "x");
}

TEST(FileStream, ReadsWritesAndPositions) {
  TempDir dir;
  const CountedString path(dir.file("data"));
  FileStream stream(path, "wb");
  ASSERT_TRUE(stream.isOpen());
  EXPECT_EQ(stream.write("0123456789", 5, 2), 2u);
  EXPECT_EQ(stream.size(), 10);  // buffered output counts
  EXPECT_TRUE(stream.printFormatted("%s=%d\n", "key", 42));
  EXPECT_EQ(stream.putChar(0x1ff), 0xff);
  EXPECT_EQ(stream.getPosition(), 18u);

  ASSERT_TRUE(stream.reopen(path, "rb"));
  EXPECT_EQ(stream.size(), 18);
  char buffer[24] = {};
  EXPECT_EQ(stream.read(buffer, 8, 3), 2u);  // whole items only
  EXPECT_EQ(std::string(buffer, 10), "0123456789");
  EXPECT_TRUE(stream.atEnd());

  ASSERT_TRUE(stream.setPosition(10));
  EXPECT_FALSE(stream.atEnd());
  EXPECT_EQ(stream.getLine(buffer, sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "key=42\n");
  EXPECT_EQ(stream.getChar(), 0xff);
  EXPECT_EQ(stream.getChar(), -1);
  stream.clearError();
  EXPECT_FALSE(stream.atEnd());
  EXPECT_TRUE(stream.ungetChar('z'));
  EXPECT_EQ(stream.getChar(), 'z');

  stream.rewind();
  EXPECT_EQ(stream.getPosition(), 0u);
  EXPECT_EQ(stream.getLine(buffer, 4), buffer);  // room for 3 bytes
  EXPECT_STREQ(buffer, "012");
  EXPECT_FALSE(stream.setPosition(UINT64_MAX));
}

TEST(FileStream, ModificationTimeInMicroseconds) {
  TempDir dir;
  writeFile(dir.file("f"), "x");
  const auto when = std::chrono::sys_seconds(std::chrono::seconds(1600000000));
  std::filesystem::last_write_time(testing::fileSystemPath(dir.file("f")),
                                   std::chrono::file_clock::from_sys(when));
  FileStream stream(CountedString(dir.file("f")), "rb");
  EXPECT_EQ(stream.modificationTime(), 1600000000000000u);
}

TEST(FileStream, OwnershipMovesWithTheStream) {
  TempDir dir;
  FileStream first(CountedString(dir.file("one")), "w");
  ASSERT_TRUE(first.putString("one"));

  FileStream moved(std::move(first));
  EXPECT_FALSE(first.isOpen());  // NOLINT(bugprone-use-after-move)
  EXPECT_TRUE(moved.isOpen());

  FileStream second(CountedString(dir.file("two")), "w");
  ASSERT_TRUE(second.putString("two"));
  moved = std::move(second);  // closes "one", flushing it
  EXPECT_EQ(readFile(dir.file("one")), "one");
  EXPECT_EQ(moved.path(), dir.file("two"));

  // adopt closes what it held and leaves the source its path.
  FileStream source(CountedString(dir.file("three")), "w");
  ASSERT_TRUE(source.putString("three"));
  moved.adopt(source);
  EXPECT_EQ(readFile(dir.file("two")), "two");
  EXPECT_FALSE(source.isOpen());
  EXPECT_EQ(source.path().data(), moved.path().data());
  EXPECT_STREQ(moved.mode(), "w");
  { FileStream last = std::move(moved); }
  EXPECT_EQ(readFile(dir.file("three")), "three");  // destroying closes
}

TEST(FileStream, FilesBeyondFourGigabytes) {
  TempDir dir;
  const uint64_t kSize = (5ull << 30) + 7;
  FileStream stream(CountedString(dir.file("big")), "w+b");
  ASSERT_TRUE(stream.isOpen());
  ASSERT_TRUE(truncateFile(stream.stdioStream(), kSize));
  EXPECT_EQ(stream.size(), static_cast<int64_t>(kSize));

  const uint64_t far = (4ull << 30) + 12345;
  ASSERT_TRUE(stream.setPosition(far));
  EXPECT_EQ(stream.putChar('Q'), 'Q');
  EXPECT_EQ(stream.getPosition(), far + 1);
  ASSERT_TRUE(stream.setPosition(far - 1));
  char bytes[3] = {};
  EXPECT_EQ(stream.read(bytes, 1, 3), 3u);
  EXPECT_EQ(std::memcmp(bytes, "\0Q\0", 3), 0);
  ASSERT_TRUE(stream.setPosition(kSize));
  EXPECT_EQ(stream.getChar(), -1);
  EXPECT_EQ(stream.getPosition(), kSize);
}

}  // namespace
}  // namespace cdt
