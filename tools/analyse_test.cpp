// cdt analyse and the analysis behind it, against the truth of cdt synth's
// vibrating blades.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>

#include "analysis/analysis.h"
#include "analysis/sources.h"
#include "datafile/data_file.h"
#include "export/parquet_test_support.h"
#include "tools/synth/synth_options.h"
#include "tools/tool_test_support.h"

namespace cdt {
namespace {

using testing::TempDir;

TEST(Deflection, SignAndWrapByHand) {
  // 3000 rpm: Ω = 100π rad/s. Expected at 0.3 rad, seen 900 µs after the
  // mark (0.2827 rad): 0.0173 rad early, 8.63 mm on a radius of 500.
  EXPECT_NEAR(tipDeflection(500, 0.3, 3000, 900), 500 * (0.3 - 0.09 * std::numbers::pi), 1e-9);
  EXPECT_GT(tipDeflection(500, 0.3, 3000, 900), 0);
  // Expected just before the next mark, timed just after this one: the
  // arrival belongs to the revolution's end and is 0.01314 rad late.
  const double alpha = 2 * std::numbers::pi - 0.01;
  EXPECT_NEAR(tipDeflection(500, alpha, 3000, 10), -500 * (0.01 + 0.001 * std::numbers::pi), 1e-9);
  EXPECT_NEAR(wrapAngle(std::numbers::pi), -std::numbers::pi, 1e-15);
  EXPECT_NEAR(wrapAngle(-7.0), -7.0 + 2 * std::numbers::pi, 1e-12);
  EXPECT_TRUE(std::isnan(tipDeflection(500, 0.3, 0, 900)));
  EXPECT_TRUE(std::isnan(tipDeflection(500, 0.3, -5, 900)));
  EXPECT_TRUE(std::isnan(tipDeflection(500, 0.3, 3000, NAN)));
}

TEST(Deflection, AliasesOfEquallySpacedProbes) {
  // Probes 30° apart: k' = ±k + 12m are indistinguishable.
  std::vector<double> angles;
  for (int p = 0; p < 4; ++p) angles.push_back(p * std::numbers::pi / 6);
  std::vector<uint32_t> orders;
  for (uint32_t k = 1; k <= 32; ++k) orders.push_back(k);
  EXPECT_EQ(aliasOrders(angles, 5, orders), (std::vector<uint32_t>{7, 17, 19, 29, 31}));
  const std::vector<double> uneven{0, 0.651, 1.721, 2.826};
  EXPECT_TRUE(aliasOrders(uneven, 5, orders).empty());
}

struct Analysed {
  Geometry geometry;
  DeflectionCounts counts;
  std::vector<Resonance> accepted;
};

Analysed analyse(const std::string& path) {
  Analysed a;
  DataFileReport report;
  std::unique_ptr<DataFile> file = openDataFile(path.c_str(), report);
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return a;
  a.geometry = geometryOf(file->configuration());
  for (const StageDeflections& d : readDeflections(*file, a.geometry, a.counts)) {
    for (const Resonance& r : findResonances(d, {})) {
      if (r.accepted) a.accepted.push_back(r);
    }
  }
  return a;
}

// Every blade's crossing of every order found, and nothing else.
void expectTruth(const Analysed& a, const SynthOptions& o, uint32_t blades) {
  EXPECT_EQ(a.accepted.size(), blades * o.resonances.size());
  for (uint32_t j = 0; j < o.resonances.size(); ++j) {
    const SynthResonance& truth = o.resonances[j];
    for (uint32_t b = 0; b < blades; ++b) {
      const double frequency = synthNaturalFrequency(o, 0, j, b);
      SCOPED_TRACE("order " + std::to_string(truth.engineOrder) + " blade " + std::to_string(b));
      const Resonance* found = nullptr;
      for (const Resonance& r : a.accepted) {
        if (r.blade == b && r.engineOrder == truth.engineOrder) found = &r;
      }
      ASSERT_NE(found, nullptr);
      EXPECT_NEAR(found->frequencyHz, frequency, 0.005 * frequency);
      EXPECT_NEAR(found->amplitude, truth.amplitude, 0.1 * truth.amplitude);
      EXPECT_NEAR(found->dampingRatio, truth.damping, 0.3 * truth.damping);
      EXPECT_NEAR(found->speedRpm, 60 * frequency / truth.engineOrder,
                  0.005 * 60 * frequency / truth.engineOrder);
      EXPECT_TRUE(found->aliases.empty());
    }
  }
}

TEST(Analyse, RunUpAndRunDownWithTwoOrders) {
  TempDir dir;
  SynthOptions o;
  o.resonances = {{8, 360, 0.005, 0.5}, {5, 200, 0.008, 0.3}};
  // Up, down, and down-up-down: the three crossings of each resonance are
  // one resonance, their revolutions fitted together.
  for (const char* run : {"up", "down", "swept"}) {
    SCOPED_TRACE(run);
    const bool down = run[0] != 'u';
    const std::string sub = dir.path() + "/" + run;
    std::vector<std::string> options{
        "--revolutions",   "20000",       "--blades",       "3", "--extras", "0", "--resonance",
        "8:360:0.005:0.5", "--resonance", "5:200:0.008:0.3"};
    if (down) options.push_back("--run-down");
    if (run[0] == 's') options.insert(options.end(), {"--sweeps", "3"});
    const std::vector<std::string> paths = testing::synthRecording(sub, options);
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_TRUE(testing::fileExists(sub + "/Rig1.truth.json"));
    const Analysed a = analyse(paths[0]);
    EXPECT_EQ(a.counts.lines, 20000u);
    EXPECT_EQ(a.counts.unsynchronised, 3u);
    expectTruth(a, o, 3);
    if (down) continue;
    // The command: the same table as JSON, exit status 0.
    const testing::RunResult r = testing::runCdt({"analyse", "--json", paths[0]});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"stage\":\"Stage1\",\"stage_number\":1,\"blade\":1,\"engine_order\":8"),
              std::string::npos)
        << r.out;
    for (const char* key : {"speed_rpm", "frequency_hz", "amplitude", "damping_ratio", "phase",
                            "alias_candidates", "revolutions"}) {
      EXPECT_NE(r.out.find(std::string("\"") + key + "\":"), std::string::npos) << key;
    }
  }
}

