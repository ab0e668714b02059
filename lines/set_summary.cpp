#include "lines/set_summary.h"

#include <memory>

#include "lines/set_reader.h"

namespace cdt {

bool SetSummary::agree() const {
  for (const SetHostSummary& h : hosts) {
    if (h.missing > 0 || h.timeOff > 0 || h.speedOff > 0) return false;
  }
  return true;
}

SetSummary summarizeSet(const std::vector<DataFile*>& files, std::size_t master) {
  SetSummary summary;
  summary.hosts.resize(files.size());
  std::vector<SetReader::Host> hosts;
  std::vector<ColumnPlan> plans;
  for (DataFile* file : files) {
    std::unique_ptr<DataFile> peek = openDataFile(file->path().c_str());
    const uint32_t host = peek ? firstLineHost(*peek).value_or(0) : 0;
    // No probe's cells: only the fixed columns are stored.
    const bool none[kChannelsPerHost] = {};
    plans.push_back(
        planColumns(hostColumns(file->configuration(), host, true).layout, none, std::nullopt));
    hosts.push_back({file, {}, std::nullopt});
  }
  const SetPlan plan = planSet(plans);
  SetReader reader(hosts, master, plan);
  constexpr std::size_t kRows = 4096;
  ColumnStorage storage(setBlocks(plan), kRows);
  std::vector<uint8_t> status(files.size() * kRows);
  const SetColumns columns{storage.columns(), status.data()};
  std::vector<std::optional<uint64_t>> lastStart(files.size());
  while (!reader.ended()) {
    const std::size_t n = reader.read(columns, 0, kRows);
    summary.lines += n;
    for (std::size_t h = 0; h < files.size(); ++h) {
      SetHostSummary& s = summary.hosts[h];
      for (std::size_t r = 0; r < n; ++r) {
        const uint8_t st = status[h * kRows + r];
        if (st & kSetMissing) {
          ++s.missing;
          continue;
        }
        ++s.lines;
        s.timeOff += (st & kSetTimeOff) != 0;
        s.speedOff += (st & kSetSpeedOff) != 0;
        const uint64_t start = columns.lines.startRevolution[r];
        if (!s.firstRevolution) s.firstRevolution = start;
        if (lastStart[h] && start < *lastStart[h]) ++s.restarts;
        lastStart[h] = start;
        s.lastRevolution = columns.lines.endRevolution[r];
      }
    }
  }
  for (std::size_t h = 0; h < files.size(); ++h)
    summary.hosts[h].stopped = files[h]->lastReadStatus();
  return summary;
}

}  // namespace cdt
