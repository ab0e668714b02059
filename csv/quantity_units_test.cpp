#include "csv/quantity_units.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace cdt {
namespace {

// Each column's quantity is the one its name says, for every layout and
// choice of quantities: the two rules walk the plan in the same order.
TEST(QuantityUnits, ColumnsNameTheirQuantity) {
  LineLayout layout;
  layout.withTimeOfArrival = true;
  layout.hasProbe[0] = layout.hasProbe[2] = true;
  layout.blades[0] = 3;
  layout.blades[2] = 0;
  const bool kept[kChannelsPerHost] = {true, false, true, false};
  const std::string_view names[kChannelsPerHost] = {"A Blade1", "", "B", ""};
  // A probe column's name is the probe's name and a tail: " RMS", " DNS"
  // (the mean), " BladeJ DNS" or " BladeJ TOA"; "A Blade1 DNS" is A's mean.
  const auto quantityOf = [&](const std::string& name) {
    static const std::map<std::string, Quantity> kLeading = {
        {"Time", Quantity::Time},
        {"Speed", Quantity::Speed},
        {"Sync", Quantity::Sync},
        {"Start Rev", Quantity::StartRevolution},
        {"End Rev", Quantity::EndRevolution},
        {"Probe", Quantity::Probe},
        {"Blade", Quantity::Blade},
        {"DNS", Quantity::BladeDns},
        {"TOA", Quantity::BladeToa}};
    if (const auto leading = kLeading.find(name); leading != kLeading.end()) return leading->second;
    const std::string_view probe = name[0] == 'A' ? names[0] : names[2];
    const std::string tail = name.substr(probe.size());
    if (tail == " RMS") return Quantity::Rms;
    if (tail == " DNS") return Quantity::DnsMean;
    return tail.ends_with(" TOA") ? Quantity::BladeToa : Quantity::BladeDns;
  };
  for (const TextLayout text : {TextLayout::Wide, TextLayout::Long}) {
    for (int shown = 0; shown < 16; ++shown) {
      const Quantities quantities{(shown & 1) != 0, (shown & 2) != 0, (shown & 4) != 0,
                                  (shown & 8) != 0};
      const ColumnPlan plan = planColumns(layout, kept, std::nullopt, quantities);
      const std::vector<std::string> columns = columnNames(plan, names, text);
      const std::vector<Quantity> kinds = columnQuantities(plan, text);
      ASSERT_EQ(kinds.size(), columns.size());
      for (std::size_t i = 0; i < columns.size(); ++i) {
        EXPECT_EQ(kinds[i], quantityOf(columns[i])) << columns[i];
      }
    }
  }
}

// The table is indexed by its enumeration; keys are distinct, and the
// installation's unit is always said.
TEST(QuantityUnits, TableIsConsistent) {
  std::set<std::string> keys;
  for (std::size_t i = 0; i < quantityUnits().size(); ++i) {
    const QuantityUnit& entry = quantityUnits()[i];
    EXPECT_EQ(static_cast<std::size_t>(entry.quantity), i);
    EXPECT_EQ(&quantityUnit(entry.quantity), &entry);
    EXPECT_TRUE(keys.insert(entry.key).second) << entry.key;
    EXPECT_EQ(entry.installation,
              std::string(entry.description).find("real installations") != std::string::npos)
        << entry.key;
  }
}

}  // namespace
}  // namespace cdt
