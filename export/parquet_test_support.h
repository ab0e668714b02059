// A small Parquet reader for the tests and the fuzz target of our writer:
// the footer and page headers in the Thrift compact protocol, data pages v1
// with PLAIN values and RLE / bit-packed definition levels, pages of any
// codec this build has. It reads what our writer writes, checks every
// length against the bytes there are, and reports a file it cannot read
// through `error` rather than crashing.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "export/parquet_codec.h"
#include "export/parquet_format.h"

namespace cdt::parquet::testing {

// Compact protocol decoding over a range of bytes; the first failure sticks.
class CompactReader {
 public:
  CompactReader(const unsigned char* begin, const unsigned char* end) : p_(begin), end_(end) {}
  bool ok() const { return ok_; }
  const unsigned char* position() const { return p_; }
  void fail() { ok_ = false; }

  uint8_t byte() {
    if (!ok_ || p_ >= end_) {
      ok_ = false;
      return 0;
    }
    return *p_++;
  }
  uint64_t varint() {
    uint64_t value = 0;
    for (int shift = 0; shift < 64 && ok_; shift += 7) {
      const uint8_t b = byte();
      value |= uint64_t{b & 0x7Fu} << shift;
      if ((b & 0x80) == 0) return value;
    }
    ok_ = false;
    return 0;
  }
  int64_t zigzag() {
    const uint64_t v = varint();
    return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1);
  }
  std::string binary() {
    const uint64_t n = varint();
    if (!ok_ || n > static_cast<uint64_t>(end_ - p_)) {
      ok_ = false;
      return {};
    }
    std::string s(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    return s;
  }
  // The next field of a struct whose last field id is `last`: false at its
  // stop (or a failure).
  bool field(int16_t& last, int16_t& id, uint8_t& type) {
    const uint8_t header = byte();
    if (!ok_ || header == compact::kStop) return false;
    type = header & 0x0F;
    const int delta = header >> 4;
    id = delta != 0 ? static_cast<int16_t>(last + delta) : static_cast<int16_t>(zigzag());
    last = id;
    return ok_;
  }
  // A list header: its size and element type.
  std::pair<uint32_t, uint8_t> list() {
    const uint8_t header = byte();
    uint64_t size = header >> 4;
    if (size == 15) size = varint();
    if (size > static_cast<uint64_t>(end_ - p_)) ok_ = false;  // each element takes a byte
    return {static_cast<uint32_t>(size), static_cast<uint8_t>(header & 0x0F)};
  }
  // Skips a value of compact type `type`.
  void skip(uint8_t type, int depth = 0) {
    if (depth > 32) ok_ = false;
    if (!ok_) return;
    switch (type) {
      case compact::kTrue:
      case compact::kFalse:
        return;
      case compact::kI8:
        (void)byte();
        return;
      case compact::kI16:
      case compact::kI32:
      case compact::kI64:
        (void)varint();
        return;
      case compact::kDouble:
        for (int i = 0; i < 8; ++i) (void)byte();
        return;
      case compact::kBinary:
        (void)binary();
        return;
      case compact::kList:
      case compact::kSet: {
        const auto [size, element] = list();
        for (uint32_t i = 0; i < size && ok_; ++i) skipElement(element, depth + 1);
        return;
      }
      case compact::kStruct: {
        int16_t last = 0, id = 0;
        uint8_t t = 0;
        while (field(last, id, t)) skip(t, depth + 1);
        return;
      }
      default:
        ok_ = false;
    }
  }
  void skipElement(uint8_t type, int depth) {
    if (type == compact::kTrue || type == compact::kFalse) {
      (void)byte();  // a list's booleans take a byte each
    } else {
      skip(type, depth);
    }
  }

 private:
  const unsigned char* p_;
  const unsigned char* end_;
  bool ok_ = true;
};

struct ReadColumn {
  std::string name;
  int32_t type = -1;
  int32_t repetition = -1;
  std::optional<int32_t> convertedType;
  int16_t logicalType = 0;  // the LogicalType union's member, 0 for none
  bool adjustedToUtc = false;
  int16_t timeUnit = 0;
  int8_t bitWidth = 0;
  bool isSigned = true;
};

struct ReadStatistics {
  std::optional<int64_t> nullCount, nanCount;
  std::optional<std::string> min, max, minValue, maxValue;
};

struct ReadChunk {
  int32_t type = -1;
  std::vector<int32_t> encodings;
  std::vector<std::string> path;
  int32_t codec = -1;
  int64_t numValues = -1;
  int64_t uncompressedSize = -1;
  int64_t compressedSize = -1;
  int64_t dataPageOffset = -1;
  std::optional<ReadStatistics> statistics;
};

struct ReadRowGroup {
  std::vector<ReadChunk> columns;
  int64_t totalByteSize = -1;
  int64_t numRows = -1;
  std::optional<int64_t> fileOffset, totalCompressedSize;
  std::optional<int16_t> ordinal;
};

struct ReadFile {
  int32_t version = -1;
  std::string rootName;
  int32_t rootChildren = -1;
  std::vector<ReadColumn> columns;  // the leaves
  int64_t numRows = -1;
  std::vector<ReadRowGroup> rowGroups;
  std::vector<std::pair<std::string, std::string>> keyValues;
  std::string createdBy;
  uint32_t typeOrders = 0;  // of column_orders
  uint32_t pages = 0;       // data pages read by readColumn
};

namespace detail {

inline ReadStatistics readStatistics(CompactReader& r) {
  ReadStatistics s;
  int16_t last = 0, id = 0;
  uint8_t type = 0;
  while (r.field(last, id, type)) {
    if (id == statistics::kNullCount && type == compact::kI64) {
      s.nullCount = r.zigzag();
    } else if (id == statistics::kNanCount && type == compact::kI64) {
      s.nanCount = r.zigzag();
    } else if (type == compact::kBinary &&
               (id == statistics::kMin || id == statistics::kMax || id == statistics::kMinValue ||
                id == statistics::kMaxValue)) {
      std::string v = r.binary();
      (id == statistics::kMin        ? s.min
       : id == statistics::kMax      ? s.max
       : id == statistics::kMinValue ? s.minValue
                                     : s.maxValue) = std::move(v);
    } else {
      r.skip(type);
    }
  }
  return s;
}

inline ReadChunk readChunk(CompactReader& r) {
  ReadChunk c;
  int16_t last = 0, id = 0;
  uint8_t type = 0;
  while (r.field(last, id, type)) {
    if (id != column_chunk::kMetaData || type != compact::kStruct) {
      r.skip(type);
      continue;
    }
    int16_t mlast = 0;
    while (r.field(mlast, id, type)) {
      using namespace column_meta_data;
      if (id == kType && type == compact::kI32) {
        c.type = static_cast<int32_t>(r.zigzag());
      } else if (id == kEncodings && type == compact::kList) {
        const auto [n, element] = r.list();
        for (uint32_t i = 0; i < n && r.ok(); ++i) {
          c.encodings.push_back(static_cast<int32_t>(r.zigzag()));
        }
        if (element != compact::kI32) r.fail();
      } else if (id == kPathInSchema && type == compact::kList) {
        const auto [n, element] = r.list();
        for (uint32_t i = 0; i < n && r.ok(); ++i) c.path.push_back(r.binary());
        if (element != compact::kBinary) r.fail();
      } else if (id == kCodec && type == compact::kI32) {
        c.codec = static_cast<int32_t>(r.zigzag());
      } else if (id == kNumValues && type == compact::kI64) {
        c.numValues = r.zigzag();
      } else if (id == kTotalUncompressedSize && type == compact::kI64) {
        c.uncompressedSize = r.zigzag();
      } else if (id == kTotalCompressedSize && type == compact::kI64) {
        c.compressedSize = r.zigzag();
      } else if (id == kDataPageOffset && type == compact::kI64) {
        c.dataPageOffset = r.zigzag();
      } else if (id == kStatistics && type == compact::kStruct) {
        c.statistics = readStatistics(r);
      } else {
        r.skip(type);
      }
    }
  }
  return c;
}

inline ReadRowGroup readRowGroup(CompactReader& r) {
  ReadRowGroup g;
  int16_t last = 0, id = 0;
  uint8_t type = 0;
  while (r.field(last, id, type)) {
    using namespace row_group;
    if (id == kColumns && type == compact::kList) {
      const auto [n, element] = r.list();
      if (element != compact::kStruct) r.fail();
      for (uint32_t i = 0; i < n && r.ok(); ++i) g.columns.push_back(readChunk(r));
    } else if (id == kTotalByteSize && type == compact::kI64) {
      g.totalByteSize = r.zigzag();
    } else if (id == kNumRows && type == compact::kI64) {
      g.numRows = r.zigzag();
    } else if (id == kFileOffset && type == compact::kI64) {
      g.fileOffset = r.zigzag();
    } else if (id == kTotalCompressedSize && type == compact::kI64) {
      g.totalCompressedSize = r.zigzag();
    } else if (id == kOrdinal && type == compact::kI16) {
      g.ordinal = static_cast<int16_t>(r.zigzag());
    } else {
      r.skip(type);
    }
  }
  return g;
}

inline void readLogicalType(CompactReader& r, ReadColumn& c) {
  int16_t last = 0, id = 0;
  uint8_t type = 0;
  while (r.field(last, id, type)) {
    if (type != compact::kStruct) {
      r.skip(type);
      continue;
    }
    c.logicalType = id;
    int16_t inner = 0, field = 0;
    while (r.field(inner, field, type)) {
      if (id == logical_type::kTimestamp && field == timestamp_type::kIsAdjustedToUtc) {
        c.adjustedToUtc = type == compact::kTrue;
      } else if (id == logical_type::kTimestamp && field == timestamp_type::kUnit &&
                 type == compact::kStruct) {
        int16_t unitLast = 0, unit = 0;
        while (r.field(unitLast, unit, type)) {
          c.timeUnit = unit;
          r.skip(type);
        }
      } else if (id == logical_type::kInteger && field == int_type::kBitWidth &&
                 type == compact::kI8) {
        c.bitWidth = static_cast<int8_t>(r.byte());
      } else if (id == logical_type::kInteger && field == int_type::kIsSigned) {
        c.isSigned = type == compact::kTrue;
      } else {
        r.skip(type);
      }
    }
  }
}

inline ReadColumn readSchemaElement(CompactReader& r, int32_t& children) {
  ReadColumn c;
  children = -1;
  int16_t last = 0, id = 0;
  uint8_t type = 0;
  while (r.field(last, id, type)) {
    using namespace schema_element;
    if (id == kType && type == compact::kI32) {
      c.type = static_cast<int32_t>(r.zigzag());
    } else if (id == kRepetitionType && type == compact::kI32) {
      c.repetition = static_cast<int32_t>(r.zigzag());
    } else if (id == kName && type == compact::kBinary) {
      c.name = r.binary();
    } else if (id == kNumChildren && type == compact::kI32) {
      children = static_cast<int32_t>(r.zigzag());
    } else if (id == kConvertedType && type == compact::kI32) {
      c.convertedType = static_cast<int32_t>(r.zigzag());
    } else if (id == kLogicalType && type == compact::kStruct) {
      readLogicalType(r, c);
    } else {
      r.skip(type);
    }
  }
  return c;
}

}  // namespace detail

// The footer of the file `bytes`; false, with `error` set, when it cannot
// be read.
inline bool readFooter(std::string_view bytes, ReadFile& file, std::string& error) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  if (bytes.size() < kMagicSize + kFooterTailSize || std::memcmp(data, kMagic, kMagicSize) != 0 ||
      std::memcmp(data + bytes.size() - kMagicSize, kMagic, kMagicSize) != 0) {
    error = "no PAR1 at both ends";
    return false;
  }
  uint32_t length = 0;
  std::memcpy(&length, data + bytes.size() - kFooterTailSize, 4);
  if (length > bytes.size() - kMagicSize - kFooterTailSize) {
    error = "footer length beyond the file";
    return false;
  }
  const unsigned char* end = data + bytes.size() - kFooterTailSize;
  CompactReader r(end - length, end);
  int16_t last = 0, id = 0;
  uint8_t type = 0;
  while (r.field(last, id, type)) {
    using namespace file_meta_data;
    if (id == kVersion && type == compact::kI32) {
      file.version = static_cast<int32_t>(r.zigzag());
    } else if (id == kSchema && type == compact::kList) {
      const auto [n, element] = r.list();
      if (element != compact::kStruct || n == 0) r.fail();
      for (uint32_t i = 0; i < n && r.ok(); ++i) {
        int32_t children = -1;
        ReadColumn c = detail::readSchemaElement(r, children);
        if (i == 0) {
          file.rootName = c.name;
          file.rootChildren = children;
        } else {
          file.columns.push_back(std::move(c));
        }
      }
    } else if (id == kNumRows && type == compact::kI64) {
      file.numRows = r.zigzag();
    } else if (id == kRowGroups && type == compact::kList) {
      const auto [n, element] = r.list();
      if (element != compact::kStruct) r.fail();
      for (uint32_t i = 0; i < n && r.ok(); ++i) file.rowGroups.push_back(detail::readRowGroup(r));
    } else if (id == kKeyValueMetadata && type == compact::kList) {
      const auto [n, element] = r.list();
      if (element != compact::kStruct) r.fail();
      for (uint32_t i = 0; i < n && r.ok(); ++i) {
        std::pair<std::string, std::string> kv;
        int16_t kvLast = 0;
        while (r.field(kvLast, id, type)) {
          if (id == key_value::kKey && type == compact::kBinary) {
            kv.first = r.binary();
          } else if (id == key_value::kValue && type == compact::kBinary) {
            kv.second = r.binary();
          } else {
            r.skip(type);
          }
        }
        file.keyValues.push_back(std::move(kv));
      }
    } else if (id == kCreatedBy && type == compact::kBinary) {
      file.createdBy = r.binary();
    } else if (id == kColumnOrders && type == compact::kList) {
      const auto [n, element] = r.list();
      if (element != compact::kStruct) r.fail();
      for (uint32_t i = 0; i < n && r.ok(); ++i) {
        int16_t orderLast = 0;
        while (r.field(orderLast, id, type)) {
          if (id == column_order::kTypeOrder && type == compact::kStruct) ++file.typeOrders;
          r.skip(type);
        }
      }
    } else {
      r.skip(type);
    }
  }
  if (!r.ok()) {
    error = "the footer is damaged";
    return false;
  }
  if (r.position() != end) {
    error = "bytes after the footer's stop";
    return false;
  }
  return true;
}

