#include "python/src/columns.h"

#include <pybind11/numpy.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <thread>

#include "csv/csv_header.h"
#include "foundation/name_text.h"
#include "lines/two_halves.h"
#include "python/src/common.h"

namespace py = pybind11;

namespace cdt {

namespace {

// The host of the file's lines, from a look at its first blade record.
std::optional<uint32_t> linesHost(const std::string& path, bool salvage) {
  DataFileReport report;
  std::unique_ptr<DataFile> peek =
      openDataFile(path.c_str(), report, salvage ? ReadMode::Salvage : ReadMode::Normal);
  if (peek == nullptr) return std::nullopt;
  return firstLineHost(*peek);
}

// Moves the blocks' rows together, to a stride of `rows`, so that the
// first floatRows x rows values are the block cut to its lines.
void compact(const ColumnPlan& plan, const LineColumns& c, std::size_t rows) {
  for (std::size_t r = 1; r < plan.floatRows; ++r) {
    std::memmove(c.floats + r * rows, c.floats + r * c.stride, rows * 4);
  }
  for (std::size_t r = 1; r < plan.doubleRows; ++r) {
    std::memmove(c.doubles + r * rows, c.doubles + r * c.stride, rows * 8);
  }
}

// Rows at first for a window of revolutions alone: the index says nothing
// of revolutions, so its lines are not counted beforehand.
constexpr std::size_t kRevolutionWindowRows = 65536;

// The rows the arrays of a read are made with at first. The index has an
// entry per distinct time, which in a recording is one per line: the arrays
// are made as long as the entries whose times lie in the window (all of
// them without a time window; a window of revolutions alone starts at
// kRevolutionWindowRows at most), and cut to the lines read. Only where
// that is too short (no index, times shared by several lines, an index that
// lies) do they grow. A lying index (or one of records that make no lines)
// must not make arrays far larger than the records could fill: no more rows
// at first than would take four times the records' bytes (64 MiB at least).
// `counted`, the lines a planned part's index entries count, stands in for
// the count (the index is then not loaded: a part of a large file costs its
// own bytes only).
std::size_t firstRows(DataFile& file, const ColumnPlan& plan, const LineWindow& window,
                      std::optional<std::size_t> counted = std::nullopt) {
  const std::size_t limit = rowsLimit(recordBytesOf(file), lineBytes(plan));
  std::size_t entries = counted.value_or(file.indexEntryCount());
  if (!counted && (window.start || window.stop)) {
    entries = 0;
    if (file.loadIndex()) {
      for (const IndexEntry& e : file.index()) {
        entries +=
            (!window.start || e.time >= *window.start) && (!window.stop || e.time < *window.stop);
      }
    }
  }
  if (window.firstRevolution || window.lastRevolution) {
    entries = std::min(entries, kRevolutionWindowRows);
  }
  return std::max<std::size_t>(1, std::min(entries + 1024, limit));
}

// Whether arrays of `capacity` rows holding `rows` lines are handed out as
// they are, their blocks' rows longer than the lines (Python takes the
// first `rows` of each: every row stays contiguous). Cutting them to the
// lines moves every block row but the first, a copy of the whole result;
// it is worth it only where the slack is large.
bool keepSlack(std::size_t capacity, std::size_t rows) {
  return capacity - rows <= std::max<std::size_t>(rows / 8, 4096);
}

// Reads up to `most` lines into arrays of `capacity` rows, which grow by
// copying into arrays twice as long (at most `most`) while lines remain, and
// are cut to the lines read unless the slack is small.
py::dict readRows(LineReader& reader, std::size_t capacity, std::size_t most) {
  const ColumnPlan& plan = reader.plan();
  capacity = std::max<std::size_t>(1, std::min(capacity, most));
  auto arrays = std::make_unique<Arrays>(plan, capacity);
  std::size_t rows = 0;
  for (;;) {
    {
      py::gil_scoped_release release;
      rows += reader.read(arrays->columns, rows, capacity - rows);
    }
    if (reader.ended() || rows >= most) break;
    const std::size_t larger = capacity > most / 2 ? most : 2 * capacity;
    auto grown = std::make_unique<Arrays>(plan, larger);
    {
      py::gil_scoped_release release;
      copyLines(plan, arrays->columns, grown->columns, 0, rows);
    }
    arrays = std::move(grown);
    capacity = larger;
  }
  if (!keepSlack(capacity, rows)) {
    {
      py::gil_scoped_release release;
      compact(plan, arrays->columns, rows);
    }
    arrays->resize(plan, rows);
  }
  return arrays->dict(rows);
}

}  // namespace

uint64_t recordBytesOf(const DataFile& file) {
  return file.recordsEnd() > file.header().dataOffset ? file.recordsEnd() - file.header().dataOffset
                                                      : 0;
}

std::size_t rowsLimit(uint64_t recordBytes, std::size_t lineBytes) {
  return static_cast<std::size_t>(
      std::min<uint64_t>((4 * recordBytes + (64u << 20)) / lineBytes, UINT32_MAX));
}

py::list planList(const LinePlan& lines) {
  const ColumnPlan& plan = lines.plan;
  py::list list;
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!plan.kept[slot]) continue;
    py::dict probe;
    probe["slot"] = slot;
    probe["name"] = lines.names[slot];
    probe["key"] = lines.keys[slot];
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

py::list probeList(const Configuration& configuration, uint32_t hostIndex,
                   const py::object& decode) {
  const HostColumns hc = hostColumns(configuration, hostIndex, true);
  const NameDecoder decoder = nameDecoder(decode);
  std::string names[kChannelsPerHost];
  std::string keys[kChannelsPerHost];
  bool present[kChannelsPerHost] = {};
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    present[slot] = hc.probes[slot] != nullptr;
    if (present[slot]) names[slot] = decoder(hc.probes[slot]->name.view());
  }
  probeKeys(names, present, keys);
  py::list list;
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!present[slot]) continue;
    py::dict probe;
    probe["slot"] = slot;
    probe["name"] = names[slot];
    probe["key"] = keys[slot];
    probe["blades"] = hc.layout.blades[slot];
    list.append(probe);
  }
  return list;
}

