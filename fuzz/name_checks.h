// What must hold for names of any bytes, shared by the fuzz targets that
// read configurations: decoding a name into Unicode never fails and loses
// nothing, and the CSV header, split into its cells and decoded cell by cell,
// gives the column names made from the decoded probe names. That is the rule
// the Python columns follow, so the frames' columns are the CSV's.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/model.h"
#include "csv/csv_header.h"
#include "foundation/name_text.h"
#include "lines/line_columns.h"
#include "lines/line_layout.h"
#include "lines/line_selection.h"

namespace cdt::fuzzing {

inline void checkName(bool condition) {
  if (!condition) std::abort();
}

// Every encoding gives valid UTF-8; the single-byte code pages map every
// byte to a character of its own, so encoding the text gives the bytes back;
// the automatic rule keeps valid UTF-8 and reads anything else as
// windows-1252.
inline void checkNameDecoding(std::string_view bytes) {
  for (TextEncoding encoding :
       {TextEncoding::Auto, TextEncoding::Utf8, TextEncoding::Windows1252,
        TextEncoding::Windows1250, TextEncoding::Windows1251, TextEncoding::Latin1}) {
    const std::string text = decodeName(bytes, encoding);
    checkName(isValidUtf8(text));
    if (encoding != TextEncoding::Auto && encoding != TextEncoding::Utf8) {
      checkName(encodeName(text, encoding) == std::string(bytes));
    }
  }
  const bool utf8 = isValidUtf8(bytes);
  checkName(decodeName(bytes) ==
            (utf8 ? std::string(bytes) : decodeName(bytes, TextEncoding::Windows1252)));
}

// Every name of the configuration through checkNameDecoding.
inline void checkConfigurationNames(const Configuration& c) {
  checkNameDecoding(c.name.view());
  checkNameDecoding(c.fullName.view());
  for (const Stage& stage : c.stages) checkNameDecoding(stage.name.view());
  for (const Host& host : c.hosts) {
    checkNameDecoding(host.name.view());
    checkNameDecoding(host.hostName.view());
  }
  for (const Rack& rack : c.racks) {
    checkNameDecoding(rack.name.view());
    for (const Probe& probe : rack.probes) checkNameDecoding(probe.name.view());
  }
}

// The cells of the first line of `text` (up to its first line end outside
// quotes): a cell that holds ',', '"', CR or LF is quoted, with its quotes
// doubled. None when the text breaks that rule or has no line end.
inline std::optional<std::vector<std::string>> csvHeaderCells(std::string_view text) {
  std::vector<std::string> cells(1);
  for (size_t i = 0; i < text.size(); ++i) {
    std::string& cell = cells.back();
    const char c = text[i];
    if (c == '"') {
      if (!cell.empty()) return std::nullopt;  // a quote inside a plain cell
      // A quoted cell: up to the quote that is not doubled, then a separator.
      for (++i;; ++i) {
        if (i >= text.size()) return std::nullopt;
        if (text[i] != '"') {
          cell += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '"') {
          cell += '"';
          ++i;
        } else {
          break;
        }
      }
      if (i + 1 >= text.size() || (text[i + 1] != ',' && text[i + 1] != '\n')) return std::nullopt;
      if (cell.find_first_of(",\"\r\n") == std::string::npos) return std::nullopt;  // needless
      continue;
    }
    if (c == '\n') return cells;
    if (c == ',') {
      cells.emplace_back();
    } else if (c == '\r') {
      return std::nullopt;  // a bare carriage return
    } else {
      cell += c;
    }
  }
  return std::nullopt;
}

// The header's column names from the decoded names of the probes on the
// host's channel slots (nullptr where a slot has none) and the layout.
inline std::vector<std::string> decodedColumnNames(const Probe* const probes[kChannelsPerHost],
                                                   const LineLayout& layout,
                                                   bool withTimeOfArrival) {
  LineLayout shown = layout;
  shown.withTimeOfArrival = withTimeOfArrival;
  std::string decoded[kChannelsPerHost];
  std::string_view names[kChannelsPerHost];
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (probes[slot] != nullptr) decoded[slot] = decodeName(probes[slot]->name.view());
    names[slot] = decoded[slot];
  }
  return columnNames(planAllColumns(shown), names);
}

