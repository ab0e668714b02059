#include "export/parquet_writer.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <limits>
#include <thread>

#include "export/parquet_encoding.h"
#include "export/parquet_format.h"
#include "export/parquet_thrift.h"

namespace cdt {

using namespace parquet;

namespace {

// Values are stored as they lie in memory, and Parquet is little-endian.
static_assert(std::endian::native == std::endian::little);

int32_t physicalType(ParquetKind kind) {
  switch (kind) {
    case ParquetKind::Boolean:
      return kBoolean;
    case ParquetKind::UInt8:
    case ParquetKind::UInt16:
      return kInt32;
    case ParquetKind::UInt64:
    case ParquetKind::TimestampMicros:
      return kInt64;
    case ParquetKind::Float:
      return kFloat;
    case ParquetKind::Double:
      return kDouble;
    case ParquetKind::String:
      return kByteArray;
  }
  return kByteArray;
}

int32_t codecId(ParquetCodec codec) {
  switch (codec) {
    case ParquetCodec::None:
      return kUncompressed;
    case ParquetCodec::Gzip:
      return kGzip;
    case ParquetCodec::Zstd:
      return kZstd;
  }
  return kUncompressed;
}

// The schema element of a leaf column: its type, repetition, name, and the
// converted type old readers know beside the logical type.
void writeSchemaElement(CompactWriter& w, const ParquetColumn& column) {
  w.beginStruct();
  w.i32Field(schema_element::kType, physicalType(column.kind));
  w.i32Field(schema_element::kRepetitionType, column.optional ? kOptional : kRequired);
  w.binaryField(schema_element::kName, column.name);
  const auto integer = [&w](int32_t converted, int8_t bits) {
    w.i32Field(schema_element::kConvertedType, converted);
    w.structField(schema_element::kLogicalType);
    w.structField(logical_type::kInteger);
    w.i8Field(int_type::kBitWidth, bits);
    w.boolField(int_type::kIsSigned, false);
    w.endStruct();
    w.endStruct();
  };
  switch (column.kind) {
    case ParquetKind::UInt8:
      integer(kConvertedUint8, 8);
      break;
    case ParquetKind::UInt16:
      integer(kConvertedUint16, 16);
      break;
    case ParquetKind::UInt64:
      integer(kConvertedUint64, 64);
      break;
    case ParquetKind::TimestampMicros:
      w.i32Field(schema_element::kConvertedType, kConvertedTimestampMicros);
      w.structField(schema_element::kLogicalType);
      w.structField(logical_type::kTimestamp);
      w.boolField(timestamp_type::kIsAdjustedToUtc, true);
      w.structField(timestamp_type::kUnit);
      w.structField(time_unit::kMicros);
      w.endStruct();
      w.endStruct();
      w.endStruct();
      w.endStruct();
      break;
    case ParquetKind::String:
      w.i32Field(schema_element::kConvertedType, kConvertedUtf8);
      w.structField(schema_element::kLogicalType);
      w.structField(logical_type::kString);
      w.endStruct();
      w.endStruct();
      break;
    case ParquetKind::Boolean:
    case ParquetKind::Float:
    case ParquetKind::Double:
      break;
  }
  w.endStruct();
}

// A bound as PLAIN encodes the column's values.
std::string plainBound(ParquetKind kind, uint64_t value) {
  std::string bytes(kind == ParquetKind::UInt8 || kind == ParquetKind::UInt16 ? 4 : 8, '\0');
  std::memcpy(bytes.data(), &value, bytes.size());
  return bytes;
}

}  // namespace

ParquetColumnBuffer::ParquetColumnBuffer(const ParquetColumn& column, std::size_t pageBytes)
    : kind_(column.kind), optional_(column.optional), pageBytes_(pageBytes) {}

void ParquetColumnBuffer::clear() {
  // The memory stays, for the next group.
  values_.clear();
  levels_.clear();
  pages_.clear();
  pageStart_ = 0;
  rows_ = 0;
  nulls_ = 0;
  nans_ = 0;
  bounded_ = false;
  min_ = max_ = 0;
}

ParquetWriter::ParquetWriter(std::vector<ParquetColumn> columns, ParquetWriterOptions options,
                             ParquetOutput output)
    : columns_(std::move(columns)), options_(std::move(options)), output_(std::move(output)) {
  if (options_.groupRows == 0) options_.groupRows = 1;
  if (options_.pageBytes == 0) options_.pageBytes = 1;
  buffers_.reserve(columns_.size());
  for (const ParquetColumn& column : columns_) buffers_.emplace_back(column, options_.pageBytes);
}

bool ParquetWriter::fail(const std::string& what) {
  if (error_.empty()) error_ = what;
  return false;
}

bool ParquetWriter::out(const void* data, std::size_t size) {
  if (!error_.empty()) return false;
  if (size > 0 && !output_(data, size)) return fail("cannot write the file");
  offset_ += size;
  return true;
}

bool ParquetWriter::begin() {
  if (options_.codec != ParquetCodec::None) {
    codec_ = makePageCodec(options_.codec, options_.level);
    if (codec_ == nullptr) {
      return fail(std::string("this build has no ") + parquetCodecName(options_.codec));
    }
  }
  return out(kMagic, kMagicSize);
}

bool ParquetWriter::endRows(std::size_t rows) {
  groupRows_ += rows;
  if (groupRows_ < options_.groupRows) return error_.empty();
  return writeGroup();
}

void ParquetColumnBuffer::appendPageStart(std::size_t rows, std::size_t bytes, const PageEnd& end,
                                          std::string& page) const {
  if (optional_) {
    page.resize(4);
    appendLevels(page, reinterpret_cast<const uint8_t*>(levels_.data()) + rows, end.rows - rows);
    const auto length = static_cast<uint32_t>(page.size() - 4);
    std::memcpy(page.data(), &length, 4);
  }
  if (kind_ == ParquetKind::Boolean) {
    appendBits(page, reinterpret_cast<const uint8_t*>(values_.data()) + bytes, end.bytes - bytes);
  }
}

bool ParquetWriter::compressGroup() {
  compressed_.resize(columns_.size());
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  // Each worker takes the next column and makes its pages with a codec of
  // its own; the columns' pages do not depend on one another.
  const auto work = [&](PageCodec& codec) {
    std::string page;
    for (std::size_t i; !failed && (i = next++) < columns_.size();) {
      const ParquetColumn& column = columns_[i];
      ParquetColumnBuffer& b = buffers_[i];
      if (b.pages_.empty() || b.pages_.back().rows < b.rows_) b.endPage();
      std::vector<CompressedPage>& made = compressed_[i];
      made.resize(b.pages_.size());
      std::size_t rows = 0;
      std::size_t bytes = 0;
      for (std::size_t p = 0; p < b.pages_.size(); ++p) {
        const ParquetColumnBuffer::PageEnd& end = b.pages_[p];
        page.clear();
        b.appendPageStart(rows, bytes, end, page);
        if (column.kind != ParquetKind::Boolean && end.bytes > bytes) {
          page.append(b.values_.data() + bytes, end.bytes - bytes);
        }
        made[p].size = page.size();
        if (!codec.compress(page.data(), page.size(), made[p].body)) failed = true;
        rows = end.rows;
        bytes = end.bytes;
      }
    }
  };
  const std::size_t workers =
      std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), columns_.size());
  while (codecs_.size() + 1 < workers) {
    std::unique_ptr<PageCodec> codec = makePageCodec(options_.codec, options_.level);
    if (codec == nullptr) break;
    codecs_.push_back(std::move(codec));
  }
  std::vector<std::thread> threads;
  threads.reserve(codecs_.size());
  for (const std::unique_ptr<PageCodec>& codec : codecs_) {
    threads.emplace_back([&work, &codec] { work(*codec); });
  }
  work(*codec_);
  for (std::thread& thread : threads) thread.join();
  return failed ? fail("cannot compress a page") : true;
}

