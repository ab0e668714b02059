// SelectedCsvWriter: the lines of a recording as CSV text restricted to a
// selection of probes, blades and quantities, in the converter's wide layout
// or in a long layout with one row per line, probe and blade:
//
//   Time,Speed,Sync,Start Rev,End Rev,Probe,Blade,DNS,TOA[,Deflection]
//
// (Deflection, the tip's in the stage diameter's units, when the plan asks
// for it: empty where the line is not synchronised, the TOA is missing or
// the probe's stage has no usable geometry.)
// Every cell is the converter's cell for the same value, byte for byte (the
// same formats, the same empty cells, the same quoting of probe names), so a
// selection only leaves columns out. The writer is handed complete groups
// (lines/line_grouper.h); it buffers its text and writes it in large pieces.
#pragma once

#include <cstdio>
#include <string>

#include "config/model.h"
#include "csv/buffered_text.h"
#include "csv/csv_header.h"
#include "lines/line_columns.h"
#include "lines/line_layout.h"

namespace cdt {

class SelectedCsvWriter : public BufferedText {
 public:
  // Writes to `stream` (open, not owned) the columns of `plan` (its kept
  // slots, blades and quantities) whose probes are `probes` (by slot, as
  // hostColumns gives them; they must outlive the writer).
  SelectedCsvWriter(std::FILE* stream, const ColumnPlan& plan, const Probe* const* probes,
                    TextLayout layout);

  void writeHeader();
  void writeLine(const LineGroup& group);

 private:
  void lead(const LineGroup& group);
  void floatCell(float value);
  // A tip deflection, empty where there is none (NaN).
  void deflectionCell(double value);

  ColumnPlan plan_;
  const Probe* probes_[kChannelsPerHost] = {};
  Quantities quantities_;
  TextLayout layout_;
  std::string quotedNames_[kChannelsPerHost];  // the Probe cell of the long layout
};

}  // namespace cdt
