#include "csv/selected_csv.h"

#include <cerrno>
#include <cmath>
#include <limits>

#include "csv/csv_header.h"
#include "csv/number_format.h"

namespace cdt {

SelectedCsvWriter::SelectedCsvWriter(std::FILE* stream, const ColumnPlan& plan,
                                     const Probe* const* probes, TextLayout layout)
    : BufferedText(stream), plan_(plan), quantities_(plan.quantities), layout_(layout) {
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    probes_[slot] = probes[slot];
    if (probes[slot] != nullptr) quotedNames_[slot] = csvCell(probes[slot]->name.view());
  }
  text_.reserve(kFlushSize + 4096);
}

void SelectedCsvWriter::writeHeader() {
  std::string_view names[kChannelsPerHost];
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (plan_.kept[slot]) names[slot] = probes_[slot]->name.view();
  }
  writeCsvHeader(plan_, names, layout_, [this](std::string_view text) {
    text_ += text;
    flushIfFull();
  });
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

void SelectedCsvWriter::deflectionCell(double value) {
  text_ += ',';
  if (std::isnan(value)) return;
  char cell[kNumberRoom];
  text_.append(cell, formatDoubleG8(cell, value));
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
        if (quantities_.deflection) {
          // Only a line locked to the shaft places its blades.
          const bool synchronised = bladeSync(*group.first) != 0;
          deflectionCell(
              present && synchronised
                  ? plan_.deflection[slot].at(j, bladeSpeed(*group.first), bladeToa(*record, j))
                  : std::numeric_limits<double>::quiet_NaN());
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

}  // namespace cdt
