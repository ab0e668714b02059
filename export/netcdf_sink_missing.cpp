// Builds without the netCDF library have no netCDF sink.
#include "export/column_sink.h"

namespace cdt {

std::unique_ptr<ColumnSink> makeNetCdfSink(const NetCdfOptions&) {
  return nullptr;
}

}  // namespace cdt
