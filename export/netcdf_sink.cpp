// The netCDF-4 sink: dimensions `line` (unlimited) and a blade dimension
// (`blade`, or one per stage, `blade_STAGE`, where the probes watch several
// stages), a variable per column group, written batch by batch as the lines
// come, so memory stays at one batch whatever the recording's length.
//
// The variables follow the CF conventions as far as they reach: each says
// its unit and what it is (units, long_name) from the table of units; `time`
// counts microseconds since 1970 UTC as a CF time, and it and `start_rev`
// are the coordinates of every line variable (a `coordinates` attribute), so
// that xarray opens `time` as a datetime coordinate. `line` stays the
// dimension: a recording's times need not rise strictly, as a dimension's
// coordinate must. Lengths are in the installation's clearance unit, which
// the files call "mm" (as on real installations) with a comment that says
// so; no number is scaled.
//
// A probe's variables hold netCDF's default fill value (their _FillValue)
// exactly where the CSV's cell is empty, so that readers mask those cells
// (xarray as NaN, netCDF4 as masked) while a recorded NaN stays NaN. The
// fill value is not NaN: readers take a NaN _FillValue to mask every NaN. A
// recorded value equal to the fill value could not be told from an empty
// cell: the write fails, naming it, rather than lose it.
#include <netcdf.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "csv/quantity_units.h"
#include "export/column_sink.h"

namespace cdt {

namespace {

// Lines per chunk of every variable along `line`.
constexpr std::size_t kChunkLines = 4096;

class NetCdfSink : public ColumnSink {
 public:
  explicit NetCdfSink(const NetCdfOptions& options) : options_(options) {}
  ~NetCdfSink() override {
    std::lock_guard lock(hdf5Lock());
    if (open_ && nc_close(id_) != NC_NOERR) (void)truncate(path_.c_str(), 0);
  }

  bool begin(const std::string& path, const SinkDescription& description) override;
  bool write(const LineColumns& columns, std::size_t rows) override;
  bool finish() override;

 private:
  struct ProbeVars {
    int rms = -1;
    int dns = -1;
    int bladeDns = -1;
    int bladeToa = -1;
    int deflection = -1;
    std::size_t blades = 0;
  };

  // Records the first failure; true when `status` is success. Called under
  // the lock. netCDF says only "HDF error" of a failed write: the system's
  // cause is on HDF5's error stack, of this failure or of a later one (a
  // failed write often shows only when the file is closed).
  bool ok(int status, const char* what) {
    if (status == NC_NOERR) return true;
    if (error_.empty()) error_ = std::string(what) + ": " + nc_strerror(status);
    const int code = hdf5SystemError();
    if (errorCode_ == 0) errorCode_ = code;
    return false;
  }
  int defineLineVariable(const std::string& name, nc_type type, int blades, Quantity quantity);
  bool text(int variable, const char* name, const std::string& value) {
    return ok(nc_put_att_text(id_, variable, name, value.size(), value.data()), name);
  }

  NetCdfOptions options_;
  SinkDescription description_;
  std::string path_;
  int id_ = -1;
  bool open_ = false;
  int lineDim_ = -1;
  int time_ = -1, speed_ = -1, sync_ = -1, startRev_ = -1, endRev_ = -1;
  std::vector<ProbeVars> probeVars_;
  std::vector<int> statusVars_;  // a set's, per host
  // Copies `rows` values of `variable` (the batch's rows `first` on) to
  // `out`, `step` apart, with the fill value where `empty` says (none:
  // nowhere); false (with the error) when a recorded value is the fill
  // value.
  template <class T>
  bool fill(const T* values, const uint8_t* empty, std::size_t rows, T* out, std::size_t step,
            int variable, std::size_t first = 0);

