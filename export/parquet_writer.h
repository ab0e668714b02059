// ParquetWriter: a Parquet file of flat columns, written row group by row
// group as the rows come, in memory bounded by one row group.
//
// The file is "PAR1", then per row group each column's chunk (data pages,
// version 1, PLAIN values; an optional column's definition levels in the
// RLE / bit-packing hybrid), then the footer (FileMetaData in the Thrift
// compact protocol), its length and "PAR1". Every column chunk has
// Statistics with its null count (and NaN count for floating point); integer
// columns also have their bounds, compared as their logical type orders
// them (unsigned for the unsigned ones), so that engines skip row groups
// outside a filter on time or revolutions.
//
// Rows are added column by column: each column of the group is given the
// same number of values (a null counting as one), then endRows() says how
// many; a group is written once it holds the rows it may hold.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "export/parquet_codec.h"

namespace cdt {

// A column's physical type with its annotation.
enum class ParquetKind : uint8_t {
  Boolean,          // BOOLEAN
  UInt8,            // INT32, INTEGER(8, unsigned)
  UInt16,           // INT32, INTEGER(16, unsigned)
  UInt64,           // INT64, INTEGER(64, unsigned)
  TimestampMicros,  // INT64, TIMESTAMP(adjusted to UTC, MICROS)
  Float,            // FLOAT
  Double,           // DOUBLE
  String,           // BYTE_ARRAY, STRING (UTF-8)
};

struct ParquetColumn {
  std::string name;  // UTF-8
  ParquetKind kind = ParquetKind::Float;
  bool optional = false;  // may hold nulls
};

struct ParquetWriterOptions {
  ParquetCodec codec = ParquetCodec::None;
  int level = 0;
  std::size_t groupRows = 65536;     // rows per row group at most (at least 1)
  std::size_t pageBytes = 1u << 20;  // a data page's values end past this many bytes
  std::string createdBy;             // "APPLICATION version VERSION"
};

// A growable byte buffer whose growth leaves the new bytes uninitialised: a
// column's values and levels are written once each, as they come.
class ParquetBytes {
 public:
  std::size_t size() const { return size_; }
  const char* data() const { return data_.get(); }
  void clear() { size_ = 0; }
  // `n` more bytes at the end, to be written through the pointer returned.
  char* extend(std::size_t n) {
    if (capacity_ - size_ < n) grow(n);
    char* end = data_.get() + size_;
    size_ += n;
    return end;
  }
  // Keeps the first `size` bytes (at most size()).
  void shrink(std::size_t size) { size_ = size; }
  void push_back(char c) { *extend(1) = c; }
  void append(const void* bytes, std::size_t n) {
    if (n > 0) std::memcpy(extend(n), bytes, n);
  }

 private:
  void grow(std::size_t n) {
    const std::size_t capacity = std::max({size_ + n, 2 * capacity_, std::size_t{4096}});
    std::unique_ptr<char[]> data = std::make_unique_for_overwrite<char[]>(capacity);
    if (size_ > 0) std::memcpy(data.get(), data_.get(), size_);
    data_ = std::move(data);
    capacity_ = capacity;
  }

  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// The values of one column in the row group being gathered.
class ParquetColumnBuffer {
 public:
  ParquetColumnBuffer(const ParquetColumn& column, std::size_t pageBytes);

  // Only for an optional column.
  void addNull() {
    levels_.push_back(0);
    ++nulls_;
    ++rows_;
  }
  void addBoolean(bool value) {
    values_.push_back(value ? 1 : 0);
    present();
  }
  // UInt8, UInt16 (as INT32) and UInt64 (as INT64).
  void addUnsigned(uint64_t value) {
    if (!bounded_ || value < min_) min_ = value;
    if (!bounded_ || value > max_) max_ = value;
    bounded_ = true;
    if (kind_ == ParquetKind::UInt64) {
      put(&value, 8);
    } else {
      const auto narrow = static_cast<uint32_t>(value);
      put(&narrow, 4);
    }
    present();
  }
  void addTimestamp(int64_t micros) {
    const auto bits = static_cast<uint64_t>(micros);
    if (!bounded_ || micros < static_cast<int64_t>(min_)) min_ = bits;
    if (!bounded_ || micros > static_cast<int64_t>(max_)) max_ = bits;
    bounded_ = true;
    put(&micros, 8);
    present();
  }
  void addFloat(float value) {
    if (value != value) ++nans_;
    put(&value, 4);
    present();
  }
  void addDouble(double value) {
    if (value != value) ++nans_;
    put(&value, 8);
    present();
  }
  void addString(std::string_view text) {
    const auto length = static_cast<uint32_t>(text.size());
    put(&length, 4);
    values_.append(text.data(), text.size());
    present();
  }

  // `n` cells of an optional float or double column at once: a cell whose
  // byte of `empty` is 1 is a null (no `empty`: none is), any other
  // value, a NaN among them, the value. The pages end where `n` single adds
  // would end them.
  template <class T>
  void addCells(const T* values, std::size_t n, const uint8_t* empty);

  std::size_t rows() const { return rows_; }
  // The bytes held, for a budget.
  std::size_t bytes() const { return values_.size() + levels_.size(); }

 private:
  friend class ParquetWriter;
  struct PageEnd {
    std::size_t rows;
    std::size_t bytes;
  };