bool ParquetWriter::writeChunk(std::size_t index, std::string& meta, uint64_t& uncompressedTotal,
                               uint64_t& compressedTotal) {
  const ParquetColumn& column = columns_[index];
  ParquetColumnBuffer& b = buffers_[index];
  if (b.rows_ != groupRows_) return fail("column '" + column.name + "' was given too few rows");
  if (b.pages_.empty() || b.pages_.back().rows < b.rows_) b.endPage();
  const uint64_t chunkStart = offset_;
  uint64_t uncompressed = 0;
  std::size_t rows = 0;
  std::size_t bytes = 0;
  std::string header;
  for (std::size_t p = 0; p < b.pages_.size(); ++p) {
    const ParquetColumnBuffer::PageEnd& end = b.pages_[p];
    const std::size_t pageRows = end.rows - rows;
    std::size_t pageSize = 0;
    std::size_t valueBytes = 0;
    const std::string* body = &page_;
    if (codec_ != nullptr) {  // made by compressGroup
      const CompressedPage& made = compressed_[index][p];
      pageSize = made.size;
      body = &made.body;
    } else {
      // Plain values go out from the buffer as they are; the page holds
      // only the levels before them.
      page_.clear();
      b.appendPageStart(rows, bytes, end, page_);
      valueBytes = column.kind == ParquetKind::Boolean ? 0 : end.bytes - bytes;
      pageSize = page_.size() + valueBytes;
    }
    if (pageSize > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()) ||
        body->size() + valueBytes > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
      return fail("a page of '" + column.name + "' is too large");
    }
    header.clear();
    CompactWriter h(header);
    h.beginStruct();
    h.i32Field(page_header::kType, kDataPage);
    h.i32Field(page_header::kUncompressedPageSize, static_cast<int32_t>(pageSize));
    h.i32Field(page_header::kCompressedPageSize, static_cast<int32_t>(body->size() + valueBytes));
    h.structField(page_header::kDataPageHeader);
    h.i32Field(data_page_header::kNumValues, static_cast<int32_t>(pageRows));
    h.i32Field(data_page_header::kEncoding, kPlain);
    h.i32Field(data_page_header::kDefinitionLevelEncoding, kRle);
    h.i32Field(data_page_header::kRepetitionLevelEncoding, kRle);
    h.endStruct();
    h.endStruct();
    if (!out(header.data(), header.size()) || !out(body->data(), body->size()) ||
        !out(b.values_.data() + bytes, valueBytes)) {
      return false;
    }
    uncompressed += header.size() + pageSize;
    rows = end.rows;
    bytes = end.bytes;
  }
  const uint64_t compressed = offset_ - chunkStart;
  uncompressedTotal += uncompressed;
  compressedTotal += compressed;

  CompactWriter w(meta);
  w.beginStruct();  // ColumnChunk
  w.i64Field(column_chunk::kFileOffset, 0);
  w.structField(column_chunk::kMetaData);
  w.i32Field(column_meta_data::kType, physicalType(column.kind));
  w.listField(column_meta_data::kEncodings, compact::kI32, column.optional ? 2 : 1);
  w.i32(kPlain);
  if (column.optional) w.i32(kRle);
  w.listField(column_meta_data::kPathInSchema, compact::kBinary, 1);
  w.binary(column.name);
  w.i32Field(column_meta_data::kCodec, codecId(options_.codec));
  w.i64Field(column_meta_data::kNumValues, static_cast<int64_t>(b.rows_));
  w.i64Field(column_meta_data::kTotalUncompressedSize, static_cast<int64_t>(uncompressed));
  w.i64Field(column_meta_data::kTotalCompressedSize, static_cast<int64_t>(compressed));
  w.i64Field(column_meta_data::kDataPageOffset, static_cast<int64_t>(chunkStart));
  w.structField(column_meta_data::kStatistics);
  if (b.bounded_ && column.kind == ParquetKind::TimestampMicros) {
    // The old fields, ordered as signed values, for readers that know no
    // other; the timestamps are signed.
    w.binaryField(statistics::kMax, plainBound(column.kind, b.max_));
    w.binaryField(statistics::kMin, plainBound(column.kind, b.min_));
  }
  w.i64Field(statistics::kNullCount, static_cast<int64_t>(b.nulls_));
  if (b.bounded_) {
    w.binaryField(statistics::kMaxValue, plainBound(column.kind, b.max_));
    w.binaryField(statistics::kMinValue, plainBound(column.kind, b.min_));
  }
  if (column.kind == ParquetKind::Float || column.kind == ParquetKind::Double) {
    w.i64Field(statistics::kNanCount, static_cast<int64_t>(b.nans_));
  }
  w.endStruct();  // Statistics
  w.endStruct();  // ColumnMetaData
  w.endStruct();  // ColumnChunk
  return true;
}

