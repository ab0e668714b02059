// The Parquet writer read back by the tests' own reader: the compact
// protocol, the definition levels, and random columns through row groups,
// pages and every codec of the build give back every value, null and bound.
#include "export/parquet_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "export/parquet_encoding.h"
#include "export/parquet_test_support.h"
#include "export/parquet_thrift.h"

namespace cdt {
namespace {

using namespace parquet;
using parquet::testing::CompactReader;
using parquet::testing::ReadFile;

const unsigned char* bytesOf(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

// Fields of every kind, with ids that need the long header form (a gap
// past 15, a negative id), lists of both header forms, a nested struct and
// the extreme values, read back field by field.
TEST(ParquetCompact, FieldsReadBackAsWritten) {
  std::string out;
  CompactWriter w(out);
  w.beginStruct();
  w.i32Field(1, -1);
  w.i64Field(2, std::numeric_limits<int64_t>::min());
  w.i8Field(3, -128);
  w.i16Field(40, std::numeric_limits<int16_t>::max());  // a gap of 37: the long form
  w.boolField(41, true);
  w.boolField(42, false);
  w.binaryField(43, std::string("a\0b", 3));
  w.listField(44, compact::kI32, 3);
  for (int32_t v : {0, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}) {
    w.i32(v);
  }
  w.listField(45, compact::kBinary, 20);  // past 14: the size follows the header
  for (int i = 0; i < 20; ++i) w.binary(std::string(static_cast<std::size_t>(i), 'x'));
  w.structField(46);
  w.i64Field(1, std::numeric_limits<int64_t>::max());
  w.endStruct();
  w.i32Field(47, 7);  // after the nested struct, the delta from 46
  w.endStruct();

  CompactReader r(bytesOf(out), bytesOf(out) + out.size());
  int16_t last = 0, id = 0;
  uint8_t type = 0;
  const auto next = [&](int16_t expectId, uint8_t expectType) {
    ASSERT_TRUE(r.field(last, id, type));
    EXPECT_EQ(id, expectId);
    EXPECT_EQ(type, expectType);
  };
  next(1, compact::kI32);
  EXPECT_EQ(r.zigzag(), -1);
  next(2, compact::kI64);
  EXPECT_EQ(r.zigzag(), std::numeric_limits<int64_t>::min());
  next(3, compact::kI8);
  EXPECT_EQ(static_cast<int8_t>(r.byte()), -128);
  next(40, compact::kI16);
  EXPECT_EQ(r.zigzag(), std::numeric_limits<int16_t>::max());
  next(41, compact::kTrue);
  next(42, compact::kFalse);
  next(43, compact::kBinary);
  EXPECT_EQ(r.binary(), std::string("a\0b", 3));
  next(44, compact::kList);
  EXPECT_EQ(r.list(), (std::pair<uint32_t, uint8_t>{3, compact::kI32}));
  EXPECT_EQ(r.zigzag(), 0);
  EXPECT_EQ(r.zigzag(), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(r.zigzag(), std::numeric_limits<int32_t>::max());
  next(45, compact::kList);
  EXPECT_EQ(r.list(), (std::pair<uint32_t, uint8_t>{20, compact::kBinary}));
  for (int i = 0; i < 20; ++i) EXPECT_EQ(r.binary().size(), static_cast<std::size_t>(i));
  next(46, compact::kStruct);
  int16_t inner = 0;
  ASSERT_TRUE(r.field(inner, id, type));
  EXPECT_EQ(r.zigzag(), std::numeric_limits<int64_t>::max());
  EXPECT_FALSE(r.field(inner, id, type));
  next(47, compact::kI32);
  EXPECT_EQ(r.zigzag(), 7);
  EXPECT_FALSE(r.field(last, id, type));
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.position(), bytesOf(out) + out.size());
  // The short form is one byte: delta 1, type i32, then zigzag(-1) = 1.
  EXPECT_EQ(out.substr(0, 2), "\x15\x01");
}

// Levels in the hybrid: exact bytes for a run and for a bit-packed group,
// then random sequences of runs and noise read back.
TEST(ParquetLevels, RunsAndBitPackedGroupsReadBack) {
  const std::vector<uint8_t> ones(8, 1);
  std::string out;
  appendLevels(out, ones.data(), ones.size());
  EXPECT_EQ(out, "\x10\x01");  // run of 8 (8 << 1), value 1
  out.clear();
  const std::vector<uint8_t> mixed = {1, 0, 1};
  appendLevels(out, mixed.data(), mixed.size());
  EXPECT_EQ(out, "\x03\x05");  // one bit-packed group ((1 << 1) | 1), 101 from the low bit

  std::mt19937 random(7);
  for (int round = 0; round < 500; ++round) {
    std::vector<uint8_t> levels;
    const int pieces = static_cast<int>(random() % 12);
    for (int p = 0; p < pieces; ++p) {
      const std::size_t n = random() % (p % 3 == 0 ? 70 : 9);
      const bool run = random() % 2 == 0;
      const uint8_t value = random() % 2;
      for (std::size_t i = 0; i < n; ++i) levels.push_back(run ? value : random() % 2);
    }
    out.clear();
    appendLevels(out, levels.data(), levels.size());
    CompactReader r(bytesOf(out), bytesOf(out) + out.size());
    std::vector<uint8_t> back;
    ASSERT_TRUE(parquet::testing::readLevels(r, levels.size(), back)) << round;
    EXPECT_EQ(back, levels) << round;
    EXPECT_EQ(r.position(), bytesOf(out) + out.size()) << round;
  }
}

// A random value of `kind` as its PLAIN bytes, and the number it orders by.
struct Cell {
  std::optional<std::string> bytes;
  uint64_t order = 0;  // unsigned value, or a timestamp's bits
};

Cell randomCell(ParquetKind kind, bool optional, std::mt19937_64& random) {
  Cell cell;
  if (optional && random() % 3 == 0) return cell;
  const uint64_t bits = random();
  const auto plain = [&](auto value) {
    cell.bytes = std::string(reinterpret_cast<const char*>(&value), sizeof value);
  };
  switch (kind) {
    case ParquetKind::Boolean:
      cell.bytes = std::string(1, static_cast<char>(bits & 1));
      break;
    case ParquetKind::UInt8:
      cell.order = bits & 0xFF;
      plain(static_cast<uint32_t>(cell.order));
      break;
    case ParquetKind::UInt16:
      cell.order = bits & 0xFFFF;
      plain(static_cast<uint32_t>(cell.order));
      break;
    case ParquetKind::UInt64:
    case ParquetKind::TimestampMicros:
      // Both halves of the range: the order of the sign bit matters.
      cell.order = bits % 4 == 0 ? bits % 16 : bits;
      plain(cell.order);
      break;
    case ParquetKind::Float:
      plain(bits % 5 == 0 ? std::numeric_limits<float>::quiet_NaN()
                          : static_cast<float>(static_cast<int64_t>(bits)) * 1e-12f);
      break;
    case ParquetKind::Double:
      plain(bits % 5 == 0 ? -std::numeric_limits<double>::quiet_NaN()
                          : static_cast<double>(bits) * 1e-3);
      break;
    case ParquetKind::String:
      cell.bytes = std::string(bits % 40, static_cast<char>('a' + bits % 26));
      break;
  }
  return cell;
}

void addCell(ParquetColumnBuffer& column, ParquetKind kind, const Cell& cell) {
  if (!cell.bytes) return column.addNull();
  const std::string& b = *cell.bytes;
  switch (kind) {
    case ParquetKind::Boolean:
      return column.addBoolean(b[0] != 0);
    case ParquetKind::UInt8:
    case ParquetKind::UInt16:
    case ParquetKind::UInt64:
      return column.addUnsigned(cell.order);
    case ParquetKind::TimestampMicros:
      return column.addTimestamp(static_cast<int64_t>(cell.order));
    case ParquetKind::Float:
      return column.addFloat(parquet::testing::plainValue<float>(b));
    case ParquetKind::Double:
      return column.addDouble(parquet::testing::plainValue<double>(b));
    case ParquetKind::String:
      return column.addString(b);
  }
}

const ParquetKind kKinds[] = {
    ParquetKind::Boolean,         ParquetKind::UInt8, ParquetKind::UInt16, ParquetKind::UInt64,
    ParquetKind::TimestampMicros, ParquetKind::Float, ParquetKind::Double, ParquetKind::String};

// Random columns of every kind, required and optional, through small row
// groups and pages, in every codec of the build: the reader gets back the
// schema, every value and null, and per row group the null and NaN counts
// and the bounds of the integer columns in their own order.
TEST(ParquetWriter, RandomColumnsReadBackInEveryCodec) {
  std::mt19937_64 random(11);
  for (ParquetCodec codec : {ParquetCodec::None, ParquetCodec::Gzip, ParquetCodec::Zstd}) {
    if (!parquetCodecAvailable(codec)) continue;
    for (int round = 0; round < 12; ++round) {
      std::vector<ParquetColumn> columns;
      for (ParquetKind kind : kKinds) {
        for (bool optional : {false, true}) {
          columns.push_back({"c" + std::to_string(columns.size()), kind, optional});
        }
      }
      const std::size_t rows = round == 0 ? 0 : random() % 400;
      std::vector<std::vector<Cell>> cells(columns.size());
      for (std::size_t c = 0; c < columns.size(); ++c) {
        for (std::size_t r = 0; r < rows; ++r) {
          cells[c].push_back(randomCell(columns[c].kind, columns[c].optional, random));
        }
      }
      ParquetWriterOptions options;
      options.codec = codec;
      options.level = parquetCodecLevels(codec).fallback;
      options.groupRows = 1 + random() % 150;
      options.pageBytes = 1 + random() % 300;
      options.createdBy = "test version 1";
      std::string file;
      ParquetWriter writer(columns, options, [&file](const void* data, std::size_t size) {
        file.append(static_cast<const char*>(data), size);
        return true;
      });
      ASSERT_TRUE(writer.begin());
      for (std::size_t r = 0; r < rows;) {
        const std::size_t room = writer.room();
        const std::size_t n =
            std::min<std::size_t>(rows - r, random() % 2 == 0 ? room : 1 + random() % room);
        for (std::size_t c = 0; c < columns.size(); ++c) {
          for (std::size_t i = r; i < r + n; ++i) {
            addCell(writer.column(c), columns[c].kind, cells[c][i]);
          }
        }
        ASSERT_TRUE(writer.endRows(n));
        r += n;
      }
      ASSERT_TRUE(writer.finish({{"k", "v"}, {"empty", ""}}));

      ReadFile back;
      std::string error;
      ASSERT_TRUE(parquet::testing::readFooter(file, back, error)) << error;
      const std::string where = std::string(parquetCodecName(codec)) + " round " +
                                std::to_string(round) + " rows " + std::to_string(rows);
      EXPECT_EQ(back.numRows, static_cast<int64_t>(rows)) << where;
      EXPECT_EQ(back.rowGroups.size(), (rows + options.groupRows - 1) / options.groupRows);
      EXPECT_EQ(back.rootChildren, static_cast<int32_t>(columns.size()));
      EXPECT_EQ(back.typeOrders, columns.size());
      EXPECT_EQ(back.createdBy, "test version 1");
      EXPECT_EQ(back.keyValues,
                (std::vector<std::pair<std::string, std::string>>{{"k", "v"}, {"empty", ""}}));
      ASSERT_EQ(back.columns.size(), columns.size());
      for (std::size_t c = 0; c < columns.size(); ++c) {
        const parquet::testing::ReadColumn& column = back.columns[c];
        const ParquetKind kind = columns[c].kind;
        EXPECT_EQ(column.name, columns[c].name);
        EXPECT_EQ(column.repetition, columns[c].optional ? kOptional : kRequired);
        EXPECT_EQ(column.logicalType != 0, kind != ParquetKind::Boolean &&
                                               kind != ParquetKind::Float &&
                                               kind != ParquetKind::Double);
        if (kind == ParquetKind::TimestampMicros) {
          EXPECT_TRUE(column.adjustedToUtc && column.timeUnit == time_unit::kMicros);
          EXPECT_EQ(column.convertedType, kConvertedTimestampMicros);
        }
        if (kind == ParquetKind::UInt8 || kind == ParquetKind::UInt16 ||
            kind == ParquetKind::UInt64) {
          EXPECT_FALSE(column.isSigned);
          EXPECT_EQ(column.bitWidth, kind == ParquetKind::UInt8    ? 8
                                     : kind == ParquetKind::UInt16 ? 16
                                                                   : 64);
        }
        std::vector<std::optional<std::string>> values;
        ASSERT_TRUE(parquet::testing::readColumn(file, back, c, values, error))
            << where << " column " << c << ": " << error;
        ASSERT_EQ(values.size(), rows) << where;
        for (std::size_t r = 0; r < rows; ++r) {
          ASSERT_EQ(values[r], cells[c][r].bytes) << where << " column " << c << " row " << r;
        }
        // Per row group: counts, and the integers' bounds.
        std::size_t first = 0;
        for (const parquet::testing::ReadRowGroup& group : back.rowGroups) {
          const auto n = static_cast<std::size_t>(group.numRows);
          const parquet::testing::ReadChunk& chunk = group.columns.at(c);
          ASSERT_TRUE(chunk.statistics.has_value());
          int64_t nulls = 0, nans = 0;
          std::optional<uint64_t> low, high;
          for (std::size_t r = first; r < first + n; ++r) {
            const Cell& cell = cells[c][r];
            if (!cell.bytes) {
              ++nulls;
              continue;
            }
            if (kind == ParquetKind::Float)
              nans += std::isnan(parquet::testing::plainValue<float>(*cell.bytes));
            if (kind == ParquetKind::Double)
              nans += std::isnan(parquet::testing::plainValue<double>(*cell.bytes));
            const auto less = [kind](uint64_t a, uint64_t b) {
              return kind == ParquetKind::TimestampMicros
                         ? static_cast<int64_t>(a) < static_cast<int64_t>(b)
                         : a < b;
            };
            if (!low || less(cell.order, *low)) low = cell.order;
            if (!high || less(*high, cell.order)) high = cell.order;
          }
          EXPECT_EQ(chunk.statistics->nullCount, nulls) << where;
          const bool floating = kind == ParquetKind::Float || kind == ParquetKind::Double;
          EXPECT_EQ(chunk.statistics->nanCount,
                    floating ? std::optional<int64_t>(nans) : std::nullopt);
          const bool integer =
              !floating && kind != ParquetKind::Boolean && kind != ParquetKind::String;
          if (integer && low) {
            const std::size_t size =
                kind == ParquetKind::UInt8 || kind == ParquetKind::UInt16 ? 4 : 8;
            EXPECT_EQ(chunk.statistics->minValue,
                      std::string(reinterpret_cast<const char*>(&*low), size));
            EXPECT_EQ(chunk.statistics->maxValue,
                      std::string(reinterpret_cast<const char*>(&*high), size));
          } else {
            EXPECT_FALSE(chunk.statistics->minValue || chunk.statistics->maxValue) << where;
          }
          first += n;
        }
      }
      EXPECT_GE(back.pages, back.rowGroups.size() * columns.size());
    }
  }
}

// A write that fails stops the writer: what follows fails too, and the
// error says so.
TEST(ParquetWriter, AFailedWriteFailsTheRest) {
  std::size_t room = 100;
  ParquetWriterOptions options;
  options.groupRows = 10;
  ParquetWriter writer({{"x", ParquetKind::Double, false}}, options,
                       [&room](const void*, std::size_t size) {
                         if (size > room) return false;
                         room -= size;
                         return true;
                       });
  ASSERT_TRUE(writer.begin());
  bool ok = true;
  for (int r = 0; r < 50 && ok; ++r) {
    writer.column(0).addDouble(r);
    ok = writer.endRows(1);
  }
  EXPECT_FALSE(ok);
  EXPECT_FALSE(writer.finish({}));
  EXPECT_EQ(writer.error(), "cannot write the file");
}

}  // namespace
}  // namespace cdt
