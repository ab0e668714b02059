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
#include "datafile/data_file.h"
#include "driver/converter.h"
#include "lines/line_reader.h"
#include "python/src/columns.h"
#include "python/src/common.h"
#include "python/src/profiles.h"
#include "tools/commands.h"

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

py::dict configurationDict(const Configuration& c) {
  py::dict d;
  d["name"] = std::string(c.name.view());
  py::list stages;
  for (const Stage& s : c.stages) {
    py::dict stage;
    stage["name"] = std::string(s.name.view());
    stage["blades"] = s.blades;
    stages.append(stage);
  }
  d["stages"] = stages;
  py::list hosts;
  for (const Host& h : c.hosts) {
    py::dict host;
    host["name"] = std::string(h.name.view());
    py::list channels;
    for (const Channel& ch : h.channels) {
      py::dict channel;
      const Probe* p = ch.probe;
      channel["probe"] =
          p != nullptr ? py::object(py::str(std::string(p->name.view()))) : py::object(py::none());
      channel["stage"] = p != nullptr && p->stage != nullptr
                             ? py::object(py::str(std::string(p->stage->name.view())))
                             : py::object(py::none());
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
py::dict describe(const std::string& path, bool salvage) {
  std::unique_ptr<DataFile> file = openOrRaise(path, salvage);
  std::optional<uint32_t> host;
  {
    py::gil_scoped_release release;
    host = firstLineHost(*file);
  }
  py::dict d;
  d["path"] = path;
  d["finished"] = file->header().indexOffset != 0;
  d["header"] = headerDict(file->header());
  d["configuration"] = configurationDict(file->configuration());
  d["configuration_text"] = py::bytes(configurationText(path, file->header()));
  d["host_index"] = host ? py::object(py::int_(*host)) : py::object(py::none());
  d["probes"] = probeList(file->configuration(), host.value_or(0));
  return d;
}

py::dict readAll(const std::string& path, bool salvage, const Selection& selection) {
  std::unique_ptr<DataFile> file = openOrRaise(path, salvage);
  return readLines(*file, path, salvage, selection);
}

std::string convert(const std::string& path, const std::string& outDir) {
  std::unique_ptr<DataFile> file = openOrRaise(path, false);
  const CountedString name = outputPathFor(path.c_str());
  std::string output =
      outDir.empty() ? std::string(name.view()) : outDir + "/" + std::string(name.view());
  bool written = false;
  bool created = false;
  {
    py::gil_scoped_release release;
    std::unique_ptr<CsvExporter> exporter =
        createCsvExporter(file->configuration(), output.c_str(), true);
    if (exporter != nullptr) {
      created = true;
      while (RecordRef record = readNextRecord(*file)) (void)exportRecord(*exporter, record.get());
      written = finishCsvExporter(*exporter);
    }
  }
  if (!created || !written) {
    errno = created ? EIO : errno;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, output.c_str());
    throw py::error_already_set();
  }
  return output;
}

// The times of the file's index entries (empty when it has none or they
// cannot be read). Any cut times give windows that tile the lines, so the
// entries need no check here.
py::array_t<int64_t> indexTimes(const std::string& path, bool salvage) {
  std::unique_ptr<DataFile> file = openOrRaise(path, salvage);
  std::vector<int64_t> times;
  {
    py::gil_scoped_release release;
    if (file->loadIndex()) {
      for (const IndexEntry& e : file->index()) times.push_back(static_cast<int64_t>(e.time));
    }
  }
  py::array_t<int64_t> a(static_cast<py::ssize_t>(times.size()));
  if (!times.empty()) std::memcpy(a.mutable_data(), times.data(), times.size() * 8);
  return a;
}

// One line of `cdt info --json` for the file.
std::string infoJson(const std::string& path) {
  CommandArgs args;
  args.program = "cdt";
  args.command = "info";
  args.positionals.push_back(path);
  args.options.emplace_back("json", "");
  std::string text;
  int status = 0;
  {
    py::gil_scoped_release release;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    if (out == nullptr || err == nullptr) {
      if (out != nullptr) std::fclose(out);
      if (err != nullptr) std::fclose(err);
      status = -1;
    } else {
      status = runInfo(args, out, err);
      std::rewind(out);
      char buffer[4096];
      std::size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, out)) > 0) text.append(buffer, n);
      std::fclose(out);
      std::fclose(err);
    }
  }
  if (status != 0) throw FormatError("cannot read '" + path + "'");
  return text;
}

}  // namespace
}  // namespace cdt

PYBIND11_MODULE(_cdt, m) {
  using namespace cdt;
  m.doc() = "Data files of the blade monitoring installation as numpy arrays (internal).";
  static py::exception<FormatError> formatError(m, "FormatError", PyExc_ValueError);
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const FormatError& e) {
      PyErr_SetString(formatError.ptr(), e.what());
    }
  });
  py::class_<Selection>(m, "Selection")
      .def(py::init<>())
      .def_readwrite("probes", &Selection::probes)
      .def_readwrite("blades", &Selection::blades)
      .def_readwrite("start", &Selection::start)
      .def_readwrite("stop", &Selection::stop)
      .def_readwrite("first_revolution", &Selection::firstRevolution)
      .def_readwrite("last_revolution", &Selection::lastRevolution);
  m.def("describe", &describe, py::arg("path"), py::arg("salvage"));
  m.def("read", &readAll, py::arg("path"), py::arg("salvage"), py::arg("selection"));
  py::class_<BatchReader>(m, "BatchReader")
      .def(py::init<const std::string&, bool, const Selection&, std::size_t>(), py::arg("path"),
           py::arg("salvage"), py::arg("selection"), py::arg("rows"))
      .def("next", &BatchReader::next);
  m.def("profiles", &readProfiles, py::arg("path"), py::arg("salvage"));
  m.def("convert", &convert, py::arg("path"), py::arg("out_dir"));
  m.def("index_times", &indexTimes, py::arg("path"), py::arg("salvage"));
  m.def("info_json", &infoJson, py::arg("path"));
}