TEST(Analyse, QuietRunHasNoResonance) {
  TempDir dir;
  // A resonance far above the ramp: the blades never cross it.
  const std::vector<std::string> paths =
      testing::synthRecording(dir.path(), {"--revolutions", "8000", "--blades", "4", "--extras",
                                           "0", "--resonance", "8:2000:0.005:0.5"});
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_TRUE(analyse(paths[0]).accepted.empty());
  const testing::RunResult r = testing::runCdt({"analyse", paths[0]});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("no resonances"), std::string::npos) << r.out;
}

TEST(Analyse, AliasedProbeAnglesReportTheAmbiguity) {
  TempDir dir;
  const std::vector<std::string> paths = testing::synthRecording(
      dir.path(), {"--revolutions", "8000", "--blades", "2", "--extras", "0", "--probe-angles",
                   "0,30,60,90", "--resonance", "5:200:0.008:0.3"});
  ASSERT_EQ(paths.size(), 1u);
  // cdt info shows the geometry the analysis takes: the probe at 30° in
  // radians, the stage's diameter and blade 0's angle, the rotation.
  const testing::RunResult info = testing::runCdt({"info", "--json", paths[0]});
  for (const char* shown : {"\"counterClockwise\":false",
                            "\"diameter\":", "\"oprToBlade0\":", "\"radialPosition\":0.523598776",
                            "\"axialPosition\":", "\"setBack\":"}) {
    EXPECT_NE(info.out.find(shown), std::string::npos) << shown << "\n" << info.out;
  }
  const Analysed a = analyse(paths[0]);
  ASSERT_EQ(a.accepted.size(), 2u);
  for (const Resonance& r : a.accepted) {
    // The probes cannot tell 5 from 7 (nor 17, 19, ...): whichever is
    // chosen, the other is named.
    std::vector<uint32_t> orders = r.aliases;
    orders.push_back(r.engineOrder);
    EXPECT_NE(std::find(orders.begin(), orders.end(), 5u), orders.end());
    EXPECT_NE(std::find(orders.begin(), orders.end(), 7u), orders.end());
  }
}

// The "resonances" list of `cdt analyse --json` without the fit's timing,
// which differs from run to run.
std::string resonancesWithoutTiming(const std::string& json) {
  std::string list = json.substr(json.find("\"resonances\":"));
  list = list.substr(0, list.find("\"rejected_windows\""));
  std::string out;
  for (std::size_t at = 0; at < list.size();) {
    const std::size_t timing = list.find("\"fit_ms\":", at);
    if (timing == std::string::npos) {
      out += list.substr(at);
      break;
    }
    out += list.substr(at, timing - at);
    at = list.find('}', timing);
  }
  return out;
}

