// What must hold for names of any bytes, shared by the fuzz targets that
// read configurations: decoding a name into Unicode never fails and loses
// nothing, and the CSV header, split into its cells and decoded cell by cell,
// gives the column names made from the decoded probe names. That is the rule
// the Python columns follow, so the frames' columns are the CSV's.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/model.h"
#include "foundation/name_text.h"
#include "lines/line_layout.h"

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
  std::vector<std::string> names = {"Time", "Speed", "Sync", "Start Rev", "End Rev"};
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (probes[slot] == nullptr) continue;
    const std::string name = decodeName(probes[slot]->name.view());
    names.push_back(name + " RMS");
    names.push_back(name + " DNS");
    for (uint32_t j = 1; j <= layout.blades[slot]; ++j) {
      names.push_back(name + " Blade" + std::to_string(j) + " DNS");
    }
    for (uint32_t j = 1; withTimeOfArrival && j <= layout.blades[slot]; ++j) {
      names.push_back(name + " Blade" + std::to_string(j) + " TOA");
    }
  }
  return names;
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

}  // namespace cdt::fuzzing
