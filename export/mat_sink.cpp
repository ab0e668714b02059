// The MATLAB sink through matio: every variable is gathered in memory while
// the lines come and written when they end (a level-5 file is written a
// whole variable at a time), compressed with zlib. Version 7.3 files are
// written by mat73_sink.cpp as the lines come; this sink writes them only in
// a build without HDF5 of its own.
#include <matio.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>

#include "export/column_sink.h"
#include "foundation/byte_order.h"
#include "foundation/utf16.h"

namespace cdt {

namespace {

struct ProbeColumns {
  std::vector<float> rms;
  std::vector<double> dns;
  std::vector<std::vector<float>> bladeDns;  // one column of lines per blade
  std::vector<std::vector<float>> bladeToa;
};

class MatSink : public ColumnSink {
 public:
  explicit MatSink(const MatOptions& options) : options_(options) {}
  ~MatSink() override {
    if (mat_ != nullptr) Mat_Close(mat_);
  }

  bool begin(const std::string& path, const SinkDescription& description) override;
  bool write(const LineColumns& columns, std::size_t rows) override;
  bool finish() override;

 private:
  bool put(matvar_t* variable);

  MatOptions options_;
  SinkDescription description_;
  std::string path_;
  mat_t* mat_ = nullptr;
  std::vector<double> time_;
  std::vector<float> speed_;
  std::vector<uint8_t> sync_;
  std::vector<uint64_t> startRev_;
  std::vector<uint64_t> endRev_;
  std::vector<ProbeColumns> probes_;
};

// A variable over `data` (not copied: it must outlive the variable's write).
template <typename T>
matvar_t* numeric(const char* name, matio_classes type, matio_types data, std::size_t rows,
                  std::size_t cols, const T* values, int flags = 0) {
  std::size_t dims[2] = {rows, cols};
  return Mat_VarCreate(name, type, data, 2, dims, const_cast<T*>(values),
                       MAT_F_DONT_COPY_DATA | flags);
}

// A char array of UTF-16 code units (miUTF16), as MATLAB keeps its text: its
// length is its count of units, so every reader sizes it alike (UTF-8 data
// with the count of characters as its length is read short or not at all;
// scipy decodes miUINT16 text with the system's codec, not as UTF-16).
// `units` must outlive the variable's write.
matvar_t* text(const char* name, const std::u16string& units) {
  std::size_t dims[2] = {1, units.size()};
  return Mat_VarCreate(name, MAT_C_CHAR, MAT_T_UTF16, 2, dims, const_cast<char16_t*>(units.data()),
                       MAT_F_DONT_COPY_DATA);
}

// Whether `bytes` bytes from the position of `f` are one whole zlib stream
// that holds one data element: its tag, then exactly its byte count, padded
// to 8.
bool wholeCompressedElement(std::FILE* f, uint32_t bytes) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  std::vector<unsigned char> in(1 << 16);
  std::vector<unsigned char> out(1 << 16);
  unsigned char tag[8] = {};
  uint64_t inflated = 0;
  int status = Z_OK;
  uint32_t left = bytes;
  for (;;) {
    if (z.avail_in == 0 && left > 0) {
      const std::size_t n = std::fread(in.data(), 1, std::min<std::size_t>(left, in.size()), f);
      if (n == 0) break;
      left -= static_cast<uint32_t>(n);
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(n);
    }
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    status = inflate(&z, Z_NO_FLUSH);
    const std::size_t produced = out.size() - z.avail_out;
    for (std::size_t i = 0; i < produced && inflated + i < 8; ++i) tag[inflated + i] = out[i];
    inflated += produced;
    if (status != Z_OK && status != Z_BUF_ERROR) break;
    if (z.avail_in == 0 && left == 0 && produced == 0) break;  // the stream is cut short
  }
  const bool ended = status == Z_STREAM_END && z.avail_in == 0 && left == 0;
  inflateEnd(&z);
  return ended && inflated >= 8 && inflated == 8 + (uint64_t{loadU32(tag + 4)} + 7) / 8 * 8;
}

// Whether the level-5 file at `path` is whole: the 128-byte header, then
// `variables` data elements, each an 8-byte tag (type, byte count) and its
// bytes (padded to 8 unless compressed), ending exactly at the file's end,
// and each compressed one a whole zlib stream. matio does not check its own
// writes and counts the bytes its writes took, so a write that failed (a
// full disk, a file size limit) shows only here: as a file that ends early,
// or as a compressed element cut short.
bool wholeMatFile(const std::string& path, std::size_t variables) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  constexpr long kHeader = 128;
  constexpr uint32_t kCompressed = 15;  // miCOMPRESSED
  bool whole = std::fseek(f, 0, SEEK_END) == 0;
  const long size = whole ? std::ftell(f) : -1;
  long at = kHeader;
  std::size_t count = 0;
  while (whole && size >= 0 && at + 8 <= size) {
    unsigned char tag[8];
    whole = std::fseek(f, at, SEEK_SET) == 0 && std::fread(tag, 1, 8, f) == 8;
    const uint32_t type = loadU32(tag);
    const uint32_t bytes = loadU32(tag + 4);
    const bool compressed = type == kCompressed;
    const uint64_t padded = compressed ? bytes : (uint64_t{bytes} + 7) / 8 * 8;
    if (static_cast<uint64_t>(size - at - 8) < padded) {
      whole = false;
      break;
    }
    whole = whole && (!compressed || wholeCompressedElement(f, bytes));
    at += 8 + static_cast<long>(padded);
    ++count;
  }
  std::fclose(f);
  return whole && size >= kHeader && at == size && count == variables;
}

