// Property and damage tests of the configuration text: random configurations
// survive writing and reading, and damaged texts never crash the reader.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_text.h"
#include "config/field_tables.h"
#include "config/model.h"

namespace cdt {
namespace {

bool parseText(Configuration& configuration, std::string_view text) {
  Tokenizer tokenizer(text.data(), static_cast<uint32_t>(text.size()));
  return parseConfigText(configuration, tokenizer);
}

std::string written(const Configuration& configuration) {
  return configToText(configuration, 0).str();
}

class Generator {
 public:
  explicit Generator(uint64_t seed) : random_(seed) {}

  uint64_t bits() { return random_(); }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(random_() % n); }

  double real() {
    static const double special[] = {0.0,
                                     -0.0,
                                     std::numeric_limits<double>::denorm_min(),
                                     -std::numeric_limits<double>::denorm_min() * 3,
                                     std::numeric_limits<double>::min(),
                                     std::numeric_limits<double>::max(),
                                     -std::numeric_limits<double>::max(),
                                     std::numeric_limits<double>::infinity(),
                                     -std::numeric_limits<double>::infinity(),
                                     1e-300,
                                     0.1 + 0.2,
                                     1.0 / 3.0,
                                     std::nextafter(1.0, 2.0),
                                     5368709120.0};
    if (below(3) == 0) return special[below(sizeof special / sizeof special[0])];
    double v;
    do {
      const uint64_t b = bits();
      std::memcpy(&v, &b, sizeof v);
    } while (std::isnan(v));
    return v;
  }

  int32_t integer() {
    static const int32_t special[] = {0, -1, 1, INT32_MIN, INT32_MAX};
    return below(2) == 0 ? special[below(5)] : static_cast<int32_t>(bits());
  }

  // Names of the table mostly; now and then a value without a name.
  int32_t enumValue(const EnumName* table, bool& unnamed) {
    uint32_t rows = 0;
    while (table[rows].name[0] != '\0') ++rows;
    if (below(10) != 0) return table[below(rows)].value;
    static const int32_t others[] = {5, 24, -7, 1000, INT32_MIN};
    const int32_t v = others[below(5)];
    if (enumNameOf(table, v)[0] == '\0') unnamed = true;
    return v;
  }

  CountedString text() {
    static const char pool[] = "aZ09 \t\n\r\"\\=[]{},*\x01\x7f\x80\xff";
    std::string s;
    for (uint32_t n = below(12); n > 0; --n) {
      s += below(8) == 0 ? '\0' : pool[below(sizeof pool - 1)];
    }
    return CountedString(std::string_view(s));
  }

