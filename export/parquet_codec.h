// The compression of Parquet pages: GZIP through zlib, ZSTD through libzstd,
// each built where its library is found (parquet_gzip.cpp or its stub
// parquet_gzip_missing.cpp, likewise for zstd), so that a build without one
// says so rather than failing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace cdt {

enum class ParquetCodec : uint8_t { None, Gzip, Zstd };

// The codec's name on the command line ("none", "gzip", "zstd").
const char* parquetCodecName(ParquetCodec codec);
// Whether this build can write (and read) pages with `codec`.
bool parquetCodecAvailable(ParquetCodec codec);
// The levels the codec takes, and the one it uses when none is given.
struct ParquetLevels {
  int min = 0;
  int max = 0;
  int fallback = 0;
};
ParquetLevels parquetCodecLevels(ParquetCodec codec);

// Compresses and decompresses whole pages; one object per thread.
class PageCodec {
 public:
  virtual ~PageCodec() = default;
  // Replaces `out` with the compressed form of `size` bytes at `data`; false
  // when the library fails.
  [[nodiscard]] virtual bool compress(const void* data, std::size_t size, std::string& out) = 0;
  // Replaces `out` with the `expected` bytes that `size` compressed bytes
  // at `data` hold; false when they are damaged or hold another count.
  [[nodiscard]] virtual bool decompress(const void* data, std::size_t size, std::size_t expected,
                                        std::string& out) = 0;
};

// nullptr when this build lacks the codec (and for None).
std::unique_ptr<PageCodec> makeGzipCodec(int level);
std::unique_ptr<PageCodec> makeZstdCodec(int level);
std::unique_ptr<PageCodec> makePageCodec(ParquetCodec codec, int level);

}  // namespace cdt
