// Sample recordings for the tests of the commands that derive data files
// (recover, cut, sets): written with the library's writer, plus the form a
// file has when its recorder died before finishing it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "csv/csv_test_support.h"
#include "datafile/data_file.h"
#include "foundation/byte_order.h"
#include "tools/tool_test_support.h"

namespace cdt::testing {

inline constexpr uint64_t kSecond = 1000000;
// 2011-03-15 14:07:09.25 UTC.
inline constexpr uint64_t kSampleStart = 1300198029250000ull;

// Two probes, "A" on channel 0 and "B" on channel 1 of host 0, two blades each.
inline Configuration sampleConfiguration() {
  Configuration c;
  addProbes(c, {{0, "A", 2}, {1, "B", 2}});
  return c;
}

// The blade record of revolution `n` on `channel`, timed `time`.
inline RecordRef revolutionRecord(uint64_t n, uint8_t channel, uint64_t time) {
  BladeRecordSpec s;
  s.channel = channel;
  s.time = time;
  s.startRevolution = 1000 + n;
  s.rms = 0.25f * static_cast<float>(n + 1) + static_cast<float>(channel);
  s.blades = {{1.5f + static_cast<float>(n), 0.125f}, {2.5f, 0.375f + static_cast<float>(channel)}};
  return makeBladeRecord(s);
}

// Writes revolutions [first, first + count) one second apart from
// kSampleStart: per revolution a record for each channel (one CSV line),
// and after every third revolution a type-1 record of the same time.
inline void writeSampleRecords(DataFile& file, uint64_t first, uint64_t count) {
  for (uint64_t n = first; n < first + count; ++n) {
    const uint64_t time = kSampleStart + n * kSecond;
    ASSERT_TRUE(writeRecord(file, *revolutionRecord(n, 0, time)));
    ASSERT_TRUE(writeRecord(file, *revolutionRecord(n, 1, time)));
    if (n % 3 == 2) {
      ASSERT_TRUE(writeRecord(file, *makeOtherRecord(kRecordTypeEntries, kEntriesBaseSize, time)));
    }
  }
}

// A finished sample file of `count` revolutions at `path`.
inline void writeSampleFile(const std::string& path, uint64_t count) {
  auto file = createDataFile(sampleConfiguration(), path.c_str());
  ASSERT_NE(file, nullptr);
  writeSampleRecords(*file, 0, count);
  ASSERT_TRUE(closeDataFile(*file));
}

// The bytes a recorder that died before finishing leaves for `finished`:
// the index gone and the header's index fields 0.
inline std::string unfinishedForm(const std::string& finished) {
  std::string bytes = finished;
  const uint64_t indexOffset = loadU64(bytes.data() + kHeaderIndexOffset);
  bytes.resize(indexOffset);
  storeU64(bytes.data() + kHeaderIndexOffset, 0);
  storeU64(bytes.data() + kHeaderIndexEnd, 0);
  return bytes;
}

// The CSV lines (without line feeds) cdt2csv makes of `input`, run in
// `directory`; a single "<...>" line when the conversion failed.
inline std::vector<std::string> csvLines(const std::string& input, const std::string& directory) {
  std::string name = input.substr(input.find_last_of('/') + 1);
  name = name.substr(0, name.find_last_of('.')) + ".csv";
  return splitLines(convertToCsv(input, directory, name));
}

// The times of the records of `path`, in file order.
inline std::vector<uint64_t> recordTimes(const std::string& path) {
  std::vector<uint64_t> times;
  auto file = openDataFile(path.c_str());
  if (file == nullptr) return times;
  while (RecordRef r = readNextRecord(*file)) times.push_back(r->time());
  return times;
}

}  // namespace cdt::testing
