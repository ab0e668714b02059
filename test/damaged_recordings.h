// Recordings whose sizes lie, for the tests that bound what reading them may
// allocate: a small valid recording, then one size in it made huge or wrong
// (the configuration block, the index, a record, a count in a record or in
// the configuration text).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "csv/csv_test_support.h"
#include "datafile/data_file.h"
#include "datafile/record_constructors.h"
#include "foundation/byte_order.h"
#include "test/support.h"

namespace cdt::testing {

// The bytes of a finished recording: probe "P" (2 blades) on slot 0 of host
// 0; per revolution a blade record, a type-1 record with two entries and,
// every fourth, a type-0 record.
inline std::string sampleRecording(uint64_t revolutions) {
  Configuration config;
  addProbes(config, {{0, "P", 2}});
  TempDir dir;
  const std::string path = dir.file("sample.cdt");
  auto file = createDataFile(config, path.c_str());
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return "";
  for (uint64_t n = 0; n < revolutions; ++n) {
    BladeRecordSpec s;
    s.time = 1300198029250000ull + n * 1000000;
    s.startRevolution = n;
    s.blades = {{1.5f, 0.25f}, {2.5f, 0.75f}};
    EXPECT_TRUE(writeRecord(*file, *makeBladeRecord(s)));
    RecordRef entries = newType1Record(0, 2);
    entries->setTime(s.time);
    EXPECT_TRUE(writeRecord(*file, *entries));
    if (n % 4 == 0) {
      RecordRef fixed = newType0Record(0);
      fixed->setTime(s.time);
      EXPECT_TRUE(writeRecord(*file, *fixed));
    }
  }
  EXPECT_TRUE(closeDataFile(*file));
  return readFile(path);
}

// The same recording with another configuration text: the records move with
// the end of the text, and so do the index's positions.
inline std::string withConfigurationText(const std::string& bytes, const std::string& text) {
  const uint64_t dataOffset = loadU64(bytes.data() + kHeaderDataOffset);
  const uint64_t indexOffset = loadU64(bytes.data() + kHeaderIndexOffset);
  const uint64_t indexEnd = loadU64(bytes.data() + kHeaderIndexEnd);
  const uint64_t newDataOffset = dataOffsetFor(text.size());
  const uint64_t shift = newDataOffset - dataOffset;  // wraps around for a shorter text

  std::string result = bytes.substr(0, kFileHeaderSize);
  storeU64(result.data() + kHeaderConfigLength, text.size());
  storeU64(result.data() + kHeaderDataOffset, newDataOffset);
  storeU64(result.data() + kHeaderIndexOffset, indexOffset + shift);
  storeU64(result.data() + kHeaderIndexEnd, indexEnd + shift);
  result += text;
  result.resize(newDataOffset, '\0');
  result += bytes.substr(dataOffset, indexOffset - dataOffset);
  std::string index = bytes.substr(indexOffset, indexEnd - indexOffset);
  for (uint64_t at = 0; at + kIndexEntrySize <= index.size(); at += kIndexEntrySize) {
    char* position = index.data() + at + kIndexEntryPosition;
    storeU64(position, loadU64(position) + shift);
  }
  return result + index;
}

// The configuration text of a recording.
inline std::string configurationText(const std::string& bytes) {
  return bytes.substr(kFileHeaderSize, loadU64(bytes.data() + kHeaderConfigLength));
}

// The text with the first occurrence of `line` (a whole line, indentation
// left out) replaced by `replacement`; unchanged when it has no such line.
inline std::string replaceLine(std::string text, const std::string& line,
                               const std::string& replacement) {
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) {
    const bool starts = at == 0 || text[at - 1] == ' ' || text[at - 1] == '\n';
    const size_t end = at + line.size();
    if (starts && (end == text.size() || text[end] == '\n')) {
      return text.replace(at, line.size(), replacement);
    }
  }
  return text;
}

// The start of every record of a finished recording.
inline std::vector<uint64_t> recordStarts(const std::string& bytes) {
  std::vector<uint64_t> starts;
  const uint64_t end = loadU64(bytes.data() + kHeaderIndexOffset);
  for (uint64_t at = loadU64(bytes.data() + kHeaderDataOffset); at < end;
       at += loadU32(bytes.data() + at + kRecordSize) - kRecordCountSize) {
    starts.push_back(at);
  }
  return starts;
}