// The same four probes at the same uneven angles, vibrating at EO 8: in one
// file, and two on each of two hosts.
struct OneAndSplit {
  std::vector<std::string> file, set;
};
OneAndSplit synthOneAndSplit(const std::string& dir, const char* revolutions) {
  const std::vector<std::string> common{
      "--revolutions",   revolutions,      "--blades",         "3", "--extras", "0", "--resonance",
      "8:360:0.005:0.5", "--probe-angles", "0,37.3,98.6,161.9"};
  std::vector<std::string> one = common, two = common;
  one.insert(one.end(), {"--hosts", "1", "--probes", "4"});
  two.insert(two.end(), {"--hosts", "2", "--probes", "2"});
  return {testing::synthRecording(dir + "/one", one), testing::synthRecording(dir + "/two", two)};
}

TEST(Analyse, SetOfTwoHostsFindsTheTruthOfOneFile) {
  TempDir dir;
  SynthOptions o;
  o.resonances = {{8, 360, 0.005, 0.5}};
  const auto [file, set] = synthOneAndSplit(dir.path(), "12000");
  ASSERT_EQ(file.size(), 1u);
  ASSERT_EQ(set.size(), 2u);
  expectTruth(analyse(file[0]), o, 3);

  // The set: every probe on the same revolution, the truth found as in one file.
  DataFileReport report;
  std::unique_ptr<DataFile> a = openDataFile(set[0].c_str(), report);
  std::unique_ptr<DataFile> b = openDataFile(set[1].c_str(), report);
  ASSERT_TRUE(a && b);
  Analysed joined;
  joined.geometry = geometryOf(a->configuration());
  SetDeflectionReport setReport;
  const std::vector<StageDeflections> stages = readSetDeflections(
      {a.get(), b.get()}, 0, joined.geometry, LineWindow{}, joined.counts, setReport);
  ASSERT_EQ(stages.size(), 1u);
  EXPECT_EQ(stages[0].probeNumbers.size(), 4u);
  EXPECT_EQ(setReport.setLines, 12000u);
  EXPECT_EQ(setReport.hostLinesOff + setReport.hostLinesMissing[0] + setReport.hostLinesMissing[1],
            0u);
  for (const Resonance& r : findResonances(stages[0], {})) {
    if (r.accepted) joined.accepted.push_back(r);
  }
  expectTruth(joined, o, 3);

  // The command: a one-host set gives exactly the file's table.
  const testing::RunResult whole = testing::runCdt({"analyse", "--json", file[0]});
  const testing::RunResult asSet = testing::runCdt({"analyse", "--set", "--json", file[0]});
  EXPECT_EQ(asSet.status, 0) << asSet.err;
  EXPECT_EQ(resonancesWithoutTiming(asSet.out), resonancesWithoutTiming(whole.out));
  const testing::RunResult both = testing::runCdt({"analyse", "--set", "--json", set[1]});
  EXPECT_EQ(both.status, 0) << both.err;
  EXPECT_EQ(testing::jsonNumber(both.out, "set_lines"), 12000);
  EXPECT_NE(both.out.find("\"engine_order\":8"), std::string::npos) << both.out;
  // The table as files: CSV and Parquet, named after the set, nothing staged
  // left; the Parquet file holds the CSV's numbers.
  const std::string out = dir.path() + "/tables";
  std::vector<double> csvFrequencies;
  for (const char* format : {"csv", "parquet"}) {
    const testing::RunResult r =
        testing::runCdt({"analyse", "--set", "-o", out, "--format", format, set[0]});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string table =
        testing::readFile(out + "/Rig1.0000.2011-05-06.12-30-00.resonances." + format);
    if (std::string(format) == "csv") {
      EXPECT_EQ(
          table.rfind("path,stage,stage_number,blade,engine_order,speed_rpm,frequency_hz,", 0), 0u);
      for (const std::string& line : testing::splitLines(table)) {
        // The seventh field of each resonance's line.
        std::size_t at = 0;
        for (int field = 0; field < 6 && at != std::string::npos; ++field) {
          at = line.find(',', at) + 1;
        }
        if (line.rfind("path,", 0) != 0) csvFrequencies.push_back(std::stod(line.substr(at)));
      }
      EXPECT_EQ(csvFrequencies.size(), 3u) << table;
    } else {
      parquet::testing::ReadFile file;
      std::string error;
      ASSERT_TRUE(parquet::testing::readFooter(table, file, error)) << error;
      EXPECT_EQ(file.numRows, 3);
      ASSERT_EQ(file.columns.size(), 16u);
      EXPECT_EQ(file.columns[6].name, "frequency_hz");
      // Each column's quantity and unit, as the export's files say them.
      std::string units;
      for (const auto& [key, value] : file.keyValues) {
        if (key == "cdt.units") units = value;
      }
      for (const char* part :
           {"{\"columns\":{\"path\":\"path\",", "\"speed_rpm\":\"speed\",",
            "\"residual_rms\":\"residual_rms\"}", "\"frequency\":{\"unit\":\"Hz\",",
            "\"amplitude\":{\"unit\":\"mm\",\"description\":\"clearance unit, mm on real",
            "\"damping\":{\"unit\":\"1\","}) {
        EXPECT_NE(units.find(part), std::string::npos) << part << "\n" << units;
      }
      std::vector<std::optional<std::string>> values;
      ASSERT_TRUE(parquet::testing::readColumn(table, file, 6, values, error)) << error;
      ASSERT_EQ(values.size(), csvFrequencies.size());
      for (std::size_t i = 0; i < values.size(); ++i) {
        ASSERT_TRUE(values[i].has_value());
        EXPECT_NEAR(parquet::testing::plainValue<double>(*values[i]), csvFrequencies[i], 1e-6);
      }
    }
  }
  std::size_t tables = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path() + "/tables")) {
    (void)entry;
    ++tables;
  }
  EXPECT_EQ(tables, 2u);

  // One host's file alone has two probes of the stage: its windows come
  // without an engine order, saying why.
  const Analysed alone = analyse(set[0]);
  EXPECT_TRUE(alone.accepted.empty());
  const testing::RunResult half = testing::runCdt({"analyse", "--json", set[0]});
  EXPECT_EQ(half.status, 0) << half.err;
  EXPECT_NE(half.out.find("fewer than 3 probes on the stage: no engine order"), std::string::npos)
      << half.out;

  // A host missing from the set: named, its probes left out, no invented
  // order. The first host's file is copied alone into a folder of its own
  // (the files above are still open here, and Windows keeps an open file's
  // name until it is closed).
  const std::string lone = dir.path() + "/lone";
  std::filesystem::create_directories(testing::fileSystemPath(lone));
  const std::string first = lone + set[0].substr(set[0].find_last_of('/'));
  std::filesystem::copy_file(testing::fileSystemPath(set[0]), testing::fileSystemPath(first));
  const testing::RunResult missing = testing::runCdt({"analyse", "--set", "--json", first});
  EXPECT_EQ(missing.status, 0) << missing.err;
  EXPECT_NE(missing.err.find("no file of host 'Daq2'"), std::string::npos) << missing.err;
  EXPECT_NE(missing.out.find("\"missing_hosts\":[\"Daq2\"]"), std::string::npos) << missing.out;
  EXPECT_EQ(missing.out.find("\"engine_order\""), std::string::npos) << missing.out;
}