// Decodes `count` levels of bit width 1 in the RLE / bit-packed hybrid.
inline bool readLevels(CompactReader& r, std::size_t count, std::vector<uint8_t>& levels) {
  while (levels.size() < count && r.ok()) {
    const uint64_t header = r.varint();
    if ((header & 1) == 0) {
      const uint64_t run = header >> 1;
      const uint8_t value = r.byte();
      if (run == 0 || value > 1 || run > count - levels.size()) return false;
      levels.insert(levels.end(), run, value);
    } else {
      const uint64_t groups = header >> 1;
      if (groups == 0 || groups > count) return false;
      for (uint64_t g = 0; g < groups && r.ok(); ++g) {
        const uint8_t bits = r.byte();
        for (int b = 0; b < 8 && levels.size() < count; ++b) levels.push_back((bits >> b) & 1);
      }
    }
  }
  return r.ok() && levels.size() == count;
}

// Every value of column `index`, row group after row group: none for a
// null, else its PLAIN bytes (a boolean as one byte 0 or 1, a string
// without its length). False, with `error` set, when a page cannot be read.
inline bool readColumn(std::string_view bytes, ReadFile& file, std::size_t index,
                       std::vector<std::optional<std::string>>& values, std::string& error) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  if (index >= file.columns.size()) {
    error = "no such column";
    return false;
  }
  const ReadColumn& column = file.columns[index];
  const bool optional = column.repetition == kOptional;
  std::size_t width = 0;
  switch (column.type) {
    case kBoolean:
    case kByteArray:
      break;
    case kInt32:
    case kFloat:
      width = 4;
      break;
    case kInt64:
    case kDouble:
      width = 8;
      break;
    default:
      error = "unknown type";
      return false;
  }
  std::string page;
  std::vector<uint8_t> levels;
  for (const ReadRowGroup& group : file.rowGroups) {
    if (index >= group.columns.size()) {
      error = "a row group lacks the column";
      return false;
    }
    const ReadChunk& chunk = group.columns[index];
    if (chunk.numValues != group.numRows || chunk.dataPageOffset < 0 || chunk.compressedSize < 0 ||
        static_cast<uint64_t>(chunk.dataPageOffset) > bytes.size() ||
        static_cast<uint64_t>(chunk.compressedSize) >
            bytes.size() - static_cast<uint64_t>(chunk.dataPageOffset)) {
      error = "a column chunk's place or count is wrong";
      return false;
    }
    std::unique_ptr<PageCodec> codec;
    if (chunk.codec == kGzip) codec = makeGzipCodec(6);
    if (chunk.codec == kZstd) codec = makeZstdCodec(3);
    if (chunk.codec != kUncompressed && codec == nullptr) {
      error = "a codec this build lacks";
      return false;
    }
    const unsigned char* at = data + chunk.dataPageOffset;
    const unsigned char* chunkEnd = at + chunk.compressedSize;
    int64_t seen = 0;
    while (seen < chunk.numValues) {
      CompactReader r(at, chunkEnd);
      int16_t last = 0, id = 0;
      uint8_t type = 0;
      int32_t pageType = -1, uncompressedSize = -1, compressedSize = -1, count = -1;
      int32_t encoding = -1, levelEncoding = -1;
      while (r.field(last, id, type)) {
        if (id == page_header::kType && type == compact::kI32) {
          pageType = static_cast<int32_t>(r.zigzag());
        } else if (id == page_header::kUncompressedPageSize && type == compact::kI32) {
          uncompressedSize = static_cast<int32_t>(r.zigzag());
        } else if (id == page_header::kCompressedPageSize && type == compact::kI32) {
          compressedSize = static_cast<int32_t>(r.zigzag());
        } else if (id == page_header::kDataPageHeader && type == compact::kStruct) {
          int16_t inner = 0;
          while (r.field(inner, id, type)) {
            if (id == data_page_header::kNumValues && type == compact::kI32) {
              count = static_cast<int32_t>(r.zigzag());
            } else if (id == data_page_header::kEncoding && type == compact::kI32) {
              encoding = static_cast<int32_t>(r.zigzag());
            } else if (id == data_page_header::kDefinitionLevelEncoding && type == compact::kI32) {
              levelEncoding = static_cast<int32_t>(r.zigzag());
            } else {
              r.skip(type);
            }
          }
        } else {
          r.skip(type);
        }
      }
      if (!r.ok() || pageType != kDataPage || encoding != kPlain || levelEncoding != kRle ||
          count <= 0 || count > chunk.numValues - seen || compressedSize < 0 ||
          uncompressedSize < 0 || compressedSize > chunkEnd - r.position()) {
        error = "a page header is damaged";
        return false;
      }
      ++file.pages;
      const unsigned char* body = r.position();
      at = body + compressedSize;
      if (codec != nullptr) {
        if (!codec->decompress(body, static_cast<std::size_t>(compressedSize),
                               static_cast<std::size_t>(uncompressedSize), page)) {
          error = "a page does not decompress";
          return false;
        }
      } else if (compressedSize != uncompressedSize) {
        error = "an uncompressed page of two sizes";
        return false;
      } else {
        page.assign(reinterpret_cast<const char*>(body), static_cast<std::size_t>(compressedSize));
      }
      const auto* p = reinterpret_cast<const unsigned char*>(page.data());
      const unsigned char* pageEnd = p + page.size();
      levels.clear();
      if (optional) {
        uint32_t length = 0;
        if (page.size() < 4) {
          error = "a page without its levels";
          return false;
        }
        std::memcpy(&length, p, 4);
        if (length > page.size() - 4) {
          error = "levels beyond the page";
          return false;
        }
        CompactReader lr(p + 4, p + 4 + length);
        if (!readLevels(lr, static_cast<std::size_t>(count), levels) ||
            lr.position() != p + 4 + length) {
          error = "damaged definition levels";
          return false;
        }
        p += 4 + length;
      } else {
        levels.assign(static_cast<std::size_t>(count), 1);
      }
      std::size_t bit = 0;
      for (uint8_t level : levels) {
        if (level == 0) {
          values.emplace_back();
          continue;
        }
        if (column.type == kBoolean) {
          if (p + bit / 8 >= pageEnd) {
            error = "booleans beyond the page";
            return false;
          }
          values.emplace_back(std::string(1, static_cast<char>((p[bit / 8] >> (bit % 8)) & 1)));
          ++bit;
          continue;
        }
        std::size_t size = width;
        if (column.type == kByteArray) {
          uint32_t n = 0;
          if (pageEnd - p < 4) {
            error = "a string beyond the page";
            return false;
          }
          std::memcpy(&n, p, 4);
          p += 4;
          size = n;
        }
        if (static_cast<std::size_t>(pageEnd - p) < size) {
          error = "values beyond the page";
          return false;
        }
        values.emplace_back(std::string(reinterpret_cast<const char*>(p), size));
        p += size;
      }
      if (column.type == kBoolean) p += (bit + 7) / 8;
      if (p != pageEnd) {
        error = "bytes after a page's values";
        return false;
      }
      seen += count;
    }
    if (at != chunkEnd) {
      error = "a column chunk's size is not its pages'";
      return false;
    }
  }
  return true;
}

// The value of PLAIN bytes as a number.
template <typename T>
T plainValue(const std::string& bytes) {
  T value{};
  std::memcpy(&value, bytes.data(), std::min(sizeof value, bytes.size()));
  return value;
}

}  // namespace cdt::parquet::testing