 private:
  std::mt19937_64 random_;
};

// Gives every stored field of the record a random value of its type.
void randomise(Generator& g, const FieldDescriptor* table, void* record, bool& unnamed) {
  for (const FieldDescriptor* row = table; row->key != nullptr; ++row) {
    void* field = fieldAddress(*row, record);
    switch (row->type) {
      case kFieldString:
        *static_cast<CountedString*>(field) = g.text();
        break;
      case kFieldReal:
        *static_cast<double*>(field) = g.real();
        break;
      case kFieldBoolean:
        *static_cast<bool*>(field) = g.below(2) == 1;
        break;
      case kFieldInteger:
        *static_cast<int32_t*>(field) = g.integer();
        break;
      case kFieldUnsigned:
        *static_cast<uint64_t*>(field) = g.below(4) == 0 ? ~0ull : g.bits();
        break;
      case kFieldEnum:
        *static_cast<int32_t*>(field) = g.enumValue(row->enumTable, unnamed);
        break;
      default:
        FAIL() << row->key;
    }
  }
}

Configuration randomConfiguration(Generator& g, bool& unnamed) {
  Configuration c;
  c.stages.setLength(1 + g.below(4));
  c.hosts.setLength(g.below(4));
  c.racks.setLength(g.below(3));
  for (uint32_t r = 0; r < c.racks.size(); ++r) c.initialiseNewRack(r);
  randomise(g, kConfigurationFields, &c, unnamed);
  for (Stage& stage : c.stages) randomise(g, kStageFields, &stage, unnamed);
  for (Host& host : c.hosts) {
    randomise(g, kHostFields, &host, unnamed);
    for (Channel& channel : host.channels) randomise(g, kChannelFields, &channel, unnamed);
  }
  for (uint32_t p = 0; p < c.probeCount(); ++p) {
    Probe& probe = c.probeAt(p);
    randomise(g, kProbeFields, &probe, unnamed);
    // Mostly wired to a channel that exists, and mostly on an existing stage.
    if (g.below(4) != 0) probe.channelIndex = static_cast<int32_t>(g.below(c.channelCount() + 1));
    if (g.below(4) != 0) probe.stageIndex = static_cast<int32_t>(g.below(c.stages.size()));
    probe.calData.clear();
    for (uint32_t n = g.below(4); n > 0; --n) probe.calData.append({g.real(), g.real(), g.real()});
    Relay& relay = c.relayAt(p);
    randomise(g, kRelayFields, &relay, unnamed);
    if (isStageRelayUsage(relay.usage)) relay.sourceIndex = g.integer() % 5;
    if (isProbeRelayUsage(relay.usage)) relay.sourceIndex = g.integer() % 30;
  }
  for (Rack& rack : c.racks) randomise(g, kRackFields, &rack, unnamed);
  // What a reader would leave: normalised cross-references.
  c.relink();
  return c;
}

// A calibration value as its six-decimal text reads back.
double sixDecimals(double v) {
  char text[400];
  std::snprintf(text, sizeof text, "%.6f", v);
  return std::strtod(text, nullptr);
}

bool sameBits(double a, double b) {
  return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

void expectSameFields(const FieldDescriptor* table, const void* expected, const void* actual) {
  for (const FieldDescriptor* row = table; row->key != nullptr; ++row) {
    SCOPED_TRACE(row->key);
    const void* e = fieldAddress(*row, expected);
    const void* a = fieldAddress(*row, actual);
    switch (row->type) {
      case kFieldString:
        EXPECT_EQ(*static_cast<const CountedString*>(a), *static_cast<const CountedString*>(e));
        break;
      case kFieldReal:
        EXPECT_TRUE(sameBits(*static_cast<const double*>(a), *static_cast<const double*>(e)))
            << *static_cast<const double*>(a) << " vs " << *static_cast<const double*>(e);
        break;
      case kFieldEnum: {
        // A value without a name comes back as the table's default.
        const int32_t v = *static_cast<const int32_t*>(e);
        EXPECT_EQ(*static_cast<const int32_t*>(a),
                  enumValueOf(row->enumTable,
                              TextBuffer(std::string_view(enumNameOf(row->enumTable, v)))));
        break;
      }
      default:
        EXPECT_EQ(std::memcmp(a, e, static_cast<size_t>(row->size)), 0);
        break;
    }
  }
}

void expectSameConfiguration(const Configuration& e, const Configuration& a) {
  expectSameFields(kConfigurationFields, &e, &a);
  ASSERT_EQ(a.stages.size(), e.stages.size());
  ASSERT_EQ(a.hosts.size(), e.hosts.size());
  ASSERT_EQ(a.racks.size(), e.racks.size());
  for (uint32_t i = 0; i < e.stages.size(); ++i) {
    expectSameFields(kStageFields, &e.stages[i], &a.stages[i]);
  }
  for (uint32_t i = 0; i < e.hosts.size(); ++i) {
    expectSameFields(kHostFields, &e.hosts[i], &a.hosts[i]);
  }
  for (uint32_t i = 0; i < e.racks.size(); ++i) {
    expectSameFields(kRackFields, &e.racks[i], &a.racks[i]);
  }
  for (uint32_t c = 0; c < e.channelCount(); ++c) {
    expectSameFields(kChannelFields, &e.channelAt(c), &a.channelAt(c));
  }
  for (uint32_t p = 0; p < e.probeCount(); ++p) {
    SCOPED_TRACE(p);
    expectSameFields(kRelayFields, &e.relayAt(p), &a.relayAt(p));
    const Probe& ep = e.probeAt(p);
    const Probe& ap = a.probeAt(p);
    expectSameFields(kProbeFields, &ep, &ap);
    ASSERT_EQ(ap.calData.size(), ep.calData.size());
    for (uint32_t j = 0; j < ep.calData.size(); ++j) {
      EXPECT_TRUE(sameBits(ap.calData[j].x, sixDecimals(ep.calData[j].x)));
      EXPECT_TRUE(sameBits(ap.calData[j].y, sixDecimals(ep.calData[j].y)));
      EXPECT_TRUE(sameBits(ap.calData[j].z, sixDecimals(ep.calData[j].z)));
    }
  }
}

TEST(ConfigTextRoundTrip, RandomConfigurationsReadBackEqual) {
  Generator g(20111315);
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE(round);
    bool unnamed = false;
    const Configuration original = randomConfiguration(g, unnamed);
    const std::string text = written(original);
    Configuration parsed;
    ASSERT_TRUE(parseText(parsed, text));
    expectSameConfiguration(original, parsed);

    // Written again, the text is the same (after one round when a value
    // without a name was read back as its table's default).
    const std::string again = written(parsed);
    if (!unnamed) {
      EXPECT_EQ(again, text);
    }
    Configuration reparsed;
    ASSERT_TRUE(parseText(reparsed, again));
    EXPECT_EQ(written(reparsed), again);
    if (HasFailure()) {
      ADD_FAILURE() << text;
      return;
    }
  }
}

// Copying, assigning (over entities that already exist, so that element
// assignment runs as well as element copying) and swapping racks there and
// back keep every stored field. Probe copies validate the demodulator, so the
// originals hold valid settings.
TEST(ConfigTextRoundTrip, CopiesAssignmentsAndRackSwapsKeepEveryField) {
  Generator g(7031);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    bool unnamed = false;
    Configuration original = randomConfiguration(g, unnamed);
    for (uint32_t p = 0; p < original.probeCount(); ++p) {
      Demodulator& d = original.probeAt(p).demodulator;
      d = validatedCapacitanceDemodulator(d);
    }
    original.modified = g.below(2) == 1;
    const std::string text = written(original);

    const Configuration copy(original);
    EXPECT_EQ(written(copy), text);
    EXPECT_EQ(copy.modified, original.modified);

    Configuration assigned;
    assigned.insertRack(0, "x");
    assigned.insertRack(0, "y");
    assigned.insertHost(0, "z");
    assigned.insertStage(0);
    assigned = original;
    EXPECT_EQ(written(assigned), text);
    EXPECT_EQ(assigned.modified, original.modified);

    if (original.racks.size() >= 2) {
      original.swapRacks(0, 1);
      original.swapRacks(1, 0);
      EXPECT_EQ(written(original), text);
    }
  }
}

