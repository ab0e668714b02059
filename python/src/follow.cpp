#include "python/src/follow.h"

#include <pybind11/numpy.h>

#include <algorithm>

#include "python/src/columns.h"
#include "python/src/common.h"

namespace py = pybind11;

namespace cdt {

namespace {

// The rows a batch's arrays start with; they double while the file holds
// more complete lines, up to the batch's rows. A follow mostly hands out a
// few lines at a time, and its arrays stay that small.
constexpr std::size_t kFirstFollowRows = 256;

[[noreturn]] void raiseFollowFailure(const DataFileFollower& records, const std::string& path) {
  throw FormatError("cannot follow '" + path + "': " + followErrorText(records.error()));
}

}  // namespace

const char* followStatusName(FollowStatus status) {
  switch (status) {
    case FollowStatus::Record:
    case FollowStatus::Waiting:
      return "waiting";
    case FollowStatus::Finished:
      return "finished";
    case FollowStatus::Idle:
      return "idle";
    case FollowStatus::Stopped:
      return "stopped";
    case FollowStatus::Failed:
      return "failed";
  }
  return "failed";
}

std::chrono::milliseconds followTimeout(double seconds) {
  if (!(seconds > 0)) return std::chrono::milliseconds(0);
  return std::chrono::milliseconds(static_cast<int64_t>(std::min(seconds, 86400.0) * 1000.0));
}

FollowOptions followOptions(double idleSeconds) {
  FollowOptions options;
  options.idle = followTimeout(idleSeconds);
  return options;
}

py::dict followState(const DataFileFollower& records) {
  py::dict d;
  d["open_path"] = py::bytes(records.openPath());
  d["records"] = records.records();
  d["position"] = records.position();
  d["file_size"] = records.fileSize();
  d["stopped"] = stopDict(records.stopReport());
  d["index_agrees"] = records.indexAgrees();
  d["error"] = records.error() == FollowError::None ? "" : followErrorText(records.error());
  return d;
}

FileFollower::FileFollower(const std::string& path, const LineSelection& selection,
                           std::size_t rows, double idleSeconds, const py::object& decode)
    : path_(path),
      selection_(selection),
      rows_(std::max<std::size_t>(rows, 1)),
      decode_(decode),
      records_(path, followOptions(idleSeconds)) {}

void FileFollower::stop() {
  records_.stop();
}

py::dict FileFollower::state() {
  std::unique_lock lock(mutex_, std::defer_lock);
  {
    py::gil_scoped_release release;
    lock.lock();
  }
  py::dict d = followState(records_);
  d["lines"] = lines_ ? lines_->lines() : 0;
  return d;
}

bool FileFollower::prepare(std::chrono::milliseconds timeout, FollowStatus& status) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const auto left = [&] {
    const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return std::max(rest, std::chrono::milliseconds(0));
  };
  {
    py::gil_scoped_release release;
    status = records_.waitForConfiguration(timeout);
  }
  if (status == FollowStatus::Failed) raiseFollowFailure(records_, path_);
  if (status != FollowStatus::Record) return false;
  const auto resolve = [&](std::optional<uint32_t> host) {
    LinePlan plan;
    SelectionError error;
    if (!resolveSelection(records_.configuration(), host, selection_, nameDecoder(decode_), plan,
                          error)) {
      throw SelectionFailure(error.kind, path_ + ": " + error.message);
    }
    return plan;
  };
  if (!lines_) {
    // A named host filters the records from the first; otherwise the host
    // of the first line record decides, as a read takes it.
    if (selection_.host) {
      plan_ = resolve(std::nullopt);
      lines_.emplace(records_, plan_->window);
    } else {
      lines_.emplace(records_);
    }
  }
  if (!plan_) {
    {
      py::gil_scoped_release release;
      status = lines_->waitForHost(left());
    }
    if (status == FollowStatus::Failed) raiseFollowFailure(records_, path_);
    if (status == FollowStatus::Waiting || status == FollowStatus::Stopped) return false;
    // Known, or the file ended without a line: the plan of a read then.
    plan_ = resolve(lines_->host());
    lines_->setRanges(plan_->window);
  }
  planList_ = planList(*plan_);
  columns_ = columnList(*plan_);
  status = FollowStatus::Waiting;
  return true;
}

py::dict FileFollower::ended(FollowStatus status) {
  py::dict d;
  d["rows"] = 0;
  d["status"] = followStatusName(status);
  d["stopped"] = stopDict(records_.stopReport());
  return d;
}

py::dict FileFollower::next(double timeout) {
  std::unique_lock lock(mutex_, std::defer_lock);
  {
    py::gil_scoped_release release;
    lock.lock();
  }
  const auto wait = followTimeout(timeout);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  if (!plan_) {
    FollowStatus status = FollowStatus::Waiting;
    if (!prepare(wait, status)) return ended(status);
  }
  const auto rest = std::max(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 deadline - std::chrono::steady_clock::now()),
                             std::chrono::milliseconds(0));
  const ColumnPlan& plan = plan_->plan;
  std::size_t capacity = std::min(rows_, kFirstFollowRows);
  auto arrays = std::make_unique<Arrays>(plan, capacity);
  FollowBatch batch;
  {
    py::gil_scoped_release release;
    batch = lines_->next(plan, arrays->columns, 0, capacity, rest);
  }
  std::size_t rows = batch.lines;
  // A full batch: the file may hold more complete lines; take them without
  // waiting, in arrays twice as long.
  while (batch.status == FollowStatus::Waiting && rows == capacity && capacity < rows_) {
    const std::size_t larger = capacity > rows_ / 2 ? rows_ : 2 * capacity;
    auto grown = std::make_unique<Arrays>(plan, larger);
    {
      py::gil_scoped_release release;
      copyLines(plan, arrays->columns, grown->columns, 0, rows);
      batch = lines_->next(plan, grown->columns, rows, larger - rows, std::chrono::milliseconds(0));
    }
    arrays = std::move(grown);
    capacity = larger;
    rows += batch.lines;
  }
  if (batch.status == FollowStatus::Failed) raiseFollowFailure(records_, path_);
  py::dict d = arrays->dict(rows);
  d["status"] = followStatusName(batch.status);
  d["probes"] = planList_;
  d["columns"] = columns_;
  d["stopped"] = stopDict(records_.stopReport());
  return d;
}

}  // namespace cdt
