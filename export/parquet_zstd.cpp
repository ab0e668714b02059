// ZSTD pages (RFC 8878 frames) through libzstd; one context each way.
#include <zstd.h>

#include "export/parquet_codec.h"

namespace cdt {

namespace {

class ZstdCodec : public PageCodec {
 public:
  explicit ZstdCodec(int level) : level_(level) {}
  ~ZstdCodec() override {
    ZSTD_freeCCtx(compressor_);
    ZSTD_freeDCtx(decompressor_);
  }
  ZstdCodec(const ZstdCodec&) = delete;
  ZstdCodec& operator=(const ZstdCodec&) = delete;

  bool compress(const void* data, std::size_t size, std::string& out) override {
    if (compressor_ == nullptr) compressor_ = ZSTD_createCCtx();
    if (compressor_ == nullptr) return false;
    out.resize(ZSTD_compressBound(size));
    const std::size_t n =
        ZSTD_compressCCtx(compressor_, out.data(), out.size(), data, size, level_);
    if (ZSTD_isError(n) != 0) return false;
    out.resize(n);
    return true;
  }

  bool decompress(const void* data, std::size_t size, std::size_t expected,
                  std::string& out) override {
    if (decompressor_ == nullptr) decompressor_ = ZSTD_createDCtx();
    if (decompressor_ == nullptr) return false;
    out.resize(expected);
    const std::size_t n = ZSTD_decompressDCtx(decompressor_, out.data(), expected, data, size);
    return ZSTD_isError(n) == 0 && n == expected;
  }

 private:
  int level_;
  ZSTD_CCtx* compressor_ = nullptr;
  ZSTD_DCtx* decompressor_ = nullptr;
};

}  // namespace

std::unique_ptr<PageCodec> makeZstdCodec(int level) {
  return std::make_unique<ZstdCodec>(level);
}

}  // namespace cdt
