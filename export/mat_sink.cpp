// The level-5 MATLAB sink. The exporter counts the lines first, so the
// whole file is laid out before the first line comes (export/mat5_layout.h):
// begin() writes every fixed byte and sizes the file, and each batch's
// columns are then written in place, each at its column's position. Memory
// is a batch's, whatever the recording's length, and the file is written
// once, at the disk's speed.
//
// Compressed files hold each variable as a zlib stream (miCOMPRESSED) of
// the variable's element, whose compressed size only its end tells: the
// layout is then written to an uncompressed copy beside the output, and
// finish() compresses it variable by variable on all cores into the output.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "export/column_sink.h"
#include "export/mat5_deflate.h"
#include "export/mat5_layout.h"
#include "foundation/byte_order.h"
#include "foundation/file_system.h"
#include "foundation/staged_output.h"

namespace cdt {

namespace {

// The batches' values are written as they lie in memory, and the file is
// little-endian (its header says so).
static_assert(std::endian::native == std::endian::little);

class MatSink : public ColumnSink {
 public:
  explicit MatSink(const MatOptions& options) : options_(options) {}
  ~MatSink() override {
    if (file_ != nullptr) std::fclose(file_);
  }

  bool needsLineCount() const override { return true; }
  bool begin(const std::string& path, const SinkDescription& description) override;
  bool write(const LineColumns& columns, std::size_t rows) override;
  bool finish() override;

 private:
  // Records the first failure; false.
  bool fail(const std::string& what, int code);
  // Writes `n` bytes at `offset` of the layout's file.
  bool put(uint64_t offset, const void* data, std::size_t n);
  const void* valuesOf(const Mat5Column& column, const LineColumns& c) const;
  // A deflection column's `rows` values, NaN where there is none.
  const double* deflections(const Mat5Column& column, const LineColumns& c, std::size_t rows);
  bool compress();

