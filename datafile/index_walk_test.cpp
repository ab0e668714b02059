// Window reads through a damaged or lying index: for entries across a
// recording, each way of corrupting one entry, a window starting just after
// it gives exactly the records a read from the start gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datafile/data_file.h"
#include "datafile/record_constructors.h"
#include "foundation/byte_order.h"
#include "test/support.h"

namespace cdt {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

constexpr uint64_t kStart = 1300198029250000ull;

// A type-1 record of n entries at `time`.
RecordRef entriesRecord(uint32_t n, uint64_t time) {
  RecordRef record = newType1Record(0, n);
  record->setTime(time);
  return record;
}

struct Seen {
  uint64_t time;
  uint64_t end;
  bool operator==(const Seen&) const = default;
};

struct Read {
  std::vector<Seen> records;
  DataFileReport stop;
};

// The records from the reading position on with a time at or after `start`.
Read readFrom(DataFile& file, uint64_t start) {
  Read read;
  while (RecordRef record = readNextRecord(file)) {
    if (record->time() >= start)
      read.records.push_back({record->time(), file.lastReadStatus().offset});
  }
  read.stop = file.lastReadStatus();
  return read;
}

class IndexWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Records of three sizes; pairs sharing a time (one entry for both) and
    // a record earlier than those before it (no entry).
    auto file = createDataFile(Configuration(), dir.file("r.cdt").c_str());
    ASSERT_NE(file, nullptr);
    for (uint64_t n = 0; n < 40; ++n) {
      const uint64_t time = kStart + n * 1000 - (n % 9 == 8 ? 5000 : 0);
      ASSERT_TRUE(writeRecord(*file, *entriesRecord(static_cast<uint32_t>(n % 3), time)));
      if (n % 4 == 1) {
        ASSERT_TRUE(writeRecord(*file, *entriesRecord(1, time)));
      }
    }
    ASSERT_TRUE(closeDataFile(*file));
    bytes = readFile(dir.file("r.cdt"));
    indexOffset = loadU64(bytes.data() + kHeaderIndexOffset);
    dataOffset = loadU64(bytes.data() + kHeaderDataOffset);
    entries = static_cast<uint32_t>((bytes.size() - indexOffset) / kIndexEntrySize);
  }

  uint64_t entryField(uint32_t k, uint32_t field) const {
    return loadU64(bytes.data() + indexOffset + k * kIndexEntrySize + field);
  }

  // What a window from `start` gives in `data`: through seekToTime, and from
  // the start of the records.
  std::pair<Read, Read> window(const std::string& data, uint64_t start,
                               WindowSeek* seek = nullptr) {
    writeFile(dir.file("w.cdt"), data);
    auto file = openDataFile(dir.file("w.cdt").c_str());
    EXPECT_NE(file, nullptr);
    if (file == nullptr) return {};
    const Read whole = readFrom(*file, start);
    const WindowSeek s = seekToTime(*file, start);
    EXPECT_TRUE(s.positioned);
    if (seek != nullptr) *seek = s;
    return {readFrom(*file, start), whole};
  }

  TempDir dir;
  std::string bytes;
  uint64_t indexOffset = 0;
  uint64_t dataOffset = 0;
  uint32_t entries = 0;
};

void expectSame(const Read& got, const Read& expected, const std::string& what) {
  EXPECT_EQ(got.records, expected.records) << what;
  EXPECT_EQ(got.stop.status, expected.stop.status) << what;
  EXPECT_EQ(got.stop.offset, expected.stop.offset) << what;
}

