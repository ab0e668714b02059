// Writing a data file: header and configuration text first, records as they
// come with the index built in memory, and on closing the index, the
// completed header and the final name.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "config/config_text.h"
#include "datafile/data_file.h"
#include "datafile/file_names.h"
#include "foundation/byte_order.h"
#include "foundation/file_system.h"
#include "foundation/time_value.h"

namespace cdt {

namespace {

// Index entries are encoded into a buffer of this many and written together.
constexpr uint32_t kIndexChunkEntries = 256;

}  // namespace

bool DataFile::write(const void* bytes, uint64_t size) {
  if (size == 0) return true;
  const bool written = stream_.write(bytes, size, 1) == 1;
  if (written) {
    position_ += size;
  } else {
    writeFailed_ = true;
    // A partial write leaves the stream somewhere past the old position.
    position_ = stream_.getPosition();
  }
  return written;
}

void DataFile::createForWriting(const Configuration& configuration, const char* path,
                                CreateMode create, std::size_t streamBuffer) {
  if (path == nullptr) return;
  CountedString temporaryPath(path);
  temporaryPath.append(kBeingWrittenSuffix);
  // "x": exclusive creation (O_EXCL), which also refuses a symbolic link.
  const char* mode = create == CreateMode::Exclusive ? "wbx"
                     : create == CreateMode::Update  ? "r+b"
                                                     : "wb";
  if (!stream_.reopen(temporaryPath, mode)) return;
  // Before the first write, as setvbuf requires; on failure the default
  // buffer stays.
  if (streamBuffer != 0) (void)std::setvbuf(stream_.stdioStream(), nullptr, _IOFBF, streamBuffer);

  const CountedString text = configToText(configuration, 0);
  configuration_ = configuration;
  configurationParsed_ = true;
  writing_ = true;

  header_.magic1 = kMagic1;
  header_.magic2 = kMagic2;
  header_.configOffset = kFileHeaderSize;
  header_.configLength = text.length();
  header_.dataOffset = dataOffsetFor(header_.configLength);
  header_.indexOffset = 0;
  header_.indexEnd = 0;
  header_.timeZoneBias = localTimeOffset(currentTime());

  unsigned char bytes[kFileHeaderSize];
  encodeFileHeader(header_, bytes);
  position_ = 0;
  static constexpr unsigned char kPadding[kDataAlignment] = {};
  if (write(bytes, sizeof bytes) && write(text.data(), text.length())) {
    (void)write(kPadding, header_.dataOffset - position_);
  }
  readReport_ = {DataFileStatus::NotReadable, 0};
}

bool writeRecord(DataFile& file, const DataRecord& record) {
  // After a failed write the file ends in a partial record; appending more
  // would put whole records behind it where no reader can find their start.
  if (!file.writing_ || file.writeFailed_) return false;
  if (!file.write(record.fileBytes(), record.fileSize())) return false;
  const uint32_t count = file.index_.size();
  if (count != 0 && file.index_[count - 1].time >= record.time()) return true;
  // Room is reserved ahead in doubling steps, so a long recording does not
  // reallocate (and copy) the whole index for every record it indexes.
  if (count == static_cast<uint32_t>(arrayCapacityField(file.index_.data()))) {
    file.index_.setCapacity(
        count < 1024 ? 1024 : (count > kMaxArrayLength / 2 ? kMaxArrayLength : count * 2));
  }
  file.index_.append({record.time(), file.position_});
  return true;
}

bool DataFile::finishWriting() {
  header_.indexOffset = position_;
  unsigned char chunk[kIndexChunkEntries * kIndexEntrySize];
  const uint32_t count = index_.size();
  for (uint32_t first = 0; first < count; first += kIndexChunkEntries) {
    const uint32_t n = std::min(count - first, kIndexChunkEntries);
    for (uint32_t i = 0; i < n; ++i) {
      unsigned char* entry = chunk + std::size_t{i} * kIndexEntrySize;
      storeU64(entry + kIndexEntryTime, index_[first + i].time);
      storeU64(entry + kIndexEntryPosition, index_[first + i].position);
    }
    if (!write(chunk, uint64_t{n} * kIndexEntrySize)) break;
  }
  header_.indexEnd = position_;

  unsigned char bytes[kFileHeaderSize];
  encodeFileHeader(header_, bytes);
  stream_.rewind();
  position_ = 0;
  (void)write(bytes, sizeof bytes);

  bool finished = !writeFailed_;
  // Closed before the rename, so the final name appears only on a file whose
  // buffered bytes have reached it.
  const CountedString temporaryPath = stream_.path();
  if (!stream_.close()) finished = false;
  const std::string_view pathText = temporaryPath.view();
  if (pathText.ends_with(kBeingWrittenSuffix)) {
    const std::string finalPath(pathText.substr(0, pathText.size() - kBeingWrittenSuffix.size()));
    if (!renameFile(temporaryPath.c_str(), finalPath.c_str())) finished = false;
  }
  return finished;
}

bool flushDataFile(DataFile& file) {
  if (!file.writing_ || !file.isOpen()) return false;
  if (std::fflush(file.stream_.stdioStream()) != 0) {
    file.writeFailed_ = true;
    return false;
  }
  return !file.writeFailed_;
}

bool abandonDataFile(DataFile& file) {
  if (!file.writing_) return false;
  file.writing_ = false;
  file.index_.clear();
  return file.stream_.close() && !file.writeFailed_;
}

std::unique_ptr<DataFile> createDataFile(const Configuration& configuration, const char* path,
                                         CreateMode create, std::size_t streamBuffer) {
  auto file = std::make_unique<DataFile>(configuration, path, create, streamBuffer);
  if (!file->isOpen()) return nullptr;
  return file;
}

std::unique_ptr<DataFile> createTimestampedDataFile(const Configuration& configuration,
                                                    const char* directory, const char* baseName,
                                                    uint64_t time) {
  const CountedString path = timestampedPath(directory, baseName, time, kDataFileExtension);
  return createDataFile(configuration, path.c_str());
}

}  // namespace cdt
