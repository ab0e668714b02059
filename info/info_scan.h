// What `cdt info` learns from one data file: its header and state, and the
// counts and ranges of a pass over every record the reader yields.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "datafile/data_file.h"

namespace cdt {

struct ChannelTally {
  uint64_t revolutionRecords = 0;  // one-revolution layout
  uint64_t rangeRecords = 0;       // revolution-range layout
  uint16_t bladesMin = UINT16_MAX;
  uint16_t bladesMax = 0;
};

struct HostTally {
  uint64_t byType[kRecordTypeCount] = {};
  std::map<uint8_t, ChannelTally> channels;  // by channel slot, as recorded
};

struct RecordingInfo {
  std::string path;
  int64_t fileSize = -1;
  std::unique_ptr<DataFile> file;  // open; its configuration is described
  bool finished = false;           // index fields set (else being written)
  // The file is being written and its records were read to the end of the
  // file, as a recovery would read them; the reader proper yields none.
  bool salvaged = false;

  uint64_t records = 0;
  uint64_t byType[kRecordTypeCount] = {};
  uint64_t revolutionRecords = 0;  // type 3, one-revolution layout
  uint64_t rangeRecords = 0;       // type 3, revolution-range layout
  uint64_t plainProfiles = 0;
  uint64_t packedProfiles = 0;
  // Records whose size does not fit their type's layout.
  uint64_t malformed = 0;
  std::map<uint16_t, HostTally> hosts;  // by hostIndex, as recorded

  std::optional<uint64_t> firstTime;  // of the first and the last record
  std::optional<uint64_t> lastTime;
  std::optional<uint64_t> firstRevolution;  // over blade records and profiles
  std::optional<uint64_t> lastRevolution;
  std::optional<double> speedMin;  // over blade records and profiles
  std::optional<double> speedMax;

  uint32_t indexEntries = 0;  // as the header announces
  std::optional<uint64_t> indexFirstTime;
  std::optional<uint64_t> indexLastTime;
  // The index was compared with the records read (a finished file whose
  // index could be loaded), and the first entry they contradict, if any.
  // Entries after a damaged record cannot be checked.
  bool indexChecked = false;
  std::optional<IndexDisagreement> indexDisagreement;

  DataFileReport stop;  // where and why reading stopped
};

// Opens `path` and reads every record. A file still being written has no end
// of records in its header; its records are then read up to the end of the
// file (ReadMode::Salvage). False with `report` telling why when the file
// cannot be opened as a data file. `progress` (may be null) is
// called with the bytes read so far, now and then.
[[nodiscard]] bool scanDataFile(const std::string& path, RecordingInfo& info,
                                DataFileReport& report,
                                void (*progress)(void* context, uint64_t bytes) = nullptr,
                                void* context = nullptr);

// "finished", or "being written" for a file whose header has no index yet.
const char* recordingStateText(const RecordingInfo& info);

// What the index says against what the records make of one entry, as
// cdt info shows it: "the index has <time> ending at offset <n>, the records
// make ...".
std::string indexDisagreementText(const IndexDisagreement& bad);

}  // namespace cdt