// The non-empty cells of column `field` of a CSV's rows after its header.
std::vector<std::string> filledCells(const std::string& csv, std::size_t field) {
  std::vector<std::string> cells;
  const std::vector<std::string> lines = testing::splitLines(csv);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::size_t at = 0;
    for (std::size_t f = 0; f < field && at != std::string::npos; ++f) {
      at = lines[i].find(',', at);
      if (at != std::string::npos) ++at;
    }
    if (at == std::string::npos) continue;
    std::string cell = lines[i].substr(at, lines[i].find(',', at) - at);
    if (!cell.empty()) cells.push_back(std::move(cell));
  }
  return cells;
}

// The analysis's deflections as the CSV prints them, row by row, probe
// after probe, blade after blade: the order of the long layout's rows.
std::vector<std::string> printedDeflections(const StageDeflections& d) {
  std::vector<std::string> cells;
  for (std::size_t r = 0; r < d.rows(); ++r) {
    for (std::size_t p = 0; p < d.probeNumbers.size(); ++p) {
      for (uint32_t b = 0; b < d.blades; ++b) {
        const double x = d.at(r, b, p);
        if (std::isnan(x)) continue;
        char text[64];
        std::snprintf(text, sizeof text, "%.8g", x);
        cells.emplace_back(text);
      }
    }
  }
  return cells;
}