  // The values are stored little-endian, as the host holds them.
  void put(const void* value, std::size_t size) { values_.append(value, size); }
  void present() {
    if (optional_) levels_.push_back(1);
    ++rows_;
    if (values_.size() - pageStart_ >= pageBytes_) endPage();
  }
  void endPage() {
    pages_.push_back({rows_, values_.size()});
    pageStart_ = values_.size();
  }
  void clear();
  // The start of the page from row `rows` and value byte `bytes` to `end`:
  // its levels when the column is optional, and boolean values packed;
  // other values follow as they are in the buffer.
  void appendPageStart(std::size_t rows, std::size_t bytes, const PageEnd& end,
                       std::string& page) const;

  ParquetKind kind_;
  bool optional_;
  std::size_t pageBytes_;
  ParquetBytes values_;         // PLAIN, but booleans one to a byte
  ParquetBytes levels_;         // per row, when optional: 1 present, 0 null
  std::vector<PageEnd> pages_;  // the pages ended so far
  std::size_t pageStart_ = 0;
  std::size_t rows_ = 0;
  uint64_t nulls_ = 0;
  uint64_t nans_ = 0;
  bool bounded_ = false;  // min_ and max_ hold the bounds of the values
  uint64_t min_ = 0;      // a timestamp's bits, else the value
  uint64_t max_ = 0;
};

template <class T>
void ParquetColumnBuffer::addCells(const T* values, std::size_t n, const uint8_t* empty) {
  while (n > 0) {
    // As many cells as may be present before the page is full: if all of
    // them are, the last one fills it, as it would one add at a time.
    const std::size_t filled = values_.size() - pageStart_;
    const std::size_t need = pageBytes_ > filled ? pageBytes_ - filled : 1;
    const std::size_t m = std::min(n, (need + sizeof(T) - 1) / sizeof(T));
    const std::size_t at = values_.size();
    char* out = values_.extend(m * sizeof(T));
    char* levels = levels_.extend(m);
    // Most batches have no empty cell (no mask, or one without a null
    // here): then passes the compiler vectorises, else one cell at a time.
    std::size_t present = 0;
    if (empty == nullptr || std::memchr(empty, 1, m) == nullptr) {
      std::memcpy(out, values, m * sizeof(T));
      std::memset(levels, 1, m);
      std::size_t nans = 0;
      for (std::size_t i = 0; i < m; ++i) nans += values[i] != values[i] ? 1 : 0;
      nans_ += nans;
      present = m;
    } else {
      for (std::size_t i = 0; i < m; ++i) {
        const bool kept = empty[i] == 0;
        levels[i] = kept ? 1 : 0;
        if (!kept) continue;
        if (values[i] != values[i]) ++nans_;
        std::memcpy(out + present * sizeof(T), values + i, sizeof(T));
        ++present;
      }
    }
    values_.shrink(at + present * sizeof(T));
    nulls_ += m - present;
    rows_ += m;
    if (values_.size() - pageStart_ >= pageBytes_) endPage();
    values += m;
    if (empty != nullptr) empty += m;
    n -= m;
  }
}

// Writes `size` bytes; false when that fails.
using ParquetOutput = std::function<bool(const void* data, std::size_t size)>;

class ParquetWriter {
 public:
  ParquetWriter(std::vector<ParquetColumn> columns, ParquetWriterOptions options,
                ParquetOutput output);

  // Writes the leading magic; false when the output fails or the codec is
  // not in this build.
  [[nodiscard]] bool begin();
  ParquetColumnBuffer& column(std::size_t index) { return buffers_[index]; }
  // Rows the current group has room for (at least 1).
  std::size_t room() const { return options_.groupRows - groupRows_; }
  // `rows` more rows have been given to every column; writes the group
  // when it is full. False when a write failed.
  [[nodiscard]] bool endRows(std::size_t rows);
  // Writes the last group, then the footer with `keyValues` as its
  // key-value metadata. False when a write failed, now or before.
  [[nodiscard]] bool finish(const std::vector<std::pair<std::string, std::string>>& keyValues);

  // What failed first ("" when nothing did).
  const std::string& error() const { return error_; }
  uint64_t rowsWritten() const { return totalRows_; }

 private:
  bool writeGroup();
  // Makes the compressed pages of every column of the group, on all cores.
  bool compressGroup();
  bool writeChunk(std::size_t index, std::string& chunkMeta, uint64_t& uncompressed,
                  uint64_t& compressed);
  bool out(const void* data, std::size_t size);
  bool fail(const std::string& what);

  std::vector<ParquetColumn> columns_;
  ParquetWriterOptions options_;
  ParquetOutput output_;
  std::unique_ptr<PageCodec> codec_;
  std::vector<ParquetColumnBuffer> buffers_;
  std::size_t groupRows_ = 0;
  uint64_t offset_ = 0;     // bytes written
  uint64_t totalRows_ = 0;  // in the groups written
  uint32_t groups_ = 0;     // written
  std::string rowGroups_;   // each written group's RowGroup, serialized
  std::string page_;        // an uncompressed page's start being made
  // With a codec: each column's pages of the group being written, compressed
  // (`size` bytes before), and a codec for each further worker.
  struct CompressedPage {
    std::size_t size = 0;
    std::string body;
  };
  std::vector<std::vector<CompressedPage>> compressed_;
  std::vector<std::unique_ptr<PageCodec>> codecs_;
  std::string error_;
};

}  // namespace cdt
