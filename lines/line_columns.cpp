#include "lines/line_columns.h"

#include <cstring>
#include <limits>

namespace cdt {

namespace {

constexpr float kEmptyFloat = std::numeric_limits<float>::quiet_NaN();
constexpr double kEmptyDouble = std::numeric_limits<double>::quiet_NaN();

float entryFloat(const unsigned char* entries, uint32_t stride, uint32_t entry, uint32_t field) {
  return loadF32(entries + std::size_t{entry} * stride + field);
}

}  // namespace

ColumnPlan planColumns(const LineLayout& layout, const bool (&kept)[kChannelsPerHost],
                       const std::optional<std::vector<uint32_t>>& blades,
                       const Quantities& quantities) {
  ColumnPlan plan;
  plan.layout = layout;
  plan.quantities = quantities;
  if (!layout.withTimeOfArrival) plan.quantities.bladeToa = false;
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!layout.hasProbe[slot] || !kept[slot]) continue;
    plan.kept[slot] = true;
    std::vector<uint32_t>& keptBlades = plan.blades[slot];
    if (!blades) {
      for (uint32_t j = 0; j < layout.blades[slot]; ++j) keptBlades.push_back(j);
    } else {
      for (uint32_t number : *blades) {
        if (number >= 1 && number <= layout.blades[slot]) keptBlades.push_back(number - 1);
      }
    }
    const auto count = static_cast<uint32_t>(keptBlades.size());
    plan.rmsRow[slot] = plan.floatRows;
    plan.bladeDnsRow[slot] = plan.floatRows + 1;
    plan.bladeToaRow[slot] = plan.floatRows + 1 + count;
    plan.floatRows += 1 + (layout.withTimeOfArrival ? 2 : 1) * count;
    plan.dnsRow[slot] = plan.doubleRows++;
  }
  return plan;
}

ColumnPlan planAllColumns(const LineLayout& layout) {
  const bool all[kChannelsPerHost] = {true, true, true, true};
  return planColumns(layout, all, std::nullopt);
}

void storeLine(const ColumnPlan& plan, const LineGroup& group, const LineColumns& columns,
               std::size_t row) {
  const DataRecord& first = *group.first;
  const std::size_t stride = columns.stride;
  const uint64_t start = bladeStartRevolution(first);
  columns.time[row] = static_cast<int64_t>(first.time());
  columns.sync[row] = bladeSync(first) != 0 ? 1 : 0;
  columns.startRevolution[row] = start;
  columns.endRevolution[row] = isRevolutionRange(first) ? bladeEndRevolution(first) : start;
  columns.floats[row] = bladeSpeed(first);
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!plan.kept[slot]) continue;
    const std::vector<uint32_t>& blades = plan.blades[slot];
    float* rms = columns.floats + plan.rmsRow[slot] * stride + row;
    float* dns = columns.floats + plan.bladeDnsRow[slot] * stride + row;
    float* toa = columns.floats + plan.bladeToaRow[slot] * stride + row;
    double* mean = columns.doubles + plan.dnsRow[slot] * stride + row;
    const bool withToa = plan.layout.withTimeOfArrival;
    const uint32_t used = usedBladeEntries(plan.layout, group, slot);
    if (used == kNoLineRecord) {
      *rms = kEmptyFloat;
      *mean = kEmptyDouble;
      for (std::size_t k = 0; k < blades.size(); ++k) {
        dns[k * stride] = kEmptyFloat;
        if (withToa) toa[k * stride] = kEmptyFloat;
      }
      continue;
    }
    const DataRecord& record = *group.slots[slot];
    const unsigned char* entries = record.body() + bladeEntriesOffset(record);
    const uint32_t entrySize = bladeEntrySize(record);
    *rms = bladeRms(record);
    // The mean adds the entries in blade order in double precision, as the
    // CSV's DNS cell does; with no entry the cell is empty.
    double sum = 0;
    for (uint32_t j = 0; j < used; ++j) sum += entryFloat(entries, entrySize, j, kBladeDns);
    *mean = used > 0 ? sum / used : kEmptyDouble;
    for (std::size_t k = 0; k < blades.size(); ++k) {
      const uint32_t j = blades[k];
      dns[k * stride] = j < used ? entryFloat(entries, entrySize, j, kBladeDns) : kEmptyFloat;
      if (withToa) {
        toa[k * stride] = j < used ? entryFloat(entries, entrySize, j, kBladeToa) : kEmptyFloat;
      }
    }
  }
}

ColumnStorage::ColumnStorage(const ColumnPlan& plan, std::size_t rows) {
  // The 8-byte columns first, so that every column stays aligned.
  const std::size_t n = rows;
  bytes_ = std::make_unique_for_overwrite<unsigned char[]>(n * lineBytes(plan));
  unsigned char* p = bytes_.get();
  columns_.stride = n;
  columns_.time = reinterpret_cast<int64_t*>(p);
  columns_.startRevolution = reinterpret_cast<uint64_t*>(p + 8 * n);
  columns_.endRevolution = reinterpret_cast<uint64_t*>(p + 16 * n);
  columns_.doubles = reinterpret_cast<double*>(p + 24 * n);
  columns_.floats = reinterpret_cast<float*>(p + (24 + 8 * std::size_t{plan.doubleRows}) * n);
  columns_.sync = p + (24 + 8 * std::size_t{plan.doubleRows} + 4 * std::size_t{plan.floatRows}) * n;
}

void copyLines(const ColumnPlan& plan, const LineColumns& from, const LineColumns& to,
               std::size_t at, std::size_t rows) {
  if (rows == 0) return;
  std::memcpy(to.time + at, from.time, rows * 8);
  std::memcpy(to.sync + at, from.sync, rows);
  std::memcpy(to.startRevolution + at, from.startRevolution, rows * 8);
  std::memcpy(to.endRevolution + at, from.endRevolution, rows * 8);
  for (std::size_t r = 0; r < plan.floatRows; ++r) {
    std::memcpy(to.floats + r * to.stride + at, from.floats + r * from.stride, rows * 4);
  }
  for (std::size_t r = 0; r < plan.doubleRows; ++r) {
    std::memcpy(to.doubles + r * to.stride + at, from.doubles + r * from.stride, rows * 8);
  }
}

}  // namespace cdt
