// The layout's limit, which no test file is large enough to reach: an
// element's byte count must fit its 32-bit tag, else the file is refused
// before anything is written.
#include "export/mat5_layout.h"

#include <gtest/gtest.h>

namespace cdt {
namespace {

TEST(Mat5Layout, AVariablePastItsTagsCountIsRefused) {
  SinkDescription d;
  d.plan.floatRows = 1 + 1 + 2 * 60;
  d.plan.doubleRows = 1;
  d.plan.kept[0] = true;
  d.plan.rmsRow[0] = 1;
  d.plan.bladeDnsRow[0] = 2;
  d.plan.bladeToaRow[0] = 62;
  SinkProbe probe;
  probe.name = "Probe101";
  for (uint32_t b = 1; b <= 60; ++b) probe.blades.push_back(b);
  d.probes.push_back(probe);
  // A line of the probe holds 4 + 8 + 2 * 60 * 4 = 492 bytes; time 8.
  const struct {
    uint64_t lines;
    const char* tooLarge;
  } cases[] = {{8'000'000, ""}, {8'800'000, "probes"}, {600'000'000, "time"}};
  for (const auto& c : cases) {
    const Mat5Layout layout = planMat5File(d, c.lines);
    EXPECT_EQ(layout.tooLarge, c.tooLarge) << c.lines;
    // The file's size follows the columns; the last variable ends it.
    ASSERT_EQ(layout.variables.size(), 8u);
    EXPECT_EQ(layout.variables.back().offset + layout.variables.back().bytes, layout.size);
    EXPECT_GE(layout.size, c.lines * (8 + 4 + 1 + 8 + 8 + 492));
  }
}

}  // namespace
}  // namespace cdt