// The header line's cells, each decoded on its own, are the column names.
inline void checkHeaderDecodes(std::string_view header, const Probe* const probes[kChannelsPerHost],
                               const LineLayout& layout, bool withTimeOfArrival) {
  const std::optional<std::vector<std::string>> cells = csvHeaderCells(header);
  checkName(cells.has_value());
  const std::vector<std::string> names = decodedColumnNames(probes, layout, withTimeOfArrival);
  checkName(cells->size() == names.size());
  for (size_t i = 0; i < names.size(); ++i) checkName(decodeName((*cells)[i]) == names[i]);
}

// Blade columns above which a header is not checked: the check is linear,
// but a header of hundreds of thousands of cells makes every run slow.
inline constexpr uint64_t kMaxCheckedBladeColumns = 4096;

// The selection of host 0's probes: keys are unique and each keeps its
// own probe alone; a name keeps the probes of that name (as text or as
// bytes); a choice that is none of them and no channel number is refused
// naming every key; a blade beyond every stage is refused.
inline void checkSelection(const Configuration& configuration) {
  const NameDecoder decode = [](std::string_view name) { return decodeName(name); };
  LinePlan all;
  SelectionError error;
  checkName(resolveSelection(configuration, 0, LineSelection(), decode, all, error));
  uint32_t most = 0;
  bool any = false;
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    const Probe* probe = all.columns.probes[slot];
    checkName(all.plan.kept[slot] == (probe != nullptr));
    if (probe == nullptr) continue;
    any = true;
    most = std::max(most, all.columns.layout.blades[slot]);
    for (uint32_t other = 0; other < slot; ++other) {
      checkName(all.columns.probes[other] == nullptr || all.keys[other] != all.keys[slot]);
    }
    bool nameIsAKey = false;  // another probe's: keys are looked up first
    for (uint32_t other = 0; other < kChannelsPerHost; ++other) {
      nameIsAKey = nameIsAKey || (other != slot && all.columns.probes[other] != nullptr &&
                                  all.keys[other] == all.names[slot]);
    }
    for (const bool byKey : {true, false}) {
      if (!byKey && nameIsAKey) continue;
      LineSelection selection;
      selection.probes = std::vector<ProbeChoice>{{byKey ? all.keys[slot] : all.names[slot], {}}};
      LinePlan one;
      checkName(resolveSelection(configuration, 0, selection, decode, one, error));
      checkName(one.plan.kept[slot]);
      for (uint32_t other = 0; other < kChannelsPerHost; ++other) {
        if (!one.plan.kept[other] || other == slot) continue;
        // Keys are unique: a key keeps its probe alone. A name keeps the
        // probes of that name.
        checkName(!byKey);
        checkName(all.names[other] == all.names[slot] ||
                  all.columns.probes[other]->name.view() == all.names[slot]);
      }
    }
  }
  std::string unknown = "\x01?";
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) unknown += all.keys[slot];
  LineSelection selection;
  selection.probes = std::vector<ProbeChoice>{{unknown, {}}};
  LinePlan none;
  if (!resolveSelection(configuration, 0, selection, decode, none, error)) {
    checkName(error.kind == SelectionError::Kind::UnknownProbe);
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
      checkName(error.message.find(all.keys[slot]) != std::string::npos);
    }
  } else {
    // Only a probe of that very key, name or bytes may take it.
    bool named = false;
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
      named = named ||
              (none.plan.kept[slot] && (all.names[slot] == unknown || all.keys[slot] == unknown ||
                                        all.columns.probes[slot]->name.view() == unknown));
    }
    checkName(named);
  }
  if (any && most < kMaxLineBlades) {
    LineSelection beyond;
    beyond.blades = std::vector<uint32_t>{most + 1};
    checkName(!resolveSelection(configuration, 0, beyond, decode, none, error) &&
              error.kind == SelectionError::Kind::UnknownBlade);
  }
}

}  // namespace cdt::fuzzing
