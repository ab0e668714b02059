// What the sinks writing through HDF5 (netCDF-4 and MATLAB 7.3 files) share
// of the library.
#include <hdf5.h>

#include "export/column_sink.h"

namespace cdt {

std::mutex& hdf5Lock() {
  static std::mutex lock;
  return lock;
}

// HDF5 keeps the blocks it frees (chunk buffers among them) on free lists of
// up to 16 MiB each for blocks and for factories, filled as a long write goes
// on: a file's memory then grew with its length for most of the first
// gigabyte. Small lists hand such blocks back to malloc at once, so a sink
// writing through HDF5 runs in memory fixed from its first batch.
void boundHdf5Memory() {
  constexpr int kGlobal = 1 << 20;
  constexpr int kList = 64 << 10;
  (void)H5set_free_list_limits(kGlobal, kList, kGlobal, kList, kGlobal, kList);
}

}  // namespace cdt
