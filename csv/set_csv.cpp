#include "csv/set_csv.h"

#include <cerrno>
#include <cmath>

#include "csv/number_format.h"

namespace cdt {

namespace {

bool empty(const uint8_t* cell) {
  return cell != nullptr && *cell != 0;
}

}  // namespace

SetCsvWriter::SetCsvWriter(std::FILE* stream, const SetPlan& plan, std::vector<SetCsvHost> hosts,
                           TextLayout layout)
    : BufferedText(stream), plan_(plan), hosts_(std::move(hosts)), layout_(layout) {
  for (const SetCsvHost& host : hosts_) {
    std::string_view names[kChannelsPerHost];
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) names[slot] = host.names[slot];
    std::size_t n = 0;
    eachColumnName(host.plan, names, TextLayout::Wide, [&n](std::string_view) { ++n; });
    cells_.push_back(n - 5);
  }
  text_.reserve(kFlushSize + 4096);
}

void SetCsvWriter::writeHeader() {
  // The five fixed names (and the long layout's) once, then each host's
  // own columns.
  std::size_t fixed = 0;
  const auto emit = [this, &fixed](std::string_view name) {
    if (fixed++ > 0) text_ += ',';
    text_ += csvCell(name);
  };
  std::string_view none[kChannelsPerHost];
  const ColumnPlan& first = hosts_.empty() ? ColumnPlan() : hosts_[0].plan;
  if (layout_ == TextLayout::Long) {
    eachColumnName(first, none, TextLayout::Long, emit);
    emit("Status");
  } else {
    eachColumnName(ColumnPlan(), none, TextLayout::Wide, emit);
    for (const SetCsvHost& host : hosts_) {
      std::string_view names[kChannelsPerHost];
      for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) names[slot] = host.names[slot];
      std::size_t n = 0;
      eachColumnName(host.plan, names, TextLayout::Wide, [&](std::string_view name) {
        if (n++ >= 5) emit(name);
      });
      flushIfFull();
    }
    for (const SetCsvHost& host : hosts_) emit(host.name + " Status");
  }
  text_ += '\n';
}

void SetCsvWriter::lead(const LineColumns& c, std::size_t row) {
  char cell[kNumberRoom];
  text_.append(cell, formatTimeCell(cell, static_cast<uint64_t>(c.time[row])));
  text_ += ',';
  text_.append(cell, formatG6(cell, c.floats[row]));
  text_ += c.sync[row] != 0 ? ",Yes," : ",No,";
  text_.append(cell, formatU64(cell, c.startRevolution[row]));
  text_ += ',';
  text_.append(cell, formatU64(cell, c.endRevolution[row]));
}

void SetCsvWriter::floatCell(float value, bool empty) {
  text_ += ',';
  if (empty) return;
  char cell[kNumberRoom];
  text_.append(cell, formatG8(cell, value));
}

void SetCsvWriter::doubleCell(double value, bool empty) {
  text_ += ',';
  if (empty) return;
  char cell[kNumberRoom];
  text_.append(cell, formatDoubleG8(cell, value));
}

void SetCsvWriter::wideHost(const LineColumns& c, std::size_t h, std::size_t row) {
  const ColumnPlan& plan = hosts_[h].plan;
  const bool masks = masked_[h] != 0;
  // The cell of the set's float row r; only a host with a masked column
  // looks at the masks.
  const auto floatAt = [&](std::size_t r) {
    floatCell(c.floats[r * c.stride + row], masks && empty(floatEmpties(c, r, row)));
  };
  const Quantities& shown = plan.quantities;
  // The host's float row r lies at row floatRow + r - 1 of the set's block.
  const std::size_t floatBase = plan_.floatRow[h] - 1;
  const std::size_t doubleBase = plan_.doubleRow[h];
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!plan.kept[slot]) continue;
    if (shown.rms) floatAt(floatBase + plan.rmsRow[slot]);
    if (shown.dns)
      doubleCell(c.doubles[(doubleBase + plan.dnsRow[slot]) * c.stride + row],
                 masks && empty(doubleEmpties(c, doubleBase + plan.dnsRow[slot], row)));
    const std::size_t blades = plan.blades[slot].size();
    if (shown.bladeDns) {
      for (std::size_t k = 0; k < blades; ++k) floatAt(floatBase + plan.bladeDnsRow[slot] + k);
    }
    if (shown.bladeToa) {
      for (std::size_t k = 0; k < blades; ++k) floatAt(floatBase + plan.bladeToaRow[slot] + k);
    }
    flushIfFull();
  }
}

