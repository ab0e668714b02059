#include "lines/set_join.h"

#include <algorithm>
#include <cmath>

namespace cdt {

uint8_t setLineStatus(const SetJoinLine* line, const SetJoinLine& reference) {
  if (line == nullptr) return kSetMissing;
  uint8_t status = 0;
  // Half a revolution at the reference speed; no time check without one.
  const double speed = reference.speed;
  if (std::isfinite(speed) && speed > 0) {
    const double apart =
        std::fabs(static_cast<double>(line->time) - static_cast<double>(reference.time));
    if (apart > 30e6 / speed) status |= kSetTimeOff;
  }
  // NaN against a number differs; two NaN do not.
  const double own = line->speed;
  if (std::isnan(own) != std::isnan(speed) ||
      (!std::isnan(own) && std::fabs(own - speed) > 0.01 * std::fabs(speed))) {
    status |= kSetSpeedOff;
  }
  return status;
}

SetJoin::SetJoin(std::size_t hosts, std::size_t master) : hosts_(hosts), master_(master) {}

namespace {

uint64_t apart(uint64_t a, uint64_t b) {
  return a > b ? a - b : b - a;
}

uint64_t firstTime(const SetLine& line) {
  uint64_t first = UINT64_MAX;
  for (const std::optional<SetJoinLine>& l : line.hosts) {
    if (l) first = std::min(first, l->windowTime);
  }
  return first;
}

}  // namespace

void SetJoin::hold(std::size_t h, const SetJoinLine& line) {
  SetLine held;
  held.key = line.key;
  held.hosts.resize(hosts_);
  held.hosts[h] = line;
  held.reference = h;
  const HeldId id{line.windowTime, arrivals_++};
  held_.emplace(id, std::move(held));
  byKey_[line.key].push_back(id);
}

void SetJoin::forget(const HeldId& id, const LineKey& key) {
  auto found = byKey_.find(key);
  std::vector<HeldId>& ids = found->second;
  ids.erase(std::find(ids.begin(), ids.end(), id));
  if (ids.empty()) byKey_.erase(found);
}

void SetJoin::add(std::size_t h, const SetJoinLine& line) {
  latest_ = std::max(latest_, line.windowTime);
  // The held set line of this key whose reference lies nearest, within the
  // window, where this line is nearer than the host's line there (if any).
  std::optional<HeldId> best;
  uint64_t bestApart = 0;
  std::size_t within = 0;
  if (auto ids = byKey_.find(line.key); ids != byKey_.end()) {
    for (const HeldId& id : ids->second) {
      const SetLine& held = held_.at(id);
      const SetJoinLine& reference = *held.hosts[held.reference];
      const uint64_t d = apart(line.windowTime, reference.windowTime);
      if (d > kSetJoinWindow) continue;
      ++within;
      if (best && d >= bestApart) continue;
      if (held.hosts[h] && apart(held.hosts[h]->windowTime, reference.windowTime) <= d) continue;
      best = id;
      bestApart = d;
    }
  }
  if (within > 1 || (within == 1 && !best)) ++ambiguities_;
  if (!best) {
    hold(h, line);
    return;
  }
  auto node = held_.extract(*best);
  SetLine& held = node.mapped();
  const std::optional<SetJoinLine> displaced = held.hosts[h];
  held.hosts[h] = line;
  if (h == master_ || (held.reference != master_ && h < held.reference)) held.reference = h;
  // The set line is filed by its first line's time, which a displaced line
  // may have been.
  const HeldId id{firstTime(held), best->second};
  if (id != *best) {
    std::vector<HeldId>& ids = byKey_[line.key];
    *std::find(ids.begin(), ids.end(), *best) = id;
  }
  node.key() = id;
  held_.insert(std::move(node));
  if (displaced) {
    ++ambiguities_;
    hold(h, *displaced);
  }
}

namespace {

bool sameLine(const std::optional<SetJoinLine>& a, const std::optional<SetJoinLine>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (a->row == b->row && a->windowTime == b->windowTime && a->key == b->key);
}

}  // namespace

bool SetJoin::sameState(const SetJoin& other) const {
  if (latest_ != other.latest_ || held_.size() != other.held_.size()) return false;
  for (auto a = held_.begin(), b = other.held_.begin(); a != held_.end(); ++a, ++b) {
    const SetLine& x = a->second;
    const SetLine& y = b->second;
    if (a->first.first != b->first.first || x.key != y.key || x.reference != y.reference ||
        x.hosts.size() != y.hosts.size()) {
      return false;
    }
    for (std::size_t h = 0; h < x.hosts.size(); ++h) {
      if (!sameLine(x.hosts[h], y.hosts[h])) return false;
    }
  }
  return true;
}

std::optional<SetLine> SetJoin::take() {
  if (held_.empty()) return std::nullopt;
  auto front = held_.begin();
  // A line offered later joins only set lines whose reference lies within
  // the window of it, and displaces only lines within the window of those:
  // a set line begun more than twice the window ago is final.
  const bool complete = finished_ ||
                        latest_ - std::min(latest_, front->first.first) > 2 * kSetJoinWindow ||
                        held_.size() > kSetJoinHeld;
  if (!complete) return std::nullopt;
  return takeOldest();
}

std::optional<SetLine> SetJoin::takeOldest() {
  if (held_.empty()) return std::nullopt;
  auto front = held_.begin();
  SetLine line = std::move(front->second);
  forget(front->first, line.key);
  held_.erase(front);
  return line;
}

}  // namespace cdt
