// Recording sets for the Python side: finding a set's files, and reading
// its lines (lines/set_reader.h) as numpy arrays.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>

#include "lines/line_selection.h"

namespace cdt {

// The set `path` names (lines/set_files.h): "paths" (bytes, or None per
// host without a file), "hosts" (the hosts' names as bytes), "master" and
// "time"; raises FileNotFoundError or ValueError naming the path.
pybind11::dict findSet(const std::string& path, std::optional<uint64_t> time);

// The set's lines: the arrays of a read (time, sync, start_rev, end_rev,
// floats, doubles, rows) and "status" (one row per host with a file),
// "hosts" (per such host: its index, its probes' plan with their rows in
// the set's blocks, its columns after the fixed five, its stop) and the
// master's position among them.
pybind11::dict readSet(const pybind11::list& paths, std::size_t master, bool salvage,
                       const std::vector<LineSelection>& selections,
                       const pybind11::object& decode);

}  // namespace cdt
