// LineFollower: the lines of a data file being written, each handed out once
// it is complete. The records come from a DataFileFollower
// (datafile/follower.h) and are grouped by the grouper every view shares
// (lines/line_grouper.h), which keeps its group in progress across the
// waits for more records. A group is complete when the record that closes
// it arrives, or when the file is finished or given up (idle): then the
// group in progress is the last line, as at the end of a file. So the
// lines followed are exactly those of the finished file (or, given up,
// those of the records `cdt recover` keeps). Stopped or failed, the group
// in progress is dropped: it may not be complete.
//
// The window keeps lines as LineReader keeps them (lines/line_reader.h);
// records are read from the start, so a window start costs the records
// before it.
//
// Pull-style, for callers that poll (a program's loop, a Python iterator):
// nextGroups / next wait at most their timeout for the first line, then
// take what the file holds without waiting.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "datafile/follower.h"
#include "lines/line_columns.h"
#include "lines/line_grouper.h"
#include "lines/line_reader.h"

namespace cdt {

// What one call handed out: `lines`, and Waiting when more may come, else
// how the follow ended (the batch then holds the last lines).
struct FollowBatch {
  std::size_t lines = 0;
  FollowStatus status = FollowStatus::Waiting;
};

class LineFollower {
 public:
  // `records` must outlive the follower and take no other calls meanwhile.
  explicit LineFollower(DataFileFollower& records, const LineWindow& window = {})
      : records_(records), window_(window), host_(window.host) {}

  // Reads records until the host of the lines is known: the window's host,
  // else that of the first blade record (as the converter takes it), whose
  // layout gives the columns. Record once it is known (host()), Waiting
  // after `timeout`, or how the follow ended first (a file without lines).
  // The records read meanwhile are grouped as usual.
  FollowStatus waitForHost(std::chrono::milliseconds timeout);
  std::optional<uint32_t> host() const { return host_; }
  // Replaces the window's ranges (not its host) before the first line is
  // handed out: once the host is known, the selection that needs it.
  void setRanges(const LineWindow& window) {
    const std::optional<uint32_t> host = window_.host;
    window_ = window;
    window_.host = host;
  }

  // Hands up to `most` (at least 1) complete lines of the window to
  // emit(group, windowTime), whose records are valid during the call only.
  // Waits up to `timeout` for the first; once one is out, returns when the
  // file holds no further record.
  template <class Emit>
  FollowBatch nextGroups(std::size_t most, std::chrono::milliseconds timeout, Emit&& emit);

  // The same into rows `row` to row + rows - 1 of `columns` (planned by
  // `plan` for the host's layout).
  FollowBatch next(const ColumnPlan& plan, const LineColumns& columns, std::size_t row,
                   std::size_t rows, std::chrono::milliseconds timeout) {
    std::size_t at = row;
    return nextGroups(rows, timeout, [&](const LineGroup& group, uint64_t) {
      storeLine(plan, group, columns, at++);
    });
  }

  // Lines handed out so far.
  uint64_t lines() const { return lines_; }
  DataFileFollower& records() { return records_; }

 private:
  template <class Emit>
  bool add(RecordRef& record, Emit& emit) {
    if (window_.host && record->type() == kRecordTypeBlades &&
        record->hostIndex() != *window_.host) {
      return false;
    }
    if (!host_ && isLineRecord(*record)) host_ = record->hostIndex();
    groups_.add(record.get(), emit);
    return true;
  }
  FollowStatus endWith(FollowStatus status);

  DataFileFollower& records_;
  LineWindow window_;
  LineGrouper groups_;
  std::optional<uint32_t> host_;
  uint64_t lines_ = 0;
  bool ended_ = false;
  FollowStatus status_ = FollowStatus::Waiting;
};

template <class Emit>
FollowBatch LineFollower::nextGroups(std::size_t most, std::chrono::milliseconds timeout,
                                     Emit&& emit) {
  FollowBatch batch;
  if (ended_) {
    batch.status = status_;
    return batch;
  }
  auto kept = [&](const LineGroup& group, uint64_t windowTime) {
    if (!lineInWindow(window_, group, windowTime)) return;
    emit(group, windowTime);
    ++batch.lines;
    ++lines_;
  };
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  // Each record completes at most one line, and so does the end.
  while (batch.lines < most) {
    std::chrono::milliseconds wait{0};
    if (batch.lines == 0) {
      wait = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (wait.count() < 0) wait = std::chrono::milliseconds(0);
    }
    RecordRef record;
    const FollowStatus status = records_.next(record, wait);
    if (status == FollowStatus::Record) {
      (void)add(record, kept);
      continue;
    }
    if (status == FollowStatus::Waiting) break;
    if (status == FollowStatus::Finished || status == FollowStatus::Idle) {
      groups_.finish(kept);
    }
    batch.status = endWith(status);
    return batch;
  }
  batch.status = FollowStatus::Waiting;
  return batch;
}

}  // namespace cdt