void SetCsvWriter::longHost(const LineColumns& c, std::size_t h, std::size_t row, uint8_t status) {
  const ColumnPlan& plan = hosts_[h].plan;
  const bool masks = masked_[h] != 0;
  // The cell of the set's float row r; only a host with a masked column
  // looks at the masks.
  const auto floatAt = [&](std::size_t r) {
    floatCell(c.floats[r * c.stride + row], masks && empty(floatEmpties(c, r, row)));
  };
  const Quantities& shown = plan.quantities;
  const std::size_t floatBase = plan_.floatRow[h] - 1;
  std::string tail(1, ',');
  tail += std::to_string(status);
  tail += '\n';
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!plan.kept[slot]) continue;
    std::string probe(1, ',');
    probe += csvCell(hosts_[h].probeCells[slot]);
    probe += ',';
    const std::vector<uint32_t>& blades = plan.blades[slot];
    for (std::size_t k = 0; k < blades.size(); ++k) {
      lead(c, row);
      text_ += probe;
      text_ += std::to_string(blades[k] + 1);
      if (shown.bladeDns) floatAt(floatBase + plan.bladeDnsRow[slot] + k);
      if (shown.bladeToa) floatAt(floatBase + plan.bladeToaRow[slot] + k);
      if (shown.deflection) {
        // The host's line must agree with the set line whose speed it takes.
        const std::size_t r = floatBase + plan.bladeToaRow[slot] + k;
        const bool toa = !(masks && empty(floatEmpties(c, r, row)));
        const double x =
            plan.deflection[slot].at(blades[k], c.floats[row], c.floats[r * c.stride + row]);
        doubleCell(x, !(toa && status == 0 && c.sync[row] != 0) || std::isnan(x));
      }
      text_ += tail;
      flushIfFull();
    }
  }
}

void SetCsvWriter::writeLines(const SetColumns& columns, std::size_t rows) {
  const LineColumns& c = columns.lines;
  // Which hosts have a column with an empty cell in the batch: the others'
  // cells all print their values.
  masked_.assign(hosts_.size(), 0);
  for (std::size_t h = 0; h < hosts_.size() && c.floatMasked != nullptr; ++h) {
    const ColumnPlan& plan = hosts_[h].plan;
    for (uint32_t r = 1; r < plan.floatRows; ++r) {
      masked_[h] |= c.floatMasked[plan_.floatRow[h] + r - 1];
    }
    for (uint32_t r = 0; r < plan.doubleRows; ++r)
      masked_[h] |= c.doubleMasked[plan_.doubleRow[h] + r];
  }
  for (std::size_t row = 0; row < rows; ++row) {
    if (layout_ == TextLayout::Long) {
      for (std::size_t h = 0; h < hosts_.size(); ++h) {
        const uint8_t status = columns.status[h * c.stride + row];
        if ((status & kSetMissing) == 0) longHost(c, h, row, status);
      }
      continue;
    }
    lead(c, row);
    for (std::size_t h = 0; h < hosts_.size(); ++h) {
      if ((columns.status[h * c.stride + row] & kSetMissing) != 0) {
        text_.append(cells_[h], ',');
      } else {
        wideHost(c, h, row);
      }
    }
    for (std::size_t h = 0; h < hosts_.size(); ++h) {
      text_ += ',';
      text_ += std::to_string(columns.status[h * c.stride + row]);
    }
    text_ += '\n';
    flushIfFull();
  }
}

}  // namespace cdt