NameDecoder nameDecoder(const py::object& decode) {
  if (decode.is_none()) {
    return [](std::string_view name) { return decodeName(name, TextEncoding::Auto); };
  }
  return [decode](std::string_view name) {
    return decode(py::bytes(name.data(), name.size())).cast<std::string>();
  };
}

LinePlan planLines(const DataFile& file, const std::string& path, bool salvage,
                   const LineSelection& selection, const py::object& decode) {
  std::optional<uint32_t> host;
  if (!selection.host) {
    py::gil_scoped_release release;
    host = linesHost(path, salvage);
  }
  LinePlan lines;
  SelectionError error;
  if (!resolveSelection(file.configuration(), host, selection, nameDecoder(decode), lines, error)) {
    throw SelectionFailure(error.kind, path + ": " + error.message);
  }
  return lines;
}

py::list columnList(const LinePlan& lines) {
  std::string_view names[kChannelsPerHost];
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) names[slot] = lines.names[slot];
  py::list list;
  for (const std::string& name : columnNames(lines.plan, names)) list.append(py::str(name));
  return list;
}

// A planned start as the tuple Python keeps, and back.
py::tuple startTuple(const PlannedLineStart& start) {
  const PlannedSeek& p = start.seek;
  const LineTrack::State& t = start.track;
  return py::make_tuple(p.offset, p.seek.entry ? py::object(py::int_(*p.seek.entry)) : py::none(),
                        p.seek.indexDisagrees, p.seek.firstBadEntry, t.started, t.open, t.occupied,
                        t.hostIndex, t.latestTime, t.windowTime);
}

std::optional<PlannedLineStart> plannedStart(const py::object& planned) {
  if (planned.is_none()) return std::nullopt;
  const auto t = planned.cast<py::tuple>();
  if (t.size() != 10) throw py::value_error("a planned start of another version");
  PlannedLineStart start;
  start.seek.offset = t[0].cast<uint64_t>();
  if (!t[1].is_none()) start.seek.seek.entry = t[1].cast<uint32_t>();
  start.seek.seek.positioned = true;
  start.seek.seek.indexDisagrees = t[2].cast<bool>();
  start.seek.seek.firstBadEntry = t[3].cast<uint32_t>();
  start.track = {t[4].cast<bool>(),     t[5].cast<bool>(),     t[6].cast<uint8_t>(),
                 t[7].cast<uint32_t>(), t[8].cast<uint64_t>(), t[9].cast<uint64_t>()};
  return start;
}

