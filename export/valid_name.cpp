#include <algorithm>
#include <utility>

#include "csv/quantity_units.h"
#include "export/column_sink.h"

namespace cdt {

std::string validName(const std::string& name) {
  std::string valid;
  for (char c : name) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    // A character outside ASCII becomes one '_', not one per byte: the
    // bytes that continue a UTF-8 sequence are left out.
    if ((static_cast<unsigned char>(c) & 0xC0) == 0x80) continue;
    valid += alnum ? c : '_';
  }
  if (valid.empty() ||
      !((valid[0] >= 'a' && valid[0] <= 'z') || (valid[0] >= 'A' && valid[0] <= 'Z'))) {
    // Built anew rather than with insert(0, "x"), which GCC 12 falsely
    // reports as an overlapping copy (-Wrestrict).
    std::string prefixed = "x";
    prefixed += valid;
    valid = std::move(prefixed);
  }
  // MATLAB allows at most 63 characters in a field name.
  if (valid.size() > 63) valid.resize(63);
  return valid;
}

namespace {

// `name` with "_2", "_3" and so on after it while `names` has it already.
void addUnique(std::vector<std::string>& names, std::string name) {
  const std::string base = name;
  for (int k = 2; std::find(names.begin(), names.end(), name) != names.end(); ++k) {
    name = base + "_" + std::to_string(k);
  }
  names.push_back(std::move(name));
}

}  // namespace

std::vector<std::string> probeFieldNames(const std::vector<SinkProbe>& probes) {
  std::vector<std::string> names;
  for (const SinkProbe& probe : probes) addUnique(names, validName(probe.name));
  return names;
}

std::vector<std::string> statusNames(const std::vector<std::string>& hosts) {
  std::vector<std::string> names;
  for (const std::string& host : hosts) {
    // Cut so that the suffix stays within MATLAB's 63 characters.
    std::string name = validName(host);
    if (name.size() > 50) name.resize(50);
    addUnique(names, name + "_Status");
  }
  return names;
}

std::vector<std::pair<std::string, std::string>> matUnitTexts() {
  const std::pair<const char*, Quantity> fields[] = {{"speed", Quantity::Speed},
                                                     {"sync", Quantity::Sync},
                                                     {"start_rev", Quantity::StartRevolution},
                                                     {"end_rev", Quantity::EndRevolution},
                                                     {"rms", Quantity::Rms},
                                                     {"dns", Quantity::DnsMean},
                                                     {"blade_dns", Quantity::BladeDns},
                                                     {"blade_toa", Quantity::BladeToa},
                                                     {"deflection", Quantity::Deflection}};
  std::vector<std::pair<std::string, std::string>> texts;
  texts.reserve(std::size(fields) + 1);
  // MATLAB's datetime takes POSIX seconds as they are.
  texts.emplace_back("time",
                     "s since 1970-01-01 00:00:00 UTC (POSIX time, exact to the microsecond): "
                     "datetime(time, 'ConvertFrom', 'posixtime', 'TimeZone', 'UTC'); "
                     "time of the line's revolution (its first record)");
  for (const auto& [name, quantity] : fields) {
    const QuantityUnit& unit = quantityUnit(quantity);
    std::string text = unit.description;
    text += "; ";
    text += unit.longName;
    texts.emplace_back(name, std::move(text));
  }
  return texts;
}

}  // namespace cdt
