// A build without libzstd writes no ZSTD pages.
#include "export/parquet_codec.h"

namespace cdt {

std::unique_ptr<PageCodec> makeZstdCodec(int) {
  return nullptr;
}

}  // namespace cdt
