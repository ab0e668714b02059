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
  if (!layout.withTimeOfArrival) plan.quantities.bladeToa = plan.quantities.deflection = false;
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

namespace {

// Marks every column of `slot` as masked (all cells holding values), the
// probe's columns going together.
void maskSlot(const ColumnPlan& plan, uint32_t slot, const LineColumns& columns) {
  const std::size_t count = plan.blades[slot].size();
  maskFloatRow(columns, plan.rmsRow[slot]);
  for (std::size_t k = 0; k < count; ++k) {
    maskFloatRow(columns, plan.bladeDnsRow[slot] + k);
    if (plan.layout.withTimeOfArrival) maskFloatRow(columns, plan.bladeToaRow[slot] + k);
  }
  maskDoubleRow(columns, plan.dnsRow[slot]);
}

// Writes the mask bytes of `slot`'s cells in row `row`: every cell empty
// without a record, else the DNS mean without an entry and the blades
// beyond the entries the record holds.
void storeSlotMask(const ColumnPlan& plan, uint32_t slot, const LineColumns& columns,
                   std::size_t row, uint32_t used) {
  if (columns.floatMasked[plan.rmsRow[slot]] == 0) maskSlot(plan, slot, columns);
  const std::size_t stride = columns.stride;
  const bool none = used == kNoLineRecord;
  columns.floatEmpty[plan.rmsRow[slot] * stride + row] = none ? 1 : 0;
  columns.doubleEmpty[plan.dnsRow[slot] * stride + row] = none || used == 0 ? 1 : 0;
  const std::vector<uint32_t>& blades = plan.blades[slot];
  uint8_t* dns = columns.floatEmpty + plan.bladeDnsRow[slot] * stride + row;
  uint8_t* toa = columns.floatEmpty + plan.bladeToaRow[slot] * stride + row;
  for (std::size_t k = 0; k < blades.size(); ++k) {
    const uint8_t empty = none || blades[k] >= used ? 1 : 0;
    dns[k * stride] = empty;
    if (plan.layout.withTimeOfArrival) toa[k * stride] = empty;
  }
}

}  // namespace

void maskFloatRow(const LineColumns& c, std::size_t r) {
  if (c.floatMasked[r] != 0) return;
  std::memset(c.floatEmpty + r * c.stride, 0, c.stride);
  c.floatMasked[r] = 1;
}

void maskDoubleRow(const LineColumns& c, std::size_t r) {
  if (c.doubleMasked[r] != 0) return;
  std::memset(c.doubleEmpty + r * c.stride, 0, c.stride);
  c.doubleMasked[r] = 1;
}

void clearEmpties(const ColumnPlan& plan, const LineColumns& columns) {
  if (columns.floatMasked == nullptr) return;
  std::memset(columns.floatMasked, 0, plan.floatRows);
  std::memset(columns.doubleMasked, 0, plan.doubleRows);
}

bool storeLine(const ColumnPlan& plan, const LineGroup& group, const LineColumns& columns,
               std::size_t row) {
  const DataRecord& first = *group.first;
  const std::size_t stride = columns.stride;
  const uint64_t start = bladeStartRevolution(first);
  columns.time[row] = static_cast<int64_t>(first.time());
  columns.sync[row] = bladeSync(first) != 0 ? 1 : 0;
  columns.startRevolution[row] = start;
  columns.endRevolution[row] = isRevolutionRange(first) ? bladeEndRevolution(first) : start;
  columns.floats[row] = bladeSpeed(first);
  const bool masks = columns.floatMasked != nullptr;
  bool anyEmpty = false;
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!plan.kept[slot]) continue;
    const std::vector<uint32_t>& blades = plan.blades[slot];
    float* rms = columns.floats + plan.rmsRow[slot] * stride + row;
    float* dns = columns.floats + plan.bladeDnsRow[slot] * stride + row;
    float* toa = columns.floats + plan.bladeToaRow[slot] * stride + row;
    double* mean = columns.doubles + plan.dnsRow[slot] * stride + row;
    const bool withToa = plan.layout.withTimeOfArrival;
    const uint32_t used = usedBladeEntries(plan.layout, group, slot);
    // The masks are written for a probe with an empty cell here, or whose
    // columns have one in an earlier row (their masks in use).
    const bool empty =
        used == kNoLineRecord || used == 0 || (!blades.empty() && blades.back() >= used);
    anyEmpty = anyEmpty || empty;
    if (masks && (empty || columns.floatMasked[plan.rmsRow[slot]] != 0)) {
      storeSlotMask(plan, slot, columns, row, used);
    }
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
  return anyEmpty;
}

LineColumns layColumns(const ColumnPlan& plan, unsigned char* p, std::size_t n) {
  // The 8-byte columns first, so that every column stays aligned.
  LineColumns c;
  c.stride = n;
  c.time = reinterpret_cast<int64_t*>(p);
  c.startRevolution = reinterpret_cast<uint64_t*>(p + 8 * n);
  c.endRevolution = reinterpret_cast<uint64_t*>(p + 16 * n);
  c.doubles = reinterpret_cast<double*>(p + 24 * n);
  p += (24 + 8 * std::size_t{plan.doubleRows}) * n;
  c.floats = reinterpret_cast<float*>(p);
  p += 4 * std::size_t{plan.floatRows} * n;
  c.sync = p;
  p += n;
  c.floatEmpty = p;
  p += std::size_t{plan.floatRows} * n;
  c.doubleEmpty = p;
  p += std::size_t{plan.doubleRows} * n;
  c.floatMasked = p;
  c.doubleMasked = p + plan.floatRows;
  return c;
}

ColumnStorage::ColumnStorage(const ColumnPlan& plan, std::size_t rows) {
  bytes_ = std::make_unique_for_overwrite<unsigned char[]>(columnBytes(plan, rows));
  columns_ = layColumns(plan, bytes_.get(), rows);
  clearEmpties(plan, columns_);
}

namespace {

// Copies the masks of `rows` rows of one block row: `from`'s (null: none
// empty) to `to`'s at `at`, when `to` keeps masks.
void copyMask(const uint8_t* from, uint8_t* toMasked, uint8_t* toEmpty, std::size_t toStride,
              std::size_t at, std::size_t rows) {
  if (from != nullptr) {
    if (*toMasked == 0) {
      std::memset(toEmpty, 0, toStride);
      *toMasked = 1;
    }
    std::memcpy(toEmpty + at, from, rows);
  } else if (*toMasked != 0) {
    std::memset(toEmpty + at, 0, rows);
  }
}

}  // namespace

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
  if (to.floatMasked == nullptr) return;
  for (std::size_t r = 0; r < plan.floatRows; ++r) {
    copyMask(floatEmpties(from, r), to.floatMasked + r, to.floatEmpty + r * to.stride, to.stride,
             at, rows);
  }
  for (std::size_t r = 0; r < plan.doubleRows; ++r) {
    copyMask(doubleEmpties(from, r), to.doubleMasked + r, to.doubleEmpty + r * to.stride, to.stride,
             at, rows);
  }
}

}  // namespace cdt
