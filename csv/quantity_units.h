// What each number of ours is, and its unit: the one table that every
// output carrying units reads (netCDF attributes, Parquet field metadata,
// MATLAB, the report's axes, cdt info, the README's column table).
//
// The configuration names no units. These are the recorder's conventions:
// speed in rpm, TOA in microseconds after the revolution's mark, angles in
// radians, times in microseconds since 1970 UTC, and DNS (the tip clearance)
// and the stage diameter in the installation's clearance unit, which is the
// millimetre on real installations. Lengths derived from the diameter (tip
// deflection, resonance amplitude) share that unit. Where the unit is the
// installation's, the table says so (`installation`); no output scales a
// number to make it so.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "csv/csv_header.h"

namespace cdt {

enum class Quantity : uint8_t {
  Time,
  Speed,
  Sync,
  StartRevolution,
  EndRevolution,
  Rms,
  DnsMean,
  BladeDns,
  BladeToa,
  Probe,  // the long layout's probe name
  Blade,  // blade number, from 1 as the CSV counts
  HostStatus,
  Deflection,
  Amplitude,
  Frequency,
  DampingRatio,
  Phase,
  EngineOrder,
  Diameter,
  ProbeAngle,
  // The resonance tables' own columns (cdt analyse).
  Path,
  Stage,
  StageNumber,
  AliasOrders,
  FitProbes,
  Revolution,
  FitRevolutions,
  ResidualRms,
};

struct QuantityUnit {
  Quantity quantity;
  // Stable name of the quantity ("speed", "blade_toa"), as Python and JSON
  // know it.
  const char* key;
  // The unit as UDUNITS (and so netCDF's CF conventions) parses it: "rpm",
  // "us", "mm", "microseconds since 1970-01-01"; "1" for a ratio; empty
  // where the number has no unit (a count, a flag, a name) or the recorder
  // does not fix one.
  const char* unit;
  // The unit as an axis label shows it ("µs", "mm"); empty as `unit`.
  const char* symbol;
  // The unit for people, with what it counts from ("µs after the
  // revolution's mark", "clearance unit, mm on real installations").
  const char* description;
  // What the quantity is.
  const char* longName;
  // The unit is the installation's clearance unit (mm on real
  // installations), not fixed by the recording.
  bool installation;
};

// Every quantity, in the order of the enumeration.
std::span<const QuantityUnit> quantityUnits();
const QuantityUnit& quantityUnit(Quantity quantity);

// The quantity of each column name eachColumnName gives for the same plan
// and layout, in the same order.
std::vector<Quantity> columnQuantities(const ColumnPlan& plan, TextLayout layout);

// The JSON that a Parquet file's key-value metadata `cdt.units` holds of its
// columns `names`, of quantities `quantities` (in the same order):
// {"columns":{NAME:KEY,...},"quantities":{KEY:{"unit":..,"description":..,
// "long_name":..},...}}, each quantity that a column has once.
std::string unitsJson(std::span<const std::string> names, std::span<const Quantity> quantities);

}  // namespace cdt
