// GZIP pages (RFC 1952 members, as Parquet's GZIP codec has them) through
// zlib; one stream each way, reset for every page.
#include <zlib.h>

#include <climits>

#include "export/parquet_codec.h"

namespace cdt {

namespace {

// zlib's window of 2^15 bytes, plus 16: a gzip header and trailer.
constexpr int kGzipWindow = 15 + 16;

class GzipCodec : public PageCodec {
 public:
  explicit GzipCodec(int level) : level_(level) {}
  ~GzipCodec() override {
    if (deflating_) deflateEnd(&deflate_);
    if (inflating_) inflateEnd(&inflate_);
  }
  GzipCodec(const GzipCodec&) = delete;
  GzipCodec& operator=(const GzipCodec&) = delete;

  bool compress(const void* data, std::size_t size, std::string& out) override {
    if (size > UINT_MAX) return false;
    if (!deflating_) {
      if (deflateInit2(&deflate_, level_, Z_DEFLATED, kGzipWindow, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return false;
      }
      deflating_ = true;
    } else if (deflateReset(&deflate_) != Z_OK) {
      return false;
    }
    // zlib names the system it runs on in the gzip header; "unknown" (255)
    // keeps the files the same bytes on every system.
    header_.os = 255;
    if (deflateSetHeader(&deflate_, &header_) != Z_OK) return false;
    out.resize(deflateBound(&deflate_, static_cast<uLong>(size)));
    deflate_.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    deflate_.avail_in = static_cast<uInt>(size);
    deflate_.next_out = reinterpret_cast<Bytef*>(out.data());
    deflate_.avail_out = static_cast<uInt>(out.size());
    if (deflate(&deflate_, Z_FINISH) != Z_STREAM_END) return false;
    out.resize(out.size() - deflate_.avail_out);
    return true;
  }

  bool decompress(const void* data, std::size_t size, std::size_t expected,
                  std::string& out) override {
    if (size > UINT_MAX || expected > UINT_MAX) return false;
    if (!inflating_) {
      if (inflateInit2(&inflate_, kGzipWindow) != Z_OK) return false;
      inflating_ = true;
    } else if (inflateReset(&inflate_) != Z_OK) {
      return false;
    }
    out.resize(expected);
    inflate_.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    inflate_.avail_in = static_cast<uInt>(size);
    inflate_.next_out = reinterpret_cast<Bytef*>(out.data());
    inflate_.avail_out = static_cast<uInt>(expected);
    // A page that holds more than it says stops short of the stream's end.
    const int status = inflate(&inflate_, Z_FINISH);
    return status == Z_STREAM_END && inflate_.avail_out == 0;
  }

 private:
  int level_;
  z_stream deflate_{};
  gz_header header_{};
  z_stream inflate_{};
  bool deflating_ = false;
  bool inflating_ = false;
};

}  // namespace

std::unique_ptr<PageCodec> makeGzipCodec(int level) {
  return std::make_unique<GzipCodec>(level);
}

}  // namespace cdt
