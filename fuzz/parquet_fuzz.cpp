// Writes arbitrary values and nulls through the Parquet writer and reads the
// file back with the tests' reader (export/parquet_test_support.h): the
// footer reads, every column gives back its values and nulls in order, and
// each row group's null count is that of its rows.
//
// The bytes are: the codec, the rows per row group, the page size and the
// number of columns (one byte each), a byte per column (its kind, and
// bit 3: optional), then row after row each column's cell: a byte whose
// lowest two bits 0 make an optional column's null, else the value's bytes
// (a string: a length byte, then up to 31 bytes). An unfinished row is left
// out.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "export/parquet_test_support.h"
#include "export/parquet_writer.h"

namespace {

using namespace cdt;

void check(bool condition) {
  if (!condition) std::abort();
}

// The bytes of the fuzzer's input, taken in order.
struct Input {
  const uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
  bool take(std::size_t n, std::string& out) {
    if (size - at < n) return false;
    out.assign(reinterpret_cast<const char*>(data + at), n);
    at += n;
    return true;
  }
  int byte() { return at < size ? data[at++] : -1; }
};

std::size_t widthOf(ParquetKind kind) {
  switch (kind) {
    case ParquetKind::Boolean:
    case ParquetKind::UInt8:
      return 1;
    case ParquetKind::UInt16:
      return 2;
    case ParquetKind::Float:
      return 4;
    default:
      return 8;
  }
}

// One cell from the input into `column`, and its PLAIN bytes (none: a
// null); false when the input ends first.
bool takeCell(Input& in, const ParquetColumn& column, ParquetColumnBuffer& buffer,
              std::optional<std::string>& expected) {
  const int lead = in.byte();
  if (lead < 0) return false;
  if (column.optional && (lead & 3) == 0) {
    buffer.addNull();
    expected.reset();
    return true;
  }
  std::string bytes;
  const ParquetKind kind = column.kind;
  if (kind == ParquetKind::String) {
    if (!in.take(static_cast<std::size_t>(lead >> 3), bytes)) return false;
    buffer.addString(bytes);
    expected = bytes;
    return true;
  }
  if (!in.take(widthOf(kind), bytes)) return false;
  uint64_t value = 0;
  std::memcpy(&value, bytes.data(), bytes.size());
  switch (kind) {
    case ParquetKind::Boolean:
      buffer.addBoolean((value & 1) != 0);
      expected = std::string(1, static_cast<char>(value & 1));
      return true;
    case ParquetKind::UInt8:
    case ParquetKind::UInt16: {
      buffer.addUnsigned(value);
      const auto wide = static_cast<uint32_t>(value);
      expected = std::string(reinterpret_cast<const char*>(&wide), 4);
      return true;
    }
    case ParquetKind::UInt64:
      buffer.addUnsigned(value);
      break;
    case ParquetKind::TimestampMicros:
      buffer.addTimestamp(static_cast<int64_t>(value));
      break;
    case ParquetKind::Float: {
      float f = 0;
      std::memcpy(&f, bytes.data(), 4);
      buffer.addFloat(f);
      break;
    }
    case ParquetKind::Double: {
      double d = 0;
      std::memcpy(&d, bytes.data(), 8);
      buffer.addDouble(d);
      break;
    }
    case ParquetKind::String:
      break;
  }
  expected = bytes;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  Input in{data, size, 4};
  ParquetWriterOptions options;
  options.codec = static_cast<ParquetCodec>(data[0] % 3);
  if (!parquetCodecAvailable(options.codec)) options.codec = ParquetCodec::None;
  options.level = parquetCodecLevels(options.codec).min;
  options.groupRows = 1 + data[1] % 64;
  options.pageBytes = 1 + std::size_t{data[2]} * 4;
  const std::size_t count = 1 + data[3] % 8;
  std::vector<ParquetColumn> columns;
  for (std::size_t c = 0; c < count; ++c) {
    const int kind = in.byte();
    if (kind < 0) return 0;
    columns.push_back(
        {"c" + std::to_string(c), static_cast<ParquetKind>(kind % 8), (kind & 8) != 0});
  }
  std::string file;
  ParquetWriter writer(columns, options, [&file](const void* bytes, std::size_t n) {
    file.append(static_cast<const char*>(bytes), n);
    return true;
  });
  check(writer.begin());
  // The cells of complete rows, by column; a row cut short by the input's
  // end is made up with nulls and zeros, which the reader must give back too.
  std::vector<std::vector<std::optional<std::string>>> expected(count);
  for (bool more = true; more;) {
    std::optional<std::string> cell;
    std::size_t c = 0;
    for (; c < count && (more = takeCell(in, columns[c], writer.column(c), cell)); ++c) {
      expected[c].push_back(cell);
    }
    if (c == 0) break;
    for (; c < count; ++c) {
      if (columns[c].optional) {
        writer.column(c).addNull();
        expected[c].emplace_back();
      } else {
        std::optional<std::string> zero;
        Input none{reinterpret_cast<const uint8_t*>("\x01\0\0\0\0\0\0\0\0"), 9};
        check(takeCell(none, columns[c], writer.column(c), zero));
        expected[c].push_back(zero);
      }
    }
    check(writer.endRows(1));
  }
  check(writer.finish({{"key", "value"}}));

  parquet::testing::ReadFile back;
  std::string error;
  check(parquet::testing::readFooter(file, back, error));
  const std::size_t rows = expected[0].size();
  check(back.numRows == static_cast<int64_t>(rows));
  check(back.columns.size() == count);
  for (std::size_t c = 0; c < count; ++c) {
    std::vector<std::optional<std::string>> values;
    check(parquet::testing::readColumn(file, back, c, values, error));
    check(values == expected[c]);
    std::size_t first = 0;
    for (const parquet::testing::ReadRowGroup& group : back.rowGroups) {
      int64_t nulls = 0;
      for (std::size_t r = first; r < first + static_cast<std::size_t>(group.numRows); ++r) {
        nulls += expected[c][r] ? 0 : 1;
      }
      check(group.columns[c].statistics && group.columns[c].statistics->nullCount == nulls);
      first += static_cast<std::size_t>(group.numRows);
    }
  }
  return 0;
}
