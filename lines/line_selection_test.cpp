#include "lines/line_selection.h"

#include <gtest/gtest.h>

#include "csv/csv_test_support.h"
#include "foundation/name_text.h"

namespace cdt {
namespace {

// Probes "S\xFCd" (windows-1252), "Same", "Same" and "3" on channels 0 to 3,
// of stages of 4, 2, 2 and 6 blades.
Configuration fourProbes() {
  Configuration config;
  testing::addProbes(config, {{0,
                               "S\xFC"
                               "d",
                               4},
                              {1, "Same", 2},
                              {2, "Same", 2},
                              {3, "3", 6}});
  return config;
}

std::string auto1252(std::string_view name) {
  return decodeName(name, TextEncoding::Auto);
}

ProbeChoice text(const char* t) {
  return {t, std::nullopt};
}

struct Case {
  std::vector<ProbeChoice> probes;
  std::optional<std::vector<uint32_t>> blades;
  unsigned keptSlots;  // bits; with `error` empty
  std::string error;   // the message's start, when the selection fails
};

TEST(LineSelectionTest, ProbesByKeyNameBytesOrChannelAndBladesWithinTheStages) {
  const Configuration config = fourProbes();
  const std::vector<Case> cases = {
      {{text("Same")}, std::nullopt, 0b0110, ""},
      {{text("Same (channel 2)")}, std::nullopt, 0b0100, ""},
      {{text("S\xC3\xBC"
             "d")},
       std::nullopt,
       0b0001,
       ""},  // as text
      {{text("S\xFC"
             "d")},
       std::nullopt,
       0b0001,
       ""},                                     // as the file's bytes
      {{text("3")}, std::nullopt, 0b1000, ""},  // the name, before the channel
      {{text("1")}, std::nullopt, 0b0010, ""},  // no such name: channel 1
      {{{"", 0u}, {"", 3u}}, std::nullopt, 0b1001, ""},
      {{}, std::nullopt, 0b0000, ""},
      {{text("Same")}, std::vector<uint32_t>{2, 1, 2}, 0b0110, ""},
      {{text("Nope")},
       std::nullopt,
       0,
       "no probe 'Nope' (its probes: S\xC3\xBC"
       "d, Same (channel 1), Same (channel 2), 3; or channel"},
      {{text("Same"), {"", 7u}}, std::nullopt, 0, "no probe on channel 7"},
      {{text("Same")},
       std::vector<uint32_t>{1, 3},
       0,
       "no blade 3 in the probes selected (blades 1-2)"},
  };
  for (const Case& c : cases) {
    LineSelection selection;
    selection.probes = c.probes;
    selection.blades = c.blades;
    LinePlan plan;
    SelectionError error;
    const bool resolved = resolveSelection(config, 0, selection, auto1252, plan, error);
    const std::string what = c.probes.empty() ? "(none)" : c.probes[0].text;
    ASSERT_EQ(resolved, c.error.empty()) << what << ": " << error.message;
    if (!resolved) {
      EXPECT_EQ(error.message.rfind(c.error, 0), 0u) << error.message;
      continue;
    }
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
      EXPECT_EQ(plan.plan.kept[slot], ((c.keptSlots >> slot) & 1u) != 0) << what << slot;
    }
  }
  // Blades beyond one probe's stage but within another's are left out there.
  LineSelection selection;
  selection.blades = std::vector<uint32_t>{2, 5};
  LinePlan plan;
  SelectionError error;
  ASSERT_TRUE(resolveSelection(config, 0, selection, auto1252, plan, error));
  EXPECT_EQ(plan.plan.blades[0], (std::vector<uint32_t>{1}));
  EXPECT_EQ(plan.plan.blades[3], (std::vector<uint32_t>{1, 4}));
}

TEST(LineSelectionTest, KeysStayUniqueWhenANameLooksLikeAKey) {
  const std::string names[kChannelsPerHost] = {"A", "A", "A (channel 1)", ""};
  const bool present[kChannelsPerHost] = {true, true, true, false};
  std::string keys[kChannelsPerHost];
  probeKeys(names, present, keys);
  EXPECT_EQ(keys[0], "A (channel 0)");
  EXPECT_EQ(keys[1], "A (channel 1)");
  EXPECT_EQ(keys[2], "A (channel 1) (channel 2)");
  EXPECT_EQ(keys[3], "");
}

TEST(LineSelectionTest, HostByBytesOrTextAndTheWindowCarriedOver) {
  Configuration config = fourProbes();
  config.insertHost(1, "host2");
  config.setHostName(1, "D\xE4q2");
  LineSelection selection;
  selection.host = "D\xC3\xA4q2";
  selection.start = 10;
  selection.lastRevolution = 7;
  LinePlan plan;
  SelectionError error;
  ASSERT_TRUE(resolveSelection(config, 0, selection, auto1252, plan, error)) << error.message;
  EXPECT_EQ(plan.host, 1u);
  EXPECT_EQ(plan.window.host, std::optional<uint32_t>(1));
  EXPECT_EQ(plan.window.start, std::optional<uint64_t>(10));
  EXPECT_EQ(plan.window.lastRevolution, std::optional<uint64_t>(7));
  selection.host = "Daq9";
  ASSERT_FALSE(resolveSelection(config, 0, selection, auto1252, plan, error));
  EXPECT_EQ(error.kind, SelectionError::Kind::UnknownHost);
  EXPECT_EQ(error.message, "no host 'Daq9' (its hosts: Daq1, D\xC3\xA4q2)");
}

}  // namespace
}  // namespace cdt
