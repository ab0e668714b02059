// SetCsvWriter: the lines of a recording set (lines/set_reader.h) as CSV
// text. Wide: Time, Speed, Sync, Start Rev, End Rev of the set line, every
// host's probe columns as that host's CSV names them (csv/csv_header.h),
// host after host, then a "HOST Status" column per host. Long: the long
// layout of csv/selected_csv.h with the probes of every host, a host that
// has no line of the set line giving no rows, and a last column "Status",
// the status of the row's host.
//
// Every cell is the cell the host's own CSV prints for the same line, byte
// for byte: the same formatters, and an empty cell where the host's CSV has
// one, as the set's columns' masks mark them (lines/line_columns.h); a
// value of the record that is NaN, whatever its bits, prints as "nan" or
// "-nan", as the CSV prints it. A host without a line there (kSetMissing)
// has every cell empty.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "csv/buffered_text.h"
#include "csv/csv_header.h"
#include "lines/set_reader.h"

namespace cdt {

// What the writer needs of one host of the set.
struct SetCsvHost {
  ColumnPlan plan;  // the host's own (its kept slots, blades and quantities)
  // The kept probes' names as the CSV prints them (the file's bytes), by
  // slot, and the long layout's Probe cell of each (unquoted).
  std::string names[kChannelsPerHost];
  std::string probeCells[kChannelsPerHost];
  std::string name;  // the host's, as bytes
};

class SetCsvWriter : public BufferedText {
 public:
  // Writes to `stream` (open, not owned) the lines of a set read with
  // `plan`, whose hosts are `hosts` (in the plan's order).
  SetCsvWriter(std::FILE* stream, const SetPlan& plan, std::vector<SetCsvHost> hosts,
               TextLayout layout);

  void writeHeader();
  // Writes rows 0 to rows - 1 of `columns`.
  void writeLines(const SetColumns& columns, std::size_t rows);

 private:
  void lead(const LineColumns& c, std::size_t row);
  // The cell of float (double) row `r` of the set's block in row `row`.
  void floatCell(float value, bool empty);
  void doubleCell(double value, bool empty);
  void wideHost(const LineColumns& c, std::size_t h, std::size_t row);
  void longHost(const LineColumns& c, std::size_t h, std::size_t row, uint8_t status);

  SetPlan plan_;
  std::vector<SetCsvHost> hosts_;
  std::vector<std::size_t> cells_;  // per host, its columns in the wide layout
  std::vector<uint8_t> masked_;     // per host, during writeLines: a column keeps a mask
  TextLayout layout_;
};

}  // namespace cdt
