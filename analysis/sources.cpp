// Deflections from a window of one file's lines or from a recording set's
// joined lines: both go through one builder, so a set whose hosts together
// hold a stage's probes gives the deflections one file holding them would.
#include "analysis/sources.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "lines/line_columns.h"
#include "lines/line_layout.h"
#include "lines/set_join.h"
#include "lines/set_reader.h"

namespace cdt {

namespace {

constexpr std::size_t kBatchRows = 4096;

// Turns batches of lines into the stages' deflections. Each host's probes
// are added first; then rows, each kept line a row of every stage.
class DeflectionBuilder {
 public:
  DeflectionBuilder(const Geometry& geometry, DeflectionCounts& counts)
      : geometry_(geometry), counts_(counts), stageTarget_(geometry.stages.size(), -1) {}

  // The probes on a host's slots (`columns`), whose blade 0 TOA is at
  // float row toaRow[slot] of the batches; `host` its row of a set's
  // statuses, `reported` where the report counts it.
  void addHost(const HostColumns& columns, const uint32_t (&toaRow)[kChannelsPerHost],
               std::size_t host, std::size_t reported) {
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
      const Probe* probe = columns.probes[slot];
      if (probe == nullptr || !columns.layout.hasProbe[slot]) continue;
      const int32_t stage = probe->stageIndex;
      if (stage < 0 || stage >= static_cast<int32_t>(geometry_.stages.size())) {
        ++counts_.probesWithoutStage;
        continue;
      }
      const StageGeometry& sg = geometry_.stages[stage];
      if (!sg.problem.empty() || !std::isfinite(probe->radialPosition)) continue;
      if (stageTarget_[stage] < 0) {
        stageTarget_[stage] = static_cast<int32_t>(result_.size());
        StageDeflections d;
        d.stage = static_cast<uint32_t>(stage);
        d.blades = sg.blades;
        result_.push_back(std::move(d));
      }
      StageDeflections& d = result_[stageTarget_[stage]];
      d.blades = std::min(d.blades, columns.layout.blades[slot]);
      Slot s;
      s.target = stageTarget_[stage];
      s.column = d.probeNumbers.size();
      s.deflection.valid = true;
      s.deflection.radius = sg.diameter / 2.0;
      s.deflection.alpha0 = probe->radialPosition + sg.oprToBlade0;
      s.deflection.blades = sg.blades;
      s.toaRow = toaRow[slot];
      s.host = host;
      s.reported = reported;
      slots_.push_back(s);
      d.probeNumbers.push_back(static_cast<uint32_t>(probe->index));
      d.angles.push_back(probe->radialPosition);
    }
  }

  // Rows 0 to rows - 1 of `c`; `status` (a set's: per host a row of
  // c.stride) says which hosts' cells belong to each line, none: all.
  void addRows(const LineColumns& c, std::size_t rows, const uint8_t* status,
               SetDeflectionReport* report) {
    for (std::size_t r = 0; r < rows; ++r) {
      ++counts_.lines;
      if (c.sync[r] == 0) {
        ++counts_.unsynchronised;
        continue;
      }
      const double speed = c.floats[r];
      if (!std::isfinite(speed) || !(speed > 0)) {
        ++counts_.badSpeed;
        continue;
      }
      for (StageDeflections& d : result_) {
        d.speeds.push_back(speed);
        d.revolutions.push_back(c.startRevolution[r]);
        d.times.push_back(c.time[r]);
        d.values.resize(d.values.size() + std::size_t{d.blades} * d.probeNumbers.size(),
                        std::numeric_limits<double>::quiet_NaN());
      }
      std::size_t lastHost = SIZE_MAX;
      bool hostTaken = true;
      for (const Slot& s : slots_) {
        if (status != nullptr && s.host != lastHost) {
          // Once per host and line: missing or disagreeing lines counted.
          lastHost = s.host;
          const uint8_t st = status[s.host * c.stride + r];
          hostTaken = st == 0;
          if ((st & kSetMissing) != 0) {
            ++report->hostLinesMissing[s.reported];
          } else if (st != 0) {
            ++report->hostLinesOff;
          }
        }
        if (!hostTaken) continue;
        StageDeflections& d = result_[s.target];
        const std::size_t row = d.rows() - 1;
        for (uint32_t b = 0; b < d.blades; ++b) {
          const double toa = c.floats[(s.toaRow + b) * c.stride + r];
          if (!std::isfinite(toa)) {
            ++counts_.missing;
            continue;
          }
          d.at(row, b, s.column) = s.deflection.at(b, speed, toa);
        }
      }
    }
  }

  // Room for `rows` rows in every stage, so that a long recording's
  // deflections are not copied as they grow.
  void reserve(std::size_t rows) {
    for (StageDeflections& d : result_) {
      d.speeds.reserve(rows);
      d.revolutions.reserve(rows);
      d.times.reserve(rows);
      d.values.reserve(rows * d.blades * d.probeNumbers.size());
    }
  }

  bool empty() const { return result_.empty(); }
  std::vector<StageDeflections> take() { return std::move(result_); }