  MatOptions options_;
  std::string path_;
  Mat5Layout layout_;
  uint64_t expected_ = 0;
  bool statuses_ = false;  // a set's status variables are written
  uint64_t lines_ = 0;
  // The file the layout is written to: the output, or when compressing
  // its uncompressed copy `raw_`, removed once the output is made.
  std::FILE* file_ = nullptr;
  StagedOutput raw_;
  std::vector<double> seconds_;
  std::vector<SinkProbe> probes_;
  std::vector<double> deflections_;
};

bool MatSink::fail(const std::string& what, int code) {
  if (error_.empty()) {
    error_ = what;
    errorCode_ = code;
  }
  return false;
}

bool MatSink::put(uint64_t offset, const void* data, std::size_t n) {
  errno = 0;
  if (!seekFile(file_, static_cast<int64_t>(offset), SEEK_SET) ||
      std::fwrite(data, 1, n, file_) != n) {
    return fail("cannot write the file", errno);
  }
  return true;
}

bool MatSink::begin(const std::string& path, const SinkDescription& description) {
  path_ = path;
  if (!description.lines) return fail("the lines were not counted", 0);
  expected_ = *description.lines;
  statuses_ = !description.statusHosts.empty();
  probes_ = description.probes;
  layout_ = planMat5File(description, expected_);
  if (!layout_.tooLarge.empty()) {
    return fail("'" + layout_.tooLarge +
                    "' would hold more than 4 GiB, too much for a level-5 MAT-file "
                    "(--mat73 writes version 7.3, which holds it)",
                0);
  }
  std::string target = path;
  if (options_.compressionLevel > 0) {
    if (!raw_.create(path + ".raw") || !raw_.closeStream()) return fail(raw_.error(), 0);
    target = raw_.stagedPath();
  }
  errno = 0;
  file_ = openFile(target.c_str(), "r+b");
  if (file_ == nullptr) return fail("cannot open the file", errno);
  // The file exists now: a failure to size it or to write its fixed bytes
  // is a failed write, which write() and finish() report.
  errno = 0;
  if (!truncateFile(file_, layout_.size)) {
    (void)fail("cannot write the file", errno);
    return true;
  }
  for (const Mat5Run& run : layout_.runs) {
    if (!put(run.offset, run.bytes.data(), run.bytes.size())) break;
  }
  return true;
}

const void* MatSink::valuesOf(const Mat5Column& column, const LineColumns& c) const {
  switch (column.source) {
    case Mat5Source::Seconds:
      return seconds_.data();
    case Mat5Source::Sync:
      return c.sync;
    case Mat5Source::StartRevolution:
      return c.startRevolution;
    case Mat5Source::EndRevolution:
      return c.endRevolution;
    case Mat5Source::Floats:
      return c.floats + std::size_t{column.row} * c.stride;
    case Mat5Source::Doubles:
      return c.doubles + std::size_t{column.row} * c.stride;
    case Mat5Source::Status:
      return status_ + std::size_t{column.row} * c.stride;
    case Mat5Source::Deflection:
      break;
  }
  return nullptr;
}

const double* MatSink::deflections(const Mat5Column& column, const LineColumns& c,
                                   std::size_t rows) {
  const SinkProbe& probe = probes_[column.probe];
  const uint8_t* status = statuses_ ? status_ + std::size_t{probe.host} * c.stride : nullptr;
  deflections_.resize(rows);
  for (std::size_t r = 0; r < rows; ++r) {
    deflections_[r] = sinkDeflection(probe, column.row, c, r, status != nullptr ? status[r] : 0);
  }
  return deflections_.data();
}

bool MatSink::write(const LineColumns& c, std::size_t rows) {
  if (file_ == nullptr || !error_.empty()) return false;
  if (rows > expected_ - lines_) return fail("the recording has more lines than were counted", 0);
  if (statuses_ && status_ == nullptr) return fail("a set's lines came without their statuses", 0);
  seconds_.resize(rows);
  for (std::size_t r = 0; r < rows; ++r) seconds_[r] = static_cast<double>(c.time[r]) / 1e6;
  // The batch's columns hold their values as the file does (native
  // little-endian), each column's rows contiguous.
  for (const Mat5Column& column : layout_.columns) {
    const std::size_t bytes = mat5ValueBytes(column.source);
    const void* values = column.source == Mat5Source::Deflection ? deflections(column, c, rows)
                                                                 : valuesOf(column, c);
    if (!put(column.offset + lines_ * bytes, values, rows * bytes)) return false;
  }
  lines_ += rows;
  return true;
}

bool MatSink::compress() {
  errno = 0;
  std::FILE* out = openFile(path_.c_str(), "wb");
  if (out == nullptr) return fail("cannot open the file", errno);
  const auto writeFailed = [&](int code) {
    std::fclose(out);
    return fail("cannot write the file", code);
  };
  const std::string& header = layout_.runs.front().bytes;
  errno = 0;
  if (std::fwrite(header.data(), 1, kMat5HeaderSize, out) != kMat5HeaderSize) {
    return writeFailed(errno);
  }
  uint64_t at = kMat5HeaderSize;
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  for (const Mat5Variable& v : layout_.variables) {
    unsigned char tag[8];
    storeU32(tag, kMiCompressed);
    storeU32(tag + 4, 0);
    errno = 0;
    if (std::fwrite(tag, 1, 8, out) != 8) return writeFailed(errno);
    const DeflateOutcome d =
        deflateRange({file_, v.offset, v.bytes, out, options_.compressionLevel, threads});
    if (!d.ok) {
      std::fclose(out);
      return fail(d.error, d.errorCode);
    }
    if (d.written > kMat5MostElementBytes) {
      std::fclose(out);
      return fail("'" + v.name + "' compresses to more than 4 GiB, too much for a level-5 MAT-file",
                  0);
    }
    // The tag's byte count, now known.
    storeU32(tag + 4, static_cast<uint32_t>(d.written));
    errno = 0;
    if (!seekFile(out, static_cast<int64_t>(at + 4), SEEK_SET) ||
        std::fwrite(tag + 4, 1, 4, out) != 4 || !seekFile(out, 0, SEEK_END)) {
      return writeFailed(errno);
    }
    at += 8 + d.written;
  }
  errno = 0;
  if (std::fclose(out) != 0) return fail("cannot close the file", errno);
  return true;
}

bool MatSink::finish() {
  if (file_ == nullptr) return false;
  if (error_.empty() && lines_ != expected_) {
    (void)fail("the recording has fewer lines than were counted", 0);
  }
  errno = 0;
  if (error_.empty() && std::fflush(file_) != 0) (void)fail("cannot write the file", errno);
  bool good = error_.empty() && (options_.compressionLevel == 0 || compress());
  errno = 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (good && !closed) good = fail("cannot close the file", errno);
  raw_.discard();
  return good;
}

}  // namespace

std::unique_ptr<ColumnSink> makeMatSink(const MatOptions& options) {
  if (options.version73) return makeMat73Sink();
  return std::make_unique<MatSink>(options);
}

}  // namespace cdt
