// The columns every view of a recording shows, and the group of blade
// records that makes one line.
//
// The lines of a data file come from its blade-measurement records (type 3)
// in file order: a group is a run of consecutive records of distinct channel
// slots, and it ends just before the first record whose slot it already
// holds. The line takes its time, speed, sync and revolutions from the
// group's first record and, for each slot whose channel has a probe, the
// probe's RMS, the mean of its blade DNS values and one DNS and one TOA value
// per blade of the probe's stage. The host is the one of the first record
// accepted; the records of other hosts are grouped by their slot alone.
#pragma once

#include <cstdint>

#include "config/model.h"
#include "datafile/data_record.h"

namespace cdt {

// The most a blade count can be (larger stage counts are clamped to it).
inline constexpr uint32_t kMaxLineBlades = 65535;

// The columns of every line, fixed by the configuration and the host.
struct LineLayout {
  bool hasProbe[kChannelsPerHost] = {};  // the slot has cells
  uint32_t blades[kChannelsPerHost] = {};
  bool withTimeOfArrival = false;
};

// The probe on each channel slot of host `hostIndex` (nullptr where the slot
// has none, or the configuration no such host), and the layout they give.
// The probes point into `configuration`.
struct HostColumns {
  const Probe* probes[kChannelsPerHost] = {};
  LineLayout layout;
};
HostColumns hostColumns(const Configuration& configuration, uint32_t hostIndex,
                        bool withTimeOfArrival);

// The probe's stage's blade count, clamped to 0..kMaxLineBlades.
uint32_t stageBlades(const Probe& probe);

// Whether the record takes part in the lines: a blade record of a channel
// slot below kChannelsPerHost that holds its layout's fixed part.
bool isLineRecord(const DataRecord& record);
// The same on a record's first kRecordHeaderSize + 2 file bytes.
bool isLineRecordHead(const unsigned char* head);

// A complete group: the record that opened it and the record of each slot
// (nullptr where the slot has none). The first record is also its own slot's.
struct LineGroup {
  const DataRecord* first = nullptr;
  const DataRecord* slots[kChannelsPerHost] = {};
};

// Blade entries of the slot's record that have cells (the stage may have
// fewer blades than the record has entries, or more), or kNoLineRecord when
// the slot has no probe or no record.
inline constexpr uint32_t kNoLineRecord = 0xFFFFFFFF;
uint32_t usedBladeEntries(const LineLayout& layout, const LineGroup& group, uint32_t slot);

}  // namespace cdt