// The columns of one blade quantity as one lines x blades matrix, column
// after column as MATLAB stores it.
std::vector<float> matrix(const std::vector<std::vector<float>>& columns, std::size_t lines) {
  std::vector<float> values;
  values.reserve(columns.size() * lines);
  for (const std::vector<float>& column : columns)
    values.insert(values.end(), column.begin(), column.end());
  return values;
}

bool MatSink::begin(const std::string& path, const SinkDescription& description) {
  description_ = description;
  path_ = path;
  probes_.resize(description.probes.size());
  for (std::size_t p = 0; p < probes_.size(); ++p) {
    probes_[p].bladeDns.resize(description.probes[p].blades.size());
    probes_[p].bladeToa.resize(description.probes[p].blades.size());
  }
  mat_ = Mat_CreateVer(path.c_str(), "cdt export", options_.version73 ? MAT_FT_MAT73 : MAT_FT_MAT5);
  if (mat_ == nullptr) {
    error_ = "cannot create the file";
    return false;
  }
  return true;
}

bool MatSink::write(const LineColumns& c, std::size_t rows) {
  for (std::size_t r = 0; r < rows; ++r) time_.push_back(static_cast<double>(c.time[r]) / 1e6);
  speed_.insert(speed_.end(), c.floats, c.floats + rows);
  sync_.insert(sync_.end(), c.sync, c.sync + rows);
  startRev_.insert(startRev_.end(), c.startRevolution, c.startRevolution + rows);
  endRev_.insert(endRev_.end(), c.endRevolution, c.endRevolution + rows);
  const ColumnPlan& plan = description_.plan;
  for (std::size_t p = 0; p < probes_.size(); ++p) {
    const uint32_t slot = description_.probes[p].slot;
    ProbeColumns& to = probes_[p];
    const float* rms = c.floats + std::size_t{plan.rmsRow[slot]} * c.stride;
    const double* dns = c.doubles + std::size_t{plan.dnsRow[slot]} * c.stride;
    to.rms.insert(to.rms.end(), rms, rms + rows);
    to.dns.insert(to.dns.end(), dns, dns + rows);
    for (std::size_t b = 0; b < to.bladeDns.size(); ++b) {
      const float* d = c.floats + (std::size_t{plan.bladeDnsRow[slot]} + b) * c.stride;
      to.bladeDns[b].insert(to.bladeDns[b].end(), d, d + rows);
      if (plan.layout.withTimeOfArrival) {
        const float* t = c.floats + (std::size_t{plan.bladeToaRow[slot]} + b) * c.stride;
        to.bladeToa[b].insert(to.bladeToa[b].end(), t, t + rows);
      }
    }
  }
  return true;
}

bool MatSink::put(matvar_t* variable) {
  if (variable == nullptr) {
    error_ = "cannot make a variable";
    return false;
  }
  const bool written = Mat_VarWrite(mat_, variable, MAT_COMPRESSION_ZLIB) == 0;
  Mat_VarFree(variable);
  if (!written) error_ = "cannot write a variable";
  return written;
}

