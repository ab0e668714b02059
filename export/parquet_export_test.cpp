// cdt export --format parquet read back with the tests' own reader: every
// value is the CSV's cell (an empty cell a null), wide and long, of a file
// and of a set, in every codec of the build; the columns are typed, and each
// row group carries the bounds of Time, Start Rev and End Rev.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "csv/csv_test_support.h"
#include "csv/number_format.h"
#include "datafile/data_file.h"
#include "export/parquet_test_support.h"
#include "tools/export_test_support.h"

namespace cdt {
namespace {

using namespace parquet;
using cdt::testing::readFile;
using cdt::testing::Row;
using cdt::testing::runCdt;
using cdt::testing::RunResult;
using cdt::testing::table;
using parquet::testing::ReadColumn;
using parquet::testing::ReadFile;

// A Parquet file as the rows of CSV cells its values print as, with its
// column names as the header row.
struct Back {
  ReadFile file;
  std::vector<Row> rows;
};

std::string cellOf(const ReadColumn& column, const std::optional<std::string>& value) {
  if (!value) return "";
  char text[kNumberRoom];
  const std::string& v = *value;
  switch (column.type) {
    case kBoolean:
      return v[0] != 0 ? "Yes" : "No";
    case kInt32:
      return std::to_string(parquet::testing::plainValue<uint32_t>(v));
    case kInt64: {
      const auto bits = parquet::testing::plainValue<uint64_t>(v);
      return column.logicalType == logical_type::kTimestamp
                 ? std::string(text, formatTimeCell(text, bits))
                 : std::to_string(bits);
    }
    case kFloat: {
      const auto f = parquet::testing::plainValue<float>(v);
      return std::string(text, column.name == "Speed" ? formatG6(text, f) : formatG8(text, f));
    }
    case kDouble:
      return std::string(text, formatDoubleG8(text, parquet::testing::plainValue<double>(v)));
    default:
      return v;
  }
}

Back readBack(const std::string& path) {
  Back back;
  const std::string bytes = readFile(path);
  std::string error;
  EXPECT_TRUE(parquet::testing::readFooter(bytes, back.file, error)) << path << ": " << error;
  Row header;
  for (const ReadColumn& column : back.file.columns) header.push_back(column.name);
  back.rows.push_back(header);
  back.rows.resize(1 + static_cast<std::size_t>(std::max<int64_t>(back.file.numRows, 0)));
  for (std::size_t c = 0; c < back.file.columns.size(); ++c) {
    std::vector<std::optional<std::string>> values;
    EXPECT_TRUE(parquet::testing::readColumn(bytes, back.file, c, values, error))
        << path << " column " << c << ": " << error;
    EXPECT_EQ(values.size(), back.rows.size() - 1);
    for (std::size_t r = 0; r < values.size() && r + 1 < back.rows.size(); ++r) {
      back.rows[r + 1].push_back(cellOf(back.file.columns[c], values[r]));
    }
  }
  return back;
}

// A CSV's rows of cells, its lines' CR LF on Windows taken as LF.
std::vector<Row> csvTable(const std::string& path) {
  std::vector<Row> rows = table(path);
  for (Row& row : rows) {
    if (!row.empty() && !row.back().empty() && row.back().back() == '\r') row.back().pop_back();
  }
  return rows;
}

std::string metadata(const ReadFile& file, const std::string& key) {
  for (const auto& [k, v] : file.keyValues) {
    if (k == key) return v;
  }
  return "<none>";
}

// The codecs of this build, as options.
std::vector<std::vector<std::string>> codecs() {
  std::vector<std::vector<std::string>> all = {{}};
  if (parquetCodecAvailable(ParquetCodec::Gzip)) all.push_back({"--compress", "1"});
  if (parquetCodecAvailable(ParquetCodec::Zstd)) all.push_back({"--codec", "zstd"});
  return all;
}

constexpr uint64_t kStart = 1300198029250000ull;               // 2011-03-15 14:07:09.25 UTC
constexpr uint64_t kHighRevolution = (uint64_t{1} << 63) + 5;  // past int64's range

// A recording with the CSV's odd cells: probes "Dup" on channels 0 and 1
// (one name, two probes) and "C" on channel 2; a line without channel 1 (its
// cells empty), a record with fewer blade entries than its stage and one
// with none (those cells empty, and the DNS mean of no entry), NaNs (values,
// printed: the default quiet NaN a recorder writes for no reading, in an
// RMS, a blade TOA and a blade DNS whose line's DNS mean is then the default
// double NaN, and NaNs of other bits) and infinities, a revolution range, a
// time of 0 and revolutions past 2^63.
std::string oddRecording(const std::string& dir) {
  Configuration config;
  cdt::testing::addProbes(config, {{0, "Dup", 3}, {1, "Dup", 2}, {2, "C", 2}});
  const std::string path = dir + "/odd.cdt";
  auto file = createDataFile(config, path.c_str());
  EXPECT_NE(file, nullptr);
  const float negativeNan = std::bit_cast<float>(0xFFC00000u);
  const float payloadNan = std::bit_cast<float>(0x7FC00001u);
  const float quietNan = std::bit_cast<float>(0x7FC00000u);
  const float inf = std::numeric_limits<float>::infinity();
  using Blade = cdt::testing::BladeRecordSpec;
  const auto put = [&](Blade s) {
    EXPECT_TRUE(writeRecord(*file, *cdt::testing::makeBladeRecord(s)));
  };
  const uint64_t t = kStart;
  for (uint64_t line = 0; line < 6; ++line) {
    Blade s;
    s.time = line == 3 ? 0 : t + line * 33333;
    s.startRevolution = line == 4 ? kHighRevolution : 100 + line;
    s.speed = line == 2 ? negativeNan : 3000.5f + static_cast<float>(line);
    s.sync = static_cast<uint32_t>(line % 2);
    s.range = line == 5;
    s.endRevolution = s.startRevolution + 9;
    s.rms = line == 1 ? negativeNan : line == 4 ? quietNan : 0.25f * static_cast<float>(line);
    s.blades = {{1.5f, 0.1f}, {line == 1 ? payloadNan : 2.5f, inf}, {-inf, 0.3f}};
    put(s);  // channel 0
    if (line != 1) {
      s.channel = 1;
      s.blades = {{1.25f, 0.5f}, {2.0f, line == 5 ? quietNan : 0.75f}};
      put(s);
    }
    s.channel = 2;
    s.rms = 0.5f;
    s.blades.assign(line == 2 ? 1 : line == 3 ? 0 : 2, {0.5f, 4.0f});
    if (line == 0) s.blades[1].dns = quietNan;
    put(s);
  }
  EXPECT_TRUE(closeDataFile(*file));
  return path;
}

class ParquetExportTest : public ::testing::Test {
 protected:
  cdt::testing::TempDir dir;
};

// The wide file: the CSV's rows in every codec, Dup's columns named by its
// keys, the columns typed, and the row group's bounds and metadata.
TEST_F(ParquetExportTest, WideFilesHoldTheCsvsCells) {
  const std::string input = oddRecording(dir.path());
  ASSERT_EQ(
      cdt::testing::runProgram(cdt::testing::builtProgram("driver/cdt2csv"), {input}, dir.path())
          .status,
      0);
  std::vector<Row> expected = csvTable(dir.file("odd.csv"));
  ASSERT_EQ(expected.size(), 7u);
  // Columns 5-12 are channel 0's Dup, 13-18 channel 1's.
  for (std::size_t c = 5; c < 19; ++c) {
    expected[0][c].replace(0, 3, c < 13 ? "Dup (channel 0)" : "Dup (channel 1)");
  }
  for (const std::vector<std::string>& codec : codecs()) {
    std::vector<std::string> args = {"export", "-o", "pq", "--format", "parquet", input};
    args.insert(args.end(), codec.begin(), codec.end());
    const RunResult r = runCdt(args, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "cdt export: in=" + input + ", out=pq/odd.parquet\n");
    const Back back = readBack(dir.file("pq/odd.parquet"));
    EXPECT_EQ(back.rows, expected) << (codec.empty() ? "none" : codec[1]);
  }
  const Back back = readBack(dir.file("pq/odd.parquet"));
  const std::vector<ReadColumn>& columns = back.file.columns;
  ASSERT_EQ(columns.size(), 25u);
  EXPECT_TRUE(columns[0].type == kInt64 && columns[0].adjustedToUtc &&
              columns[0].timeUnit == time_unit::kMicros &&
              columns[0].convertedType == kConvertedTimestampMicros &&
              columns[0].repetition == kRequired);
  EXPECT_TRUE(columns[1].type == kFloat && columns[1].repetition == kRequired);
  EXPECT_EQ(columns[2].type, kBoolean);
  for (std::size_t c : {3, 4}) {
    EXPECT_TRUE(columns[c].type == kInt64 && columns[c].logicalType == logical_type::kInteger &&
                !columns[c].isSigned && columns[c].bitWidth == 64 &&
                columns[c].convertedType == kConvertedUint64);
  }
  EXPECT_TRUE(columns[5].type == kFloat && columns[5].repetition == kOptional);   // RMS
  EXPECT_TRUE(columns[6].type == kDouble && columns[6].repetition == kOptional);  // DNS mean
  // One row group, its bounds those of the column in its own order: the
  // time 0 is the least, the revolution past 2^63 the greatest.
  ASSERT_EQ(back.file.rowGroups.size(), 1u);
  const auto bound = [](uint64_t v) { return std::string(reinterpret_cast<const char*>(&v), 8); };
  const auto& group = back.file.rowGroups[0].columns;
  EXPECT_EQ(group[0].statistics->minValue, bound(0));
  EXPECT_EQ(group[0].statistics->maxValue, bound(kStart + 5 * 33333));
  EXPECT_EQ(group[3].statistics->minValue, bound(100));
  EXPECT_EQ(group[3].statistics->maxValue, bound(kHighRevolution));
  EXPECT_EQ(group[4].statistics->maxValue, bound(kHighRevolution));  // one revolution
  EXPECT_EQ(group[3].statistics->nullCount, 0);
  EXPECT_EQ(group[13].statistics->nullCount, 1);  // channel 1's RMS: the line without it
  EXPECT_EQ(metadata(back.file, "cdt.source"), input);
  EXPECT_NE(metadata(back.file, "cdt.configuration").find("Dup"), std::string::npos);
  // Each column's quantity, and each quantity's unit.
  const std::string units = metadata(back.file, "cdt.units");
  for (const char* part :
       {"{\"columns\":{\"Time\":\"time\",\"Speed\":\"speed\",", "\"quantities\":{",
        "\"speed\":{\"unit\":\"rpm\",", "\"blade_toa\":{\"unit\":\"us\","}) {
    EXPECT_NE(units.find(part), std::string::npos) << part << "\n" << units;
  }
  EXPECT_EQ(back.file.createdBy.rfind("cdt export version ", 0), 0u) << back.file.createdBy;
}

// The long file: the long CSV's rows, with a selection.
TEST_F(ParquetExportTest, LongFilesHoldTheLongCsvsCells) {
  const std::string input = oddRecording(dir.path());
  for (const std::vector<std::string>& selection :
       std::vector<std::vector<std::string>>{{}, {"--quantities", "blade-dns", "--probes", "C"}}) {
    std::vector<std::string> args = {"export", "--layout", "long", input};
    args.insert(args.end(), selection.begin(), selection.end());
    std::vector<std::string> csv = args;
    csv.insert(csv.begin() + 1, {"-o", "csv"});
    ASSERT_EQ(runCdt(csv, dir.path()).status, 0);
    args.insert(args.begin() + 1, {"-o", "pq", "--format", "parquet", "--codec", "none"});
    const RunResult r = runCdt(args, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const Back back = readBack(dir.file("pq/odd.parquet"));
    EXPECT_EQ(back.rows, csvTable(dir.file("csv/odd.csv"))) << selection.size();
    EXPECT_EQ(back.file.columns.at(5).logicalType, logical_type::kString);
    EXPECT_TRUE(back.file.columns.at(6).type == kInt32 && back.file.columns.at(6).bitWidth == 16);
  }
}

// Names that collide once channels are added: each probe's columns are
// named by its key, as Python keys it, and need no suffix.
TEST_F(ParquetExportTest, CollidingNamesTakeTheProbesKeys) {
  const std::vector<std::string> files = cdt::testing::synthRecording(
      dir.file("rec"), {"--revolutions", "5", "--probes", "3", "--blades", "1", "--probe-names",
                        "Same,Same (channel 0),Same"});
  ASSERT_EQ(files.size(), 1u);
  for (const char* probes : {"0,1,2", "1"}) {
    const RunResult r = runCdt(
        {"export", "-o", "pq", "--format", "parquet", "--probes", probes, files[0]}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    std::string rms;
    const std::string name = files[0].substr(files[0].rfind('/') + 1);
    for (const ReadColumn& column :
         readBack(dir.file("pq/" + name.substr(0, name.size() - 4) + ".parquet")).file.columns) {
      if (column.name.find(" RMS") != std::string::npos) rms += column.name + ";";
    }
    EXPECT_EQ(rms, probes[1] == ',' ? "Same (channel 0) RMS;Same (channel 0) (channel 1) RMS;"
                                      "Same (channel 2) RMS;"
                                    : "Same (channel 0) (channel 1) RMS;");
  }
}

// A set whose probe name equals another's key in the set: the same keys as
// Python's RecordingSet.probe_keys (python/tests/test_sets.py).
TEST_F(ParquetExportTest, SetKeysThatCollideTakeTheirChannelToo) {
  cdt::testing::synthRecording(
      dir.file("rec"), {"--hosts", "2", "--revolutions", "5", "--probes", "2", "--blades", "1",
                        "--probe-names", "Same,Same (Daq2 channel 0),Same,P"});
  const RunResult r =
      runCdt({"export", "--set", "-o", "pq", "--format", "parquet", "rec"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  std::string rms;
  for (const ReadColumn& column :
       readBack(dir.file("pq/Rig1.0000.2011-05-06.12-30-00.parquet")).file.columns) {
    if (column.name.find(" RMS") != std::string::npos) rms += column.name + ";";
  }
  EXPECT_EQ(rms,
            "Same (Daq1 channel 0) RMS;Same (Daq2 channel 0) (Daq1 channel 1) RMS;"
            "Same (Daq2 channel 0) RMS;P RMS;");
}

// A set whose hosts differ (one drops lines, one starts late, two share a
// probe name, recorded NaNs): wide and long files hold the set CSV's cells
// and statuses.
TEST_F(ParquetExportTest, SetFilesHoldTheSetCsvsCells) {
  const std::vector<std::string> files = cdt::testing::synthRecording(
      dir.file("rec"), {"--hosts", "3", "--revolutions", "40", "--probes", "2", "--blades", "3",
                        "--extras", "0", "--drop", "2:7", "--late", "3:5", "--nan-cells", "3",
                        "--probe-names", "Same,P102,Same,P104,P105,P106"});
  ASSERT_EQ(files.size(), 3u);
  const std::string name = "Rig1.0000.2011-05-06.12-30-00";
  for (const char* layout : {"wide", "long"}) {
    ASSERT_EQ(
        runCdt({"export", "--set", "-o", "csv", "--layout", layout, "rec"}, dir.path()).status, 0);
    const RunResult r =
        runCdt({"export", "--set", "-o", "pq", "--format", "parquet", "--layout", layout, "rec"},
               dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<Row> expected = csvTable(dir.file("csv/" + name + ".csv"));
    if (layout[0] == 'w') {
      // The shared name's columns are named by the probes' keys.
      int seen = 0;
      for (std::string& cell : expected[0]) {
        if (cell.rfind("Same ", 0) == 0) {
          cell.replace(0, 4, seen++ < 8 ? "Same (Daq1 channel 0)" : "Same (Daq2 channel 0)");
        }
      }
    }
    const Back back = readBack(dir.file("pq/" + name + ".parquet"));
    EXPECT_EQ(back.rows, expected) << layout;
    std::string sources;
    for (const std::string& file : files) sources += "rec" + file.substr(file.rfind('/')) + "\n";
    sources.pop_back();
    std::string named = metadata(back.file, "cdt.sources");
    std::replace(named.begin(), named.end(), '\\', '/');  // as Windows joins the names
    EXPECT_EQ(named, sources);
    EXPECT_EQ(back.file.columns.back().bitWidth, 8);  // a status
  }
}

// Options that do not fit: usage errors, nothing written.
TEST_F(ParquetExportTest, CodecOptionsThatDoNotFitAreUsageErrors) {
  const std::string input = oddRecording(dir.path());
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--codec", "gzip"}, "--codec is for --format parquet"},
      {{"--format", "parquet", "--codec", "lz4"}, "unknown codec 'lz4' (none, gzip or zstd)"},
      {{"--format", "parquet", "--codec", "none", "--compress", "3"},
       "--compress needs a codec (gzip, zstd)"},
      {{"--format", "netcdf", "--layout", "long"}, "--layout long is for --format csv and parquet"},
      {{"--row-group", "100"}, "--row-group is for --format parquet"},
      {{"--format", "parquet", "--row-group", "0"}, "--row-group"},
  };
  for (const auto& [options, message] : cases) {
    std::vector<std::string> args = {"export", "-o", "bad", input};
    args.insert(args.end(), options.begin(), options.end());
    const RunResult r = runCdt(args, dir.path());
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
  const RunResult r = runCdt(
      {"export", "-o", "bad", "--format", "parquet", "--codec", "gzip", "--compress", "10", input},
      dir.path());
  EXPECT_EQ(r.status, 2) << r.err;
}

}  // namespace
}  // namespace cdt
