#include "csv/csv_header.h"

namespace cdt {

void eachColumnName(const ColumnPlan& plan, const std::string_view (&names)[kChannelsPerHost],
                    TextLayout layout, const std::function<void(std::string_view)>& emit) {
  for (const char* lead : {"Time", "Speed", "Sync", "Start Rev", "End Rev"}) emit(lead);
  const Quantities& shown = plan.quantities;
  if (layout == TextLayout::Long) {
    emit("Probe");
    emit("Blade");
    if (shown.bladeDns) emit("DNS");
    if (shown.bladeToa) emit("TOA");
    if (shown.deflection) emit("Deflection");
    return;
  }
  std::string name;
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!plan.kept[slot]) continue;
    const auto cell = [&](std::string_view tail) {
      name.assign(names[slot]).append(tail);
      emit(name);
    };
    if (shown.rms) cell(" RMS");
    if (shown.dns) cell(" DNS");
    for (const std::string_view tail : {" DNS", " TOA"}) {
      if (!(tail == " DNS" ? shown.bladeDns : shown.bladeToa)) continue;
      for (uint32_t j : plan.blades[slot])
        cell(" Blade" + std::to_string(j + 1) + std::string(tail));
    }
  }
}

std::vector<std::string> columnNames(const ColumnPlan& plan,
                                     const std::string_view (&names)[kChannelsPerHost],
                                     TextLayout layout) {
  std::vector<std::string> columns;
  eachColumnName(plan, names, layout, [&](std::string_view name) { columns.emplace_back(name); });
  return columns;
}

std::string csvCell(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string cell = "\"";
  for (char c : text) {
    if (c == '"') cell += '"';
    cell += c;
  }
  return cell + "\"";
}

void writeCsvHeader(const ColumnPlan& plan, const std::string_view (&names)[kChannelsPerHost],
                    TextLayout layout, const std::function<void(std::string_view)>& write) {
  bool first = true;
  eachColumnName(plan, names, layout, [&](std::string_view name) {
    if (!first) write(",");
    first = false;
    if (name.find_first_of(",\"\r\n") == std::string_view::npos) {
      write(name);
    } else {
      write(csvCell(name));
    }
  });
  write("\n");
}

}  // namespace cdt
