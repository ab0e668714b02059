// The extension module cdt._cdt: data files read into numpy arrays through
// the project's reader and line grouping. Every function opens the file
// itself and releases the GIL while it reads; nothing here keeps a file open
// between calls, so a recording object can be shared by threads.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "csv/csv_exporter.h"
#include "csv/quantity_units.h"
#include "datafile/data_file.h"
#include "datafile/discovery.h"
#include "datafile/file_names.h"
#include "datafile/index_walk.h"
#include "datafile/walk_checkpoints.h"
#include "foundation/file_system.h"
#include "foundation/name_text.h"
#include "foundation/staged_output.h"
#include "foundation/time_text.h"
#include "info/info_json.h"
#include "lines/line_reader.h"
#include "python/src/analysis.h"
#include "python/src/columns.h"
#include "python/src/common.h"
#include "python/src/follow.h"
#include "python/src/follow_set.h"
#include "python/src/profiles.h"
#include "python/src/sets.h"

namespace py = pybind11;

namespace cdt {
namespace {

py::dict headerDict(const DataFileHeader& h) {
  py::dict d;
  d["magic1"] = h.magic1;
  d["magic2"] = h.magic2;
  d["config_offset"] = h.configOffset;
  d["config_length"] = h.configLength;
  d["data_offset"] = h.dataOffset;
  d["index_offset"] = h.indexOffset;
  d["index_end"] = h.indexEnd;
  d["time_zone_bias"] = h.timeZoneBias;
  return d;
}

py::bytes bytesOf(const CountedString& text) {
  const std::string_view v = text.view();
  return py::bytes(v.data(), v.size());
}

// Names as the bytes the file holds; the Python side decodes them.
py::dict configurationDict(const Configuration& c) {
  py::dict d;
  d["name"] = bytesOf(c.name);
  d["counter_clockwise"] = c.engine.counterClockwise;
  py::list stages;
  for (const Stage& s : c.stages) {
    py::dict stage;
    stage["name"] = bytesOf(s.name);
    stage["blades"] = s.blades;
    stage["diameter"] = s.diameter;
    stage["opr_to_blade0"] = s.oprToBlade0;
    stages.append(stage);
  }
  d["stages"] = stages;
  py::list hosts;
  for (const Host& h : c.hosts) {
    py::dict host;
    host["name"] = bytesOf(h.name);
    py::list channels;
    for (const Channel& ch : h.channels) {
      py::dict channel;
      const Probe* p = ch.probe;
      channel["probe"] = p != nullptr ? py::object(bytesOf(p->name)) : py::object(py::none());
      channel["stage"] = p != nullptr && p->stage != nullptr ? py::object(bytesOf(p->stage->name))
                                                             : py::object(py::none());
      if (p != nullptr) {
        channel["radial_position"] = p->radialPosition;
        channel["axial_position"] = p->axialPosition;
        channel["set_back"] = p->setBack;
      }
      channels.append(channel);
    }
    host["channels"] = channels;
    hosts.append(host);
  }
  d["hosts"] = hosts;
  return d;
}

// The configuration block's bytes as the file holds them.
std::string configurationText(const std::string& path, const DataFileHeader& h) {
  std::string text;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return text;
  text.resize(static_cast<uint32_t>(h.configLength));
  if (std::fseek(f, static_cast<long>(h.configOffset), SEEK_SET) != 0 ||
      std::fread(text.data(), 1, text.size(), f) != text.size()) {
    text.clear();
  }
  std::fclose(f);
  return text;
}

// What the Python side needs to know of an open file without reading its
// records, and the columns of its lines.
py::dict describe(const std::string& path, bool salvage, const py::object& decode) {
  std::unique_ptr<DataFile> file = openOrRaise(path, salvage);
  std::optional<uint32_t> host;
  {
    py::gil_scoped_release release;
    host = firstLineHost(*file);
  }
  py::dict d;
  d["path"] = py::bytes(path);
  d["finished"] = file->header().indexOffset != 0;
  d["header"] = headerDict(file->header());
  d["configuration"] = configurationDict(file->configuration());
  d["configuration_text"] = py::bytes(configurationText(path, file->header()));
  d["host_index"] = host ? py::object(py::int_(*host)) : py::object(py::none());
  d["probes"] = probeList(file->configuration(), host.value_or(0), decode);
  return d;
}

py::dict readAll(const std::string& path, bool salvage, const LineSelection& selection,
                 const py::object& decode, const py::object& planned, const py::object& middle,
                 const py::object& counted) {
  std::unique_ptr<DataFile> file = openOrRaise(path, salvage);
  return readLines(*file, path, salvage, selection, decode, planned, middle, counted);
}

// The names of the columns a read with `selection` gives, without reading.
py::list columnsOf(const std::string& path, bool salvage, const LineSelection& selection,
                   const py::object& decode) {
  std::unique_ptr<DataFile> file = openOrRaise(path, salvage);
  return columnList(planLines(*file, path, salvage, selection, decode));
}

// Raises OSError for `path` with errno `code` (EIO when it is not known).
[[noreturn]] void raiseOsError(int code, const std::string& path) {
  errno = code != 0 ? code : EIO;
  PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
  throw py::error_already_set();
}

// Writes the CSV of `path` into `outDir` as cdt2csv does, staged beside its
// final name: a failed write leaves nothing behind, and a link standing at
// the final name is replaced, never written through.
py::bytes convert(const std::string& path, const std::string& outDir) {
  std::unique_ptr<DataFile> file = openOrRaise(path, false);
  const CountedString name = outputPathFor(path.c_str());
  std::string output =
      outDir.empty() ? std::string(name.view()) : outDir + "/" + std::string(name.view());
  if (sameFile(path.c_str(), output.c_str())) {
    const py::object sameFileError = py::module_::import("shutil").attr("SameFileError");
    const std::string message = "the output is the input file: " + output;
    const py::object text = py::reinterpret_steal<py::object>(
        PyUnicode_DecodeFSDefaultAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (text) PyErr_SetObject(sameFileError.ptr(), text.ptr());
    throw py::error_already_set();
  }
  StagedOutput staged;
  int failure = 0;
  bool created = false;
  {
    py::gil_scoped_release release;
    errno = 0;
    if (!staged.create(output, path, true)) {
      failure = errno;
    } else {
      created = true;
      std::unique_ptr<CsvExporter> exporter =
          createCsvExporterOnStream(file->configuration(), staged.release(), true);
      while (RecordRef record = readNextRecord(*file)) (void)exportRecord(*exporter, record.get());
      if (!finishCsvExporter(*exporter)) {
        failure = exporter->writeError != 0 ? exporter->writeError : EIO;
        staged.discard();
      } else {
        errno = 0;
        if (!staged.commit()) failure = errno != 0 ? errno : EIO;
      }
    }
  }
  if (!created || failure != 0) raiseOsError(failure, output);
  return py::bytes(output);
}

// The times of the file's index entries (empty when it has none or they
// cannot be read), as the file holds them: a lying entry may hold any time.
py::array_t<uint64_t> indexTimes(const std::string& path, bool salvage) {
  std::unique_ptr<DataFile> file = openOrRaise(path, salvage);
  std::vector<uint64_t> times;
  {
    py::gil_scoped_release release;
    if (file->loadIndex()) {
      for (const IndexEntry& e : file->index()) times.push_back(e.time);
    }
  }
  py::array_t<uint64_t> a(static_cast<py::ssize_t>(times.size()));
  if (!times.empty()) std::memcpy(a.mutable_data(), times.data(), times.size() * 8);
  return a;
}

// The object `cdt info --json` prints for the file, its names decoded by
// `encoding` (empty: UTF-8 when valid, else Windows-1252).
py::bytes infoJson(const std::string& path, const std::string& encoding) {
  const std::optional<TextEncoding> decodeAs =
      encoding.empty() ? TextEncoding::Auto : textEncodingNamed(encoding);
  if (!decodeAs) throw FormatError("unknown encoding '" + encoding + "'");
  std::optional<std::string> json;
  std::string error;
  {
    py::gil_scoped_release release;
    json = infoJsonOf(path, *decodeAs, error);
  }
  if (!json) throw FormatError("cannot read '" + path + "': " + error);
  return py::bytes(*json);
}

// The time ISO 8601 text names (parseTimeText), or None.
std::optional<uint64_t> parseTime(const py::str& text) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
  if (utf8 == nullptr) {
    // A lone surrogate has no UTF-8 form, and is no time either.
    PyErr_Clear();
    return std::nullopt;
  }
  return parseTimeText(std::string_view(utf8, static_cast<std::size_t>(size)));
}

}  // namespace
}  // namespace cdt

