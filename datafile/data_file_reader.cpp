// Reading a data file. Every size the header or a record header states is
// checked against the bytes the file really holds before anything of that
// size is allocated, and every way a file can turn out damaged ends in
// failOpen or stopReading, which keep the reason and the offset.
#include <cstdio>
#include <cstring>
#include <memory>

#include "config/config_text.h"
#include "datafile/data_file.h"
#include "foundation/allocation.h"
#include "foundation/byte_order.h"
#include "foundation/counted_array.h"
#include "foundation/file_system.h"
#include "foundation/tokenizer.h"

namespace cdt {

namespace {

// The configuration text while it is parsed. Taken from the checked
// allocator like every other block of the library, so that a block too large
// for memory ends the process with the allocation message instead of throwing
// out of the reader.
struct CheckedFree {
  void operator()(char* block) const { (void)checkedFree(block); }
};
using TextBlock = std::unique_ptr<char[], CheckedFree>;

// Only a regular file can hold a data file. Opening a named pipe to read
// waits for a writer that may never come, and pipes, devices and directories
// have no size to check the header against, so they are refused unopened.
bool isRegularFile(const char* path) {
  FileStatus info;
  return fileStatus(path, info) && info.regular;
}

}  // namespace

void DataFile::failOpen(DataFileStatus status, uint64_t offset) {
  openReport_ = {status, offset};
  readReport_ = {DataFileStatus::NotReadable, 0};
  // The path stays stored for whoever reports the failure.
  (void)stream_.close();
}

void DataFile::useLargeReadBuffer() {
  // Records are read a few kilobytes at a time; with stdio's default buffer
  // of one disk block that is a system call every 4 KB, which costs a large
  // part of a conversion. A file that fits the default buffer keeps it, so
  // small files allocate nothing more.
  constexpr std::size_t kReadBufferSize = 256 * 1024;
  std::FILE* file = stream_.stdioStream();
  FileStatus info;
  if (!fileStatus(file, info) || info.size <= static_cast<int64_t>(kReadBufferSize)) {
    return;
  }
  if (!readBuffer_) readBuffer_ = std::make_unique_for_overwrite<char[]>(kReadBufferSize);
  // Called before the first read, as setvbuf requires; on failure the default
  // buffer stays, which only costs speed.
  (void)std::setvbuf(file, readBuffer_.get(), _IOFBF, kReadBufferSize);
}

void DataFile::openForReading(const char* path, ReadMode mode) {
  writing_ = false;
  if (path != nullptr && !isRegularFile(path)) {
    // Kept, as for a file that fails to open, for whoever reports the failure.
    (void)stream_.setPath(CountedString(path));
    return failOpen(DataFileStatus::CannotOpen, 0);
  }
  if (path == nullptr || !stream_.reopen(CountedString(path), "rb")) {
    return failOpen(DataFileStatus::CannotOpen, 0);
  }
  useLargeReadBuffer();
  unsigned char bytes[kFileHeaderSize];
  if (stream_.read(bytes, sizeof bytes, 1) != 1) {
    return failOpen(shortRead(DataFileStatus::ShortHeader), 0);
  }
  const int64_t fileSize = stream_.size();
  if (fileSize < 0) return failOpen(DataFileStatus::IoError, 0);
  const auto size = static_cast<uint64_t>(fileSize);
  header_ = decodeFileHeader(bytes);
  if (header_.magic1 != kMagic1 || header_.magic2 != kMagic2) {
    return failOpen(DataFileStatus::BadMagic, kHeaderMagic1);
  }

  // The block is read right after the header, whatever configOffset says.
  const auto configLength = static_cast<uint32_t>(header_.configLength);
  if (configLength == 0) return failOpen(DataFileStatus::EmptyConfiguration, kFileHeaderSize);
  // The file may have shrunk since the header was read.
  const uint64_t afterHeader = size > kFileHeaderSize ? size - kFileHeaderSize : 0;
  if (configLength > afterHeader) {
    return failOpen(DataFileStatus::ConfigurationPastEnd, kFileHeaderSize);
  }
  const bool indexFits = header_.indexOffset != 0 && header_.indexOffset <= header_.indexEnd &&
                         header_.indexEnd <= size;
  if (mode == ReadMode::Salvage && !indexFits) {
    // No index to trust: the records end where the index would start, or
    // where the file ends when that start is missing, lies before the
    // records or past the file.
    const bool startUsable = header_.indexOffset != 0 &&
                             header_.indexOffset >= header_.dataOffset &&
                             header_.indexOffset <= size;
    recordsEnd_ = startUsable ? header_.indexOffset : size;
    indexCount_ = 0;
  } else {
    if (header_.indexEnd < header_.indexOffset) {
      return failOpen(DataFileStatus::IndexReversed, header_.indexOffset);
    }
    if (header_.indexEnd > size) {
      return failOpen(DataFileStatus::IndexPastEnd, header_.indexOffset);
    }
    // The count is truncated to 32 bits, so the entries may cover less than
    // [indexOffset, indexEnd); they never cover more, but say so explicitly.
    indexCount_ =
        static_cast<uint32_t>((header_.indexEnd - header_.indexOffset) >> kIndexEntryShift);
    if (uint64_t{indexCount_} * kIndexEntrySize > size - header_.indexOffset) {
      return failOpen(DataFileStatus::IndexPastEnd, header_.indexOffset);
    }
    recordsEnd_ = header_.indexOffset;
  }

  // Bounded by the file size checked above.
  const TextBlock text(static_cast<char*>(checkedAlloc(configLength)));
  if (stream_.read(text.get(), configLength, 1) != 1) {
    return failOpen(shortRead(DataFileStatus::ConfigurationPastEnd), kFileHeaderSize);
  }
  Tokenizer tokenizer(text.get(), configLength);
  configurationParsed_ = parseConfigText(configuration_, tokenizer);

  if (!stream_.setPosition(header_.dataOffset)) {
    return failOpen(DataFileStatus::IoError, header_.dataOffset);
  }
  position_ = header_.dataOffset;
  openReport_ = {DataFileStatus::Ok, 0};
  readReport_ = {DataFileStatus::Ok, position_};
}

DataFileStatus DataFile::shortRead(DataFileStatus cut) {
  return stream_.hasError() ? DataFileStatus::IoError : cut;
}

RecordRef DataFile::stopReading(DataFileStatus status, uint64_t offset) {
  readReport_ = {status, offset};
  return {};
}

RecordRef DataFile::readRecord() {
  // Reading on after a failure would start inside a damaged record.
  if (readReport_.status != DataFileStatus::Ok) return {};
  if (writing_ || !isOpen()) return stopReading(DataFileStatus::NotReadable, position_);

  const uint64_t start = position_;
  if (start >= recordsEnd_) return stopReading(DataFileStatus::EndOfRecords, start);
  const uint64_t remaining = recordsEnd_ - start;
  if (remaining < kRecordHeaderSize) return stopReading(DataFileStatus::CutRecord, start);

  unsigned char head[kRecordHeaderSize];
  if (stream_.read(head, sizeof head, 1) != 1) {
    return stopReading(shortRead(DataFileStatus::CutRecord), start);
  }
  const uint32_t size = loadU32(head + kRecordSize);
  if (loadU16(head + kRecordType) >= kRecordTypeCount) {
    return stopReading(DataFileStatus::BadType, start);
  }
  if (size % 4 != 0) return stopReading(DataFileStatus::BadSize, start);
  // A record without a body holds no type's layout; one that runs into the
  // index was cut (or its size is damaged). Neither is allocated.
  if (size <= kMinRecordSize || size - kRecordCountSize > remaining) {
    return stopReading(DataFileStatus::CutRecord, start);
  }

  RecordRef record = newRecord(size);
  // The whole header, reserved word included, so the record in memory holds
  // exactly the bytes of the file.
  std::memcpy(record->fileBytes(), head, sizeof head);
  if (stream_.read(record->body(), record->bodySize(), 1) != 1) {
    return stopReading(shortRead(DataFileStatus::CutRecord), start);
  }
  position_ = start + (size - kRecordCountSize);
  readReport_.offset = position_;
  return record;
}

RecordRef readNextRecord(DataFile& file) {
  return file.readRecord();
}

bool DataFile::loadIndex() {
  if (writing_ || index_.size() == indexCount_) return true;
  if (!isOpen() || indexCount_ > kMaxArrayLength) return false;
  index_.setLength(indexCount_);
  bool loaded = stream_.setPosition(header_.indexOffset) &&
                stream_.read(index_.mutableData(), kIndexEntrySize, indexCount_) == indexCount_;
  // Back to where reading stands, whatever the outcome.
  loaded = stream_.setPosition(position_) && loaded;
  if (!loaded) {
    index_.clear();
    return false;
  }
  for (IndexEntry& entry : index_) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&entry);
    entry = {loadU64(bytes + kIndexEntryTime), loadU64(bytes + kIndexEntryPosition)};
  }
  return true;
}

std::unique_ptr<DataFile> openDataFile(const char* path, DataFileReport& report, ReadMode mode) {
  auto file = std::make_unique<DataFile>(path, mode);
  report = file->openReport();
  if (!file->isOpen()) return nullptr;
  return file;
}

std::unique_ptr<DataFile> openDataFile(const char* path) {
  DataFileReport ignored;
  return openDataFile(path, ignored);
}

}  // namespace cdt