// A small configuration with every block kind and calibration points.
std::string sampleText() {
  Configuration c;
  c.hosts.setLength(1);
  c.racks.setLength(1);
  c.initialiseNewRack(0);
  c.racks.at(0).probes[0].calData.clear();
  c.racks.at(0).probes[0].calData.append({1, 2, 3});
  c.racks.at(0).probes[0].calData.append({4, 5, 6});
  c.relink();
  return written(c);
}

// Cut anywhere before the end of its "End Configuration" line, a text reads
// as cut; cut after it, as whole.
TEST(ConfigTextDamage, TruncationAtEveryLineAndByte) {
  const std::string text = sampleText();
  const size_t whole = text.rfind("End Configuration") + 17;
  std::vector<size_t> cuts{0, text.size() - 1};
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
    cuts.push_back(at + 1);
  }
  for (size_t n : cuts) {
    Configuration c;
    EXPECT_EQ(parseText(c, std::string_view(text).substr(0, n)), n == 0 || n >= whole) << n;
  }
  const std::string small = text.substr(0, text.find("  Begin Stage"));
  for (size_t n = 0; n <= small.size(); ++n) {
    Configuration c;
    EXPECT_EQ(parseText(c, std::string_view(small).substr(0, n)), n == 0) << n;
  }
}

