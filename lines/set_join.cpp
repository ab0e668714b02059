#include "lines/set_join.h"

#include <cmath>

namespace cdt {

uint8_t setLineStatus(const std::optional<LineTiming>& line, const LineTiming& reference) {
  if (!line) return kSetMissing;
  uint8_t status = 0;
  // Half a revolution at the reference speed; no check without a speed.
  const double speed = reference.speed;
  if (std::isfinite(speed) && speed > 0) {
    const double halfRevolution = 30e6 / speed;
    const double apart = std::fabs(static_cast<double>(line->time) -
                                   static_cast<double>(reference.time));
    if (apart > halfRevolution) status |= kSetTimeOff;
  }
  const double own = line->speed;
  // NaN against a number differs; two NaN do not.
  if (std::isnan(own) != std::isnan(speed) ||
      (!std::isnan(own) && std::fabs(own - speed) > 0.01 * std::fabs(speed))) {
    status |= kSetSpeedOff;
  }
  return status;
}

SetJoin::SetJoin(std::size_t hosts)
    : pending_(hosts), last_(hosts), segmentOf_(hosts, 0), ended_(hosts, false) {}

void SetJoin::offer(std::size_t h, std::optional<LineKey> key) {
  if (!key) {
    ended_[h] = true;
    return;
  }
  // The host's segments are counted from the set's current one: a host whose
  // earlier segments had no lines at all (it started after a restart) still
  // numbers its lines as the others do only where the counter tells, so
  // each key lower than the one before moves it one segment on.
  uint32_t segment = last_[h] ? segmentOf_[h] : 0;
  if (last_[h] && *key < *last_[h]) ++segment;
  segmentOf_[h] = segment;
  last_[h] = key;
  pending_[h] = key;
}

std::optional<SetJoin::Line> SetJoin::next() {
  for (;;) {
    std::optional<LineKey> lowest;
    bool later = false;  // some host waits in a later segment
    for (std::size_t h = 0; h < pending_.size(); ++h) {
      if (!pending_[h]) continue;
      if (segmentOf_[h] != segment_) {
        later = true;
        continue;
      }
      if (!lowest || *pending_[h] < *lowest) lowest = pending_[h];
    }
    if (lowest) {
      Line line{*lowest, segment_, std::vector<bool>(pending_.size(), false)};
      for (std::size_t h = 0; h < pending_.size(); ++h) {
        if (pending_[h] && segmentOf_[h] == segment_ && *pending_[h] == *lowest) {
          line.hosts[h] = true;
          pending_[h].reset();
        }
      }
      return line;
    }
    if (!later) return std::nullopt;
    ++segment_;
  }
}

}  // namespace cdt