PYBIND11_MODULE(_cdt, m) {
  using namespace cdt;
  m.doc() = "Data files of the blade monitoring installation as numpy arrays (internal).";
  m.attr("__version__") = CDT_PACKAGE_VERSION;
  static py::exception<FormatError> formatError(m, "FormatError", PyExc_ValueError);
  // A KeyError (no such key) and a ValueError (a wrong value) at once.
  static PyObject* unknownProbe = [] {
    PyObject* bases = PyTuple_Pack(2, PyExc_KeyError, PyExc_ValueError);
    PyObject* type = PyErr_NewException("cdt.UnknownProbeError", bases, nullptr);
    Py_XDECREF(bases);
    return type;
  }();
  if (unknownProbe == nullptr) throw py::error_already_set();
  m.attr("UnknownProbeError") = py::handle(unknownProbe);
  py::register_exception_translator([](std::exception_ptr p) {
    // Messages hold the path's bytes, which need not be UTF-8: they come
    // back as os.fsdecode gives them.
    const auto raise = [](PyObject* type, std::string_view text) {
      PyObject* message = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                               "surrogateescape");
      if (message == nullptr) return;
      PyErr_SetObject(type, message);
      Py_DECREF(message);
    };
    try {
      if (p) std::rethrow_exception(p);
    } catch (const FormatError& e) {
      raise(formatError.ptr(), e.what());
    } catch (const SelectionFailure& e) {
      raise(e.kind == SelectionError::Kind::UnknownBlade ? PyExc_ValueError : unknownProbe,
            e.what());
    }
  });
  py::class_<LineSelection>(m, "Selection")
      .def(py::init<>())
      .def_property(
          "probes",
          [](const LineSelection& s) -> py::object {
            if (!s.probes) return py::none();
            py::list list;
            for (const ProbeChoice& c : *s.probes) {
              if (c.channel) {
                list.append(*c.channel);
              } else {
                list.append(py::str(c.text));
              }
            }
            return list;
          },
          [](LineSelection& s, const py::object& probes) {
            if (probes.is_none()) {
              s.probes.reset();
              return;
            }
            std::vector<ProbeChoice> choices;
            for (const py::handle item : probes) {
              if (py::isinstance<py::str>(item)) {
                choices.push_back({item.cast<std::string>(), std::nullopt});
              } else {
                choices.push_back({"", item.cast<uint32_t>()});
              }
            }
            s.probes = std::move(choices);
          })
      .def_readwrite("blades", &LineSelection::blades)
      .def_readwrite("start", &LineSelection::start)
      .def_readwrite("stop", &LineSelection::stop)
      .def_readwrite("first_revolution", &LineSelection::firstRevolution)
      .def_readwrite("last_revolution", &LineSelection::lastRevolution)
      .def_readwrite("host", &LineSelection::host);
  m.def("describe", &describe, py::arg("path"), py::arg("salvage"), py::arg("decode"));
  m.def("read", &readAll, py::arg("path"), py::arg("salvage"), py::arg("selection"),
        py::arg("decode"), py::arg("planned") = py::none(), py::arg("middle") = py::none(),
        py::arg("counted") = py::none());
  m.def("find_set", &findSet, py::arg("path"), py::arg("time") = py::none());
  m.def("set_master", &setMasterOf, py::arg("paths"));
  m.def("set_times", &findSetTimesOf, py::arg("directory"));
  m.def("read_set", &readSet, py::arg("paths"), py::arg("master"), py::arg("salvage"),
        py::arg("selections"), py::arg("decode"), py::arg("planned") = py::none(),
        py::arg("keep") = py::none(), py::arg("hint") = py::none());
  py::class_<SetBatchReader>(m, "SetBatchReader")
      .def(py::init<const py::list&, std::size_t, bool, const std::vector<LineSelection>&,
                    const py::object&, const py::object&, const py::object&,
                    std::optional<std::size_t>>(),
           py::arg("paths"), py::arg("master"), py::arg("salvage"), py::arg("selections"),
           py::arg("decode"), py::arg("planned") = py::none(), py::arg("keep") = py::none(),
           py::arg("hint") = py::none())
      .def("next", &SetBatchReader::next, py::arg("most") = py::none());
  m.def("summarize_set", &summarizeSetFiles, py::arg("paths"), py::arg("master"),
        py::arg("salvage"));
  m.def("plan_set_cuts", &planSetCutsOf, py::arg("paths"), py::arg("master"), py::arg("salvage"),
        py::arg("wanted"));
  m.def("set_probe_keys", &setProbeKeysOf, py::arg("hosts"), py::arg("probes"));
  m.def("_set_split_bytes", &setSplitBytes, py::arg("bytes"));
  // How far into a file a window's seek jumps near its index entry instead
  // of walking from the start (tests make every seek try).
  m.def(
      "_set_jump_bytes",
      [](uint64_t bytes) {
        WalkReading reading = walkReading();
        reading.jumpBytes = bytes;
        setWalkReading(reading);
      },
      py::arg("bytes"));
  // Forgets the grouping states earlier walks kept (a benchmark's first
  // window of a file, as a new process reads it).
  m.def("_forget_walk_states", &forgetCheckpoints);
  m.def("plan_starts", &planStarts, py::arg("path"), py::arg("salvage"), py::arg("starts"));
  m.def("columns", &columnsOf, py::arg("path"), py::arg("salvage"), py::arg("selection"),
        py::arg("decode"));
  py::class_<BatchReader>(m, "BatchReader")
      .def(py::init<const std::string&, bool, const LineSelection&, std::size_t, const py::object&,
                    const py::object&>(),
           py::arg("path"), py::arg("salvage"), py::arg("selection"), py::arg("rows"),
           py::arg("decode"), py::arg("planned") = py::none())
      .def("next", &BatchReader::next);
  // Following files being written (follow.h, follow_set.h).
  py::class_<FileFollower>(m, "FileFollower")
      .def(py::init<const std::string&, const LineSelection&, std::size_t, double,
                    const py::object&>(),
           py::arg("path"), py::arg("selection"), py::arg("rows"), py::arg("idle"),
           py::arg("decode"))
      .def("next", &FileFollower::next, py::arg("timeout"))
      .def("stop", &FileFollower::stop)
      .def("state", &FileFollower::state);
  py::class_<SetFollow>(m, "SetFollower")
      .def(py::init<const py::list&, std::size_t, double, const py::object&>(), py::arg("paths"),
           py::arg("master"), py::arg("idle"), py::arg("decode"))
      .def("hosts", &SetFollow::hosts, py::arg("timeout"))
      .def("begin", &SetFollow::begin, py::arg("selections"))
      .def("next", &SetFollow::next, py::arg("most"), py::arg("timeout"))
      .def("stop", &SetFollow::stop)
      .def("state", &SetFollow::state);
  m.def("find_live_set", &findLiveSetOf, py::arg("path"));
  m.def(
      "host_probes",
      [](const std::string& path, uint32_t host, const py::object& decode) {
        std::unique_ptr<DataFile> file = openOrRaise(path, false);
        return probeList(file->configuration(), host, decode);
      },
      py::arg("path"), py::arg("host"), py::arg("decode"));
  m.def(
      "name_time",
      [](const py::bytes& name) {
        const std::string_view view(name);
        return nameTime(TextBuffer(view));
      },
      py::arg("name"));
  m.def("profiles", &readProfiles, py::arg("path"), py::arg("salvage"));
  m.def("convert", &convert, py::arg("path"), py::arg("out_dir"));
  m.def("index_times", &indexTimes, py::arg("path"), py::arg("salvage"));
  m.def("info_json", &infoJson, py::arg("path"), py::arg("encoding"));
  m.def("parse_time", &parseTime, py::arg("text"));
  m.def("analysis_deflections", &analysisDeflections, py::arg("paths"), py::arg("master"),
        py::arg("salvage"), py::arg("set"), py::arg("selection"));
  m.def("analysis_resonances", &analysisResonances, py::arg("paths"), py::arg("master"),
        py::arg("salvage"), py::arg("set"), py::arg("selection"), py::arg("orders"),
        py::arg("stage"));
  m.def("format_time", &formatTimeText, py::arg("time"));
  // The table of quantities and their units, by key.
  m.def("quantity_units", [] {
    py::dict table;
    for (const QuantityUnit& entry : quantityUnits()) {
      py::dict row;
      row["unit"] = entry.unit;
      row["symbol"] = entry.symbol;
      row["description"] = entry.description;
      row["long_name"] = entry.longName;
      row["installation"] = entry.installation;
      table[entry.key] = row;
    }
    return table;
  });
  m.def(
      "decode_name",
      [](const py::bytes& data) {
        return py::str(decodeName(std::string_view(data), TextEncoding::Auto));
      },
      py::arg("data"));
  m.def(
      "encoding_known", [](const std::string& name) { return textEncodingNamed(name).has_value(); },
      py::arg("name"));
}
