#include "datafile/data_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "config/config_text.h"
#include "foundation/byte_order.h"
#include "foundation/time_value.h"
#include "test/support.h"

namespace cdt {
namespace {

using testing::fileExists;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// --- Hand-built files ------------------------------------------------------

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

std::string header(uint64_t configLength, uint64_t dataOffset, uint64_t indexOffset,
                   uint64_t indexEnd, uint32_t magic1 = kMagic1, uint32_t magic2 = kMagic2) {
  return u32(magic1) + u32(magic2) + u64(kFileHeaderSize) + u64(configLength) + u64(dataOffset) +
         u64(indexOffset) + u64(indexEnd) + u64(0);
}

// A record's file bytes: `size` as stored, then a body of size - 24 bytes.
std::string record(uint32_t size, uint16_t type, uint64_t time, char fill = 'r') {
  std::string s = u32(size) + u32(type) + u32(0xDEADBEEF) + u64(time);
  s.append(size >= kMinRecordSize ? size - kMinRecordSize : 0, fill);
  return s;
}

// A finished file with `config` as its text and an index by the format's rule;
// `finished` false gives the zero index fields of a file being written.
std::string dataFile(const std::string& config, const std::vector<std::string>& records,
                     bool finished = true) {
  const uint64_t dataOffset = dataOffsetFor(config.size());
  std::string body;
  std::string index;
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
  const std::string padding(dataOffset - kFileHeaderSize - config.size(), '\0');
  if (!finished) return header(config.size(), dataOffset, 0, 0) + config + padding + body;
  return header(config.size(), dataOffset, indexOffset, indexOffset + index.size()) + config +
         padding + body + index;
}

std::string fileBytes(const RecordRef& r) {
  return {reinterpret_cast<const char*>(r->fileBytes()), r->fileSize()};
}

RecordRef makeRecord(uint16_t type, uint32_t size, uint64_t time, unsigned char seed) {
  RecordRef r = newRecord(size);
  r->setType(type);
  r->setHostIndex(1);
  r->setTime(time);
  for (uint32_t i = 0; i < r->bodySize(); ++i) r->body()[i] = static_cast<unsigned char>(seed + i);
  return r;
}

// --- Writer and reader together ----------------------------------------------

TEST(DataFileWriter, RoundTripKeepsEveryRecordAndBuildsTheIndex) {
  TempDir dir;
  const std::string path = dir.file("missing/sub/x.cdt");
  Configuration configuration;
  auto writer = createDataFile(configuration, path.c_str());
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(writer->path(), path + ".temp");
  EXPECT_TRUE(fileExists(path + ".temp"));

  // Times 5, 5, 7, then an earlier 6: only the first 5 and the 7 get entries.
  std::vector<RecordRef> records{makeRecord(3, 576, 5, 1), makeRecord(0, kFixedRecordSize, 5, 2),
                                 makeRecord(2, kPackedProfileSize, 7, 3), makeRecord(1, 96, 6, 4)};
  for (const RecordRef& r : records) ASSERT_TRUE(writeRecord(*writer, *r));
  const uint64_t dataOffset = writer->header().dataOffset;
  ASSERT_EQ(writer->indexEntryCount(), 2u);
  EXPECT_TRUE(closeDataFile(*writer));
  EXPECT_FALSE(fileExists(path + ".temp"));

  const std::string bytes = readFile(path);
  const uint64_t configLength = configToText(configuration, 0).length();
  EXPECT_EQ(loadU64(bytes.data() + kHeaderConfigLength), configLength);
  EXPECT_EQ(dataOffset, dataOffsetFor(configLength));
  EXPECT_EQ(
      bytes.substr(kFileHeaderSize + configLength, dataOffset - kFileHeaderSize - configLength),
      std::string(dataOffset - kFileHeaderSize - configLength, '\0'));

  DataFileReport report;
  auto reader = openDataFile(path.c_str(), report);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(report.status, DataFileStatus::Ok);
  EXPECT_TRUE(reader->configurationParsed());
  EXPECT_EQ(reader->header().indexEnd, bytes.size());
  uint64_t end = dataOffset;
  std::vector<uint64_t> ends;
  for (const RecordRef& written : records) {
    RecordRef read = readNextRecord(*reader);
    ASSERT_TRUE(read);
    EXPECT_EQ(fileBytes(read), fileBytes(written));
    EXPECT_EQ(read->referenceCount(), 0);
    EXPECT_FALSE(hasCompletionCallback(*read));
    ends.push_back(end += read->fileSize());
  }
  EXPECT_FALSE(readNextRecord(*reader));
  EXPECT_EQ(reader->lastReadStatus().status, DataFileStatus::EndOfRecords);
  EXPECT_EQ(reader->lastReadStatus().offset, reader->header().indexOffset);
  EXPECT_EQ(reader->header().indexOffset, end);

  ASSERT_TRUE(reader->loadIndex());
  ASSERT_EQ(reader->index().size(), 2u);
  EXPECT_EQ(reader->index()[0].time, 5u);
  EXPECT_EQ(reader->index()[0].position, ends[0]);
  EXPECT_EQ(reader->index()[1].time, 7u);
  EXPECT_EQ(reader->index()[1].position, ends[2]);
}

TEST(DataFileWriter, EmptyTimestampedFileAndItsName) {
  TempDir dir;
  Configuration configuration;
  const uint64_t time = timeOf({2011, 5, 6, 12, 30, 45, 250000});
  auto writer =
      createTimestampedDataFile(configuration, dir.path().c_str(), "Rig1.0007.Daq1", time);
  ASSERT_NE(writer, nullptr);
  const std::string path = dir.file("Rig1.0007.Daq1.2011-05-06.12-30-45.cdt");
  EXPECT_EQ(writer->path(), path + ".temp");
  EXPECT_FALSE(readNextRecord(*writer));
  EXPECT_EQ(writer->lastReadStatus().status, DataFileStatus::NotReadable);
  writer.reset();  // destruction finishes the file

  auto reader = openDataFile(path.c_str());
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->header().indexOffset, reader->header().dataOffset);
  EXPECT_EQ(reader->header().indexEnd, reader->header().indexOffset);
  EXPECT_FALSE(readNextRecord(*reader));
  EXPECT_FALSE(seekToIndexEntry(*reader, 0));
  EXPECT_FALSE(writeRecord(*reader, *makeRecord(3, 96, 1, 0)));
}

TEST(DataFileWriter, TimeZoneBiasIsUtcMinusLocalTime) {
  const char* old = std::getenv("TZ");
  const std::string saved = old != nullptr ? old : "";
  setenv("TZ", "UTC-2", 1);  // two hours east of Greenwich
  tzset();
  TempDir dir;
  auto writer = createDataFile(Configuration(), dir.file("x.cdt").c_str());
  old != nullptr ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
  tzset();
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(writer->header().timeZoneBias, -7200000000);
}

TEST(DataFileWriter, CannotCreateBesideAFile) {
  TempDir dir;
  writeFile(dir.file("plain"), "x");
  EXPECT_EQ(createDataFile(Configuration(), dir.file("plain/x.cdt").c_str()), nullptr);
}

TEST(DataFileWriter, AFailedWriteRefusesEveryLaterRecord) {
  // The temporary file on a full device: some record's write fails when the
  // stream's buffer reaches the device, and none may follow it.
  TempDir dir;
  const std::string path = dir.file("full.cdt");
  ASSERT_EQ(symlink("/dev/full", (path + ".temp").c_str()), 0);
  auto writer = createDataFile(Configuration(), path.c_str());
  ASSERT_NE(writer, nullptr);
  const RecordRef r = makeRecord(1, 4096, 1, 0);
  int firstFailure = -1;
  for (int i = 0; i < 64; ++i) {
    r->setTime(static_cast<uint64_t>(i) + 1);
    const bool written = writeRecord(*writer, *r);
    if (!written && firstFailure < 0) firstFailure = i;
    if (firstFailure >= 0) {
      EXPECT_FALSE(written) << i;
    }
  }
  EXPECT_GE(firstFailure, 0);
  EXPECT_FALSE(closeDataFile(*writer));
}

TEST(DataFileWriter, LongRecordingsKeepEveryIndexEntry) {
  // Enough entries to outgrow the index's first reserve more than once; pairs
  // of records share a time, so only the first of each pair is indexed.
  TempDir dir;
  const std::string path = dir.file("long.cdt");
  auto writer = createDataFile(Configuration(), path.c_str());
  ASSERT_NE(writer, nullptr);
  constexpr uint32_t kRecords = 5000;
  const RecordRef r = makeRecord(1, 32, 0, 0);
  for (uint32_t i = 0; i < kRecords; ++i) {
    r->setTime(1 + i / 2);
    ASSERT_TRUE(writeRecord(*writer, *r));
  }
  const uint64_t dataOffset = writer->header().dataOffset;
  EXPECT_TRUE(closeDataFile(*writer));

  auto reader = openDataFile(path.c_str());
  ASSERT_NE(reader, nullptr);
  ASSERT_EQ(reader->indexEntryCount(), kRecords / 2);
  EXPECT_EQ(reader->header().indexEnd - reader->header().indexOffset, kRecords / 2 * 16);
  ASSERT_TRUE(reader->loadIndex());
  for (uint32_t k = 0; k < kRecords / 2; ++k) {
    ASSERT_EQ(reader->index()[k].time, k + 1) << k;
    ASSERT_EQ(reader->index()[k].position, dataOffset + uint64_t{2 * k + 1} * 28) << k;
  }
}

// --- Reader on hand-built files ----------------------------------------------

class DataFileReader : public ::testing::Test {
 protected:
  std::unique_ptr<DataFile> open(const std::string& bytes) {
    writeFile(path_, bytes);
    return openDataFile(path_.c_str(), report_);
  }
  DataFileStatus openFailure(const std::string& bytes) {
    EXPECT_EQ(open(bytes), nullptr);
    return report_.status;
  }

