// What the parts of the extension module share: the error for a file that is
// not a readable data file, and opening with Python's exceptions.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "datafile/data_file.h"

namespace cdt {

// Raised in Python as cdt.FormatError (a ValueError).
struct FormatError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Opens `path` (salvaging: as a recovery reads it), raising
// FileNotFoundError for a missing file and FormatError, with the reason, for
// one that cannot be opened as a data file. Call with the GIL held.
std::unique_ptr<DataFile> openOrRaise(const std::string& path, bool salvage);

pybind11::dict stopDict(const DataFileReport& report);

}  // namespace cdt