// Damaged texts found by hand and by fuzzing; each must read without a
// fault, with the result that the reading rules give.
TEST(ConfigTextDamage, CorpusOfDamagedTexts) {
  using namespace std::literals;
  struct Case {
    std::string_view text;
    bool result;
  };
  const Case cases[] = {
      {"\"\n\\\n\"\"\"\nname = \"\nfullName = \\\nEnd Configuration", true},
      {"name = \"\\0\\00\\000\\0000\\\nEnd Configuration", true},
      {"name = \"unterminated \\\" quote\nrevision = 3\nEnd Configuration", true},
      {"numRacks = 1\nBegin Probe 0\ncalData[99] = { 1, 2, 3 }\nEnd Configuration", false},
      {"numRacks = 1\nBegin Probe 0\nnumCalData = 1\ncalData[0] = { \"1\", 2, 3 }\n", false},
      {"numRacks = 1\nBegin Probe 0\nnumCalData = 1\ncalData[0 = { 1, 2, 3 } }\n", false},
      {"numRacks = 1\nBegin Probe 0\nnumCalData = 1\ncalData[[[[[[[[[\nEnd Configuration", false},
      {"numStages = 99999999999999999999999\nEnd Configuration", false},
      {"numStages = -1\nEnd Configuration", false},
      {"numStages = 3\nBegin Stage 2\nblades = 99999999999\nEnd Configuration", true},
      {"numHosts = 1\nBegin Host 0\nnumHosts = 0\nhostName = \"x\"\nEnd Configuration", true},
      {"numHosts = 1\nBegin Channel 3\nnumHosts = 0\nrange = \"RANGE_AUTO\"\nEnd Configuration",
       true},
      {"numRacks = 2\nBegin Relay 23\nnumRacks = 1\nusage = \"RELAY_UNUSED\"\nEnd Configuration",
       true},
      {"numRacks = 2\nBegin Probe 23\nnumRacks = 1\nnumCalData = 1\nEnd Configuration", false},
      {"Begin Stage 4294967295\nEnd Configuration", false},
      {"Begin Channel -4294967295\nEnd Configuration", false},
      {"End Stage\nEnd Probe\nEnd Configuration\nnumStages = 0", true},
      {"sampleRate = 1e999999\nrevision = -99999999999999999999\nEnd Configuration", true},
      {"creationTime = -1\nmodificationTime = 184467440737095516150\nEnd Configuration", true},
      {"Begin Configuration\r\nnumStages = 2\r\nEnd Configuration\r\n", true},
      {"numStages = 2\n\0\nEnd Configuration"sv, true},
  };
  for (const Case& test : cases) {
    Configuration c;
    EXPECT_EQ(parseText(c, test.text), test.result) << test.text;
    Configuration again;  // whatever was read writes a text that reads back
    EXPECT_TRUE(parseText(again, written(c))) << test.text;
  }

  Configuration c;
  ASSERT_TRUE(parseText(c, cases[9].text));
  EXPECT_EQ(c.stages[2].blades, 1215752191);  // truncated to 32 bits
  ASSERT_TRUE(parseText(c, cases[17].text));
  EXPECT_TRUE(std::isinf(c.sampleRate));
  EXPECT_EQ(c.revision, 0);  // the saturated 64-bit value, truncated
  ASSERT_TRUE(parseText(c, cases[18].text));
  EXPECT_EQ(c.creationTime, ~0ull);
  EXPECT_EQ(c.modificationTime, ~0ull);
}

}  // namespace
}  // namespace cdt
