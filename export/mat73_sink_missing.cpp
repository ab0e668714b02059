// Builds without HDF5 leave version 7.3 files to matio, when they have it.
#include "export/column_sink.h"

namespace cdt {

std::unique_ptr<ColumnSink> makeMat73Sink() {
  return nullptr;
}

}  // namespace cdt