bool ParquetWriter::writeGroup() {
  if (!error_.empty()) return false;
  if (groupRows_ == 0) return true;
  const uint64_t groupStart = offset_;
  uint64_t uncompressed = 0;
  uint64_t compressed = 0;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (buffers_[i].rows_ != groupRows_) {
      return fail("column '" + columns_[i].name + "' was given too few rows");
    }
  }
  if (codec_ != nullptr && !compressGroup()) return false;
  std::string chunks;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (!writeChunk(i, chunks, uncompressed, compressed)) return false;
    buffers_[i].clear();
    if (codec_ != nullptr) compressed_[i].clear();
  }
  CompactWriter w(rowGroups_);
  w.beginStruct();
  w.listField(row_group::kColumns, compact::kStruct, static_cast<uint32_t>(columns_.size()));
  rowGroups_ += chunks;
  w.i64Field(row_group::kTotalByteSize, static_cast<int64_t>(uncompressed));
  w.i64Field(row_group::kNumRows, static_cast<int64_t>(groupRows_));
  w.i64Field(row_group::kFileOffset, static_cast<int64_t>(groupStart));
  w.i64Field(row_group::kTotalCompressedSize, static_cast<int64_t>(compressed));
  if (groups_ <= static_cast<uint32_t>(std::numeric_limits<int16_t>::max())) {
    w.i16Field(row_group::kOrdinal, static_cast<int16_t>(groups_));
  }
  w.endStruct();
  ++groups_;
  totalRows_ += groupRows_;
  groupRows_ = 0;
  return true;
}

