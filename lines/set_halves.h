// A whole recording set read in two halves at once (set_halves.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "datafile/data_file.h"
#include "lines/set_reader.h"

namespace cdt {

struct SetHalvesInput {
  std::vector<std::unique_ptr<DataFile>>& files;    // per host, at its first record
  std::vector<std::unique_ptr<DataFile>>& seconds;  // the same files opened again
  std::vector<LineWindow> windows;                  // per host, without a start or stop
  std::size_t master = 0;
  std::size_t rowsLimit = 0;  // the most rows the arrays may have
};

struct SetHalves {
  uint64_t middle = 0;         // the master's middle index time: where the halves meet
  std::size_t firstRows = 0;   // rows for the first half's lines
  std::size_t secondRows = 0;  // and for the second's, after them
  std::vector<SetReader::Host> early;
  std::vector<SetReader::Host> late;
};

// Where the halves meet and the rows each needs; none when the set is not
// split (an index too short or unsure, a start that cannot be planned).
std::optional<SetHalves> planSetHalves(const SetHalvesInput& in);

// Reads the halves on two threads into `columns` (firstRows + secondRows
// rows), the second moved up against the first: the lines read, or none
// where a half held more lines than its rows (the columns are then to be
// read again at once).
std::optional<std::size_t> readSetHalves(const SetHalves& halves, std::size_t master,
                                         const SetPlan& plan, const SetColumns& columns);

}  // namespace cdt
