// Builds without HDF5 cannot write version 7.3 files.
#include "export/column_sink.h"

namespace cdt {

std::unique_ptr<ColumnSink> makeMat73Sink() {
  return nullptr;
}

}  // namespace cdt
