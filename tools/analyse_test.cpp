// cdt analyse and the analysis behind it, against the truth of cdt synth's
// vibrating blades.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "analysis/analysis.h"
#include "datafile/data_file.h"
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
  for (const bool down : {false, true}) {
    SCOPED_TRACE(down ? "run-down" : "run-up");
    const std::string sub = dir.path() + (down ? "/down" : "/up");
    std::vector<std::string> options{
        "--revolutions",   "20000",       "--blades",       "3", "--extras", "0", "--resonance",
        "8:360:0.005:0.5", "--resonance", "5:200:0.008:0.3"};
    if (down) options.push_back("--run-down");
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

TEST(Analyse, BadArgumentsAndFiles) {
  TempDir dir;
  EXPECT_EQ(testing::runCdt({"analyse", "--orders", "0-3", "x.cdt"}).status, 2);
  const testing::RunResult r = testing::runCdt({"analyse", dir.path() + "/missing.cdt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing.cdt"), std::string::npos);
}

}  // namespace
}  // namespace cdt
