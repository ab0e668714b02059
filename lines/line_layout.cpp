#include "lines/line_layout.h"

#include <algorithm>

namespace cdt {

uint32_t stageBlades(const Probe& probe) {
  if (probe.stage == nullptr || probe.stage->blades < 0) return 0;
  return std::min(static_cast<uint32_t>(probe.stage->blades), kMaxLineBlades);
}

HostColumns hostColumns(const Configuration& configuration, uint32_t hostIndex,
                        bool withTimeOfArrival) {
  HostColumns columns;
  columns.layout.withTimeOfArrival = withTimeOfArrival;
  if (hostIndex >= configuration.hosts.size()) return columns;
  const Host& host = configuration.hosts[hostIndex];
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    const Probe* probe = host.channels[slot].probe;
    columns.probes[slot] = probe;
    if (probe == nullptr) continue;
    columns.layout.hasProbe[slot] = true;
    columns.layout.blades[slot] = stageBlades(*probe);
  }
  return columns;
}

bool isLineRecord(const DataRecord& record) {
  return isLineRecordHead(record.fileBytes());
}

bool isLineRecordHead(const unsigned char* head) {
  return hasBladeLayout(head) && head[kRecordBody + kBladesChannel] < kChannelsPerHost;
}

uint32_t usedBladeEntries(const LineLayout& layout, const LineGroup& group, uint32_t slot) {
  if (!layout.hasProbe[slot] || group.slots[slot] == nullptr) return kNoLineRecord;
  return std::min(layout.blades[slot], bladeEntryCapacity(*group.slots[slot]));
}

}  // namespace cdt
