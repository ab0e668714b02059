#include "info/info_scan.h"

#include <algorithm>
#include <cmath>

#include "foundation/file_system.h"
#include "foundation/time_text.h"

#include "datafile/index_check.h"

namespace cdt {

namespace {

void widen(std::optional<uint64_t>& low, std::optional<uint64_t>& high, uint64_t value) {
  low = low ? std::min(*low, value) : value;
  high = high ? std::max(*high, value) : value;
}

void widen(std::optional<double>& low, std::optional<double>& high, double value) {
  if (!std::isfinite(value)) return;
  low = low ? std::min(*low, value) : value;
  high = high ? std::max(*high, value) : value;
}

void tally(RecordingInfo& info, const DataRecord& record) {
  const uint16_t type = record.type();
  ++info.records;
  ++info.byType[type];
  HostTally& host = info.hosts[record.hostIndex()];
  ++host.byType[type];
  if (!info.firstTime) info.firstTime = record.time();
  info.lastTime = record.time();

  switch (type) {
    case kRecordTypeBlades: {
      if (!hasBladeLayout(record)) {
        ++info.malformed;
        return;
      }
      ChannelTally& channel = host.channels[bladeChannel(record)];
      const uint16_t blades = bladeCount(record);
      channel.bladesMin = std::min(channel.bladesMin, blades);
      channel.bladesMax = std::max(channel.bladesMax, blades);
      if (blades > bladeEntryCapacity(record)) ++info.malformed;
      widen(info.speedMin, info.speedMax, bladeSpeed(record));
      widen(info.firstRevolution, info.lastRevolution, bladeStartRevolution(record));
      if (isRevolutionRange(record)) {
        ++info.rangeRecords;
        ++channel.rangeRecords;
        widen(info.firstRevolution, info.lastRevolution, bladeEndRevolution(record));
      } else {
        ++info.revolutionRecords;
        ++channel.revolutionRecords;
      }
      return;
    }
    case kRecordTypeProfile:
      if (!hasProfileLayout(record)) {
        ++info.malformed;
        return;
      }
      ++(isPackedProfile(record) ? info.packedProfiles : info.plainProfiles);
      widen(info.speedMin, info.speedMax, profileSpeed(record));
      widen(info.firstRevolution, info.lastRevolution, profileStartRevolution(record));
      widen(info.firstRevolution, info.lastRevolution, profileEndRevolution(record));
      return;
    case kRecordTypeEntries:
      if (!hasEntriesLayout(record)) ++info.malformed;
      return;
    default:
      if (!hasFixedLayout(record)) ++info.malformed;
      return;
  }
}

}  // namespace

bool scanDataFile(const std::string& path, RecordingInfo& info, DataFileReport& report,
                  void (*progress)(void* context, uint64_t bytes), void* context) {
  info.path = path;
  info.file = openDataFile(path.c_str(), report);
  if (!info.file) return false;
  FileStatus status;
  if (fileStatus(path.c_str(), status)) info.fileSize = status.size;

  info.finished = info.file->header().indexOffset != 0 || info.file->header().indexEnd != 0;
  if (!info.finished) {
    std::unique_ptr<DataFile> salvage = openDataFile(path.c_str(), report, ReadMode::Salvage);
    if (!salvage) return false;
    info.file = std::move(salvage);
    info.salvaged = true;
  }
  DataFile& file = *info.file;
  // The index is loaded first (the reading position stays) so that each
  // record can be checked against it as it goes by.
  info.indexChecked = !info.salvaged && file.loadIndex();
  IndexCheck check(file.index().data(), info.indexChecked ? file.index().size() : 0);
  uint64_t bytes = 0;
  while (RecordRef record = readNextRecord(file)) {
    tally(info, *record);
    if (info.indexChecked) check.add(record->time(), file.lastReadStatus().offset);
    bytes += record->fileSize();
    if (progress != nullptr) progress(context, bytes);
  }
  info.stop = file.lastReadStatus();
  if (info.indexChecked) {
    if (info.stop.status == DataFileStatus::EndOfRecords) check.finishAtEndOfRecords();
    info.indexDisagreement = check.disagreement();
  }

  info.indexEntries = file.indexEntryCount();
  if (info.indexEntries > 0 && file.loadIndex() && !file.index().empty()) {
    info.indexFirstTime = file.index()[0].time;
    info.indexLastTime = file.index()[file.index().size() - 1].time;
  }
  return true;
}

const char* recordingStateText(const RecordingInfo& info) {
  return info.finished ? "finished" : "being written";
}

namespace {

std::string entryText(const IndexEntry& entry) {
  return formatTimeText(entry.time) + " ending at offset " + std::to_string(entry.position);
}

}  // namespace

// What the index says against what the records make of one entry.
std::string indexDisagreementText(const IndexDisagreement& bad) {
  if (!bad.stored)
    return "the records make " + entryText(*bad.expected) + ", the index ends before";
  if (!bad.expected) {
    return "the index has " + entryText(*bad.stored) + ", the records end before";
  }
  return "the index has " + entryText(*bad.stored) + ", the records make " +
         entryText(*bad.expected);
}

}  // namespace cdt