// The reader of a plan's window: at its planned start when there is one.
std::unique_ptr<LineReader> makeReader(DataFile& file, const LinePlan& lines,
                                       const std::optional<PlannedLineStart>& start) {
  if (start && lines.window.start) {
    return std::make_unique<LineReader>(file, lines.plan, lines.window, *start);
  }
  return std::make_unique<LineReader>(file, lines.plan, lines.window);
}

py::list planStarts(const std::string& path, bool salvage, const std::vector<uint64_t>& starts) {
  std::unique_ptr<DataFile> file = openOrRaise(path, salvage);
  std::vector<std::optional<PlannedLineStart>> planned;
  {
    py::gil_scoped_release release;
    planned = planLineStarts(*file, std::nullopt, starts);
  }
  py::list list;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    list.append(i < planned.size() && planned[i] ? py::object(startTuple(*planned[i]))
                                                 : py::object(py::none()));
  }
  return list;
}

namespace {

// A read over at least this many record bytes decodes on two cores; tests
// lower it to split small files.
uint64_t splitBytes = uint64_t{128} << 20;

// Reads the window's lines in two halves at once (two_halves.h) into arrays
// of `capacity` rows; none when the window is not split. The second half
// reads a file of its own, opened here (with the GIL held, for its errors).
//
// A part planned with its middle (`middle`) splits there, its second half
// begun where that plan says, from a sixteenth of the bytes on: it needs no
// walk of its own.
std::optional<py::dict> readHalves(DataFile& file, const std::string& path, bool salvage,
                                   const LinePlan& lines,
                                   const std::optional<PlannedLineStart>& start,
                                   std::size_t capacity, const py::object& middle,
                                   std::optional<std::size_t> before) {
  std::optional<uint64_t> at;
  std::optional<PlannedLineStart> middleStart;
  if (!middle.is_none()) {
    const auto pair = middle.cast<py::tuple>();
    if (pair.size() != 2) throw py::value_error("a planned middle of another version");
    at = pair[0].cast<uint64_t>();
    middleStart = plannedStart(pair[1]);
  }
  std::optional<WindowSplit> split;
  const LineWindow& window = lines.window;
  if (middleStart && before) {
    // Planned: the bytes between the two starts and the lines before the
    // middle are known without the index.
    const uint64_t from = start && window.start ? start->seek.offset : file.header().dataOffset;
    const uint64_t to = middleStart->seek.offset;
    if (to >= from && to - from >= splitBytes / 16 && *before > 0 && *before < capacity &&
        (!window.start || *at > *window.start) && (!window.stop || *at < *window.stop)) {
      split = WindowSplit{*at, *before};
    }
  } else {
    split = splitWindow(file, window, capacity, middleStart ? splitBytes / 16 : splitBytes, at);
  }
  if (!split) return std::nullopt;
  std::unique_ptr<DataFile> second = openOrRaise(path, salvage);
  const ColumnPlan& plan = lines.plan;
  auto arrays = std::make_unique<Arrays>(plan, capacity);
  const LineColumns region = rowsFrom(plan, arrays->columns, split->firstRows);
  LinePlan firstPlan = lines;
  firstPlan.window.stop = split->middle;
  LineWindow secondWindow = lines.window;
  secondWindow.start = split->middle;
  HalfLines head;
  HalfLines tail;
  {
    py::gil_scoped_release release;
    // The second half's reader walks the record heads to its start (as a
    // window read does) while the first half is already being read.
    std::exception_ptr failure;
    std::thread other([&] {
      try {
        const std::unique_ptr<LineReader> reader =
            middleStart && middleStart->host == secondWindow.host
                ? std::make_unique<LineReader>(*second, plan, secondWindow, *middleStart)
                : std::make_unique<LineReader>(*second, plan, secondWindow);
        tail = readHalf(*reader, region, capacity - split->firstRows);
      } catch (...) {
        failure = std::current_exception();
      }
    });
    try {
      std::unique_ptr<LineReader> reader = makeReader(file, firstPlan, start);
      head = readHalf(*reader, arrays->columns, split->firstRows);
    } catch (...) {
      other.join();
      throw;
    }
    other.join();
    if (failure) std::rethrow_exception(failure);
  }
  // Reading stopped in the first half (the end of the records, a damaged
  // record) where a single read stops too: nothing after it is a line.
  DataFileReport stopped = file.lastReadStatus();
  if (stopped.status == DataFileStatus::Ok) {
    stopped = second->lastReadStatus();
  } else {
    tail = HalfLines{};
  }
  std::size_t rows = head.total() + tail.total();
  if (head.rows != split->firstRows || !head.beyond.empty() || !tail.beyond.empty()) {
    // The first half's lines do not end where the index said: the halves
    // join in arrays of their own.
    auto joined = std::make_unique<Arrays>(plan, std::max<std::size_t>(rows, 1));
    {
      py::gil_scoped_release release;
      const std::size_t at = copyHalf(plan, head, arrays->columns, joined->columns, 0);
      copyHalf(plan, tail, region, joined->columns, at);
    }
    arrays = std::move(joined);
    capacity = std::max<std::size_t>(rows, 1);
  } else if (!keepSlack(capacity, rows)) {
    {
      py::gil_scoped_release release;
      compact(plan, arrays->columns, rows);
    }
    arrays->resize(plan, rows);
  }
  py::dict d = arrays->dict(rows);
  d["stopped"] = stopDict(stopped);
  return d;
}

}  // namespace

