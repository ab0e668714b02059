#include "python/src/columns.h"

#include <pybind11/numpy.h>

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "python/src/common.h"

namespace py = pybind11;

namespace cdt {

namespace {

// Rows of the pieces a whole read collects before the final arrays are
// made: about this many bytes each.
constexpr std::size_t kPieceBytes = 16u << 20;

ColumnSelection columnSelection(const Configuration& configuration, uint32_t host,
                                const Selection& selection) {
  ColumnSelection columns;
  columns.blades = selection.blades;
  std::sort(columns.blades.begin(), columns.blades.end());
  columns.blades.erase(std::unique(columns.blades.begin(), columns.blades.end()),
                       columns.blades.end());
  if (selection.probes) {
    const HostColumns hc = hostColumns(configuration, host, true);
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
      const Probe* probe = hc.probes[slot];
      columns.probes[slot] =
          probe != nullptr && std::find(selection.probes->begin(), selection.probes->end(),
                                        probe->name.view()) != selection.probes->end();
    }
  }
  return columns;
}

LineWindow lineWindow(const Selection& selection) {
  LineWindow window;
  window.start = selection.start;
  window.stop = selection.stop;
  window.firstRevolution = selection.firstRevolution;
  window.lastRevolution = selection.lastRevolution;
  return window;
}

// The host of the file's lines, from a look at its first blade record.
uint32_t linesHost(const std::string& path, bool salvage) {
  DataFileReport report;
  std::unique_ptr<DataFile> peek =
      openDataFile(path.c_str(), report, salvage ? ReadMode::Salvage : ReadMode::Normal);
  if (peek == nullptr) return 0;
  return firstLineHost(*peek).value_or(0);
}

py::list planList(const Configuration& configuration, uint32_t host, const ColumnPlan& plan) {
  const HostColumns hc = hostColumns(configuration, host, true);
  py::list list;
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!plan.kept[slot]) continue;
    py::dict probe;
    probe["slot"] = slot;
    probe["name"] = std::string(hc.probes[slot]->name.view());
    probe["rms_row"] = plan.rmsRow[slot];
    probe["dns_row"] = plan.dnsRow[slot];
    probe["blade_dns_row"] = plan.bladeDnsRow[slot];
    probe["blade_toa_row"] = plan.bladeToaRow[slot];
    py::list blades;
    for (uint32_t j : plan.blades[slot]) blades.append(j + 1);
    probe["blades"] = blades;
    list.append(probe);
  }
  return list;
}

// Pages of its own, given back to the system when released: the pieces
// of a read are released one by one while the final arrays fill, and memory
// from the heap might stay with the process.
class Mapping {
 public:
  explicit Mapping(std::size_t bytes) : bytes_(std::max<std::size_t>(bytes, 1)) {
    void* p = ::mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    // Huge pages where the system gives them on request: a fault per 4 KiB
    // page costs more than the copy into it.
    (void)::madvise(p, bytes_, MADV_HUGEPAGE);
    data_ = static_cast<unsigned char*>(p);
  }
  ~Mapping() { reset(); }
  Mapping(Mapping&& other) noexcept : data_(other.data_), bytes_(other.bytes_) {
    other.data_ = nullptr;
  }
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  Mapping& operator=(Mapping&&) = delete;
  unsigned char* get() const { return data_; }
  void reset() {
    if (data_ != nullptr) ::munmap(data_, bytes_);
    data_ = nullptr;
  }

 private:
  unsigned char* data_;
  std::size_t bytes_;
};

// One mapping holding every column for `stride` rows.
struct Piece {
  Piece(const ColumnPlan& plan, std::size_t rows)
      : storage(rows * (3 * 8 + 8 * plan.doubleRows + 4 * plan.floatRows + 1)), stride(rows) {
    unsigned char* p = storage.get();
    columns.stride = rows;
    columns.time = reinterpret_cast<int64_t*>(p);
    columns.startRevolution = reinterpret_cast<uint64_t*>(p + 8 * rows);
    columns.endRevolution = reinterpret_cast<uint64_t*>(p + 16 * rows);
    columns.doubles = reinterpret_cast<double*>(p + 24 * rows);
    columns.floats = reinterpret_cast<float*>(p + (24 + 8 * plan.doubleRows) * rows);
    columns.sync =
        reinterpret_cast<uint8_t*>(p + (24 + 8 * plan.doubleRows + 4 * plan.floatRows) * rows);
  }
  Mapping storage;
  LineColumns columns;
  std::size_t stride;
  std::size_t used = 0;
};

