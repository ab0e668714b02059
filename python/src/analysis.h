// The tip-timing analysis of a file or a recording set for Python (cdt._cdt).
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "lines/line_selection.h"

namespace cdt {

// `paths`: one file (`set` false), or a set's files per host of its
// configuration, None where it has none; `master` the leading one. Only the
// selection's window is taken. Per stage its rows' revolutions, times and
// speeds, its probes' hosts and slots, and the deflections (rows x blades x
// probes, NaN where missing); and what reading left out ("counts").
pybind11::dict analysisDeflections(const pybind11::list& paths, std::size_t master, bool salvage,
                                   bool set, const LineSelection& selection);

// The same source's resonances, accepted or not (each with its reason), as
// `cdt analyse` finds them; `orders` empty: the default orders.
pybind11::dict analysisResonances(const pybind11::list& paths, std::size_t master, bool salvage,
                                  bool set, const LineSelection& selection,
                                  const std::vector<uint32_t>& orders,
                                  std::optional<uint32_t> stage);

}  // namespace cdt
