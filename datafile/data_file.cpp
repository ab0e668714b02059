// What the reader and the writer share: the header codec, the status texts
// and the end of a DataFile's use.
#include "datafile/data_file.h"

#include "datafile/index_walk.h"
#include "foundation/byte_order.h"

namespace cdt {

DataFileHeader decodeFileHeader(const unsigned char (&bytes)[kFileHeaderSize]) {
  DataFileHeader header;
  header.magic1 = loadU32(bytes + kHeaderMagic1);
  header.magic2 = loadU32(bytes + kHeaderMagic2);
  header.configOffset = loadU64(bytes + kHeaderConfigOffset);
  header.configLength = loadU64(bytes + kHeaderConfigLength);
  header.dataOffset = loadU64(bytes + kHeaderDataOffset);
  header.indexOffset = loadU64(bytes + kHeaderIndexOffset);
  header.indexEnd = loadU64(bytes + kHeaderIndexEnd);
  header.timeZoneBias = loadI64(bytes + kHeaderTimeZoneBias);
  return header;
}

void encodeFileHeader(const DataFileHeader& header, unsigned char (&bytes)[kFileHeaderSize]) {
  storeU32(bytes + kHeaderMagic1, header.magic1);
  storeU32(bytes + kHeaderMagic2, header.magic2);
  storeU64(bytes + kHeaderConfigOffset, header.configOffset);
  storeU64(bytes + kHeaderConfigLength, header.configLength);
  storeU64(bytes + kHeaderDataOffset, header.dataOffset);
  storeU64(bytes + kHeaderIndexOffset, header.indexOffset);
  storeU64(bytes + kHeaderIndexEnd, header.indexEnd);
  storeI64(bytes + kHeaderTimeZoneBias, header.timeZoneBias);
}

const char* dataFileStatusText(DataFileStatus status) {
  switch (status) {
    case DataFileStatus::Ok:
      return "ok";
    case DataFileStatus::CannotOpen:
      return "cannot open the file";
    case DataFileStatus::ShortHeader:
      return "header cut short";
    case DataFileStatus::BadMagic:
      return "not a data file (wrong magic words)";
    case DataFileStatus::EmptyConfiguration:
      return "empty configuration block";
    case DataFileStatus::ConfigurationPastEnd:
      return "configuration block past the end of the file";
    case DataFileStatus::IndexReversed:
      return "index ends before it starts";
    case DataFileStatus::IndexPastEnd:
      return "index past the end of the file";
    case DataFileStatus::EndOfRecords:
      return "end of records";
    case DataFileStatus::CutRecord:
      return "record cut short";
    case DataFileStatus::BadType:
      return "invalid record type";
    case DataFileStatus::BadSize:
      return "record size not a multiple of 4";
    case DataFileStatus::NotReadable:
      return "file not open for reading";
    case DataFileStatus::IoError:
      return "I/O error";
  }
  return "unknown";
}

DataFile::DataFile(const char* path, ReadMode mode) {
  openForReading(path, mode);
}

DataFile::DataFile(const Configuration& configuration, const char* path, CreateMode create,
                   std::size_t streamBuffer) {
  createForWriting(configuration, path, create, streamBuffer);
}

DataFile::~DataFile() {
  (void)closeDataFile(*this);
}

uint32_t DataFile::indexEntryCount() const {
  return writing_ ? index_.size() : indexCount_;
}

bool closeDataFile(DataFile& file) {
  bool finished = true;
  if (file.writing_) {
    finished = file.finishWriting();
    file.writing_ = false;
  }
  file.walk_.reset();
  file.index_.clear();
  // A file that was only read has nothing left to lose on close.
  (void)file.stream_.close();
  return finished;
}

}  // namespace cdt
