// Builds without the matio library have no MATLAB sink.
#include "export/column_sink.h"

namespace cdt {

std::unique_ptr<ColumnSink> makeMatSink(const MatOptions&) {
  return nullptr;
}

}  // namespace cdt