// numpy arrays for `rows` rows of the plan's columns.
struct Arrays {
  Arrays(const ColumnPlan& plan, std::size_t rows)
      : time(static_cast<py::ssize_t>(rows)),
        sync(static_cast<py::ssize_t>(rows)),
        startRevolution(static_cast<py::ssize_t>(rows)),
        endRevolution(static_cast<py::ssize_t>(rows)),
        floats({static_cast<py::ssize_t>(plan.floatRows), static_cast<py::ssize_t>(rows)}),
        doubles({static_cast<py::ssize_t>(plan.doubleRows), static_cast<py::ssize_t>(rows)}) {
    columns.stride = rows;
    columns.time = time.mutable_data();
    columns.sync = reinterpret_cast<uint8_t*>(sync.mutable_data());
    columns.startRevolution = startRevolution.mutable_data();
    columns.endRevolution = endRevolution.mutable_data();
    columns.floats = floats.mutable_data();
    columns.doubles = doubles.mutable_data();
  }
  py::dict dict(std::size_t rows) const {
    py::dict d;
    d["rows"] = rows;
    d["time"] = time;
    d["sync"] = sync;
    d["start_rev"] = startRevolution;
    d["end_rev"] = endRevolution;
    d["floats"] = floats;
    d["doubles"] = doubles;
    return d;
  }
  py::array_t<int64_t> time;
  py::array_t<bool> sync;
  py::array_t<uint64_t> startRevolution;
  py::array_t<uint64_t> endRevolution;
  py::array_t<float> floats;
  py::array_t<double> doubles;
  LineColumns columns;
};

// Copies `rows` rows of every column from `from` to row `at` of `to`.
void copyRows(const ColumnPlan& plan, const LineColumns& from, const LineColumns& to,
              std::size_t at, std::size_t rows) {
  std::memcpy(to.time + at, from.time, rows * 8);
  std::memcpy(to.sync + at, from.sync, rows);
  std::memcpy(to.startRevolution + at, from.startRevolution, rows * 8);
  std::memcpy(to.endRevolution + at, from.endRevolution, rows * 8);
  for (uint32_t r = 0; r < plan.floatRows; ++r) {
    std::memcpy(to.floats + r * to.stride + at, from.floats + r * from.stride, rows * 4);
  }
  for (uint32_t r = 0; r < plan.doubleRows; ++r) {
    std::memcpy(to.doubles + r * to.stride + at, from.doubles + r * from.stride, rows * 8);
  }
}

}  // namespace

py::list probeList(const Configuration& configuration, uint32_t hostIndex) {
  const HostColumns hc = hostColumns(configuration, hostIndex, true);
  py::list list;
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (hc.probes[slot] == nullptr) continue;
    py::dict probe;
    probe["slot"] = slot;
    probe["name"] = std::string(hc.probes[slot]->name.view());
    probe["blades"] = hc.layout.blades[slot];
    list.append(probe);
  }
  return list;
}

py::dict readLines(DataFile& file, const std::string& path, bool salvage,
                   const Selection& selection) {
  std::vector<Piece> pieces;
  std::size_t total = 0;
  uint32_t host = 0;
  ColumnPlan plan;
  {
    py::gil_scoped_release release;
    host = linesHost(path, salvage);
    plan = planColumns(hostColumns(file.configuration(), host, true).layout,
                       columnSelection(file.configuration(), host, selection));
    const std::size_t rowBytes = 3 * 8 + 8 * plan.doubleRows + 4 * plan.floatRows + 1;
    const std::size_t pieceRows = std::max<std::size_t>(1, kPieceBytes / rowBytes);
    LineReader reader(file, plan, lineWindow(selection));
    while (!reader.ended()) {
      Piece& piece = pieces.emplace_back(plan, pieceRows);
      piece.used = reader.read(piece.columns, 0, pieceRows);
      total += piece.used;
    }
  }
  Arrays arrays(plan, total);
  {
    py::gil_scoped_release release;
    std::size_t at = 0;
    for (Piece& piece : pieces) {
      copyRows(plan, piece.columns, arrays.columns, at, piece.used);
      at += piece.used;
      piece.storage.reset();
    }
  }
  py::dict d = arrays.dict(total);
  d["probes"] = planList(file.configuration(), host, plan);
  d["stopped"] = stopDict(file.lastReadStatus());
  return d;
}

BatchReader::BatchReader(const std::string& path, bool salvage, const Selection& selection,
                         std::size_t rows)
    : rows_(std::max<std::size_t>(rows, 1)) {
  file_ = openOrRaise(path, salvage);
  uint32_t host = 0;
  ColumnPlan plan;
  {
    py::gil_scoped_release release;
    host = linesHost(path, salvage);
    plan = planColumns(hostColumns(file_->configuration(), host, true).layout,
                       columnSelection(file_->configuration(), host, selection));
    reader_ = std::make_unique<LineReader>(*file_, plan, lineWindow(selection));
  }
  plan_ = planList(file_->configuration(), host, plan);
}

py::object BatchReader::next() {
  std::unique_lock lock(mutex_, std::defer_lock);
  {
    py::gil_scoped_release release;
    lock.lock();
  }
  if (reader_->ended()) return py::none();
  Arrays arrays(reader_->plan(), rows_);
  std::size_t rows = 0;
  {
    py::gil_scoped_release release;
    rows = reader_->read(arrays.columns, 0, rows_);
  }
  if (rows == 0 && reader_->ended()) return py::none();
  py::dict d = arrays.dict(rows);
  d["probes"] = plan_;
  d["stopped"] = stopDict(file_->lastReadStatus());
  return d;
}

}  // namespace cdt