// What the largest configuration the text format allows costs in memory:
// 4095 stages, 4095 hosts and 4095 racks of 12 probes and 12 relays, about
// 48 MB, which a count line of a few bytes asks for. A fixed amount, whatever
// the file's size.
inline constexpr uint64_t kLargestConfiguration = uint64_t{64} << 20;

struct DamagedRecording {
  std::string what;
  std::string bytes;
  // Allowed beyond the file's size and the fixed buffers of the code that
  // reads it.
  uint64_t allowance = 0;
};

// Each way of lying about a size, applied to `sample` (from sampleRecording).
inline std::vector<DamagedRecording> damagedRecordings(const std::string& sample) {
  std::vector<DamagedRecording> damaged;
  auto with = [&](const std::string& what, uint32_t offset, auto value) {
    std::string bytes = sample;
    if constexpr (sizeof(value) == 8) {
      storeU64(bytes.data() + offset, value);
    } else if constexpr (sizeof(value) == 4) {
      storeU32(bytes.data() + offset, value);
    } else {
      storeU16(bytes.data() + offset, value);
    }
    damaged.push_back({what, bytes});
    return &damaged.back().bytes;
  };
  const uint64_t configLength = loadU64(sample.data() + kHeaderConfigLength);
  const uint64_t indexOffset = loadU64(sample.data() + kHeaderIndexOffset);
  const std::vector<uint64_t> records = recordStarts(sample);
  const auto recordField = [&](size_t record, uint32_t field) {
    return static_cast<uint32_t>(records.at(record) + field);
  };

  with("configuration block of nearly 4 GiB", kHeaderConfigLength, uint64_t{0xFFFFFFF8});
  with("configuration block one byte past the end", kHeaderConfigLength,
       uint64_t{sample.size() - kFileHeaderSize + 1});
  with("configuration length with high bits set", kHeaderConfigLength,
       configLength | uint64_t{0xFFFFFFFF00000000});
  with("index ending at 2^62", kHeaderIndexEnd, uint64_t{1} << 62);
  with("index of 2^32 + 1 entries", kHeaderIndexEnd, indexOffset + ((uint64_t{1} << 32) + 1) * 16);
  with("index reversed", kHeaderIndexEnd, indexOffset - kIndexEntrySize);
  std::string* far = with("index far past the end", kHeaderIndexOffset, uint64_t{1} << 40);
  storeU64(far->data() + kHeaderIndexEnd, uint64_t{1} << 40);
  std::string* unfinished = with("no index (being written)", kHeaderIndexOffset, uint64_t{0});
  storeU64(unfinished->data() + kHeaderIndexEnd, 0);
  with("first record of nearly 4 GiB", recordField(0, kRecordSize), uint32_t{0xFFFFFFFC});
  with("third record of 2 GiB", recordField(2, kRecordSize), uint32_t{0x80000000});
  // Without an index a salvaging read takes the records to the end of the
  // file, so this one is read: nearly the whole file in one record.
  std::string* whole =
      with("no index, first record running to the end of the file", recordField(0, kRecordSize),
           static_cast<uint32_t>(sample.size() - records[0] + kRecordCountSize));
  storeU64(whole->data() + kHeaderIndexOffset, 0);
  storeU64(whole->data() + kHeaderIndexEnd, 0);
  with("blade record claiming 65535 blades", recordField(0, kRecordHeaderSize + kBladesBladeCount),
       uint16_t{0xFFFF});
  with("type-1 record claiming 2^32 - 1 entries", recordField(1, kRecordHeaderSize + kEntriesCount),
       uint32_t{0xFFFFFFFF});

  // Counts in the configuration text: every entity the format allows, and a
  // stage of 2^31 - 1 blades (the CSV's columns).
  std::string text = configurationText(sample);
  std::string counts = replaceLine(text, "numStages = 1", "numStages = 4095");
  counts = replaceLine(counts, "numHosts = 1", "numHosts = 4095");
  counts = replaceLine(counts, "numRacks = 1", "numRacks = 4095");
  damaged.push_back({"4095 stages, hosts and racks", withConfigurationText(sample, counts),
                     kLargestConfiguration});
  damaged.push_back(
      {"a stage of 2^31 - 1 blades",
       withConfigurationText(sample, replaceLine(text, "blades = 2", "blades = 2147483647"))});
  return damaged;
}

}  // namespace cdt::testing
