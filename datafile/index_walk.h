// IndexWalk: the state of a DataFile's walk over its record headers, which
// confirms index entries for seekToIndexEntry and seekToTime. Internal to the
// reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "datafile/data_file.h"
#include "datafile/index_check.h"
#include "datafile/walk_checkpoints.h"
#include "foundation/file_system.h"

namespace cdt {

// How walks read the record headers: in chunks read through the stream (map
// false, the default), or through views of the file mapped `viewBytes` at a
// time, which copies nothing but pays a page fault per page touched: a walk
// over 900 MB took 240 ms in chunks and 910 ms through views (cdt_window_seek;
// the walk touches every page, as a header lies every few hundred bytes).
// Where the file cannot be mapped, the mapped walk reads chunks from there
// on. Both give the same results. Process-wide, taken by each walk when it
// is made; tests and the benchmark compare the two.
//
// A window seek whose index entry lies at least `jumpBytes` past where its
// walk would begin jumps instead: it checks only a short stretch of records
// before the entry (DataFile::jumpWalk). Tests set 0 to make every seek try.
struct WalkReading {
  bool map = false;
  std::size_t viewBytes = std::size_t{16} << 20;
  uint64_t jumpBytes = uint64_t{4} << 20;
};
void setWalkReading(const WalkReading& reading);
WalkReading walkReading();

class IndexWalk {
 public:
  IndexWalk(const IndexArray& index, uint64_t firstRecord)
      : check_(index.data(), index.size()), position_(firstRecord), reading_(walkReading()) {}
  // A walk that begins after the record of entry `trusted` (< the index's
  // size), taking the entries up to it as confirmed.
  static std::unique_ptr<IndexWalk> after(const IndexArray& index, uint32_t trusted) {
    auto walk = std::make_unique<IndexWalk>(index, index[trusted].position);
    walk->check_.trustThrough(trusted);
    return walk;
  }

  // Every record before this position has a valid header.
  uint64_t position() const { return position_; }
  // Whether the walk met a damaged record (at position()) or the end of the
  // records; it cannot go on in either case.
  bool ended() const { return ended_; }
  const IndexCheck& check() const { return check_; }

  // How far a walk goes: it stops before the first record at or after
  // `beforeTime`, once `confirmations` entries are confirmed, at a damaged
  // record or at the end of the records, whichever comes first.
  struct Goal {
    std::optional<uint64_t> beforeTime;
    uint32_t confirmations = 0;
    // Shown each record the walk passes.
    RecordHeadObserver* observer = nullptr;
  };
  // From now on, keeps the goal's observer's state (RecordHeadObserver::
  // checkpoint) after the record of each entry it confirms that lies at
  // least WalkReading::jumpBytes past the last one kept. Only for walks
  // whose observer has seen every record before position().
  void keepCheckpoints(const WalkFileKey& file, uint64_t observerKey) {
    keeping_ = Keeping{file, observerKey, position_};
  }

  // Walks on from position() towards `goal`; false on an I/O error. Leaves
  // the stream anywhere; nothing stays mapped.
  [[nodiscard]] bool walk(FileStream& stream, uint64_t recordsEnd, const Goal& goal);

 private:
  bool walkRecords(FileStream& stream, uint64_t recordsEnd, const Goal& goal);
  // `bytes` bytes at `position` from the view or the chunk; when they lie
  // outside both, a view from `position` is mapped, or else the chunk
  // refilled from the stream. nullptr when fewer bytes can be read.
  const unsigned char* headerAt(FileStream& stream, uint64_t position, uint64_t recordsEnd,
                                uint32_t bytes = kRecordHeaderSize);
  const unsigned char* readChunk(FileStream& stream, uint64_t position, uint64_t recordsEnd,
                                 uint32_t bytes);

  static constexpr std::size_t kChunkSize = 256 * 1024;

  struct Keeping {
    WalkFileKey file;
    uint64_t observerKey = 0;
    uint64_t keptAt = 0;
  };

  IndexCheck check_;
  uint64_t position_;
  std::optional<Keeping> keeping_;
  bool ended_ = false;
  WalkReading reading_;
  // The file refused a view once (or has shrunk below the records' end):
  // the walk reads chunks from then on.
  bool mapRefused_ = false;
  MappedView view_;
  std::unique_ptr<unsigned char[]> chunk_;
  uint64_t chunkStart_ = 0;
  std::size_t chunkLength_ = 0;
};

}  // namespace cdt