  TempDir dir_;
  std::string path_ = dir_.file("f.cdt");
  DataFileReport report_;
};

TEST_F(DataFileReader, ConfigurationPaddingPutsRecordsAtTheNextMultipleOfEight) {
  for (const auto& [length, dataOffset] : {std::pair{13u, 72u}, {16u, 72u}, {100u, 160u}}) {
    const std::string bytes = dataFile(std::string(length, 'c'), {record(32, 1, 9)});
    EXPECT_EQ(loadU64(bytes.data() + kHeaderDataOffset), dataOffset);
    auto file = open(bytes);
    ASSERT_NE(file, nullptr) << length;
    RecordRef r = readNextRecord(*file);
    ASSERT_TRUE(r) << length;
    EXPECT_EQ(fileBytes(r), bytes.substr(dataOffset, 28));
  }
}

TEST_F(DataFileReader, DamagedHeadersFailTheOpenWithTheirReason) {
  const std::string good = dataFile("config", {record(32, 1, 9)});
  auto withU64 = [&good](uint32_t offset, uint64_t value) {
    std::string s = good;
    storeU64(s.data() + offset, value);
    return s;
  };
  EXPECT_EQ(openFailure(good.substr(0, 55)), DataFileStatus::ShortHeader);
  EXPECT_EQ(openFailure(header(6, 64, 0, 0, kMagic2, kMagic1) + "config"),
            DataFileStatus::BadMagic);
  EXPECT_EQ(openFailure(withU64(kHeaderConfigLength, 0)), DataFileStatus::EmptyConfiguration);
  EXPECT_EQ(openFailure(withU64(kHeaderConfigLength, uint64_t{1} << 32)),
            DataFileStatus::EmptyConfiguration);
  EXPECT_EQ(openFailure(withU64(kHeaderConfigLength, 0xFFFFFFF0)),
            DataFileStatus::ConfigurationPastEnd);
  EXPECT_EQ(openFailure(good.substr(0, kFileHeaderSize + 3)), DataFileStatus::ConfigurationPastEnd);
  EXPECT_EQ(openFailure(withU64(kHeaderIndexEnd, 8)), DataFileStatus::IndexReversed);
  EXPECT_EQ(openFailure(withU64(kHeaderIndexEnd, good.size() + 16)), DataFileStatus::IndexPastEnd);
  EXPECT_EQ(openDataFile(dir_.file("missing.cdt").c_str(), report_), nullptr);
  EXPECT_EQ(report_.status, DataFileStatus::CannotOpen);
  // Readers use only the low 32 bits of configLength.
  EXPECT_NE(open(withU64(kHeaderConfigLength, (uint64_t{7} << 32) | 6)), nullptr);
}

TEST_F(DataFileReader, FilesBeingWrittenOrWithoutRecordsYieldNone) {
  for (const std::string& bytes :
       {dataFile("config", {}), dataFile("config", {record(32, 1, 9)}, false)}) {
    auto file = open(bytes);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->indexEntryCount(), 0u);
    EXPECT_FALSE(readNextRecord(*file));
    EXPECT_EQ(file->lastReadStatus().status, DataFileStatus::EndOfRecords);
    EXPECT_FALSE(seekToIndexEntry(*file, 0));
  }
}

