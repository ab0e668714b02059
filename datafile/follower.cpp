// Following a data file being written. Every size taken from the file is
// checked against the bytes the file holds before anything of that size is
// allocated or read; the only buffers are the chunk buffer, the
// configuration text (once the file holds all of it) and each whole record.
#include "datafile/follower.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "config/config_text.h"
#include "datafile/file_names.h"
#include "foundation/byte_order.h"
#include "foundation/file_system.h"
#include "foundation/tokenizer.h"
#include "platform/file_watch.h"
#include "platform/interrupts.h"

namespace cdt {

using namespace std::chrono_literals;

namespace {

// Bytes read from the file at once; larger records are read straight into
// the record.
constexpr std::size_t kChunkSize = 256 * 1024;
// Index entries compared at once when the file is finished.
constexpr std::size_t kIndexChunkEntries = 4096;
// Configurations up to this size are compared whenever the header is.
constexpr std::size_t kConfigCheckedAlways = 16 * 1024;

uint64_t digestStep(uint64_t digest, uint64_t value) {
  digest ^= value;
  digest *= 0x100000001B3ull;
  return digest ^ (digest >> 29);
}

// A digest of a record's bytes, to notice them change.
uint64_t bytesDigest(const unsigned char* bytes, std::size_t size) {
  uint64_t digest = 0xCBF29CE484222325ull;
  for (std::size_t i = 0; i < size; ++i) {
    digest ^= bytes[i];
    digest *= 0x100000001B3ull;
  }
  return digest;
}

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return "";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// The same fields as written when the file was created: everything but the
// index fields, which the writer sets once when it finishes the file.
bool sameFixedFields(const DataFileHeader& a, const DataFileHeader& b) {
  return a.magic1 == b.magic1 && a.magic2 == b.magic2 && a.configOffset == b.configOffset &&
         a.configLength == b.configLength && a.dataOffset == b.dataOffset &&
         a.timeZoneBias == b.timeZoneBias;
}

}  // namespace

const char* followErrorText(FollowError error) {
  switch (error) {
    case FollowError::None:
      return "no error";
    case FollowError::CannotOpen:
      return "cannot open file";
    case FollowError::NotDataFile:
      return "not a data file";
    case FollowError::EmptyConfiguration:
      return "empty configuration block";
    case FollowError::Shrank:
      return "the file shrank while it was followed";
    case FollowError::Changed:
      return "the file changed while it was followed";
    case FollowError::IoError:
      return "read error";
    case FollowError::Rewritten:
      return "records already read were written again (the file was rewritten in place)";
  }
  return "unknown error";
}

DataFileFollower::DataFileFollower(std::string path, const FollowOptions& options)
    : path_(std::move(path)), options_(options) {
  const std::string_view name = path_;
  if (name.ends_with(kBeingWrittenSuffix)) {
    otherPath_ = std::string(name.substr(0, name.size() - kBeingWrittenSuffix.size()));
  } else {
    otherPath_ = path_ + std::string(kBeingWrittenSuffix);
  }
  if (options_.firstPoll.count() < 1) options_.firstPoll = std::chrono::milliseconds(1);
  options_.longestPoll = std::max(options_.longestPoll, options_.firstPoll);
  interval_ = options_.firstPoll;
  watch_ = std::make_unique<FileWatch>(directoryOf(path_));
  lastGrowth_ = std::chrono::steady_clock::now();
}

DataFileFollower::~DataFileFollower() {
  if (file_ != nullptr) std::fclose(file_);
}

FollowStatus DataFileFollower::end(FollowStatus status) {
  phase_ = Phase::Ended;
  ended_ = status;
  chunk_.reset();
  chunkLength_ = 0;
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  return status;
}

FollowStatus DataFileFollower::fail(FollowError error) {
  error_ = error;
  return end(FollowStatus::Failed);
}

bool DataFileFollower::readAt(uint64_t offset, void* into, std::size_t size) {
  if (size == 0) return true;
  if (!seekFile(file_, static_cast<int64_t>(offset), SEEK_SET)) return false;
  return std::fread(into, size, 1, file_) == 1;
}

const unsigned char* DataFileFollower::bytesAt(uint64_t offset, std::size_t size) {
  if (offset >= chunkStart_ && offset + size <= chunkStart_ + chunkLength_) {
    return chunk_.get() + (offset - chunkStart_);
  }
  if (!chunk_) chunk_ = std::make_unique_for_overwrite<unsigned char[]>(kChunkSize);
  // Only what the file holds is read, so a short read is an error.
  const uint64_t available = fileSize_ > offset ? fileSize_ - offset : 0;
  const auto length = static_cast<std::size_t>(std::min<uint64_t>(available, kChunkSize));
  chunkStart_ = offset;
  chunkLength_ = 0;
  if (length < size || !readAt(offset, chunk_.get(), length)) return nullptr;
  chunkLength_ = length;
  return chunk_.get();
}

bool DataFileFollower::refreshSize() {
  FileStatus info;
  if (!fileStatus(file_, info) || info.size < 0) {
    fail(FollowError::IoError);
    return false;
  }
  const auto size = static_cast<uint64_t>(info.size);
  if (size < fileSize_) {
    fail(FollowError::Shrank);
    return false;
  }
  if (size > fileSize_) {
    fileSize_ = size;
    lastGrowth_ = std::chrono::steady_clock::now();
    interval_ = options_.firstPoll;
  }
  return true;
}

bool DataFileFollower::open() {
  if (file_ == nullptr) {
    for (const std::string* candidate : {&path_, &otherPath_}) {
      FileStatus info;
      if (!fileStatus(candidate->c_str(), info)) continue;
      if (!info.regular) {
        fail(FollowError::CannotOpen);
        return false;
      }
      file_ = openFile(candidate->c_str(), "rb");
      if (file_ == nullptr) {
        fail(FollowError::CannotOpen);
        return false;
      }
      // Reads go straight to the file: a stdio buffer could keep bytes the
      // writer has since rewritten (the header).
      (void)std::setvbuf(file_, nullptr, _IONBF, 0);
      openPath_ = *candidate;
      lastGrowth_ = std::chrono::steady_clock::now();
      break;
    }
    if (file_ == nullptr) return false;
  }
  if (!refreshSize()) return false;
  unsigned char bytes[kFileHeaderSize];
  if (fileSize_ < kHeaderMagic2 + 4) return false;
  if (!readAt(0, bytes, std::min<uint64_t>(fileSize_, kFileHeaderSize))) {
    fail(FollowError::IoError);
    return false;
  }
  if (loadU32(bytes + kHeaderMagic1) != kMagic1 || loadU32(bytes + kHeaderMagic2) != kMagic2) {
    fail(FollowError::NotDataFile);
    return false;
  }
  if (fileSize_ < kFileHeaderSize) return false;
  const DataFileHeader header = decodeFileHeader(bytes);
  const auto length = static_cast<uint32_t>(header.configLength);
  if (length == 0) {
    fail(FollowError::EmptyConfiguration);
    return false;
  }
  // Not all there yet. (A header that says finished before its
  // configuration is written is damage; the idle time ends its wait.)
  if (length > fileSize_ - kFileHeaderSize) return false;
  configText_.resize(length);
  if (!readAt(kFileHeaderSize, configText_.data(), length)) {
    fail(FollowError::IoError);
    return false;
  }
  // The reader cannot even seek there.
  if (header.dataOffset > static_cast<uint64_t>(INT64_MAX)) {
    fail(FollowError::IoError);
    return false;
  }
  header_ = header;
  header_.indexOffset = 0;
  header_.indexEnd = 0;
  Tokenizer tokenizer(configText_.data(), length);
  configurationParsed_ = parseConfigText(configuration_, tokenizer);
  configured_ = true;
  position_ = header.dataOffset;
  stopReport_ = {DataFileStatus::Ok, position_};
  phase_ = Phase::Following;
  // The file may already be finished.
  return checkHeader();
}

bool DataFileFollower::configurationUnchanged() {
  std::string text(configText_.size(), '\0');
  if (!readAt(kFileHeaderSize, text.data(), text.size())) {
    fail(FollowError::IoError);
    return false;
  }
  if (text != configText_) {
    fail(FollowError::Changed);
    return false;
  }
  return true;
}

bool DataFileFollower::checkHeader() {
  unsigned char bytes[kFileHeaderSize];
  if (!readAt(0, bytes, sizeof bytes)) {
    fail(FollowError::IoError);
    return false;
  }
  const DataFileHeader header = decodeFileHeader(bytes);
  if (!sameFixedFields(header, header_)) {
    fail(FollowError::Changed);
    return false;
  }
  // A small configuration is compared at every look, a large one about
  // once a second; both once more when the file is finished.
  const auto now = std::chrono::steady_clock::now();
  if (configText_.size() <= kConfigCheckedAlways || now - configCheckedAt_ >= 1s) {
    if (!configurationUnchanged()) return false;
    configCheckedAt_ = now;
  }
  rawIndexOffset_ = header.indexOffset;
  if (header.indexOffset == 0) return true;
  // Finished, once the index it announces is in the file; the reader of a
  // finished file takes an index that does not fit as damage.
  if (header.indexEnd < header.indexOffset || header.indexEnd > fileSize_) return true;
  // Records handed out past the end of the records were not records of
  // this file. (Records that would start past it: there are none.)
  if (header.indexOffset < position_ && records_ > 0) {
    fail(FollowError::Changed);
    return false;
  }
  if (!configurationUnchanged()) return false;
  header_.indexOffset = header.indexOffset;
  header_.indexEnd = header.indexEnd;
  recordsEnd_ = std::max(header.indexOffset, position_);
  phase_ = Phase::Finishing;
  return true;
}

DataFileFollower::Parse DataFileFollower::parse(RecordRef& record) {
  const bool finishing = phase_ == Phase::Finishing;
  uint64_t limit = finishing ? recordsEnd_ : fileSize_;
  // A header with an index start that does not fit yet (or never will):
  // the records end there, as the salvage reader takes them.
  if (!finishing && rawIndexOffset_ != 0 && rawIndexOffset_ >= header_.dataOffset &&
      rawIndexOffset_ <= fileSize_) {
    limit = rawIndexOffset_;
  }
  const uint64_t start = position_;
  // (The records may start past the bytes there are: padding not yet written.)
  if (start >= limit) return Parse::End;
  const uint64_t remaining = limit - start;
  if (remaining < kRecordHeaderSize) return Parse::NeedMore;
  const unsigned char* head = bytesAt(start, kRecordHeaderSize);
  if (head == nullptr) {
    fail(FollowError::IoError);
    return Parse::Damaged;
  }
  // The index a writer appends when it finishes begins with the first
  // record's entry; until the header says where the records end, such bytes
  // are not taken for a record.
  if (phase_ == Phase::Following && records_ > 0 && loadU64(head + kIndexEntryTime) == firstTime_ &&
      loadU64(head + kIndexEntryPosition) == firstEnd_) {
    return Parse::Held;
  }
  const uint32_t size = loadU32(head + kRecordSize);
  DataFileStatus damage = DataFileStatus::Ok;
  if (loadU16(head + kRecordType) >= kRecordTypeCount) {
    damage = DataFileStatus::BadType;
  } else if (size % 4 != 0) {
    damage = DataFileStatus::BadSize;
  } else if (size <= kMinRecordSize) {
    damage = DataFileStatus::CutRecord;
  }
  if (damage != DataFileStatus::Ok) {
    stopReport_ = {damage, start};
    return Parse::Damaged;
  }
  const uint32_t fileBytes = size - kRecordCountSize;
  if (fileBytes > remaining) return Parse::NeedMore;

  record = newRecord(size);
  unsigned char* into = record->fileBytes();
  if (fileBytes <= kChunkSize) {
    const unsigned char* bytes = bytesAt(start, fileBytes);
    if (bytes == nullptr) {
      record.reset();
      fail(FollowError::IoError);
      return Parse::Damaged;
    }
    std::memcpy(into, bytes, fileBytes);
  } else if (!readAt(start, into, fileBytes)) {
    record.reset();
    fail(FollowError::IoError);
    return Parse::Damaged;
  }
  position_ = start + fileBytes;
  last_ = {start, fileBytes, bytesDigest(into, fileBytes)};
  if (records_ == 0) {
    firstTime_ = record->time();
    firstEnd_ = position_;
    first_ = last_;
  }
  ++records_;
  // The writer's rule: an entry for each record later than the last entry.
  if (indexCount_ == 0 || record->time() > indexLastTime_) {
    ++indexCount_;
    indexLastTime_ = record->time();
    indexDigest_ = digestStep(digestStep(indexDigest_, record->time()), position_);
  }
  return Parse::Record;
}

bool DataFileFollower::handedOutUnchanged() {
  for (const Consumed* c : {&first_, &last_}) {
    if (c->size == 0) continue;
    std::vector<unsigned char> bytes(c->size);
    if (!readAt(c->start, bytes.data(), bytes.size())) {
      fail(FollowError::IoError);
      return false;
    }
    if (bytesDigest(bytes.data(), bytes.size()) != c->digest) {
      fail(FollowError::Rewritten);
      return false;
    }
  }
  chunkLength_ = 0;  // the chunk may hold bytes from before a rewrite
  return true;
}

void DataFileFollower::confirmIndex() {
  const uint64_t count = (header_.indexEnd - header_.indexOffset) >> kIndexEntryShift;
  if (count != indexCount_) {
    indexAgrees_ = false;
    return;
  }
  std::unique_ptr<unsigned char[]> entries =
      std::make_unique_for_overwrite<unsigned char[]>(kIndexChunkEntries * kIndexEntrySize);
  uint64_t digest = 0;
  for (uint64_t first = 0; first < count; first += kIndexChunkEntries) {
    const auto n = static_cast<std::size_t>(std::min<uint64_t>(count - first, kIndexChunkEntries));
    if (!readAt(header_.indexOffset + first * kIndexEntrySize, entries.get(),
                n * kIndexEntrySize)) {
      indexAgrees_ = false;
      return;
    }
    for (std::size_t i = 0; i < n; ++i) {
      const unsigned char* entry = entries.get() + i * kIndexEntrySize;
      digest = digestStep(digestStep(digest, loadU64(entry + kIndexEntryTime)),
                          loadU64(entry + kIndexEntryPosition));
    }
  }
  indexAgrees_ = digest == indexDigest_;
}

FollowStatus DataFileFollower::next(RecordRef& record, std::chrono::milliseconds timeout) {
  record.reset();
  return pump(&record, timeout);
}

FollowStatus DataFileFollower::pump(RecordRef* wanted, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const bool stopping = stopping_.load(std::memory_order_relaxed) ||
                          (options_.stopOnInterrupt && interruptRequested());
    if (stopping && phase_ != Phase::Ended) {
      return end(FollowStatus::Stopped);
    }
    if (phase_ == Phase::Opening) (void)open();
    if (wanted == nullptr && configured_) return FollowStatus::Record;
    if (phase_ == Phase::Ended) return ended_;

    RecordRef unused;
    RecordRef& record = wanted != nullptr ? *wanted : unused;
    while (phase_ != Phase::Opening) {
      const Parse parsed = parse(record);
      if (parsed == Parse::Record) return FollowStatus::Record;
      if (phase_ == Phase::Ended) return ended_;
      if (phase_ == Phase::Finishing) {
        if (parsed == Parse::End) {
          stopReport_ = {DataFileStatus::EndOfRecords, position_};
        } else if (parsed == Parse::NeedMore) {
          stopReport_ = {DataFileStatus::CutRecord, position_};
        }
        if (!handedOutUnchanged()) return ended_;
        confirmIndex();
        return end(FollowStatus::Finished);
      }
      if (phase_ == Phase::Salvaging) {
        if (parsed == Parse::End) {
          stopReport_ = {DataFileStatus::EndOfRecords, position_};
        } else if (parsed == Parse::NeedMore) {
          stopReport_ = {DataFileStatus::CutRecord, position_};
        }
        if (!handedOutUnchanged()) return ended_;
        return end(FollowStatus::Idle);
      }
      // Following: look for more bytes, then whether the file was finished.
      const uint64_t before = fileSize_;
      if (!refreshSize()) return ended_;
      if (fileSize_ > before && parsed != Parse::Damaged && parsed != Parse::Held) continue;
      if (!checkHeader()) return ended_;
      if (phase_ == Phase::Finishing) continue;
      break;
    }

    const auto now = std::chrono::steady_clock::now();
    if (options_.idle.count() > 0 && now - lastGrowth_ >= options_.idle) {
      if (phase_ == Phase::Opening) return end(FollowStatus::Idle);
      // Every whole record the file holds, as the salvage reader reads them.
      phase_ = Phase::Salvaging;
      if (!refreshSize()) return ended_;
      if (stopReport_.status != DataFileStatus::Ok) {
        // Reading already stopped at a damaged record.
        return end(FollowStatus::Idle);
      }
      continue;
    }
    if (now >= deadline) return FollowStatus::Waiting;
    auto wait =
        std::min(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now), interval_);
    if (options_.idle.count() > 0) {
      const auto idleLeft =
          std::chrono::duration_cast<std::chrono::milliseconds>(lastGrowth_ + options_.idle - now);
      wait = std::min(wait, idleLeft + std::chrono::milliseconds(1));
    }
    watch_->wait(std::max(wait, std::chrono::milliseconds(1)));
    interval_ = std::min(interval_ * 2, options_.longestPoll);
    // A writer appends: bytes already handed out never change. Those of the
    // first and the last record handed out are read again at each wake-up,
    // so that a writer that starts over in the same file is noticed.
    if (phase_ != Phase::Opening && !handedOutUnchanged()) return ended_;
  }
}

}  // namespace cdt