void setSplitBytes(uint64_t bytes) {
  splitBytes = bytes;
}

uint64_t splitThreshold() {
  return splitBytes;
}

py::dict readLines(DataFile& file, const std::string& path, bool salvage,
                   const LineSelection& selection, const py::object& decode,
                   const py::object& planned, const py::object& middle, const py::object& counted) {
  const LinePlan lines = planLines(file, path, salvage, selection, decode);
  const std::optional<PlannedLineStart> start = plannedStart(planned);
  std::optional<std::size_t> total;
  std::optional<std::size_t> before;
  if (!counted.is_none()) {
    const auto pair = counted.cast<py::tuple>();
    if (pair.size() != 2) throw py::value_error("a part's counts of another version");
    total = pair[0].cast<std::size_t>();
    before = pair[1].cast<std::size_t>();
  }
  const std::size_t rows = firstRows(file, lines.plan, lines.window, total);
  std::optional<py::dict> halves =
      readHalves(file, path, salvage, lines, start, rows, middle, before);
  py::dict d;
  if (halves) {
    d = std::move(*halves);
  } else {
    std::unique_ptr<LineReader> reader;
    {
      py::gil_scoped_release release;
      reader = makeReader(file, lines, start);
    }
    d = readRows(*reader, rows, SIZE_MAX);
    d["stopped"] = stopDict(file.lastReadStatus());
  }
  d["probes"] = planList(lines);
  d["columns"] = columnList(lines);
  return d;
}

BatchReader::BatchReader(const std::string& path, bool salvage, const LineSelection& selection,
                         std::size_t rows, const py::object& decode, const py::object& planned)
    : rows_(std::max<std::size_t>(rows, 1)) {
  file_ = openOrRaise(path, salvage);
  const LinePlan lines = planLines(*file_, path, salvage, selection, decode);
  const std::optional<PlannedLineStart> start = plannedStart(planned);
  {
    py::gil_scoped_release release;
    firstRows_ = firstRows(*file_, lines.plan, lines.window);
    reader_ = makeReader(*file_, lines, start);
  }
  plan_ = planList(lines);
  columns_ = columnList(lines);
}

py::object BatchReader::next() {
  std::unique_lock lock(mutex_, std::defer_lock);
  {
    py::gil_scoped_release release;
    lock.lock();
  }
  if (reader_->ended()) return py::none();
  py::dict d = readRows(*reader_, firstRows_, rows_);
  if (d["rows"].cast<std::size_t>() == 0 && reader_->ended()) return py::none();
  d["probes"] = plan_;
  d["columns"] = columns_;
  d["stopped"] = stopDict(file_->lastReadStatus());
  return d;
}

}  // namespace cdt