TEST_F(DataFileReader, StopsAtTheFirstDamagedRecordAndSaysWhereAndWhy) {
  struct Case {
    std::string damaged;
    DataFileStatus status;
  };
  const std::vector<Case> cases{
      {record(32, 4, 2), DataFileStatus::BadType},
      {record(34, 1, 2), DataFileStatus::BadSize},
      {record(20, 1, 2), DataFileStatus::CutRecord},
      {record(24, 1, 2), DataFileStatus::CutRecord},
      // Claims to run far past the index (nothing of that size is allocated).
      {record(32, 1, 2).replace(0, 4, u32(0xFFFFFFF0)), DataFileStatus::CutRecord},
      // Runs over the record after it and 4 bytes into the index.
      {record(32, 1, 2).replace(0, 4, u32(64)), DataFileStatus::CutRecord},
  };
  for (const Case& c : cases) {
    const std::string first = record(40, 3, 1);
    auto file = open(dataFile("config", {first, c.damaged, record(32, 1, 3)}));
    ASSERT_NE(file, nullptr);
    RecordRef r = readNextRecord(*file);
    ASSERT_TRUE(r);
    EXPECT_EQ(fileBytes(r), first);
    EXPECT_FALSE(readNextRecord(*file));
    const DataFileReport why = file->lastReadStatus();
    EXPECT_EQ(why.status, c.status) << dataFileStatusText(c.status);
    EXPECT_EQ(why.offset, file->header().dataOffset + first.size());
    EXPECT_FALSE(readNextRecord(*file));  // stays stopped
  }
}

