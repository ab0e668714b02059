// The MATLAB version 7.3 sink. The file is HDF5 laid out as MATLAB lays out
// its own: the MAT header in a 512-byte user block, a dataset per array and a
// group per struct, dimensions in reverse order (HDF5 is row-major, MATLAB
// column-major), the class in a MATLAB_class attribute. It is written with
// HDF5 directly so that every line variable, the fields of the probe structs
// among them, grows batch by batch as the lines come: memory stays at a few
// chunks per variable whatever the recording's length. (matio's append grows
// neither logical arrays nor the fields of a struct.)
#include <hdf5.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "export/column_sink.h"
#include "export/hdf5_files.h"
#include "foundation/utf16.h"

namespace cdt {

namespace {

// A chunk of a line variable holds all its columns for a power of two of
// lines, at most a full batch and at most about kChunkBytes (chunks pass
// through buffers of their size on their way to the file). Batches of 4096
// lines thus fill whole chunks, each compressed once.
constexpr hsize_t kMostChunkLines = 4096;
constexpr hsize_t kLeastChunkLines = 64;
constexpr hsize_t kChunkBytes = 256 * 1024;
// The shuffle filter puts the like bytes of the values together, which
// zlib's fastest level then packs better than its best level packs the
// values as they are, in a fraction of the time.
constexpr unsigned kDeflateLevel = 1;
// HDF5's metadata cache, kept small and fixed: it holds the chunk index
// (B-tree) nodes, whose number grows with the lines, and each takes several
// times its size in memory. The nodes a write needs stay in it.
constexpr std::size_t kMetadataCacheBytes = 64 * 1024;

// An HDF5 identifier, closed when it goes out of scope.
class Handle {
 public:
  using Closer = herr_t (*)(hid_t);
  Handle() = default;
  Handle(hid_t id, Closer closer) : id_(id), closer_(closer) {}
  Handle(Handle&& other) noexcept
      : id_(std::exchange(other.id_, H5I_INVALID_HID)), closer_(other.closer_) {}
  Handle& operator=(Handle&& other) noexcept {
    (void)close();
    id_ = std::exchange(other.id_, H5I_INVALID_HID);
    closer_ = other.closer_;
    return *this;
  }
  ~Handle() { (void)close(); }
  hid_t get() const { return id_; }
  bool valid() const { return id_ >= 0; }
  hid_t release() { return std::exchange(id_, H5I_INVALID_HID); }
  // Closes now; false when that fails (closing a dataset writes its last
  // chunks).
  bool close() {
    const bool closed = id_ < 0 || closer_(id_) >= 0;
    id_ = H5I_INVALID_HID;
    return closed;
  }

