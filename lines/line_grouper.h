// LineGrouper: groups the records of one data file, handed over in file
// order, into lines (lines/line_layout.h tells the rule). It holds at most
// five record references, whatever the file's length.
//
// Each line also gets a window time: the latest time of any record (of any
// type) up to and including the line's first record. It never decreases
// along the file, so time windows over it cut the file's lines into
// contiguous runs, even where record times go back; for a file whose times
// never go back it is the time of the line's first record.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>

#include "datafile/data_file.h"
#include "datafile/data_record.h"
#include "lines/line_layout.h"

namespace cdt {

// The grouping state at a record boundary, rebuilt from the heads of the
// records before it (seekToTime with an observer) by the grouper's own rule:
// the latest record time, the host, and which slots the group in progress
// holds. Blade records of hosts other than `host` (when given) are left out,
// as the reader that skips them leaves them out of the grouper.
class LineTrack : public RecordHeadObserver {
 public:
  explicit LineTrack(std::optional<uint32_t> host) : host_(host) {}

  // What the track has learnt, as plain values (to hand a planned start to
  // another reader, or another process).
  struct State {
    bool started = false;
    bool open = false;
    uint8_t occupied = 0;
    uint32_t hostIndex = 0;
    uint64_t latestTime = 0;
    uint64_t windowTime = 0;
    bool operator==(const State&) const = default;
  };
  State state() const { return {started_, open_, occupied_, hostIndex_, latestTime_, windowTime_}; }
  void restore(const State& s) {
    started_ = s.started;
    open_ = s.open;
    occupied_ = static_cast<uint8_t>(s.occupied & 0x0F);
    hostIndex_ = s.hostIndex;
    latestTime_ = s.latestTime;
    windowTime_ = s.windowTime;
  }

  void record(const unsigned char* head) override {
    const uint16_t type = loadU16(head + kRecordType);
    const uint16_t hostIndex = loadU16(head + kRecordHostIndex);
    if (host_ && type == kRecordTypeBlades && hostIndex != *host_) return;
    const uint64_t time = loadU64(head + kRecordTime);
    latestTime_ = started_ ? std::max(latestTime_, time) : time;
    started_ = true;
    if (!isLineRecordHead(head)) return;
    const auto slot = static_cast<uint8_t>(1u << head[kRecordBody + kBladesChannel]);
    if (jumping_) {
      jumpedRecord(hostIndex, slot);
      return;
    }
    if (!open_) {
      open_ = true;
      hostIndex_ = hostIndex;
      windowTime_ = latestTime_;
    } else if ((occupied_ & slot) != 0) {
      occupied_ = 0;
      windowTime_ = latestTime_;
    }
    occupied_ |= slot;
  }

  // After a jump the slots the group in progress held are unknown: the
  // track follows every one of the 16 possible sets through the records it
  // is shown and has settled once all agree (two sets that agree also agree
  // on the record that opened the group, since a group's slots are
  // distinct). The latest time is the entry's: a track that leaves out other
  // hosts' records may know a smaller one, but both lie before the window,
  // so every line of the window gets the same window time either way.
  bool jumped(uint64_t latestTime) override {
    saved_ = state();
    started_ = true;
    open_ = false;
    latestTime_ = latestTime;
    jumping_ = true;
    for (uint8_t s = 0; s < kSets; ++s) {
      possible_[s] = s;
      possibleWindowTime_[s] = latestTime;
    }
    return true;
  }
  bool settled() const override { return !jumping_; }
  void backOut() override {
    jumping_ = false;
    restore(saved_);
  }

  // Tracks that leave out the same hosts' records share kept states.
  std::optional<uint64_t> checkpointKey() const override {
    return kCheckpointKind | (host_ ? uint64_t{*host_} + 1 : 0);
  }
  Checkpoint checkpoint() const override {
    return {uint64_t{started_} | uint64_t{open_} << 1 | uint64_t{occupied_} << 2, hostIndex_,
            latestTime_, windowTime_};
  }
  void resumeFrom(const Checkpoint& state) override {
    jumping_ = false;
    restore({(state[0] & 1) != 0, (state[0] & 2) != 0, static_cast<uint8_t>(state[0] >> 2),
             static_cast<uint32_t>(state[1]), state[2], state[3]});
  }

 private:
  static constexpr uint8_t kSets = 16;
  static constexpr uint64_t kCheckpointKind = uint64_t{0x4C54} << 48;  // "LT"