TEST_F(DataFileReader, AFileCutAfterTheOpenEndsInACutRecord) {
  const std::vector<std::string> records{record(8192, 1, 1), record(8192, 1, 2),
                                         record(8192, 1, 3)};
  auto file = open(dataFile("config", records));
  ASSERT_NE(file, nullptr);
  const uint64_t third = file->header().dataOffset + uint64_t{2} * 8188;
  ASSERT_EQ(truncate(path_.c_str(), static_cast<off_t>(third + 100)), 0);
  EXPECT_TRUE(readNextRecord(*file));
  EXPECT_TRUE(readNextRecord(*file));
  EXPECT_FALSE(readNextRecord(*file));
  EXPECT_EQ(file->lastReadStatus().status, DataFileStatus::CutRecord);
  EXPECT_EQ(file->lastReadStatus().offset, third);
}

TEST_F(DataFileReader, SeekToIndexEntryPositionsAfterThatRecord) {
  const std::vector<std::string> records{record(32, 1, 1), record(32, 1, 2), record(32, 4, 3)};
  auto file = open(dataFile("config", records));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->indexEntryCount(), 3u);
  EXPECT_TRUE(file->index().empty());  // read on first need only
  ASSERT_TRUE(seekToIndexEntry(*file, 0));
  EXPECT_EQ(fileBytes(readNextRecord(*file)), records[1]);
  EXPECT_FALSE(seekToIndexEntry(*file, 3));  // past the end: the position stays
  EXPECT_FALSE(readNextRecord(*file));
  EXPECT_EQ(file->lastReadStatus().status, DataFileStatus::BadType);
  // A successful seek resumes reading after a stop.
  ASSERT_TRUE(seekToIndexEntry(*file, 0));
  EXPECT_EQ(fileBytes(readNextRecord(*file)), records[1]);
  // Entry 2 lies beyond the damaged record: a read from the start never gets
  // there, so neither does a seek.
  EXPECT_FALSE(seekToIndexEntry(*file, 2));
  EXPECT_FALSE(readNextRecord(*file));
  EXPECT_EQ(file->lastReadStatus().status, DataFileStatus::BadType);
}

// Files larger than the reader's stream buffer: records straddle its refills,
// and seeks land both inside and outside the buffered part.
TEST_F(DataFileReader, LargeFilesReadAndSeekAcrossBufferRefills) {
  std::vector<std::string> records;
  for (uint32_t i = 0; i < 300; ++i) {
    records.push_back(record(4000 + 4 * (i % 7), 1, i, static_cast<char>('a' + i % 26)));
  }
  auto file = open(dataFile("config", records));
  ASSERT_NE(file, nullptr);
  for (const std::string& expected : records) ASSERT_EQ(fileBytes(readNextRecord(*file)), expected);
  EXPECT_FALSE(readNextRecord(*file));
  EXPECT_EQ(file->lastReadStatus().status, DataFileStatus::EndOfRecords);
  for (uint32_t k : {0u, 250u, 1u, 120u, 121u, 298u}) {
    ASSERT_TRUE(seekToIndexEntry(*file, k));
    EXPECT_EQ(fileBytes(readNextRecord(*file)), records[k + 1]) << k;
  }
}