 private:
  hid_t id_ = H5I_INVALID_HID;
  Closer closer_ = nullptr;
};

herr_t closeFile(hid_t file) {
  int code = 0;
  return closeHdf5File(file, code) ? 0 : -1;
}

Handle space(int rank, const hsize_t* dims, const hsize_t* maxDims = nullptr) {
  return {H5Screate_simple(rank, dims, maxDims), H5Sclose};
}

bool stringAttribute(hid_t object, const char* name, const char* value) {
  Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
  Handle scalar(H5Screate(H5S_SCALAR), H5Sclose);
  if (!type.valid() || H5Tset_size(type.get(), std::strlen(value)) < 0) return false;
  Handle attribute(H5Acreate2(object, name, type.get(), scalar.get(), H5P_DEFAULT, H5P_DEFAULT),
                   H5Aclose);
  return attribute.valid() && H5Awrite(attribute.get(), type.get(), value) >= 0;
}

template <typename T>
bool numberAttribute(hid_t object, const char* name, hid_t fileType, hid_t memoryType, T value) {
  Handle scalar(H5Screate(H5S_SCALAR), H5Sclose);
  Handle attribute(H5Acreate2(object, name, fileType, scalar.get(), H5P_DEFAULT, H5P_DEFAULT),
                   H5Aclose);
  return attribute.valid() && H5Awrite(attribute.get(), memoryType, &value) >= 0;
}

// MATLAB_class, and MATLAB_int_decode for the classes kept as integers: 1
// for logical (uint8), 2 for char (UTF-16 code units).
bool classAttributes(hid_t object, const char* matlabClass) {
  if (!stringAttribute(object, "MATLAB_class", matlabClass)) return false;
  const int decode = std::strcmp(matlabClass, "logical") == 0 ? 1
                     : std::strcmp(matlabClass, "char") == 0  ? 2
                                                              : 0;
  return decode == 0 ||
         numberAttribute(object, "MATLAB_int_decode", H5T_STD_I32LE, H5T_NATIVE_INT, decode);
}

// An empty array (a dimension is 0): its dimensions stand as its data.
bool writeEmpty(hid_t parent, const char* name, const char* matlabClass, hsize_t rows,
                hsize_t columns) {
  const hsize_t two = 2;
  const unsigned long long dims[2] = {rows, columns};
  Handle shape = space(1, &two);
  Handle set(
      H5Dcreate2(parent, name, H5T_STD_U64LE, shape.get(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
      H5Dclose);
  return set.valid() && stringAttribute(set.get(), "MATLAB_class", matlabClass) &&
         (std::strcmp(matlabClass, "logical") != 0 ||
          numberAttribute(set.get(), "MATLAB_int_decode", H5T_STD_I32LE, H5T_NATIVE_INT, 1)) &&
         numberAttribute(set.get(), "MATLAB_empty", H5T_STD_U32LE, H5T_NATIVE_UINT, 1u) &&
         H5Dwrite(set.get(), H5T_NATIVE_ULLONG, H5S_ALL, H5S_ALL, H5P_DEFAULT, dims) >= 0;
}

// A whole rows x columns array at once.
bool writeArray(hid_t parent, const char* name, const char* matlabClass, hid_t fileType,
                hid_t memoryType, hsize_t rows, hsize_t columns, const void* data) {
  if (rows == 0 || columns == 0) return writeEmpty(parent, name, matlabClass, rows, columns);
  const hsize_t dims[2] = {columns, rows};
  Handle shape = space(2, dims);
  Handle set(H5Dcreate2(parent, name, fileType, shape.get(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
             H5Dclose);
  return set.valid() && classAttributes(set.get(), matlabClass) &&
         H5Dwrite(set.get(), memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) >= 0;
}

// A MATLAB char array holds UTF-16 code units.
bool writeText(hid_t parent, const char* name, const std::string& text) {
  const std::u16string units = utf8ToUtf16(text);
  return writeArray(parent, name, "char", H5T_STD_U16LE, H5T_NATIVE_UINT16, 1, units.size(),
                    units.data());
}

// A 1 x 1 struct: a group naming its fields in order.
Handle createStruct(hid_t parent, const char* name, const std::vector<std::string>& fields) {
  Handle group(H5Gcreate2(parent, name, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Gclose);
  if (!group.valid() || !stringAttribute(group.get(), "MATLAB_class", "struct")) return {};
  if (fields.empty()) return group;
  std::vector<hvl_t> names;
  for (const std::string& f : fields) names.push_back({f.size(), const_cast<char*>(f.data())});
  Handle character(H5Tcopy(H5T_C_S1), H5Tclose);
  if (!character.valid() || H5Tset_size(character.get(), 1) < 0) return {};
  Handle type(H5Tvlen_create(character.get()), H5Tclose);
  const hsize_t count = names.size();
  Handle shape = space(1, &count);
  Handle attribute(
      H5Acreate2(group.get(), "MATLAB_fields", type.get(), shape.get(), H5P_DEFAULT, H5P_DEFAULT),
      H5Aclose);
  if (!attribute.valid() || H5Awrite(attribute.get(), type.get(), names.data()) < 0) return {};
  return group;
}

// Where a batch holds a line variable's values, which also gives its class
// (Status: a set's status rows, ColumnSink::writeSet; Deflection: doubles
// computed from a probe's blade TOA, sinkDeflection).
enum class Source : uint8_t {
  Seconds,
  Sync,
  StartRevolution,
  EndRevolution,
  Floats,
  Doubles,
  Status,
  Deflection
};

struct Kind {
  const char* matlabClass;
  hid_t fileType;
  hid_t memoryType;
};

Kind kindOf(Source source) {
  switch (source) {
    case Source::Sync:
      return {"logical", H5T_STD_U8LE, H5T_NATIVE_UINT8};
    case Source::Status:
      return {"uint8", H5T_STD_U8LE, H5T_NATIVE_UINT8};
    case Source::StartRevolution:
    case Source::EndRevolution:
      return {"uint64", H5T_STD_U64LE, H5T_NATIVE_UINT64};
    case Source::Floats:
      return {"single", H5T_IEEE_F32LE, H5T_NATIVE_FLOAT};
    case Source::Seconds:
    case Source::Doubles:
    case Source::Deflection:
      break;
  }
  return {"double", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE};
}

// A lines x columns variable that grows with the lines. Its dataset is made
// with the first lines; one that never gets any is written empty at the end.
struct LineVariable {
  hid_t parent;  // the group it belongs to
  std::string name;
  Source source;
  uint32_t row = 0;  // of the float or double block (the blades follow it), or the host
  hsize_t columns = 1;
  Handle dataset;
  uint32_t probe = 0;  // a deflection's: its place in the description's probes
};

class Mat73Sink : public ColumnSink {
 public:
  // HDF5 may not be thread-safe where the sink is built: its calls, the
  // closing of the handles included, take the shared lock.
  ~Mat73Sink() override {
    std::lock_guard lock(hdf5Lock());
    variables_.clear();
    groups_.clear();
    (void)file_.close();
  }
  bool begin(const std::string& path, const SinkDescription& description) override;
  bool write(const LineColumns& columns, std::size_t rows) override;
  bool finish() override;

 private:
  // Records the first failure, with HDF5's own account of it; `good` passes.
  bool ok(bool good, const std::string& what);
  bool create(LineVariable& variable);
  bool append(LineVariable& variable, const void* values, hsize_t stride, hsize_t rows);
  const void* valuesOf(const LineVariable& variable, const LineColumns& c) const;
  // A deflection variable's values, its blades' columns one after another
  // (`rows` apart), NaN where there is none.
  const double* deflections(const LineVariable& variable, const LineColumns& c, std::size_t rows);

  std::string path_;
  Handle file_;                 // closed last
  std::vector<Handle> groups_;  // probes, then one per probe
  std::vector<LineVariable> variables_;
  std::vector<double> seconds_;
  std::vector<SinkProbe> probes_;
  std::vector<double> deflections_;
  hsize_t lines_ = 0;
  bool statuses_ = false;  // a set's status variables are written
};

bool Mat73Sink::ok(bool good, const std::string& what) {
  if (good) return good;
  if (error_.empty()) {
    error_ = what;
    // The innermost error on HDF5's stack says what went wrong underneath
    // (such as the system's reason a write failed).
    std::string cause;
    (void)H5Ewalk2(
        H5E_DEFAULT, H5E_WALK_UPWARD,
        [](unsigned n, const H5E_error2_t* e, void* data) -> herr_t {
          if (n == 0 && e->desc != nullptr) *static_cast<std::string*>(data) = e->desc;
          return 0;
        },
        &cause);
    if (!cause.empty()) error_ += ": " + cause;
  }
  const int code = hdf5SystemError();
  if (errorCode_ == 0) errorCode_ = code;
  return false;
}

bool Mat73Sink::begin(const std::string& path, const SinkDescription& description) {
  path_ = path;
  std::lock_guard lock(hdf5Lock());
  setUpHdf5();
  (void)H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);  // failures are reported through error()
  // The user block holds the MAT header; the oldest object formats keep
  // the file readable by the older HDF5 that older MATLAB releases carry.
  Handle creation(H5Pcreate(H5P_FILE_CREATE), H5Pclose);
  Handle access(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
#if H5_VERSION_GE(1, 10, 2)
  const H5F_libver_t newest = H5F_LIBVER_V18;
#else
  const H5F_libver_t newest = H5F_LIBVER_LATEST;
#endif
  H5AC_cache_config_t cache;
  cache.version = H5AC__CURR_CACHE_CONFIG_VERSION;
  if (!ok(creation.valid() && access.valid() && H5Pset_userblock(creation.get(), 512) >= 0 &&
              H5Pset_libver_bounds(access.get(), H5F_LIBVER_EARLIEST, newest) >= 0 &&
              H5Pget_mdc_config(access.get(), &cache) >= 0,
          "cannot set up the file")) {
    return false;
  }
  cache.set_initial_size = true;
  cache.initial_size = cache.min_size = cache.max_size = kMetadataCacheBytes;
  cache.incr_mode = H5C_incr__off;
  cache.flash_incr_mode = H5C_flash_incr__off;
  cache.decr_mode = H5C_decr__off;
  if (!ok(H5Pset_mdc_config(access.get(), &cache) >= 0, "cannot set up the file")) return false;
  file_ = Handle(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, creation.get(), access.get()), closeFile);
  if (!ok(file_.valid(), "cannot create the file")) return false;
  const hid_t root = file_.get();

  for (const auto& [name, source] :
       {std::pair{"time", Source::Seconds}, std::pair{"speed", Source::Floats},
        std::pair{"sync", Source::Sync}, std::pair{"start_rev", Source::StartRevolution},
        std::pair{"end_rev", Source::EndRevolution}}) {
    variables_.push_back({root, name, source, 0, 1, {}});  // the speed is row 0 of the floats
  }
  bool good = ok(writeText(root, "configuration", description.configurationText),
                 "cannot write the configuration");
  {
    const std::vector<std::pair<std::string, std::string>> units = matUnitTexts();
    std::vector<std::string> unitFields;
    for (const auto& field : units) unitFields.push_back(field.first);
    const Handle group = createStruct(root, "units", unitFields);
    good = good && ok(group.valid(), "cannot write units");
    for (const auto& field : units) {
      good = good &&
             ok(writeText(group.get(), field.first.c_str(), field.second), "cannot write units");
    }
  }

  // probes: a struct with one field per probe.
  const std::vector<std::string> fieldNames = probeFieldNames(description.probes);
  groups_.push_back(createStruct(root, "probes", fieldNames));
  good = good && ok(groups_.back().valid(), "cannot write probes");
  const std::vector<std::string> probeFields = {"name", "stage",     "blades",    "rms",
                                                "dns",  "blade_dns", "blade_toa", "deflection"};
  probes_ = description.probes;
  for (std::size_t p = 0; good && p < description.probes.size(); ++p) {
    const SinkProbe& probe = description.probes[p];
    groups_.push_back(createStruct(groups_[0].get(), fieldNames[p].c_str(), probeFields));
    const hid_t group = groups_.back().get();
    const std::vector<double> blades(probe.blades.begin(), probe.blades.end());
    good = ok(groups_.back().valid() && writeText(group, "name", probe.name) &&
                  writeText(group, "stage", probe.stage) &&
                  writeArray(group, "blades", "double", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, 1,
                             blades.size(), blades.data()),
              "cannot write the probe " + probe.name);
    const Quantities& shown = description.plan.quantities;
    const struct {
      const char* name;
      bool kept;
      Source source;
      uint32_t row;
      hsize_t columns;
    } quantities[] = {
        {"rms", shown.rms, Source::Floats, probe.rmsRow, 1},
        {"dns", shown.dns, Source::Doubles, probe.dnsRow, 1},
        {"blade_dns", shown.bladeDns, Source::Floats, probe.bladeDnsRow, blades.size()},
        {"blade_toa", shown.bladeToa, Source::Floats, probe.bladeToaRow, blades.size()},
        {"deflection", shown.deflection, Source::Deflection, 0, blades.size()}};
    for (const auto& q : quantities) {
      if (q.kept) {
        variables_.push_back(
            {group, q.name, q.source, q.row, q.columns, {}, static_cast<uint32_t>(p)});
      } else {
        // Left out: an empty double, as an unset struct field is.
        good = good && ok(writeEmpty(group, q.name, "double", 0, 0),
                          "cannot write the probe " + probe.name);
      }
    }
  }
  // A set's: its hosts' files and their statuses.
  if (!description.sourcePaths.empty()) {
    std::string sources;
    for (const std::string& path : description.sourcePaths) sources += path + "\n";
    sources.pop_back();
    good = good && ok(writeText(root, "sources", sources), "cannot write the sources");
  }
  const std::vector<std::string> statuses = statusNames(description.statusHosts);
  for (std::size_t h = 0; h < statuses.size(); ++h) {
    variables_.push_back({root, statuses[h], Source::Status, static_cast<uint32_t>(h), 1, {}});
  }
  statuses_ = !statuses.empty();
  return good;
}

bool Mat73Sink::create(LineVariable& v) {
  const Kind kind = kindOf(v.source);
  const hsize_t lineBytes = v.columns * H5Tget_size(kind.fileType);
  hsize_t chunkLines = kMostChunkLines;
  while (chunkLines > kLeastChunkLines && chunkLines * lineBytes > kChunkBytes) chunkLines /= 2;
  const hsize_t dims[2] = {v.columns, 0};
  const hsize_t maxDims[2] = {v.columns, H5S_UNLIMITED};
  const hsize_t chunk[2] = {v.columns, chunkLines};
  // A chunk cache of one chunk: a batch that leaves its last chunk part
  // filled leaves it there for the next batch, instead of compressing it
  // now and reading it back then.
  Handle shape = space(2, dims, maxDims);
  Handle creation(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
  Handle access(H5Pcreate(H5P_DATASET_ACCESS), H5Pclose);
  if (!creation.valid() || !access.valid() || H5Pset_chunk(creation.get(), 2, chunk) < 0 ||
      H5Pset_shuffle(creation.get()) < 0 || H5Pset_deflate(creation.get(), kDeflateLevel) < 0 ||
      H5Pset_chunk_cache(access.get(), 101, chunkLines * lineBytes, 1.0) < 0) {
    return false;
  }
  v.dataset = Handle(H5Dcreate2(v.parent, v.name.c_str(), kind.fileType, shape.get(), H5P_DEFAULT,
                                creation.get(), access.get()),
                     H5Dclose);
  return v.dataset.valid() && classAttributes(v.dataset.get(), kind.matlabClass);
}

bool Mat73Sink::append(LineVariable& v, const void* values, hsize_t stride, hsize_t rows) {
  if (!v.dataset.valid() && !create(v)) return false;
  const hsize_t extent[2] = {v.columns, lines_ + rows};
  const hsize_t start[2] = {0, lines_};
  const hsize_t origin[2] = {0, 0};
  const hsize_t count[2] = {v.columns, rows};
  // In memory the columns are rows of `stride` values.
  const hsize_t memoryDims[2] = {v.columns, stride};
  if (H5Dset_extent(v.dataset.get(), extent) < 0) return false;
  Handle fileSpace(H5Dget_space(v.dataset.get()), H5Sclose);
  Handle memorySpace = space(2, memoryDims);
  return fileSpace.valid() && memorySpace.valid() &&
         H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start, nullptr, count, nullptr) >=
             0 &&
         H5Sselect_hyperslab(memorySpace.get(), H5S_SELECT_SET, origin, nullptr, count, nullptr) >=
             0 &&
         H5Dwrite(v.dataset.get(), kindOf(v.source).memoryType, memorySpace.get(), fileSpace.get(),
                  H5P_DEFAULT, values) >= 0;
}

const void* Mat73Sink::valuesOf(const LineVariable& v, const LineColumns& c) const {
  switch (v.source) {
    case Source::Seconds:
      return seconds_.data();
    case Source::Sync:
      return c.sync;
    case Source::StartRevolution:
      return c.startRevolution;
    case Source::EndRevolution:
      return c.endRevolution;
    case Source::Floats:
      return c.floats + std::size_t{v.row} * c.stride;
    case Source::Doubles:
      return c.doubles + std::size_t{v.row} * c.stride;
    case Source::Status:
      return status_ + std::size_t{v.row} * c.stride;
    case Source::Deflection:
      break;
  }
  return nullptr;
}

const double* Mat73Sink::deflections(const LineVariable& v, const LineColumns& c,
                                     std::size_t rows) {
  const SinkProbe& probe = probes_[v.probe];
  const uint8_t* status = statuses_ ? status_ + std::size_t{probe.host} * c.stride : nullptr;
  deflections_.resize(rows * v.columns);
  for (std::size_t k = 0; k < v.columns; ++k) {
    for (std::size_t r = 0; r < rows; ++r) {
      deflections_[k * rows + r] =
          sinkDeflection(probe, k, c, r, status != nullptr ? status[r] : 0);
    }
  }
  return deflections_.data();
}

bool Mat73Sink::write(const LineColumns& c, std::size_t rows) {
  if (!file_.valid() || !error_.empty()) return false;
  if (rows == 0) return true;
  if (statuses_ && status_ == nullptr) {
    error_ = "a set's lines came without their statuses";
    return false;
  }
  std::lock_guard lock(hdf5Lock());
  // Error stacks are per thread, and writes may run on another thread than
  // begin.
  (void)H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  seconds_.resize(rows);
  for (std::size_t r = 0; r < rows; ++r) seconds_[r] = static_cast<double>(c.time[r]) / 1e6;
  for (LineVariable& v : variables_) {
    if (v.columns == 0) continue;  // no blades: stays empty
    const bool computed = v.source == Source::Seconds || v.source == Source::Deflection;
    const hsize_t stride = computed ? rows : c.stride;
    const void* values = v.source == Source::Deflection ? deflections(v, c, rows) : valuesOf(v, c);
    if (!ok(append(v, values, stride, rows), "cannot write " + v.name)) return false;
  }
  lines_ += rows;
  return true;
}

bool Mat73Sink::finish() {
  std::unique_lock lock(hdf5Lock());
  if (!file_.valid()) return false;
  bool good = error_.empty();
  for (LineVariable& v : variables_) {
    if (good && !v.dataset.valid()) {
      good =
          ok(writeEmpty(v.parent, v.name.c_str(), kindOf(v.source).matlabClass, lines_, v.columns),
             "cannot write " + v.name);
    }
    good = ok(v.dataset.close(), "cannot write " + v.name) && good;
  }
  for (Handle& group : groups_) good = ok(group.close(), "cannot close a group") && good;
  int code = 0;
  good = ok(closeHdf5File(file_.release(), code), "cannot close the file") && good;
  if (errorCode_ == 0) errorCode_ = code;
  lock.unlock();
  if (!good) return false;

  // The MAT header: text, no subsystem data, version 0x0200 and the
  // endianness mark, little-endian. HDF5 leaves the user block to its owner.
  char header[128];
  std::memset(header, ' ', sizeof header);
  const char text[] = "MATLAB 7.3 MAT-file, written by cdt export, HDF5 schema 1.00 .";
  std::memcpy(header, text, sizeof text - 1);
  std::memcpy(header + 124, "\x00\x02IM", 4);
  errno = 0;
  std::FILE* f = std::fopen(path_.c_str(), "r+b");
  const bool written = f != nullptr && std::fwrite(header, 1, sizeof header, f) == sizeof header;
  const int writeError = errno;
  const bool closed = f != nullptr && std::fclose(f) == 0;
  if (!written || !closed) {
    error_ = "cannot write the MAT header";
    errorCode_ = written ? errno : writeError;
  }
  return written && closed;
}

}  // namespace

std::unique_ptr<ColumnSink> makeMat73Sink() {
  return std::make_unique<Mat73Sink>();
}

}  // namespace cdt
