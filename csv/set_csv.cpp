#include "csv/set_csv.h"

#include <cerrno>

#include "csv/number_format.h"

namespace cdt {

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

void SetCsvWriter::floatCell(const LineColumns& c, std::size_t r, std::size_t row) {
  text_ += ',';
  const uint8_t* empty = floatEmpties(c, r, row);
  if (empty != nullptr && *empty != 0) return;
  char cell[kNumberRoom];
  text_.append(cell, formatG8(cell, c.floats[r * c.stride + row]));
}

void SetCsvWriter::doubleCell(const LineColumns& c, std::size_t r, std::size_t row) {
  text_ += ',';
  const uint8_t* empty = doubleEmpties(c, r, row);
  if (empty != nullptr && *empty != 0) return;
  char cell[kNumberRoom];
  text_.append(cell, formatDoubleG8(cell, c.doubles[r * c.stride + row]));
}

void SetCsvWriter::wideHost(const LineColumns& c, std::size_t h, std::size_t row) {
  const ColumnPlan& plan = hosts_[h].plan;
  const Quantities& shown = plan.quantities;
  // The host's float row r lies at row floatRow + r - 1 of the set's block.
  const std::size_t floatBase = plan_.floatRow[h] - 1;
  const std::size_t doubleBase = plan_.doubleRow[h];
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!plan.kept[slot]) continue;
    if (shown.rms) floatCell(c, floatBase + plan.rmsRow[slot], row);
    if (shown.dns) doubleCell(c, doubleBase + plan.dnsRow[slot], row);
    const std::size_t blades = plan.blades[slot].size();
    if (shown.bladeDns) {
      for (std::size_t k = 0; k < blades; ++k)
        floatCell(c, floatBase + plan.bladeDnsRow[slot] + k, row);
    }
    if (shown.bladeToa) {
      for (std::size_t k = 0; k < blades; ++k)
        floatCell(c, floatBase + plan.bladeToaRow[slot] + k, row);
    }
    flushIfFull();
  }
}

void SetCsvWriter::longHost(const LineColumns& c, std::size_t h, std::size_t row, uint8_t status) {
  const ColumnPlan& plan = hosts_[h].plan;
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
      if (shown.bladeDns) floatCell(c, floatBase + plan.bladeDnsRow[slot] + k, row);
      if (shown.bladeToa) floatCell(c, floatBase + plan.bladeToaRow[slot] + k, row);
      text_ += tail;
      flushIfFull();
    }
  }
}

void SetCsvWriter::writeLines(const SetColumns& columns, std::size_t rows) {
  const LineColumns& c = columns.lines;
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