TEST_F(DataFileReader, SalvageReadsToTheIndexOrElseToTheEndOfTheFile) {
  const std::vector<std::string> records{record(32, 1, 1), record(40, 3, 2), record(32, 1, 3)};
  const std::string finished = dataFile("config", records);
  const uint64_t indexOffset = loadU64(finished.data() + kHeaderIndexOffset);
  auto salvage = [this](const std::string& bytes) {
    writeFile(path_, bytes);
    return openDataFile(path_.c_str(), report_, ReadMode::Salvage);
  };
  auto count = [](DataFile& file) {
    uint32_t n = 0;
    while (readNextRecord(file)) ++n;
    return n;
  };

  // A finished file reads as in the normal mode, index included.
  auto file = salvage(finished);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->recordsEnd(), indexOffset);
  EXPECT_EQ(file->indexEntryCount(), 3u);
  EXPECT_EQ(count(*file), 3u);
  EXPECT_EQ(file->lastReadStatus().status, DataFileStatus::EndOfRecords);

  // An index cut off: the records still end where it starts.
  const std::string cutIndex = finished.substr(0, indexOffset + 20);
  EXPECT_EQ(openFailure(cutIndex), DataFileStatus::IndexPastEnd);
  file = salvage(cutIndex);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->recordsEnd(), indexOffset);
  EXPECT_EQ(file->indexEntryCount(), 0u);
  EXPECT_FALSE(seekToIndexEntry(*file, 0));
  EXPECT_EQ(count(*file), 3u);
  EXPECT_EQ(file->lastReadStatus().offset, indexOffset);

  // No index yet, or an index start past the end: the file's end ends the
  // records, and a cut last record stops reading there.
  const std::string unfinished = dataFile("config", records, false);
  std::string pastEnd = finished.substr(0, indexOffset - 4);
  storeU64(pastEnd.data() + kHeaderIndexOffset, indexOffset + 100);
  // An index start before the records is as good as none.
  std::string beforeRecords = unfinished;
  storeU64(beforeRecords.data() + kHeaderIndexOffset, 8);
  for (const auto& [bytes, expected, stop] :
       {std::tuple{unfinished, 3u, DataFileStatus::EndOfRecords},
        std::tuple{pastEnd, 2u, DataFileStatus::CutRecord},
        std::tuple{beforeRecords, 3u, DataFileStatus::EndOfRecords}}) {
    file = salvage(bytes);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->recordsEnd(), bytes.size());
    EXPECT_EQ(count(*file), expected);
    EXPECT_EQ(file->lastReadStatus().status, stop);
  }
}

TEST_F(DataFileReader, PositionsPastFourGibibytes) {
  // Records and index beyond 5 GiB in a sparse file: only a few blocks on disk.
  const uint64_t dataOffset = uint64_t{5} << 30;
  const std::string records = record(64, 3, 10) + record(64, 3, 20);
  const uint64_t indexOffset = dataOffset + records.size();
  const std::string index = u64(10) + u64(dataOffset + 60) + u64(20) + u64(indexOffset);
  const int fd = ::open(path_.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  const std::string start = header(6, dataOffset, indexOffset, indexOffset + 32) + "config";
  const std::string tail = records + index;
  const bool written =
      pwrite(fd, start.data(), start.size(), 0) == static_cast<ssize_t>(start.size()) &&
      pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(dataOffset)) ==
          static_cast<ssize_t>(tail.size());
  close(fd);
  if (!written) GTEST_SKIP() << "no large sparse files here";

  auto file = openDataFile(path_.c_str(), report_);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(readNextRecord(*file)->time(), 10u);
  ASSERT_TRUE(seekToIndexEntry(*file, 0));
  EXPECT_EQ(fileBytes(readNextRecord(*file)), records.substr(60));
  EXPECT_FALSE(readNextRecord(*file));
  EXPECT_EQ(file->lastReadStatus().offset, indexOffset);
  EXPECT_EQ(file->index()[1].position, indexOffset);
}

}  // namespace
}  // namespace cdt
