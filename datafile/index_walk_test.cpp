// Window reads through a damaged or lying index: for entries across a
// recording, each way of corrupting one entry, a window starting just after
// it gives exactly the records a read from the start gives. The walk reads
// the headers through views of the mapped file or in chunks through the
// stream; both must give the same, whatever the damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "datafile/data_file.h"
#include "datafile/index_walk.h"
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

// The heads a seek showed, in order.
class HeadLog : public RecordHeadObserver {
 public:
  void record(const unsigned char* head) override {
    heads.emplace_back(reinterpret_cast<const char*>(head), kRecordHeadBytes);
  }
  std::vector<std::string> heads;
};

// Everything a window seek with an observer gives: its report, the heads it
// showed and the records read from where it left reading.
struct Walked {
  WindowSeek seek;
  std::vector<std::string> heads;
  Read read;
};

Walked walkTo(const std::string& path, uint64_t start) {
  Walked walked;
  auto file = openDataFile(path.c_str());
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return walked;
  HeadLog log;
  walked.seek = seekToTime(*file, start, log);
  walked.heads = log.heads;
  walked.read = readFrom(*file, start);
  return walked;
}

class IndexWalkTest : public ::testing::Test {
 protected:
  void TearDown() override { setWalkReading(WalkReading{}); }

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

// The walk from the start, and jumps (every seek tries one): a lie the jump
// does not catch lies outside its stretch and changes no record.
TEST_F(IndexWalkTest, ATrueIndexIsUsedAndALyingOneCostsNoRecord) {
  ASSERT_GT(entries, 20u);
  for (const bool jumps : {false, true}) {
    setWalkReading({true, WalkReading{}.viewBytes, jumps ? 0 : UINT64_MAX});
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
      EXPECT_EQ(seek.jumped, jumps && k > 0);

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
}

// A jump trusts the index before its stretch: past a damaged record the
// window reads the records there, which a read from the start never reaches;
// with the damage inside the stretch the seek walks from the start instead.
TEST_F(IndexWalkTest, AJumpTrustsTheIndexBeforeItsStretch) {
  setWalkReading({true, WalkReading{}.viewBytes, 0});
  std::string damaged = bytes;
  const uint32_t k = 8;
  storeU16(damaged.data() + entryField(k, kIndexEntryPosition) + kRecordType, 7);
  for (const uint32_t e : {k + 2, entries - 1}) {
    const uint64_t start = entryField(e, kIndexEntryTime) + 1;
    WindowSeek seek;
    const auto [got, whole] = window(damaged, start, &seek);
    EXPECT_EQ(whole.stop.status, DataFileStatus::BadType);
    EXPECT_EQ(seek.jumped, e == entries - 1) << e;
    expectSame(got, seek.jumped ? window(bytes, start).second : whole, std::to_string(e));
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

void expectSameWalk(const Walked& got, const Walked& expected, const std::string& what) {
  EXPECT_EQ(got.seek.positioned, expected.seek.positioned) << what;
  EXPECT_EQ(got.seek.entry, expected.seek.entry) << what;
  EXPECT_EQ(got.seek.indexDisagrees, expected.seek.indexDisagrees) << what;
  EXPECT_EQ(got.seek.firstBadEntry, expected.seek.firstBadEntry) << what;
  EXPECT_EQ(got.heads, expected.heads) << what;
  expectSame(got.read, expected.read, what);
}

// Views of the mapped file (whole, and so small that headers straddle their
// ends) and chunks read through the stream.
const WalkReading kReadings[] = {{true, WalkReading{}.viewBytes}, {true, 64}, {false, 0}};

TEST_F(IndexWalkTest, MappedAndChunkedWalksAgreeOnDamagedFiles) {
  const uint32_t k = entries / 2;
  const uint64_t at = entryField(k, kIndexEntryPosition);
  struct Damage {
    const char* name;
    uint64_t offset;  // where the damage goes; 0: none
    int width;        // bytes of the value stored there
    uint64_t value;
  };
  const Damage damages[] = {
      {"none", 0, 0, 0},
      {"a record type past the last", at + kRecordType, 2, 7},
      {"a record size not a multiple of 4", at + kRecordSize, 4, 4 * 40 + 2},
      {"a record running into the index", at + kRecordSize, 4, 0x7FFFFFF0},
      {"a record without a body", at + kRecordSize, 4, kMinRecordSize},
      {"a lying index entry", indexOffset + (k - 2) * kIndexEntrySize + kIndexEntryPosition, 8, 1},
  };
  for (const Damage& damage : damages) {
    std::string data = bytes;
    if (damage.width == 2)
      storeU16(data.data() + damage.offset, static_cast<uint16_t>(damage.value));
    if (damage.width == 4)
      storeU32(data.data() + damage.offset, static_cast<uint32_t>(damage.value));
    if (damage.width == 8) storeU64(data.data() + damage.offset, damage.value);
    writeFile(dir.file("d.cdt"), data);
    for (uint64_t start : {kStart + 1, entryField(k - 1, kIndexEntryTime) + 1,
                           entryField(k + 3, kIndexEntryTime), UINT64_MAX}) {
      const std::string what = std::string(damage.name) + ", start " + std::to_string(start);
      setWalkReading({false, 0});
      const Walked chunked = walkTo(dir.file("d.cdt"), start);
      for (const WalkReading& reading : kReadings) {
        setWalkReading(reading);
        expectSameWalk(
            walkTo(dir.file("d.cdt"), start), chunked,
            what + (reading.map ? ", mapped " + std::to_string(reading.viewBytes) : ", chunked"));
      }
    }
  }
}

// Part planning over damaged records and lying entries: each planned start
// resumes where a seek of its own would, with the same report, the observer
// having been shown exactly the heads that seek shows, and the read from
// there gives the records the seek's read gives.
TEST_F(IndexWalkTest, PlannedSeeksAreTheSeeksOfTheirStartsOnDamagedFiles) {
  const uint32_t k = entries / 2;
  const uint64_t at = entryField(k, kIndexEntryPosition);
  const auto entryAt = [&](uint32_t e, uint32_t field) {
    return indexOffset + e * kIndexEntrySize + field;
  };
  struct Damage {
    const char* name;
    uint64_t offset;  // where the damage goes; 0: none
    int width;        // bytes of the value stored there
    uint64_t value;
  };
  std::vector<Damage> damages = {
      {"none", 0, 0, 0},
      {"a record type past the last", at + kRecordType, 2, 7},
      {"a record running into the index", at + kRecordSize, 4, 0x7FFFFFF0},
  };
  // Lying entries early, in the middle and late: a position elsewhere, a
  // time out of order either way.
  for (uint32_t e : {1u, k - 2, entries - 3}) {
    const uint64_t time = entryField(e, kIndexEntryTime);
    damages.push_back({"an entry's position at the first record", entryAt(e, kIndexEntryPosition),
                       8, dataOffset});
    damages.push_back({"an entry's position into a record", entryAt(e, kIndexEntryPosition), 8,
                       entryField(e, kIndexEntryPosition) - 12});
    damages.push_back({"an entry's position at another entry's", entryAt(e, kIndexEntryPosition), 8,
                       entryField(e + 2, kIndexEntryPosition)});
    damages.push_back({"an entry's time 1 us earlier", entryAt(e, kIndexEntryTime), 8, time - 1});
    damages.push_back(
        {"an entry's time before the one before", entryAt(e, kIndexEntryTime), 8, time - 20000});
    damages.push_back({"an entry's time past the last", entryAt(e, kIndexEntryTime), 8,
                       entryField(entries - 1, kIndexEntryTime) + 20000});
    damages.push_back({"an entry's time far later", entryAt(e, kIndexEntryTime), 8, UINT64_MAX});
  }
  // Starts around every entry near the damage and the ends of the index,
  // increasing as part planning asks. Over the true index also from the last
  // to the first: only the starts that resume at or after where the walk
  // stands may be planned.
  std::vector<uint64_t> starts = {kStart + 1, UINT64_MAX};
  for (uint32_t e = 0; e < entries; ++e) {
    if (e > 3 && (e + 5 < k || e > k + 2) && e + 5 < entries) continue;
    const uint64_t time = entryField(e, kIndexEntryTime);
    starts.insert(starts.end(), {time - 1, time, time + 1});
  }
  std::sort(starts.begin(), starts.end());
  std::vector<uint64_t> backwards(starts.rbegin(), starts.rend());
  for (const Damage& damage : damages) {
    std::string data = bytes;
    if (damage.width == 2)
      storeU16(data.data() + damage.offset, static_cast<uint16_t>(damage.value));
    if (damage.width == 4)
      storeU32(data.data() + damage.offset, static_cast<uint32_t>(damage.value));
    if (damage.width == 8) storeU64(data.data() + damage.offset, damage.value);
    writeFile(dir.file("p.cdt"), data);
    for (const std::vector<uint64_t>* order : {&starts, &backwards}) {
      if (order == &backwards && damage.offset != 0) continue;
      auto file = openDataFile(dir.file("p.cdt").c_str());
      ASSERT_NE(file, nullptr);
      HeadLog log;
      std::vector<std::pair<std::size_t, PlannedSeek>> planned;
      std::vector<std::size_t> shown;
      ASSERT_TRUE(planSeeks(*file, *order, log, [&](std::size_t i, const PlannedSeek& p) {
        planned.emplace_back(i, p);
        shown.push_back(log.heads.size());
      }));
      EXPECT_GE(planned.size(), order == &starts ? 3u : 1u) << damage.name;
      for (std::size_t n = 0; n < planned.size(); ++n) {
        const auto& [i, p] = planned[n];
        const uint64_t start = (*order)[i];
        const std::string what = std::string(damage.name) + " (byte " +
                                 std::to_string(damage.offset) + "), start " +
                                 std::to_string(start) + (order == &starts ? "" : ", backwards");
        const Walked own = walkTo(dir.file("p.cdt"), start);
        EXPECT_EQ(p.seek.positioned, own.seek.positioned) << what;
        EXPECT_EQ(p.seek.entry, own.seek.entry) << what;
        EXPECT_EQ(p.seek.indexDisagrees, own.seek.indexDisagrees) << what;
        EXPECT_EQ(p.seek.firstBadEntry, own.seek.firstBadEntry) << what;
        EXPECT_EQ(std::vector<std::string>(log.heads.begin(), log.heads.begin() + shown[n]),
                  own.heads)
            << what;
        auto reading = openDataFile(dir.file("p.cdt").c_str());
        ASSERT_NE(reading, nullptr);
        ASSERT_TRUE(resumeAt(*reading, p)) << what;
        expectSame(readFrom(*reading, start), own.read, what);
      }
    }
  }
}

TEST_F(IndexWalkTest, AFileCutShortAfterItsOpenIsWalkedAsFarAsItHolds) {
  // A view past the file's end would fault when read; the walk meets the
  // short file as reading proper does, mapped or not.
  const uint64_t late = entryField(entries - 2, kIndexEntryTime) + 1;
  for (const uint64_t size :
       {uint64_t{0}, dataOffset + 10, entryField(entries / 2, kIndexEntryPosition) + 6,
        indexOffset - 3, indexOffset}) {
    std::vector<Walked> walks;
    for (const WalkReading& reading : kReadings) {
      setWalkReading(reading);
      writeFile(dir.file("c.cdt"), bytes);
      auto file = openDataFile(dir.file("c.cdt").c_str());
      ASSERT_NE(file, nullptr);
      // The index is read before the cut, so the walk has entries to check.
      ASSERT_TRUE(file->loadIndex());
      std::filesystem::resize_file(dir.file("c.cdt"), size);
      Walked walked;
      HeadLog log;
      walked.seek = seekToTime(*file, late, log);
      walked.heads = log.heads;
      walked.read = readFrom(*file, late);
      EXPECT_TRUE(walked.seek.positioned) << size;
      EXPECT_EQ(walked.read.stop.status,
                size < indexOffset ? DataFileStatus::CutRecord : DataFileStatus::EndOfRecords)
          << size;
      walks.push_back(walked);
    }
    for (const Walked& walked : walks) expectSameWalk(walked, walks.back(), std::to_string(size));
  }
}

}  // namespace
}  // namespace cdt
