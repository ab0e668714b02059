#include "lines/set_follower.h"

#include <algorithm>
#include <stdexcept>

namespace cdt {

namespace {

std::chrono::milliseconds untilDeadline(std::chrono::steady_clock::time_point deadline) {
  return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now()),
                  std::chrono::milliseconds(0));
}

}  // namespace

SetFollower::SetFollower(const std::vector<std::string>& paths, std::size_t master,
                         const FollowOptions& options)
    : hosts_(paths.size()), master_(master) {
  if (paths.empty()) throw std::invalid_argument("a set without files");
  if (master >= paths.size()) throw std::invalid_argument("the master is not one of its files");
  for (std::size_t h = 0; h < paths.size(); ++h) {
    hosts_[h].path = paths[h];
    hosts_[h].records = std::make_unique<DataFileFollower>(paths[h], options);
  }
}

void SetFollower::stop() {
  for (Host& host : hosts_) host.records->stop();
}

void SetFollower::fail(std::size_t h, const std::string& reason) {
  if (failure_.empty()) failure_ = "cannot follow '" + hosts_[h].path + "': " + reason;
}

FollowStatus SetFollower::waitForHosts(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool waiting = false;
  for (std::size_t h = 0; h < hosts_.size(); ++h) {
    Host& host = hosts_[h];
    if (host.known) continue;
    FollowStatus status = host.records->waitForConfiguration(untilDeadline(deadline));
    if (status == FollowStatus::Record) {
      if (!host.lines) host.lines = std::make_unique<LineFollower>(*host.records);
      status = host.lines->waitForHost(untilDeadline(deadline));
    }
    if (status == FollowStatus::Failed) {
      fail(h, followErrorText(host.records->error()));
      return status;
    }
    if (!host.lines && followEnded(status) && status != FollowStatus::Stopped) {
      fail(h, "it has not grown for the idle time and holds no configuration");
      return FollowStatus::Failed;
    }
    if (status == FollowStatus::Stopped) stopped_ = true;
    if (status == FollowStatus::Waiting || status == FollowStatus::Stopped) {
      waiting = true;
      continue;
    }
    // Known, or ended without a line: it has none to join.
    host.known = true;
  }
  if (stopped_) return FollowStatus::Stopped;
  return waiting ? FollowStatus::Waiting : FollowStatus::Record;
}

void SetFollower::begin(const std::vector<ColumnPlan>& plans,
                        const std::vector<LineWindow>& windows) {
  if (plans.size() != hosts_.size() || windows.size() != hosts_.size()) {
    throw std::invalid_argument("a plan and a window per file");
  }
  std::vector<std::unique_ptr<SetLineSource>> sources;
  for (std::size_t h = 0; h < hosts_.size(); ++h) {
    if (!hosts_[h].known) throw std::logic_error("the hosts of the set are not known yet");
    hosts_[h].lines->setRanges(windows[h]);
    sources.push_back(std::make_unique<FollowedLineSource>(*hosts_[h].lines));
  }
  plan_ = planSet(plans);
  reader_ = std::make_unique<SetReader>(std::move(sources), master_, *plan_);
}

std::size_t SetFollower::next(const SetColumns& columns, std::size_t row, std::size_t rows,
                              std::chrono::milliseconds timeout) {
  if (!reader_) throw std::logic_error("begin() first");
  const std::size_t stored = reader_->read(columns, row, rows, timeout);
  if (const std::optional<std::size_t> h = reader_->halted()) {
    if (reader_->hostStatus(*h) == FollowStatus::Failed) {
      fail(*h, followErrorText(hosts_[*h].records->error()));
    } else {
      stopped_ = true;
    }
  }
  return stored;
}

FollowStatus SetFollower::hostStatus(std::size_t h) const {
  return reader_ ? reader_->hostStatus(h) : FollowStatus::Waiting;
}

FollowStatus SetFollower::status() const {
  if (!failure_.empty()) return FollowStatus::Failed;
  if (stopped_) return FollowStatus::Stopped;
  if (!reader_ || !reader_->ended()) return FollowStatus::Waiting;
  for (std::size_t h = 0; h < hosts_.size(); ++h) {
    if (reader_->hostStatus(h) == FollowStatus::Idle) return FollowStatus::Idle;
  }
  return FollowStatus::Finished;
}

}  // namespace cdt