  void jumpedRecord(uint16_t hostIndex, uint8_t slot) {
    if (!open_) {
      open_ = true;
      hostIndex_ = hostIndex;
    }
    bool agree = true;
    for (uint8_t s = 0; s < kSets; ++s) {
      // No slot held: no line yet, and this record opens the first.
      if (possible_[s] == 0 || (possible_[s] & slot) != 0) {
        possible_[s] = 0;
        possibleWindowTime_[s] = latestTime_;
      }
      possible_[s] |= slot;
      agree = agree && possible_[s] == possible_[0];
    }
    if (!agree) return;
    jumping_ = false;
    occupied_ = possible_[0];
    windowTime_ = possibleWindowTime_[0];
  }

  friend class LineGrouper;
  std::optional<uint32_t> host_;
  bool started_ = false;
  bool open_ = false;
  uint8_t occupied_ = 0;  // bit s: the group in progress holds slot s
  uint32_t hostIndex_ = 0;
  uint64_t latestTime_ = 0;
  uint64_t windowTime_ = 0;
  // While a jump's records are shown: the possible sets of slots and the
  // window time each would give the group in progress, and the state to go
  // back to.
  bool jumping_ = false;
  uint8_t possible_[kSets] = {};
  uint64_t possibleWindowTime_[kSets] = {};
  State saved_;
};

class LineGrouper {
 public:
  // Adds the next record of the file (nullptr and records outside the lines
  // only advance the window time). When the record closes the group in
  // progress, emit(group, windowTime) is called with that group first; its
  // records stay valid during the call only.
  template <class Emit>
  void add(DataRecord* record, Emit&& emit) {
    if (record == nullptr) return;
    latestTime_ = started_ ? std::max(latestTime_, record->time()) : record->time();
    started_ = true;
    if (!isLineRecord(*record)) return;
    const uint32_t slot = bladeChannel(*record);
    if (!first_ && unseen_ == 0) {
      hostIndex_ = record->hostIndex();
      open(record);
    } else if (slots_[slot] || (unseen_ & (1u << slot)) != 0) {
      // A group resumed from a track has no first record: it lies before
      // the window the seek was for and is never emitted.
      if (first_) emit(group(), windowTime_);
      for (RecordRef& r : slots_) r.reset();
      open(record);
    }
    slots_[slot] = RecordRef::share(record);
  }

  // Takes up the grouping where `track` ended, as if this grouper had been
  // given the records the track saw. The group in progress there, if any,
  // has none of its records: it takes records on and closes as usual but is
  // never emitted.
  void resume(const LineTrack& track) {
    clear();
    started_ = track.started_;
    latestTime_ = track.latestTime_;
    windowTime_ = track.windowTime_;
    unseen_ = track.occupied_;
    hostIndex_ = track.open_ ? track.hostIndex_ : kNoHost;
  }

  // Emits the group in progress, if any, and drops every reference (the
  // slots' from slot 3 down, then the first record's).
  template <class Emit>
  void finish(Emit&& emit) {
    if (first_) emit(group(), windowTime_);
    clear();
  }
  // Drops every reference without emitting.
  void clear() {
    for (uint32_t slot = kChannelsPerHost; slot-- > 0;) slots_[slot].reset();
    first_.reset();
    unseen_ = 0;
  }

  // Whether a group is in progress, and its line's window time.
  bool inProgress() const { return first_ || unseen_ != 0; }
  uint64_t windowTime() const { return windowTime_; }
  // The latest time of any record added.
  uint64_t latestTime() const { return latestTime_; }

  // Whether a line record has been added; the host is that record's.
  bool hasLines() const { return hostIndex_ != kNoHost; }
  uint32_t hostIndex() const { return hostIndex_; }

 private:
  static constexpr uint32_t kNoHost = 0xFFFFFFFF;

  void open(DataRecord* record) {
    unseen_ = 0;
    first_ = RecordRef::share(record);
    windowTime_ = latestTime_;
  }
  LineGroup group() const {
    LineGroup g;
    g.first = first_.get();
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) g.slots[slot] = slots_[slot].get();
    return g;
  }

  RecordRef first_;
  RecordRef slots_[kChannelsPerHost];
  uint8_t unseen_ = 0;  // slots of a resumed group held by records not seen
  uint32_t hostIndex_ = kNoHost;
  bool started_ = false;
  uint64_t latestTime_ = 0;
  uint64_t windowTime_ = 0;
};

}  // namespace cdt