  std::size_t lines_ = 0;
  std::vector<float> transposed_;
  std::vector<float> floats_;
  std::vector<double> doubles_;
};

template <class T>
bool NetCdfSink::fill(const T* values, const uint8_t* empty, std::size_t rows, T* out,
                      std::size_t step, int variable, std::size_t first) {
  constexpr T kFill = sizeof(T) == 4 ? T(NC_FILL_FLOAT) : T(NC_FILL_DOUBLE);
  std::size_t clash = rows;
  for (std::size_t r = 0; r < rows; ++r) {
    const bool none = empty != nullptr && empty[r] != 0;
    if (!none && values[r] == kFill && clash == rows) clash = r;
    out[r * step] = none ? kFill : values[r];
  }
  if (clash == rows) return true;
  char name[NC_MAX_NAME + 1] = {};
  {
    std::lock_guard lock(hdf5Lock());
    (void)nc_inq_varname(id_, variable, name);
  }
  if (error_.empty()) {
    error_ = "line ";
    error_ += std::to_string(lines_ + first + clash + 1);
    error_ += " of ";
    error_ += name;
    error_ += " holds netCDF's fill value, which marks an empty cell";
  }
  return false;
}

int NetCdfSink::defineLineVariable(const std::string& name, nc_type type, int bladeDim,
                                   Quantity quantity) {
  int dims[2] = {lineDim_, bladeDim};
  const int rank = bladeDim >= 0 ? 2 : 1;
  int variable = -1;
  if (!ok(nc_def_var(id_, name.c_str(), type, rank, dims, &variable), "defining a variable")) {
    return -1;
  }
  std::size_t bladeLength = 1;
  if (bladeDim >= 0) (void)nc_inq_dimlen(id_, bladeDim, &bladeLength);
  const std::size_t chunks[2] = {kChunkLines, bladeLength == 0 ? 1 : bladeLength};
  (void)ok(nc_def_var_chunking(id_, variable, NC_CHUNKED, chunks), "chunking a variable");
  // Lines are appended once, a whole chunk per batch, and never read back:
  // a cache of one chunk per variable is all a write needs. It is full from
  // the first batch on, so memory stays flat whatever the length (a larger
  // cache fills over several batches; none at all makes HDF5 allocate more).
  std::size_t typeSize = 0;
  (void)nc_inq_type(id_, type, nullptr, &typeSize);
  const std::size_t chunkBytes = kChunkLines * chunks[1] * typeSize;
  (void)ok(nc_set_var_chunk_cache(id_, variable, chunkBytes, 1, 1.0f), "chunk cache");
  if (options_.compressionLevel > 0) {
    (void)ok(nc_def_var_deflate(id_, variable, 1, 1, options_.compressionLevel), "compression");
  }
  const QuantityUnit& unit = quantityUnit(quantity);
  if (*unit.unit != '\0') (void)text(variable, "units", unit.unit);
  (void)text(variable, "long_name", unit.longName);
  if (unit.installation) {
    (void)text(variable, "comment",
               "in the installation's clearance unit (mm on real installations), as recorded");
  } else if (quantity == Quantity::Rms) {
    // No unit the file could name: the comment says so.
    (void)text(variable, "comment", unit.description);
  }
  if (quantity != Quantity::Time && quantity != Quantity::StartRevolution) {
    (void)text(variable, "coordinates", "time start_rev");
  }
  return variable;
}

bool NetCdfSink::begin(const std::string& path, const SinkDescription& description) {
  description_ = description;
  path_ = path;
  std::lock_guard lock(hdf5Lock());
  setUpHdf5();
  quietHdf5();
  if (!ok(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &id_), "creating the file")) {
    return false;
  }
  open_ = true;
  (void)ok(nc_set_fill(id_, NC_NOFILL, nullptr), "fill mode");
  if (!ok(nc_def_dim(id_, "line", NC_UNLIMITED, &lineDim_), "defining the line dimension")) {
    return false;
  }
  // One blade dimension per stage, with the blade numbers as its coordinate.
  std::map<uint32_t, int> stageDims;
  std::set<std::string> names = {"line", "time", "speed", "sync", "start_rev", "end_rev"};
  const auto unique = [&names](std::string name) {
    const std::string base = name;
    for (int n = 2; !names.insert(name).second; ++n) name = base + "_" + std::to_string(n);
    return name;
  };
  std::map<uint32_t, std::pair<int, std::vector<uint32_t>>> stageBlades;
  std::set<uint32_t> bladeStages;
  for (const SinkProbe& probe : description.probes) {
    if (!probe.blades.empty()) bladeStages.insert(probe.stageIndex);
  }
  for (const SinkProbe& probe : description.probes) {
    if (probe.blades.empty() || stageDims.count(probe.stageIndex) != 0) continue;
    const std::string name =
        unique(bladeStages.size() == 1 ? std::string("blade") : "blade_" + validName(probe.stage));
    int dim = -1;
    int coordinate = -1;
    if (!ok(nc_def_dim(id_, name.c_str(), probe.blades.size(), &dim),
            "defining a blade dimension") ||
        !ok(nc_def_var(id_, name.c_str(), NC_INT, 1, &dim, &coordinate), "defining blades")) {
      return false;
    }
    (void)text(coordinate, "long_name", "blade number (1-based) of stage " + probe.stage);
    stageDims[probe.stageIndex] = dim;
    stageBlades[probe.stageIndex] = {coordinate, probe.blades};
  }

  time_ = defineLineVariable("time", NC_INT64, -1, Quantity::Time);
  (void)text(time_, "standard_name", "time");
  (void)text(time_, "calendar", "proleptic_gregorian");
  speed_ = defineLineVariable("speed", NC_FLOAT, -1, Quantity::Speed);
  sync_ = defineLineVariable("sync", NC_UBYTE, -1, Quantity::Sync);
  {
    const unsigned char flags[2] = {0, 1};
    (void)ok(nc_put_att_uchar(id_, sync_, "flag_values", NC_UBYTE, 2, flags), "flag values");
    (void)text(sync_, "flag_meanings", "not_synchronised synchronised");
  }
  startRev_ = defineLineVariable("start_rev", NC_UINT64, -1, Quantity::StartRevolution);
  endRev_ = defineLineVariable("end_rev", NC_UINT64, -1, Quantity::EndRevolution);

