// Walk checkpoints: the states that walks with an observer have reached
// after the records of confirmed index entries, kept for the whole process
// per file and per kind of observer, so that a later walk of the same file
// begins at the nearest one instead of at the first record. Internal to the
// reader (datafile/index_walk.cpp).
//
// A file is known by its identity (device, file number, size, modification
// time), its header and a hash of its index (all of it, or 65,536 entries
// spread over a larger one): a file rewritten in place between two walks (a
// copy that keeps the old size and time, say) is still told apart by its
// index. Bounded: a few files, and at most kMaxCheckpoints
// states per file and kind.
#pragma once

#include <cstdint>
#include <optional>

#include "datafile/data_file.h"
#include "foundation/file_system.h"

namespace cdt {

struct WalkFileKey {
  FileIdentity identity;
  DataFileHeader header;
  uint64_t indexHash = 0;
  bool operator==(const WalkFileKey& other) const;
};

// The key of the file a DataFile reads, as it is now, with its loaded index;
// none when the system cannot say.
std::optional<WalkFileKey> walkFileKey(std::FILE* stream, const DataFileHeader& header,
                                       const IndexArray& index);

struct WalkCheckpoint {
  uint32_t entry = 0;
  uint64_t time = 0;  // entry `entry`'s time
  RecordHeadObserver::Checkpoint state{};
};

inline constexpr std::size_t kMaxCheckpoints = std::size_t{1} << 16;

// The kept state with the largest entry at or below `atMost` whose time lies
// before `beforeTime`; none when there is none. The kept entries were
// confirmed by the records, so every record up to a kept state lies before
// `beforeTime` too.
std::optional<WalkCheckpoint> nearestCheckpoint(const WalkFileKey& file, uint64_t observerKey,
                                                uint32_t atMost, uint64_t beforeTime);
void keepCheckpoint(const WalkFileKey& file, uint64_t observerKey,
                    const WalkCheckpoint& checkpoint);
// Forgets every kept state (tests, and fuzz targets that reuse a path).
void forgetCheckpoints();

}  // namespace cdt
