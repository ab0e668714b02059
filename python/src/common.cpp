#include "python/src/common.h"

#include <sys/stat.h>

#include <cerrno>

namespace py = pybind11;

namespace cdt {

std::unique_ptr<DataFile> openOrRaise(const std::string& path, bool salvage) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) {
    PyErr_SetFromErrnoWithFilename(PyExc_FileNotFoundError, path.c_str());
    throw py::error_already_set();
  }
  DataFileReport report;
  std::unique_ptr<DataFile> file;
  {
    py::gil_scoped_release release;
    file = openDataFile(path.c_str(), report, salvage ? ReadMode::Salvage : ReadMode::Normal);
  }
  if (file == nullptr) {
    throw FormatError("cannot read '" + path + "': " + dataFileStatusText(report.status));
  }
  return file;
}

py::dict stopDict(const DataFileReport& report) {
  py::dict d;
  d["reason"] = dataFileStatusText(report.status);
  d["offset"] = report.offset;
  return d;
}

}  // namespace cdt
