#include "export/parquet_codec.h"

namespace cdt {

const char* parquetCodecName(ParquetCodec codec) {
  switch (codec) {
    case ParquetCodec::None:
      return "none";
    case ParquetCodec::Gzip:
      return "gzip";
    case ParquetCodec::Zstd:
      return "zstd";
  }
  return "";
}

ParquetLevels parquetCodecLevels(ParquetCodec codec) {
  switch (codec) {
    case ParquetCodec::None:
      break;
    case ParquetCodec::Gzip:
      // Not zlib's own default of 6: on a recording's floats it takes four
      // times as long as 1 for half a percent less.
      return {1, 9, 1};
    case ParquetCodec::Zstd:
      return {1, 19, 3};  // zstd's own default; its levels past 19 need much memory
  }
  return {0, 0, 0};
}

std::unique_ptr<PageCodec> makePageCodec(ParquetCodec codec, int level) {
  switch (codec) {
    case ParquetCodec::None:
      break;
    case ParquetCodec::Gzip:
      return makeGzipCodec(level);
    case ParquetCodec::Zstd:
      return makeZstdCodec(level);
  }
  return nullptr;
}

bool parquetCodecAvailable(ParquetCodec codec) {
  return codec == ParquetCodec::None ||
         makePageCodec(codec, parquetCodecLevels(codec).fallback) != nullptr;
}

}  // namespace cdt
