// Builds without zlib have no level-5 MATLAB sink; version 7.3 needs only
// HDF5.
#include "export/column_sink.h"

namespace cdt {

std::unique_ptr<ColumnSink> makeMatSink(const MatOptions& options) {
  return options.version73 ? makeMat73Sink() : nullptr;
}

}  // namespace cdt
