#include "csv/selected_csv.h"

#include <cerrno>

#include "csv/number_format.h"

namespace cdt {

namespace {

constexpr std::size_t kFlushSize = 1 << 20;

// A name that would break the cell structure is quoted as the converter's
// header quotes it: the whole cell in quotes, quotes doubled inside.
bool needsQuoting(std::string_view text) {
  return text.find_first_of(",\"\r\n") != std::string_view::npos;
}

std::string quoted(std::string_view cell) {
  if (!needsQuoting(cell)) return std::string(cell);
  std::string text = "\"";
  for (char c : cell) {
    if (c == '"') text += '"';
    text += c;
  }
  return text + "\"";
}

}  // namespace

SelectedCsvWriter::SelectedCsvWriter(std::FILE* stream, const ColumnPlan& plan,
                                     const Probe* const* probes, const Quantities& quantities,
                                     TextLayout layout)
    : stream_(stream), plan_(plan), quantities_(quantities), layout_(layout) {
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    probes_[slot] = probes[slot];
    if (probes[slot] != nullptr) quotedNames_[slot] = quoted(probes[slot]->name.view());
  }
  if (!plan_.layout.withTimeOfArrival) quantities_.bladeToa = false;
  text_.reserve(kFlushSize + 4096);
}

void SelectedCsvWriter::headerCell(std::string_view name, std::string_view middle, uint32_t number,
                                   std::string_view tail) {
  std::string cell(name);
  cell.append(middle);
  if (number != 0) cell += std::to_string(number);
  cell.append(tail);
  text_ += ',';
  // The converter quotes by the name alone; the rest never needs it.
  text_ += needsQuoting(name) ? quoted(cell) : cell;
}

void SelectedCsvWriter::writeHeader() {
  text_ += "Time,Speed,Sync,Start Rev,End Rev";
  if (layout_ == TextLayout::Long) {
    text_ += ",Probe,Blade";
    if (quantities_.bladeDns) text_ += ",DNS";
    if (quantities_.bladeToa) text_ += ",TOA";
    text_ += '\n';
    return;
  }
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!plan_.kept[slot]) continue;
    const std::string_view name = probes_[slot]->name.view();
    if (quantities_.rms) headerCell(name, " RMS", 0, "");
    if (quantities_.dns) headerCell(name, " DNS", 0, "");
    if (quantities_.bladeDns) {
      for (uint32_t j : plan_.blades[slot]) headerCell(name, " Blade", j + 1, " DNS");
    }
    if (quantities_.bladeToa) {
      for (uint32_t j : plan_.blades[slot]) headerCell(name, " Blade", j + 1, " TOA");
    }
  }
  text_ += '\n';
}

void SelectedCsvWriter::lead(const LineGroup& group) {
  const DataRecord& first = *group.first;
  char cell[kNumberRoom];
  const uint64_t start = bladeStartRevolution(first);
  text_.append(cell, formatTimeCell(cell, first.time()));
  text_ += ',';
  text_.append(cell, formatG6(cell, bladeSpeed(first)));
  text_ += bladeSync(first) != 0 ? ",Yes," : ",No,";
  text_.append(cell, formatU64(cell, start));
  text_ += ',';
  text_.append(cell, formatU64(cell, isRevolutionRange(first) ? bladeEndRevolution(first) : start));
}

void SelectedCsvWriter::floatCell(float value) {
  char cell[kNumberRoom];
  text_ += ',';
  text_.append(cell, formatG8(cell, value));
}

void SelectedCsvWriter::writeLine(const LineGroup& group) {
  if (layout_ == TextLayout::Long) {
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
      if (!plan_.kept[slot]) continue;
      const uint32_t used = usedBladeEntries(plan_.layout, group, slot);
      const DataRecord* record = used == kNoLineRecord ? nullptr : group.slots[slot];
      for (uint32_t j : plan_.blades[slot]) {
        lead(group);
        text_ += ',';
        text_ += quotedNames_[slot];
        text_ += ',';
        text_ += std::to_string(j + 1);
        const bool present = record != nullptr && j < used;
        if (quantities_.bladeDns) {
          if (present) {
            floatCell(bladeDns(*record, j));
          } else {
            text_ += ',';
          }
        }
        if (quantities_.bladeToa) {
          if (present) {
            floatCell(bladeToa(*record, j));
          } else {
            text_ += ',';
          }
        }
        text_ += '\n';
      }
    }
    flushIfFull();
    return;
  }
  lead(group);
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!plan_.kept[slot]) continue;
    const uint32_t used = usedBladeEntries(plan_.layout, group, slot);
    const DataRecord* record = used == kNoLineRecord ? nullptr : group.slots[slot];
    const std::vector<uint32_t>& blades = plan_.blades[slot];
    if (quantities_.rms) {
      if (record != nullptr) {
        floatCell(bladeRms(*record));
      } else {
        text_ += ',';
      }
    }
    if (quantities_.dns) {
      text_ += ',';
      if (record != nullptr && used > 0) {
        // The mean adds the entries in blade order in double precision, as
        // the converter's DNS cell does.
        double sum = 0;
        for (uint32_t j = 0; j < used; ++j) sum += bladeDns(*record, j);
        char cell[kNumberRoom];
        text_.append(cell, formatDoubleG8(cell, sum / used));
      }
    }
    for (int pass = 0; pass < 2; ++pass) {
      if (!(pass == 0 ? quantities_.bladeDns : quantities_.bladeToa)) continue;
      for (uint32_t j : blades) {
        if (record != nullptr && j < used) {
          floatCell(pass == 0 ? bladeDns(*record, j) : bladeToa(*record, j));
        } else {
          text_ += ',';
        }
      }
    }
  }
  text_ += '\n';
  flushIfFull();
}

void SelectedCsvWriter::put() {
  errno = 0;
  if (!text_.empty() && std::fwrite(text_.data(), 1, text_.size(), stream_) != text_.size() &&
      !failed_) {
    failed_ = true;
    writeError_ = errno;
  }
  text_.clear();
}

void SelectedCsvWriter::flushIfFull() {
  if (text_.size() >= kFlushSize) put();
}

bool SelectedCsvWriter::finish() {
  put();
  errno = 0;
  if (std::fflush(stream_) != 0 && !failed_) {
    failed_ = true;
    writeError_ = errno;
  }
  return !failed_;
}

}  // namespace cdt