  // A probe's variables begin with its MATLAB field name: probes of the same
  // name stay apart as NAME, NAME_2 and so on.
  const std::vector<std::string> bases = probeFieldNames(description.probes);
  for (std::size_t p = 0; p < description.probes.size(); ++p) {
    const SinkProbe& probe = description.probes[p];
    ProbeVars vars;
    vars.blades = probe.blades.size();
    const std::string& base = bases[p];
    const auto define = [&](const char* suffix, nc_type type, int dim, Quantity quantity) {
      const int variable = defineLineVariable(unique(base + suffix), type, dim, quantity);
      if (type == NC_FLOAT) {
        const float fill = NC_FILL_FLOAT;
        (void)ok(nc_put_att_float(id_, variable, "_FillValue", NC_FLOAT, 1, &fill), "fill value");
      } else {
        const double fill = NC_FILL_DOUBLE;
        (void)ok(nc_put_att_double(id_, variable, "_FillValue", NC_DOUBLE, 1, &fill), "fill value");
      }
      (void)text(variable, "probe", probe.name);
      (void)text(variable, "stage", probe.stage);
      std::string what = probe.name;
      what += ": ";
      what += quantityUnit(quantity).longName;
      (void)text(variable, "long_name", what);
      return variable;
    };
    if (description.plan.quantities.rms) vars.rms = define("_rms", NC_FLOAT, -1, Quantity::Rms);
    if (description.plan.quantities.dns)
      vars.dns = define("_dns", NC_DOUBLE, -1, Quantity::DnsMean);
    if (vars.blades > 0) {
      const int dim = stageDims[probe.stageIndex];
      if (description.plan.quantities.bladeDns)
        vars.bladeDns = define("_blade_dns", NC_FLOAT, dim, Quantity::BladeDns);
      if (description.plan.quantities.bladeToa) {
        vars.bladeToa = define("_blade_toa", NC_FLOAT, dim, Quantity::BladeToa);
      }
      if (description.plan.quantities.deflection) {
        vars.deflection = define("_deflection", NC_DOUBLE, dim, Quantity::Deflection);
      }
    }
    probeVars_.push_back(vars);
  }
  const std::vector<std::string> statuses = statusNames(description.statusHosts);
  for (std::size_t h = 0; h < statuses.size(); ++h) {
    const int variable =
        defineLineVariable(unique(statuses[h]), NC_UBYTE, -1, Quantity::HostStatus);
    const std::string& host = description.statusHosts[h];
    (void)text(variable, "host", host);
    std::string what = "status of host ";
    what += host;
    what += ": 0, or a sum of 1 (no line), 2 (time off), 4 (speed off)";
    (void)text(variable, "long_name", what);
    statusVars_.push_back(variable);
  }
  (void)text(NC_GLOBAL, "source", description.sourcePath);
  if (!description.sourcePaths.empty()) {
    std::string sources;
    for (const std::string& path : description.sourcePaths) sources += path + "\n";
    sources.pop_back();
    (void)text(NC_GLOBAL, "sources", sources);
  }
  (void)text(NC_GLOBAL, "configuration", description.configurationText);
  (void)text(NC_GLOBAL, "history", "written by cdt export");
  (void)text(NC_GLOBAL, "Conventions", "CF-1.8");
  if (!error_.empty() || !ok(nc_enddef(id_), "ending the definitions")) return false;
  for (const auto& [stage, coordinate] : stageBlades) {
    std::vector<int> numbers(coordinate.second.begin(), coordinate.second.end());
    if (!ok(nc_put_var_int(id_, coordinate.first, numbers.data()), "writing blade numbers")) {
      return false;
    }
  }
  return true;
}

bool NetCdfSink::write(const LineColumns& c, std::size_t rows) {
  if (rows == 0) return true;
  const std::size_t start[2] = {lines_, 0};
  const std::size_t count[2] = {rows, 0};
  // The lock is taken for each library call only, so that another file's
  // batch can be turned around meanwhile.
  const auto put = [this](const char* what, auto&& call) {
    std::lock_guard lock(hdf5Lock());
    quietHdf5();  // error printing is a thread's own setting
    return ok(call(), what);
  };
  bool good =
      put("writing time",
          [&] {
            return nc_put_vara_longlong(id_, time_, start, count,
                                        reinterpret_cast<const long long*>(c.time));
          }) &&
      put("writing speed",
          [&] { return nc_put_vara_float(id_, speed_, start, count, c.floats); }) &&
      put("writing sync", [&] { return nc_put_vara_uchar(id_, sync_, start, count, c.sync); }) &&
      put("writing start_rev",
          [&] {
            return nc_put_vara_ulonglong(
                id_, startRev_, start, count,
                reinterpret_cast<const unsigned long long*>(c.startRevolution));
          }) &&
      put("writing end_rev", [&] {
        return nc_put_vara_ulonglong(id_, endRev_, start, count,
                                     reinterpret_cast<const unsigned long long*>(c.endRevolution));
      });
  if (!statusVars_.empty() && status_ == nullptr) {
    error_ = "a set's lines came without their statuses";
    return false;
  }
  for (std::size_t h = 0; good && h < statusVars_.size(); ++h) {
    const uint8_t* status = status_ + h * c.stride;
    good = put("writing a status",
               [&] { return nc_put_vara_uchar(id_, statusVars_[h], start, count, status); });
  }
  for (std::size_t p = 0; good && p < description_.probes.size(); ++p) {
    const SinkProbe& probe = description_.probes[p];
    const ProbeVars& vars = probeVars_[p];
    if (vars.rms >= 0) {
      floats_.resize(rows);
      good = fill(c.floats + std::size_t{probe.rmsRow} * c.stride, floatEmpties(c, probe.rmsRow),
                  rows, floats_.data(), 1, vars.rms) &&
             put("writing rms",
                 [&] { return nc_put_vara_float(id_, vars.rms, start, count, floats_.data()); });
    }
    if (good && vars.dns >= 0) {
      doubles_.resize(rows);
      good = fill(c.doubles + std::size_t{probe.dnsRow} * c.stride, doubleEmpties(c, probe.dnsRow),
                  rows, doubles_.data(), 1, vars.dns) &&
             put("writing dns",
                 [&] { return nc_put_vara_double(id_, vars.dns, start, count, doubles_.data()); });
    }
    // The blocks hold one blade's lines after another; the variables are
    // line by blade, so a batch is turned around before it is written, a
    // tile of lines at a time so that reads and writes both stay in cache.
    for (const auto& [variable, row] : {std::pair{vars.bladeDns, probe.bladeDnsRow},
                                        std::pair{vars.bladeToa, probe.bladeToaRow}}) {
      if (!good || variable < 0) continue;
      const std::size_t blades = vars.blades;
      transposed_.resize(rows * blades);
      constexpr std::size_t kTile = 64;
      for (std::size_t r0 = 0; good && r0 < rows; r0 += kTile) {
        const std::size_t r1 = std::min(rows, r0 + kTile);
        for (std::size_t b = 0; good && b < blades; ++b) {
          const std::size_t from = std::size_t{row} + b;
          const uint8_t* empty = floatEmpties(c, from, r0);
          good = fill(c.floats + from * c.stride + r0, empty, r1 - r0,
                      transposed_.data() + r0 * blades + b, blades, variable, r0);
        }
      }
      if (!good) continue;
      const std::size_t count2[2] = {rows, blades};
      const int id = variable;  // a structured binding cannot be captured
      good = put("writing blade values",
                 [&] { return nc_put_vara_float(id_, id, start, count2, transposed_.data()); });
    }
    if (good && vars.deflection >= 0) {
      // Computed from the TOA, line by blade; the fill value where there
      // is none.
      const std::size_t blades = vars.blades;
      const uint8_t* status =
          status_ != nullptr ? status_ + std::size_t{probe.host} * c.stride : nullptr;
      doubles_.resize(rows * blades);
      for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t b = 0; b < blades; ++b) {
          const double x = sinkDeflection(probe, b, c, r, status != nullptr ? status[r] : 0);
          doubles_[r * blades + b] = std::isnan(x) ? NC_FILL_DOUBLE : x;
        }
      }
      const std::size_t count2[2] = {rows, blades};
      good = put("writing deflections", [&] {
        return nc_put_vara_double(id_, vars.deflection, start, count2, doubles_.data());
      });
    }
  }
  if (good) lines_ += rows;
  return good;
}

bool NetCdfSink::finish() {
  std::lock_guard lock(hdf5Lock());
  if (!open_) return false;
  quietHdf5();
  open_ = false;
  if (!ok(nc_close(id_), "closing the file")) {
    // netCDF gives up a file whose last writes failed but leaves it open in
    // HDF5, which cannot close it (see setUpHdf5): its disk space is handed
    // back now, before its owner removes it, rather than at the exit.
    (void)truncate(path_.c_str(), 0);
    return false;
  }
  return error_.empty();
}

}  // namespace

std::unique_ptr<ColumnSink> makeNetCdfSink(const NetCdfOptions& options) {
  return std::make_unique<NetCdfSink>(options);
}

}  // namespace cdt