TEST_F(IndexWalkTest, ATrueIndexIsUsedAndALyingOneCostsNoRecord) {
  ASSERT_GT(entries, 20u);
  for (uint32_t k : {0u, 1u, entries / 2, entries - 2, entries - 1}) {
    const uint64_t time = entryField(k, kIndexEntryTime);
    const uint64_t position = entryField(k, kIndexEntryPosition);
    const uint64_t other = entryField(k == 0 ? 1 : k - 1, kIndexEntryPosition);

    WindowSeek seek;
    const auto [clean, cleanWhole] = window(bytes, time + 1, &seek);
    EXPECT_EQ(cleanWhole.records.empty(), k + 1 == entries);
    expectSame(clean, cleanWhole, "unchanged");
    ASSERT_TRUE(seek.entry) << k;
    EXPECT_EQ(*seek.entry, k);
    EXPECT_FALSE(seek.indexDisagrees);

    struct Change {
      const char* name;
      uint32_t field;
      uint64_t value;
    };
    const Change changes[] = {
        {"position 0", kIndexEntryPosition, 0},
        {"position at the header's end", kIndexEntryPosition, kFileHeaderSize},
        {"position at the first record", kIndexEntryPosition, dataOffset},
        {"position at the end of the records", kIndexEntryPosition, indexOffset},
        {"position into a record", kIndexEntryPosition, position - 12},
        {"position at another entry's", kIndexEntryPosition, other},
        {"position far past the file", kIndexEntryPosition, uint64_t{1} << 62},
        {"time earlier", kIndexEntryTime, time - 1},
        {"time later", kIndexEntryTime, time + 1},
        {"time far later", kIndexEntryTime, UINT64_MAX},
    };
    for (const Change& change : changes) {
      std::string lying = bytes;
      storeU64(lying.data() + indexOffset + k * kIndexEntrySize + change.field, change.value);
      const std::string what = std::string(change.name) + ", entry " + std::to_string(k);
      for (uint64_t start : {time + 1, time, kStart}) {
        const auto [got, whole] = window(lying, start, &seek);
        // The records themselves are untouched, so the whole read is too.
        expectSame(whole, window(bytes, start).second, what);
        expectSame(got, whole, what);
        if (seek.entry) {
          EXPECT_FALSE(seek.indexDisagrees) << what;
        }
        if (seek.indexDisagrees) {
          EXPECT_EQ(seek.firstBadEntry, k) << what;
        }
        // An earlier time makes the entry the one before the window: the
        // seek walks to it and finds it false.
        if (change.field == kIndexEntryTime && change.value < time && start == time + 1) {
          EXPECT_TRUE(seek.indexDisagrees) << what;
        }
      }
      // Whatever the field, the lie is found and reported at its entry: a
      // time 1 us off with the position right is as false as a wrong
      // position.
      if (change.value == entryField(k, change.field)) continue;  // no lie after all
      writeFile(dir.file("w.cdt"), lying);
      auto file = openDataFile(dir.file("w.cdt").c_str());
      ASSERT_NE(file, nullptr);
      EXPECT_FALSE(seekToIndexEntry(*file, k)) << what;
      const std::optional<IndexDisagreement> bad = file->indexDisagreement();
      ASSERT_TRUE(bad && bad->stored && bad->expected) << what;
      EXPECT_EQ(bad->entry, k) << what;
      EXPECT_EQ(bad->stored->time, change.field == kIndexEntryTime ? change.value : time) << what;
      EXPECT_EQ(bad->expected->time, time) << what;
      EXPECT_EQ(bad->expected->position, position) << what;
    }
  }
}

TEST_F(IndexWalkTest, NoWindowReadsPastADamagedRecord) {
  // A damaged record in the middle ends every window there, however far
  // past it the window starts and whatever the index says beyond it.
  std::string damaged = bytes;
  const uint32_t k = entries / 2;
  const uint64_t at = entryField(k, kIndexEntryPosition);
  storeU16(damaged.data() + at + kRecordType, 7);
  for (uint64_t start : {kStart, entryField(k + 3, kIndexEntryTime), UINT64_MAX}) {
    WindowSeek seek;
    const auto [got, whole] = window(damaged, start, &seek);
    expectSame(got, whole, std::to_string(start));
    EXPECT_EQ(got.stop.status, DataFileStatus::BadType);
    EXPECT_EQ(got.stop.offset, at);
    EXPECT_FALSE(seek.entry && *seek.entry > k);
  }
  // The entry before the damage is still confirmed; the one after is not.
  writeFile(dir.file("w.cdt"), damaged);
  auto file = openDataFile(dir.file("w.cdt").c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(seekToIndexEntry(*file, k));
  EXPECT_FALSE(seekToIndexEntry(*file, k + 1));
  EXPECT_FALSE(file->indexDisagreement());
}

}  // namespace
}  // namespace cdt
