#include "datafile/follower.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/byte_order.h"
#include "foundation/file_system.h"
#include "test/support.h"

namespace cdt {
namespace {

using namespace std::chrono_literals;
using testing::readFile;
using testing::TempDir;

std::string u32(uint32_t v) {
  std::string s(4, '\0');
  storeU32(s.data(), v);
  return s;
}
std::string u64(uint64_t v) {
  std::string s(8, '\0');
  storeU64(s.data(), v);
  return s;
}

// A record's file bytes: `size` as stored, then a body of size - 24 bytes.
std::string record(uint32_t size, uint16_t type, uint64_t time, char fill) {
  std::string s = u32(size) + u32(type) + u32(0) + u64(time);
  s.append(size - kMinRecordSize, fill);
  return s;
}

// A recording as its writer makes it: the bytes while it is written
// (header with index fields 0, configuration, padding, records) and the
// index and header that finish it.
struct Recording {
  explicit Recording(const std::vector<std::string>& records) {
    const std::string config = "Configuration\n{\n}\n";
    const uint64_t dataOffset = dataOffsetFor(config.size());
    std::string body;
    uint64_t lastTime = 0;
    for (const std::string& r : records) {
      body += r;
      const uint64_t time = loadU64(r.data() + kRecordTime);
      if (index.empty() || lastTime < time) {
        index += u64(time) + u64(dataOffset + body.size());
        lastTime = time;
      }
    }
    const uint64_t indexOffset = dataOffset + body.size();
    const std::string fixed =
        u32(kMagic1) + u32(kMagic2) + u64(kFileHeaderSize) + u64(config.size()) + u64(dataOffset);
    written = fixed + u64(0) + u64(0) + u64(0) + config +
              std::string(dataOffset - kFileHeaderSize - config.size(), '\0') + body;
    finishedHeader = fixed + u64(indexOffset) + u64(indexOffset + index.size()) + u64(0);
  }
  std::string written;
  std::string index;
  std::string finishedHeader;
};

std::vector<std::string> sampleRecords() {
  std::vector<std::string> records;
  for (uint32_t i = 0; i < 12; ++i) {
    // Sizes 28 to 572, times going back once, a long record among them.
    const uint32_t size = i == 7 ? 40000 : 28 + 4 * ((i * 37) % 137);
    records.push_back(record(size, static_cast<uint16_t>(i % 4), 1000000 + (i == 5 ? 0 : i), 'a'));
  }
  return records;
}

void append(const std::string& path, const std::string& bytes) {
  std::FILE* f = openFile(path.c_str(), "ab");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  ASSERT_EQ(std::fclose(f), 0);
}

void overwrite(const std::string& path, uint64_t at, const std::string& bytes) {
  std::FILE* f = openFile(path.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(seekFile(f, static_cast<int64_t>(at), SEEK_SET));
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  ASSERT_EQ(std::fclose(f), 0);
}

std::string bytesOf(const RecordRef& r) {
  return {reinterpret_cast<const char*>(r->fileBytes()), r->fileSize()};
}

// Takes every record the follower hands out now.
FollowStatus drain(DataFileFollower& follower, std::vector<std::string>& into) {
  for (;;) {
    RecordRef r;
    const FollowStatus status = follower.next(r, 0ms);
    if (status != FollowStatus::Record) return status;
    into.push_back(bytesOf(r));
  }
}

// The records a reader yields of the file at `path` in `mode`.
std::vector<std::string> readWhole(const std::string& path, ReadMode mode) {
  DataFileReport report;
  std::unique_ptr<DataFile> file = openDataFile(path.c_str(), report, mode);
  std::vector<std::string> records;
  if (file == nullptr) return records;
  while (RecordRef r = readNextRecord(*file)) records.push_back(bytesOf(r));
  return records;
}

TEST(DataFileFollower, HandsOutWholeRecordsAsTheyArriveAndEndsWhenFinished) {
  const std::vector<std::string> records = sampleRecords();
  const Recording rec(records);
  // Pieces that cut records and their headers everywhere: single bytes
  // across the first records, then growing steps.
  std::vector<std::size_t> cuts;
  for (std::size_t at = 1; at < rec.written.size();) {
    cuts.push_back(at);
    at += at < 200 ? 1 : (at % 997) + 1;
  }
  cuts.push_back(rec.written.size());

  TempDir dir;
  const std::string path = dir.file("run.cdt");
  DataFileFollower follower(path);  // named by its final name, not there yet
  std::vector<std::string> seen;
  EXPECT_EQ(drain(follower, seen), FollowStatus::Waiting);
  std::size_t done = 0;
  for (std::size_t cut : cuts) {
    append(path + ".temp", rec.written.substr(done, cut - done));
    done = cut;
    ASSERT_EQ(drain(follower, seen), FollowStatus::Waiting) << "at " << cut;
    // Exactly the records wholly within the bytes written so far.
    std::size_t whole = 0;
    for (uint64_t end = dataOffsetFor(18); whole < records.size(); ++whole) {
      end += records[whole].size();
      if (end > cut) break;
    }
    ASSERT_EQ(seen.size(), whole) << "at " << cut;
  }
  EXPECT_EQ(follower.openPath(), path + ".temp");
  EXPECT_TRUE(follower.hasConfiguration());

  // The writer finishes: index, header, rename. Appending the index alone
  // must not end anything or add records.
  append(path + ".temp", rec.index);
  EXPECT_EQ(drain(follower, seen), FollowStatus::Waiting);
  overwrite(path + ".temp", 0, rec.finishedHeader);
  ASSERT_TRUE(renameFile((path + ".temp").c_str(), path.c_str()));
  EXPECT_EQ(drain(follower, seen), FollowStatus::Finished);
  EXPECT_EQ(seen, records);
  EXPECT_EQ(seen, readWhole(path, ReadMode::Normal));
  EXPECT_TRUE(follower.indexAgrees());
  EXPECT_EQ(follower.stopReport().status, DataFileStatus::EndOfRecords);
  EXPECT_EQ(follower.error(), FollowError::None);

  // A finished file followed afresh is read to its end at once; a wrong
  // index is noticed.
  DataFileFollower again(path);
  std::vector<std::string> all;
  EXPECT_EQ(drain(again, all), FollowStatus::Finished);
  EXPECT_EQ(all, records);
  std::string wrong = rec.index;
  wrong[9] ^= 1;
  overwrite(path, rec.written.size(), wrong);
  DataFileFollower lied(path);
  all.clear();
  EXPECT_EQ(drain(lied, all), FollowStatus::Finished);
  EXPECT_EQ(all, records);
  EXPECT_FALSE(lied.indexAgrees());
}

TEST(DataFileFollower, IndexBytesThatLookLikeARecordWaitForTheHeader) {
  // Times so small that the first index entry (time, end of the record)
  // reads as a valid record header of size 1000.
  std::vector<std::string> records;
  for (uint32_t i = 0; i < 80; ++i) records.push_back(record(28, 1, 1000 + i, 'x'));
  const Recording rec(records);
  TempDir dir;
  const std::string temp = dir.file("small.cdt.temp");
  append(temp, rec.written);
  DataFileFollower follower(temp);
  std::vector<std::string> seen;
  EXPECT_EQ(drain(follower, seen), FollowStatus::Waiting);
  append(temp, rec.index);
  EXPECT_EQ(drain(follower, seen), FollowStatus::Waiting);
  EXPECT_EQ(seen.size(), records.size());
  overwrite(temp, 0, rec.finishedHeader);  // finished, its rename failed
  EXPECT_EQ(drain(follower, seen), FollowStatus::Finished);
  EXPECT_EQ(seen, records);
  EXPECT_TRUE(follower.indexAgrees());
}

TEST(DataFileFollower, GivesUpAfterTheIdleTimeWithTheRecordsRecoverKeeps) {
  const std::vector<std::string> records = sampleRecords();
  const Recording rec(records);
  TempDir dir;
  struct Case {
    std::string name;
    std::string bytes;
    DataFileStatus stop;
  };
  std::string damaged = rec.written;
  // Record 3 gets type 9: reading stops before it.
  const uint64_t third =
      dataOffsetFor(18) + records[0].size() + records[1].size() + records[2].size();
  damaged[third + kRecordType] = 9;
  const std::vector<Case> cases = {
      {"cut", rec.written.substr(0, rec.written.size() - 7), DataFileStatus::CutRecord},
      {"whole", rec.written, DataFileStatus::EndOfRecords},
      {"damaged", damaged, DataFileStatus::BadType},
      {"header only", rec.written.substr(0, 60), DataFileStatus::EndOfRecords},
  };
  for (const Case& c : cases) {
    const std::string path = dir.file(c.name + ".cdt.temp");
    append(path, c.bytes);
    FollowOptions options;
    options.idle = 150ms;
    DataFileFollower follower(path, options);
    std::vector<std::string> seen;
    const auto start = std::chrono::steady_clock::now();
    FollowStatus status;
    do {
      RecordRef r;
      status = follower.next(r, 1000ms);
      if (r) seen.push_back(bytesOf(r));
    } while (status == FollowStatus::Record);
    EXPECT_EQ(status, FollowStatus::Idle) << c.name;
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
    if (c.name == "header only") {
      // The configuration is not all there: nothing to salvage.
      EXPECT_FALSE(follower.hasConfiguration());
      EXPECT_TRUE(seen.empty());
      continue;
    }
    EXPECT_EQ(seen, readWhole(path, ReadMode::Salvage)) << c.name;
    EXPECT_EQ(follower.stopReport().status, c.stop) << c.name;
  }
}

TEST(DataFileFollower, AFileThatChangesBehindTheFollowerIsAnError) {
  const Recording rec(sampleRecords());
  TempDir dir;
  const auto follow = [&](const std::string& name, auto change) {
    const std::string path = dir.file(name + ".cdt.temp");
    append(path, rec.written);
    DataFileFollower follower(path);
    std::vector<std::string> seen;
    EXPECT_EQ(drain(follower, seen), FollowStatus::Waiting);
    change(path);
    EXPECT_EQ(drain(follower, seen), FollowStatus::Failed) << name;
    return follower.error();
  };
  EXPECT_EQ(follow("shrank",
                   [&](const std::string& path) {
                     testing::writeFile(path, rec.written.substr(0, rec.written.size() - 1));
                   }),
            FollowError::Shrank);
  EXPECT_EQ(follow("bias", [&](const std::string& path) { overwrite(path, 48, u64(5)); }),
            FollowError::Changed);
  EXPECT_EQ(follow("config", [&](const std::string& path) { overwrite(path, 60, "x"); }),
            FollowError::Changed);

  // A writer that starts over in its file: bytes of records already handed
  // out change in place. The first and the last record are read again when
  // the follower wakes up.
  const uint64_t dataOffset = loadU64(rec.written.data() + kHeaderDataOffset);
  for (const uint64_t at : {dataOffset + kRecordTime, uint64_t{rec.written.size() - 1}}) {
    const std::string path = dir.file("rewritten" + std::to_string(at) + ".cdt.temp");
    append(path, rec.written);
    DataFileFollower follower(path);
    std::vector<std::string> seen;
    EXPECT_EQ(drain(follower, seen), FollowStatus::Waiting);
    overwrite(path, at, "b");
    RecordRef r;
    EXPECT_EQ(follower.next(r, 60000ms), FollowStatus::Failed) << at;
    EXPECT_EQ(follower.error(), FollowError::Rewritten) << at;
  }

  const std::string other = dir.file("other.cdt");
  testing::writeFile(other, "not a data file at all, but long enough");
  DataFileFollower notData(other);
  std::vector<std::string> none;
  EXPECT_EQ(drain(notData, none), FollowStatus::Failed);
  EXPECT_EQ(notData.error(), FollowError::NotDataFile);

  // Records that would start where no reader can seek: the reader's open
  // fails, and so does the follow.
  std::string far = rec.written;
  storeU64(far.data() + kHeaderDataOffset, uint64_t{1} << 63);
  testing::writeFile(dir.file("far.cdt"), far);
  DataFileFollower farAway(dir.file("far.cdt"));
  EXPECT_EQ(drain(farAway, none), FollowStatus::Failed);
  EXPECT_EQ(farAway.error(), FollowError::IoError);
}

TEST(DataFileFollower, StopEndsAWaitFromAnotherThread) {
  TempDir dir;
  FollowOptions options;
  options.idle = 0ms;  // never give up
  DataFileFollower follower(dir.file("never.cdt"), options);
  std::thread stopper([&] {
    std::this_thread::sleep_for(50ms);
    follower.stop();
  });
  RecordRef r;
  const auto start = std::chrono::steady_clock::now();
  // A wait far longer than any delay of the stopper: only the stop ends it.
  EXPECT_EQ(follower.next(r, 600000ms), FollowStatus::Stopped);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 120000ms);
  stopper.join();
  EXPECT_EQ(follower.next(r, 0ms), FollowStatus::Stopped);
}

}  // namespace
}  // namespace cdt
