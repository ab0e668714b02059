// Closing HDF5 files whose writes failed (hdf5_library.cpp), for the sinks
// that hold HDF5 identifiers themselves.
#pragma once

#include <hdf5.h>

namespace cdt {

// Flushes and closes `file`; under the lock. When the flush fails, false
// with `code` the errno HDF5 reports (0 when none), and the file is closed
// all the same, its writes sent to the null device.
bool closeHdf5File(hid_t file, int& code);

}  // namespace cdt