TEST(Analyse, DeflectionExportShowsTheAnalysisNumbers) {
  TempDir dir;
  const auto [file, set] = synthOneAndSplit(dir.path(), "1500");
  ASSERT_EQ(file.size(), 1u);
  ASSERT_EQ(set.size(), 2u);
  DataFileReport report;
  std::unique_ptr<DataFile> f = openDataFile(file[0].c_str(), report);
  std::unique_ptr<DataFile> a = openDataFile(set[0].c_str(), report);
  std::unique_ptr<DataFile> b = openDataFile(set[1].c_str(), report);
  ASSERT_TRUE(f && a && b);
  DeflectionCounts counts;
  const Geometry geometry = geometryOf(f->configuration());
  const std::vector<StageDeflections> alone = readDeflections(*f, geometry, counts);
  SetDeflectionReport setReport;
  const std::vector<StageDeflections> joined =
      readSetDeflections({a.get(), b.get()}, 0, geometry, LineWindow{}, counts, setReport);
  ASSERT_EQ(alone.size(), 1u);
  ASSERT_EQ(joined.size(), 1u);
  const std::vector<std::string> expected = printedDeflections(alone[0]);
  EXPECT_EQ(expected.size(), (1500u - 3) * 4 * 3);  // the first 3 lines are not synchronised

  // Time,Speed,Sync,Start Rev,End Rev,Probe,Blade,TOA,Deflection[,Status]
  const std::string out = dir.path() + "/out";
  const std::vector<std::string> options{
      "export", "-o", out, "--layout", "long", "--quantities", "blade-toa,deflection"};
  std::vector<std::string> args = options;
  args.push_back(file[0]);
  testing::RunResult r = testing::runCdt(args);
  ASSERT_EQ(r.status, 0) << r.err;
  // The outputs are named after the file's stem.
  const std::string stem = out + file[0].substr(file[0].find_last_of('/'),
                                                file[0].size() - file[0].find_last_of('/') - 3);
  const std::string csv = testing::readFile(stem + "csv");
  ASSERT_FALSE(csv.empty());
  EXPECT_EQ(testing::splitLines(csv)[0],
            "Time,Speed,Sync,Start Rev,End Rev,Probe,Blade,TOA,Deflection");
  EXPECT_EQ(filledCells(csv, 8), expected);

  args = options;
  args.insert(args.end(), {"--set", set[0]});
  r = testing::runCdt(args);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string setCsv = testing::readFile(out + "/Rig1.0000.2011-05-06.12-30-00.csv");
  EXPECT_EQ(filledCells(setCsv, 8), printedDeflections(joined[0]));

  // Parquet holds the doubles that print as the CSV's cells.
  args = options;
  args.insert(args.end(), {"--format", "parquet", file[0]});
  r = testing::runCdt(args);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string parquet = testing::readFile(stem + "parquet");
  parquet::testing::ReadFile footer;
  std::string error;
  ASSERT_TRUE(parquet::testing::readFooter(parquet, footer, error)) << error;
  ASSERT_EQ(footer.columns.size(), 9u);
  EXPECT_EQ(footer.columns[8].name, "Deflection");
  std::vector<std::optional<std::string>> values;
  ASSERT_TRUE(parquet::testing::readColumn(parquet, footer, 8, values, error)) << error;
  std::vector<std::string> printed;
  for (const std::optional<std::string>& v : values) {
    if (!v) continue;
    char text[64];
    std::snprintf(text, sizeof text, "%.8g", parquet::testing::plainValue<double>(*v));
    printed.emplace_back(text);
  }
  EXPECT_EQ(printed, expected);

  // A deflection is a cell of the long layout only.
  r = testing::runCdt({"export", "--quantities", "deflection", file[0]});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("the deflection quantity is for --layout long"), std::string::npos) << r.err;
}

TEST(Analyse, BadArgumentsAndFiles) {
  TempDir dir;
  EXPECT_EQ(testing::runCdt({"analyse", "--orders", "0-3", "x.cdt"}).status, 2);
  const testing::RunResult r = testing::runCdt({"analyse", dir.path() + "/missing.cdt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing.cdt"), std::string::npos);
}

}  // namespace
}  // namespace cdt
