// The tip-timing analysis for Python: the deflections and the resonances of
// a file or of a recording set, computed by the same functions as
// `cdt analyse`, so both give the same numbers.
#include "python/src/analysis.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/sources.h"
#include "python/src/common.h"

namespace py = pybind11;

namespace cdt {

namespace {

// The files of a source: one file (`set` false) or a set's, per host of
// its configuration (None where it has none), opened.
struct Source {
  std::vector<std::unique_ptr<DataFile>> opened;
  std::vector<DataFile*> files;
  std::size_t master = 0;
  bool set = false;
  Geometry geometry;
};

Source openSource(const py::list& paths, std::size_t master, bool salvage, bool set) {
  Source s;
  s.set = set;
  s.master = master;
  for (const py::handle item : paths) {
    if (item.is_none()) {
      s.opened.emplace_back();
    } else {
      s.opened.push_back(openOrRaise(item.cast<std::string>(), salvage));
    }
    s.files.push_back(s.opened.back().get());
  }
  if (master >= s.files.size() || s.files[master] == nullptr || (!set && s.files.size() != 1)) {
    throw FormatError("no file to analyse");
  }
  s.geometry = geometryOf(s.files[master]->configuration());
  return s;
}

LineWindow windowOf(const LineSelection& selection) {
  LineWindow w;
  w.start = selection.start;
  w.stop = selection.stop;
  w.firstRevolution = selection.firstRevolution;
  w.lastRevolution = selection.lastRevolution;
  return w;
}

struct Read {
  std::vector<StageDeflections> stages;
  DeflectionCounts counts;
  SetDeflectionReport report;
};

// Reads the source's deflections without the GIL.
Read readSource(Source& s, const LineSelection& selection) {
  Read r;
  py::gil_scoped_release release;
  const LineWindow window = windowOf(selection);
  if (s.set) {
    r.stages = readSetDeflections(s.files, s.master, s.geometry, window, r.counts, r.report);
  } else {
    r.stages = readDeflections(*s.files[0], s.geometry, window, r.counts);
  }
  return r;
}

template <class T>
py::array_t<T> arrayOf(const std::vector<T>& v) {
  py::array_t<T> a(static_cast<py::ssize_t>(v.size()));
  if (!v.empty()) std::memcpy(a.mutable_data(), v.data(), v.size() * sizeof(T));
  return a;
}

py::dict countsDict(const Read& r, const Source& s) {
  py::dict d;
  d["lines"] = r.counts.lines;
  d["unsynchronised_lines"] = r.counts.unsynchronised;
  d["lines_without_speed"] = r.counts.badSpeed;
  d["missing_toa"] = r.counts.missing;
  d["probes_without_stage"] = r.counts.probesWithoutStage;
  if (s.set) {
    d["set_lines"] = r.report.setLines;
    d["host_lines_off"] = r.report.hostLinesOff;
    d["missing_hosts"] = r.report.missingHosts;
  }
  py::list stages;
  for (const StageGeometry& g : s.geometry.stages) {
    py::dict stage;
    stage["name"] = py::bytes(g.name);
    stage["problem"] = g.problem;
    stages.append(stage);
  }
  d["stages"] = stages;
  return d;
}

}  // namespace

py::dict analysisDeflections(const py::list& paths, std::size_t master, bool salvage, bool set,
                             const LineSelection& selection) {
  Source s = openSource(paths, master, salvage, set);
  const Read r = readSource(s, selection);
  const Configuration& c = s.files[master]->configuration();
  py::list stages;
  for (const StageDeflections& d : r.stages) {
    py::dict stage;
    stage["stage"] = d.stage;
    stage["blades"] = d.blades;
    std::vector<uint32_t> hosts, slots;
    for (uint32_t number : d.probeNumbers) {
      const Channel* channel = c.probeAt(number).channel;
      hosts.push_back(channel != nullptr && channel->host != nullptr
                          ? static_cast<uint32_t>(channel->host->index)
                          : 0);
      slots.push_back(channel != nullptr ? static_cast<uint32_t>(channel->hostChannel) : 0);
    }
    stage["probe_hosts"] = hosts;
    stage["probe_slots"] = slots;
    stage["revolutions"] = arrayOf(d.revolutions);
    stage["times"] = arrayOf(d.times);
    stage["speeds"] = arrayOf(d.speeds);
    py::array_t<double> values({static_cast<py::ssize_t>(d.rows()),
                                static_cast<py::ssize_t>(d.blades),
                                static_cast<py::ssize_t>(d.probeNumbers.size())});
    if (!d.values.empty()) {
      std::memcpy(values.mutable_data(), d.values.data(), d.values.size() * sizeof(double));
    }
    stage["values"] = values;
    stages.append(stage);
  }
  py::dict out;
  out["stages"] = stages;
  out["counts"] = countsDict(r, s);
  return out;
}

py::dict analysisResonances(const py::list& paths, std::size_t master, bool salvage, bool set,
                            const LineSelection& selection, const std::vector<uint32_t>& orders,
                            std::optional<uint32_t> stage) {
  Source s = openSource(paths, master, salvage, set);
  const Read r = readSource(s, selection);
  std::vector<Resonance> found;
  {
    py::gil_scoped_release release;
    AnalysisOptions options;
    options.orders = orders;
    for (const StageDeflections& d : r.stages) {
      if (stage && d.stage != *stage) continue;
      std::vector<Resonance> more = findResonances(d, options);
      found.insert(found.end(), more.begin(), more.end());
    }
  }
  py::list list;
  for (const Resonance& x : found) {
    py::dict d;
    d["stage_number"] = x.stage + 1;
    d["blade"] = x.blade + 1;
    d["engine_order"] = x.engineOrder;
    d["speed_rpm"] = x.speedRpm;
    d["frequency_hz"] = x.frequencyHz;
    d["amplitude"] = x.amplitude;
    d["damping_ratio"] = x.dampingRatio;
    d["phase"] = x.phase;
    d["alias_candidates"] = x.aliases;
    d["probes"] = x.probes;
    d["first_revolution"] = x.firstRevolution;
    d["last_revolution"] = x.lastRevolution;
    d["revolutions"] = x.revolutions;
    d["residual_rms"] = x.residualRms;
    d["fit_ms"] = x.fitMilliseconds;
    d["accepted"] = x.accepted;
    d["reason"] = x.note;
    list.append(d);
  }
  py::dict out;
  out["resonances"] = list;
  out["counts"] = countsDict(r, s);
  return out;
}

}  // namespace cdt
