// The MATLAB sink through matio: every variable is gathered in memory while
// the lines come and written when they end (a level-5 file is written a
// whole variable at a time), compressed with zlib. Version 7.3 files are
// written by mat73_sink.cpp as the lines come; this sink writes them only in
// a build without HDF5 of its own.
#include <matio.h>

#include <cstring>

#include "export/column_sink.h"

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

matvar_t* text(const char* name, const std::string& value) {
  std::size_t dims[2] = {1, value.size()};
  return Mat_VarCreate(name, MAT_C_CHAR, MAT_T_UTF8, 2, dims, const_cast<char*>(value.data()),
                       MAT_F_DONT_COPY_DATA);
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
  bool good = put(numeric("time", MAT_C_DOUBLE, MAT_T_DOUBLE, n, 1, time_.data())) &&
              put(numeric("speed", MAT_C_SINGLE, MAT_T_SINGLE, n, 1, speed_.data())) &&
              put(numeric("sync", MAT_C_UINT8, MAT_T_UINT8, n, 1, sync_.data(), MAT_F_LOGICAL)) &&
              put(numeric("start_rev", MAT_C_UINT64, MAT_T_UINT64, n, 1, startRev_.data())) &&
              put(numeric("end_rev", MAT_C_UINT64, MAT_T_UINT64, n, 1, endRev_.data())) &&
              put(text("configuration", description_.configurationText));

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
    Mat_VarSetStructFieldByName(field, "name", 0, text("name", probe.name));
    Mat_VarSetStructFieldByName(field, "stage", 0, text("stage", probe.stage));
    bladeNumbers.emplace_back(probe.blades.begin(), probe.blades.end());
    Mat_VarSetStructFieldByName(field, "blades", 0,
                                numeric("blades", MAT_C_DOUBLE, MAT_T_DOUBLE, 1,
                                        bladeNumbers.back().size(), bladeNumbers.back().data()));
    if (description_.rms) {
      Mat_VarSetStructFieldByName(
          field, "rms", 0, numeric("rms", MAT_C_SINGLE, MAT_T_SINGLE, n, 1, columns.rms.data()));
    }
    if (description_.dns) {
      Mat_VarSetStructFieldByName(
          field, "dns", 0, numeric("dns", MAT_C_DOUBLE, MAT_T_DOUBLE, n, 1, columns.dns.data()));
    }
    const std::size_t blades = columns.bladeDns.size();
    if (description_.bladeDns) {
      matrices.push_back(matrix(columns.bladeDns, n));
      Mat_VarSetStructFieldByName(
          field, "blade_dns", 0,
          numeric("blade_dns", MAT_C_SINGLE, MAT_T_SINGLE, n, blades, matrices.back().data()));
    }
    if (description_.bladeToa && description_.plan.layout.withTimeOfArrival) {
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
  mat_ = nullptr;
  if (good && !closed) error_ = "cannot close the file";
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