bool MatSink::finish() {
  if (mat_ == nullptr) return false;
  const std::size_t n = time_.size();
  // The variables' texts as UTF-16, alive until the last write.
  std::deque<std::u16string> texts;
  const auto utf16 = [&texts](const std::string& value) -> const std::u16string& {
    return texts.emplace_back(utf8ToUtf16(value));
  };
  errno = 0;
  bool good = put(numeric("time", MAT_C_DOUBLE, MAT_T_DOUBLE, n, 1, time_.data())) &&
              put(numeric("speed", MAT_C_SINGLE, MAT_T_SINGLE, n, 1, speed_.data())) &&
              put(numeric("sync", MAT_C_UINT8, MAT_T_UINT8, n, 1, sync_.data(), MAT_F_LOGICAL)) &&
              put(numeric("start_rev", MAT_C_UINT64, MAT_T_UINT64, n, 1, startRev_.data())) &&
              put(numeric("end_rev", MAT_C_UINT64, MAT_T_UINT64, n, 1, endRev_.data())) &&
              put(text("configuration", utf16(description_.configurationText)));

  // probes: a struct with one field per probe.
  const std::vector<std::string> fieldNames = probeFieldNames(description_.probes);
  std::vector<const char*> fields;
  for (const std::string& f : fieldNames) fields.push_back(f.c_str());
  std::size_t one[2] = {1, 1};
  matvar_t* probes =
      Mat_VarCreateStruct("probes", 2, one, fields.data(), static_cast<unsigned>(fields.size()));
  std::vector<std::vector<float>> matrices;  // alive until the struct is written
  matrices.reserve(2 * probes_.size());
  const char* probeFields[] = {"name", "stage", "blades", "rms", "dns", "blade_dns", "blade_toa"};
  std::vector<std::vector<double>> bladeNumbers;
  bladeNumbers.reserve(probes_.size());
  for (std::size_t p = 0; good && probes != nullptr && p < probes_.size(); ++p) {
    const SinkProbe& probe = description_.probes[p];
    ProbeColumns& columns = probes_[p];
    matvar_t* field = Mat_VarCreateStruct(nullptr, 2, one, probeFields, 7);
    Mat_VarSetStructFieldByName(field, "name", 0, text("name", utf16(probe.name)));
    Mat_VarSetStructFieldByName(field, "stage", 0, text("stage", utf16(probe.stage)));
    bladeNumbers.emplace_back(probe.blades.begin(), probe.blades.end());
    Mat_VarSetStructFieldByName(field, "blades", 0,
                                numeric("blades", MAT_C_DOUBLE, MAT_T_DOUBLE, 1,
                                        bladeNumbers.back().size(), bladeNumbers.back().data()));
    if (description_.plan.quantities.rms) {
      Mat_VarSetStructFieldByName(
          field, "rms", 0, numeric("rms", MAT_C_SINGLE, MAT_T_SINGLE, n, 1, columns.rms.data()));
    }
    if (description_.plan.quantities.dns) {
      Mat_VarSetStructFieldByName(
          field, "dns", 0, numeric("dns", MAT_C_DOUBLE, MAT_T_DOUBLE, n, 1, columns.dns.data()));
    }
    const std::size_t blades = columns.bladeDns.size();
    if (description_.plan.quantities.bladeDns) {
      matrices.push_back(matrix(columns.bladeDns, n));
      Mat_VarSetStructFieldByName(
          field, "blade_dns", 0,
          numeric("blade_dns", MAT_C_SINGLE, MAT_T_SINGLE, n, blades, matrices.back().data()));
    }
    if (description_.plan.quantities.bladeToa) {
      matrices.push_back(matrix(columns.bladeToa, n));
      Mat_VarSetStructFieldByName(
          field, "blade_toa", 0,
          numeric("blade_toa", MAT_C_SINGLE, MAT_T_SINGLE, n, blades, matrices.back().data()));
    }
    Mat_VarSetStructFieldByName(probes, fields[p], 0, field);
  }
  if (good) {
    good = put(probes);
  } else if (probes != nullptr) {
    Mat_VarFree(probes);
  }
  const bool closed = Mat_Close(mat_) == 0;
  // The errno of matio's failed write, if one failed: nothing since has
  // failed that would have set it.
  const int code = errno;
  mat_ = nullptr;
  if (good && !closed) error_ = "cannot close the file";
  // time, speed, sync, start_rev, end_rev, configuration and probes.
  constexpr std::size_t kVariables = 7;
  if (good && closed && !wholeMatFile(path_, kVariables)) {
    error_ = "the file was not written whole";
    good = false;
  }
  if (!(good && closed)) errorCode_ = code;
  return good && closed;
}

}  // namespace

std::unique_ptr<ColumnSink> makeMatSink(const MatOptions& options) {
  if (options.version73) {
    if (std::unique_ptr<ColumnSink> sink = makeMat73Sink()) return sink;
  }
  return std::make_unique<MatSink>(options);
}

}  // namespace cdt