bool ParquetWriter::finish(const std::vector<std::pair<std::string, std::string>>& keyValues) {
  if (!writeGroup()) return false;
  std::string footer;
  CompactWriter w(footer);
  w.beginStruct();
  w.i32Field(file_meta_data::kVersion, kFormatVersion);
  w.listField(file_meta_data::kSchema, compact::kStruct,
              static_cast<uint32_t>(columns_.size() + 1));
  w.beginStruct();
  w.binaryField(schema_element::kName, "schema");
  w.i32Field(schema_element::kNumChildren, static_cast<int32_t>(columns_.size()));
  w.endStruct();
  for (const ParquetColumn& column : columns_) writeSchemaElement(w, column);
  w.i64Field(file_meta_data::kNumRows, static_cast<int64_t>(totalRows_));
  w.listField(file_meta_data::kRowGroups, compact::kStruct, groups_);
  // The row groups' part, which grows with the file, goes out as it is
  // rather than copied into the footer.
  const std::size_t head = footer.size();
  const uint64_t length = uint64_t{head} + rowGroups_.size();
  if (!out(footer.data(), footer.size()) || !out(rowGroups_.data(), rowGroups_.size())) {
    return false;
  }
  footer.clear();
  if (!keyValues.empty()) {
    w.listField(file_meta_data::kKeyValueMetadata, compact::kStruct,
                static_cast<uint32_t>(keyValues.size()));
    for (const auto& [key, value] : keyValues) {
      w.beginStruct();
      w.binaryField(key_value::kKey, key);
      w.binaryField(key_value::kValue, value);
      w.endStruct();
    }
  }
  if (!options_.createdBy.empty()) w.binaryField(file_meta_data::kCreatedBy, options_.createdBy);
  w.listField(file_meta_data::kColumnOrders, compact::kStruct,
              static_cast<uint32_t>(columns_.size()));
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    w.beginStruct();
    w.structField(column_order::kTypeOrder);
    w.endStruct();
    w.endStruct();
  }
  w.endStruct();
  const uint64_t total = length + footer.size();
  if (total > std::numeric_limits<uint32_t>::max()) return fail("the footer is too large");
  const auto footerLength = static_cast<uint32_t>(total);
  footer.append(reinterpret_cast<const char*>(&footerLength), 4);
  footer.append(kMagic, kMagicSize);
  return out(footer.data(), footer.size());
}

}  // namespace cdt
