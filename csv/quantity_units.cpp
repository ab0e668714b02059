#include "csv/quantity_units.h"

#include <set>

namespace cdt {

namespace {

// UTF-8 "µ" (U+00B5), spelled out so that no compiler's source character
// set changes it.
#define CDT_MICRO "\xC2\xB5"

constexpr const char* kClearance = "clearance unit, mm on real installations";

constexpr QuantityUnit kUnits[] = {
    {Quantity::Time, "time", "microseconds since 1970-01-01", "UTC",
     CDT_MICRO "s since 1970-01-01 00:00:00 UTC",
     "time of the line's revolution (its first record), UTC", false},
    {Quantity::Speed, "speed", "rpm", "rpm", "revolutions per minute", "shaft speed", false},
    {Quantity::Sync, "sync", "", "", "1 or 0",
     "revolution synchronised to the shaft's once-per-revolution mark (1) or not (0)", false},
    {Quantity::StartRevolution, "start_rev", "", "", "revolution number",
     "first revolution of the line, by the recorder's revolution counter", false},
    {Quantity::EndRevolution, "end_rev", "", "", "revolution number",
     "last revolution of the line (its first, unless its records sum a range of revolutions)",
     false},
    {Quantity::Rms, "rms", "", "", "as recorded: the recorder's signal unit, not fixed",
     "RMS of the probe's signal", false},
    {Quantity::DnsMean, "dns", "mm", "mm", kClearance,
     "mean over the blades of the probe's tip clearance (DNS)", true},
    {Quantity::BladeDns, "blade_dns", "mm", "mm", kClearance, "blade tip clearance (DNS)", true},
    {Quantity::BladeToa, "blade_toa", "us", CDT_MICRO "s",
     CDT_MICRO "s after the revolution's once-per-revolution mark",
     "blade time of arrival (TOA) at the probe", false},
    {Quantity::Probe, "probe", "", "", "name", "probe name", false},
    {Quantity::Blade, "blade", "", "", "number, from 1", "blade number within its stage", false},
    {Quantity::HostStatus, "host_status", "", "", "0, or a sum of 1, 2 and 4",
     "status of a set's host in the line: 0, or a sum of 1 (no line), 2 (time off), "
     "4 (speed off)",
     false},
    {Quantity::Deflection, "deflection", "mm", "mm", kClearance,
     "blade tip deflection, positive when the tip arrives early", true},
    {Quantity::Amplitude, "amplitude", "mm", "mm", kClearance,
     "zero-to-peak tip deflection amplitude at resonance", true},
    {Quantity::Frequency, "frequency", "Hz", "Hz", "hertz", "blade vibration frequency", false},
    {Quantity::DampingRatio, "damping", "1", "", "ratio to critical damping", "damping ratio",
     false},
    {Quantity::Phase, "phase", "rad", "rad", "radians", "phase of the resonance", false},
    {Quantity::EngineOrder, "engine_order", "1", "", "vibration cycles per revolution",
     "engine order", false},
    {Quantity::Diameter, "diameter", "mm", "mm", kClearance, "stage diameter at the blade tips",
     true},
    {Quantity::ProbeAngle, "probe_angle", "rad", "rad",
     "radians from the once-per-revolution mark, in the direction of rotation",
     "probe's angular position", false},
    {Quantity::Path, "path", "", "", "file name, as given",
     "the recording's file (a set's: the file of its first host)", false},
    {Quantity::Stage, "stage", "", "", "name", "stage name", false},
    {Quantity::StageNumber, "stage_number", "", "", "number, from 1",
     "stage number in the configuration", false},
    {Quantity::AliasOrders, "alias_candidates", "", "", "engine orders, separated by commas",
     "engine orders that the probe angles cannot tell from the one found", false},
    {Quantity::FitProbes, "fit_probes", "", "", "count", "probes whose deflections the fit took",
     false},
    {Quantity::Revolution, "revolution", "", "", "revolution number",
     "revolution by the recorder's revolution counter", false},
    {Quantity::FitRevolutions, "fit_revolutions", "", "", "count", "revolutions the fit took",
     false},
    {Quantity::ResidualRms, "residual_rms", "mm", "mm", kClearance,
     "RMS of the tip deflections less the fitted resonance", true},
};

#undef CDT_MICRO

static_assert(std::size(kUnits) == static_cast<std::size_t>(Quantity::ResidualRms) + 1);

// `text` as a JSON string.
std::string jsonText(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20) {
      const char hex[] = "0123456789abcdef";
      quoted += "\\u00";
      quoted += hex[byte >> 4];
      quoted += hex[byte & 15];
    } else {
      quoted += c;
    }
  }
  quoted += '"';
  return quoted;
}

}  // namespace

std::span<const QuantityUnit> quantityUnits() {
  return kUnits;
}

const QuantityUnit& quantityUnit(Quantity quantity) {
  return kUnits[static_cast<std::size_t>(quantity)];
}

std::vector<Quantity> columnQuantities(const ColumnPlan& plan, TextLayout layout) {
  std::vector<Quantity> quantities = {Quantity::Time, Quantity::Speed, Quantity::Sync,
                                      Quantity::StartRevolution, Quantity::EndRevolution};
  const Quantities& shown = plan.quantities;
  std::size_t columns = quantities.size() + 4;
  for (const std::vector<uint32_t>& blades : plan.blades) columns += 2 + 2 * blades.size();
  quantities.reserve(columns);
  if (layout == TextLayout::Long) {
    quantities.push_back(Quantity::Probe);
    quantities.push_back(Quantity::Blade);
    if (shown.bladeDns) quantities.push_back(Quantity::BladeDns);
    if (shown.bladeToa) quantities.push_back(Quantity::BladeToa);
    if (shown.deflection) quantities.push_back(Quantity::Deflection);
    return quantities;
  }
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!plan.kept[slot]) continue;
    if (shown.rms) quantities.push_back(Quantity::Rms);
    if (shown.dns) quantities.push_back(Quantity::DnsMean);
    const std::size_t blades = plan.blades[slot].size();
    if (shown.bladeDns) quantities.insert(quantities.end(), blades, Quantity::BladeDns);
    if (shown.bladeToa) quantities.insert(quantities.end(), blades, Quantity::BladeToa);
  }
  return quantities;
}

std::string unitsJson(std::span<const std::string> names, std::span<const Quantity> quantities) {
  std::string json = "{\"columns\":{";
  std::set<Quantity> used;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) json += ',';
    json += jsonText(names[i]);
    json += ':';
    json += jsonText(quantityUnit(quantities[i]).key);
    used.insert(quantities[i]);
  }
  json += "},\"quantities\":{";
  bool first = true;
  for (const Quantity quantity : used) {
    const QuantityUnit& unit = quantityUnit(quantity);
    if (!first) json += ',';
    first = false;
    json += jsonText(unit.key);
    json += ":{\"unit\":";
    json += jsonText(unit.unit);
    json += ",\"description\":";
    json += jsonText(unit.description);
    json += ",\"long_name\":";
    json += jsonText(unit.longName);
    json += '}';
  }
  json += "}}";
  return json;
}

}  // namespace cdt
