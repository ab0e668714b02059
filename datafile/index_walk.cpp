// Index seeks confirmed by the records. The walk reads the record headers
// in large chunks through the stream (or from views of the file mapped a
// bounded range at a time, see WalkReading) and checks each
// exactly as readNextRecord does before it allocates, so it ends at the same
// damaged record; bodies are stepped over.
//
// A mapped file that is cut short under a view faults where the vanished
// bytes are read. Each view is mapped only once the file's size, checked
// then, shows it holds the whole view, and a file that no longer does is
// read through the stream from there on, which meets the short file as
// reading proper does. A file cut short while the walk is inside one view
// (a few milliseconds) is not caught.
#include "datafile/index_walk.h"

#include <algorithm>
#include <atomic>

#include "foundation/byte_order.h"

namespace cdt {

namespace {

std::atomic<bool> mapForWalks{WalkReading{}.map};
std::atomic<std::size_t> walkViewBytes{WalkReading{}.viewBytes};
std::atomic<uint64_t> jumpBytes{WalkReading{}.jumpBytes};

// How many entries before its own a jump's check begins: a few lines' worth,
// and more when the line grouping has not settled by the entry.
constexpr uint32_t kJumpBacks[] = {4, 64};

// Whether an entry ending at `entryEnd` lies far enough past `from`, where a
// walk would begin, for a seek to try a jump.
bool worthAJump(uint64_t entryEnd, uint64_t from) {
  return entryEnd >= from && entryEnd - from >= jumpBytes;
}

}  // namespace

void setWalkReading(const WalkReading& reading) {
  mapForWalks = reading.map;
  walkViewBytes = std::max<std::size_t>(reading.viewBytes, kRecordHeadBytes);
  jumpBytes = reading.jumpBytes;
}

WalkReading walkReading() {
  return {mapForWalks, walkViewBytes, jumpBytes};
}

const unsigned char* IndexWalk::headerAt(FileStream& stream, uint64_t position, uint64_t recordsEnd,
                                         uint32_t bytes) {
  if (view_.isMapped() && position >= view_.offset() &&
      position - view_.offset() + bytes <= view_.length()) {
    return view_.bytes() + (position - view_.offset());
  }
  if (position >= chunkStart_ && position - chunkStart_ + bytes <= chunkLength_) {
    return chunk_.get() + (position - chunkStart_);
  }
  if (reading_.map && !mapRefused_) {
    const uint64_t length = std::min<uint64_t>(reading_.viewBytes, recordsEnd - position);
    if (length >= bytes) {
      if (view_.map(stream.stdioStream(), position, static_cast<std::size_t>(length))) {
        return view_.bytes();
      }
      mapRefused_ = true;
    }
  }
  return readChunk(stream, position, recordsEnd, bytes);
}

const unsigned char* IndexWalk::readChunk(FileStream& stream, uint64_t position,
                                          uint64_t recordsEnd, uint32_t bytes) {
  if (!chunk_) chunk_ = std::make_unique_for_overwrite<unsigned char[]>(kChunkSize);
  chunkStart_ = position;
  chunkLength_ = 0;
  const auto want = static_cast<std::size_t>(std::min<uint64_t>(kChunkSize, recordsEnd - position));
  if (!stream.setPosition(position)) return nullptr;
  chunkLength_ = stream.read(chunk_.get(), 1, want);
  return chunkLength_ >= bytes ? chunk_.get() : nullptr;
}

bool IndexWalk::walk(FileStream& stream, uint64_t recordsEnd, const Goal& goal) {
  const bool walked = walkRecords(stream, recordsEnd, goal);
  // Held only while walking: on Windows a view keeps others from cutting the
  // file short.
  view_.unmap();
  return walked;
}

bool IndexWalk::walkRecords(FileStream& stream, uint64_t recordsEnd, const Goal& goal) {
  while (!ended_ && check_.confirmed() < goal.confirmations) {
    // No more entries can be confirmed after a disagreement; only a walk to
    // a time has a reason to go on.
    if (check_.disagreement() && !goal.beforeTime) break;
    const uint64_t start = position_;
    // The checks of readNextRecord, in its order.
    if (start >= recordsEnd || recordsEnd - start < kRecordHeaderSize) {
      ended_ = true;
      if (start == recordsEnd) check_.finishAtEndOfRecords();
      break;
    }
    const unsigned char* head = headerAt(stream, start, recordsEnd);
    if (head == nullptr) {
      // The file ends before its records do (it shrank) or cannot be read:
      // reading proper meets the same and says which.
      if (stream.hasError()) return false;
      ended_ = true;
      break;
    }
    const uint32_t size = loadU32(head + kRecordSize);
    if (loadU16(head + kRecordType) >= kRecordTypeCount || size % 4 != 0 ||
        size <= kMinRecordSize || size - kRecordCountSize > recordsEnd - start) {
      ended_ = true;
      break;
    }
    const uint64_t time = loadU64(head + kRecordTime);
    if (goal.beforeTime && time >= *goal.beforeTime) break;
    if (goal.observer != nullptr) {
      // The record holds kRecordHeadBytes: its size is above kMinRecordSize
      // and a multiple of 4, and it lies inside the records.
      head = headerAt(stream, start, recordsEnd, kRecordHeadBytes);
      if (head == nullptr) {
        if (stream.hasError()) return false;
        ended_ = true;
        break;
      }
      goal.observer->record(head);
    }
    position_ = start + (size - kRecordCountSize);
    const uint32_t confirmed = check_.confirmed();
    check_.add(time, position_);
    if (keeping_ && goal.observer != nullptr && check_.confirmed() > confirmed &&
        position_ - keeping_->keptAt >= reading_.jumpBytes) {
      // The record just added made the entry confirmed last: it ends here.
      keepCheckpoint(keeping_->file, keeping_->observerKey,
                     {check_.confirmed() - 1, time, goal.observer->checkpoint()});
      keeping_->keptAt = position_;
    }
  }
  return true;
}

IndexWalk* DataFile::indexWalk() {
  if (!walk_) {
    if (!loadIndex()) return nullptr;
    walk_ = std::make_unique<IndexWalk>(index_, header_.dataOffset);
  }
  return walk_.get();
}

bool DataFile::moveTo(uint64_t position) {
  if (!stream_.setPosition(position)) {
    (void)stream_.setPosition(position_);
    return false;
  }
  position_ = position;
  readReport_ = {DataFileStatus::Ok, position};
  return true;
}

std::optional<IndexDisagreement> DataFile::indexDisagreement() const {
  if (!walk_) return std::nullopt;
  return walk_->check().disagreement();
}

bool seekToIndexEntry(DataFile& file, uint32_t k) {
  if (file.writing_ || !file.isOpen() || k >= file.indexCount_) return false;
  IndexWalk* walk = file.indexWalk();
  if (walk == nullptr) return false;
  const bool walked = walk->walk(file.stream_, file.recordsEnd_, {std::nullopt, k + 1});
  if (!walked || walk->check().confirmed() <= k) {
    (void)file.stream_.setPosition(file.position_);
    return false;
  }
  return file.moveTo(file.index_[k].position);
}

std::unique_ptr<IndexWalk> DataFile::jumpWalk(uint32_t k, uint64_t start,
                                              RecordHeadObserver* observer) {
  const IndexArray& index = index_;
  for (uint32_t back : kJumpBacks) {
    if (k == 0) break;
    const uint32_t j = k > back ? k - back : 0;
    // The stretch must be a stretch of the records, in the index's order.
    const IndexEntry& base = index[j];
    if (base.position <= header_.dataOffset || base.position >= index[k].position ||
        index[k].position > recordsEnd_ || base.time >= index[k].time) {
      break;
    }
    if (observer != nullptr && !observer->jumped(base.time)) break;
    std::unique_ptr<IndexWalk> walk = IndexWalk::after(index, j);
    const bool walked = walk->walk(stream_, recordsEnd_, {start, k + 1, observer});
    const bool confirmed = walked && walk->check().confirmed() > k;
    if (confirmed && (observer == nullptr || observer->settled())) return walk;
    if (observer != nullptr) observer->backOut();
    // Only an observer that has not settled is worth a longer stretch.
    if (!confirmed || j == 0) break;
  }
  return nullptr;
}

WindowSeek DataFile::seekWindow(uint64_t start, RecordHeadObserver* observer) {
  DataFile& file = *this;
  WindowSeek result;
  if (file.writing_ || !file.isOpen() || file.readReport_.status == DataFileStatus::IoError) {
    return result;
  }
  // No entry lies before time 0, and the index need not be loaded to say so.
  IndexWalk* walk = start == 0 ? nullptr : file.indexWalk();
  // The last entry before `start`: reading can resume after it, since no
  // record up to its end is later than its time. The stored entries are only
  // a guess until the walk confirms them; a lying index need not be sorted,
  // and then any guess will do (partition_point still yields an entry before
  // `start`).
  std::optional<uint32_t> k;
  if (walk != nullptr) {
    const IndexArray& index = file.index_;
    const auto after = std::partition_point(
        index.begin(), index.end(), [start](const IndexEntry& e) { return e.time < start; });
    if (after != index.begin()) k = static_cast<uint32_t>(after - index.begin() - 1);
  }
  if (!k) {
    result.positioned = file.moveTo(file.header_.dataOffset);
    return result;
  }
  const auto fail = [&] {
    (void)file.stream_.setPosition(file.position_);
    return result;
  };
  // Far from where a walk would begin, a jump checks only the records just
  // before the entry.
  const uint64_t from = observer != nullptr ? file.header_.dataOffset : walk->position();
  const uint64_t entryEnd = file.index_[*k].position;
  const bool walkedPast = observer == nullptr && walk->check().confirmed() > *k;
  if (!walkedPast && worthAJump(entryEnd, from)) {
    if (file.jumpWalk(*k, start, observer) != nullptr) {
      result.positioned = file.moveTo(entryEnd);
      if (result.positioned) {
        result.entry = k;
        result.jumped = true;
      }
      return result;
    }
  }
  // The walk goes on from where earlier seeks left it only while every record
  // it passed lies before `start` (the rebuilt index's last time is the
  // latest of them); it then stops before the first record of the window, so
  // its position is where reading resumes when entry k turns out wrong.
  const std::optional<uint64_t> latest = walk->check().latestTime();
  // A walk with an observer begins at the first record, or where an earlier
  // walk of this file kept the state of an observer of this kind.
  std::optional<WalkFileKey> fileKey;
  std::optional<uint64_t> observerKey;
  std::optional<WalkCheckpoint> checkpoint;
  if (observer != nullptr) {
    observerKey = observer->checkpointKey();
    if (observerKey) fileKey = walkFileKey(file.stream_.stdioStream(), file.header_, file.index_);
    if (fileKey) checkpoint = nearestCheckpoint(*fileKey, *observerKey, *k, start);
  }
  std::unique_ptr<IndexWalk> fresh;
  if (checkpoint) {
    fresh = IndexWalk::after(file.index_, checkpoint->entry);
    observer->resumeFrom(checkpoint->state);
    result.resumedWalk = true;
  } else {
    fresh = std::make_unique<IndexWalk>(file.index_, file.header_.dataOffset);
  }
  if (fileKey) fresh->keepCheckpoints(*fileKey, *observerKey);
  IndexWalk* finder = walk;
  if (observer != nullptr || (walk->check().confirmed() <= *k && latest && *latest >= start)) {
    finder = fresh.get();
  }
  if (!finder->walk(file.stream_, file.recordsEnd_, {start, *k + 1, observer})) return fail();
  if (finder->check().confirmed() > *k) {
    result.positioned = file.moveTo(file.index_[*k].position);
    if (result.positioned) result.entry = k;
    return result;
  }
  // Entry k is not confirmed: the walk stopped at the first record of the
  // window, at a damaged record or at the end of the records.
  if (const std::optional<IndexDisagreement>& bad = finder->check().disagreement()) {
    result.indexDisagrees = true;
    result.firstBadEntry = bad->entry;
  }
  result.positioned = file.moveTo(finder->position());
  return result;
}

WindowSeek seekToTime(DataFile& file, uint64_t start) {
  return file.seekWindow(start, nullptr);
}

WindowSeek seekToTime(DataFile& file, uint64_t start, RecordHeadObserver& observer) {
  return file.seekWindow(start, &observer);
}

bool planSeeks(DataFile& file, const std::vector<uint64_t>& starts, RecordHeadObserver& observer,
               const std::function<void(std::size_t, const PlannedSeek&)>& at) {
  if (file.writing_ || !file.isOpen() || file.readReport_.status == DataFileStatus::IoError) {
    return false;
  }
  const uint64_t first = file.header_.dataOffset;
  const bool indexed = file.loadIndex();
  const IndexArray& index = file.index_;
  // A fresh walk, as a seek with an observer makes; each start's goal takes
  // it on from where the one before stopped. Every record before that stop
  // lies before the earlier start and so before this one, and the entries it
  // confirmed lie before this start's entry: a walk from the start of the
  // records would pass the same records and stop at the same place.
  auto walk = std::make_unique<IndexWalk>(index, first);
  // Walks keep the observer's states, and the first walk may begin at one
  // kept before; the file's key is made once a walk is needed.
  const std::optional<uint64_t> observerKey = observer.checkpointKey();
  std::optional<WalkFileKey> fileKey;
  bool keyed = false;
  bool resumed = false;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const uint64_t start = starts[i];
    std::optional<uint32_t> k;
    if (start != 0 && indexed) {
      const auto after = std::partition_point(
          index.begin(), index.end(), [start](const IndexEntry& e) { return e.time < start; });
      if (after != index.begin()) k = static_cast<uint32_t>(after - index.begin() - 1);
    }
    PlannedSeek planned;
    planned.seek.positioned = true;
    // The jump the start's own seek makes, where it makes one; the observer
    // then takes up the walk's state again.
    if (k && worthAJump(index[*k].position, first) &&
        file.jumpWalk(*k, start, &observer) != nullptr) {
      planned.offset = index[*k].position;
      planned.seek.entry = k;
      planned.seek.jumped = true;
      at(i, planned);
      observer.backOut();
      continue;
    }
    if (!k) {
      // The seek reads from the start of the records, having shown nothing.
      if (walk->position() != first) continue;
      planned.offset = first;
      at(i, planned);
      continue;
    }
    if (!keyed && indexed && observerKey) {
      keyed = true;
      fileKey = walkFileKey(file.stream_.stdioStream(), file.header_, index);
      if (fileKey) walk->keepCheckpoints(*fileKey, *observerKey);
    }
    if (walk->position() == first && fileKey) {
      // Not walked yet: begin where an earlier walk of the file kept the
      // observer's state, if one did.
      if (const std::optional<WalkCheckpoint> checkpoint =
              nearestCheckpoint(*fileKey, *observerKey, *k, start)) {
        walk = IndexWalk::after(index, checkpoint->entry);
        walk->keepCheckpoints(*fileKey, *observerKey);
        observer.resumeFrom(checkpoint->state);
        resumed = true;
      }
    }
    planned.seek.resumedWalk = resumed;
    if (walk->check().confirmed() > *k) {
      // Confirmed already: only where the walk stands is its state known.
      if (walk->position() != index[*k].position) continue;
    } else if (!walk->walk(file.stream_, file.recordsEnd_, {start, *k + 1, &observer})) {
      (void)file.stream_.setPosition(file.position_);
      return false;
    }
    if (walk->check().confirmed() > *k) {
      planned.offset = index[*k].position;
      planned.seek.entry = k;
    } else {
      if (const std::optional<IndexDisagreement>& bad = walk->check().disagreement()) {
        planned.seek.indexDisagrees = true;
        planned.seek.firstBadEntry = bad->entry;
      }
      planned.offset = walk->position();
    }
    at(i, planned);
  }
  (void)file.stream_.setPosition(file.position_);
  return true;
}

bool resumeAt(DataFile& file, const PlannedSeek& seek) {
  if (file.writing_ || !file.isOpen() || file.readReport_.status == DataFileStatus::IoError ||
      seek.offset < file.header_.dataOffset || seek.offset > file.recordsEnd_) {
    return false;
  }
  return file.moveTo(seek.offset);
}

}  // namespace cdt
