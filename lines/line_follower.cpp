#include "lines/line_follower.h"

namespace cdt {

FollowStatus LineFollower::endWith(FollowStatus status) {
  groups_.clear();
  ended_ = true;
  status_ = status;
  return status;
}

FollowStatus LineFollower::waitForHost(std::chrono::milliseconds timeout) {
  if (host_) return FollowStatus::Record;
  if (ended_) return status_;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  // The first line record opens the first group: nothing is complete yet.
  auto none = [](const LineGroup&, uint64_t) {};
  for (;;) {
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (wait.count() < 0) wait = std::chrono::milliseconds(0);
    RecordRef record;
    const FollowStatus status = records_.next(record, wait);
    if (status == FollowStatus::Waiting) return status;
    if (status != FollowStatus::Record) {
      // No line record at all: the end has no line either.
      return endWith(status);
    }
    (void)add(record, none);
    if (host_) return FollowStatus::Record;
  }
}

}  // namespace cdt