 private:
  struct Slot {
    int32_t target = -1;
    std::size_t column = 0;
    ProbeDeflection deflection;
    uint32_t toaRow = 0;
    std::size_t host = 0;
    std::size_t reported = 0;
  };
  const Geometry& geometry_;
  DeflectionCounts& counts_;
  std::vector<int32_t> stageTarget_;
  std::vector<StageDeflections> result_;
  std::vector<Slot> slots_;  // host after host, slot after slot
};

// Whether some probe of host `host` watches a stage the geometry can analyse.
bool watchesAnalysableStage(const Configuration& configuration, const Geometry& geometry,
                            uint32_t host) {
  const HostColumns columns = hostColumns(configuration, host, true);
  for (const Probe* probe : columns.probes) {
    if (probe == nullptr) continue;
    const int32_t stage = probe->stageIndex;
    if (stage >= 0 && stage < static_cast<int32_t>(geometry.stages.size()) &&
        geometry.stages[stage].problem.empty()) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<StageDeflections> readDeflections(DataFile& file, const Geometry& geometry,
                                              const LineWindow& window, DeflectionCounts& counts) {
  const std::optional<uint32_t> host = firstLineHost(file);
  if (!host || !seekToTime(file, 0).positioned) return {};
  const HostColumns columns = hostColumns(file.configuration(), *host, true);
  if (!columns.layout.withTimeOfArrival) return {};
  const ColumnPlan plan = planAllColumns(columns.layout);
  DeflectionBuilder builder(geometry, counts);
  builder.addHost(columns, plan.bladeToaRow, 0, 0);
  LineReader reader(file, plan, window);
  const ColumnStorage storage(plan, kBatchRows);
  const uint64_t begin = file.lastReadStatus().offset;
  const bool whole =
      !window.start && !window.stop && !window.firstRevolution && !window.lastRevolution;
  uint64_t lines = 0;
  for (bool first = true; !reader.ended(); first = false) {
    const std::size_t rows = reader.read(storage.columns(), 0, kBatchRows);
    lines += rows;
    if (first && whole && rows == kBatchRows) {
      // The rows of the whole file, estimated from the bytes the first
      // batch took: no more than the file's bytes can hold.
      const uint64_t at = file.lastReadStatus().offset;
      if (at > begin && file.recordsEnd() > at) {
        const double share =
            static_cast<double>(file.recordsEnd() - begin) / static_cast<double>(at - begin);
        builder.reserve(static_cast<std::size_t>(static_cast<double>(lines) * share * 1.02) +
                        kBatchRows);
      }
    }
    builder.addRows(storage.columns(), rows, nullptr, nullptr);
    if (rows == 0) break;
  }
  return builder.take();
}

std::vector<StageDeflections> readSetDeflections(const std::vector<DataFile*>& files,
                                                 std::size_t master, const Geometry& geometry,
                                                 const LineWindow& window, DeflectionCounts& counts,
                                                 SetDeflectionReport& report) {
  if (master >= files.size() || files[master] == nullptr) return {};
  const Configuration& configuration = files[master]->configuration();
  // The hosts that have a file, each with its probes as its lines hold them.
  std::vector<SetReader::Host> hosts;
  std::vector<HostColumns> columns;
  std::vector<ColumnPlan> plans;
  std::vector<std::size_t> setHosts;  // each one's index in `files`
  std::size_t leader = 0;
  for (std::size_t h = 0; h < files.size(); ++h) {
    if (files[h] == nullptr) {
      if (h < configuration.hosts.size() &&
          watchesAnalysableStage(configuration, geometry, static_cast<uint32_t>(h))) {
        report.missingHosts.push_back(static_cast<uint32_t>(h));
      }
      continue;
    }
    DataFile& file = *files[h];
    // The host of a file's first line, as the converter takes it; the set's
    // host where it has no line yet.
    const uint32_t host = firstLineHost(file).value_or(static_cast<uint32_t>(h));
    if (!seekToTime(file, 0).positioned) continue;
    HostColumns hc = hostColumns(file.configuration(), host, true);
    if (!hc.layout.withTimeOfArrival) continue;
    if (h == master) leader = hosts.size();
    plans.push_back(planAllColumns(hc.layout));
    hosts.push_back({&file, window, std::nullopt});
    columns.push_back(hc);
    setHosts.push_back(h);
  }
  report.hostLinesMissing.assign(files.size(), 0);
  if (hosts.empty()) return {};
  const SetPlan plan = planSet(plans);
  DeflectionBuilder builder(geometry, counts);
  for (std::size_t h = 0; h < hosts.size(); ++h) {
    // Host h's float rows but its speed follow one another from floatRow[h].
    uint32_t toaRow[kChannelsPerHost] = {};
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
      toaRow[slot] = plan.floatRow[h] + plans[h].bladeToaRow[slot] - 1;
    }
    builder.addHost(columns[h], toaRow, h, setHosts[h]);
  }
  if (builder.empty()) return {};
  SetReader reader(hosts, leader, plan);
  const ColumnStorage storage(setBlocks(plan), kBatchRows);
  std::vector<uint8_t> status(hosts.size() * kBatchRows);
  const SetColumns batch{storage.columns(), status.data()};
  while (!reader.ended()) {
    const std::size_t rows = reader.read(batch, 0, kBatchRows);
    report.setLines += rows;
    builder.addRows(batch.lines, rows, status.data(), &report);
    if (rows == 0) break;
  }
  return builder.take();
}

}  // namespace cdt
